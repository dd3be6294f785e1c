// List boxes: items, selection, owner-drawn heights, sorting and painting, horizontal scrolling.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;
using internal::kOdtListBox;

// ---- List boxes --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListBoxReset(Window list) {
    Node* node = Find(list);
    if (node == nullptr) return;
    node->listBox.items.clear();
    node->listBox.curSel = -1;
    Invalidate(list, nullptr, true);
}

int HeadlessWindowSystem::ListBoxAdd(Window list, std::string_view text, uintptr_t data) {
    Node* node = Find(list);
    Run* run = RunOf(node);
    if (node == nullptr || run == nullptr) return -1;
    const bool ownerDraw =
        (node->style & (ws::kLbsOwnerDrawFixed | ws::kLbsOwnerDrawVariable)) != 0;
    int index = static_cast<int>(node->listBox.items.size());
    if ((node->style & ws::kLbsSort) && ownerDraw && !(node->style & ws::kLbsHasStrings)) {
        // Sorted by the owner: the new item goes before the first one it compares below.
        for (int i = 0; i < static_cast<int>(node->listBox.items.size()); ++i) {
            CompareItemRequest compare{kOdtListBox, node->id, list, -1, data, i,
                                       node->listBox.items[static_cast<size_t>(i)].data};
            Message message;
            message.message = wm::kCompareItem;
            message.id = node->id;
            message.window = list;
            message.compare = &compare;
            if (ToDialog(*run, message) < 0) {
                index = i;
                break;
            }
        }
    }
    Node::ListBox::Item item{std::string(text), data, node->listBox.itemHeight};
    if (node->style & ws::kLbsOwnerDrawVariable) {
        MeasureItemRequest measure{kOdtListBox, node->id, index, 0,
                                   static_cast<unsigned>(node->listBox.itemHeight), data};
        Message message;
        message.message = wm::kMeasureItem;
        message.id = node->id;
        message.measure = &measure;
        ToDialog(*run, message);
        item.height = static_cast<int>(measure.height);
    }
    node->listBox.items.insert(node->listBox.items.begin() + index, std::move(item));
    if (node->listBox.curSel >= index) ++node->listBox.curSel;
    Invalidate(list, nullptr, true);
    return index;
}

// The left button at client height y selects the item there (the last one below them all).
void HeadlessWindowSystem::ListBoxClick(Node* list, int y) {
    const auto& items = list->listBox.items;
    if (items.empty()) return;
    int index = 0, top = 0;
    for (; index + 1 < static_cast<int>(items.size()); ++index) {
        top += items[static_cast<size_t>(index)].height;
        if (y < top) break;
    }
    ListBoxSelect(list, index, true);
}

// The arrow keys, Home and End move the selection; other keys do nothing.
void HeadlessWindowSystem::ListBoxKey(Node* list, int key) {
    if (list->listBox.items.empty()) return;
    const int last = static_cast<int>(list->listBox.items.size()) - 1;
    int index = list->listBox.curSel;
    switch (key) {
        case vk::kUp: index = std::max(0, index - 1); break;
        case vk::kDown: index = std::min(last, index + 1); break;
        case vk::kHome: index = 0; break;
        case vk::kEnd: index = last; break;
        default: return;
    }
    ListBoxSelect(list, index, true);
}

int HeadlessWindowSystem::ListBoxCount(Window list) {
    Node* node = Find(list);
    return node ? static_cast<int>(node->listBox.items.size()) : 0;
}

void HeadlessWindowSystem::ListBoxSelect(Node* list, int index, bool notify) {
    if (index < -1 || index >= static_cast<int>(list->listBox.items.size())) index = -1;
    if (list->listBox.curSel == index) return;
    const int old = list->listBox.curSel;
    list->listBox.curSel = index;
    if (old >= 0) PaintItem(list, old, oda::kSelect);
    if (index >= 0) PaintItem(list, index, oda::kSelect);
    if (notify && (list->style & ws::kLbsNotify)) Command(list, lbn::kSelChange);
}

void HeadlessWindowSystem::ListBoxSetCurSel(Window list, int index) {
    if (Node* node = Find(list)) ListBoxSelect(node, index, false);
}

int HeadlessWindowSystem::ListBoxCurSel(Window list) {
    Node* node = Find(list);
    return node ? node->listBox.curSel : -1;
}

void HeadlessWindowSystem::ListBoxSetColumnWidth(Window list, int width) {
    if (Node* node = Find(list)) node->listBox.columnWidth = width;
}

void HeadlessWindowSystem::ListBoxSetHorizontalPos(Node* list, int pos) {
    const int width = ClientRect(list->handle()).right;
    pos = std::max(0, std::min(pos, list->listBox.extent - width));
    if (pos == list->listBox.horzPos) return;
    list->listBox.horzPos = pos;
    if (list->style & ws::kHScroll) {
        // The list box keeps its bar in step: position and page.
        ScrollInfo info;
        info.mask = sb::kPos | sb::kPage;
        info.pos = pos;
        info.page = static_cast<unsigned>(width);
        SetScrollInfo(list->handle(), sb::kHorz, info, true);
    }
    Invalidate(list->handle(), nullptr, true);
}

