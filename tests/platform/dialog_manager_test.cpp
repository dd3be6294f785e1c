// The dialog manager's rules on a dialog of plain records (no window system): which keys a
// control keeps and which the dialog takes, the list box's navigation keys, the scroll bars'
// clamping, and the kinds of template controls. The event order of whole dialogs is the
// event-order stories' (event_order_stories.h), on every backend.
#include "platform/dialog_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tavix::platform::dialog_manager {
namespace {

// A dialog of three controls: an edit, a list view and a push button (the default one).
class FakeDialog final : public Host, public ControlHook {
public:
    // dialogCode: the hook's answer to WM_GETDLGCODE; -1: the default.
    struct Control { int id; ControlKind kind; uint32_t style; intptr_t dialogCode = -1; };
    std::vector<Control> controls = {
        {10, ControlKind::Edit, ws::kTabStop},
        {12, ControlKind::ListView, ws::kTabStop},
        {kIdOk, ControlKind::Button, ws::kTabStop | ws::kBsDefPushButton},
    };
    std::vector<std::string> log;  // what the dialog received, and the keys the controls did
    Window focus = nullptr;

    Window DialogWindow() { return reinterpret_cast<Window>(&controls); }
    Window Handle(int id) {
        const auto at = std::find_if(controls.begin(), controls.end(), [id](const Control& c) { return c.id == id; });
        return at == controls.end() ? nullptr : reinterpret_cast<Window>(&*at);
    }
    Control* Of(Window window) {
        const auto at = std::find_if(controls.begin(), controls.end(),
                                     [window](Control& c) { return reinterpret_cast<Window>(&c) == window; });
        return at == controls.end() ? nullptr : &*at;
    }

