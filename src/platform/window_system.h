// The window system: modal dialogs, their controls, and the user's answers.
//
// Design
// - The dialog logic never talks to a window system directly: it is written against the
//   framework layer (frame/dialog.h, frame/controls.h), which is written against this one
//   interface. A backend implements WindowSystem; the Win32 backend maps each operation onto
//   one USER32/COMCTL32 call or message, the headless backend (platform/headless/) keeps every
//   control's state in memory and lets a test script play the user.
// - Windows are opaque handles (HWND on Windows; the backend's own objects elsewhere).
//   Numbers are Windows' own: messages, notification codes, styles, key codes, system colours,
//   so that a backend for Windows passes them through and message tables read as they would
//   there.
// - Events go the other way, from the backend to a DialogSink (the framework's Dialog): one
//   Message per WM_INITDIALOG, WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM,
//   WM_COMPAREITEM, WM_HELP, WM_CONTEXTMENU, WM_CLOSE and WM_DESTROY the dialog receives, in the
//   order the real dialog manager sends them, each answered with a result. A control that the
//   framework subclasses (an owner-drawn list box) gets its own window messages through a
//   ControlHook and passes those it does not handle on to the host's default handling.
// - Text is 8-bit, in the code page of the current context (the ANSI code page on Windows,
//   UTF-8 elsewhere).
// - One window system is current per process (CurrentWindowSystem): the Win32 one on Windows
//   by default, none by default elsewhere (a dialog then cannot be created and DoModal answers
//   -1); tests install the headless one with a WindowSystemGuard. Calls must not overlap, as for
//   the rest of the library.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "TavixConnect.h"
#include "platform/codepage.h"
#include "platform/icons.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "resources/dialog_template.h"
#include "resources/resource.h"

