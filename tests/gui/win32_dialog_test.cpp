// The Windows window system under a real dialog manager: the event-order stories
// (platform/event_order_stories.h) and dialogs of the test's own over the library's templates
// 100 and 200, run modally on the test's thread and driven from a second thread by keyboard
// input and window messages to the templates' control ids. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
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

std::unique_ptr<platform::ImageList> LibraryIcons() {
    auto images = platform::Icons().CreateImageList(32, 32, 2, 2);
    for (uint32_t id : {IDI_CONNECTION, IDI_MISSING}) {
        platform::IconHandle icon = platform::Icons().LoadResourceIcon(platform::ProgramModule(), id);
        images->ReplaceIcon(-1, icon);
        platform::Icons().DestroyIcon(icon);
    }
    return images;
}

// ---- Template 100: an owner-drawn row of three cells ------------------------------------------

class Row : public frame::OwnerDrawListBox {
public:
    bool MeasureItem(platform::MeasureItemRequest& request) override {
        request.width = 3 * 40;
        request.height = 40;
        return true;
    }
    bool DrawItem(platform::DrawItemRequest& request) override {
        for (int i = 0; i < 3; ++i) {
            const platform::Rect cell{40 * i, 0, 40 * i + 40, 40};
            request.painter->Fill(cell, i == 0 ? platform::color::kHighlight : platform::color::kWindow);
            if (i == 0) request.painter->FocusRect({cell.left + 2, 2, cell.right - 2, 38});
            request.painter->DrawImage(*images_, i % 2, cell.left + 4, 4);
        }
        return true;
    }

private:
    std::unique_ptr<platform::ImageList> images_ = LibraryIcons();
};

class RowDialog : public frame::Dialog {
public:
    RowDialog() : Dialog(IDD_CHANGE_ICON) {}
    static const frame::MessageMap* ClassMap() {
        static constexpr frame::MessageEntry entries[] = {
            frame::OnCommand<&RowDialog::OnRowDoubleClick>(IDC_ICON_ROWS, platform::lbn::kDblClk),
            frame::OnCommand<&RowDialog::OnThird>(103),
            frame::OnMessage<&RowDialog::OnHelp>(wm::kHelp),
            frame::OnMessage<&RowDialog::OnContextMenu>(wm::kContextMenu),
            frame::OnMessage<&RowDialog::OnDestroy>(wm::kDestroy),
        };
        static const frame::MessageMap map{Dialog::ClassMap(), entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }
    Log log;
    Row row;

protected:
    bool OnInitDialog() override {
        log.push_back("init");
        Dialog::OnInitDialog();
        row.SubclassDlgItem(7, *this);
        row.AddItem("", 0);
        row.SetCurSel(0);
        return true;
    }

private:
    void OnRowDoubleClick() {
        log.push_back("double click");
        OnOK();
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
    void OnDestroy() {
        Dialog::OnDestroy();
        log.push_back("destroy");
    }
};

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

// F1 and a right click reach the dialog's handlers; the popup menu answers the item chosen by
// its mnemonic, or nothing when dismissed.
TEST(Win32Dialog, HelpAndContextMenuReachTheHandlers) {
    RowDialog dialog;
    EXPECT_EQ(RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Change Icon");
        ASSERT_NE(window, nullptr);
        HWND edit = GetDlgItem(window, IDC_FILE_NAME), browse = GetDlgItem(window, IDC_BROWSE);
        ASSERT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == edit; }));
        EXPECT_TRUE(Driver::Screenshot(window, "template_100_row"));
        Driver::Type(VK_F1);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "help 8"); }));
        for (const auto& [key, entry] : {std::pair{int{'t'}, "menu 4 103"}, {VK_ESCAPE, "menu 4 0"}}) {
            PostMessageA(browse, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3));
            PostMessageA(browse, WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
            HWND menu = nullptr;
            ASSERT_TRUE(Driver::WaitUntil([&] { return (menu = driver.Menu()) != nullptr; }));
            if (key == VK_ESCAPE) {
                Driver::PostKey(menu, key);
            } else {
                PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(key), 1);
            }
            EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, entry); })) << entry;
        }
        // A double click on the owner-drawn row reaches its handler, which ends the dialog.
        PostMessageA(GetDlgItem(window, IDC_ICON_ROWS), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
        EXPECT_TRUE(Driver::WaitGone(window));
    }), IDOK);
    EXPECT_EQ(std::count(dialog.log.begin(), dialog.log.end(), "command 103"), 1);
    EXPECT_EQ(dialog.log.back(), "destroy");
    EXPECT_TRUE(Contains(dialog.log, "double click"));
}

// ---- Template 200: the list view ------------------------------------------------------------

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

    std::unique_ptr<platform::ImageList> images_ = LibraryIcons();
};

// The list view's notifications as comctl32 raises them: insertion with a state, selection,
// the label editor (accepted, refused, cancelled), keys and a double click on an item.
TEST(Win32Dialog, ListViewRaisesItsNotifications) {
    ListDialog dialog;
    RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Connections");
        ASSERT_NE(window, nullptr);
        HWND list = GetDlgItem(window, IDC_CONNECTION_LIST);
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
        EXPECT_EQ(Driver::Label(list, 2), "Gamma");
        EXPECT_TRUE(Driver::Screenshot(window, "template_200_list"));

        LVITEMA state{};
        state.state = state.stateMask = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
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
        item.left = LVIR_ICON;
        SendMessageA(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
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
}

// A message box of the window system waits for the user's answer; its buttons speak the language
// asked for.
TEST(Win32Dialog, MessageBoxAnswersTheButtonPressed) {
    for (const auto& [language, press, yes] : {std::tuple{0x0409, IDNO, "&Yes"}, {0x0407, IDYES, "&Ja"}}) {
        ListDialog dialog;
        dialog.language = static_cast<uint16_t>(language);
        RunDriven(dialog, [&](Driver& driver) {
            HWND window = driver.WaitForDialog("Connections");
            ASSERT_NE(window, nullptr);
            Driver::Click(window, IDC_NEW);
            HWND box = driver.WaitForDialog("List test");
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(Driver::MessageText(box), "Save the list?");
            EXPECT_EQ(Driver::ItemText(box, IDYES), yes);
            Driver::Answer(box, press);
            EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "answer " + std::to_string(press)); }));
            Driver::Click(window, IDCANCEL);
        });
    }
}

}  // namespace
}  // namespace tavix::gui_test