    bool Exists(Window window) override { return window == DialogWindow() || Of(window); }
    ControlKind KindOf(Window window) override {
        return window == DialogWindow() ? ControlKind::Dialog : Of(window) ? Of(window)->kind : ControlKind::Other;
    }
    uint32_t StyleOf(Window window) override { return Of(window) ? Of(window)->style : 0; }
    int IdOf(Window window) override { return Of(window) ? Of(window)->id : 0; }
    Window DialogOf(Window window) override { return Exists(window) ? DialogWindow() : nullptr; }
    bool Ended(Window) override { return false; }
    std::vector<Window> Controls(Window) override {
        std::vector<Window> all;
        for (Control& control : controls) all.push_back(reinterpret_cast<Window>(&control));
        return all;
    }
    bool Enabled(Window window) override { return Of(window) != nullptr; }
    bool Shown(Window window) override { return Of(window) != nullptr; }
    int DefaultId(Window) override { return kIdOk; }
    ControlHook* HookOf(Window) override { return this; }
    Point Cursor() override { return {}; }
    std::vector<ListViewItem>* ListViewItems(Window) override { return nullptr; }
    ScrollBars* BarsOf(Window) override { return nullptr; }
    intptr_t ToDialog(Window, const Message& message, bool*) override {
        if (message.message == wm::kCommand) log.push_back("command " + std::to_string(message.id));
        if (message.message == wm::kNotify && message.code == lvn::kKeyDown) {
            log.push_back("list key " + std::to_string(message.ListView()->key));
        }
        if (message.message == wm::kContextMenu) log.push_back("menu " + std::to_string(message.point.x));
        if (message.message == wm::kHelp) log.push_back("help " + std::to_string(message.id));
        return 0;
    }
    void MoveFocus(Window control) override { focus = control; }
    void SelectAllText(Window) override {}
    intptr_t OnControlMessage(Window control, const Message& message, bool& handled) override {
        handled = message.message == wm::kGetDlgCode && Of(control)->dialogCode >= 0;
        return handled ? Of(control)->dialogCode : 0;
    }
};

// Each key with the focus on a control (or none), what the dialog manager leaves to whom, and
// what the dialog received. (Tab, Shift+Tab, Enter and Escape: the event-order stories; F1: the dialogs' help.)
TEST(DialogManager, KeysGoToTheDialogOrTheControlByWhatTheControlWants) {
    // dialogCode: the control's answer to WM_GETDLGCODE (-1: its default one).
    struct Case { const char* what; int focusId; intptr_t dialogCode; int key; bool shift; KeyOutcome outcome;
                  int focusAfter; std::vector<std::string> log; };
    using enum KeyOutcome;
    const Case cases[] = {
        {"a control that wants Tab keeps it", 10, dlgc::kWantTab, vk::kTab, false, ForControl, 10, {}},
        {"a control that wants every key keeps Enter", 10, dlgc::kWantAllKeys, vk::kReturn, false, ForControl, 10, {}},
        {"an arrow in a list view is the list's", 12, -1, vk::kDown, false, ForControl, 12, {}},
        {"an arrow on a button moves within the group (backend)", kIdOk, -1, vk::kDown, false, Backend, kIdOk, {}},
        {"Shift+F10 is the keyboard's context menu", 12, -1, kVkF10, true, Handled, 12, {"menu -1"}},
        {"F10 alone is the menu bar's", 12, -1, kVkF10, false, Backend, 12, {}},
        {"the menu key with no focus is about the dialog", 0, -1, vk::kApps, false, Handled, 0, {"menu -1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDialog dialog;
        if (c.focusId != 0) dialog.Of(dialog.Handle(c.focusId))->dialogCode = c.dialogCode;
        dialog.focus = dialog.Handle(c.focusId);
        EXPECT_EQ(PressKey(dialog, dialog.DialogWindow(), dialog.focus, c.key, c.shift), c.outcome);
        EXPECT_EQ(dialog.focus, dialog.Handle(c.focusAfter));
        EXPECT_EQ(dialog.log, c.log);
    }
}

TEST(DialogManager, ListBoxKeysAndScrollBarsStayInRange) {
    const struct { int key, current, count, index; } keys[] = {
        {vk::kUp, -1, 3, 0},  {vk::kLeft, 2, 3, 1},  {vk::kDown, 2, 3, 2}, {vk::kRight, -1, 3, 0},
        {vk::kHome, 2, 3, 0}, {vk::kEnd, 0, 3, 2},   {vk::kDown, -1, 0, -1}, {vk::kF2, 1, 3, -1},
    };
    for (const auto& k : keys) {
        EXPECT_EQ(ListBoxIndexForKey(k.key, k.current, k.count), k.index) << k.key << " from " << k.current;
    }

    ScrollInfo bar;
    EXPECT_EQ(SetScrollBar(bar, {sb::kRange | sb::kPage | sb::kPos, 0, 99, 30, 95, 0}), 70);  // the last page whole
    EXPECT_TRUE(ScrollBarScrolls(bar));
    EXPECT_EQ(SetScrollBar(bar, {sb::kPage, 0, 0, 500, 0, 0}), 0);
    EXPECT_EQ(bar.page, 100u);  // no more than the range
    EXPECT_FALSE(ScrollBarScrolls(bar));
}

TEST(DialogManager, TemplateControlsAreKnownByClassOrName) {
    const struct { resources::ControlClass kind; std::u16string name; ControlKind expected; } controls[] = {
        {resources::ControlClass::ComboBox, u"", ControlKind::ComboBox},
        {resources::ControlClass::Named, u"SYSLISTVIEW32", ControlKind::ListView},
        {resources::ControlClass::Named, u"msctls_trackbar32", ControlKind::Other},
    };
    for (const auto& c : controls) {
        resources::DialogControl control;
        control.kind = c.kind;
        control.className = WideFromUtf16(c.name);
        EXPECT_EQ(KindOfControl(control), c.expected);
    }
    EXPECT_EQ(DialogCode(ControlKind::Button, ws::kBsDefPushButton), dlgc::kButton | dlgc::kDefPushButton);
}

}  // namespace
}  // namespace tavix::platform::dialog_manager
