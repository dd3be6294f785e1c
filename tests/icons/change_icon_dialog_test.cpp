// The icon row and the Change Icon dialog, run headless: the user's stories.
#include "icons/change_icon_dialog.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/unique_icon.h"
#include "frame/context/library_context.h"
#include "platform/headless/headless_window_system.h"
#include "resources/resource.h"

namespace tavix {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using headless::HeadlessWindowSystem;
using headless::PaintOp;
using headless::Record;
using headless::User;
using icons::ChangeIconDialog;
using icons::CIconListBox;

constexpr int kEdit = ChangeIconDialog::kFileName, kRow = ChangeIconDialog::kIconRow,
              kBrowse = ChangeIconDialog::kBrowse;

fs::path Fixtures() { return TAVIX_ROW_FIXTURES; }
std::string Fixture(const char* name) { return (Fixtures() / name).string(); }

class ChangeIcon : public ::testing::Test {
protected:
    ContextGuard context;  // the library's resources: template 100, strings 2010 and 2011
    HeadlessWindowSystem system;
    WindowSystemGuard guard{&system};
    IconHandle defaultIcon = Icons().LoadResourceIcon(OwnModule(), IDI_CONNECTION);

    ~ChangeIcon() override { Icons().DestroyIcon(defaultIcon); }
    void SetUp() override {
        if (!fs::exists(Fixtures() / "icons25.dll")) GTEST_SKIP() << "the icon row's files were not made";
    }

    // Runs the dialog on file with iconIndex index; act plays the user, with the row's client
    // area rowWidth pixels wide when that is given.
    int Run(ChangeIconDialog& dialog, const std::string& file, int index,
            const HeadlessWindowSystem::Act& act, int rowWidth = 0) {
        dialog.defaultIcon = defaultIcon;
        dialog.iconFilename = file;
        dialog.iconIndex = index;
        system.Expect(ChangeIconDialog::kTemplate, act,
                      [rowWidth](HeadlessWindowSystem& s, Window window) {
                          const Window row = s.DialogItem(window, kRow);
                          // A 1-pixel border around the client area.
                          if (rowWidth) s.SetWindowSize(row, rowWidth + 2, s.WindowRect(row).Height());
                      });
        const int code = dialog.DoModal();
        EXPECT_TRUE(system.Problems().empty()) << system.Problems().front();
        return code;
    }
};

// The 25-icon library in a row 200 and 230 pixels wide: the keys with and without Ctrl, and
// where each leaves the view.
TEST_F(ChangeIcon, RowKeysKeepThePickedIconInView) {
    struct Step { int key; bool ctrl; int selected, pos; };
    const struct { int width; std::vector<Step> steps; } cases[] = {
        {200, {{vk::kEnd, false, 24, 800}, {vk::kLeft, true, 19, 760}, {vk::kHome, false, 0, 0},
               {vk::kLeft, false, 0, 0}, {vk::kRight, false, 1, 0}, {vk::kRight, true, 6, 80},
               {vk::kLeft, false, 5, 80}, {vk::kLeft, true, 0, 0}, {vk::kEnd, false, 24, 800},
               {vk::kRight, true, 24, 800}}},
        {230, {{vk::kEnd, false, 24, 770}, {vk::kLeft, true, 19, 760}, {vk::kHome, false, 0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        ChangeIconDialog dialog;
        Run(dialog, Fixture("icons25.dll"), 0, [&](User& u) {
            const CIconListBox& row = dialog.iconList;
            EXPECT_EQ(u.System().GetScrollInfo(u.Item(kRow), sb::kHorz).page, 200u);  // whole cells only
            u.Focus(kRow);
            for (const Step& step : c.steps) {
                SCOPED_TRACE(step.selected);
                u.PressKey(step.key, step.ctrl);
                EXPECT_EQ((std::array{row.selectedIndex, u.System().ScrollPos(u.Item(kRow), sb::kHorz),
                                      u.System().ListBoxHorizontalPos(u.Item(kRow))}),
                          (std::array{step.selected, step.pos, step.pos}));
            }
            u.PressKey(vk::kEscape);
        }, c.width);
    }
}

// What the dialog shows when it opens, by file and index, and what OK then hands back.
TEST_F(ChangeIcon, OpensOnTheFileAndIndexGiven) {
    struct Case { std::string file; int index, count, selected, indexAfterOk; };  // no icons: OK disabled
    std::vector<Case> cases = {
        {"", 5, 1, 0, -1},
        {Fixture("icons3.dll"), 7, 3, 0, 0},
        {Fixture("icons3.dll"), 2, 3, 2, 2},
        {Fixture("icons25.dll"), 20, 25, 20, 20},  // past the visible part: scrolled to
        {Fixture("absent.ico"), 0, 0, -1, 0},
    };
#if !defined(_WIN32)
    // The Windows shell finds icons for this through its type's program.
    cases.push_back({Fixture("notes.txt"), 0, 0, -1, 0});
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.index));
        system.ClearLog();
        ChangeIconDialog dialog;
        const int code = Run(dialog, c.file, c.index, [&](User& u) {
            EXPECT_EQ((std::array{dialog.iconList.iconCount, dialog.iconList.selectedIndex, int{u.Enabled(kIdOk)}}),
                      (std::array{c.count, c.selected, int{c.count > 0}}));
            if (c.selected >= 0) {  // the picked cell is in view
                const int pos = u.System().ScrollPos(u.Item(kRow), sb::kHorz);
                EXPECT_TRUE(pos <= c.selected * 40 && pos + dialog.iconList.visibleWidth >= (c.selected + 1) * 40);
            }
            EXPECT_EQ(u.Text(kEdit) + "|" + std::to_string(u.FocusId()), c.file + "|" + std::to_string(kEdit));
            EXPECT_EQ(u.Click(kIdOk), c.count > 0);
            if (u.Running()) u.Click(kIdCancel);
        });
        const auto boxes = system.RecordsOf(Record::MessageBox);
        ASSERT_EQ(boxes.size(), c.count == 0 ? 1u : 0u);
        if (c.count == 0) {
            EXPECT_EQ(boxes[0].text + "|" + std::to_string(boxes[0].style) + "|" + std::to_string(code),
                      "No icons found in the chosen file.|" + std::to_string(kMbOk | kMbIconExclamation) + "|2");
            continue;
        }
        EXPECT_EQ(code, kIdOk);
        EXPECT_EQ(dialog.iconIndex, c.indexAfterOk);
        ASSERT_TRUE(IsRealIcon(dialog.icon));
        // The copy is of the picked icon: the library's icons alternate in the fixtures.
        const int wanted = c.selected % 2 ? IDI_MISSING : IDI_CONNECTION;
        const auto picked = ReadIcon(dialog.icon);
        ASSERT_TRUE(picked);
        EXPECT_EQ(picked, ReadIcon(UniqueIcon(Icons().LoadResourceIcon(OwnModule(), wanted)).get()));
    }
}

// Enter in the file name loads the typed file and keeps the dialog open; a name typed again
// unchanged reloads nothing; a click right of the last icon picks it. Browse: the file dialog's
// filter and flags; a new file reloads, the same file only sets the text, Cancel changes nothing.
// A double click on the row ends the dialog as OK does. (Enter on the row: the Connections stories.)
TEST_F(ChangeIcon, TypingAFileNameBrowseAndDoubleClick) {
    ChangeIconDialog dialog;
    const std::string three = Fixture("icons3.dll"), many = Fixture("icons25.dll");
    const int code = Run(dialog, "", -1, [&](User& u) {
        u.Type(kEdit, three);
        u.PressKey(vk::kReturn);
        EXPECT_TRUE(u.Running());
        EXPECT_EQ((std::array{dialog.iconList.iconCount, dialog.iconList.selectedIndex, u.FocusId()}),
                  (std::array{3, 0, kRow}));
        u.ClickAt(kRow, {45, 10});
        EXPECT_EQ(dialog.iconList.selectedIndex, 1);
        u.ClickAt(kRow, {290, 10});
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);
        u.Type(kEdit, three);
        u.Focus(kRow);
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);  // not reloaded
        u.System().AnswerFileDialog(std::nullopt);
        u.Click(kBrowse);
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);
        u.System().AnswerFileDialog(three);
        u.Click(kBrowse);
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);
        u.System().AnswerFileDialog(many);
        u.Click(kBrowse);
        EXPECT_EQ(u.Text(kEdit), many);
        EXPECT_EQ((std::array{dialog.iconList.iconCount, dialog.iconList.selectedIndex}), (std::array{25, 0}));
        u.DoubleClickAt(kRow, {85, 10});
    });
    EXPECT_EQ(code, kIdOk);
    EXPECT_EQ(dialog.iconFilename + " " + std::to_string(dialog.iconIndex), many + " 2");
    const auto files = system.RecordsOf(Record::FileDialog);
    ASSERT_EQ(files.size(), 3u);
    const FileDialogRequest& request = files[0].file;
    ASSERT_EQ(request.filters.size(), 6u);
    EXPECT_EQ(request.initialFile + "|" + request.defaultExtension + "|" + std::to_string(request.flags) + "|" +
                  request.filters[0].first + "|" + request.filters[0].second + "|" + request.filters[5].second,
              three + "||4100|Icon files (*.ico;*.dll;*.exe;*.ocx)|*.ico;*.dll;*.exe;*.ocx|*.*");
}

