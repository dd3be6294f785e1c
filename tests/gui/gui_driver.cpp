#include "gui_driver.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace tavix::gui_test {

namespace {

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The visible top-level windows of a thread, newest first.
std::vector<HWND> ThreadWindows(DWORD thread) {
    std::vector<HWND> windows;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// A message box: a dialog window with the message-text static (id 0xFFFF) and no input field or
// list (a dialog template's unnumbered statics have that id too).
bool IsMessageBox(HWND window) {
    if (ClassName(window) != "#32770" || GetDlgItem(window, 0xFFFF) == nullptr) return false;
    bool fields = false;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) -> BOOL {
            const std::string name = ClassName(child);
            if (name == "Edit" || name == "ListBox" || name == "SysListView32") {
                *reinterpret_cast<bool*>(found) = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&fields));
    return !fields;
}


// The first visible top-level window of a thread that `is` accepts within the time limit.
HWND WaitForWindow(DWORD thread, const std::function<bool(HWND)>& is, DWORD timeoutMs) {
    HWND found = nullptr;
    Driver::WaitUntil([&] {
        for (HWND window : ThreadWindows(thread)) {
            if (is(window)) return (found = window) != nullptr;
        }
        return false;
    }, timeoutMs);
    return found;
}

}  // namespace

HWND Driver::WaitForDialog(std::string_view caption, DWORD timeoutMs) const {
    return WaitForWindow(uiThread_, [&](HWND w) { return ClassName(w) == "#32770" && Text(w) == caption; }, timeoutMs);
}

HWND Driver::WaitForMessageBox(DWORD timeoutMs) const { return WaitForWindow(uiThread_, IsMessageBox, timeoutMs); }

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

void Driver::Type(int virtualKey) {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = static_cast<WORD>(virtualKey);
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
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
        const std::string name = ClassName(window);
        if (name == "#32768") {
            PostKey(window, VK_ESCAPE);
        } else if (IsMessageBox(window)) {
            // A message box closes only through one of its buttons.
            for (int button : {IDCANCEL, IDNO, IDOK}) {
                if (HWND control = GetDlgItem(window, button)) {
                    PostMessageA(control, BM_CLICK, 0, 0);
                    break;
                }
            }
        } else if (name == "#32770") {
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
    }
}

}  // namespace tavix::gui_test
