// List views: items with label, image, state and data, their notifications, the label editor.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <string>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;

// ---- List views --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListViewSetImageList(Window list, const ImageList* images) {
    if (Node* node = Find(list)) node->listView.images = images;
}

const ImageList* HeadlessWindowSystem::ListViewImages(Window list) {
    Node* node = Find(list);
    return node ? node->listView.images : nullptr;
}

int HeadlessWindowSystem::ListViewItemImage(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->listView.items.size()))
        return -1;
    return node->listView.items[static_cast<size_t>(index)].image;
}

int HeadlessWindowSystem::ListViewCount(Window list) {
    Node* node = Find(list);
    return node ? static_cast<int>(node->listView.items.size()) : 0;
}

// Changes one item's state (within mask), label or image, with LVN_ITEMCHANGING before (not
// for an item being inserted, which cannot be vetoed) and LVN_ITEMCHANGED after, and the focus
// (one item at most) and single selection kept.
bool HeadlessWindowSystem::LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                                        const std::string* text, const int* image,
                                        bool inserting) {
    if (index < 0 || index >= static_cast<int>(list->listView.items.size())) return false;
    ListViewItem& item = list->listView.items[static_cast<size_t>(index)];
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
    if (!inserting && Notify(list, lvn::kItemChanging, data) != 0) return false;  // vetoed
    if (index >= static_cast<int>(list->listView.items.size())) return false;
    ListViewItem& target = list->listView.items[static_cast<size_t>(index)];
    target.state = state;
    if (text) target.text = *text;
    if (image) target.image = *image;

    if ((state & ~oldState) & lvis::kFocused) {
        for (int i = 0; i < static_cast<int>(list->listView.items.size()); ++i) {
            if (i != index &&
                (list->listView.items[static_cast<size_t>(i)].state & lvis::kFocused)) {
                LvChangeItem(list, i, 0, lvis::kFocused, nullptr, nullptr);
            }
        }
    }
    if (((state & ~oldState) & lvis::kSelected) && (list->style & ws::kLvsSingleSel)) {
        for (int i = 0; i < static_cast<int>(list->listView.items.size()); ++i) {
            if (i != index &&
                (list->listView.items[static_cast<size_t>(i)].state & lvis::kSelected)) {
                LvChangeItem(list, i, 0, lvis::kSelected, nullptr, nullptr);
            }
        }
    }
    data.data = index < static_cast<int>(list->listView.items.size())
                    ? list->listView.items[static_cast<size_t>(index)].data
                    : data.data;
    Notify(list, lvn::kItemChanged, data);
    return true;
}

int HeadlessWindowSystem::ListViewInsert(Window list, int index, const ListViewItem& item) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return -1;
    index = std::clamp(index, 0, static_cast<int>(node->listView.items.size()));
    ListViewItem inserted = item;
    inserted.state = 0;
    node->listView.items.insert(node->listView.items.begin() + index, inserted);
    if (node->listView.editing >= index) ++node->listView.editing;
    // As the common controls do it: an item inserted with a state reports that change first
    // (LVN_ITEMCHANGED, no LVN_ITEMCHANGING), then its insertion.
    if (item.state != 0) {
        LvChangeItem(node, index, item.state, lvis::kFocused | lvis::kSelected, nullptr, nullptr,
                     true);
        if (index >= static_cast<int>(node->listView.items.size())) return -1;
    }
    ListViewNotification data;
    data.item = index;
    data.data = item.data;
    Notify(node, lvn::kInsertItem, data);
    return index;
}

bool HeadlessWindowSystem::ListViewDelete(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->listView.items.size())) {
        return false;
    }
    // The item gives up its selection and focus first, then goes.
    LvChangeItem(node, index, 0, lvis::kFocused | lvis::kSelected, nullptr, nullptr);
    if (index >= static_cast<int>(node->listView.items.size())) return false;
    ListViewNotification data;
    data.item = index;
    data.data = node->listView.items[static_cast<size_t>(index)].data;
    Notify(node, lvn::kDeleteItem, data);
    if (index >= static_cast<int>(node->listView.items.size())) return false;
    if (node->listView.editing == index) {
        node->listView.editing = -1;
        if (node->listView.editor) live_.erase(node->listView.editor.get());
        node->listView.editor.reset();
    } else if (node->listView.editing > index) {
        --node->listView.editing;
    }
    node->listView.items.erase(node->listView.items.begin() + index);
    return true;
}

uintptr_t HeadlessWindowSystem::ListViewData(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->listView.items.size()))
        return 0;
    return node->listView.items[static_cast<size_t>(index)].data;
}

unsigned HeadlessWindowSystem::ListViewState(Window list, int index, unsigned mask) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->listView.items.size()))
        return 0;
    return node->listView.items[static_cast<size_t>(index)].state & mask;
}

std::string HeadlessWindowSystem::ListViewText(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->listView.items.size()))
        return {};
    return node->listView.items[static_cast<size_t>(index)].text.substr(0, 255);
}