// The row paints its cells at row positions: the picked one highlighted while the row has the
// focus, with the focus frame, every one with its icon.
TEST_F(ChangeIcon, RowPaintsItsCells) {
    ChangeIconDialog dialog;
    Run(dialog, Fixture("icons25.dll"), 0, [&](User& u) {
        u.Focus(kRow);
        u.PressKey(vk::kEnd);
        ASSERT_FALSE(u.System().Paints().empty());
        const headless::Paint& last = u.System().Paints().back();
        EXPECT_EQ(last.controlId, kRow);
        std::vector<PaintOp> cell24;
        int images = 0;
        for (const PaintOp& op : last.ops) {
            if (op.kind == PaintOp::Image) ++images;
            if (op.rect.left >= 960 && op.rect.right <= 1000) cell24.push_back(op);
        }
        EXPECT_EQ(images, 25);
        ASSERT_EQ(cell24.size(), 3u);
        cell24[2].images = nullptr;
        EXPECT_EQ(cell24, (std::vector<PaintOp>{{PaintOp::Fill, {960, 0, 1000, 40}, color::kHighlight},
                                                {PaintOp::FocusRect, {962, 2, 998, 38}},
                                                {PaintOp::Image, {964, 4, 996, 36}, 0, 24}}));

        // Losing the focus erases the picked cell (its highlight goes).
        u.Focus(kEdit);
        const auto& erased = u.System().Invalidations();
        ASSERT_FALSE(erased.empty());
        EXPECT_TRUE(erased.back().controlId == kRow && erased.back().erase);
        u.PressKey(vk::kEscape);
    }, 200);
}

}  // namespace
}  // namespace tavix
