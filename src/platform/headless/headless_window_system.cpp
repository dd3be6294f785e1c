#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <cwctype>
#include <tuple>
#include <utility>

#include "frame/library_context.h"

namespace tavix::platform::headless {

namespace {

enum class Kind { Dialog, Button, Edit, Static, ListBox, ComboBox, ListView, LabelEditor, Other };

constexpr unsigned kOdtListBox = 2;
constexpr int kDefaultItemHeight = 16;
constexpr uint32_t kBsPushButton = 0x00;
constexpr unsigned kMbTypeMask = 0x0F;

int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + (product >= 0 ? c / 2 : -c / 2)) / c);
}

bool SameClassName(const WString& name, std::u16string_view expected) {
    if (name.size() != expected.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(name[i])) !=
            std::towlower(static_cast<wint_t>(expected[i]))) {
            return false;
        }
    }
    return true;
}

Kind KindOf(const resources::DialogControl& control) {
    using resources::ControlClass;
    switch (control.kind) {
        case ControlClass::Button: return Kind::Button;
        case ControlClass::Edit: return Kind::Edit;
        case ControlClass::Static: return Kind::Static;
        case ControlClass::ListBox: return Kind::ListBox;
        case ControlClass::ComboBox: return Kind::ComboBox;
        default: break;
    }
    if (SameClassName(control.className, u"SysListView32")) return Kind::ListView;
    if (SameClassName(control.className, u"Button")) return Kind::Button;
    if (SameClassName(control.className, u"Edit")) return Kind::Edit;
    if (SameClassName(control.className, u"Static")) return Kind::Static;
    if (SameClassName(control.className, u"ListBox")) return Kind::ListBox;
    return Kind::Other;
}

int DefaultAnswer(unsigned style) {
    switch (style & kMbTypeMask) {
        case 0x02: return 3;  // abort, retry, ignore: abort
        case kMbYesNo:
        case kMbYesNoCancel: return kIdYes;
        case 0x05: return 4;  // retry, cancel: retry
        default: return kIdOk;
    }
}

}  // namespace

struct HeadlessWindowSystem::Node {
    Kind kind = Kind::Other;
    Node* parent = nullptr;
    int id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string text;
    bool enabled = true;
    bool visible = true;
    Rect rect;  // a dialog: on the screen; a control: in its dialog's client area
    ControlHook* hook = nullptr;
    std::optional<Rect> invalid;

    int limit = 0;                 // edit
    IconHandle icon = nullptr;     // button

    struct ListBoxItem {
        std::string text;
        uintptr_t data = 0;
        int height = kDefaultItemHeight;
    };
    std::vector<ListBoxItem> lbItems;  // list box
    int curSel = -1;
    int columnWidth = 0;
    int extent = 0;
    int horzPos = 0;
    int itemHeight = kDefaultItemHeight;
    ScrollInfo bars[2];
    bool barEnabled[2] = {true, true};

    std::vector<ListViewItem> lvItems;  // list view
    const ImageList* images = nullptr;
    int editing = -1;
    std::unique_ptr<Node> editor;

    bool PushButton() const {
        return kind == Kind::Button && ((style & ws::kBsTypeMask) == kBsPushButton ||
                                        (style & ws::kBsTypeMask) == ws::kBsDefPushButton);
    }
    Window handle() { return reinterpret_cast<Window>(this); }
};

struct HeadlessWindowSystem::Run {
    uint32_t templateId = 0;
    std::unique_ptr<Node> dialog;
    std::vector<std::unique_ptr<Node>> controls;  // in tab order
    DialogSink* sink = nullptr;
    bool ended = false;
    int code = 0;
    int defaultId = 0;
};

// ---- Set-up, the script, the log -------------------------------------------------------------

HeadlessWindowSystem::HeadlessWindowSystem(TemplateSource templates)
    : templates_(std::move(templates)) {
    if (!templates_) templates_ = [](uint32_t id) { return LoadDialogTemplate(id); };
}

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

