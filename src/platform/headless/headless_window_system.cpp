// The script and its log, and what every window has: text, flags, focus, geometry, scroll
// bars, subclassing.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <utility>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;

// ---- Set-up, the script, the log -------------------------------------------------------------

HeadlessWindowSystem::HeadlessWindowSystem(TemplateSource templates)
    : manager_(std::make_unique<Manager>(*this)), templates_(std::move(templates)) {}

HeadlessWindowSystem::~HeadlessWindowSystem() = default;

void HeadlessWindowSystem::Expect(uint32_t templateId, Act act, Prepare prepare) {
    script_.emplace_back(templateId, std::move(act), std::move(prepare));
}

std::vector<Record> HeadlessWindowSystem::RecordsOf(Record::Kind kind) const {
    std::vector<Record> result;
    for (const Record& record : records_) {
        if (record.kind == kind) result.push_back(record);
    }
    return result;
}

void HeadlessWindowSystem::ClearLog() {
    records_.clear();
    paints_.clear();
    invalidations_.clear();
}

void HeadlessWindowSystem::SetBaseUnits(int x, int y) {
    baseX_ = x;
    baseY_ = y;
}

void HeadlessWindowSystem::Problem(std::string text) { problems_.push_back(std::move(text)); }

HeadlessWindowSystem::Node* HeadlessWindowSystem::Find(Window window) const {
    auto* node = reinterpret_cast<Node*>(window);
    return live_.contains(node) ? node : nullptr;
}

HeadlessWindowSystem::Run* HeadlessWindowSystem::RunOf(const Node* node) const {
    while (node && node->parent) node = node->parent;
    for (Run* run : runs_) {
        if (run->dialog.get() == node) return run;
    }
    return nullptr;
}

// ---- Windows -----------------------------------------------------------------------------------
std::string HeadlessWindowSystem::Text(Window window) {
    Node* node = Find(window);
    return node ? node->text : std::string();
}

void HeadlessWindowSystem::SetText(Window window, std::string_view text) {
    Node* node = Find(window);
    if (node == nullptr) return;
    node->text = text;
    if (node->kind == Kind::Edit) {
        Command(node, en::kUpdate);
        Command(node, en::kChange);
    }
}

void HeadlessWindowSystem::Enable(Window window, bool enable) {
    Node* node = Find(window);
    if (node == nullptr || node->enabled == enable) return;
    node->enabled = enable;
    if (!enable && focus_ == node) MoveFocus(nullptr);  // a disabled window cannot keep it
}

bool HeadlessWindowSystem::IsEnabled(Window window) {
    Node* node = Find(window);
    return node && node->enabled;
}

void HeadlessWindowSystem::Show(Window window, bool show) {
    if (Node* node = Find(window)) node->visible = show;
}

bool HeadlessWindowSystem::IsVisible(Window window) {
    Node* node = Find(window);
    return node && node->Showing();
}

Window HeadlessWindowSystem::Focus() { return focus_ ? focus_->handle() : nullptr; }

void HeadlessWindowSystem::SetFocus(Window window) { MoveFocus(Find(window)); }

namespace {

struct Insets {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// The frame and scroll bars around a control's client area; a dialog's client area is all of it.
Insets NonClient(const HeadlessWindowSystem::Node& node) {
    Insets insets;
    if (node.kind == Kind::Dialog) return insets;
    int frame = 0;
    if (node.style & ws::kBorder) frame += 1;
    if (node.exStyle & ws::kExClientEdge) frame += 2;
    insets = {frame, frame, frame, frame};
    if (node.style & ws::kHScroll) insets.bottom += HeadlessWindowSystem::kScrollBarSize;
    if (node.style & ws::kVScroll) insets.right += HeadlessWindowSystem::kScrollBarSize;
    return insets;
}

}  // namespace

Rect internal::ClientArea(const HeadlessWindowSystem::Node& node) {
    const Insets insets = NonClient(node);
    return {0, 0, std::max(0, node.rect.Width() - insets.left - insets.right),
            std::max(0, node.rect.Height() - insets.top - insets.bottom)};
}

Rect HeadlessWindowSystem::ClientRect(Window window) {
    Node* node = Find(window);
    return node ? internal::ClientArea(*node) : Rect{};
}

Rect HeadlessWindowSystem::WindowRect(Window window) {
    Node* node = Find(window);
    if (node == nullptr) return {};
    if (node->parent == nullptr) return node->rect;
    const Rect& origin = node->parent->rect;
    return {origin.left + node->rect.left, origin.top + node->rect.top,
            origin.left + node->rect.right, origin.top + node->rect.bottom};
}

void HeadlessWindowSystem::SetWindowSize(Window window, int width, int height) {
    Node* node = Find(window);
    if (node == nullptr) return;
    node->rect.right = node->rect.left + width;
    node->rect.bottom = node->rect.top + height;
}

Point HeadlessWindowSystem::ClientToScreen(Window window, Point client) {
    Node* node = Find(window);
    if (node == nullptr) return client;
    const Rect outer = WindowRect(window);
    const Insets insets = NonClient(*node);
    return {outer.left + insets.left + client.x, outer.top + insets.top + client.y};
}

Point HeadlessWindowSystem::ScreenToClient(Window window, Point screen) {
    const Point origin = ClientToScreen(window, {0, 0});
    return {screen.x - origin.x, screen.y - origin.y};
}

void HeadlessWindowSystem::Invalidate(Window window, const Rect* rect, bool erase) {
    Node* node = Find(window);
    if (node == nullptr) return;
    const Rect client = ClientRect(window);
    const Rect area = rect ? *rect : client;
    node->invalid = node->invalid ? Rect{std::min(node->invalid->left, area.left),
                                         std::min(node->invalid->top, area.top),
                                         std::max(node->invalid->right, area.right),
                                         std::max(node->invalid->bottom, area.bottom)}
                                  : area;
    invalidations_.push_back({node->id, rect ? std::optional<Rect>(*rect) : std::nullopt, erase});
}

// ---- Scroll bars -------------------------------------------------------------------------------
int HeadlessWindowSystem::SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool) {
    Node* node = Find(window);
    ScrollInfo* held = node ? dialog_manager::BarOf(node->bars, bar) : nullptr;
    if (held == nullptr) return 0;
    const int pos = dialog_manager::SetScrollBar(*held, info);
    // A bar that cannot scroll is disabled (with the disable-instead-of-hide flag) or hidden.
    node->barEnabled[bar] = dialog_manager::ScrollBarScrolls(*held);
    return pos;
}

ScrollInfo HeadlessWindowSystem::GetScrollInfo(Window window, int bar) {
    return dialog_manager::GetScrollInfo(*manager_, window, bar);
}

int HeadlessWindowSystem::ScrollPos(Window window, int bar) {
    return dialog_manager::ScrollPos(*manager_, window, bar);
}

int HeadlessWindowSystem::SetScrollPos(Window window, int bar, int pos, bool redraw) {
    return dialog_manager::SetScrollPos(*this, window, bar, pos, redraw);
}

intptr_t HeadlessWindowSystem::Send(Window window, unsigned message, uintptr_t wParam,
                                    intptr_t lParam) {
    return dialog_manager::Send(*manager_, window, message, wParam, lParam);
}

bool HeadlessWindowSystem::Subclass(Window control, ControlHook& hook) {
    Node* node = Find(control);
    if (node == nullptr || node->hook != nullptr) return false;
    node->hook = &hook;
    return true;
}

void HeadlessWindowSystem::Unsubclass(Window control) {
    if (Node* node = Find(control)) node->hook = nullptr;
}

}  // namespace tavix::platform::headless
