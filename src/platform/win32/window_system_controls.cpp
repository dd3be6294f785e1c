// The Windows window system's controls: edits, buttons, list boxes (LB_*) and list views
// (LVM_*, the ANSI forms), one message each.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/win32/window_system_win32.h"

namespace tavix::platform::win32 {

namespace {

LRESULT SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(window, message, wParam, lParam);
}

template <class T>
LPARAM Address(T* data) {
    return reinterpret_cast<LPARAM>(data);
}

}  // namespace

// ---- Edit and button ----------------------------------------------------------------------------

void Win32WindowSystem::SetTextLimit(Window edit, int maxChars) {
    SendTo(edit, EM_LIMITTEXT, static_cast<WPARAM>(maxChars > 0 ? maxChars : 0), 0);
}

void Win32WindowSystem::SelectAllText(Window edit) { SendTo(edit, EM_SETSEL, 0, -1); }

IconHandle Win32WindowSystem::SetButtonIcon(Window button, IconHandle icon) {
    return reinterpret_cast<IconHandle>(SendTo(button, BM_SETIMAGE, IMAGE_ICON, Address(icon)));
}

// ---- List box -----------------------------------------------------------------------------------

void Win32WindowSystem::ListBoxReset(Window list) { SendTo(list, LB_RESETCONTENT, 0, 0); }

int Win32WindowSystem::ListBoxAdd(Window list, std::string_view text, uintptr_t data) {
    const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    const bool ownerDrawn = (style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) != 0;
    if (ownerDrawn && (style & LBS_HASSTRINGS) == 0) {
        // An owner-drawn list without strings keeps the data in place of the text.
        return static_cast<int>(SendTo(list, LB_ADDSTRING, 0, static_cast<LPARAM>(data)));
    }
    const std::string copy(text);
    const int index = static_cast<int>(SendTo(list, LB_ADDSTRING, 0, Address(copy.c_str())));
    if (index >= 0) SendTo(list, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
    return index;
}

int Win32WindowSystem::ListBoxCount(Window list) {
    return static_cast<int>(SendTo(list, LB_GETCOUNT, 0, 0));
}

void Win32WindowSystem::ListBoxSetCurSel(Window list, int index) {
    SendTo(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32WindowSystem::ListBoxCurSel(Window list) {
    return static_cast<int>(SendTo(list, LB_GETCURSEL, 0, 0));
}

void Win32WindowSystem::ListBoxSetColumnWidth(Window list, int width) {
    SendTo(list, LB_SETCOLUMNWIDTH, static_cast<WPARAM>(width), 0);
}

void Win32WindowSystem::ListBoxSetHorizontalExtent(Window list, int extent) {
    SendTo(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
}

void Win32WindowSystem::ListBoxSetItemHeight(Window list, int index, int height) {
    SendTo(list, LB_SETITEMHEIGHT, static_cast<WPARAM>(index), MAKELPARAM(height, 0));
}

int Win32WindowSystem::ListBoxItemHeight(Window list, int index) {
    return static_cast<int>(SendTo(list, LB_GETITEMHEIGHT, static_cast<WPARAM>(index), 0));
}

// ---- List view ----------------------------------------------------------------------------------

void Win32WindowSystem::ListViewSetImageList(Window list, const ImageList* images) {
    SendTo(list, LVM_SETIMAGELIST, LVSIL_NORMAL, Address(images ? images->Native() : nullptr));
}

int Win32WindowSystem::ListViewCount(Window list) {
    return static_cast<int>(SendTo(list, LVM_GETITEMCOUNT, 0, 0));
}

int Win32WindowSystem::ListViewInsert(Window list, int index, const ListViewItem& item) {
    std::string text(item.text);
    LVITEMA lv{};
    lv.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
    lv.iItem = index < 0 ? ListViewCount(list) : index;  // beyond the end: appended
    lv.pszText = text.data();
    lv.iImage = item.image;
    lv.lParam = static_cast<LPARAM>(item.data);
    lv.state = item.state;
    lv.stateMask = item.state;
    return static_cast<int>(SendTo(list, LVM_INSERTITEMA, 0, Address(&lv)));
}

bool Win32WindowSystem::ListViewDelete(Window list, int index) {
    return SendTo(list, LVM_DELETEITEM, static_cast<WPARAM>(index), 0) != FALSE;
}

uintptr_t Win32WindowSystem::ListViewData(Window list, int index) {
    LVITEMA lv{};
    lv.mask = LVIF_PARAM;
    lv.iItem = index;
    if (!SendTo(list, LVM_GETITEMA, 0, Address(&lv))) return 0;
    return static_cast<uintptr_t>(lv.lParam);
}

unsigned Win32WindowSystem::ListViewState(Window list, int index, unsigned mask) {
    return static_cast<unsigned>(SendTo(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
}

std::string Win32WindowSystem::ListViewText(Window list, int index) {
    char buffer[256] = {};
    LVITEMA lv{};
    lv.iSubItem = 0;
    lv.pszText = buffer;
    lv.cchTextMax = sizeof buffer;
    SendTo(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), Address(&lv));
    // The control may answer with a text of its own instead of filling the buffer.
    return lv.pszText ? std::string(lv.pszText) : std::string();
}

bool Win32WindowSystem::ListViewSetText(Window list, int index, std::string_view text) {
    std::string copy(text);
    LVITEMA lv{};
    lv.iSubItem = 0;
    lv.pszText = copy.data();
    return SendTo(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), Address(&lv)) != FALSE;
}

bool Win32WindowSystem::ListViewSetImage(Window list, int index, int image) {
    LVITEMA lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = index;
    lv.iImage = image;
    return SendTo(list, LVM_SETITEMA, 0, Address(&lv)) != FALSE;
}

bool Win32WindowSystem::ListViewSetState(Window list, int index, unsigned state, unsigned mask) {
    LVITEMA lv{};
    lv.state = state;
    lv.stateMask = mask;
    return SendTo(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), Address(&lv)) != FALSE;
}

int Win32WindowSystem::ListViewNextItem(Window list, int start, unsigned flags) {
    return static_cast<int>(
        SendTo(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

int Win32WindowSystem::ListViewSelectedCount(Window list) {
    return static_cast<int>(SendTo(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

Window Win32WindowSystem::ListViewEditLabel(Window list, int index) {
    return reinterpret_cast<HWND>(SendTo(list, LVM_EDITLABELA, static_cast<WPARAM>(index), 0));
}

int Win32WindowSystem::ListViewHitTest(Window list, Point point) {
    LVHITTESTINFO hit{};
    hit.pt = POINT{point.x, point.y};
    const int index = static_cast<int>(SendTo(list, LVM_HITTEST, 0, Address(&hit)));
    return index >= 0 && (hit.flags & LVHT_ONITEM) != 0 ? index : -1;
}

}  // namespace tavix::platform::win32