// ---- Modal dialogs -----------------------------------------------------------------------------
int HeadlessWindowSystem::RunModal(uint32_t templateId, Window /*parent*/, DialogSink& sink) {
    std::optional<resources::DialogTemplate> dialogTemplate = templates_(templateId);
    if (!dialogTemplate) return -1;

    Run run;
    run.templateId = templateId;
    run.sink = &sink;
    opened_.push_back(templateId);

    const int size = dialogTemplate->fontSize > 0 ? dialogTemplate->fontSize : 8;
    const int unitX = baseX_ > 0 ? baseX_ : MulDiv(6, size, 8);
    const int unitY = baseY_ > 0 ? baseY_ : MulDiv(13, size, 8);
    auto toPixels = [&](int x, int y, int cx, int cy) {
        const int left = MulDiv(x, unitX, 4), top = MulDiv(y, unitY, 8);
        return Rect{left, top, left + MulDiv(cx, unitX, 4), top + MulDiv(cy, unitY, 8)};
    };

    const CodePage& codePage = ActiveCodePage();
    run.dialog = std::make_unique<Node>();
    Node& dialog = *run.dialog;
    dialog.kind = Kind::Dialog;
    dialog.style = dialogTemplate->style;
    dialog.text = codePage.ToNarrow(dialogTemplate->caption);
    const int depth = static_cast<int>(runs_.size());
    dialog.rect = toPixels(dialogTemplate->x, dialogTemplate->y, dialogTemplate->cx,
                           dialogTemplate->cy);
    const int shift = 100 + 30 * depth;  // on the screen, each nested dialog a little lower
    dialog.rect = {dialog.rect.left + shift, dialog.rect.top + shift, dialog.rect.right + shift,
                   dialog.rect.bottom + shift};
    live_.insert(&dialog);

    for (const resources::DialogControl& item : dialogTemplate->controls) {
        auto node = std::make_unique<Node>();
        node->kind = KindOf(item);
        node->parent = &dialog;
        node->id = item.id;
        node->style = item.style;
        node->exStyle = item.exStyle;
        node->text = codePage.ToNarrow(item.text);
        node->visible = (item.style & ws::kVisible) != 0;
        node->enabled = (item.style & ws::kDisabled) == 0;
        node->rect = toPixels(item.x, item.y, item.cx, item.cy);
        if (node->kind == Kind::Button && (item.style & ws::kBsTypeMask) == ws::kBsDefPushButton &&
            run.defaultId == 0) {
            run.defaultId = item.id;
        }
        live_.insert(node.get());
        run.controls.push_back(std::move(node));
    }

    runs_.push_back(&run);
    // The windows exist: an owner-drawn list box of fixed height asks for it now.
    for (auto& control : run.controls) {
        if (control->kind == Kind::ListBox && (control->style & ws::kLbsOwnerDrawFixed)) {
            MeasureItemRequest measure{kOdtListBox, control->id, 0, 0,
                                       static_cast<unsigned>(kDefaultItemHeight), 0};
            Message message;
            message.message = wm::kMeasureItem;
            message.id = control->id;
            message.measure = &measure;
            ToDialog(run, message);
            control->itemHeight = static_cast<int>(measure.height);
        }
    }

    Act act;
    Prepare prepare;
    if (script_.empty()) {
        Problem("dialog " + std::to_string(templateId) + " opened with no act left in the script");
    } else {
        auto [expected, nextAct, nextPrepare] = std::move(script_.front());
        script_.pop_front();
        if (expected != templateId) {
            Problem("dialog " + std::to_string(templateId) + " opened where the script expected " +
                    std::to_string(expected));
        } else {
            act = std::move(nextAct);
            prepare = std::move(nextPrepare);
        }
    }
    if (prepare) prepare(*this, dialog.handle());

    // A modal window takes the focus from whichever window had it, and gives it back after.
    Node* const savedFocus = focus_;
    Message init;
    init.message = wm::kInitDialog;
    Node* firstTabStop = nullptr;
    for (auto& control : run.controls) {
        if ((control->style & ws::kTabStop) && control->visible && control->enabled) {
            firstTabStop = control.get();
            break;
        }
    }
    init.wParam = reinterpret_cast<uintptr_t>(firstTabStop ? firstTabStop->handle() : nullptr);
    const intptr_t setFocus = ToDialog(run, init);
    if (setFocus != 0 && !run.ended) {
        MoveFocus(firstTabStop);
        if (firstTabStop && firstTabStop->kind == Kind::Edit) SelectAllText(firstTabStop->handle());
    } else if (RunOf(focus_) != &run) {
        MoveFocus(nullptr);
    }
    PaintPending();

    if (act && !run.ended) {
        User user(*this, dialog.handle());
        act(user);
        PaintPending();
    }
    if (!run.ended) {
        if (act) Problem("dialog " + std::to_string(templateId) + " left open by its act");
        CloseBox(run);
        if (!run.ended) EndDialog(dialog.handle(), kIdCancel);
    }

    Message destroy;
    destroy.message = wm::kDestroy;
    ToDialog(run, destroy);

    for (auto& control : run.controls) {
        if (control->editor) live_.erase(control->editor.get());
        live_.erase(control.get());
    }
    live_.erase(&dialog);
    runs_.pop_back();
    if (focus_ && !live_.contains(focus_)) focus_ = nullptr;
    if (savedFocus && live_.contains(savedFocus)) MoveFocus(savedFocus);
    return run.code;
}

// The close box: WM_CLOSE, which the dialog manager turns into the Cancel command.
void HeadlessWindowSystem::CloseBox(Run& run) {
    Message close;
    close.message = wm::kClose;
    bool handled = false;
    ToDialog(run, close, &handled);
    if (handled || run.ended) return;
    Message command;
    command.message = wm::kCommand;
    command.id = kIdCancel;
    command.window = DialogItem(run.dialog->handle(), kIdCancel);
    ToDialog(run, command);
}

void HeadlessWindowSystem::EndDialog(Window window, int code) {
    Node* node = Find(window);
    Run* run = RunOf(node);
    if (run == nullptr || run->ended) return;
    run->ended = true;
    run->code = code;
    // The dialog is hidden: the control that had the focus loses it.
    if (focus_ && RunOf(focus_) == run) MoveFocus(nullptr);
}

Window HeadlessWindowSystem::DialogItem(Window window, int id) {
    Node* node = Find(window);
    Run* run = RunOf(node);
    if (run == nullptr || node != run->dialog.get()) return nullptr;
    for (auto& control : run->controls) {
        if (control->id == id) return control->handle();
    }
    return nullptr;
}

int HeadlessWindowSystem::ControlId(Window window) {
    Node* node = Find(window);
    return node ? node->id : 0;
}

Window HeadlessWindowSystem::Parent(Window window) {
    Node* node = Find(window);
    return node && node->parent ? node->parent->handle() : nullptr;
}

void HeadlessWindowSystem::GotoDialogControl(Window, Window control) {
    if (Node* node = Find(control)) {
        MoveFocus(node);
        if (node->kind == Kind::Edit) SelectAllText(control);
    }
}

// ---- Events ------------------------------------------------------------------------------------
intptr_t HeadlessWindowSystem::ToDialog(Run& run, Message& message, bool* handled) {
    bool wasHandled = false;
    const intptr_t result = run.sink->OnMessage(run.dialog->handle(), message, wasHandled);
    if (handled) *handled = wasHandled;
    return result;
}

void HeadlessWindowSystem::Command(Node* control, int code) {
    Run* run = control ? RunOf(control) : Active();
    if (run == nullptr) return;
    Message message;
    message.message = wm::kCommand;
    message.id = control ? control->id : kIdCancel;
    message.code = code;
    message.window = control ? control->handle() : nullptr;
    message.wParam = static_cast<uintptr_t>((message.id & 0xFFFF) | ((code & 0xFFFF) << 16));
    ToDialog(*run, message);
}

intptr_t HeadlessWindowSystem::Notify(Node* control, int code, ListViewNotification& data) {
    Run* run = RunOf(control);
    if (run == nullptr) return 0;
    Message message;
    message.message = wm::kNotify;
    message.id = control->id;
    message.code = code;
    message.window = control->handle();
    message.listView = &data;
    return ToDialog(*run, message);
}