namespace tavix::platform {

using Window = HWND;  // null: no window

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// ---- Numbers, as Windows defines them ---------------------------------------------------------

namespace wm {  // window messages
inline constexpr unsigned kDestroy = 0x0002, kSetFocus = 0x0007, kKillFocus = 0x0008,
                          kClose = 0x0010, kDrawItem = 0x002B, kMeasureItem = 0x002C,
                          kCompareItem = 0x0039, kNotify = 0x004E, kHelp = 0x0053,
                          kContextMenu = 0x007B, kGetDlgCode = 0x0087, kKeyDown = 0x0100,
                          kInitDialog = 0x0110, kCommand = 0x0111, kHScroll = 0x0114,
                          kLButtonDown = 0x0201, kLButtonUp = 0x0202,
                          kLButtonDblClk = 0x0203;
}  // namespace wm

namespace bn {  // button notifications (WM_COMMAND)
inline constexpr int kClicked = 0;
}
namespace en {  // edit notifications
inline constexpr int kSetFocus = 0x0100, kKillFocus = 0x0200, kChange = 0x0300,
                     kUpdate = 0x0400;
}
namespace lbn {  // list box notifications (only with LBS_NOTIFY, except the focus ones)
inline constexpr int kSelChange = 1, kDblClk = 2, kSetFocus = 4, kKillFocus = 5;
}
namespace nm {  // common-control notifications (WM_NOTIFY)
inline constexpr int kClick = -2, kDblClk = -3, kRClick = -5, kSetFocus = -7,
                     kKillFocus = -8;
}
namespace lvn {  // list-view notifications (the 8-bit forms of the label-edit ones)
inline constexpr int kItemChanging = -100, kItemChanged = -101, kInsertItem = -102,
                     kDeleteItem = -103, kBeginLabelEdit = -105, kEndLabelEdit = -106,
                     kKeyDown = -155;
}

namespace lvis {  // list-view item states
inline constexpr unsigned kFocused = 0x0001, kSelected = 0x0002;
}
namespace lvni {  // list-view next-item flags
inline constexpr unsigned kAll = 0x0000, kFocused = 0x0001, kSelected = 0x0002;
}
namespace lvif {  // what an item-changed notification says changed
inline constexpr unsigned kText = 0x0001, kImage = 0x0002, kState = 0x0008;
}

namespace ws {  // window and control styles read from templates (resources/resource.h)
inline constexpr uint32_t kVisible = WS_VISIBLE, kDisabled = WS_DISABLED, kBorder = WS_BORDER,
                          kVScroll = WS_VSCROLL, kHScroll = WS_HSCROLL, kTabStop = WS_TABSTOP,
                          kGroup = WS_GROUP;
inline constexpr uint32_t kExClientEdge = WS_EX_CLIENTEDGE;
inline constexpr uint32_t kBsTypeMask = BS_TYPEMASK, kBsPushButton = BS_PUSHBUTTON,
                          kBsDefPushButton = BS_DEFPUSHBUTTON, kBsIcon = BS_ICON;
inline constexpr uint32_t kLbsNotify = LBS_NOTIFY, kLbsSort = LBS_SORT,
                          kLbsOwnerDrawFixed = LBS_OWNERDRAWFIXED,
                          kLbsOwnerDrawVariable = LBS_OWNERDRAWVARIABLE,
                          kLbsHasStrings = LBS_HASSTRINGS, kLbsNoIntegralHeight = LBS_NOINTEGRALHEIGHT,
                          kLbsWantKeyboardInput = LBS_WANTKEYBOARDINPUT,
                          kLbsDisableNoScroll = LBS_DISABLENOSCROLL;
inline constexpr uint32_t kLvsEditLabels = LVS_EDITLABELS, kLvsSingleSel = LVS_SINGLESEL;
}  // namespace ws

namespace dlgc {  // WM_GETDLGCODE answers
inline constexpr intptr_t kWantArrows = 0x0001, kWantTab = 0x0002, kWantAllKeys = 0x0004,
                          kHasSetSel = 0x0008, kDefPushButton = 0x0010,
                          kUndefPushButton = 0x0020, kWantChars = 0x0080, kButton = 0x2000;
}

namespace sb {  // scroll bars: bars, WM_HSCROLL codes, SCROLLINFO flags
inline constexpr int kHorz = 0, kVert = 1;
inline constexpr int kLineLeft = 0, kLineRight = 1, kPageLeft = 2, kPageRight = 3,
                     kThumbPosition = 4, kThumbTrack = 5, kLeft = 6, kRight = 7, kEndScroll = 8;
inline constexpr unsigned kRange = 0x01, kPage = 0x02, kPos = 0x04, kDisableNoScroll = 0x08,
                          kTrackPos = 0x10, kAll = 0x17;
}  // namespace sb

namespace vk {  // virtual keys
inline constexpr int kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11,
                     kEscape = 0x1B, kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26,
                     kRight = 0x27, kDown = 0x28, kDelete = 0x2E, kF1 = 0x70, kF2 = 0x71,
                     kApps = 0x5D;
}

namespace color {  // system colours
inline constexpr int kWindow = 5, kWindowText = 8, kHighlight = 13;
}

namespace oda {  // owner-draw actions and states
inline constexpr unsigned kDrawEntire = 1, kSelect = 2, kFocus = 4;
inline constexpr unsigned kStateSelected = 0x0001, kStateFocus = 0x0010;
}

inline constexpr unsigned kOfnHideReadOnly = 0x0004, kOfnFileMustExist = 0x1000;

// ---- What events carry ------------------------------------------------------------------------

// An owner-drawn control's request to paint an item (WM_DRAWITEM). Painting goes through the
// painter, whose operations are the three the library's owner-drawn controls use.
class Painter {
public:
    virtual ~Painter() = default;
    // Fills rect with a system colour (FillSolidRect with GetSysColor(sysColor)).
    virtual void Fill(const Rect& rect, int sysColor) = 0;
    // DrawFocusRect: the dotted focus frame (drawn with XOR: twice restores).
    virtual void FocusRect(const Rect& rect) = 0;
    // ImageList_Draw of image index at (x, y), normal style.
    virtual void DrawImage(const ImageList& images, int index, int x, int y) = 0;
};

struct DrawItemRequest {
    unsigned controlType = 0;  // ODT_LISTBOX 2, ODT_BUTTON 4, ...
    int controlId = 0;
    int item = -1;
    unsigned action = 0;  // oda::k*
    unsigned state = 0;   // oda::kState*
    Window control = nullptr;
    Rect rect;            // the item's rectangle in the control's client coordinates
    uintptr_t itemData = 0;
    Painter* painter = nullptr;
};

struct MeasureItemRequest {  // in and out: the answer goes into width and height
    unsigned controlType = 0;
    int controlId = 0;
    int item = -1;
    unsigned width = 0;
    unsigned height = 0;
    uintptr_t itemData = 0;
};

struct CompareItemRequest {
    unsigned controlType = 0;
    int controlId = 0;
    Window control = nullptr;
    int item1 = -1;
    uintptr_t itemData1 = 0;
    int item2 = -1;
    uintptr_t itemData2 = 0;
};

// A list-view notification (NMLISTVIEW, NMLVDISPINFO, NMLVKEYDOWN, NMITEMACTIVATE).
struct ListViewNotification {
    int item = -1;
    unsigned newState = 0;  // item changing / changed
    unsigned oldState = 0;
    unsigned changed = 0;   // lvif::k*
    uintptr_t data = 0;     // the item's data (lParam)
    // End label edit: the new text, or nothing when the user cancelled the edit.
    std::optional<std::string> text;
    int key = 0;            // key down: the virtual key
    Point point;            // clicks: where, in the list's client coordinates
};

// One event delivered to a dialog or to a subclassed control. The messages that carry a
// structure (WM_NOTIFY from a list view, WM_DRAWITEM, WM_MEASUREITEM, WM_COMPAREITEM) carry it
// as their payload, read through the accessor of its type: each answers null for a message
// that does not carry that structure. The named constructors build a message as Windows
// packs it.
struct Message {
    unsigned message = 0;      // wm::k*
    int id = 0;                // command id, notifying / drawn control id, help control id
    int code = 0;              // notification code (command or notify)
    Window window = nullptr;   // the control the event comes from or is about
    uintptr_t wParam = 0;      // control messages: as Windows packs them
    intptr_t lParam = 0;
    Point point;               // context menu, help: screen point ((-1, -1): keyboard)

