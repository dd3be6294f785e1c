// The headless window system and the dialog framework together: the event-order stories
// (event_order_stories.h), and on a small dialog of the test's own the list view's notifications.
// (Data exchange's checks: the Properties dialog's; nested modals, help, menus, message boxes,
// label editing and owner-drawn painting: the dialogs' stories.)
#include "platform/headless/headless_window_system.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../frame/low_byte_code_page.h"
#include "event_order_stories.h"
#include "frame/window/dialog.h"
#include "frame/context/library_context.h"
#include "platform/module.h"

namespace tavix {
namespace {

using namespace platform;
using headless::HeadlessWindowSystem;
using headless::User;
using resources::ControlClass;

constexpr uint32_t kTestDialog = 900;
constexpr int kName = 10, kList = 12;
using Log = std::vector<std::string>;

// The test dialog: an edit, a list view, OK and Cancel.
std::optional<resources::DialogTemplate> Templates(uint32_t id) {
    if (id != kTestDialog) return std::nullopt;
    resources::DialogTemplate dialog{.cx = 200, .cy = 120, .caption = WideFromUtf16(u"Test"),
                                     .fontName = WideFromUtf16(u"MS Sans Serif"), .fontSize = 8, .controls = {}};
    const struct { int id; ControlClass kind; uint32_t style; int16_t cx, cy; } controls[] = {
        {kName, ControlClass::Edit, ws::kBorder, 100, 14},
        {kList, ControlClass::Named, ws::kLvsEditLabels, 150, 60},
        {kIdOk, ControlClass::Button, ws::kBsDefPushButton, 50, 14},
        {kIdCancel, ControlClass::Button, 0, 50, 14},
    };
    for (const auto& c : controls) {
        const WString className = WideFromUtf16(c.id == kList ? u"SysListView32" : u"");
        const uint32_t style = ws::kVisible | ws::kTabStop | c.style;
        dialog.controls.push_back({c.id, c.kind, className, {}, 0, 0, c.cx, c.cy, style});
    }
    return dialog;
}

class TestDialog : public frame::Dialog {
public:
    explicit TestDialog(uint32_t id = kTestDialog) : Dialog(id) {}
    Log log;
    frame::ListView list;

