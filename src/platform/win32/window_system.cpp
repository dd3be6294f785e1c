// The Windows window system: modal dialogs, the dialog procedure, subclassing and the
// operations every window has. Controls are in window_system_controls.cpp, the user's answers
// (message boxes, menus, the file dialog) in window_system_user.cpp.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <string>
#include <utility>

#include "platform/win32/window_system_win32.h"

namespace tavix::platform {

namespace win32 {

namespace {

RECT ToRect(const Rect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }
Rect FromRect(const RECT& rect) { return Rect{rect.left, rect.top, rect.right, rect.bottom}; }

// ---- Painting ---------------------------------------------------------------------------------

// The owner-draw painter over the device context that WM_DRAWITEM hands out.
class DcPainter final : public Painter {
public:
    explicit DcPainter(HDC dc) : dc_(dc) {}

    void Fill(const Rect& rect, int sysColor) override {
        const RECT r = ToRect(rect);
        FillRect(dc_, &r, GetSysColorBrush(sysColor));
    }

    void FocusRect(const Rect& rect) override {
        const RECT r = ToRect(rect);
        DrawFocusRect(dc_, &r);
    }

    void DrawImage(const ImageList& images, int index, int x, int y) override {
        ImageList_Draw(static_cast<HIMAGELIST>(images.Native()), index, dc_, x, y, ILD_NORMAL);
    }

private:
    HDC dc_;
};

// ---- Modal dialogs --------------------------------------------------------------------------

struct ModalRun {
    DialogSink* sink = nullptr;
    bool created = false;  // WM_INITDIALOG was delivered
};

// The run whose dialog DialogBoxParamA is creating on this thread. Its window takes it over
// with the first message that reaches the dialog procedure (before WM_INITDIALOG, controls may
// already ask for their measurements).
thread_local ModalRun* t_starting = nullptr;

ModalRun* RunOf(HWND dialog) {
    auto* run = reinterpret_cast<ModalRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (run == nullptr && t_starting != nullptr) {
        run = std::exchange(t_starting, nullptr);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
    }
    return run;
}

bool IsListView(HWND window) {
    char name[32];
    return GetClassNameA(window, name, sizeof name) > 0 &&
           lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

std::string FromWide(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size) - 1);
    return narrow;
}

// A list view's notification in the interface's terms; the wide label-edit codes become the
// 8-bit ones the message tables name.
void ReadListViewNotification(const NMHDR& header, Message& message,
                              ListViewNotification& data) {
    const UINT code = header.code;
    switch (code) {
        case LVN_ITEMCHANGING:
        case LVN_ITEMCHANGED:
        case LVN_INSERTITEM:
        case LVN_DELETEITEM: {
            const auto& n = reinterpret_cast<const NMLISTVIEW&>(header);
            data.item = n.iItem;
            data.newState = n.uNewState;
            data.oldState = n.uOldState;
            data.changed = n.uChanged;
            data.data = static_cast<uintptr_t>(n.lParam);
            data.point = Point{n.ptAction.x, n.ptAction.y};
            break;
        }
        case LVN_BEGINLABELEDITA:
        case LVN_ENDLABELEDITA: {
            const auto& n = reinterpret_cast<const NMLVDISPINFOA&>(header);
            data.item = n.item.iItem;
            data.data = static_cast<uintptr_t>(n.item.lParam);
            if (code == LVN_ENDLABELEDITA && n.item.pszText != nullptr) data.text = n.item.pszText;
            break;
        }
        case LVN_BEGINLABELEDITW:
        case LVN_ENDLABELEDITW: {
            const auto& n = reinterpret_cast<const NMLVDISPINFOW&>(header);
            data.item = n.item.iItem;
            data.data = static_cast<uintptr_t>(n.item.lParam);
            if (code == LVN_ENDLABELEDITW && n.item.pszText != nullptr) {
                data.text = FromWide(n.item.pszText);
            }
            message.code = static_cast<int>(code == LVN_BEGINLABELEDITW ? LVN_BEGINLABELEDITA
                                                                        : LVN_ENDLABELEDITA);
            break;
        }
        case LVN_KEYDOWN:
            data.key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
            break;
        case NM_CLICK:
        case NM_DBLCLK:
        case NM_RCLICK: {
            const auto& n = reinterpret_cast<const NMITEMACTIVATE&>(header);
            data.item = n.iItem;
            data.data = static_cast<uintptr_t>(n.lParam);
            data.point = Point{n.ptAction.x, n.ptAction.y};
            break;
        }
        default:
            return;
    }
    message.Carry(data);
}

// One dialog-procedure call, cracked into the arguments of its message. Each method fills the
// interface's Message from its typed arguments, asks the sink, and answers in the form the
// dialog manager wants: TRUE / FALSE for "handled", except where a method says otherwise.
class Delivery {
public:
    Delivery(ModalRun& run, HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
        : run_(run), dialog_(dialog) {
        message_.message = msg;
        message_.wParam = wParam;
        message_.lParam = lParam;
    }

    // TRUE lets the dialog manager put the focus on the first tab stop: the sink's answer when
    // it handled the message, TRUE when it did not.
    INT_PTR InitDialog() {
        run_.created = true;
        bool handled = false;
        const intptr_t focus = Ask(handled);
        return !handled || focus != 0 ? TRUE : FALSE;
    }

    INT_PTR Command(int id, int code, HWND control) {
        message_ = Message::Command(id, control, code);
        return AskHandled();
    }

    // The notification's answer goes to DWLP_MSGRESULT.
    INT_PTR Notify(const NMHDR& header) {
        message_.id = static_cast<int>(header.idFrom);
        message_.code = static_cast<int>(header.code);
        message_.window = header.hwndFrom;
        ListViewNotification data;
        if (IsListView(header.hwndFrom)) ReadListViewNotification(header, message_, data);
        bool handled = false;
        const intptr_t result = Ask(handled);
        if (!handled) return FALSE;
        SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, result);
        return TRUE;
    }