    // WM_COMMAND from control window (null: from a menu, an accelerator or the dialog
    // manager on a button's behalf): the id in the low word of wParam, the code in the high
    // word, the window in lParam.
    static Message Command(int id, Window window, int code = 0) {
        Message command;
        command.message = wm::kCommand;
        command.id = id;
        command.code = code;
        command.window = window;
        command.wParam = PackWords(id, code);
        command.lParam = reinterpret_cast<intptr_t>(window);
        return command;
    }
    // WM_CONTEXTMENU about window (also in wParam) at a screen point ((-1, -1): the keyboard
    // asked), packed into lParam as x and y words.
    static Message ContextMenu(Window window, Point screen) {
        Message menu;
        menu.message = wm::kContextMenu;
        menu.window = window;
        menu.wParam = reinterpret_cast<uintptr_t>(window);
        menu.lParam = static_cast<intptr_t>(PackWords(screen.x, screen.y));
        menu.point = screen;
        return menu;
    }
    // WM_HELP about the control id (its window) or the dialog (id 0), the mouse at a screen point.
    static Message Help(int id, Window window, Point screen) {
        Message help;
        help.message = wm::kHelp;
        help.id = id;
        help.window = window;
        help.point = screen;
        return help;
    }
    // WM_NOTIFY from list view control id with notification code.
    static Message Notify(int id, Window control, int code, const ListViewNotification& data) {
        Message notify;
        notify.message = wm::kNotify;
        notify.id = id;
        notify.code = code;
        notify.window = control;
        notify.Carry(data);
        return notify;
    }
    // WM_DRAWITEM, WM_MEASUREITEM and WM_COMPAREITEM about the request's control.
    static Message DrawItem(DrawItemRequest& request) {
        Message draw;
        draw.message = wm::kDrawItem;
        draw.id = request.controlId;
        draw.window = request.control;
        draw.Carry(request);
        return draw;
    }
    static Message MeasureItem(MeasureItemRequest& request, Window control = nullptr) {
        Message measure;
        measure.message = wm::kMeasureItem;
        measure.id = request.controlId;
        measure.window = control;
        measure.Carry(request);
        return measure;
    }
    static Message CompareItem(const CompareItemRequest& request) {
        Message compare;
        compare.message = wm::kCompareItem;
        compare.id = request.controlId;
        compare.window = request.control;
        compare.Carry(request);
        return compare;
    }