intptr_t HeadlessWindowSystem::ToControl(Node* node, Message message) {
    if (node == nullptr) return 0;
    message.window = node->handle();
    message.id = node->id;
    if (node->hook) {
        bool handled = false;
        const intptr_t result = node->hook->OnControlMessage(node->handle(), message, handled);
        if (handled) return result;
    }
    return DefaultHandling(node, message);
}

intptr_t HeadlessWindowSystem::CallDefault(Window control, const Message& message) {
    Node* node = Find(control);
    return node ? DefaultHandling(node, message) : 0;
}

intptr_t HeadlessWindowSystem::DefaultHandling(Node* node, const Message& message) {
    Run* run = RunOf(node);
    switch (message.message) {
        case wm::kGetDlgCode:
            switch (node->kind) {
                case Kind::Edit: return dlgc::kWantChars | dlgc::kHasSetSel | dlgc::kWantArrows;
                case Kind::ListBox:
                case Kind::ListView: return dlgc::kWantChars | dlgc::kWantArrows;
                case Kind::Button:
                    if (!node->PushButton()) return dlgc::kButton;
                    return dlgc::kButton | ((node->style & ws::kBsTypeMask) == ws::kBsDefPushButton
                                                ? dlgc::kDefPushButton
                                                : dlgc::kUndefPushButton);
                default: return 0;
            }
        case wm::kSetFocus:
        case wm::kKillFocus: {
            const bool gained = message.message == wm::kSetFocus;
            switch (node->kind) {
                case Kind::Edit: Command(node, gained ? en::kSetFocus : en::kKillFocus); break;
                case Kind::ListBox:
                    if (node->curSel >= 0) PaintItem(node, node->curSel, oda::kFocus);
                    Command(node, gained ? lbn::kSetFocus : lbn::kKillFocus);
                    break;
                case Kind::ListView: {
                    ListViewNotification data;
                    Notify(node, gained ? nm::kSetFocus : nm::kKillFocus, data);
                    break;
                }
                default: break;
            }
            return 0;
        }
        case wm::kLButtonDown:
            MoveFocus(node);
            if (node->kind == Kind::ListBox && !node->lbItems.empty()) {
                const int y = static_cast<int16_t>((message.lParam >> 16) & 0xFFFF);
                int index = 0, top = 0;
                for (; index + 1 < static_cast<int>(node->lbItems.size()); ++index) {
                    top += node->lbItems[static_cast<size_t>(index)].height;
                    if (y < top) break;
                }
                ListBoxSelect(node, index, true);
            }
            return 0;
        case wm::kLButtonDblClk:
            if (node->kind == Kind::ListBox && (node->style & ws::kLbsNotify)) {
                Command(node, lbn::kDblClk);
            }
            return 0;
        case wm::kKeyDown:
            if (node->kind == Kind::ListView) {
                ListViewNotification data;
                data.key = static_cast<int>(message.wParam);
                Notify(node, lvn::kKeyDown, data);
            } else if (node->kind == Kind::ListBox && !node->lbItems.empty()) {
                const int last = static_cast<int>(node->lbItems.size()) - 1;
                int index = node->curSel;
                switch (static_cast<int>(message.wParam)) {
                    case vk::kUp: index = std::max(0, index - 1); break;
                    case vk::kDown: index = std::min(last, index + 1); break;
                    case vk::kHome: index = 0; break;
                    case vk::kEnd: index = last; break;
                    default: return 0;
                }
                ListBoxSelect(node, index, true);
            }
            return 0;
        case wm::kHScroll:
            if (node->kind == Kind::ListBox) {
                ListBoxHScroll(node, static_cast<int>(message.wParam & 0xFFFF),
                               static_cast<int>((message.wParam >> 16) & 0xFFFF));
            }
            return 0;
        case wm::kContextMenu:
        case wm::kHelp:
            // Passed up to the dialog, naming the window it began in.
            if (run) {
                Message up = message;
                ToDialog(*run, up);
            }
            return 0;
        default:
            return 0;
    }
}

void HeadlessWindowSystem::MoveFocus(Node* target) {
    Node* previous = focus_;
    if (previous == target) return;
    focus_ = target;
    if (previous && live_.contains(previous)) {
        Message kill;
        kill.message = wm::kKillFocus;
        kill.wParam = reinterpret_cast<uintptr_t>(target ? target->handle() : nullptr);
        ToControl(previous, kill);
    }
    if (focus_ != target || target == nullptr) return;  // moved on meanwhile
    Message set;
    set.message = wm::kSetFocus;
    set.wParam = reinterpret_cast<uintptr_t>(previous ? previous->handle() : nullptr);
    ToControl(target, set);
}

void HeadlessWindowSystem::ModalTakesFocus(const std::function<void()>& modal) {
    Node* saved = focus_;
    MoveFocus(nullptr);
    modal();
    if (saved && live_.contains(saved) && focus_ == nullptr) MoveFocus(saved);
}

// ---- Painting ----------------------------------------------------------------------------------
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
        index < 0 || index >= static_cast<int>(list->lbItems.size())) {
        return;
    }
    int top = 0;
    for (int i = 0; i < index; ++i) top += list->lbItems[static_cast<size_t>(i)].height;
    const Rect client = ClientRect(list->handle());
    Paint paint;
    paint.controlId = list->id;
    paint.item = index;
    paint.action = action;
    paint.state = (list->curSel == index ? oda::kStateSelected : 0u) |
                  (focus_ == list && list->curSel == index ? oda::kStateFocus : 0u);
    paint.rect = {-list->horzPos, top, std::max(client.right, list->extent) - list->horzPos,
                  top + list->lbItems[static_cast<size_t>(index)].height};
    Recorder recorder(paint.ops);
    DrawItemRequest request{kOdtListBox, list->id, index, action, paint.state, list->handle(),
                            paint.rect, list->lbItems[static_cast<size_t>(index)].data, &recorder};
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
            for (int i = 0; i < static_cast<int>(control->lbItems.size()); ++i) {
                PaintItem(control.get(), i, oda::kDrawEntire);
            }
        }
    }
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
    return node && node->visible && (node->parent == nullptr || node->parent->visible);
}