bool HeadlessWindowSystem::ListViewSetText(Window list, int index, std::string_view text) {
    Node* node = Find(list);
    if (node == nullptr) return false;
    const std::string label(text);
    return LvChangeItem(node, index, 0, 0, &label, nullptr);
}

bool HeadlessWindowSystem::ListViewSetImage(Window list, int index, int image) {
    Node* node = Find(list);
    return node && LvChangeItem(node, index, 0, 0, nullptr, &image);
}

bool HeadlessWindowSystem::ListViewSetState(Window list, int index, unsigned state,
                                            unsigned mask) {
    Node* node = Find(list);
    if (node == nullptr) return false;
    if (index != -1) return LvChangeItem(node, index, state, mask, nullptr, nullptr);
    for (int i = 0; i < static_cast<int>(node->listView.items.size()); ++i) {
        LvChangeItem(node, i, state, mask, nullptr, nullptr);
    }
    return true;
}

int HeadlessWindowSystem::ListViewNextItem(Window list, int start, unsigned flags) {
    Node* node = Find(list);
    if (node == nullptr) return -1;
    for (int i = std::max(start + 1, 0); i < static_cast<int>(node->listView.items.size()); ++i) {
        if ((node->listView.items[static_cast<size_t>(i)].state & flags) == flags) return i;
    }
    return -1;
}

int HeadlessWindowSystem::ListViewSelectedCount(Window list) {
    Node* node = Find(list);
    if (node == nullptr) return 0;
    return static_cast<int>(std::count_if(node->listView.items.begin(), node->listView.items.end(),
                                          [](const ListViewItem& item) {
                                              return (item.state & lvis::kSelected) != 0;
                                          }));
}

void HeadlessWindowSystem::LvOpenEditor(Node* list, int index) {
    list->listView.editing = index;
    list->listView.editor = std::make_unique<Node>();
    list->listView.editor->kind = Kind::LabelEditor;
    list->listView.editor->parent = list;
    list->listView.editor->text = list->listView.items[static_cast<size_t>(index)].text;
    live_.insert(list->listView.editor.get());
}

void HeadlessWindowSystem::LvEndEdit(Node* list, std::optional<std::string> text) {
    const int index = list->listView.editing;
    if (index < 0) return;
    // The editor is gone before the list tells its parent, so that the parent may open it again.
    list->listView.editing = -1;
    if (list->listView.editor) live_.erase(list->listView.editor.get());
    list->listView.editor.reset();
    ListViewNotification data;
    data.item = index;
    data.data = list->listView.items[static_cast<size_t>(index)].data;
    data.text = text;
    const intptr_t accept = Notify(list, lvn::kEndLabelEdit, data);
    if (text && accept != 0 && index < static_cast<int>(list->listView.items.size())) {
        LvChangeItem(list, index, 0, 0, &*text, nullptr);
    }
}

Window HeadlessWindowSystem::ListViewEditLabel(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || !(node->style & ws::kLvsEditLabels) || index < 0 ||
        index >= static_cast<int>(node->listView.items.size())) {
        return nullptr;
    }
    if (node->listView.editing >= 0) LvEndEdit(node, std::nullopt);
    ListViewNotification data;
    data.item = index;
    data.data = node->listView.items[static_cast<size_t>(index)].data;
    if (Notify(node, lvn::kBeginLabelEdit, data) != 0) return nullptr;  // refused
    if (index >= static_cast<int>(node->listView.items.size())) return nullptr;
    LvOpenEditor(node, index);
    return node->listView.editor->handle();
}

Rect HeadlessWindowSystem::LvItemRect(Node* list, int index) const {
    const Rect client = internal::ClientArea(*list);
    const int perRow = std::max(1, client.right / kIconSpacingX);
    const int left = (index % perRow) * kIconSpacingX, top = (index / perRow) * kIconSpacingY;
    return {left, top, left + kIconSpacingX, top + kIconSpacingY};
}

int HeadlessWindowSystem::ListViewHitTest(Window list, Point point) {
    Node* node = Find(list);
    if (node == nullptr) return -1;
    for (int i = 0; i < static_cast<int>(node->listView.items.size()); ++i) {
        const Rect rect = LvItemRect(node, i);
        if (point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
            point.y < rect.bottom) {
            return i;
        }
    }
    return -1;
}

void HeadlessWindowSystem::LvSelectOnly(Node* list, int index) {
    for (int i = 0; i < static_cast<int>(list->listView.items.size()); ++i) {
        if (i != index && (list->listView.items[static_cast<size_t>(i)].state & lvis::kSelected)) {
            LvChangeItem(list, i, 0, lvis::kSelected, nullptr, nullptr);
        }
    }
    if (index >= 0) {
        LvChangeItem(list, index, lvis::kSelected | lvis::kFocused,
                     lvis::kSelected | lvis::kFocused, nullptr, nullptr);
    }
}

}  // namespace tavix::platform::headless
