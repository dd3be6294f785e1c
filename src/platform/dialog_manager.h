// The dialog manager's rules, once for every window system that builds its dialogs itself
// (headless, GTK): which keys a control keeps and which the dialog takes (Tab and Shift+Tab
// round the tab stops, Enter for the focused push button, the default button or IDOK, Escape
// for IDCANCEL, F1 for help, the menu key and Shift+F10 for the context menu), the controls'
// default handling (WM_GETDLGCODE, the focus notifications, clicks, keys and scroll requests of
// list boxes and list views), the list view's item states with their notifications, and the
// scroll bars' state.
//
// The rules work on windows, ids and styles only. A backend answers what they ask through Host
// (what kind of control a window is, its style, whether it is enabled and shown, the dialog's
// controls in tab order) and delivers what they raise: no rule knows how a backend shows its
// controls, and no window-system header is included here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window_system.h"
#include "resources/dialog_template.h"

namespace tavix::platform::dialog_manager {

enum class ControlKind { Dialog, Button, Edit, Static, ListBox, ComboBox, ListView, LabelEditor, Other };

// A window's two scroll bars, sb::kHorz and sb::kVert.
using ScrollBars = ScrollInfo[2];

// Keys the dialog manager reads beyond window_system.h's.
inline constexpr int kVkF10 = 0x79;

// What the rules ask of a backend, and how they deliver events. A window that no longer
// exists answers as nothing: kind Other, style 0, id 0, not enabled, not shown.
class Host {
public:
    virtual ~Host() = default;

    // -- The windows
    virtual bool Exists(Window window) = 0;
    virtual ControlKind KindOf(Window window) = 0;
    virtual uint32_t StyleOf(Window window) = 0;  // as the template gave it (ws::k*, BS_, LBS_)
    virtual int IdOf(Window window) = 0;
    virtual Window DialogOf(Window window) = 0;   // a dialog is its own
    virtual bool Ended(Window dialog) = 0;        // EndDialog was called
    virtual std::vector<Window> Controls(Window dialog) = 0;  // in tab order
    virtual bool Enabled(Window control) = 0;
    virtual bool Shown(Window control) = 0;       // visible, within a visible dialog
    virtual int DefaultId(Window dialog) = 0;     // the default push button's id; 0: none
    virtual ControlHook* HookOf(Window control) = 0;
    virtual Point Cursor() = 0;                   // the mouse, in screen coordinates
    // The list view's items (null for another kind of window, or one that is gone).
    virtual std::vector<ListViewItem>* ListViewItems(Window list) = 0;
    // The window's scroll bars (sb::kHorz, sb::kVert); null for no window.
    virtual ScrollBars* BarsOf(Window window) = 0;

    // -- What the rules do through the backend
    virtual intptr_t ToDialog(Window dialog, const Message& message, bool* handled) = 0;
    virtual void MoveFocus(Window control) = 0;   // raises the kill- then set-focus events
    virtual void SelectAllText(Window edit) = 0;