Window HeadlessWindowSystem::Focus() { return focus_ ? focus_->handle() : nullptr; }

void HeadlessWindowSystem::SetFocus(Window window) { MoveFocus(Find(window)); }

namespace {

struct Insets {
    int left = 0, top = 0, right = 0, bottom = 0;
};

}  // namespace

static Insets NonClient(uint32_t style, uint32_t exStyle, bool dialog) {
    Insets insets;
    if (dialog) return insets;
    int frame = 0;
    if (style & ws::kBorder) frame += 1;
    if (exStyle & ws::kExClientEdge) frame += 2;
    insets = {frame, frame, frame, frame};
    if (style & ws::kHScroll) insets.bottom += HeadlessWindowSystem::kScrollBarSize;
    if (style & ws::kVScroll) insets.right += HeadlessWindowSystem::kScrollBarSize;
    return insets;
}

Rect HeadlessWindowSystem::ClientRect(Window window) {
    Node* node = Find(window);
    if (node == nullptr) return {};
    const Insets insets = NonClient(node->style, node->exStyle, node->kind == Kind::Dialog);
    return {0, 0, std::max(0, node->rect.Width() - insets.left - insets.right),
            std::max(0, node->rect.Height() - insets.top - insets.bottom)};
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
    const Insets insets = NonClient(node->style, node->exStyle, node->kind == Kind::Dialog);
    return {outer.left + insets.left + client.x, outer.top + insets.top + client.y};
}

Point HeadlessWindowSystem::ScreenToClient(Window window, Point screen) {
    const Point origin = ClientToScreen(window, {0, 0});
    return {screen.x - origin.x, screen.y - origin.y};
}

// ---- Scroll bars -------------------------------------------------------------------------------
int HeadlessWindowSystem::SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool) {
    Node* node = Find(window);
    if (node == nullptr || bar < 0 || bar > 1) return 0;
    ScrollInfo& current = node->bars[bar];
    if (info.mask & sb::kRange) {
        current.min = info.min;
        current.max = info.max;
    }
    if (info.mask & sb::kPage) current.page = info.page;
    if (info.mask & sb::kPos) current.pos = info.pos;
    const unsigned range = static_cast<unsigned>(std::max(0, current.max - current.min)) + 1;
    current.page = std::min(current.page, range);
    const int highest = current.max - std::max<int>(static_cast<int>(current.page) - 1, 0);
    current.pos = std::max(current.min, std::min(current.pos, highest));
    // A bar whose page shows the whole range cannot scroll: disabled (with the
    // disable-instead-of-hide flag) or hidden.
    node->barEnabled[bar] = current.page <= static_cast<unsigned>(current.max - current.min);
    return current.pos;
}

ScrollInfo HeadlessWindowSystem::GetScrollInfo(Window window, int bar) {
    Node* node = Find(window);
    if (node == nullptr || bar < 0 || bar > 1) return {};
    ScrollInfo info = node->bars[bar];
    info.mask = sb::kAll;
    info.trackPos = info.pos;
    return info;
}

int HeadlessWindowSystem::ScrollPos(Window window, int bar) {
    Node* node = Find(window);
    return node && bar >= 0 && bar <= 1 ? node->bars[bar].pos : 0;
}

int HeadlessWindowSystem::SetScrollPos(Window window, int bar, int pos, bool redraw) {
    Node* node = Find(window);
    if (node == nullptr || bar < 0 || bar > 1) return 0;
    const int old = node->bars[bar].pos;
    ScrollInfo info;
    info.mask = sb::kPos;
    info.pos = pos;
    SetScrollInfo(window, bar, info, redraw);
    return old;
}

intptr_t HeadlessWindowSystem::Send(Window window, unsigned message, uintptr_t wParam,
                                    intptr_t lParam) {
    Node* node = Find(window);
    if (node == nullptr) return 0;
    Message sent;
    sent.message = message;
    sent.wParam = wParam;
    sent.lParam = lParam;
    return ToControl(node, sent);
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

// ---- Edits and buttons -------------------------------------------------------------------------
void HeadlessWindowSystem::SetTextLimit(Window edit, int maxChars) {
    if (Node* node = Find(edit)) node->limit = maxChars;
}

void HeadlessWindowSystem::SelectAllText(Window) {}

IconHandle HeadlessWindowSystem::SetButtonIcon(Window button, IconHandle icon) {
    Node* node = Find(button);
    if (node == nullptr) return nullptr;
    std::swap(node->icon, icon);
    return icon;
}

IconHandle HeadlessWindowSystem::ButtonIcon(Window button) {
    Node* node = Find(button);
    return node ? node->icon : nullptr;
}

int HeadlessWindowSystem::TextLimit(Window edit) {
    Node* node = Find(edit);
    return node ? node->limit : 0;
}

// ---- List boxes --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListBoxReset(Window list) {
    Node* node = Find(list);
    if (node == nullptr) return;
    node->lbItems.clear();
    node->curSel = -1;
    Invalidate(list, nullptr, true);
}

