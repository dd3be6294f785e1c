// The headless controls keep the state of their own kind only: a call for one kind of control
// made on a window of another kind answers as for no window and changes nothing, as a Windows
// control ignores another class's messages.
#include "platform/headless/headless_window_system.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "frame/window/dialog.h"

namespace tavix::platform {
namespace {

using headless::HeadlessWindowSystem;
using headless::User;
using resources::ControlClass;

constexpr uint32_t kKindsDialog = 910;
constexpr int kEdit = 20, kButton = 21, kListBox = 22, kListView = 23, kStatic = 24;

// One control of each kind.
std::optional<resources::DialogTemplate> Templates(uint32_t id) {
    if (id != kKindsDialog) return std::nullopt;
    resources::DialogTemplate dialog;
    dialog.cx = 200;
    dialog.cy = 120;
    dialog.caption = WideFromUtf16(u"Kinds");
    dialog.fontName = WideFromUtf16(u"MS Sans Serif");
    dialog.fontSize = 8;
    const struct { int id; ControlClass kind; } controls[] = {
        {kEdit, ControlClass::Edit},       {kButton, ControlClass::Button}, {kListBox, ControlClass::ListBox},
        {kListView, ControlClass::Named}, {kStatic, ControlClass::Static},
    };
    for (const auto& c : controls) {
        resources::DialogControl control;
        control.id = c.id;
        control.kind = c.kind;
        control.className = WideFromUtf16(c.id == kListView ? u"SysListView32" : u"");
        control.style = ws::kVisible;
        control.cx = 50;
        control.cy = 14;
        dialog.controls.push_back(control);
    }
    return dialog;
}

TEST(HeadlessKinds, EachControlKeepsOnlyTheStateOfItsOwnKind) {
    const auto icon = reinterpret_cast<IconHandle>(uintptr_t{0x50});
    // Each probe changes one kind's state on a window and reads it back: what its own kind
    // answers, and what any other window answers.
    const struct {
        std::string what;
        int ownId;
        std::function<std::string(HeadlessWindowSystem&, Window)> setAndRead;
        std::string kept, ignored;
    } probes[] = {
        {"edit limit", kEdit,
         [](HeadlessWindowSystem& s, Window w) {
             s.SetTextLimit(w, 7);
             return std::to_string(s.TextLimit(w));
         },
         "7", "0"},
        {"button icon", kButton,
         [icon](HeadlessWindowSystem& s, Window w) {
             const bool hadNone = s.SetButtonIcon(w, icon) == nullptr;
             return std::string(hadNone ? "" : "replaced ") + (s.ButtonIcon(w) == icon ? "icon" : "none");
         },
         "icon", "none"},
        {"list box item", kListBox,
         [](HeadlessWindowSystem& s, Window w) {
             const int index = s.ListBoxAdd(w, "a", 1);
             s.ListBoxSetCurSel(w, 0);
             s.ListBoxSetItemHeight(w, 0, 30);
             return std::to_string(index) + " " + std::to_string(s.ListBoxCount(w)) + " " +
                    std::to_string(s.ListBoxCurSel(w)) + " " + std::to_string(s.ListBoxItemHeight(w, 0));
         },
         "0 1 0 30", "-1 0 -1 0"},
        {"list view item", kListView,
         [](HeadlessWindowSystem& s, Window w) {
             const int index = s.ListViewInsert(w, 0, {"a", 2, 0, 9});
             const bool selected = s.ListViewSetState(w, 0, lvis::kSelected, lvis::kSelected);
             return std::to_string(index) + " " + std::to_string(s.ListViewCount(w)) + " " +
                    s.ListViewText(w, 0) + " " + std::to_string(s.ListViewData(w, 0)) + " " +
                    (selected ? "selected " : "") + std::to_string(s.ListViewSelectedCount(w));
         },
         "0 1 a 9 selected 1", "-1 0  0 0"},
    };
    HeadlessWindowSystem system{Templates};
    WindowSystemGuard guard{&system};
    frame::Dialog dialog(kKindsDialog);
    system.Expect(kKindsDialog, [&](User& u) {
        for (const int windowId : {0, kEdit, kButton, kListBox, kListView, kStatic}) {
            const Window window = windowId == 0 ? u.Dialog() : u.Item(windowId);
            ASSERT_NE(window, nullptr);
            for (const auto& probe : probes) {
                SCOPED_TRACE(probe.what + " on window " + std::to_string(windowId));
                EXPECT_EQ(probe.setAndRead(system, window), windowId == probe.ownId ? probe.kept : probe.ignored);
            }
        }
        u.PressKey(vk::kEscape);
    });
    EXPECT_EQ(dialog.DoModal(), kIdCancel);
    EXPECT_TRUE(system.Problems().empty());
}

}  // namespace
}  // namespace tavix::platform
