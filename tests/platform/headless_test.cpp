// The headless window system and the dialog framework together: the event-order stories
// (event_order_stories.h), and on a small dialog of the test's own data exchange, list views,
// focus, nested modals, the recorded prompts and owner-drawn painting.
#include "platform/headless/headless_window_system.h"

#include <gtest/gtest.h>

#include <functional>
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
constexpr int kName = 10, kGo = 11, kList = 12, kRow = 13, kPort = 14;

// Both test dialogs: two edits, a button, a list view, an owner-drawn row, OK and Cancel.
std::optional<resources::DialogTemplate> Templates(uint32_t id) {
    if (id != kTestDialog && id != kInnerDialog) return std::nullopt;
    resources::DialogTemplate dialog;
    dialog.cx = 200;
    dialog.cy = 120;
    dialog.caption = WideFromUtf16(u"Test");
    dialog.fontName = WideFromUtf16(u"MS Sans Serif");
    dialog.fontSize = 8;
    const struct { int id; ControlClass kind; uint32_t style; int16_t cx, cy; } controls[] = {
        {kName, ControlClass::Edit, ws::kBorder, 100, 14},
        {kPort, ControlClass::Edit, ws::kBorder, 50, 14},
        {kGo, ControlClass::Button, 0, 50, 14},
        {kList, ControlClass::Named, ws::kLvsEditLabels, 150, 60},
        {kRow, ControlClass::ListBox, ws::kHScroll | ws::kLbsNotify | ws::kLbsOwnerDrawVariable, 133, 30},
        {kIdOk, ControlClass::Button, ws::kBsDefPushButton, 50, 14},
        {kIdCancel, ControlClass::Button, 0, 50, 14},
    };
    for (const auto& c : controls) {
        resources::DialogControl control;
        control.id = c.id;
        control.kind = c.kind;
        control.className = WideFromUtf16(c.id == kList ? u"SysListView32" : u"");
        control.style = ws::kVisible | ws::kTabStop | c.style;
        control.cx = c.cx;
        control.cy = c.cy;
        dialog.controls.push_back(control);
    }
    return dialog;
}

// An owner-drawn row: one cell per item, highlighted while selected with the focus.
class Row : public frame::OwnerDrawListBox {
public:
    std::vector<std::string>* log = nullptr;
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
    std::vector<std::string> log;
    std::string name = "init";
    int32_t port = 1972;
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
        exchange.Number(kPort, port, 0, 65535);
    }

private:
    void OnGo() {
        log.push_back("go");
        if (onGo) onGo(*this);
    }
    void OnEditFocus(const Message& message) { log.push_back(message.code == en::kSetFocus ? "name setfocus" : "name killfocus"); }
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
            if (message.message == wm::kCommand && message.id == kIdCancel) {
                system->EndDialog(dialog, kIdCancel);
                handled = true;
            }
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
    EXPECT_EQ(ShowMessageBox("Warning", "TavixConnect", kMbOk), kIdOk);
    const auto boxes = system.RecordsOf(Record::MessageBox);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text + "|" + boxes[0].caption, "Save?|Save");
    EXPECT_EQ(boxes[0].style, kMbYesNo | kMbIconQuestion);
    EXPECT_EQ(boxes[1].answer, kIdOk);
}

// OK reads the fields in order; the first refusal shows its message, puts the focus back into
// its edit and keeps the dialog open, with the fields read before it already updated.
TEST_F(Headless, DataExchangeChecksInDeclaredOrder) {
    // The refusal's message ("" when accepted), the focus then, and the fields after it.
    struct Case { const char* name; const char* port; std::string message; int focus; std::string after; };
    const Case cases[] = {
        {"ab", " 42 ", "", 0, "ab 42"},
        {"ab", "65535", "", 0, "ab 65535"},
        {"abcdefgh", "0", "Please enter no more than 5 characters.", kName, "abcdefgh 1972"},
        {"ab", "65536", "Please enter an integer between 0 and 65535.", kPort, "ab 1972"},
        {"ab", "-1", "Please enter an integer between 0 and 65535.", kPort, "ab 1972"},
        {"ab", "19a2", "Please enter an integer.", kPort, "ab 1972"},
        {"ab", "", "Please enter an integer.", kPort, "ab 1972"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.port);
        system.ClearLog();
        TestDialog dialog;
        system.Expect(kTestDialog, [&](User& u) {
            EXPECT_EQ(u.Text(kName) + " " + u.Text(kPort), "init 1972");
            u.System().SetText(u.Item(kName), c.name);  // not typed: past the edit's limit
            u.Type(kPort, c.port);
            u.Click(kIdOk);
            EXPECT_EQ(u.Running(), c.focus != 0);
            if (!u.Running()) return;
            EXPECT_EQ(u.FocusId(), c.focus);
            EXPECT_EQ(dialog.name + " " + std::to_string(dialog.port), c.after);
            u.Click(kIdCancel);
        });
        EXPECT_EQ(dialog.DoModal(), c.focus ? 2 : 1);
        EXPECT_EQ(dialog.name + " " + std::to_string(dialog.port), c.after);
        std::string shown;
        for (const Record& box : system.RecordsOf(Record::MessageBox)) shown += box.text + (box.style == (kMbOk | kMbIconExclamation) ? "" : "?");
        EXPECT_EQ(shown, c.message);
    }
}

