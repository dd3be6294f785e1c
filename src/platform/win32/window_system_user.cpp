// The Windows window system's questions to the user: message boxes, beeps, popup menus, the
// open-file dialog, the cursor and the keyboard.
#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/window_system_win32.h"

namespace tavix::platform::win32 {

namespace {

struct MenuDeleter {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using MenuPtr = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

// "Description\0pattern\0...\0\0", as the common dialog reads a filter.
std::string FilterText(const std::vector<std::pair<std::string, std::string>>& filters) {
    std::string text;
    for (const auto& [description, pattern] : filters) {
        text += description;
        text.push_back('\0');
        text += pattern;
        text.push_back('\0');
    }
    text.push_back('\0');
    return text;
}

}  // namespace

int Win32WindowSystem::TrackPopupMenu(const std::vector<MenuItem>& items, Point screen,
                                      Window owner) {
    MenuPtr menu(CreatePopupMenu());
    if (!menu) return 0;
    for (const MenuItem& item : items) {
        if (item.IsSeparator()) {
            AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuA(menu.get(), MF_STRING | (item.grayed ? MF_GRAYED : 0u),
                        static_cast<UINT_PTR>(item.id), item.text.c_str());
        }
    }
    return static_cast<int>(::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                              screen.x, screen.y, 0, owner, nullptr));
}

int Win32WindowSystem::ShowMessage(Window owner, std::string_view text, std::string_view caption,
                                   unsigned style, uint16_t language) {
    return MessageBoxExA(owner, std::string(text).c_str(), std::string(caption).c_str(), style,
                         language);
}

void Win32WindowSystem::Beep(unsigned type) { MessageBeep(type); }

std::optional<std::string> Win32WindowSystem::OpenFileDialog(const FileDialogRequest& request) {
    const std::string filter = FilterText(request.filters);
    std::vector<char> file(std::max<size_t>(MAX_PATH * 4, request.initialFile.size() + 1), '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = request.owner;
    ofn.lpstrFilter = request.filters.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
    ofn.Flags = request.flags | OFN_EXPLORER;
    std::copy(request.initialFile.begin(), request.initialFile.end(), file.begin());
    BOOL chosen = GetOpenFileNameA(&ofn);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        // A start name the dialog refuses (bad characters, a missing folder) opens it empty.
        std::fill(file.begin(), file.end(), '\0');
        chosen = GetOpenFileNameA(&ofn);
    }
    if (!chosen) return std::nullopt;
    file.back() = '\0';
    return std::string(file.data());
}

Point Win32WindowSystem::CursorPos() {
    POINT p{};
    GetCursorPos(&p);
    return Point{p.x, p.y};
}

bool Win32WindowSystem::IsKeyDown(int virtualKey) {
    return (GetKeyState(virtualKey) & 0x8000) != 0;
}

}  // namespace tavix::platform::win32
