// Modal dialogs: built from their templates and run by the script; the events between the
// dialog manager, the controls and the dialog; the painting of owner-drawn list boxes.
#include "platform/headless/headless_window_system.h"

#include <algorithm>
#include <cwctype>
#include <tuple>
#include <utility>

#include "frame/library_context.h"
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

}  // namespace

// ---- Modal dialogs -----------------------------------------------------------------------------
int HeadlessWindowSystem::RunModal(uint32_t templateId, Window /*parent*/, DialogSink& sink) {
    std::optional<resources::DialogTemplate> dialogTemplate = templates_(templateId);
    if (!dialogTemplate) return -1;

    Run run;
    run.templateId = templateId;
    run.sink = &sink;
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

    const CodePage& codePage = ActiveCodePage();
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
        auto node = std::make_unique<Node>(KindOf(item));
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
void HeadlessWindowSystem::CloseBox(Run& run) {
    Message close;
    close.message = wm::kClose;
    bool handled = false;
    ToDialog(run, close, &handled);
    if (handled || run.ended) return;
    ButtonCommand(run, kIdCancel);
}

void HeadlessWindowSystem::ButtonCommand(Run& run, int id) {
    ToDialog(run, Message::Command(id, DialogItem(run.dialog->handle(), id)));
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
intptr_t HeadlessWindowSystem::ToDialog(Run& run, const Message& message, bool* handled) {
    bool wasHandled = false;
    const intptr_t result = run.sink->OnMessage(run.dialog->handle(), message, wasHandled);
    if (handled) *handled = wasHandled;
    return result;
}

void HeadlessWindowSystem::Command(Node* control, int code) {
    Run* run = control ? RunOf(control) : Active();
    if (run == nullptr) return;
    ToDialog(*run, control ? Message::Command(control->id, control->handle(), code)
                           : Message::Command(kIdCancel, nullptr, code));
}

intptr_t HeadlessWindowSystem::Notify(Node* control, int code, ListViewNotification& data) {
    Run* run = RunOf(control);
    if (run == nullptr) return 0;
    return ToDialog(*run, Message::Notify(control->id, control->handle(), code, data));
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

// What a control does with a message nobody handled, as the common controls do it.
intptr_t HeadlessWindowSystem::DefaultHandling(Node* node, const Message& message) {
    switch (message.message) {
        case wm::kGetDlgCode: return DialogCode(*node);
        case wm::kSetFocus:
        case wm::kKillFocus: FocusNotification(node, message.message == wm::kSetFocus); return 0;
        case wm::kLButtonDown:
            MoveFocus(node);
            if (node->kind == Kind::ListBox) {
                ListBoxClick(node, static_cast<int16_t>((message.lParam >> 16) & 0xFFFF));
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
            } else if (node->kind == Kind::ListBox) {
                ListBoxKey(node, static_cast<int>(message.wParam));
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
            if (Run* run = RunOf(node)) ToDialog(*run, message);
            return 0;
        default:
            return 0;
    }
}

// WM_GETDLGCODE: which keys the control wants, and what kind of button it is.
intptr_t HeadlessWindowSystem::DialogCode(const Node& node) {
    switch (node.kind) {
        case Kind::Edit: return dlgc::kWantChars | dlgc::kHasSetSel | dlgc::kWantArrows;
        case Kind::ListBox:
        case Kind::ListView: return dlgc::kWantChars | dlgc::kWantArrows;
        case Kind::Button:
            if (!node.PushButton()) return dlgc::kButton;
            return dlgc::kButton | ((node.style & ws::kBsTypeMask) == ws::kBsDefPushButton
                                        ? dlgc::kDefPushButton
                                        : dlgc::kUndefPushButton);
        default: return 0;
    }
}

// The notification a control sends its dialog when it gains or loses the focus.
void HeadlessWindowSystem::FocusNotification(Node* node, bool gained) {
    switch (node->kind) {
        case Kind::Edit: Command(node, gained ? en::kSetFocus : en::kKillFocus); break;
        case Kind::ListBox:
            if (const int curSel = node->As<internal::ListBoxControl>()->curSel; curSel >= 0) {
                PaintItem(node, curSel, oda::kFocus);
            }
            Command(node, gained ? lbn::kSetFocus : lbn::kKillFocus);
            break;
        case Kind::ListView: {
            ListViewNotification data;
            Notify(node, gained ? nm::kSetFocus : nm::kKillFocus, data);
            break;
        }
        default: break;
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

}  // namespace tavix::platform::headless
