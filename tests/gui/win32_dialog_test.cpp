// The Windows window system under a real dialog manager: the event-order stories
// (platform/event_order_stories.h) and a dialog of the test's own over the library's template
// 200, run modally on the test's thread and driven from a second thread by keyboard input and
// window messages to the template's control ids. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/window/dialog.h"
#include "../platform/event_order_stories.h"
#include "frame/context/library_context.h"
#include "gui_driver.h"
#include "platform/icons.h"
#include "platform/module.h"
#include "resources/resource.h"

namespace tavix::gui_test {
namespace {

using frame::Message;
using Log = std::vector<std::string>;
namespace wm = platform::wm;

bool Contains(const Log& log, const std::string& entry) { return std::find(log.begin(), log.end(), entry) != log.end(); }

// The event-order stories under the dialog manager: keys as keyboard input, clicks and the
// close box as window messages, typed text as a click into the edit and WM_SETTEXT. After each
// action an F1 press, which the dialog counts, marks that the action has been handled. A missing
// template answers -1.
TEST(Win32Dialog, StoriesRaiseTheDialogManagersEventsInOrder) {
    const platform::ModuleHandle templates = platform::LoadResourceLibrary(TAVIX_STORY_TEMPLATES);
    ASSERT_NE(templates, nullptr);
    LibraryContext context = CurrentContext();
    context.resourceModule = templates;
    {
        ContextGuard current(context);
        for (const stories::Story& story : stories::EventOrderStories()) {
            SCOPED_TRACE(story.what);
            stories::StoryDialog dialog(story.templateId);
            const int code = RunDriven(dialog, [&](Driver& driver) {
                HWND window = driver.WaitForDialog("Story");
                ASSERT_NE(window, nullptr);
                ASSERT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == GetDlgItem(window, STORY_NAME); }));
                for (const stories::Action& action : story.actions) {
                    const int marks = dialog.helpRequests;
                    HWND control = GetDlgItem(window, action.target);
                    switch (action.kind) {
                        case stories::Action::Key:
                        case stories::Action::ShiftKey:
                            Driver::Type(action.target, action.kind == stories::Action::ShiftKey);
                            break;
                        case stories::Action::Click: Driver::Click(window, action.target); break;
                        case stories::Action::Type:
                            PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
                            PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
                            ASSERT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == control; }));
                            Driver::SetText(control, action.text);
                            break;
                        case stories::Action::Close: PostMessageA(window, WM_CLOSE, 0, 0); break;
                    }
                    Driver::Type(VK_F1);
                    ASSERT_TRUE(Driver::WaitUntil([&] { return dialog.helpRequests > marks || !IsWindow(window); }));
                }
                EXPECT_TRUE(Driver::WaitGone(window));
            });
            EXPECT_EQ(code, story.code);
            EXPECT_EQ(dialog.Events(), story.events);
        }
        EXPECT_EQ(frame::Dialog(999).DoModal(), -1);
    }
    platform::FreeResourceLibrary(templates);
}

