#include "platform/dialog_manager.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace tavix::platform::dialog_manager {

namespace {

constexpr uint32_t kBsPushButton = 0x00;

// A mouse message's client point: x in the low word, y in the high word, both signed.
Point PointOfParam(intptr_t lParam) {
    return Point{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
}

// Tab and Shift+Tab: the next or previous tab stop, round the dialog. False when there is none.
bool TabKey(Host& host, Window dialog, Window focus, bool backwards) {
    std::vector<Window> stops;
    for (Window control : host.Controls(dialog)) {
        if ((host.StyleOf(control) & ws::kTabStop) && host.Enabled(control) && host.Shown(control)) {
            stops.push_back(control);
        }
    }
    if (stops.empty()) return false;
    auto at = std::find(stops.begin(), stops.end(), focus);
    const auto count = static_cast<long>(stops.size());
    long next = at == stops.end() ? 0 : (at - stops.begin()) + (backwards ? -1 : 1);
    next = (next % count + count) % count;
    GotoControl(host, stops[static_cast<size_t>(next)]);
    return true;
}

// Enter: the focused push button is clicked; otherwise the default button's command (when it
// is enabled), or IDOK in a dialog without one.
void EnterKey(Host& host, Window dialog, Window focus, intptr_t code) {
    if (focus && ((code & (dlgc::kDefPushButton | dlgc::kUndefPushButton)) ||
                  IsPushButton(host.KindOf(focus), host.StyleOf(focus)))) {
        Command(host, focus, bn::kClicked);
    } else if (const int id = host.DefaultId(dialog); id != 0) {
        Window button = Item(host, dialog, id);
        if (button == nullptr || host.Enabled(button)) ButtonCommand(host, dialog, id);
    } else {
        ButtonCommand(host, dialog, kIdOk);
    }
}

// F1: the key to the focused control, then WM_HELP about it (or about the dialog).
void HelpKey(Host& host, Window dialog, Window focus) {
    if (focus) KeyDown(host, focus, vk::kF1);
    Window about = focus && host.Exists(focus) ? focus : dialog;
    const Message help = Message::Help(host.IdOf(about), about, host.Cursor());
    if (about != dialog) {
        ToControl(host, about, help);
    } else {
        host.ToDialog(dialog, help, nullptr);
    }
}

// The menu key and Shift+F10: WM_CONTEXTMENU from the keyboard (point -1, -1) for the focused
// control or the dialog.
void ContextMenuKey(Host& host, Window dialog, Window focus) {
    if (focus) {
        ToControl(host, focus, Message::ContextMenu(focus, {-1, -1}));
    } else {
        host.ToDialog(dialog, Message::ContextMenu(dialog, {-1, -1}), nullptr);
    }
}

// The notification a control sends its dialog when it gains or loses the focus.
void FocusNotification(Host& host, Window control, bool gained) {
    switch (host.KindOf(control)) {
        case ControlKind::Edit: Command(host, control, gained ? en::kSetFocus : en::kKillFocus); break;
        case ControlKind::ListBox:
            host.ListBoxFocusChanged(control);
            Command(host, control, gained ? lbn::kSetFocus : lbn::kKillFocus);
            break;
        case ControlKind::ListView: {
            ListViewNotification data;
            Notify(host, control, gained ? nm::kSetFocus : nm::kKillFocus, data);
            break;
        }
        default: break;
    }
}

}  // namespace

// ---- Controls -----------------------------------------------------------------------------------

namespace {

bool SameClassName(const WString& name, std::u16string_view expected) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    if (name.size() != expected.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (lower(static_cast<char16_t>(name[i])) != lower(expected[i])) return false;
    }
    return true;
}

}  // namespace

ControlKind KindOfControl(const resources::DialogControl& control) {
    using resources::ControlClass;
    switch (control.kind) {
        case ControlClass::Button: return ControlKind::Button;
        case ControlClass::Edit: return ControlKind::Edit;
        case ControlClass::Static: return ControlKind::Static;
        case ControlClass::ListBox: return ControlKind::ListBox;
        case ControlClass::ComboBox: return ControlKind::ComboBox;
        default: break;
    }
    constexpr std::pair<std::u16string_view, ControlKind> kNamed[] = {
        {u"SysListView32", ControlKind::ListView}, {u"Button", ControlKind::Button},
        {u"Edit", ControlKind::Edit},              {u"Static", ControlKind::Static},
        {u"ListBox", ControlKind::ListBox},
    };
    for (const auto& [name, kind] : kNamed) {
        if (SameClassName(control.className, name)) return kind;
    }
    return ControlKind::Other;
}

