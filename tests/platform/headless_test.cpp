// The headless window system and the dialog framework together: the event-order stories
// (event_order_stories.h), and on a small dialog of the test's own list views, focus, nested
// modals, the recorded prompts, owner-drawn painting, and controls that keep only the state of
// their own kind. (Data exchange's checks: the Properties dialog's.)
#include "platform/headless/headless_window_system.h"

#include <gtest/gtest.h>

#include <functional>
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
using headless::Record;
using headless::User;
using resources::ControlClass;

constexpr uint32_t kTestDialog = 900;
constexpr uint32_t kInnerDialog = 901;
constexpr int kName = 10, kGo = 11, kList = 12, kRow = 13, kPort = 14, kLabel = 15;
using Log = std::vector<std::string>;

// Both test dialogs: two edits, a button, a list view, an owner-drawn row, a label, OK and Cancel.
std::optional<resources::DialogTemplate> Templates(uint32_t id) {
    if (id != kTestDialog && id != kInnerDialog) return std::nullopt;
    resources::DialogTemplate dialog{.cx = 200, .cy = 120, .caption = WideFromUtf16(u"Test"),
                                     .fontName = WideFromUtf16(u"MS Sans Serif"), .fontSize = 8, .controls = {}};
    const struct { int id; ControlClass kind; uint32_t style; int16_t cx, cy; } controls[] = {
        {kName, ControlClass::Edit, ws::kBorder, 100, 14},
        {kPort, ControlClass::Edit, ws::kBorder, 50, 14},
        {kGo, ControlClass::Button, 0, 50, 14},
        {kList, ControlClass::Named, ws::kLvsEditLabels, 150, 60},
        {kRow, ControlClass::ListBox, ws::kHScroll | ws::kLbsNotify | ws::kLbsOwnerDrawVariable, 133, 30},
        {kIdOk, ControlClass::Button, ws::kBsDefPushButton, 50, 14},
        {kIdCancel, ControlClass::Button, 0, 50, 14},
        {kLabel, ControlClass::Static, 0, 50, 14},
    };
    for (const auto& c : controls) {
        const WString className = WideFromUtf16(c.id == kList ? u"SysListView32" : u"");
        const uint32_t style = ws::kVisible | ws::kTabStop | c.style;
        dialog.controls.push_back({c.id, c.kind, className, {}, 0, 0, c.cx, c.cy, style});
    }
    return dialog;
}

// An owner-drawn row: one cell per item, highlighted while selected with the focus.
class Row : public frame::OwnerDrawListBox {
public:
    Log* log = nullptr;
    static const frame::MessageMap* ClassMap() {
        static constexpr frame::MessageEntry entries[] = {
            frame::OnReflected<&Row::OnSetFocus>(wm::kCommand, lbn::kSetFocus),
        };
        static const frame::MessageMap map{nullptr, entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }
    bool MeasureItem(MeasureItemRequest& request) override { return request.height = 40, true; }
    bool DrawItem(DrawItemRequest& request) override {
        const bool focused = (request.state & oda::kStateFocus) != 0;
        request.painter->Fill(request.rect, focused ? color::kHighlight : color::kWindow);
        if (focused) request.painter->FocusRect(request.rect);
        return true;
    }

private:
    void OnSetFocus() { log->push_back("row setfocus"); }
};

class TestDialog : public frame::Dialog {
public:
    explicit TestDialog(uint32_t id = kTestDialog, Window parent = nullptr) : Dialog(id, parent) { row.log = &log; }
    Log log;
    std::string name = "init";
    intptr_t labelAnswer = 1;
    std::function<void(TestDialog&)> onGo;
    frame::ListView list;
    Row row;