class ListDialog : public frame::Dialog {
public:
    ListDialog() : Dialog(IDD_CONNECTIONS) {}
    static const frame::MessageMap* ClassMap() {
        namespace lvn = platform::lvn;
        static constexpr frame::MessageEntry entries[] = {
            frame::OnNotify<&ListDialog::OnInsert>(5, lvn::kInsertItem),
            frame::OnNotify<&ListDialog::OnChanged>(5, lvn::kItemChanged),
            frame::OnNotify<&ListDialog::OnBeginEdit>(5, lvn::kBeginLabelEdit),
            frame::OnNotify<&ListDialog::OnEndEdit>(5, lvn::kEndLabelEdit),
            frame::OnNotify<&ListDialog::OnKey>(5, lvn::kKeyDown),
            frame::OnNotify<&ListDialog::OnDoubleClick>(5, platform::nm::kDblClk),
            frame::OnCommand<&ListDialog::OnRename>(IDC_PROPERTIES),
            frame::OnCommand<&ListDialog::OnAsk>(IDC_NEW),
            frame::OnCommand<&ListDialog::OnThird>(103),
            frame::OnMessage<&ListDialog::OnHelp>(wm::kHelp),
            frame::OnMessage<&ListDialog::OnContextMenu>(wm::kContextMenu),
        };
        static const frame::MessageMap map{Dialog::ClassMap(), entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }
    Log log;
    frame::ListView list;
    uint16_t language = 0;

protected:
    void DoDataExchange(frame::DataExchange& exchange) override { exchange.Bind(5, list); }
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        images_ = platform::Icons().CreateImageList(32, 32, 2, 2);
        for (uint32_t id : {IDI_CONNECTION, IDI_MISSING}) {
            platform::IconHandle icon = platform::Icons().LoadResourceIcon(platform::ProgramModule(), id);
            images_->ReplaceIcon(-1, icon);
            platform::Icons().DestroyIcon(icon);
        }
        list.SetImageList(images_.get());
        const char* names[] = {"Alpha", "Beta", "Gamma"};
        for (int i = 0; i < 3; ++i) {
            const unsigned state = i == 0 ? platform::lvis::kSelected | platform::lvis::kFocused : 0;
            list.InsertItem(i, {names[i], i % 2, state, static_cast<uintptr_t>(100 + i)});
        }
        log.push_back("inserted");
        return true;
    }

private:
    static std::string Item(const Message& m) { return std::to_string(m.ListView()->item); }
    void OnInsert(const Message& m) { log.push_back("insert " + Item(m)); }
    void OnChanged(const Message& m) {
        const auto& n = *m.ListView();
        if (n.changed & platform::lvif::kText) log.push_back("changed " + Item(m) + " text " + list.ItemText(n.item));
        if (n.changed & platform::lvif::kState) {
            log.push_back("changed " + Item(m) + " state " + std::to_string(n.newState & 3) + " data " + std::to_string(n.data));
        }
    }
    void OnBeginEdit(const Message& m) { log.push_back("begin " + Item(m)); }
    intptr_t OnEndEdit(const Message& m) {
        const auto& text = m.ListView()->text;
        log.push_back("end " + Item(m) + " " + (text ? "'" + *text + "'" : "cancelled"));
        return text && *text != "Refused";
    }
    void OnKey(const Message& m) { log.push_back("key " + std::to_string(m.ListView()->key)); }
    void OnDoubleClick(const Message& m) {
        log.push_back("double click " + Item(m) + " hit " + std::to_string(list.HitTest(m.ListView()->point)));
    }
    void OnRename() {
        list.SetFocus();
        log.push_back(list.EditLabel(list.NextItem(-1, platform::lvni::kSelected)) ? "editor" : "no editor");
    }
    void OnAsk() {
        const int answer = platform::CurrentWindowSystem()->ShowMessage(
            nullptr, "Save the list?", "List test", platform::kMbYesNo | platform::kMbIconQuestion, language);
        log.push_back("answer " + std::to_string(answer));
    }
    void OnHelp(const Message& message) { log.push_back("help " + std::to_string(message.id)); }
    void OnContextMenu(const Message& message) {
        frame::PopupMenu menu;
        menu.Append(frame::PopupMenu::kString, 101, "&First");
        menu.AppendSeparator();
        menu.Append(frame::PopupMenu::kGrayed, 102, "&Grayed");
        menu.Append(frame::PopupMenu::kString, 103, "&Third");
        const int chosen = menu.Track(message.point, *this);
        log.push_back("menu " + std::to_string(message.id) + " " + std::to_string(chosen));
    }
    void OnThird() { log.push_back("command 103"); }

    std::unique_ptr<platform::ImageList> images_;
};

