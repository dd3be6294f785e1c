// List boxes: items, selection, owner-drawn heights, sorting and painting, horizontal scrolling.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::kOdtListBox;
using internal::ListBoxControl;
using internal::StateOf;

// ---- List boxes --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListBoxReset(Window list) {
    auto* box = StateOf<ListBoxControl>(Find(list));
    if (box == nullptr) return;
    box->items.clear();
    box->curSel = -1;
    Invalidate(list, nullptr, true);
}

int HeadlessWindowSystem::ListBoxAdd(Window list, std::string_view text, uintptr_t data) {
    Node* node = Find(list);
    Run* run = RunOf(node);
    auto* box = StateOf<ListBoxControl>(node);
    if (box == nullptr || run == nullptr) return -1;
    const bool ownerDraw =
        (node->style & (ws::kLbsOwnerDrawFixed | ws::kLbsOwnerDrawVariable)) != 0;
    int index = static_cast<int>(box->items.size());
    if ((node->style & ws::kLbsSort) && ownerDraw && !(node->style & ws::kLbsHasStrings)) {
        // Sorted by the owner: the new item goes before the first one it compares below.
        for (int i = 0; i < static_cast<int>(box->items.size()); ++i) {
            CompareItemRequest compare{kOdtListBox, node->id, list, -1, data, i,
                                       box->items[static_cast<size_t>(i)].data};
            if (ToDialog(*run, Message::CompareItem(compare)) < 0) {
                index = i;
                break;
            }
        }
    }
    ListBoxControl::Item item{std::string(text), data, box->itemHeight};
    if (node->style & ws::kLbsOwnerDrawVariable) {
        MeasureItemRequest measure{kOdtListBox, node->id, index, 0,
                                   static_cast<unsigned>(box->itemHeight), data};
        ToDialog(*run, Message::MeasureItem(measure));
        item.height = static_cast<int>(measure.height);
    }
    box->items.insert(box->items.begin() + index, std::move(item));
    if (box->curSel >= index) ++box->curSel;
    Invalidate(list, nullptr, true);
    return index;
}

// The left button at client height y selects the item there (the last one below them all).
void HeadlessWindowSystem::ListBoxClick(Node* list, int y) {
    const auto* box = StateOf<ListBoxControl>(list);
    if (box == nullptr || box->items.empty()) return;
    const auto& items = box->items;
    int index = 0, top = 0;
    for (; index + 1 < static_cast<int>(items.size()); ++index) {
        top += items[static_cast<size_t>(index)].height;
        if (y < top) break;
    }
    ListBoxSelect(list, index, true);
}

// The arrow keys, Home and End move the selection; other keys do nothing.
void HeadlessWindowSystem::ListBoxKey(Node* list, int key) {
    const auto* box = StateOf<ListBoxControl>(list);
    if (box == nullptr) return;
    const int index =
        dialog_manager::ListBoxIndexForKey(key, box->curSel, static_cast<int>(box->items.size()));
    if (index >= 0) ListBoxSelect(list, index, true);
}

// The focused item's focus frame follows the focus.
void HeadlessWindowSystem::ListBoxFocusChanged(Node* list) {
    const auto* box = StateOf<ListBoxControl>(list);
    if (box && box->curSel >= 0) PaintItem(list, box->curSel, oda::kFocus);
}

int HeadlessWindowSystem::ListBoxCount(Window list) {
    const auto* box = StateOf<ListBoxControl>(Find(list));
    return box ? static_cast<int>(box->items.size()) : 0;
}

void HeadlessWindowSystem::ListBoxSelect(Node* list, int index, bool notify) {
    auto* box = list->As<ListBoxControl>();
    if (box == nullptr) return;
    if (index < -1 || index >= static_cast<int>(box->items.size())) index = -1;
    if (box->curSel == index) return;
    const int old = box->curSel;
    box->curSel = index;
    if (old >= 0) PaintItem(list, old, oda::kSelect);
    if (index >= 0) PaintItem(list, index, oda::kSelect);
    if (notify) dialog_manager::ListBoxSelectionChanged(*manager_, list->handle());
}

void HeadlessWindowSystem::ListBoxSetCurSel(Window list, int index) {
    if (Node* node = Find(list); StateOf<ListBoxControl>(node)) ListBoxSelect(node, index, false);
}

int HeadlessWindowSystem::ListBoxCurSel(Window list) {
    const auto* box = StateOf<ListBoxControl>(Find(list));
    return box ? box->curSel : -1;
}

void HeadlessWindowSystem::ListBoxSetColumnWidth(Window list, int width) {
    if (auto* box = StateOf<ListBoxControl>(Find(list))) box->columnWidth = width;
}

