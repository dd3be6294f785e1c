// The state behind the headless windows, shared by the files that implement them: one Node per
// window, one Run per modal dialog, and the messages the dialog manager sends, built in one place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless/headless_window_system.h"

namespace tavix::platform::headless::internal {

enum class Kind { Dialog, Button, Edit, Static, ListBox, ComboBox, ListView, LabelEditor, Other };

constexpr unsigned kOdtListBox = 2;
constexpr int kDefaultItemHeight = 16;
constexpr uint32_t kBsPushButton = 0x00;

// WM_COMMAND from a control (or from the dialog manager on a button's behalf), packed as Windows
// packs it: the id in the low word of wParam, the notification code in the high word.
inline Message CommandMessage(int id, Window window, int code = 0) {
    Message message;
    message.message = wm::kCommand;
    message.id = id;
    message.code = code;
    message.window = window;
    message.wParam = static_cast<uintptr_t>((id & 0xFFFF) | ((code & 0xFFFF) << 16));
    return message;
}

// A mouse message's lParam: the client point, x in the low word and y in the high word.
inline intptr_t PointParam(Point client) {
    return (client.x & 0xFFFF) | ((client.y & 0xFFFF) << 16);
}

}  // namespace tavix::platform::headless::internal

namespace tavix::platform::headless {

// Every window's state. The fields of one control kind are grouped; the dialogs use only a
// window's own kind's group (the scroll bars belong to any window). Every window still carries
// every group: the WindowSystem calls do not check the kind today (ListBoxAdd on an edit keeps
// the item, SetTextLimit on a list box keeps the limit), so holding only the window's own kind
// would change what such a call answers.
struct HeadlessWindowSystem::Node {
    internal::Kind kind = internal::Kind::Other;
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

    struct Edit {
        int limit = 0;
    } edit;
    struct Button {
        IconHandle icon = nullptr;
    } button;
    struct ListBox {
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
    } listBox;
    struct ListView {
        std::vector<ListViewItem> items;
        const ImageList* images = nullptr;
        int editing = -1;
        std::unique_ptr<Node> editor;
    } listView;

    bool PushButton() const {
        return kind == internal::Kind::Button &&
               ((style & ws::kBsTypeMask) == internal::kBsPushButton ||
                (style & ws::kBsTypeMask) == ws::kBsDefPushButton);
    }
    // Visible itself and within a visible dialog.
    bool Showing() const { return visible && (parent == nullptr || parent->visible); }
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

namespace internal {

// A window's client area: its rectangle less the frame and the scroll bars (for a dialog, all
// of it).
Rect ClientArea(const HeadlessWindowSystem::Node& node);

}  // namespace internal

}  // namespace tavix::platform::headless