    // The payload; the message keeps a pointer to it, which must outlive the message's delivery.
    void Carry(const ListViewNotification& data) { payload_ = &data; }
    void Carry(DrawItemRequest& request) { payload_ = &request; }
    void Carry(MeasureItemRequest& request) { payload_ = &request; }
    void Carry(const CompareItemRequest& request) { payload_ = &request; }

    const ListViewNotification* ListView() const { return Payload<const ListViewNotification*>(); }
    DrawItemRequest* DrawRequest() const { return Payload<DrawItemRequest*>(); }
    MeasureItemRequest* MeasureRequest() const { return Payload<MeasureItemRequest*>(); }
    const CompareItemRequest* CompareRequest() const { return Payload<const CompareItemRequest*>(); }

private:
    // Two 16-bit words in 32 bits, low first, as MAKEWPARAM and MAKELPARAM pack them.
    static uintptr_t PackWords(int low, int high) {
        return (static_cast<uint32_t>(low) & 0xFFFFu) | (static_cast<uint32_t>(high) & 0xFFFFu) << 16;
    }

    template <typename Pointer>
    Pointer Payload() const {
        const Pointer* held = std::get_if<Pointer>(&payload_);
        return held ? *held : nullptr;
    }

    std::variant<std::monostate, const ListViewNotification*, DrawItemRequest*, MeasureItemRequest*,
                 const CompareItemRequest*>
        payload_;
};

// The receiver of a modal dialog's events: the framework's Dialog.
class DialogSink {
public:
    virtual ~DialogSink() = default;
    // One event for the dialog. handled false lets the backend do the dialog manager's default
    // processing (for WM_CLOSE: a Cancel command). For WM_INITDIALOG the result is true when the
    // dialog manager is to put the focus on the first tab stop; for WM_NOTIFY it is the
    // notification's answer (end label edit: true applies the text; item changing: true vetoes).
    virtual intptr_t OnMessage(Window dialog, const Message& message, bool& handled) = 0;
};

// The receiver of a subclassed control's own messages (WM_KEYDOWN, WM_LBUTTONDOWN,
// WM_LBUTTONDBLCLK, WM_GETDLGCODE, WM_HSCROLL, WM_SETFOCUS, WM_KILLFOCUS).
class ControlHook {
public:
    virtual ~ControlHook() = default;
    // handled false passes the message to the control's default handling.
    virtual intptr_t OnControlMessage(Window control, const Message& message, bool& handled) = 0;
};

// ---- What requests carry ----------------------------------------------------------------------

struct ListViewItem {
    std::string text;
    int image = -1;
    unsigned state = 0;  // lvis::k*
    uintptr_t data = 0;
};

struct ScrollInfo {
    unsigned mask = 0;  // sb::kRange | kPage | kPos | kDisableNoScroll (SetScrollInfo)
    int min = 0;
    int max = 0;
    unsigned page = 0;
    int pos = 0;
    int trackPos = 0;
};

struct MenuItem {
    std::string text;   // empty text with id 0: a separator
    int id = 0;
    bool grayed = false;
    bool IsSeparator() const { return id == 0 && text.empty(); }
};

struct FileDialogRequest {
    Window owner = nullptr;
    // Pairs of description and pattern ("Icons (*.ico)", "*.ico"), in order.
    std::vector<std::pair<std::string, std::string>> filters;
    std::string initialFile;
    std::string defaultExtension;  // empty: none
    unsigned flags = 0;            // kOfn*
};

// Where a modal dialog comes from, as the caller's context has it: a backend reads nothing of
// the library's context and uses only this.
struct DialogSource {
    // The resource module holding the template (on Windows the instance the dialog manager
    // builds the dialog from).
    ModuleHandle module = nullptr;
    // Reads template templateId from module, for the backends that build the windows
    // themselves; nullopt when the module has none or it does not read.
    std::function<std::optional<resources::DialogTemplate>(uint32_t templateId)> readTemplate;
    // The code page of the dialog's 8-bit text; never null.
    const CodePage* codePage = nullptr;
};

// ---- The window system ------------------------------------------------------------------------

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // -- Modal dialogs
    // Creates the dialog of template templateId from source, owned by parent (null: none),
    // sends sink WM_INITDIALOG and the events that follow, and returns the code given to
    // EndDialog once the dialog has been destroyed (WM_DESTROY is the last event); -1 when the
    // dialog could not be created.
    virtual int RunModal(uint32_t templateId, const DialogSource& source, Window parent,
                         DialogSink& sink) = 0;
    // Ends a running dialog with code: the modal loop returns once the current event is handled.
    virtual void EndDialog(Window dialog, int code) = 0;
    virtual Window DialogItem(Window dialog, int id) = 0;  // GetDlgItem; null when none
    virtual int ControlId(Window control) = 0;           // GetDlgCtrlID
    virtual Window Parent(Window window) = 0;
    // WM_NEXTDLGCTL with a window: the focus goes to control, which also becomes the default
    // push button when it is one.
    virtual void GotoDialogControl(Window dialog, Window control) = 0;

