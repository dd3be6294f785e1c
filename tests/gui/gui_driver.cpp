#include "gui_driver.h"

#include <commctrl.h>

#include <cstdlib>
#include <fstream>
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

void Driver::PostKey(HWND window, int virtualKey) {
    PostMessageA(window, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
    PostMessageA(window, WM_KEYUP, static_cast<WPARAM>(virtualKey), 0xC0000001);
}

void Driver::Type(int virtualKey, bool shift) {
    if (shift) keybd_event(VK_SHIFT, 0, 0, 0);
    keybd_event(static_cast<BYTE>(virtualKey), 0, 0, 0);
    keybd_event(static_cast<BYTE>(virtualKey), 0, KEYEVENTF_KEYUP, 0);
    if (shift) keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
}

bool Driver::Screenshot(HWND window, std::string_view name) {
    const char* dir = std::getenv("TAVIX_SCREENSHOT_DIR");
    if (dir == nullptr || *dir == '\0') return true;
    // Let the window finish painting, then copy what it shows.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC source = GetWindowDC(window), memory = CreateCompatibleDC(source);
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // rows bottom-up
    void* bits = nullptr;
    HBITMAP bitmap =
        CreateDIBSection(memory, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the window shows; its own painting where that cannot be read.
    bool ok = bitmap && (BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) || PrintWindow(window, memory, 0));
    GdiFlush();
    if (ok) {
        const DWORD imageSize = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
        const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
        const BITMAPFILEHEADER file{0x4D42, offset + imageSize, 0, 0, offset};  // "BM"
        std::ofstream out(std::string(dir) + "/" + std::string(name) + ".bmp", std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        ok = out.write(static_cast<const char*>(bits), imageSize).flush().good();
    }
    SelectObject(memory, old);
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
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