bool IsPushButton(ControlKind kind, uint32_t style) {
    return kind == ControlKind::Button &&
           ((style & ws::kBsTypeMask) == kBsPushButton || (style & ws::kBsTypeMask) == ws::kBsDefPushButton);
}

intptr_t DialogCode(ControlKind kind, uint32_t style) {
    switch (kind) {
        case ControlKind::Edit: return dlgc::kWantChars | dlgc::kHasSetSel | dlgc::kWantArrows;
        case ControlKind::ListBox:
        case ControlKind::ListView: return dlgc::kWantChars | dlgc::kWantArrows;
        case ControlKind::Button:
            if (!IsPushButton(kind, style)) return dlgc::kButton;
            return dlgc::kButton | ((style & ws::kBsTypeMask) == ws::kBsDefPushButton ? dlgc::kDefPushButton
                                                                                       : dlgc::kUndefPushButton);
        default: return 0;
    }
}

Window Item(Host& host, Window dialog, int id) {
    if (host.KindOf(dialog) != ControlKind::Dialog) return nullptr;
    for (Window control : host.Controls(dialog)) {
        if (host.IdOf(control) == id) return control;
    }
    return nullptr;
}

Window FirstTabStop(Host& host, Window dialog) {
    for (Window control : host.Controls(dialog)) {
        if ((host.StyleOf(control) & ws::kTabStop) && host.Shown(control) && host.Enabled(control)) {
            return control;
        }
    }
    return nullptr;
}

// ---- Events -------------------------------------------------------------------------------------

void Command(Host& host, Window control, int code) {
    Window dialog = host.DialogOf(control);
    if (dialog == nullptr || dialog == control) return;
    host.ToDialog(dialog, Message::Command(host.IdOf(control), control, code), nullptr);
}

void ButtonCommand(Host& host, Window dialog, int id) {
    host.ToDialog(dialog, Message::Command(id, Item(host, dialog, id)), nullptr);
}

intptr_t Notify(Host& host, Window control, int code, ListViewNotification& data) {
    Window dialog = host.DialogOf(control);
    if (dialog == nullptr) return 0;
    return host.ToDialog(dialog, Message::Notify(host.IdOf(control), control, code, data), nullptr);
}

intptr_t ToControl(Host& host, Window control, Message message) {
    if (!host.Exists(control)) return 0;
    message.window = control;
    message.id = host.IdOf(control);
    if (ControlHook* hook = host.HookOf(control)) {
        bool handled = false;
        const intptr_t result = hook->OnControlMessage(control, message, handled);
        if (handled || !host.Exists(control)) return result;
    }
    return DefaultHandling(host, control, message);
}

intptr_t Send(Host& host, Window control, unsigned message, uintptr_t wParam, intptr_t lParam) {
    Message sent;
    sent.message = message;
    sent.wParam = wParam;
    sent.lParam = lParam;
    return ToControl(host, control, sent);
}

intptr_t DefaultHandling(Host& host, Window control, const Message& message) {
    const ControlKind kind = host.KindOf(control);
    switch (message.message) {
        case wm::kGetDlgCode: return DialogCode(kind, host.StyleOf(control));
        case wm::kSetFocus:
        case wm::kKillFocus: FocusNotification(host, control, message.message == wm::kSetFocus); return 0;
        case wm::kLButtonDown:
            host.MoveFocus(control);
            if (kind == ControlKind::ListBox && host.Exists(control)) {
                host.ListBoxClick(control, PointOfParam(message.lParam));
            }
            return 0;
        case wm::kLButtonDblClk:
            if (kind == ControlKind::ListBox && (host.StyleOf(control) & ws::kLbsNotify)) {
                Command(host, control, lbn::kDblClk);
            }
            return 0;
        case wm::kKeyDown:
            if (kind == ControlKind::ListView) {
                ListViewNotification data;
                data.key = static_cast<int>(message.wParam);
                Notify(host, control, lvn::kKeyDown, data);
                if (host.Exists(control) && !host.Ended(host.DialogOf(control))) host.ListViewKey(control, data.key);
            } else if (kind == ControlKind::ListBox) {
                host.ListBoxKey(control, static_cast<int>(message.wParam));
            }
            return 0;
        case wm::kHScroll:
            if (kind == ControlKind::ListBox) {
                host.ListBoxHScroll(control, static_cast<int>(message.wParam & 0xFFFF),
                                    static_cast<int>((message.wParam >> 16) & 0xFFFF));
            }
            return 0;
        case wm::kContextMenu:
        case wm::kHelp:
            // Passed up to the dialog, naming the window it began in.
            if (Window dialog = host.DialogOf(control)) host.ToDialog(dialog, message, nullptr);
            return 0;
        default:
            return 0;
    }
}