    // -- Any window
    virtual std::string Text(Window window) = 0;  // caption or control text
    virtual void SetText(Window window, std::string_view text) = 0;
    virtual void Enable(Window window, bool enable) = 0;
    virtual bool IsEnabled(Window window) = 0;
    virtual void Show(Window window, bool show) = 0;
    virtual bool IsVisible(Window window) = 0;
    virtual Window Focus() = 0;                   // GetFocus; null when no window has it
    virtual void SetFocus(Window window) = 0;     // raises the kill- then set-focus events
    // InvalidateRect: rect null is the whole client area. Painting follows later, as WM_PAINT.
    virtual void Invalidate(Window window, const Rect* rect, bool erase) = 0;
    virtual Rect ClientRect(Window window) = 0;   // origin (0, 0)
    virtual Rect WindowRect(Window window) = 0;   // screen coordinates
    // SetWindowPos with SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW: the window's outer size.
    virtual void SetWindowSize(Window window, int width, int height) = 0;
    virtual Point ScreenToClient(Window window, Point screen) = 0;
    virtual Point ClientToScreen(Window window, Point client) = 0;
    // SetScrollInfo (the fields that info.mask names); returns the new position.
    virtual int SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool redraw) = 0;
    virtual ScrollInfo GetScrollInfo(Window window, int bar) = 0;
    virtual int ScrollPos(Window window, int bar) = 0;
    virtual int SetScrollPos(Window window, int bar, int pos, bool redraw) = 0;  // old position
    // SendMessage with plain integer arguments (WM_HSCROLL, WM_GETDLGCODE, WM_KEYDOWN, ...): the
    // control's hook first when it has one, then its default handling.
    virtual intptr_t Send(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) = 0;

    // -- Subclassing: hook receives window's own messages until Unsubclass.
    virtual bool Subclass(Window control, ControlHook& hook) = 0;
    virtual void Unsubclass(Window control) = 0;
    // The control's default handling of a message (inside the hook: DefSubclassProc).
    virtual intptr_t CallDefault(Window control, const Message& message) = 0;

    // -- Edit
    virtual void SetTextLimit(Window edit, int maxChars) = 0;  // EM_LIMITTEXT; 0: none
    virtual void SelectAllText(Window edit) = 0;               // EM_SETSEL 0, -1

    // -- Button: BM_SETIMAGE with IMAGE_ICON; returns the icon shown before. The button keeps
    // the handle (it does not copy or destroy it).
    virtual IconHandle SetButtonIcon(Window button, IconHandle icon) = 0;

    // -- List box (LB_*)
    virtual void ListBoxReset(Window list) = 0;
    virtual int ListBoxAdd(Window list, std::string_view text, uintptr_t data) = 0;  // index
    virtual int ListBoxCount(Window list) = 0;
    virtual void ListBoxSetCurSel(Window list, int index) = 0;
    virtual int ListBoxCurSel(Window list) = 0;
    virtual void ListBoxSetColumnWidth(Window list, int width) = 0;
    virtual void ListBoxSetHorizontalExtent(Window list, int extent) = 0;
    virtual void ListBoxSetItemHeight(Window list, int index, int height) = 0;
    virtual int ListBoxItemHeight(Window list, int index) = 0;

    // -- List view (LVM_*). Item indices are positions; -1 addresses every item where the
    // Windows message allows it (set state).
    // The large-icon image list; the list view neither copies nor destroys it.
    virtual void ListViewSetImageList(Window list, const ImageList* images) = 0;
    virtual int ListViewCount(Window list) = 0;
    // Inserts at index (clamped to the end); returns the position, -1 on failure. Raises
    // LVN_INSERTITEM, then LVN_ITEMCHANGED when the item starts with a state.
    virtual int ListViewInsert(Window list, int index, const ListViewItem& item) = 0;
    virtual bool ListViewDelete(Window list, int index) = 0;  // raises LVN_DELETEITEM
    virtual uintptr_t ListViewData(Window list, int index) = 0;
    virtual unsigned ListViewState(Window list, int index, unsigned mask) = 0;
    // The label as read into a 256-byte buffer: at most 255 bytes.
    virtual std::string ListViewText(Window list, int index) = 0;
    virtual bool ListViewSetText(Window list, int index, std::string_view text) = 0;
    virtual bool ListViewSetImage(Window list, int index, int image) = 0;
    // Raises LVN_ITEMCHANGING / LVN_ITEMCHANGED for each item whose state changes.
    virtual bool ListViewSetState(Window list, int index, unsigned state, unsigned mask) = 0;
    virtual int ListViewNextItem(Window list, int start, unsigned flags) = 0;  // lvni::k*
    virtual int ListViewSelectedCount(Window list) = 0;
    // Opens the label editor on item (raising LVN_BEGINLABELEDIT); the user's end of the edit
    // raises LVN_ENDLABELEDIT. Returns the editor's window, null when none was opened.
    virtual Window ListViewEditLabel(Window list, int index) = 0;
    // The item under a point in the list's client coordinates; -1 for none.
    virtual int ListViewHitTest(Window list, Point point) = 0;

    // -- Menus: a popup menu tracked with the right button at a screen point, owned by owner;
    // returns the chosen item's id, 0 when the menu was dismissed. The caller delivers the
    // command (TPM_RETURNCMD).
    virtual int TrackPopupMenu(const std::vector<MenuItem>& items, Point screen, Window owner) = 0;

    // -- The user
    // A modal message box (MessageBoxExA); style as message_box.h numbers it; language 0 is
    // the system's, otherwise the language of the buttons. Answers the button pressed (kIdOk,
    // kIdCancel, kIdYes, kIdNo).
    virtual int ShowMessage(Window owner, std::string_view text, std::string_view caption,
                           unsigned style, uint16_t language) = 0;
    virtual void Beep(unsigned type) = 0;  // MessageBeep
    // The open-file dialog: the chosen path, nothing when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;
    virtual Point CursorPos() = 0;  // screen coordinates
    // Whether a key is held down now (GetKeyState's high bit), for vk::kControl and vk::kShift.
    virtual bool IsKeyDown(int virtualKey) = 0;
};

// The process's window system: the one installed last, or the platform's own (none where the
// platform has none).
WindowSystem* CurrentWindowSystem();

// Installs system (null: none) as the current one and returns the one it replaces.
WindowSystem* InstallWindowSystem(WindowSystem* system);

// The platform's own window system: the Win32 one on Windows, none elsewhere.
WindowSystem* PlatformWindowSystem();

// Installs a window system for its lifetime.
class WindowSystemGuard {
public:
    explicit WindowSystemGuard(WindowSystem* system) : saved_(InstallWindowSystem(system)) {}
    ~WindowSystemGuard() { InstallWindowSystem(saved_); }
    WindowSystemGuard(const WindowSystemGuard&) = delete;
    WindowSystemGuard& operator=(const WindowSystemGuard&) = delete;

private:
    WindowSystem* saved_;
};

}  // namespace tavix::platform
