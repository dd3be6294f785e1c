// Modal dialogs: built from their templates and run by the script; the events between the
// dialog manager, the controls and the dialog; the painting of owner-drawn list boxes.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

using internal::Kind;
using internal::kDefaultItemHeight;
using internal::kOdtListBox;

namespace {

int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + (product >= 0 ? c / 2 : -c / 2)) / c);
}

}  // namespace

// ---- Modal dialogs -----------------------------------------------------------------------------
int HeadlessWindowSystem::RunModal(uint32_t templateId, const DialogSource& source,
                                   Window /*parent*/, DialogSink& sink) {
    const TemplateSource& read = templates_ ? templates_ : source.readTemplate;
    std::optional<resources::DialogTemplate> dialogTemplate =
        read ? read(templateId) : std::nullopt;
    if (!dialogTemplate || source.codePage == nullptr) return -1;

    Run run;
    run.templateId = templateId;
    run.sink = &sink;
    run.codePage = source.codePage;
    opened_.push_back(templateId);
    CreateWindows(run, *dialogTemplate);
    runs_.push_back(&run);
    MeasureOwnerDrawn(run);

    auto [act, prepare] = NextAct(templateId);
    Node& dialog = *run.dialog;
    if (prepare) prepare(*this, dialog.handle());

    // A modal window takes the focus from whichever window had it, and gives it back after.
    Node* const savedFocus = focus_;
    InitDialog(run);
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

    DestroyWindows(run);
    runs_.pop_back();
    if (focus_ && !live_.contains(focus_)) focus_ = nullptr;
    if (savedFocus && live_.contains(savedFocus)) MoveFocus(savedFocus);
    return run.code;
}

// The dialog and its controls, sized in pixels from the template's dialog units.
void HeadlessWindowSystem::CreateWindows(Run& run, const resources::DialogTemplate& source) {
    const int size = source.fontSize > 0 ? source.fontSize : 8;
    const int unitX = baseX_ > 0 ? baseX_ : MulDiv(6, size, 8);
    const int unitY = baseY_ > 0 ? baseY_ : MulDiv(13, size, 8);
    auto toPixels = [&](int x, int y, int cx, int cy) {
        const int left = MulDiv(x, unitX, 4), top = MulDiv(y, unitY, 8);
        return Rect{left, top, left + MulDiv(cx, unitX, 4), top + MulDiv(cy, unitY, 8)};
    };

    const CodePage& codePage = *run.codePage;
    run.dialog = std::make_unique<Node>(Kind::Dialog);
    Node& dialog = *run.dialog;
    dialog.style = source.style;
    dialog.text = codePage.ToNarrow(source.caption);
    const int depth = static_cast<int>(runs_.size());
    dialog.rect = toPixels(source.x, source.y, source.cx, source.cy);
    const int shift = 100 + 30 * depth;  // on the screen, each nested dialog a little lower
    dialog.rect = {dialog.rect.left + shift, dialog.rect.top + shift, dialog.rect.right + shift,
                   dialog.rect.bottom + shift};
    live_.insert(&dialog);

    for (const resources::DialogControl& item : source.controls) {
        auto node = std::make_unique<Node>(dialog_manager::KindOfControl(item));
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
}

// The windows exist: an owner-drawn list box of fixed height asks for its item height now.
void HeadlessWindowSystem::MeasureOwnerDrawn(Run& run) {
    for (auto& control : run.controls) {
        auto* box = control->As<internal::ListBoxControl>();
        if (box && (control->style & ws::kLbsOwnerDrawFixed)) {
            MeasureItemRequest measure{kOdtListBox, control->id, 0, 0,
                                       static_cast<unsigned>(kDefaultItemHeight), 0};
            ToDialog(run, Message::MeasureItem(measure));
            box->itemHeight = static_cast<int>(measure.height);
        }
    }
}

// The script's next act, when it is for this template; a problem otherwise.
std::pair<HeadlessWindowSystem::Act, HeadlessWindowSystem::Prepare> HeadlessWindowSystem::NextAct(
    uint32_t templateId) {
    if (script_.empty()) {
        Problem("dialog " + std::to_string(templateId) + " opened with no act left in the script");
        return {};
    }
    auto [expected, act, prepare] = std::move(script_.front());
    script_.pop_front();
    if (expected != templateId) {
        Problem("dialog " + std::to_string(templateId) + " opened where the script expected " +
                std::to_string(expected));
        return {};
    }
    return {std::move(act), std::move(prepare)};
}

// WM_INITDIALOG, naming the first tab stop; the focus goes there when the dialog answers true.
void HeadlessWindowSystem::InitDialog(Run& run) {
    Message init;
    init.message = wm::kInitDialog;
    Node* firstTabStop = Find(dialog_manager::FirstTabStop(*manager_, run.dialog->handle()));
    init.wParam = reinterpret_cast<uintptr_t>(firstTabStop ? firstTabStop->handle() : nullptr);
    const intptr_t setFocus = ToDialog(run, init);
    if (setFocus != 0 && !run.ended) {
        MoveFocus(firstTabStop);
        if (firstTabStop && firstTabStop->kind == Kind::Edit) SelectAllText(firstTabStop->handle());
    } else if (RunOf(focus_) != &run) {
        MoveFocus(nullptr);
    }
}

// WM_DESTROY, then the windows are gone.
void HeadlessWindowSystem::DestroyWindows(Run& run) {
    Message destroy;
    destroy.message = wm::kDestroy;
    ToDialog(run, destroy);
    for (auto& control : run.controls) {
        const auto* view = control->As<internal::ListViewControl>();
        if (view && view->editor) live_.erase(view->editor.get());
        live_.erase(control.get());
    }
    live_.erase(run.dialog.get());
}

// The close box: WM_CLOSE, which the dialog manager turns into the Cancel command.
void HeadlessWindowSystem::CloseBox(Run& run) { dialog_manager::CloseBox(*manager_, run.dialog->handle()); }

void HeadlessWindowSystem::ButtonCommand(Run& run, int id) {
    dialog_manager::ButtonCommand(*manager_, run.dialog->handle(), id);
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
    return dialog_manager::Item(*manager_, window, id);
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
    dialog_manager::GotoControl(*manager_, control);
}

// ---- Events ------------------------------------------------------------------------------------
intptr_t HeadlessWindowSystem::ToDialog(Run& run, const Message& message, bool* handled) {
    bool wasHandled = false;
    const intptr_t result = run.sink->OnMessage(run.dialog->handle(), message, wasHandled);
    if (handled) *handled = wasHandled;
    return result;
}

void HeadlessWindowSystem::Command(Node* control, int code) {
    if (control) dialog_manager::Command(*manager_, control->handle(), code);
}

intptr_t HeadlessWindowSystem::Notify(Node* control, int code, ListViewNotification& data) {
    return control ? dialog_manager::Notify(*manager_, control->handle(), code, data) : 0;
}

intptr_t HeadlessWindowSystem::ToControl(Node* node, Message message) {
    return node ? dialog_manager::ToControl(*manager_, node->handle(), std::move(message)) : 0;
}

intptr_t HeadlessWindowSystem::CallDefault(Window control, const Message& message) {
    return Find(control) ? dialog_manager::DefaultHandling(*manager_, control, message) : 0;
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

}  // namespace tavix::platform::headless