int HeadlessWindowSystem::ListBoxAdd(Window list, std::string_view text, uintptr_t data) {
    Node* node = Find(list);
    Run* run = RunOf(node);
    if (node == nullptr || run == nullptr) return -1;
    const bool ownerDraw =
        (node->style & (ws::kLbsOwnerDrawFixed | ws::kLbsOwnerDrawVariable)) != 0;
    int index = static_cast<int>(node->lbItems.size());
    if ((node->style & ws::kLbsSort) && ownerDraw && !(node->style & ws::kLbsHasStrings)) {
        // Sorted by the owner: the new item goes before the first one it compares below.
        for (int i = 0; i < static_cast<int>(node->lbItems.size()); ++i) {
            CompareItemRequest compare{kOdtListBox, node->id, list, -1, data, i,
                                       node->lbItems[static_cast<size_t>(i)].data};
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
    Node::ListBoxItem item{std::string(text), data, node->itemHeight};
    if (node->style & ws::kLbsOwnerDrawVariable) {
        MeasureItemRequest measure{kOdtListBox, node->id, index, 0,
                                   static_cast<unsigned>(node->itemHeight), data};
        Message message;
        message.message = wm::kMeasureItem;
        message.id = node->id;
        message.measure = &measure;
        ToDialog(*run, message);
        item.height = static_cast<int>(measure.height);
    }
    node->lbItems.insert(node->lbItems.begin() + index, std::move(item));
    if (node->curSel >= index) ++node->curSel;
    Invalidate(list, nullptr, true);
    return index;
}

int HeadlessWindowSystem::ListBoxCount(Window list) {
    Node* node = Find(list);
    return node ? static_cast<int>(node->lbItems.size()) : 0;
}

void HeadlessWindowSystem::ListBoxSelect(Node* list, int index, bool notify) {
    if (index < -1 || index >= static_cast<int>(list->lbItems.size())) index = -1;
    if (list->curSel == index) return;
    const int old = list->curSel;
    list->curSel = index;
    if (old >= 0) PaintItem(list, old, oda::kSelect);
    if (index >= 0) PaintItem(list, index, oda::kSelect);
    if (notify && (list->style & ws::kLbsNotify)) Command(list, lbn::kSelChange);
}

void HeadlessWindowSystem::ListBoxSetCurSel(Window list, int index) {
    if (Node* node = Find(list)) ListBoxSelect(node, index, false);
}

int HeadlessWindowSystem::ListBoxCurSel(Window list) {
    Node* node = Find(list);
    return node ? node->curSel : -1;
}

void HeadlessWindowSystem::ListBoxSetColumnWidth(Window list, int width) {
    if (Node* node = Find(list)) node->columnWidth = width;
}

void HeadlessWindowSystem::ListBoxSetHorizontalPos(Node* list, int pos) {
    const int width = ClientRect(list->handle()).right;
    pos = std::max(0, std::min(pos, list->extent - width));
    if (pos == list->horzPos) return;
    list->horzPos = pos;
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
    if (node == nullptr || node->extent == extent) return;
    node->extent = extent;
    if (node->style & ws::kHScroll) {
        ScrollInfo info;
        info.mask = sb::kRange;
        info.max = extent > 0 ? extent - 1 : 0;
        SetScrollInfo(list, sb::kHorz, info, true);
    }
    const int width = ClientRect(list).right;
    if (node->horzPos > extent - width) ListBoxSetHorizontalPos(node, extent - width);
}

void HeadlessWindowSystem::ListBoxHScroll(Node* list, int code, int pos) {
    const int width = ClientRect(list->handle()).right;
    switch (code) {
        case sb::kLineLeft: ListBoxSetHorizontalPos(list, list->horzPos - 1); break;
        case sb::kLineRight: ListBoxSetHorizontalPos(list, list->horzPos + 1); break;
        case sb::kPageLeft: ListBoxSetHorizontalPos(list, list->horzPos - width); break;
        case sb::kPageRight: ListBoxSetHorizontalPos(list, list->horzPos + width); break;
        case sb::kThumbPosition:
        case sb::kThumbTrack: ListBoxSetHorizontalPos(list, pos); break;
        case sb::kLeft: ListBoxSetHorizontalPos(list, 0); break;
        case sb::kRight: ListBoxSetHorizontalPos(list, list->extent - width); break;
        default: break;
    }
}

int HeadlessWindowSystem::ListBoxHorizontalPos(Window list) {
    Node* node = Find(list);
    return node ? node->horzPos : 0;
}

void HeadlessWindowSystem::ListBoxSetItemHeight(Window list, int index, int height) {
    Node* node = Find(list);
    if (node == nullptr) return;
    if ((node->style & ws::kLbsOwnerDrawVariable) && index >= 0 &&
        index < static_cast<int>(node->lbItems.size())) {
        node->lbItems[static_cast<size_t>(index)].height = height;
    } else if (!(node->style & ws::kLbsOwnerDrawVariable)) {
        node->itemHeight = height;
        for (auto& item : node->lbItems) item.height = height;
    }
}

int HeadlessWindowSystem::ListBoxItemHeight(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr) return 0;
    if (index >= 0 && index < static_cast<int>(node->lbItems.size())) {
        return node->lbItems[static_cast<size_t>(index)].height;
    }
    return node->itemHeight;
}

// ---- List views --------------------------------------------------------------------------------
void HeadlessWindowSystem::ListViewSetImageList(Window list, const ImageList* images) {
    if (Node* node = Find(list)) node->images = images;
}

const ImageList* HeadlessWindowSystem::ListViewImages(Window list) {
    Node* node = Find(list);
    return node ? node->images : nullptr;
}

int HeadlessWindowSystem::ListViewItemImage(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->lvItems.size())) return -1;
    return node->lvItems[static_cast<size_t>(index)].image;
}

int HeadlessWindowSystem::ListViewCount(Window list) {
    Node* node = Find(list);
    return node ? static_cast<int>(node->lvItems.size()) : 0;
}

// Changes one item's state (within mask), label or image, with LVN_ITEMCHANGING before (not
// for an item being inserted, which cannot be vetoed) and LVN_ITEMCHANGED after, and the focus
// (one item at most) and single selection kept.
bool HeadlessWindowSystem::LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                                        const std::string* text, const int* image,
                                        bool inserting) {
    if (index < 0 || index >= static_cast<int>(list->lvItems.size())) return false;
    ListViewItem& item = list->lvItems[static_cast<size_t>(index)];
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
    if (index >= static_cast<int>(list->lvItems.size())) return false;
    ListViewItem& target = list->lvItems[static_cast<size_t>(index)];
    target.state = state;
    if (text) target.text = *text;
    if (image) target.image = *image;

    if ((state & ~oldState) & lvis::kFocused) {
        for (int i = 0; i < static_cast<int>(list->lvItems.size()); ++i) {
            if (i != index && (list->lvItems[static_cast<size_t>(i)].state & lvis::kFocused)) {
                LvChangeItem(list, i, 0, lvis::kFocused, nullptr, nullptr);
            }
        }
    }
    if (((state & ~oldState) & lvis::kSelected) && (list->style & ws::kLvsSingleSel)) {
        for (int i = 0; i < static_cast<int>(list->lvItems.size()); ++i) {
            if (i != index && (list->lvItems[static_cast<size_t>(i)].state & lvis::kSelected)) {
                LvChangeItem(list, i, 0, lvis::kSelected, nullptr, nullptr);
            }
        }
    }
    data.data = index < static_cast<int>(list->lvItems.size())
                    ? list->lvItems[static_cast<size_t>(index)].data
                    : data.data;
    Notify(list, lvn::kItemChanged, data);
    return true;
}