    INT_PTR DrawItem(const DRAWITEMSTRUCT& item) {
        DcPainter painter(item.hDC);
        DrawItemRequest request;
        request.controlType = item.CtlType;
        request.controlId = static_cast<int>(item.CtlID);
        request.item = static_cast<int>(item.itemID);
        request.action = item.itemAction;
        request.state = item.itemState;
        request.control = item.hwndItem;
        request.rect = FromRect(item.rcItem);
        request.itemData = item.itemData;
        request.painter = &painter;
        message_.id = request.controlId;
        message_.window = item.hwndItem;
        message_.Carry(request);
        return AskHandled();
    }

    // The sink's measurements go back into item only when it handled the request.
    INT_PTR MeasureItem(MEASUREITEMSTRUCT& item) {
        MeasureItemRequest request;
        request.controlType = item.CtlType;
        request.controlId = static_cast<int>(item.CtlID);
        request.item = static_cast<int>(item.itemID);
        request.width = item.itemWidth;
        request.height = item.itemHeight;
        request.itemData = item.itemData;
        message_.id = request.controlId;
        message_.window = GetDlgItem(dialog_, request.controlId);
        message_.Carry(request);
        bool handled = false;
        Ask(handled);
        if (!handled) return FALSE;
        item.itemWidth = request.width;
        item.itemHeight = request.height;
        return TRUE;
    }

    // The one answer that is the result itself: the order of the two items (0 when unhandled).
    INT_PTR CompareItem(const COMPAREITEMSTRUCT& item) {
        CompareItemRequest request;
        request.controlType = item.CtlType;
        request.controlId = static_cast<int>(item.CtlID);
        request.control = item.hwndItem;
        request.item1 = static_cast<int>(item.itemID1);
        request.itemData1 = item.itemData1;
        request.item2 = static_cast<int>(item.itemID2);
        request.itemData2 = item.itemData2;
        message_.id = request.controlId;
        message_.window = item.hwndItem;
        message_.Carry(request);
        bool handled = false;
        const intptr_t order = Ask(handled);
        return handled ? order : 0;
    }

    INT_PTR Help(const HELPINFO& info) {
        message_.id = info.iCtrlId;
        message_.window = static_cast<HWND>(info.hItemHandle);
        message_.point = Point{info.MousePos.x, info.MousePos.y};
        return AskHandled();
    }