void HeadlessWindowSystem::ListBoxSetHorizontalPos(Node* list, int pos) {
    auto* box = list->As<ListBoxControl>();
    if (box == nullptr) return;
    const int width = ClientRect(list->handle()).right;
    pos = std::max(0, std::min(pos, box->extent - width));
    if (pos == box->horzPos) return;
    box->horzPos = pos;
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
    auto* box = StateOf<ListBoxControl>(node);
    if (box == nullptr || box->extent == extent) return;
    box->extent = extent;
    if (node->style & ws::kHScroll) {
        ScrollInfo info;
        info.mask = sb::kRange;
        info.max = extent > 0 ? extent - 1 : 0;
        SetScrollInfo(list, sb::kHorz, info, true);
    }
    const int width = ClientRect(list).right;
    if (box->horzPos > extent - width) ListBoxSetHorizontalPos(node, extent - width);
}

void HeadlessWindowSystem::ListBoxHScroll(Node* list, int code, int pos) {
    const auto* box = list->As<ListBoxControl>();
    if (box == nullptr) return;
    const int width = ClientRect(list->handle()).right;
    switch (code) {
        case sb::kLineLeft: ListBoxSetHorizontalPos(list, box->horzPos - 1); break;
        case sb::kLineRight: ListBoxSetHorizontalPos(list, box->horzPos + 1); break;
        case sb::kPageLeft: ListBoxSetHorizontalPos(list, box->horzPos - width); break;
        case sb::kPageRight: ListBoxSetHorizontalPos(list, box->horzPos + width); break;
        case sb::kThumbPosition:
        case sb::kThumbTrack: ListBoxSetHorizontalPos(list, pos); break;
        case sb::kLeft: ListBoxSetHorizontalPos(list, 0); break;
        case sb::kRight: ListBoxSetHorizontalPos(list, box->extent - width); break;
        default: break;
    }
}

int HeadlessWindowSystem::ListBoxHorizontalPos(Window list) {
    const auto* box = StateOf<ListBoxControl>(Find(list));
    return box ? box->horzPos : 0;
}

void HeadlessWindowSystem::ListBoxSetItemHeight(Window list, int index, int height) {
    Node* node = Find(list);
    auto* box = StateOf<ListBoxControl>(node);
    if (box == nullptr) return;
    if ((node->style & ws::kLbsOwnerDrawVariable) && index >= 0 &&
        index < static_cast<int>(box->items.size())) {
        box->items[static_cast<size_t>(index)].height = height;
    } else if (!(node->style & ws::kLbsOwnerDrawVariable)) {
        box->itemHeight = height;
        for (auto& item : box->items) item.height = height;
    }
}

int HeadlessWindowSystem::ListBoxItemHeight(Window list, int index) {
    const auto* box = StateOf<ListBoxControl>(Find(list));
    if (box == nullptr) return 0;
    if (index >= 0 && index < static_cast<int>(box->items.size())) {
        return box->items[static_cast<size_t>(index)].height;
    }
    return box->itemHeight;
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
    const auto* box = list->As<ListBoxControl>();
    if (run == nullptr || box == nullptr || !(list->style & (ws::kLbsOwnerDrawFixed | ws::kLbsOwnerDrawVariable)) ||
        index < 0 || index >= static_cast<int>(box->items.size())) {
        return;
    }
    int top = 0;
    for (int i = 0; i < index; ++i) top += box->items[static_cast<size_t>(i)].height;
    const Rect client = ClientRect(list->handle());
    Paint paint;
    paint.controlId = list->id;
    paint.item = index;
    paint.action = action;
    paint.state = (box->curSel == index ? oda::kStateSelected : 0u) |
                  (focus_ == list && box->curSel == index ? oda::kStateFocus : 0u);
    paint.rect = {-box->horzPos, top,
                  std::max(client.right, box->extent) - box->horzPos,
                  top + box->items[static_cast<size_t>(index)].height};
    Recorder recorder(paint.ops);
    DrawItemRequest request{kOdtListBox, list->id, index, action, paint.state, list->handle(),
                            paint.rect, box->items[static_cast<size_t>(index)].data,
                            &recorder};
    ToDialog(*run, Message::DrawItem(request));
    paints_.push_back(std::move(paint));
}

void HeadlessWindowSystem::PaintPending() {
    for (Run* run : runs_) {
        for (auto& control : run->controls) {
            if (!control->invalid) continue;
            control->invalid.reset();
            const auto* box = control->As<ListBoxControl>();
            if (box == nullptr || !control->visible) continue;
            for (int i = 0; i < static_cast<int>(box->items.size()); ++i) {
                PaintItem(control.get(), i, oda::kDrawEntire);
            }
        }
    }
}

}  // namespace tavix::platform::headless
