// The Windows window system under a real dialog manager: dialogs of the test's own over the
// library's templates 100 and 200, run modally on the test's thread and driven from a second
// thread by window messages to the templates' control ids. Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "frame/dialog.h"
#include "gui_driver.h"
#include "platform/icons.h"
#include "platform/module.h"

namespace tavix::gui_test {
namespace {

using frame::Message;
using Log = std::vector<std::string>;
namespace wm = platform::wm;

bool Contains(const Log& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

std::unique_ptr<platform::ImageList> LibraryIcons() {
    auto images = platform::Icons().CreateImageList(32, 32, 2, 2);
    for (uint32_t id : {1011u, 1012u}) {
        platform::IconHandle icon = platform::Icons().LoadResourceIcon(platform::ProgramModule(), id);
        images->ReplaceIcon(-1, icon);
        platform::Icons().DestroyIcon(icon);
    }
    return images;
}

// ---- Template 100: an owner-drawn row of three cells with its own keys -----------------------

class Row : public frame::OwnerDrawListBox {
public:
    explicit Row(Log& log) : log_(log), images_(LibraryIcons()) {}
    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

    bool MeasureItem(platform::MeasureItemRequest& request) override {
        request.width = 3 * 40;
        request.height = 40;
        return true;
    }
    bool DrawItem(platform::DrawItemRequest& request) override {
        ++draws;
        for (int i = 0; i < 3; ++i) {
            const platform::Rect cell{40 * i, 0, 40 * i + 40, 40};
            const bool focused = (request.state & platform::oda::kStateFocus) != 0;
            request.painter->Fill(cell, i == 0 && focused ? platform::color::kHighlight
                                                          : platform::color::kWindow);
            if (i == 0) request.painter->FocusRect({cell.left + 2, 2, cell.right - 2, 38});
            request.painter->DrawImage(*images_, i % 2, cell.left + 4, 4);
        }
        return true;
    }
    int draws = 0;

private:
    intptr_t OnGetDlgCode(const Message& message) {
        return Default(message) | platform::dlgc::kWantArrows;
    }
    void OnKeyDown(const Message& message) { log_.push_back("key " + std::to_string(message.wParam)); }

    Log& log_;
    std::unique_ptr<platform::ImageList> images_;
};

const frame::MessageMap* Row::ClassMap() {
    static constexpr frame::MessageEntry entries[] = {
        frame::OnMessage<&Row::OnGetDlgCode>(wm::kGetDlgCode),
        frame::OnMessage<&Row::OnKeyDown>(wm::kKeyDown),
    };
    static const frame::MessageMap map{nullptr, entries};
    return &map;
}

class RowDialog : public frame::Dialog {
public:
    RowDialog() : Dialog(100), row(log) {}
    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

    Log log;
    Row row;
    std::string fileName = "first.ico";

protected:
    void DoDataExchange(frame::DataExchange& exchange) override { exchange.Text(8, fileName, 20); }
    bool OnInitDialog() override {
        log.push_back("init");
        Dialog::OnInitDialog();
        row.SubclassDlgItem(7, *this);
        row.AddItem("", 0);
        row.SetCurSel(0);
        return true;
    }

private:
    void OnBrowse() {
        frame::FileDialog files("", fileName, platform::kOfnFileMustExist | platform::kOfnHideReadOnly,
                                "Icons (*.ico)|*.ico|All Files (*.*)|*.*||", Handle());
        const bool chosen = files.DoModal() == platform::kIdOk;
        if (chosen) frame::Wnd(Item(8)).SetText(files.PathName());
        log.push_back(chosen ? "browse " + files.PathName() : "browse cancelled");
    }
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

const frame::MessageMap* RowDialog::ClassMap() {
    static constexpr frame::MessageEntry entries[] = {
        frame::OnCommand<&RowDialog::OnBrowse>(4),
        frame::OnCommand<&RowDialog::OnRowDoubleClick>(7, platform::lbn::kDblClk),
        frame::OnCommand<&RowDialog::OnThird>(103),
        frame::OnMessage<&RowDialog::OnHelp>(wm::kHelp),
        frame::OnMessage<&RowDialog::OnContextMenu>(wm::kContextMenu),
        frame::OnMessage<&RowDialog::OnDestroy>(wm::kDestroy),
    };
    static const frame::MessageMap map{Dialog::ClassMap(), entries};
    return &map;
}

// Each way the user ends a dialog, and the code DoModal answers.
TEST(Win32Dialog, EndsAsTheUserEndsIt) {
    struct Case {
        const char* name;
        void (*act)(HWND dialog);
        int code;
    };
    const Case cases[] = {
        {"OK", [](HWND d) { Driver::Click(d, IDOK); }, IDOK},
        {"Cancel", [](HWND d) { Driver::Click(d, IDCANCEL); }, IDCANCEL},
        {"close box", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, IDCANCEL},
        {"Escape", [](HWND d) { Driver::PostKey(GetDlgItem(d, 8), VK_ESCAPE); }, IDCANCEL},
        {"Enter", [](HWND d) { Driver::PostKey(GetDlgItem(d, 8), VK_RETURN); }, IDOK},
        {"double click on the row",
         [](HWND d) { PostMessageA(GetDlgItem(d, 7), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5)); },
         IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowDialog dialog;
        const int code = RunDriven(dialog, [&](Driver& driver) {
            HWND window = driver.WaitForDialog("Change Icon");
            ASSERT_NE(window, nullptr);
            c.act(window);
            EXPECT_TRUE(Driver::WaitGone(window));
        });
        EXPECT_EQ(code, c.code);
        ASSERT_GE(dialog.log.size(), 2u);
        EXPECT_EQ(dialog.log.front(), "init");
        EXPECT_EQ(dialog.log.back(), "destroy");
    }
}

TEST(Win32Dialog, MissingTemplateAnswersMinusOne) {
    frame::Dialog dialog(999);
    EXPECT_EQ(dialog.DoModal(), -1);
}

// A refused value shows the framework's message, puts the focus back and keeps the dialog open.
TEST(Win32Dialog, DataExchangeRefusesAndKeepsTheDialogOpen) {
    RowDialog dialog;
    const int code = RunDriven(dialog, [](Driver& driver) {
        HWND window = driver.WaitForDialog("Change Icon");
        ASSERT_NE(window, nullptr);
        HWND edit = GetDlgItem(window, 8);
        EXPECT_EQ(Driver::Text(edit), "first.ico");
        EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 20);
        Driver::SetText(edit, "a-name-of-25-characters.x");
        Driver::Click(window, IDOK);
        HWND box = driver.WaitForDialog("TavixConnect");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Driver::MessageText(box), "Please enter no more than 20 characters.");
        EXPECT_TRUE(Driver::Screenshot(box, "data_exchange_message"));
        Driver::Answer(box, IDOK);
        EXPECT_TRUE(Driver::WaitGone(box));
        EXPECT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == edit; }));
        EXPECT_TRUE(IsWindow(window));
        Driver::SetText(edit, "second.ico");
        Driver::Click(window, IDOK);
        EXPECT_TRUE(Driver::WaitGone(window));
    });
    EXPECT_EQ(code, IDOK);
    EXPECT_EQ(dialog.fileName, "second.ico");
}

// The subclassed row: measured and painted by its class, its own keys through WM_GETDLGCODE,
// clicks to the host's default handling.
TEST(Win32Dialog, OwnerDrawnRowTakesItsOwnKeys) {
    RowDialog dialog;
    RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Change Icon");
        ASSERT_NE(window, nullptr);
        HWND row = GetDlgItem(window, 7);
        EXPECT_EQ(SendMessageA(row, LB_GETITEMHEIGHT, 0, 0), 40);
        PostMessageA(row, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 10));
        PostMessageA(row, WM_LBUTTONUP, 0, MAKELPARAM(50, 10));
        EXPECT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == row; }));
        Driver::PostKey(row, VK_RIGHT);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Contains(dialog.log, "key 39"); }));
        EXPECT_TRUE(Driver::Screenshot(window, "template_100_row"));
        Driver::Click(window, IDCANCEL);
    });
    EXPECT_GT(dialog.row.draws, 0);
}

}  // namespace
}  // namespace tavix::gui_test
