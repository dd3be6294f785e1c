// The scripted user: mouse and keyboard in the running dialog, routed as the dialog manager
// routes them.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;

// ---- The user ----------------------------------------------------------------------------------
bool HeadlessWindowSystem::Usable(Node* node) const {
    Run* run = RunOf(node);
    return node && run && !run->ended && run == Active() && node->enabled &&
           node->Showing();
}

void HeadlessWindowSystem::AfterAction() {
    ctrl_ = shift_ = false;
    PaintPending();
}

Point HeadlessWindowSystem::Center(Node* node) const {
    const Rect client = internal::ClientArea(*node);
    return {client.right / 2, client.bottom / 2};
}

// A key in the running dialog, routed as the dialog manager routes it (dialog_manager.h); the
// keys it leaves to the focused control reach it as WM_KEYDOWN. Navigation within a group by the
// arrow keys is not modelled: such a key does nothing.
bool HeadlessWindowSystem::PressKeyIn(Window dialog, int key, bool ctrl, bool shift) {
    Run* run = RunOf(Find(dialog));
    if (run == nullptr || run->ended || run != Active()) return false;
    ctrl_ = ctrl;
    shift_ = shift;
    Node* focus = focus_ && RunOf(focus_) == run ? focus_ : nullptr;
    Window focused = focus ? focus->handle() : nullptr;
    const dialog_manager::KeyOutcome outcome =
        dialog_manager::PressKey(*manager_, run->dialog->handle(), focused, key, shift);
    if (outcome == dialog_manager::KeyOutcome::ForControl && focus) {
        dialog_manager::KeyDown(*manager_, focused, key);
    }
    AfterAction();
    return true;
}

Window User::Item(int id) const { return system_.DialogItem(dialog_, id); }

bool User::Running() const {
    auto* run = system_.RunOf(system_.Find(dialog_));
    return run && !run->ended;
}

std::string User::Text(int id) const {
    return system_.Text(id == 0 ? dialog_ : Item(id));
}

bool User::Enabled(int id) const { return system_.IsEnabled(Item(id)); }

bool User::Visible(int id) const { return system_.IsVisible(Item(id)); }

int User::FocusId() const {
    auto* focus = system_.focus_;
    return focus && system_.RunOf(focus) == system_.RunOf(system_.Find(dialog_)) ? focus->id : 0;
}

bool User::Click(int id) {
    auto* node = system_.Find(Item(id));
    if (!system_.Usable(node)) return false;
    const Point center = system_.Center(node);
    system_.cursor_ = system_.ClientToScreen(node->handle(), center);
    if (node->kind == Kind::Button) {
        system_.MoveFocus(node);
        system_.Command(node, bn::kClicked);
    } else {
        Message down;
        down.message = wm::kLButtonDown;
        down.lParam = internal::PointParam(center);
        system_.ToControl(node, down);
    }
    system_.AfterAction();
    return true;
}

bool User::Type(int id, std::string_view text) {
    auto* node = system_.Find(Item(id));
    const auto* edit = internal::StateOf<internal::EditControl>(node);
    if (!system_.Usable(node) || edit == nullptr) return false;
    system_.MoveFocus(node);
    std::string typed(text);
    if (edit->limit > 0 && typed.size() > static_cast<size_t>(edit->limit)) {
        typed.resize(static_cast<size_t>(edit->limit));
    }
    system_.SetText(node->handle(), typed);
    system_.AfterAction();
    return true;
}

bool User::Focus(int id) {
    auto* node = system_.Find(Item(id));
    if (!system_.Usable(node)) return false;
    system_.MoveFocus(node);
    system_.AfterAction();
    return true;
}

bool User::PressKey(int virtualKey, bool ctrl, bool shift) {
    return system_.PressKeyIn(dialog_, virtualKey, ctrl, shift);
}

bool User::ClickAt(int id, Point client, bool ctrl) {
    auto* node = system_.Find(Item(id));
    if (!system_.Usable(node)) return false;
    system_.ctrl_ = ctrl;
    system_.cursor_ = system_.ClientToScreen(node->handle(), client);
    Message down;
    down.message = wm::kLButtonDown;
    down.lParam = internal::PointParam(client);
    system_.ToControl(node, down);
    system_.AfterAction();
    return true;
}

bool User::DoubleClickAt(int id, Point client) {
    if (!ClickAt(id, client)) return false;
    auto* node = system_.Find(Item(id));
    if (!system_.Usable(node)) return true;
    Message twice;
    twice.message = wm::kLButtonDblClk;
    twice.lParam = internal::PointParam(client);
    system_.ToControl(node, twice);
    system_.AfterAction();
    return true;
}

bool User::RightClick(int id) {
    auto* run = system_.RunOf(system_.Find(dialog_));
    if (run == nullptr || run->ended || run != system_.Active()) return false;
    auto* node = id == 0 ? nullptr : system_.Find(Item(id));
    if (id != 0 && (node == nullptr || !system_.IsVisible(node->handle()))) return false;
    if (node && node->kind == Kind::ListView) return RightClickItem(id, -1);
    if (node && node->enabled) {
        system_.cursor_ = system_.ClientToScreen(node->handle(), system_.Center(node));
        system_.ToControl(node, Message::ContextMenu(node->handle(), system_.cursor_));
    } else {
        // The dialog itself, or a disabled control, whose clicks go to the dialog.
        system_.cursor_ = node ? system_.ClientToScreen(node->handle(), system_.Center(node))
                               : system_.ClientToScreen(dialog_, {1, 1});
        system_.ToDialog(*run, Message::ContextMenu(dialog_, system_.cursor_));
    }
    system_.AfterAction();
    return true;
}

