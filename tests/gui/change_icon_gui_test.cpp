// The Change Icon dialog under the real dialog manager, driven by window messages to template
// 100's control ids: the owner-drawn icon row's clicks, keys and scrolling, Enter in the file
// name and on the row, Browse through the system's open-file dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "frame/context/library_context.h"
#include "gui_driver.h"
#include "icons/change_icon_dialog.h"
#include "platform/module.h"
#include "resources/resource.h"

namespace tavix::gui_test {
namespace {

using icons::ChangeIconDialog;
constexpr int kEdit = ChangeIconDialog::kFileName, kRow = ChangeIconDialog::kIconRow,
              kBrowse = ChangeIconDialog::kBrowse;

// A test file's full path in the form the system's file dialog answers.
std::string Fixture(const char* name) {
    const std::string path = std::string(TAVIX_ROW_FIXTURES) + "/" + name;
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

class ChangeIconGui : public ::testing::Test {
protected:
    ~ChangeIconGui() override { platform::Icons().DestroyIcon(defaultIcon); }

    ContextGuard context;  // the library's resources: the template, strings 2010 and 2011
    platform::IconHandle defaultIcon =
        platform::Icons().LoadResourceIcon(platform::OwnModule(), IDI_CONNECTION);
};

// Opened on the fourth icon of 25: a click picks the second, End the last (scrolled into view),
// a double click on it ends the dialog with that icon.
TEST_F(ChangeIconGui, KeysPickAndScrollADoubleClickEnds) {
    ChangeIconDialog dialog;
    dialog.defaultIcon = defaultIcon;
    dialog.iconFilename = Fixture("icons25.dll");
    dialog.iconIndex = 3;
    const std::string file = dialog.iconFilename;
    const int code = RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Change Icon");
        ASSERT_NE(window, nullptr);
        HWND row = GetDlgItem(window, kRow);
        EXPECT_EQ(Driver::ItemText(window, kEdit), file);
        RECT client{};
        GetClientRect(row, &client);
        EXPECT_TRUE(Driver::Screenshot(window, "change_icon"));

        PostMessageA(row, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(45, 10));
        PostMessageA(row, WM_LBUTTONUP, 0, MAKELPARAM(45, 10));
        EXPECT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == row; }));
        Driver::PostKey(row, VK_END);
        EXPECT_TRUE(Driver::WaitUntil(
            [&] { return GetScrollPos(row, SB_HORZ) == 25 * 40 - client.right; }))
            << GetScrollPos(row, SB_HORZ);
        PostMessageA(row, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(client.right - 20, 10));
        EXPECT_TRUE(Driver::WaitGone(window));
    });
    EXPECT_EQ(code, IDOK);
    EXPECT_EQ(dialog.iconIndex, 24);
    EXPECT_TRUE(platform::IsRealIcon(dialog.icon));
}

// Enter in the file name loads the file and keeps the dialog open; Browse goes through the
// system's open-file dialog; Enter on the row ends the dialog. (A file without icons, and OK
// disabled then: the headless stories.)
TEST_F(ChangeIconGui, FileNameEnterAndBrowseReloadTheRow) {
    ChangeIconDialog dialog;
    dialog.defaultIcon = defaultIcon;
    const std::string three = Fixture("icons3.dll"), many = Fixture("icons25.dll");
    const int code = RunDriven(dialog, [&](Driver& driver) {
        HWND window = driver.WaitForDialog("Change Icon");
        ASSERT_NE(window, nullptr);
        HWND edit = GetDlgItem(window, kEdit);
        ASSERT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == edit; }));
        Driver::SetText(edit, three);
        Driver::PostKey(edit, VK_RETURN);
        HWND row = GetDlgItem(window, kRow);
        EXPECT_TRUE(Driver::WaitUntil([&] { return SendMessageA(row, LB_GETHORIZONTALEXTENT, 0, 0) == 3 * 40; }));
        EXPECT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == row; }));

        Driver::Click(window, kBrowse);
        HWND open = driver.WaitForDialog("Open");
        ASSERT_NE(open, nullptr);
        EXPECT_TRUE(Driver::Screenshot(open, "change_icon_browse"));
        // The file name box: a combo box (cmb13) in newer dialogs, an edit (edt1) in older ones.
        HWND name = GetDlgItem(open, 0x47C);
        Driver::SetText(name ? name : GetDlgItem(open, 0x480), many);
        Driver::Click(open, IDOK);
        EXPECT_TRUE(Driver::WaitUntil([&] { return Driver::Text(edit) == many; }))
            << Driver::Text(edit);
        Driver::PostKey(row, VK_RETURN);
        EXPECT_TRUE(Driver::WaitGone(window));
    });
    EXPECT_EQ(code, IDOK);
    EXPECT_EQ(dialog.iconFilename, many);
    EXPECT_EQ(dialog.iconList.iconCount, 25);
}

}  // namespace
}  // namespace tavix::gui_test