// The list view's notifications as comctl32 raises them: insertion with a state, selection,
// the label editor (accepted, refused, cancelled), keys and a double click on an item. F1 and a
// right click reach the dialog's handlers; the popup menu answers the item chosen by its
// mnemonic, or nothing when dismissed.
TEST(Win32Dialog, ListViewHelpAndContextMenuRaiseTheirNotifications) {
    ListDialog dialog;
    RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Connections");
        ASSERT_NE(window, nullptr);
        HWND list = GetDlgItem(window, IDC_CONNECTION_LIST), button = GetDlgItem(window, IDC_DELETE);
        EXPECT_TRUE(Driver::Screenshot(window, "template_200_list"));
        ASSERT_TRUE(Driver::WaitUntil([&] { return driver.Focus() != nullptr; }));
        const std::string help = "help " + std::to_string(GetDlgCtrlID(driver.Focus()));
        Driver::Type(VK_F1);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, help); })) << help;
        for (const auto& [key, entry] : {std::pair{int{'t'}, "menu 14 103"}, {VK_ESCAPE, "menu 14 0"}}) {
            PostMessageA(button, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3));
            PostMessageA(button, WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
            HWND menu = nullptr;
            ASSERT_TRUE(Driver::WaitUntil([&] { return (menu = driver.Menu()) != nullptr; }));
            if (key == VK_ESCAPE) {
                Driver::PostKey(menu, key);
            } else {
                PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(key), 1);
            }
            EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, entry); })) << entry;
        }

        ListView_SetItemState(list, 2, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "changed 2 state 2 data 102"); }));

        // Rename item 0 (the first selected): accepted, then refused, then cancelled.
        for (const char* text : std::initializer_list<const char*>{"Renamed", "Refused", nullptr}) {
            Driver::Click(window, IDC_PROPERTIES);
            HWND editor = nullptr;
            ASSERT_TRUE(Driver::WaitUntil(
                [&] { return (editor = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETEDITCONTROL, 0, 0))); }));
            if (text) Driver::SetText(editor, text);
            Driver::PostKey(editor, text ? VK_RETURN : VK_ESCAPE);
            EXPECT_TRUE(Driver::WaitGone(editor));
        }
        EXPECT_EQ(Driver::Label(list, 0), "Renamed");

        Driver::PostKey(list, VK_DELETE);
        RECT item{};
        ListView_GetItemRect(list, 1, &item, LVIR_ICON);
        const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        for (const UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
            PostMessageA(list, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
        }
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "double click 1 hit 1"); }));
        Driver::Click(window, IDCANCEL);
    });
    const Log& log = dialog.log;
    const auto at = [&](const std::string& entry) { return std::find(log.begin(), log.end(), entry) - log.begin(); };
    // comctl32 raises the state of an item inserted selected before the insertion itself.
    EXPECT_LT(at("changed 0 state 3 data 100"), at("insert 0"));
    EXPECT_LT(at("insert 2"), at("inserted"));
    // An accepted label is applied and raised as a change; a refused or cancelled one is not.
    EXPECT_LT(at("begin 0"), at("end 0 'Renamed'"));
    EXPECT_LT(at("end 0 'Renamed'"), at("changed 0 text Renamed"));
    EXPECT_TRUE(Contains(log, "end 0 'Refused'") && Contains(log, "end 0 cancelled") && Contains(log, "key 46"));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& e) { return e.starts_with("changed 0 text"); }), 1);
    // The item chosen in the menu reaches the dialog as one command before Track answers it.
    EXPECT_EQ(std::count(log.begin(), log.end(), "command 103"), 1);
    EXPECT_LT(at("command 103"), at("menu 14 103"));
}

// A message box of the window system waits for the user's answer; its buttons speak the language
// asked for.
TEST(Win32Dialog, MessageBoxAnswersTheButtonPressed) {
    ListDialog dialog;
    dialog.language = 0x0407;
    RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Connections");
        ASSERT_NE(window, nullptr);
        Driver::Click(window, IDC_NEW);
        HWND box = driver.WaitForDialog("List test");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Driver::MessageText(box), "Save the list?");
        EXPECT_EQ(Driver::ItemText(box, IDYES), "&Ja");
        Driver::Click(box, IDNO);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "answer " + std::to_string(IDNO)); }));
        Driver::Click(window, IDCANCEL);
    });
}

}  // namespace
}  // namespace tavix::gui_test