void GotoControl(Host& host, Window control) {
    if (!host.Exists(control)) return;
    host.MoveFocus(control);
    if (host.KindOf(control) == ControlKind::Edit) host.SelectAllText(control);
}

void CloseBox(Host& host, Window dialog) {
    Message close;
    close.message = wm::kClose;
    bool handled = false;
    host.ToDialog(dialog, close, &handled);
    if (handled || host.Ended(dialog)) return;
    ButtonCommand(host, dialog, kIdCancel);
}

// ---- Keys ---------------------------------------------------------------------------------------

KeyOutcome PressKey(Host& host, Window dialog, Window focus, int key, bool shift) {
    Message query;
    query.message = wm::kGetDlgCode;
    query.wParam = static_cast<uintptr_t>(key);
    const intptr_t code = focus ? ToControl(host, focus, query) : 0;
    const bool wantsAll = (code & dlgc::kWantAllKeys) != 0;
    switch (key) {
        case vk::kTab:
            if (wantsAll || (code & dlgc::kWantTab)) return KeyOutcome::ForControl;
            TabKey(host, dialog, focus, shift);
            return KeyOutcome::Handled;
        case vk::kReturn:
            if (wantsAll) return KeyOutcome::ForControl;
            EnterKey(host, dialog, focus, code);
            return KeyOutcome::Handled;
        case vk::kEscape:
            if (wantsAll) return KeyOutcome::ForControl;
            ButtonCommand(host, dialog, kIdCancel);
            return KeyOutcome::Handled;
        case vk::kF1:
            HelpKey(host, dialog, focus);
            return KeyOutcome::Handled;
        case vk::kApps:
            ContextMenuKey(host, dialog, focus);
            return KeyOutcome::Handled;
        case kVkF10:
            if (!shift) return KeyOutcome::Backend;
            ContextMenuKey(host, dialog, focus);
            return KeyOutcome::Handled;
        case vk::kLeft:
        case vk::kRight:
        case vk::kUp:
        case vk::kDown:
            if (!wantsAll && !(code & dlgc::kWantArrows)) return KeyOutcome::Backend;
            break;
        default:
            break;
    }
    return KeyOutcome::ForControl;
}

void KeyDown(Host& host, Window control, int key) {
    Message down;
    down.message = wm::kKeyDown;
    down.wParam = static_cast<uintptr_t>(key);
    ToControl(host, control, down);
}

// ---- List boxes ---------------------------------------------------------------------------------

int ListBoxIndexForKey(int key, int current, int count) {
    if (count <= 0) return -1;
    switch (key) {
        case vk::kLeft:
        case vk::kUp: return std::max(0, current - 1);
        case vk::kRight:
        case vk::kDown: return std::min(count - 1, current + 1);
        case vk::kHome: return 0;
        case vk::kEnd: return count - 1;
        default: return -1;
    }
}

void ListBoxSelectionChanged(Host& host, Window list) {
    if (host.StyleOf(list) & ws::kLbsNotify) Command(host, list, lbn::kSelChange);
}

// ---- List views ---------------------------------------------------------------------------------

bool ChangeListViewItem(Host& host, Window list, int index, unsigned newState, unsigned mask,
                        const std::string* text, const int* image, bool inserting) {
    std::vector<ListViewItem>* items = host.ListViewItems(list);
    auto within = [&] { return (items = host.ListViewItems(list)) && index < static_cast<int>(items->size()); };
    if (items == nullptr || index < 0 || index >= static_cast<int>(items->size())) return false;
    const ListViewItem& item = (*items)[static_cast<size_t>(index)];
    const unsigned oldState = item.state;
    const unsigned state = (oldState & ~mask) | (newState & mask);
    unsigned changed = 0;
    if (state != oldState) changed |= lvif::kState;
    if (text && *text != item.text) changed |= lvif::kText;
    if (image && *image != item.image) changed |= lvif::kImage;
    if (changed == 0) return true;

    ListViewNotification data;
    data.item = index;
    data.newState = state;
    data.oldState = oldState;
    data.changed = changed;
    data.data = item.data;
    if (!inserting && Notify(host, list, lvn::kItemChanging, data) != 0) {
        if (within()) host.ListViewItemChanged(list, index);  // vetoed: shown as it was
        return false;
    }
    if (!within()) return false;
    ListViewItem& target = (*items)[static_cast<size_t>(index)];
    target.state = state;
    if (text) target.text = *text;
    if (image) target.image = *image;
    host.ListViewItemChanged(list, index);

    // Gaining the focus takes it from every other item; gaining the selection in a
    // single-selection list takes that too.
    const unsigned gained = state & ~oldState;
    const unsigned exclusive = (gained & lvis::kFocused) |
                               ((host.StyleOf(list) & ws::kLvsSingleSel) ? gained & lvis::kSelected : 0u);
    for (unsigned flag : {lvis::kFocused, lvis::kSelected}) {
        if (!(exclusive & flag)) continue;
        for (int i = 0; (items = host.ListViewItems(list)) && i < static_cast<int>(items->size()); ++i) {
            if (i != index && ((*items)[static_cast<size_t>(i)].state & flag)) {
                ChangeListViewItem(host, list, i, 0, flag, nullptr, nullptr);
            }
        }
    }
    if (within()) data.data = (*items)[static_cast<size_t>(index)].data;
    Notify(host, list, lvn::kItemChanged, data);
    return true;
}