void HeadlessWindowSystem::ListBoxSetHorizontalExtent(Window list, int extent) {
    Node* node = Find(list);
    if (node == nullptr || node->listBox.extent == extent) return;
    node->listBox.extent = extent;
    if (node->style & ws::kHScroll) {
        ScrollInfo info;
        info.mask = sb::kRange;
        info.max = extent > 0 ? extent - 1 : 0;
        SetScrollInfo(list, sb::kHorz, info, true);
    }
    const int width = ClientRect(list).right;
    if (node->listBox.horzPos > extent - width) ListBoxSetHorizontalPos(node, extent - width);
}

void HeadlessWindowSystem::ListBoxHScroll(Node* list, int code, int pos) {
    const int width = ClientRect(list->handle()).right;
    switch (code) {
        case sb::kLineLeft: ListBoxSetHorizontalPos(list, list->listBox.horzPos - 1); break;
        case sb::kLineRight: ListBoxSetHorizontalPos(list, list->listBox.horzPos + 1); break;
        case sb::kPageLeft: ListBoxSetHorizontalPos(list, list->listBox.horzPos - width); break;
        case sb::kPageRight: ListBoxSetHorizontalPos(list, list->listBox.horzPos + width); break;
        case sb::kThumbPosition:
        case sb::kThumbTrack: ListBoxSetHorizontalPos(list, pos); break;
        case sb::kLeft: ListBoxSetHorizontalPos(list, 0); break;
        case sb::kRight: ListBoxSetHorizontalPos(list, list->listBox.extent - width); break;
        default: break;
    }
}

int HeadlessWindowSystem::ListBoxHorizontalPos(Window list) {
    Node* node = Find(list);
    return node ? node->listBox.horzPos : 0;
}

void HeadlessWindowSystem::ListBoxSetItemHeight(Window list, int index, int height) {
    Node* node = Find(list);
    if (node == nullptr) return;
    if ((node->style & ws::kLbsOwnerDrawVariable) && index >= 0 &&
        index < static_cast<int>(node->listBox.items.size())) {
        node->listBox.items[static_cast<size_t>(index)].height = height;
    } else if (!(node->style & ws::kLbsOwnerDrawVariable)) {
        node->listBox.itemHeight = height;
        for (auto& item : node->listBox.items) item.height = height;
    }
}

int HeadlessWindowSystem::ListBoxItemHeight(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr) return 0;
    if (index >= 0 && index < static_cast<int>(node->listBox.items.size())) {
        return node->listBox.items[static_cast<size_t>(index)].height;
    }
    return node->listBox.itemHeight;
}

// ---- Owner-drawn painting ----------------------------------------------------------------------
namespace {

class Recorder final : public Painter {
public:
    explicit Recorder(std::vector<PaintOp>& ops) : ops_(ops) {}
    void Fill(const Rect& rect, int sysColor) override {
        ops_.push_back({PaintOp::Fill, rect, sysColor, -1, nullptr});
    }
    void FocusRect(const Rect& rect) override {
        ops_.push_back({PaintOp::FocusRect, rect, 0, -1, nullptr});
    }
    void DrawImage(const ImageList& images, int index, int x, int y) override {
        ops_.push_back({PaintOp::Image, {x, y, x + 32, y + 32}, 0, index, &images});
    }

private:
    std::vector<PaintOp>& ops_;
};

}  // namespace

void HeadlessWindowSystem::PaintItem(Node* list, int index, unsigned action) {
    Run* run = RunOf(list);
    if (run == nullptr || !(list->style & (ws::kLbsOwnerDrawFixed | ws::kLbsOwnerDrawVariable)) ||
        index < 0 || index >= static_cast<int>(list->listBox.items.size())) {
        return;
    }
    int top = 0;
    for (int i = 0; i < index; ++i) top += list->listBox.items[static_cast<size_t>(i)].height;
    const Rect client = ClientRect(list->handle());
    Paint paint;
    paint.controlId = list->id;
    paint.item = index;
    paint.action = action;
    paint.state = (list->listBox.curSel == index ? oda::kStateSelected : 0u) |
                  (focus_ == list && list->listBox.curSel == index ? oda::kStateFocus : 0u);
    paint.rect = {-list->listBox.horzPos, top,
                  std::max(client.right, list->listBox.extent) - list->listBox.horzPos,
                  top + list->listBox.items[static_cast<size_t>(index)].height};
    Recorder recorder(paint.ops);
    DrawItemRequest request{kOdtListBox, list->id, index, action, paint.state, list->handle(),
                            paint.rect, list->listBox.items[static_cast<size_t>(index)].data,
                            &recorder};
    Message message;
    message.message = wm::kDrawItem;
    message.id = list->id;
    message.window = list->handle();
    message.draw = &request;
    ToDialog(*run, message);
    paints_.push_back(std::move(paint));
}

void HeadlessWindowSystem::PaintPending() {
    for (Run* run : runs_) {
        for (auto& control : run->controls) {
            if (!control->invalid) continue;
            control->invalid.reset();
            if (control->kind != Kind::ListBox || !control->visible) continue;
            for (int i = 0; i < static_cast<int>(control->listBox.items.size()); ++i) {
                PaintItem(control.get(), i, oda::kDrawEntire);
            }
        }
    }
}

}  // namespace tavix::platform::headless