bool User::Close() {
    auto* run = system_.RunOf(system_.Find(dialog_));
    if (run == nullptr || run->ended || run != system_.Active()) return false;
    system_.CloseBox(*run);
    system_.AfterAction();
    return true;
}

bool User::Help() { return PressKey(vk::kF1); }

bool User::ClickItem(int listId, int index, bool ctrl) {
    auto* node = system_.Find(Item(listId));
    const auto* view = internal::StateOf<internal::ListViewControl>(node);
    if (!system_.Usable(node) || view == nullptr || index < 0 ||
        index >= static_cast<int>(view->items.size())) {
        return false;
    }
    const Rect rect = system_.LvItemRect(node, index);
    const Point point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    system_.cursor_ = system_.ClientToScreen(node->handle(), point);
    system_.ctrl_ = ctrl;
    if (view->editing >= 0) system_.LvEndEdit(node, std::nullopt);
    system_.MoveFocus(node);
    if (ctrl) {
        const unsigned selected = view->items[static_cast<size_t>(index)].state & lvis::kSelected;
        system_.LvChangeItem(node, index, (selected ^ lvis::kSelected) | lvis::kFocused,
                             lvis::kSelected | lvis::kFocused, nullptr, nullptr);
    } else {
        system_.LvSelectOnly(node, index);
    }
    ListViewNotification data;
    data.item = index;
    data.point = point;
    system_.Notify(node, nm::kClick, data);
    system_.AfterAction();
    return true;
}

bool User::ClickEmpty(int listId) {
    auto* node = system_.Find(Item(listId));
    const auto* view = internal::StateOf<internal::ListViewControl>(node);
    if (!system_.Usable(node) || view == nullptr) return false;
    const Rect client = system_.ClientRect(node->handle());
    const Point point{client.right - 1, client.bottom - 1};
    if (system_.ListViewHitTest(node->handle(), point) >= 0) return false;  // no empty space
    system_.cursor_ = system_.ClientToScreen(node->handle(), point);
    if (view->editing >= 0) system_.LvEndEdit(node, std::nullopt);
    system_.MoveFocus(node);
    system_.LvSelectOnly(node, -1);
    ListViewNotification data;
    data.point = point;
    system_.Notify(node, nm::kClick, data);
    system_.AfterAction();
    return true;
}

bool User::DoubleClickItem(int listId, int index) {
    if (!ClickItem(listId, index)) return false;
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node)) return true;
    ListViewNotification data;
    data.item = index;
    data.point = system_.ScreenToClient(node->handle(), system_.cursor_);
    system_.Notify(node, nm::kDblClk, data);
    system_.AfterAction();
    return true;
}

bool User::DoubleClickEmpty(int listId) {
    if (!ClickEmpty(listId)) return false;
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node)) return true;
    ListViewNotification data;
    data.point = system_.ScreenToClient(node->handle(), system_.cursor_);
    system_.Notify(node, nm::kDblClk, data);
    system_.AfterAction();
    return true;
}

bool User::RightClickItem(int listId, int index) {
    auto* node = system_.Find(Item(listId));
    const auto* view = internal::StateOf<internal::ListViewControl>(node);
    if (!system_.Usable(node) || view == nullptr || index >= static_cast<int>(view->items.size())) {
        return false;
    }
    Point point;
    if (index >= 0) {
        const Rect rect = system_.LvItemRect(node, index);
        point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    } else {
        const Rect client = system_.ClientRect(node->handle());
        point = {client.right - 1, client.bottom - 1};
        if (system_.ListViewHitTest(node->handle(), point) >= 0) return false;
    }
    system_.cursor_ = system_.ClientToScreen(node->handle(), point);
    if (view->editing >= 0) system_.LvEndEdit(node, std::nullopt);
    system_.MoveFocus(node);
    if (index < 0) {
        system_.LvSelectOnly(node, -1);
    } else if (index < static_cast<int>(view->items.size()) &&
               !(view->items[static_cast<size_t>(index)].state & lvis::kSelected)) {
        system_.LvSelectOnly(node, index);
    }
    ListViewNotification data;
    data.item = index;
    data.point = point;
    system_.Notify(node, nm::kRClick, data);
    if (Running()) {
        system_.ToControl(node, Message::ContextMenu(node->handle(), system_.cursor_));
    }
    system_.AfterAction();
    return true;
}

bool User::BeginLabelEdit(int listId, int index) {
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node) || internal::StateOf<internal::ListViewControl>(node) == nullptr) return false;
    system_.MoveFocus(node);
    const bool opened = system_.ListViewEditLabel(node->handle(), index) != nullptr;
    system_.AfterAction();
    return opened;
}

bool User::EndLabelEdit(int listId, std::optional<std::string> text) {
    auto* node = system_.Find(Item(listId));
    const auto* view = internal::StateOf<internal::ListViewControl>(node);
    if (!system_.Usable(node) || view == nullptr || view->editing < 0) return false;
    system_.LvEndEdit(node, std::move(text));
    system_.AfterAction();
    return true;
}

bool User::Editing(int listId) const { return EditingItem(listId) >= 0; }

int User::EditingItem(int listId) const {
    const auto* view = internal::StateOf<internal::ListViewControl>(system_.Find(Item(listId)));
    return view ? view->editing : -1;
}

}  // namespace tavix::platform::headless