    // -- The parts of a control's default handling that depend on how the backend shows it
    virtual void ListBoxFocusChanged(Window /*list*/) {}                  // repaint the focus
    virtual void ListBoxClick(Window /*list*/, Point /*client*/) {}       // left button down
    virtual void ListBoxKey(Window /*list*/, int /*key*/) {}              // WM_KEYDOWN
    virtual void ListBoxHScroll(Window /*list*/, int /*code*/, int /*thumb*/) {}
    virtual void ListViewKey(Window /*list*/, int /*key*/) {}             // after LVN_KEYDOWN
    // The list view's item index changed in the model (or a change of it was vetoed): the
    // backend shows it as the model holds it.
    virtual void ListViewItemChanged(Window /*list*/, int /*index*/) {}
};

// ---- Controls -----------------------------------------------------------------------------------

// The kind of control a template's item makes: by its predefined class, or by its class name
// (compared as window class names are, without regard to case); Other for a class the dialogs
// do not use.
ControlKind KindOfControl(const resources::DialogControl& control);
// A push button (default or not), as opposed to other button styles.
bool IsPushButton(ControlKind kind, uint32_t style);
// The default answer to WM_GETDLGCODE: which keys the control wants, what kind of button it is.
intptr_t DialogCode(ControlKind kind, uint32_t style);
// A control's id in dialog; null when there is none.
Window Item(Host& host, Window dialog, int id);
// The first control that takes the focus by Tab: a tab stop, enabled and shown; null for none.
Window FirstTabStop(Host& host, Window dialog);

// ---- Events -------------------------------------------------------------------------------------

// WM_COMMAND from control to its dialog with a notification code.
void Command(Host& host, Window control, int code);
// The dialog manager's WM_COMMAND for button id (Enter, Escape, the close box), naming the
// button's window when the dialog has one.
void ButtonCommand(Host& host, Window dialog, int id);
// WM_NOTIFY from a list view to its dialog; the dialog's answer.
intptr_t Notify(Host& host, Window control, int code, ListViewNotification& data);
// A control's own message: its hook first, then (unless the hook handled it) DefaultHandling.
intptr_t ToControl(Host& host, Window control, Message message);
// SendMessage with plain integer arguments.
intptr_t Send(Host& host, Window control, unsigned message, uintptr_t wParam, intptr_t lParam);
// What a control does with a message nobody handled, as the common controls do it.
intptr_t DefaultHandling(Host& host, Window control, const Message& message);
// WM_NEXTDLGCTL: the focus to control, an edit's text selected whole.
void GotoControl(Host& host, Window control);
// The close box: WM_CLOSE, which the dialog manager turns into IDCANCEL unless the dialog
// handled it or ended.
void CloseBox(Host& host, Window dialog);

// ---- Keys ---------------------------------------------------------------------------------------

enum class KeyOutcome {
    Handled,     // the dialog manager's key, done
    ForControl,  // the focused control's: WM_KEYDOWN and the control's own handling
    Backend,     // the window system's own: an arrow the control does not want (which moves
                 // within a group), F10 without Shift (the menu bar)
};

// A key pressed in dialog with focus (null: none of its controls) as the dialog manager routes
// it: the focused control first says which keys it wants (WM_GETDLGCODE); Tab, Shift+Tab,
// Enter, Escape, F1, the menu key and Shift+F10 are the dialog manager's otherwise.
KeyOutcome PressKey(Host& host, Window dialog, Window focus, int key, bool shift);

// WM_KEYDOWN to control.
void KeyDown(Host& host, Window control, int key);

// ---- List boxes ---------------------------------------------------------------------------------

// The item a navigation key selects in a list of count items with current selected (-1: none):
// Up and Left the previous, Down and Right the next, Home the first, End the last; -1 for a key
// that does not navigate or an empty list.
int ListBoxIndexForKey(int key, int current, int count);
// The user changed the selection: LBN_SELCHANGE when the list box notifies.
void ListBoxSelectionChanged(Host& host, Window list);

// ---- List views ---------------------------------------------------------------------------------

// Changes item index's state (within mask), label or image: LVN_ITEMCHANGING before (not for an
// item being inserted, which cannot be vetoed) and LVN_ITEMCHANGED after; the focus stays on one
// item at most, and a single-selection list keeps one selected item. False when there is no such
// item or the change was vetoed.
bool ChangeListViewItem(Host& host, Window list, int index, unsigned newState, unsigned mask,
                        const std::string* text, const int* image, bool inserting = false);
// After item was inserted at index: LVN_ITEMCHANGED for the state it was inserted with (no
// LVN_ITEMCHANGING), then LVN_INSERTITEM, as the common controls report it. Its position; -1
// when a handler removed it meanwhile.
int ListViewItemInserted(Host& host, Window list, int index, const ListViewItem& item);
// Selects and focuses index alone (-1: clears the selection).
void SelectOnlyListViewItem(Host& host, Window list, int index);
// LVM_GETNEXTITEM: the first item after start whose state has every flag; -1 for none.
int NextListViewItem(const std::vector<ListViewItem>& items, int start, unsigned flags);
int SelectedListViewItems(const std::vector<ListViewItem>& items);

// ---- Scroll bars --------------------------------------------------------------------------------

// SetScrollInfo on a bar's state: the fields info.mask names, the page kept within the range and
// the position within [min, max - page + 1]; returns the new position.
int SetScrollBar(ScrollInfo& bar, const ScrollInfo& info);
// GetScrollInfo: every field, the tracking position the position.
ScrollInfo ScrollBarInfo(const ScrollInfo& bar);
// A bar whose page shows the whole range cannot scroll (it is disabled or hidden).
bool ScrollBarScrolls(const ScrollInfo& bar);
// The bar of a window's two (sb::kHorz, sb::kVert); null for another bar number.
ScrollInfo* BarOf(ScrollBars& bars, int bar);
// GetScrollInfo and GetScrollPos of window's bar (nothing for no window or another bar number).
ScrollInfo GetScrollInfo(Host& host, Window window, int bar);
int ScrollPos(Host& host, Window window, int bar);
// SetScrollPos through the window system's SetScrollInfo; the old position.
int SetScrollPos(WindowSystem& system, Window window, int bar, int pos, bool redraw);

}  // namespace tavix::platform::dialog_manager