    static const frame::MessageMap* ClassMap() {
        static constexpr frame::MessageEntry entries[] = {
            frame::OnCommand<&TestDialog::OnEditFocus>(kName, en::kSetFocus),
            frame::OnCommand<&TestDialog::OnEditFocus>(kName, en::kKillFocus),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kItemChanged),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kInsertItem),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kDeleteItem),
            frame::OnNotify<&TestDialog::OnList>(kList, nm::kDblClk),
        };
        static const frame::MessageMap map{Dialog::ClassMap(), entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override { return log.push_back("init"), Dialog::OnInitDialog(); }
    void DoDataExchange(frame::DataExchange& exchange) override { exchange.Bind(kList, list); }

private:
    void OnEditFocus(const Message& message) {
        log.push_back(message.code == en::kSetFocus ? "name setfocus" : "name killfocus");
    }
    intptr_t OnList(const Message& message) {
        const ListViewNotification& n = *message.ListView();
        std::string line;
        switch (message.code) {
            case lvn::kItemChanged:
                line = "changed " + std::to_string(n.item) + " " + std::to_string(n.oldState) +
                       ">" + std::to_string(n.newState) + " " + std::to_string(n.changed);
                break;
            case lvn::kInsertItem: line = "insert " + std::to_string(n.item); break;
            case lvn::kDeleteItem: line = "delete " + std::to_string(n.item); break;
            default: line = "dblclk " + std::to_string(n.item); break;
        }
        log.push_back(line);
        return 0;
    }
};

class Headless : public ::testing::Test {
protected:
    HeadlessWindowSystem system{Templates};
    WindowSystemGuard guard{&system};
};

// The event-order stories, played by the scripted user.
TEST(HeadlessStories, RaiseTheDialogManagersEventsInOrder) {
    const ModuleHandle templates = LoadResourceLibrary(TAVIX_STORY_TEMPLATES);
    ASSERT_NE(templates, nullptr);
    LibraryContext context = CurrentContext();
    context.resourceModule = templates;
    ContextGuard current(context);
    for (const stories::Story& story : stories::EventOrderStories()) {
        SCOPED_TRACE(story.what);
        HeadlessWindowSystem system;
        WindowSystemGuard installed(&system);
        stories::StoryDialog dialog(story.templateId);
        system.Expect(story.templateId, [&](User& u) {
            for (const stories::Action& action : story.actions) {
                switch (action.kind) {
                    case stories::Action::Key: EXPECT_TRUE(u.PressKey(action.target)); break;
                    case stories::Action::ShiftKey: EXPECT_TRUE(u.PressKey(action.target, false, true)); break;
                    case stories::Action::Click: EXPECT_TRUE(u.Click(action.target)); break;
                    case stories::Action::Type: EXPECT_TRUE(u.Type(action.target, action.text)); break;
                    case stories::Action::Close: EXPECT_TRUE(u.Close()); break;
                }
            }
        });
        EXPECT_EQ(dialog.DoModal(), story.code);
        EXPECT_EQ(dialog.Events(), story.events);
        EXPECT_TRUE(system.Problems().empty());
    }
    FreeResourceLibrary(templates);
}

TEST_F(Headless, DialogsThatCannotOpenOrAreLeftOpen) {
    TestDialog unknown(999);
    EXPECT_EQ(unknown.DoModal(), -1);
    system.Expect(kTestDialog, [](User&) {});
    EXPECT_EQ(TestDialog().DoModal(), 2);  // left open: closed as with the close box
    ASSERT_EQ(system.Problems().size(), 1u);
    EXPECT_EQ(TestDialog().DoModal(), 2);  // no script for it
    EXPECT_EQ(system.Problems().size(), 2u);
}

// The backend builds the dialog from the template and code page RunModal is handed, whatever
// the current context holds (here the caller's: no template 900, another code page).
TEST(HeadlessRunModal, UsesTheTemplateAndCodePageItIsHanded) {
    struct Sink final : DialogSink {
        WindowSystem* system = nullptr;
        intptr_t OnMessage(Window dialog, const Message& message, bool& handled) override {
            handled = message.message == wm::kCommand && message.id == kIdCancel;
            if (handled) system->EndDialog(dialog, kIdCancel);
            return 0;
        }
    };
    const test::LowByteCodePage lowBytes;  // the euro sign narrows to '?' here only
    DialogSource source;
    source.codePage = &lowBytes;
    source.readTemplate = [](uint32_t id) {
        auto dialog = Templates(id);
        if (dialog) dialog->caption = WideFromUtf16(u"Caf\u00e9 \u20ac");
        return dialog;
    };
    HeadlessWindowSystem system;
    Sink sink;
    sink.system = &system;
    std::string caption;
    system.Expect(
        kTestDialog, [](User& u) { EXPECT_TRUE(u.Close()); },
        [&](HeadlessWindowSystem& s, Window dialog) { caption = s.Text(dialog); });
    EXPECT_EQ(system.RunModal(kTestDialog, source, nullptr, sink), kIdCancel);
    EXPECT_EQ(caption, "Caf\xe9 ?");
    EXPECT_TRUE(system.Problems().empty());

    source.readTemplate = nullptr;  // nothing to build it from: no dialog
    EXPECT_EQ(system.RunModal(kTestDialog, source, nullptr, sink), -1);
}

// The list view's notifications for the program's and the user's changes.
TEST_F(Headless, ListViewRaisesItsNotificationsInOrder) {
    TestDialog dialog;
    system.Expect(kTestDialog, [&](User& u) {
        frame::ListView& list = dialog.list;
        const auto grab = [&] { return std::exchange(dialog.log, {}); };
        dialog.log.clear();
        constexpr unsigned kSelFocus = lvis::kSelected | lvis::kFocused;
        list.InsertItem(0, {"a", 0, kSelFocus, 100});
        // An item inserted with a state reports the change before the insertion.
        EXPECT_EQ(grab(), (Log{"changed 0 0>3 8", "insert 0"}));
        list.InsertItem(1, {"b", 0, kSelFocus, 200});  // the focus moves to the new item
        EXPECT_EQ(grab(), (Log{"changed 0 3>2 8", "changed 1 0>3 8", "insert 1"}));

        u.ClickItem(kList, 0);  // the other item is unselected first
        EXPECT_EQ(grab(), (Log{"name killfocus", "changed 1 3>1 8", "changed 1 1>0 8", "changed 0 2>3 8"}));

        list.DeleteItem(0);  // a selected item gives up its state, then goes
        EXPECT_EQ(grab(), (Log{"changed 0 3>0 8", "delete 0"}));

        u.DoubleClickItem(kList, 0);
        u.DoubleClickEmpty(kList);
        EXPECT_EQ(grab(), (Log{"changed 0 0>3 8", "dblclk 0", "changed 0 3>1 8", "dblclk -1"}));
        u.PressKey(vk::kEscape);
    });
    EXPECT_EQ(dialog.DoModal(), 2);
}

}  // namespace
}  // namespace tavix
