// The Windows dialog manager and common controls as the library's window system.
//
// Each operation is one USER32 / COMCTL32 / COMDLG32 call or one control message, with the
// 8-bit (ANSI) forms throughout: dialogs are created with DialogBoxParamA from the resource
// module RunModal is handed, so their windows and the notifications their controls send are
// the ANSI ones (the wide forms of the list view's label-edit notifications are understood as
// well, for a list view that chose them).
//
// The dialog procedure turns WM_INITDIALOG, WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM,
// WM_COMPAREITEM, WM_HELP, WM_CONTEXTMENU, WM_CLOSE and WM_DESTROY into Messages for the
// dialog's sink and gives the sink's answer back in the form each message wants (the return
// value, or DWLP_MSGRESULT for WM_NOTIFY), one small method per message with that message's
// arguments unpacked. Subclassed controls use comctl32's window subclassing
// (SetWindowSubclass / DefSubclassProc). No exception leaves a window procedure: one that
// reaches it ends the dialog with -1.
//
// Nothing here runs at load time: the object is built on first use and the common controls are
// registered by the first RunModal, never under the loader lock.
#pragma once

#include "platform/window_system.h"

namespace tavix::platform::win32 {

class Win32WindowSystem final : public WindowSystem {
public:
    int RunModal(uint32_t templateId, const DialogSource& source, Window parent,
                 DialogSink& sink) override;
    void EndDialog(Window dialog, int code) override;
    Window DialogItem(Window dialog, int id) override;
    int ControlId(Window control) override;
    Window Parent(Window window) override;
    void GotoDialogControl(Window dialog, Window control) override;

    std::string Text(Window window) override;
    void SetText(Window window, std::string_view text) override;
    void Enable(Window window, bool enable) override;
    bool IsEnabled(Window window) override;
    void Show(Window window, bool show) override;
    bool IsVisible(Window window) override;
    Window Focus() override;
    void SetFocus(Window window) override;
    void Invalidate(Window window, const Rect* rect, bool erase) override;
    Rect ClientRect(Window window) override;
    Rect WindowRect(Window window) override;
    void SetWindowSize(Window window, int width, int height) override;
    Point ScreenToClient(Window window, Point screen) override;
    Point ClientToScreen(Window window, Point client) override;
    int SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool redraw) override;
    ScrollInfo GetScrollInfo(Window window, int bar) override;
    int ScrollPos(Window window, int bar) override;
    int SetScrollPos(Window window, int bar, int pos, bool redraw) override;
    intptr_t Send(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) override;

    bool Subclass(Window control, ControlHook& hook) override;
    void Unsubclass(Window control) override;
    intptr_t CallDefault(Window control, const Message& message) override;

    void SetTextLimit(Window edit, int maxChars) override;
    void SelectAllText(Window edit) override;
    IconHandle SetButtonIcon(Window button, IconHandle icon) override;

    void ListBoxReset(Window list) override;
    int ListBoxAdd(Window list, std::string_view text, uintptr_t data) override;
    int ListBoxCount(Window list) override;
    void ListBoxSetCurSel(Window list, int index) override;
    int ListBoxCurSel(Window list) override;
    void ListBoxSetColumnWidth(Window list, int width) override;
    void ListBoxSetHorizontalExtent(Window list, int extent) override;
    void ListBoxSetItemHeight(Window list, int index, int height) override;
    int ListBoxItemHeight(Window list, int index) override;

    void ListViewSetImageList(Window list, const ImageList* images) override;
    int ListViewCount(Window list) override;
    int ListViewInsert(Window list, int index, const ListViewItem& item) override;
    bool ListViewDelete(Window list, int index) override;
    uintptr_t ListViewData(Window list, int index) override;
    unsigned ListViewState(Window list, int index, unsigned mask) override;
    std::string ListViewText(Window list, int index) override;
    bool ListViewSetText(Window list, int index, std::string_view text) override;
    bool ListViewSetImage(Window list, int index, int image) override;
    bool ListViewSetState(Window list, int index, unsigned state, unsigned mask) override;
    int ListViewNextItem(Window list, int start, unsigned flags) override;
    int ListViewSelectedCount(Window list) override;
    Window ListViewEditLabel(Window list, int index) override;
    int ListViewHitTest(Window list, Point point) override;

    int TrackPopupMenu(const std::vector<MenuItem>& items, Point screen, Window owner) override;
    int ShowMessage(Window owner, std::string_view text, std::string_view caption, unsigned style,
                    uint16_t language) override;
    void Beep(unsigned type) override;
    std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
    Point CursorPos() override;
    bool IsKeyDown(int virtualKey) override;
};

}  // namespace tavix::platform::win32