    static const frame::MessageMap* ClassMap() {
        static constexpr frame::MessageEntry entries[] = {
            frame::OnCommand<&TestDialog::OnGo>(kGo),
            frame::OnCommand<&TestDialog::OnEditFocus>(kName, en::kSetFocus),
            frame::OnCommand<&TestDialog::OnEditFocus>(kName, en::kKillFocus),
            frame::OnCommand<&TestDialog::OnRowFocus>(kRow, lbn::kKillFocus),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kItemChanged),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kInsertItem),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kDeleteItem),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kEndLabelEdit),
            frame::OnNotify<&TestDialog::OnList>(kList, lvn::kKeyDown),
            frame::OnNotify<&TestDialog::OnList>(kList, nm::kDblClk),
            frame::OnMessage<&TestDialog::OnHelp>(wm::kHelp),
            frame::OnMessage<&TestDialog::OnContextMenu>(wm::kContextMenu),
            frame::OnMessage<&TestDialog::OnDestroy>(wm::kDestroy),
        };
        static const frame::MessageMap map{Dialog::ClassMap(), entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override { return log.push_back("init"), Dialog::OnInitDialog(); }
    void DoDataExchange(frame::DataExchange& exchange) override {
        exchange.Bind(kList, list);
        exchange.Bind(kRow, row);
        exchange.Text(kName, name, 5);
    }

private:
    void OnGo() {
        log.push_back("go");
        if (onGo) onGo(*this);
    }
    void OnEditFocus(const Message& message) {
        log.push_back(message.code == en::kSetFocus ? "name setfocus" : "name killfocus");
    }
    void OnRowFocus() { log.push_back("row killfocus"); }
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
            case lvn::kKeyDown: line = "key " + std::to_string(n.key); break;
            case nm::kDblClk: line = "dblclk " + std::to_string(n.item); break;
            default:
                line = "endedit " + std::to_string(n.item) + " " + n.text.value_or("(cancelled)");
                log.push_back(line);
                return labelAnswer;
        }
        log.push_back(line);
        return 0;
    }
    intptr_t OnHelp(const Message& message) { return log.push_back("help " + std::to_string(message.id)), 1; }
    void OnContextMenu(const Message& message) {
        log.push_back("menu " + std::to_string(frame::WindowSystem().ControlId(message.window)));
    }
    void OnDestroy() {
        Dialog::OnDestroy();
        log.push_back("destroy");
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
    {
        WindowSystemGuard none(nullptr);
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), -1);
    }
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

// The platform's message box (the store's warnings) goes to the installed window system.
TEST_F(Headless, PlatformMessageBoxesAreRecordedAndAnswered) {
    system.AnswerMessageBox(kIdNo);
    EXPECT_EQ(ShowMessageBox("Save?", "Save", kMbYesNo | kMbIconQuestion), kIdNo);
    EXPECT_EQ(ShowMessageBox("Warning", "TavixConnect", kMbOk), kIdOk);  // unanswered: the default button
    const auto boxes = system.RecordsOf(Record::MessageBox);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text + "|" + boxes[0].caption + "|" + std::to_string(boxes[0].style) + "|" +
                  std::to_string(boxes[1].answer),
              "Save?|Save|" + std::to_string(kMbYesNo | kMbIconQuestion) + "|" + std::to_string(kIdOk));
}

