// List views: items with label, image, state and data, their notifications, the label editor.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <string>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;
using internal::ListViewControl;
using internal::StateOf;

// ---- List views --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListViewSetImageList(Window list, const ImageList* images) {
    if (auto* view = StateOf<ListViewControl>(Find(list))) view->images = images;
}

const ImageList* HeadlessWindowSystem::ListViewImages(Window list) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    return view ? view->images : nullptr;
}

int HeadlessWindowSystem::ListViewItemImage(Window list, int index) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    if (view == nullptr || index < 0 || index >= static_cast<int>(view->items.size())) return -1;
    return view->items[static_cast<size_t>(index)].image;
}

int HeadlessWindowSystem::ListViewCount(Window list) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    return view ? static_cast<int>(view->items.size()) : 0;
}

bool HeadlessWindowSystem::LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                                        const std::string* text, const int* image,
                                        bool inserting) {
    return dialog_manager::ChangeListViewItem(*manager_, list->handle(), index, newState, mask, text,
                                              image, inserting);
}

int HeadlessWindowSystem::ListViewInsert(Window list, int index, const ListViewItem& item) {
    Node* node = Find(list);
    auto* view = StateOf<ListViewControl>(node);
    if (view == nullptr) return -1;
    index = std::clamp(index, 0, static_cast<int>(view->items.size()));
    ListViewItem inserted = item;
    inserted.state = 0;
    view->items.insert(view->items.begin() + index, inserted);
    if (view->editing >= index) ++view->editing;
    return dialog_manager::ListViewItemInserted(*manager_, list, index, item);
}

bool HeadlessWindowSystem::ListViewDelete(Window list, int index) {
    Node* node = Find(list);
    auto* view = StateOf<ListViewControl>(node);
    if (view == nullptr || index < 0 || index >= static_cast<int>(view->items.size())) {
        return false;
    }
    // The item gives up its selection and focus first, then goes.
    LvChangeItem(node, index, 0, lvis::kFocused | lvis::kSelected, nullptr, nullptr);
    if (index >= static_cast<int>(view->items.size())) return false;
    ListViewNotification data;
    data.item = index;
    data.data = view->items[static_cast<size_t>(index)].data;
    Notify(node, lvn::kDeleteItem, data);
    if (index >= static_cast<int>(view->items.size())) return false;
    if (view->editing == index) {
        view->editing = -1;
        if (view->editor) live_.erase(view->editor.get());
        view->editor.reset();
    } else if (view->editing > index) {
        --view->editing;
    }
    view->items.erase(view->items.begin() + index);
    return true;
}

uintptr_t HeadlessWindowSystem::ListViewData(Window list, int index) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    if (view == nullptr || index < 0 || index >= static_cast<int>(view->items.size())) return 0;
    return view->items[static_cast<size_t>(index)].data;
}

unsigned HeadlessWindowSystem::ListViewState(Window list, int index, unsigned mask) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    if (view == nullptr || index < 0 || index >= static_cast<int>(view->items.size())) return 0;
    return view->items[static_cast<size_t>(index)].state & mask;
}

std::string HeadlessWindowSystem::ListViewText(Window list, int index) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    if (view == nullptr || index < 0 || index >= static_cast<int>(view->items.size())) return {};
    return view->items[static_cast<size_t>(index)].text.substr(0, 255);
}

bool HeadlessWindowSystem::ListViewSetText(Window list, int index, std::string_view text) {
    Node* node = Find(list);
    if (StateOf<ListViewControl>(node) == nullptr) return false;
    const std::string label(text);
    return LvChangeItem(node, index, 0, 0, &label, nullptr);
}

bool HeadlessWindowSystem::ListViewSetImage(Window list, int index, int image) {
    Node* node = Find(list);
    return StateOf<ListViewControl>(node) && LvChangeItem(node, index, 0, 0, nullptr, &image);
}