int HeadlessWindowSystem::ListViewInsert(Window list, int index, const ListViewItem& item) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return -1;
    index = std::clamp(index, 0, static_cast<int>(node->lvItems.size()));
    ListViewItem inserted = item;
    inserted.state = 0;
    node->lvItems.insert(node->lvItems.begin() + index, inserted);
    if (node->editing >= index) ++node->editing;
    // As the common controls do it: an item inserted with a state reports that change first
    // (LVN_ITEMCHANGED, no LVN_ITEMCHANGING), then its insertion.
    if (item.state != 0) {
        LvChangeItem(node, index, item.state, lvis::kFocused | lvis::kSelected, nullptr, nullptr,
                     true);
        if (index >= static_cast<int>(node->lvItems.size())) return -1;
    }
    ListViewNotification data;
    data.item = index;
    data.data = item.data;
    Notify(node, lvn::kInsertItem, data);
    return index;
}

bool HeadlessWindowSystem::ListViewDelete(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->lvItems.size())) {
        return false;
    }
    // The item gives up its selection and focus first, then goes.
    LvChangeItem(node, index, 0, lvis::kFocused | lvis::kSelected, nullptr, nullptr);
    if (index >= static_cast<int>(node->lvItems.size())) return false;
    ListViewNotification data;
    data.item = index;
    data.data = node->lvItems[static_cast<size_t>(index)].data;
    Notify(node, lvn::kDeleteItem, data);
    if (index >= static_cast<int>(node->lvItems.size())) return false;
    if (node->editing == index) {
        node->editing = -1;
        if (node->editor) live_.erase(node->editor.get());
        node->editor.reset();
    } else if (node->editing > index) {
        --node->editing;
    }
    node->lvItems.erase(node->lvItems.begin() + index);
    return true;
}

uintptr_t HeadlessWindowSystem::ListViewData(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->lvItems.size())) return 0;
    return node->lvItems[static_cast<size_t>(index)].data;
}

unsigned HeadlessWindowSystem::ListViewState(Window list, int index, unsigned mask) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->lvItems.size())) return 0;
    return node->lvItems[static_cast<size_t>(index)].state & mask;
}

std::string HeadlessWindowSystem::ListViewText(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->lvItems.size())) return {};
    return node->lvItems[static_cast<size_t>(index)].text.substr(0, 255);
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
    for (int i = 0; i < static_cast<int>(node->lvItems.size()); ++i) {
        LvChangeItem(node, i, state, mask, nullptr, nullptr);
    }
    return true;
}

int HeadlessWindowSystem::ListViewNextItem(Window list, int start, unsigned flags) {
    Node* node = Find(list);
    if (node == nullptr) return -1;
    for (int i = std::max(start + 1, 0); i < static_cast<int>(node->lvItems.size()); ++i) {
        if ((node->lvItems[static_cast<size_t>(i)].state & flags) == flags) return i;
    }
    return -1;
}

int HeadlessWindowSystem::ListViewSelectedCount(Window list) {
    Node* node = Find(list);
    if (node == nullptr) return 0;
    return static_cast<int>(std::count_if(node->lvItems.begin(), node->lvItems.end(),
                                          [](const ListViewItem& item) {
                                              return (item.state & lvis::kSelected) != 0;
                                          }));
}

void HeadlessWindowSystem::LvOpenEditor(Node* list, int index) {
    list->editing = index;
    list->editor = std::make_unique<Node>();
    list->editor->kind = Kind::LabelEditor;
    list->editor->parent = list;
    list->editor->text = list->lvItems[static_cast<size_t>(index)].text;
    live_.insert(list->editor.get());
}

void HeadlessWindowSystem::LvEndEdit(Node* list, std::optional<std::string> text) {
    const int index = list->editing;
    if (index < 0) return;
    // The editor is gone before the list tells its parent, so that the parent may open it again.
    list->editing = -1;
    if (list->editor) live_.erase(list->editor.get());
    list->editor.reset();
    ListViewNotification data;
    data.item = index;
    data.data = list->lvItems[static_cast<size_t>(index)].data;
    data.text = text;
    const intptr_t accept = Notify(list, lvn::kEndLabelEdit, data);
    if (text && accept != 0 && index < static_cast<int>(list->lvItems.size())) {
        LvChangeItem(list, index, 0, 0, &*text, nullptr);
    }
}

Window HeadlessWindowSystem::ListViewEditLabel(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || !(node->style & ws::kLvsEditLabels) || index < 0 ||
        index >= static_cast<int>(node->lvItems.size())) {
        return nullptr;
    }
    if (node->editing >= 0) LvEndEdit(node, std::nullopt);
    ListViewNotification data;
    data.item = index;
    data.data = node->lvItems[static_cast<size_t>(index)].data;
    if (Notify(node, lvn::kBeginLabelEdit, data) != 0) return nullptr;  // refused
    if (index >= static_cast<int>(node->lvItems.size())) return nullptr;
    LvOpenEditor(node, index);
    return node->editor->handle();
}

Rect HeadlessWindowSystem::LvItemRect(Node* list, int index) const {
    const Rect client = const_cast<HeadlessWindowSystem*>(this)->ClientRect(list->handle());
    const int perRow = std::max(1, client.right / kIconSpacingX);
    const int left = (index % perRow) * kIconSpacingX, top = (index / perRow) * kIconSpacingY;
    return {left, top, left + kIconSpacingX, top + kIconSpacingY};
}