TEST_F(Headless, TypingStopsAtTheEditLimit) {
    TestDialog dialog;
    system.Expect(kTestDialog, [](User& u) {
        EXPECT_TRUE(u.Type(kName, "abcdefgh"));
        EXPECT_EQ(u.Text(kName), "abcde");
        u.System().Enable(u.Item(kName), false);
        EXPECT_FALSE(u.Type(kName, "x"));
        EXPECT_EQ(u.FocusId(), 0);  // a disabled window gives up the focus
        u.PressKey(vk::kReturn);
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(dialog.name, "abcde");
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
        EXPECT_EQ(list.SelectedCount(), 2);
        EXPECT_EQ(list.NextItem(-1, lvni::kSelected), 0);
        EXPECT_EQ(list.NextItem(0, lvni::kFocused), 1);

        u.ClickItem(kList, 0);  // the other item is unselected first
        EXPECT_EQ(grab(), (Log{"name killfocus", "changed 1 3>1 8", "changed 1 1>0 8", "changed 0 2>3 8"}));
        u.BeginLabelEdit(kList, 0);
        u.EndLabelEdit(kList, "alpha");
        dialog.labelAnswer = 0;
        u.BeginLabelEdit(kList, 1);
        u.EndLabelEdit(kList, "beta");
        u.BeginLabelEdit(kList, 1);
        u.EndLabelEdit(kList, std::nullopt);
        EXPECT_EQ(grab(), (Log{"endedit 0 alpha", "changed 0 3>3 1", "endedit 1 beta", "endedit 1 (cancelled)"}));
        EXPECT_EQ(list.ItemText(0) + " " + list.ItemText(1), "alpha b");

        u.PressKey(vk::kDelete);
        list.DeleteItem(0);  // a selected item gives up its state, then goes
        EXPECT_EQ(grab(), (Log{"key 46", "changed 0 3>0 8", "delete 0"}));
        EXPECT_EQ(list.ItemData(0), 200u);

        u.DoubleClickItem(kList, 0);
        EXPECT_EQ(list.HitTest(list.ScreenToClient(u.System().CursorPos())), 0);
        u.DoubleClickEmpty(kList);
        EXPECT_EQ(grab(), (Log{"changed 0 0>3 8", "dblclk 0", "changed 0 3>1 8", "dblclk -1"}));
        u.PressKey(vk::kEscape);
    });
    EXPECT_EQ(dialog.DoModal(), 2);
}

// Help and context-menu requests name the control; clicks on a disabled control go to the dialog.
TEST_F(Headless, HelpAndContextMenuRequests) {
    TestDialog dialog;
    system.Expect(kTestDialog, [&](User& u) {
        dialog.log.clear();
        u.Help();
        u.RightClick(kGo);
        u.System().Enable(u.Item(kGo), false);
        u.RightClick(kGo);
        u.Focus(kPort);
        u.PressKey(vk::kApps);
        u.PressKey(vk::kEscape);
    });
    dialog.DoModal();
    EXPECT_EQ(dialog.log, (Log{"help 10", "menu 11", "menu 0", "name killfocus", "menu 14", "destroy"}));
}

// A nested modal dialog has its own act; prompts are answered by the script (a greyed menu item
// cannot be chosen), and a modal window borrows the focus. (The file dialog: Change Icon's Browse.)
TEST_F(Headless, NestedDialogsAndPrompts) {
    TestDialog outer;
    std::string answers;
    outer.onGo = [&](TestDialog& self) {
        TestDialog inner(kInnerDialog, self.Handle());
        answers = std::to_string(inner.DoModal()) + " ";
        answers += std::to_string(frame::ShowStringMessage(0, kMbYesNo, self.Handle())) + " ";
        frame::PopupMenu menu;
        menu.Append(frame::PopupMenu::kString, 12, "New");
        menu.AppendSeparator();
        menu.Append(frame::PopupMenu::kGrayed, 13, "Properties");
        answers += std::to_string(menu.Track({5, 5}, self));
        self.GotoDlgCtrl(self.Item(kName));
    };
    system.Expect(kTestDialog, [&](User& u) {
        u.System().AnswerMessageBox(kIdNo);
        u.System().AnswerMenu(13);  // greyed: cannot be chosen
        u.Click(kGo);
        EXPECT_EQ(u.FocusId(), kName);
        u.PressKey(vk::kEscape);
    });
    system.Expect(kInnerDialog, [](User& u) {
        u.Type(kName, "x");
        u.PressKey(vk::kReturn);
    });
    EXPECT_EQ(outer.DoModal(), 2);
    EXPECT_EQ(answers, std::to_string(kIdOk) + " " + std::to_string(kIdNo) + " 0");
    ASSERT_EQ(system.Problems().size(), 1u);  // the greyed item
    EXPECT_EQ(system.OpenedDialogs(), (std::vector<uint32_t>{kTestDialog, kInnerDialog}));
}