bool HeadlessWindowSystem::ListViewSetState(Window list, int index, unsigned state,
                                            unsigned mask) {
    Node* node = Find(list);
    const auto* view = StateOf<ListViewControl>(node);
    if (view == nullptr) return false;
    if (index != -1) return LvChangeItem(node, index, state, mask, nullptr, nullptr);
    for (int i = 0; i < static_cast<int>(view->items.size()); ++i) {
        LvChangeItem(node, i, state, mask, nullptr, nullptr);
    }
    return true;
}

int HeadlessWindowSystem::ListViewNextItem(Window list, int start, unsigned flags) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    return view ? dialog_manager::NextListViewItem(view->items, start, flags) : -1;
}

int HeadlessWindowSystem::ListViewSelectedCount(Window list) {
    const auto* view = StateOf<ListViewControl>(Find(list));
    return view ? dialog_manager::SelectedListViewItems(view->items) : 0;
}

void HeadlessWindowSystem::LvOpenEditor(Node* list, int index) {
    auto* view = list->As<ListViewControl>();
    if (view == nullptr) return;
    view->editing = index;
    view->editor = std::make_unique<Node>(Kind::LabelEditor);
    view->editor->parent = list;
    view->editor->text = view->items[static_cast<size_t>(index)].text;
    live_.insert(view->editor.get());
}

void HeadlessWindowSystem::LvEndEdit(Node* list, std::optional<std::string> text) {
    auto* view = list->As<ListViewControl>();
    if (view == nullptr || view->editing < 0) return;
    const int index = view->editing;
    // The editor is gone before the list tells its parent, so that the parent may open it again.
    view->editing = -1;
    if (view->editor) live_.erase(view->editor.get());
    view->editor.reset();
    ListViewNotification data;
    data.item = index;
    data.data = view->items[static_cast<size_t>(index)].data;
    data.text = text;
    const intptr_t accept = Notify(list, lvn::kEndLabelEdit, data);
    if (text && accept != 0 && index < static_cast<int>(view->items.size())) {
        LvChangeItem(list, index, 0, 0, &*text, nullptr);
    }
}

Window HeadlessWindowSystem::ListViewEditLabel(Window list, int index) {
    Node* node = Find(list);
    auto* view = StateOf<ListViewControl>(node);
    if (view == nullptr || !(node->style & ws::kLvsEditLabels) || index < 0 ||
        index >= static_cast<int>(view->items.size())) {
        return nullptr;
    }
    if (view->editing >= 0) LvEndEdit(node, std::nullopt);
    ListViewNotification data;
    data.item = index;
    data.data = view->items[static_cast<size_t>(index)].data;
    if (Notify(node, lvn::kBeginLabelEdit, data) != 0) return nullptr;  // refused
    if (index >= static_cast<int>(view->items.size())) return nullptr;
    LvOpenEditor(node, index);
    return view->editor->handle();
}

Rect HeadlessWindowSystem::LvItemRect(Node* list, int index) const {
    const Rect client = internal::ClientArea(*list);
    const int perRow = std::max(1, client.right / kIconSpacingX);
    const int left = (index % perRow) * kIconSpacingX, top = (index / perRow) * kIconSpacingY;
    return {left, top, left + kIconSpacingX, top + kIconSpacingY};
}

int HeadlessWindowSystem::ListViewHitTest(Window list, Point point) {
    Node* node = Find(list);
    const auto* view = StateOf<ListViewControl>(node);
    if (view == nullptr) return -1;
    for (int i = 0; i < static_cast<int>(view->items.size()); ++i) {
        const Rect rect = LvItemRect(node, i);
        if (point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
            point.y < rect.bottom) {
            return i;
        }
    }
    return -1;
}

void HeadlessWindowSystem::LvSelectOnly(Node* list, int index) {
    dialog_manager::SelectOnlyListViewItem(*manager_, list->handle(), index);
}

}  // namespace tavix::platform::headless