int HeadlessWindowSystem::ListViewHitTest(Window list, Point point) {
    Node* node = Find(list);
    if (node == nullptr) return -1;
    for (int i = 0; i < static_cast<int>(node->lvItems.size()); ++i) {
        const Rect rect = LvItemRect(node, i);
        if (point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
            point.y < rect.bottom) {
            return i;
        }
    }
    return -1;
}

// ---- Menus, message boxes, file dialogs --------------------------------------------------------
int HeadlessWindowSystem::TrackPopupMenu(const std::vector<MenuItem>& items, Point screen,
                                         Window owner) {
    Record record;
    record.kind = Record::Menu;
    record.menu = items;
    record.point = screen;
    record.ownerId = ControlId(owner);
    record.dialog = Active() ? Active()->templateId : 0;
    if (!menuAnswers_.empty()) {
        const int wanted = menuAnswers_.front();
        menuAnswers_.pop_front();
        for (const MenuItem& item : items) {
            if (item.id == wanted && wanted != 0 && !item.grayed) record.answer = wanted;
        }
        if (wanted != 0 && record.answer == 0) {
            Problem("menu item " + std::to_string(wanted) + " is not there to be chosen");
        }
    }
    records_.push_back(record);
    return record.answer;
}

int HeadlessWindowSystem::ShowMessage(Window owner, std::string_view text,
                                      std::string_view caption, unsigned style,
                                      uint16_t language) {
    Record record;
    record.kind = Record::MessageBox;
    record.text = text;
    record.caption = caption;
    record.style = style;
    record.language = language;
    record.ownerId = ControlId(owner);
    record.dialog = Active() ? Active()->templateId : 0;
    record.answer = DefaultAnswer(style);
    if (!messageBoxAnswers_.empty()) {
        record.answer = messageBoxAnswers_.front();
        messageBoxAnswers_.pop_front();
    }
    const size_t slot = records_.size();
    records_.push_back(record);
    ModalTakesFocus([] {});
    return records_[slot].answer;
}

void HeadlessWindowSystem::Beep(unsigned type) {
    Record record;
    record.kind = Record::Beep;
    record.style = type;
    record.dialog = Active() ? Active()->templateId : 0;
    records_.push_back(record);
}

std::optional<std::string> HeadlessWindowSystem::OpenFileDialog(const FileDialogRequest& request) {
    Record record;
    record.kind = Record::FileDialog;
    record.file = request;
    record.ownerId = ControlId(request.owner);
    record.dialog = Active() ? Active()->templateId : 0;
    if (!fileAnswers_.empty()) {
        record.path = fileAnswers_.front();
        fileAnswers_.pop_front();
    }
    records_.push_back(record);
    ModalTakesFocus([] {});
    return record.path;
}

bool HeadlessWindowSystem::IsKeyDown(int virtualKey) {
    if (virtualKey == vk::kControl) return ctrl_;
    if (virtualKey == vk::kShift) return shift_;
    return false;
}

// ---- The user ----------------------------------------------------------------------------------
bool HeadlessWindowSystem::Usable(Node* node) const {
    Run* run = RunOf(node);
    return node && run && !run->ended && run == Active() && node->enabled &&
           const_cast<HeadlessWindowSystem*>(this)->IsVisible(node->handle());
}

void HeadlessWindowSystem::AfterAction() {
    ctrl_ = shift_ = false;
    PaintPending();
}

Point HeadlessWindowSystem::Center(Node* node) const {
    const Rect client = const_cast<HeadlessWindowSystem*>(this)->ClientRect(node->handle());
    return {client.right / 2, client.bottom / 2};
}

bool HeadlessWindowSystem::PressKeyIn(Window dialog, int key, bool ctrl, bool shift) {
    Node* dialogNode = Find(dialog);
    Run* run = RunOf(dialogNode);
    if (run == nullptr || run->ended || run != Active()) return false;
    ctrl_ = ctrl;
    shift_ = shift;
    Node* focus = focus_ && RunOf(focus_) == run ? focus_ : nullptr;
    Message query;
    query.message = wm::kGetDlgCode;
    query.wParam = static_cast<uintptr_t>(key);
    const intptr_t code = focus ? ToControl(focus, query) : 0;
    const bool wantsAll = (code & dlgc::kWantAllKeys) != 0;

    switch (key) {
        case vk::kTab:
            if (wantsAll || (code & dlgc::kWantTab)) break;
            {
                std::vector<Node*> stops;
                for (auto& control : run->controls) {
                    if ((control->style & ws::kTabStop) && control->enabled &&
                        IsVisible(control->handle())) {
                        stops.push_back(control.get());
                    }
                }
                if (stops.empty()) return true;
                auto at = std::find(stops.begin(), stops.end(), focus);
                const auto count = static_cast<long>(stops.size());
                long next = at == stops.end() ? 0 : (at - stops.begin()) + (shift ? -1 : 1);
                next = (next % count + count) % count;
                GotoDialogControl(dialog, stops[static_cast<size_t>(next)]->handle());
            }
            AfterAction();
            return true;
        case vk::kReturn:
            if (wantsAll) break;
            if (focus && (code & dlgc::kDefPushButton)) {
                Command(focus, bn::kClicked);
            } else if (focus && focus->PushButton()) {
                Command(focus, bn::kClicked);
            } else if (run->defaultId != 0) {
                Node* button = Find(DialogItem(dialog, run->defaultId));
                if (button == nullptr || button->enabled) {
                    Message command;
                    command.message = wm::kCommand;
                    command.id = run->defaultId;
                    command.window = button ? button->handle() : nullptr;
                    ToDialog(*run, command);
                }
            } else {
                Message command;
                command.message = wm::kCommand;
                command.id = kIdOk;
                command.window = DialogItem(dialog, kIdOk);
                ToDialog(*run, command);
            }
            AfterAction();
            return true;
        case vk::kEscape: {
            if (wantsAll) break;
            Message command;
            command.message = wm::kCommand;
            command.id = kIdCancel;
            command.window = DialogItem(dialog, kIdCancel);
            ToDialog(*run, command);
            AfterAction();
            return true;
        }
        case vk::kF1: {
            if (focus) {
                Message down;
                down.message = wm::kKeyDown;
                down.wParam = static_cast<uintptr_t>(key);
                ToControl(focus, down);
            }
            Message help;
            help.message = wm::kHelp;
            Node* about = focus ? focus : dialogNode;
            help.window = about->handle();
            help.id = about->id;
            help.point = cursor_;
            if (focus) {
                ToControl(focus, help);
            } else {
                ToDialog(*run, help);
            }
            AfterAction();
            return true;
        }
        case vk::kApps: {
            Message menu;
            menu.message = wm::kContextMenu;
            menu.point = {-1, -1};
            if (focus) {
                menu.wParam = reinterpret_cast<uintptr_t>(focus->handle());
                ToControl(focus, menu);
            } else {
                menu.window = dialog;
                ToDialog(*run, menu);
            }
            AfterAction();
            return true;
        }
        case vk::kLeft:
        case vk::kRight:
        case vk::kUp:
        case vk::kDown:
            if (!wantsAll && !(code & dlgc::kWantArrows)) {
                AfterAction();
                return true;  // group navigation is not modelled
            }
            break;
        default:
            break;
    }
    if (focus) {
        Message down;
        down.message = wm::kKeyDown;
        down.wParam = static_cast<uintptr_t>(key);
        ToControl(focus, down);
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
        down.lParam = (center.x & 0xFFFF) | ((center.y & 0xFFFF) << 16);
        system_.ToControl(node, down);
    }
    system_.AfterAction();
    return true;
}