int ListViewItemInserted(Host& host, Window list, int index, const ListViewItem& item) {
    if (item.state != 0) {
        ChangeListViewItem(host, list, index, item.state, lvis::kFocused | lvis::kSelected, nullptr, nullptr, true);
        const std::vector<ListViewItem>* items = host.ListViewItems(list);
        if (items == nullptr || index >= static_cast<int>(items->size())) return -1;
    }
    ListViewNotification data;
    data.item = index;
    data.data = item.data;
    Notify(host, list, lvn::kInsertItem, data);
    return index;
}

void SelectOnlyListViewItem(Host& host, Window list, int index) {
    std::vector<ListViewItem>* items = nullptr;
    for (int i = 0; (items = host.ListViewItems(list)) && i < static_cast<int>(items->size()); ++i) {
        if (i != index && ((*items)[static_cast<size_t>(i)].state & lvis::kSelected)) {
            ChangeListViewItem(host, list, i, 0, lvis::kSelected, nullptr, nullptr);
        }
    }
    if (index >= 0) {
        ChangeListViewItem(host, list, index, lvis::kSelected | lvis::kFocused, lvis::kSelected | lvis::kFocused,
                           nullptr, nullptr);
    }
}

int NextListViewItem(const std::vector<ListViewItem>& items, int start, unsigned flags) {
    for (int i = std::max(start + 1, 0); i < static_cast<int>(items.size()); ++i) {
        if ((items[static_cast<size_t>(i)].state & flags) == flags) return i;
    }
    return -1;
}

int SelectedListViewItems(const std::vector<ListViewItem>& items) {
    return static_cast<int>(std::count_if(items.begin(), items.end(), [](const ListViewItem& item) {
        return (item.state & lvis::kSelected) != 0;
    }));
}

// ---- Scroll bars --------------------------------------------------------------------------------

int SetScrollBar(ScrollInfo& bar, const ScrollInfo& info) {
    if (info.mask & sb::kRange) {
        bar.min = info.min;
        bar.max = info.max;
    }
    if (info.mask & sb::kPage) bar.page = info.page;
    if (info.mask & sb::kPos) bar.pos = info.pos;
    const unsigned range = static_cast<unsigned>(std::max(0, bar.max - bar.min)) + 1;
    bar.page = std::min(bar.page, range);
    const int highest = bar.max - std::max<int>(static_cast<int>(bar.page) - 1, 0);
    bar.pos = std::max(bar.min, std::min(bar.pos, highest));
    return bar.pos;
}

ScrollInfo ScrollBarInfo(const ScrollInfo& bar) {
    ScrollInfo info = bar;
    info.mask = sb::kAll;
    info.trackPos = info.pos;
    return info;
}

bool ScrollBarScrolls(const ScrollInfo& bar) {
    return bar.page <= static_cast<unsigned>(bar.max - bar.min);
}

ScrollInfo* BarOf(ScrollBars& bars, int bar) {
    return bar == sb::kHorz || bar == sb::kVert ? &bars[bar] : nullptr;
}

ScrollInfo GetScrollInfo(Host& host, Window window, int bar) {
    ScrollBars* bars = host.BarsOf(window);
    const ScrollInfo* held = bars ? BarOf(*bars, bar) : nullptr;
    return held ? ScrollBarInfo(*held) : ScrollInfo{};
}

int ScrollPos(Host& host, Window window, int bar) {
    ScrollBars* bars = host.BarsOf(window);
    const ScrollInfo* held = bars ? BarOf(*bars, bar) : nullptr;
    return held ? held->pos : 0;
}

int SetScrollPos(WindowSystem& system, Window window, int bar, int pos, bool redraw) {
    const int old = system.ScrollPos(window, bar);
    ScrollInfo info;
    info.mask = sb::kPos;
    info.pos = pos;
    system.SetScrollInfo(window, bar, info, redraw);
    return old;
}

}  // namespace tavix::platform::dialog_manager