    // window is the one clicked (the dialog itself, or null, for none of its controls); screen
    // is (-1, -1) when the menu key asked.
    INT_PTR ContextMenu(HWND window, Point screen) {
        message_ = Message::ContextMenu(window, screen);
        message_.id = window && window != dialog_ ? GetDlgCtrlID(window) : 0;
        return AskHandled();
    }

    // Unhandled, the dialog manager turns it into the Cancel command.
    INT_PTR Close() { return AskHandled(); }

    // The dialog manager's own destroy processing follows in any case.
    INT_PTR Destroy() {
        bool handled = false;
        Ask(handled);
        return FALSE;
    }

private:
    intptr_t Ask(bool& handled) { return run_.sink->OnMessage(dialog_, message_, handled); }

    INT_PTR AskHandled() {
        bool handled = false;
        Ask(handled);
        return handled ? TRUE : FALSE;
    }

    ModalRun& run_;
    HWND dialog_;
    Message message_;
};

// The dispatch: each message the sink receives goes to its method with its arguments unpacked;
// the dialog manager handles every other message itself.
INT_PTR Deliver(ModalRun& run, HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    Delivery delivery(run, dialog, msg, wParam, lParam);
    switch (msg) {
        case WM_INITDIALOG:
            return delivery.InitDialog();
        case WM_COMMAND:
            return delivery.Command(LOWORD(wParam), HIWORD(wParam),
                                    reinterpret_cast<HWND>(lParam));
        case WM_NOTIFY:
            return delivery.Notify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_DRAWITEM:
            return delivery.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        case WM_MEASUREITEM:
            return delivery.MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        case WM_COMPAREITEM:
            return delivery.CompareItem(*reinterpret_cast<const COMPAREITEMSTRUCT*>(lParam));
        case WM_HELP:
            return delivery.Help(*reinterpret_cast<const HELPINFO*>(lParam));
        case WM_CONTEXTMENU:
            return delivery.ContextMenu(reinterpret_cast<HWND>(wParam),
                                        Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        case WM_CLOSE:
            return delivery.Close();
        case WM_DESTROY:
            return delivery.Destroy();
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    ModalRun* run = RunOf(dialog);
    if (run == nullptr || run->sink == nullptr) return FALSE;
    try {
        return Deliver(*run, dialog, msg, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's frames: the dialog ends as not created.
        run->created = false;
        ::EndDialog(dialog, -1);
        return FALSE;
    }
}

void RegisterCommonControls() {
    static const bool registered = [] {
        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
        return InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)registered;
}

// ---- Subclassing ----------------------------------------------------------------------------

constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR data) {
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        return DefSubclassProc(window, msg, wParam, lParam);
    }
    Message message;
    message.message = msg;
    message.id = GetDlgCtrlID(window);
    message.window = window;
    message.wParam = wParam;
    message.lParam = lParam;
    if ((msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || msg == WM_CONTEXTMENU) {
        message.point = Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    }
    bool handled = false;
    intptr_t result = 0;
    try {
        result = reinterpret_cast<ControlHook*>(data)->OnControlMessage(window, message, handled);
    } catch (...) {
        handled = false;  // nothing unwinds through the system: the control's own handling
    }
    return handled ? result : DefSubclassProc(window, msg, wParam, lParam);
}

}  // namespace

// ---- Modal dialogs ----------------------------------------------------------------------------

int Win32WindowSystem::RunModal(uint32_t templateId, const DialogSource& source, Window parent,
                                DialogSink& sink) {
    if (templateId == 0 || templateId > 0xFFFF) return -1;
    RegisterCommonControls();
    ModalRun run;
    run.sink = &sink;
    ModalRun* saved = std::exchange(t_starting, &run);
    const INT_PTR code = DialogBoxParamA(static_cast<HINSTANCE>(source.module),
                                         MAKEINTRESOURCEA(templateId), parent, DialogProc, 0);
    t_starting = saved;
    return run.created ? static_cast<int>(code) : -1;
}

void Win32WindowSystem::EndDialog(Window dialog, int code) { ::EndDialog(dialog, code); }

Window Win32WindowSystem::DialogItem(Window dialog, int id) { return GetDlgItem(dialog, id); }

int Win32WindowSystem::ControlId(Window control) { return GetDlgCtrlID(control); }

Window Win32WindowSystem::Parent(Window window) { return GetParent(window); }

void Win32WindowSystem::GotoDialogControl(Window dialog, Window control) {
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

// ---- Any window -------------------------------------------------------------------------------

std::string Win32WindowSystem::Text(Window window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void Win32WindowSystem::SetText(Window window, std::string_view text) {
    SetWindowTextA(window, std::string(text).c_str());
}

void Win32WindowSystem::Enable(Window window, bool enable) { EnableWindow(window, enable); }

bool Win32WindowSystem::IsEnabled(Window window) { return IsWindowEnabled(window) != FALSE; }

void Win32WindowSystem::Show(Window window, bool show) {
    ShowWindow(window, show ? SW_SHOW : SW_HIDE);
}

// The window's own visible flag (WS_VISIBLE), as the headless system keeps it: a control of a
// dialog that is not shown yet still answers true.
bool Win32WindowSystem::IsVisible(Window window) {
    return (GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

Window Win32WindowSystem::Focus() { return GetFocus(); }

void Win32WindowSystem::SetFocus(Window window) { ::SetFocus(window); }

void Win32WindowSystem::Invalidate(Window window, const Rect* rect, bool erase) {
    if (rect == nullptr) {
        InvalidateRect(window, nullptr, erase);
        return;
    }
    const RECT r = ToRect(*rect);
    InvalidateRect(window, &r, erase);
}

Rect Win32WindowSystem::ClientRect(Window window) {
    RECT r{};
    GetClientRect(window, &r);
    return FromRect(r);
}

Rect Win32WindowSystem::WindowRect(Window window) {
    RECT r{};
    GetWindowRect(window, &r);
    return FromRect(r);
}

void Win32WindowSystem::SetWindowSize(Window window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW);
}

Point Win32WindowSystem::ScreenToClient(Window window, Point screen) {
    POINT p{screen.x, screen.y};
    ::ScreenToClient(window, &p);
    return Point{p.x, p.y};
}

Point Win32WindowSystem::ClientToScreen(Window window, Point client) {
    POINT p{client.x, client.y};
    ::ClientToScreen(window, &p);
    return Point{p.x, p.y};
}

int Win32WindowSystem::SetScrollInfo(Window window, int bar, const ScrollInfo& info,
                                     bool redraw) {
    SCROLLINFO si{sizeof(SCROLLINFO), info.mask, info.min, info.max, info.page, info.pos,
                  info.trackPos};
    return ::SetScrollInfo(window, bar, &si, redraw);
}

ScrollInfo Win32WindowSystem::GetScrollInfo(Window window, int bar) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    if (!::GetScrollInfo(window, bar, &si)) return {};
    return ScrollInfo{si.fMask, si.nMin, si.nMax, si.nPage, si.nPos, si.nTrackPos};
}

int Win32WindowSystem::ScrollPos(Window window, int bar) { return GetScrollPos(window, bar); }

int Win32WindowSystem::SetScrollPos(Window window, int bar, int pos, bool redraw) {
    return ::SetScrollPos(window, bar, pos, redraw);
}

intptr_t Win32WindowSystem::Send(Window window, unsigned message, uintptr_t wParam,
                                 intptr_t lParam) {
    return SendMessageA(window, message, wParam, lParam);
}

// ---- Subclassing ------------------------------------------------------------------------------

bool Win32WindowSystem::Subclass(Window control, ControlHook& hook) {
    return SetWindowSubclass(control, SubclassProc, kSubclassId,
                             reinterpret_cast<DWORD_PTR>(&hook)) != FALSE;
}

void Win32WindowSystem::Unsubclass(Window control) {
    RemoveWindowSubclass(control, SubclassProc, kSubclassId);
}

intptr_t Win32WindowSystem::CallDefault(Window control, const Message& message) {
    return DefSubclassProc(control, message.message, message.wParam, message.lParam);
}

}  // namespace win32

WindowSystem* PlatformWindowSystem() {
    static win32::Win32WindowSystem system;
    return &system;
}

}  // namespace tavix::platform
