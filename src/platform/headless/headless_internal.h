// The state behind the headless windows, shared by the files that implement them: one Node per
// window, one Run per modal dialog, and the messages the dialog manager sends, built in one place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/dialog_manager.h"
#include "platform/headless/headless_window_system.h"

namespace tavix::platform::headless::internal {

using Kind = dialog_manager::ControlKind;

constexpr unsigned kOdtListBox = 2;
constexpr int kDefaultItemHeight = 16;

// A mouse message's lParam: the client point, x in the low word and y in the high word.
inline intptr_t PointParam(Point client) {
    return (client.x & 0xFFFF) | ((client.y & 0xFFFF) << 16);
}

}  // namespace tavix::platform::headless::internal

namespace tavix::platform::headless {

// Every window's state: what every window has, and the state of its own kind of control
// (none for a dialog, a static, a combo box, the label editor and unknown classes). A call for
// one kind of control made on a window of another kind answers as for no window, and changes
// nothing.
struct HeadlessWindowSystem::Node {
    struct EditControl {
        int limit = 0;
    };
    struct ButtonControl {
        IconHandle icon = nullptr;
    };
    struct ListBoxControl {
        struct Item {
            std::string text;
            uintptr_t data = 0;
            int height = internal::kDefaultItemHeight;
        };
        std::vector<Item> items;
        int curSel = -1;
        int columnWidth = 0;
        int extent = 0;
        int horzPos = 0;
        int itemHeight = internal::kDefaultItemHeight;
    };
    struct ListViewControl {
        std::vector<ListViewItem> items;
        const ImageList* images = nullptr;
        int editing = -1;
        std::unique_ptr<Node> editor;
    };

    const internal::Kind kind;
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
    ScrollInfo bars[2];
    bool barEnabled[2] = {true, true};

    explicit Node(internal::Kind of) : kind(of) {
        switch (of) {
            case internal::Kind::Edit: state_.emplace<EditControl>(); break;
            case internal::Kind::Button: state_.emplace<ButtonControl>(); break;
            case internal::Kind::ListBox: state_.emplace<ListBoxControl>(); break;
            case internal::Kind::ListView: state_.emplace<ListViewControl>(); break;
            default: break;
        }
    }

    // The state of the window's kind of control: null for a window of another kind.
    template <typename State>
    State* As() {
        return std::get_if<State>(&state_);
    }
    template <typename State>
    const State* As() const {
        return std::get_if<State>(&state_);
    }

    bool PushButton() const { return dialog_manager::IsPushButton(kind, style); }
    // Visible itself and within a visible dialog.
    bool Showing() const { return visible && (parent == nullptr || parent->visible); }
    Window handle() { return reinterpret_cast<Window>(this); }

private:
    std::variant<std::monostate, EditControl, ButtonControl, ListBoxControl, ListViewControl> state_;
};

struct HeadlessWindowSystem::Run {
    uint32_t templateId = 0;
    std::unique_ptr<Node> dialog;
    std::vector<std::unique_ptr<Node>> controls;  // in tab order
    DialogSink* sink = nullptr;
    const CodePage* codePage = nullptr;  // of the dialog's text, as RunModal was handed it
    bool ended = false;
    int code = 0;
    int defaultId = 0;
};

// The dialog manager's view of the headless windows: what it asks is read from the nodes, what it
// raises goes to the running dialogs' sinks.
class HeadlessWindowSystem::Manager final : public dialog_manager::Host {
public:
    explicit Manager(HeadlessWindowSystem& system) : system_(system) {}

    bool Exists(Window window) override { return system_.Find(window) != nullptr; }
    dialog_manager::ControlKind KindOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->kind : dialog_manager::ControlKind::Other;
    }
    uint32_t StyleOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->style : 0;
    }
    int IdOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->id : 0;
    }
    Window DialogOf(Window window) override {
        Run* run = system_.RunOf(system_.Find(window));
        return run ? run->dialog->handle() : nullptr;
    }
    bool Ended(Window dialog) override {
        Run* run = system_.RunOf(system_.Find(dialog));
        return run == nullptr || run->ended;
    }
    std::vector<Window> Controls(Window dialog) override {
        std::vector<Window> controls;
        Node* node = system_.Find(dialog);
        Run* run = system_.RunOf(node);
        if (run == nullptr || node != run->dialog.get()) return controls;
        for (auto& control : run->controls) controls.push_back(control->handle());
        return controls;
    }
    bool Enabled(Window control) override {
        const Node* node = system_.Find(control);
        return node && node->enabled;
    }
    bool Shown(Window control) override {
        const Node* node = system_.Find(control);
        return node && node->Showing();
    }
    int DefaultId(Window dialog) override {
        Run* run = system_.RunOf(system_.Find(dialog));
        return run ? run->defaultId : 0;
    }
    ControlHook* HookOf(Window control) override {
        Node* node = system_.Find(control);
        return node ? node->hook : nullptr;
    }
    Point Cursor() override { return system_.cursor_; }
    std::vector<ListViewItem>* ListViewItems(Window list) override {
        auto* view = system_.Find(list) ? system_.Find(list)->As<Node::ListViewControl>() : nullptr;
        return view ? &view->items : nullptr;
    }

    dialog_manager::ScrollBars* BarsOf(Window window) override {
        Node* node = system_.Find(window);
        return node ? &node->bars : nullptr;
    }

    intptr_t ToDialog(Window dialog, const Message& message, bool* handled) override {
        Run* run = system_.RunOf(system_.Find(dialog));
        return run ? system_.ToDialog(*run, message, handled) : 0;
    }
    void MoveFocus(Window control) override { system_.MoveFocus(system_.Find(control)); }
    void SelectAllText(Window edit) override { system_.SelectAllText(edit); }

    void ListBoxFocusChanged(Window list) override { system_.ListBoxFocusChanged(system_.Find(list)); }
    void ListBoxClick(Window list, Point client) override { system_.ListBoxClick(system_.Find(list), client.y); }
    void ListBoxKey(Window list, int key) override { system_.ListBoxKey(system_.Find(list), key); }
    void ListBoxHScroll(Window list, int code, int thumb) override {
        system_.ListBoxHScroll(system_.Find(list), code, thumb);
    }

private:
    HeadlessWindowSystem& system_;
};

namespace internal {

using EditControl = HeadlessWindowSystem::Node::EditControl;
using ButtonControl = HeadlessWindowSystem::Node::ButtonControl;
using ListBoxControl = HeadlessWindowSystem::Node::ListBoxControl;
using ListViewControl = HeadlessWindowSystem::Node::ListViewControl;

// The state of node's kind of control; null for no window or one of another kind.
template <typename State>
State* StateOf(HeadlessWindowSystem::Node* node) {
    return node ? node->As<State>() : nullptr;
}

// A window's client area: its rectangle less the frame and the scroll bars (for a dialog, all
// of it).
Rect ClientArea(const HeadlessWindowSystem::Node& node);

}  // namespace internal

}  // namespace tavix::platform::headless