TEST_F(Headless, TypingStopsAtTheEditLimit) {
    TestDialog dialog;
    system.Expect(kTestDialog, [](User& u) {
        EXPECT_EQ(u.System().TextLimit(u.Item(kName)), 5);
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
        EXPECT_EQ(grab(), (std::vector<std::string>{"changed 0 0>3 8", "insert 0"}));
        list.InsertItem(1, {"b", 0, kSelFocus, 200});  // the focus moves to the new item
        EXPECT_EQ(grab(), (std::vector<std::string>{"changed 0 3>2 8", "changed 1 0>3 8",
                                                    "insert 1"}));
        EXPECT_EQ(list.SelectedCount(), 2);
        EXPECT_EQ(list.NextItem(-1, lvni::kSelected), 0);
        EXPECT_EQ(list.NextItem(0, lvni::kFocused), 1);

        u.ClickItem(kList, 0);  // the other item is unselected first
        EXPECT_EQ(grab(), (std::vector<std::string>{"name killfocus", "changed 1 3>1 8",
                                                    "changed 1 1>0 8", "changed 0 2>3 8"}));
        u.BeginLabelEdit(kList, 0);
        u.EndLabelEdit(kList, "alpha");
        dialog.labelAnswer = 0;
        u.BeginLabelEdit(kList, 1);
        u.EndLabelEdit(kList, "beta");
        u.BeginLabelEdit(kList, 1);
        u.EndLabelEdit(kList, std::nullopt);
        EXPECT_EQ(grab(), (std::vector<std::string>{"endedit 0 alpha", "changed 0 3>3 1",
                                                    "endedit 1 beta", "endedit 1 (cancelled)"}));
        EXPECT_EQ(list.ItemText(0), "alpha");
        EXPECT_EQ(list.ItemText(1), "b");

        u.PressKey(vk::kDelete);
        list.DeleteItem(0);  // a selected item gives up its state, then goes
        EXPECT_EQ(grab(), (std::vector<std::string>{"key 46", "changed 0 3>0 8", "delete 0"}));
        EXPECT_EQ(list.ItemData(0), 200u);

        u.DoubleClickItem(kList, 0);
        const Point cursor = list.ScreenToClient(u.System().CursorPos());
        EXPECT_EQ(list.HitTest(cursor), 0);
        u.DoubleClickEmpty(kList);
        EXPECT_EQ(grab(), (std::vector<std::string>{"changed 0 0>3 8", "dblclk 0",
                                                    "changed 0 3>1 8", "dblclk -1"}));
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
    EXPECT_EQ(dialog.log, (std::vector<std::string>{"help 10", "menu 11", "menu 0",
                                                    "name killfocus", "menu 14", "destroy"}));
}

// A nested modal dialog has its own act; prompts are recorded and answered by the script, and
// a modal window borrows the focus.
TEST_F(Headless, NestedDialogsAndPrompts) {
    TestDialog outer;
    int innerCode = 0, answer = 0, chosen = 0;
    std::string path;
    outer.onGo = [&](TestDialog& self) {
        TestDialog inner(kInnerDialog, self.Handle());
        innerCode = inner.DoModal();
        answer = frame::ShowStringMessage(0, kMbYesNo, self.Handle());
        frame::FileDialog files("", "old.ico", kOfnFileMustExist | kOfnHideReadOnly,
                                "Icons (*.ico)|*.ico|All Files (*.*)|*.*||", self.Handle());
        if (files.DoModal() == kIdOk) path = files.PathName();
        frame::PopupMenu menu;
        menu.Append(frame::PopupMenu::kString, 12, "New");
        menu.AppendSeparator();
        menu.Append(frame::PopupMenu::kGrayed, 13, "Properties");
        chosen = menu.Track({5, 5}, self);
        self.GotoDlgCtrl(self.Item(kName));
    };
    system.Expect(kTestDialog, [&](User& u) {
        u.System().AnswerMessageBox(kIdNo);
        u.System().AnswerFileDialog("/tmp/new.ico");
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
    EXPECT_EQ(std::to_string(innerCode) + " " + std::to_string(answer) + " " + path + " " + std::to_string(chosen),
              std::to_string(kIdOk) + " " + std::to_string(kIdNo) + " /tmp/new.ico 0");
    ASSERT_EQ(system.Problems().size(), 1u);  // the greyed item
    EXPECT_EQ(system.OpenedDialogs(), (std::vector<uint32_t>{kTestDialog, kInnerDialog}));
    const auto files = system.RecordsOf(Record::FileDialog);
    ASSERT_EQ(files.size(), 1u);  // its filter and flags: the Change Icon dialog's story
    EXPECT_EQ(files[0].file.initialFile + " " + files[0].file.filters[1].second, "old.ico *.*");
    EXPECT_EQ(files[0].dialog, kTestDialog);
    const auto menus = system.RecordsOf(Record::Menu);
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_TRUE(menus[0].menu[1].IsSeparator() && menus[0].menu[2].grayed);
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
        EXPECT_EQ(dialog.log, (std::vector<std::string>{"name killfocus", "row setfocus"}));
        u.PressKey(vk::kEscape);
    });
    dialog.DoModal();
}

}  // namespace
}  // namespace tavix