// The owner-drawn row: measured when an item is added, painted when the action is over and
// synchronously when its focus changes; its set-focus notification reflected to its class.
TEST_F(Headless, OwnerDrawnListBoxPaintsThroughItsClass) {
    TestDialog dialog;
    system.Expect(kTestDialog, [&](User& u) {
        dialog.row.AddItem("", 0);
        dialog.row.SetCurSel(0);
        EXPECT_EQ(dialog.row.ItemHeight(0), 40);
        u.System().ClearLog();
        dialog.log.clear();
        u.Focus(kRow);
        const auto& paints = u.System().Paints();
        ASSERT_EQ(paints.size(), 2u);  // the focus change, then the pending repaint
        EXPECT_EQ(paints[0].action, oda::kFocus);
        EXPECT_EQ(paints[0].ops.size(), 2u);
        EXPECT_EQ(paints[0].ops[0].color, color::kHighlight);
        EXPECT_EQ(paints[1].action, oda::kDrawEntire);
        EXPECT_EQ(paints[1].rect, (Rect{0, 0, 200, 40}));  // 133 dialog units wide
        EXPECT_EQ(dialog.log, (Log{"name killfocus", "row setfocus"}));
        u.PressKey(vk::kEscape);
    });
    dialog.DoModal();
}

// A call for one kind of control made on a window of another kind answers as for no window and
// changes nothing, as a Windows control ignores another class's messages.
TEST_F(Headless, EachControlKeepsOnlyTheStateOfItsOwnKind) {
    const auto icon = reinterpret_cast<IconHandle>(uintptr_t{0x50});
    // Sets a button icon, an edit limit, a list box item and a list view item on a window and reads
    // each back: "limit | icon | index count selection height | index count text data selected".
    const auto setAndRead = [&](Window w) {
        const bool hadNone = system.SetButtonIcon(w, icon) == nullptr;
        system.SetTextLimit(w, 7);
        const int boxIndex = system.ListBoxAdd(w, "a", 1);
        system.ListBoxSetCurSel(w, 0);
        system.ListBoxSetItemHeight(w, 0, 30);
        const int viewIndex = system.ListViewInsert(w, 0, {"a", 2, 0, 9});
        const bool selected = system.ListViewSetState(w, 0, lvis::kSelected, lvis::kSelected);
        return std::to_string(system.TextLimit(w)) + " | " + (hadNone ? "" : "replaced ") +
               (system.ButtonIcon(w) == icon ? "icon" : "none") + " | " + std::to_string(boxIndex) + " " +
               std::to_string(system.ListBoxCount(w)) + " " + std::to_string(system.ListBoxCurSel(w)) + " " +
               std::to_string(system.ListBoxItemHeight(w, 0)) + " | " + std::to_string(viewIndex) + " " +
               std::to_string(system.ListViewCount(w)) + " " + system.ListViewText(w, 0) + " " +
               std::to_string(system.ListViewData(w, 0)) + " " + (selected ? "selected " : "") +
               std::to_string(system.ListViewSelectedCount(w));
    };
    const std::pair<int, std::string> windows[] = {
        {0, "0 | none | -1 0 -1 0 | -1 0  0 0"},  // the dialog
        {kName, "7 | none | -1 0 -1 0 | -1 0  0 0"},
        {kGo, "0 | icon | -1 0 -1 0 | -1 0  0 0"},
        {kRow, "0 | none | 0 1 0 30 | -1 0  0 0"},
        {kList, "0 | none | -1 0 -1 0 | 0 1 a 9 selected 1"},
        {kLabel, "0 | none | -1 0 -1 0 | -1 0  0 0"},
    };
    frame::Dialog dialog(kTestDialog);
    system.Expect(kTestDialog, [&](User& u) {
        for (const auto& [id, expected] : windows) {
            const Window window = id == 0 ? u.Dialog() : u.Item(id);
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(setAndRead(window), expected) << "window " << id;
        }
        u.PressKey(vk::kEscape);
    });
    EXPECT_EQ(dialog.DoModal(), kIdCancel);
    EXPECT_TRUE(system.Problems().empty());
}

}  // namespace
}  // namespace tavix