bool User::Type(int id, std::string_view text) {
    auto* node = system_.Find(Item(id));
    if (!system_.Usable(node) || node->kind != Kind::Edit) return false;
    system_.MoveFocus(node);
    std::string typed(text);
    if (node->limit > 0 && typed.size() > static_cast<size_t>(node->limit)) {
        typed.resize(static_cast<size_t>(node->limit));
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
    down.lParam = (client.x & 0xFFFF) | ((client.y & 0xFFFF) << 16);
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
    twice.lParam = (client.x & 0xFFFF) | ((client.y & 0xFFFF) << 16);
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
    Message menu;
    menu.message = wm::kContextMenu;
    if (node && node->enabled) {
        system_.cursor_ = system_.ClientToScreen(node->handle(), system_.Center(node));
        menu.point = system_.cursor_;
        menu.wParam = reinterpret_cast<uintptr_t>(node->handle());
        system_.ToControl(node, menu);
    } else {
        // The dialog itself, or a disabled control, whose clicks go to the dialog.
        system_.cursor_ = node ? system_.ClientToScreen(node->handle(), system_.Center(node))
                               : system_.ClientToScreen(dialog_, {1, 1});
        menu.point = system_.cursor_;
        menu.window = dialog_;
        menu.wParam = reinterpret_cast<uintptr_t>(dialog_);
        system_.ToDialog(*run, menu);
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
    if (!system_.Usable(node) || node->kind != Kind::ListView || index < 0 ||
        index >= static_cast<int>(node->lvItems.size())) {
        return false;
    }
    const Rect rect = system_.LvItemRect(node, index);
    const Point point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    system_.cursor_ = system_.ClientToScreen(node->handle(), point);
    system_.ctrl_ = ctrl;
    if (node->editing >= 0) system_.LvEndEdit(node, std::nullopt);
    system_.MoveFocus(node);
    if (ctrl) {
        const unsigned selected = node->lvItems[static_cast<size_t>(index)].state & lvis::kSelected;
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

void HeadlessWindowSystem::LvSelectOnly(Node* list, int index) {
    for (int i = 0; i < static_cast<int>(list->lvItems.size()); ++i) {
        if (i != index && (list->lvItems[static_cast<size_t>(i)].state & lvis::kSelected)) {
            LvChangeItem(list, i, 0, lvis::kSelected, nullptr, nullptr);
        }
    }
    if (index >= 0) {
        LvChangeItem(list, index, lvis::kSelected | lvis::kFocused,
                     lvis::kSelected | lvis::kFocused, nullptr, nullptr);
    }
}

bool User::ClickEmpty(int listId) {
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node) || node->kind != Kind::ListView) return false;
    const Rect client = system_.ClientRect(node->handle());
    const Point point{client.right - 1, client.bottom - 1};
    if (system_.ListViewHitTest(node->handle(), point) >= 0) return false;  // no empty space
    system_.cursor_ = system_.ClientToScreen(node->handle(), point);
    if (node->editing >= 0) system_.LvEndEdit(node, std::nullopt);
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
    if (!system_.Usable(node) || node->kind != Kind::ListView ||
        index >= static_cast<int>(node->lvItems.size())) {
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
    if (node->editing >= 0) system_.LvEndEdit(node, std::nullopt);
    system_.MoveFocus(node);
    if (index < 0) {
        system_.LvSelectOnly(node, -1);
    } else if (!(node->lvItems[static_cast<size_t>(index)].state & lvis::kSelected)) {
        system_.LvSelectOnly(node, index);
    }
    ListViewNotification data;
    data.item = index;
    data.point = point;
    system_.Notify(node, nm::kRClick, data);
    if (Running()) {
        Message menu;
        menu.message = wm::kContextMenu;
        menu.point = system_.cursor_;
        menu.wParam = reinterpret_cast<uintptr_t>(node->handle());
        system_.ToControl(node, menu);
    }
    system_.AfterAction();
    return true;
}

bool User::BeginLabelEdit(int listId, int index) {
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node) || node->kind != Kind::ListView) return false;
    system_.MoveFocus(node);
    const bool opened = system_.ListViewEditLabel(node->handle(), index) != nullptr;
    system_.AfterAction();
    return opened;
}

bool User::EndLabelEdit(int listId, std::optional<std::string> text) {
    auto* node = system_.Find(Item(listId));
    if (!system_.Usable(node) || node->kind != Kind::ListView || node->editing < 0) return false;
    system_.LvEndEdit(node, std::move(text));
    system_.AfterAction();
    return true;
}

bool User::Editing(int listId) const { return EditingItem(listId) >= 0; }

int User::EditingItem(int listId) const {
    auto* node = system_.Find(Item(listId));
    return node ? node->editing : -1;
}

}  // namespace tavix::platform::headless
