#include "gui_driver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tavix::gui_test {

namespace {

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM list) {
    if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The visible top-level windows of a thread, newest first.
std::vector<HWND> ThreadWindows(DWORD thread) {
    std::vector<HWND> windows;
    EnumThreadWindows(thread, CollectVisibleWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

}  // namespace

HWND Driver::WaitForDialog(std::string_view caption, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window : ThreadWindows(uiThread_)) {
            if (ClassName(window) == "#32770" && Text(window) == caption) return (found = window) != nullptr;
        }
        return false;
    }, timeoutMs);
    return found;
}

bool Driver::WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        Sleep(20);
    }
    return true;
}

bool Driver::WaitGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([window] { return !IsWindow(window); }, timeoutMs);
}

std::string Driver::Text(HWND window) {
    if (window == nullptr) return {};
    char text[1024] = {};
    const LRESULT length =
        SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string Driver::Label(HWND list, int index) {
    char text[256] = {};
    LVITEMA item{};
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

HWND Driver::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(uiThread_, &info) ? info.hwndFocus : nullptr;
}

HWND Driver::Menu() const {
    for (HWND window : ThreadWindows(uiThread_)) {
        if (ClassName(window) == "#32768") return window;
    }
    return nullptr;
}

void Driver::Click(HWND dialog, int id) {
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Driver::PostKey(HWND window, int virtualKey) {
    PostMessageA(window, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
    PostMessageA(window, WM_KEYUP, static_cast<WPARAM>(virtualKey), 0xC0000001);
}

void Driver::Type(int virtualKey, bool shift) {
    INPUT keys[4] = {};
    UINT count = 0;
    const auto add = [&](int key, DWORD flags) {
        keys[count].type = INPUT_KEYBOARD;
        keys[count].ki.wVk = static_cast<WORD>(key);
        keys[count++].ki.dwFlags = flags;
    };
    if (shift) add(VK_SHIFT, 0);
    add(virtualKey, 0);
    add(virtualKey, KEYEVENTF_KEYUP);
    if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
    SendInput(count, keys, sizeof(INPUT));
}

void Driver::SetText(HWND window, std::string_view text) {
    const std::string copy(text);
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

void Driver::SetOpenFileName(HWND open, std::string_view path) {
    // The file name box: a combo box (cmb13) in newer dialogs, an edit (edt1) in older ones.
    HWND name = GetDlgItem(open, 0x47C);
    if (name == nullptr) name = GetDlgItem(open, 0x480);
    SetText(name, path);
}

bool Driver::Screenshot(HWND window, std::string_view name) {
    const char* dir = std::getenv("TAVIX_SCREENSHOT_DIR");
    if (dir == nullptr || *dir == '\0') return true;
    // Let the window finish painting, then copy what it shows.
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC source = GetWindowDC(window), memory = CreateCompatibleDC(source);
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // rows bottom-up
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr && memory != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        // What the window shows; its own painting where that cannot be read.
        ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) || PrintWindow(window, memory, 0);
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const DWORD imageSize = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
        const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
        const BITMAPFILEHEADER file{0x4D42, offset + imageSize, 0, 0, offset};  // "BM"
        const std::string path = std::string(dir) + "/" + std::string(name) + ".bmp";
        FILE* out = std::fopen(path.c_str(), "wb");
        ok = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&header, sizeof header, 1, out) == 1 &&
             std::fwrite(bits, imageSize, 1, out) == 1;
        if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(window, source);
    return ok;
}

void Driver::CloseAll() const {
    for (HWND window : ThreadWindows(uiThread_)) {
        if (ClassName(window) == "#32768") PostKey(window, VK_ESCAPE);
        if (ClassName(window) != "#32770") continue;
        // A message box closes only through one of its buttons; a dialog through Cancel as well.
        for (int button : {IDCANCEL, IDNO, IDOK}) {
            if (HWND control = GetDlgItem(window, button)) {
                PostMessageA(control, BM_CLICK, 0, 0);
                break;
            }
        }
    }
}

}  // namespace tavix::gui_test
