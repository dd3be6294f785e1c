// The icon row and the Change Icon dialog, run headless: the user's stories.
#include "icons/change_icon_dialog.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/unique_icon.h"
#include "frame/context/library_context.h"
#include "locale/help.h"
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

#define REQUIRE_ROW_FIXTURES()                                                      \
    do {                                                                            \
        if (!fs::exists(Fixtures() / "icons25.dll")) GTEST_SKIP() << "not built"; \
    } while (false)

class ChangeIcon : public ::testing::Test {
protected:
    ContextGuard context;  // the library's resources: template 100, strings 2010 and 2011
    HeadlessWindowSystem system;
    WindowSystemGuard guard{&system};
    IconHandle defaultIcon = Icons().LoadResourceIcon(OwnModule(), IDI_CONNECTION);

    ~ChangeIcon() override { Icons().DestroyIcon(defaultIcon); }

    // Runs the dialog on file with iconIndex index; act plays the user, with the row's client
    // area rowWidth pixels wide when that is given.
    int Run(ChangeIconDialog& dialog, const std::string& file, int index,
            const HeadlessWindowSystem::Act& act, int rowWidth = 0) {
        dialog.defaultIcon = defaultIcon;
        dialog.iconFilename = file;
        dialog.iconIndex = index;
        system.Expect(ChangeIconDialog::kTemplate, act,
                      [rowWidth](HeadlessWindowSystem& s, Window window) {
                          if (rowWidth == 0) return;
                          const Window row = s.DialogItem(window, kRow);
                          const Rect outer = s.WindowRect(row);
                          s.SetWindowSize(row, rowWidth + 2, outer.Height());  // 1-pixel border
                      });
        const int code = dialog.DoModal();
        EXPECT_TRUE(system.Problems().empty()) << system.Problems().front();
        return code;
    }
};

// The 25-icon library in a row 200 and 230 pixels wide: the keys with and without Ctrl, and
// where each leaves the view.
TEST_F(ChangeIcon, RowKeysKeepThePickedIconInView) {
    REQUIRE_ROW_FIXTURES();
    struct Step { int key; bool ctrl; int selected, pos; };
    const struct { int width; std::vector<Step> steps; } cases[] = {
        {200, {{vk::kEnd, false, 24, 800}, {vk::kLeft, true, 19, 760}, {vk::kHome, false, 0, 0}, {vk::kLeft, false, 0, 0},
               {vk::kRight, false, 1, 0}, {vk::kRight, true, 6, 80}, {vk::kLeft, false, 5, 80}, {vk::kLeft, true, 0, 0},
               {vk::kEnd, true, 24, 800}, {vk::kRight, true, 24, 800}, {vk::kHome, true, 0, 0}}},
        {230, {{vk::kEnd, false, 24, 770}, {vk::kLeft, true, 19, 760}, {vk::kHome, false, 0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        ChangeIconDialog dialog;
        Run(dialog, Fixture("icons25.dll"), 0, [&](User& u) {
            const CIconListBox& row = dialog.iconList;
            EXPECT_EQ((std::array{row.iconCount, row.visibleWidth, row.iconsPerPage}), (std::array{25, c.width, 5}));
            EXPECT_EQ(u.System().GetScrollInfo(u.Item(kRow), sb::kHorz).page, 200u);
            EXPECT_EQ(u.System().ClientRect(u.Item(kRow)).Height(), 40);
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
    REQUIRE_ROW_FIXTURES();
    struct Case { std::string file; int index, count, selected; bool okEnabled; int indexAfterOk; };  // no icons: no OK
    std::vector<Case> cases = {
        {"", 5, 1, 0, true, -1},
        {Fixture("icons3.dll"), 7, 3, 0, true, 0},
        {Fixture("icons3.dll"), 2, 3, 2, true, 2},
        {Fixture("icons25.dll"), 3, 25, 3, true, 3},
        {Fixture("icons25.dll"), 20, 25, 20, true, 20},  // past the visible part: scrolled to
        {Fixture("absent.ico"), 0, 0, -1, false, 0},
    };
#if !defined(_WIN32)
    // The Windows shell finds icons for these through their types' programs.
    cases.push_back({Fixture("notes.txt"), 0, 0, -1, false, 0});
    cases.push_back({Fixtures().string(), 0, 0, -1, false, 0});
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.index));
        system.ClearLog();
        ChangeIconDialog dialog;
        const int code = Run(dialog, c.file, c.index, [&](User& u) {
            EXPECT_EQ(dialog.iconList.iconCount, c.count);
            EXPECT_EQ(dialog.iconList.selectedIndex, c.selected);
            if (c.selected >= 0) {  // the picked cell is in view
                const int pos = u.System().ScrollPos(u.Item(kRow), sb::kHorz);
                EXPECT_LE(pos, c.selected * 40);
                EXPECT_GE(pos + dialog.iconList.visibleWidth, (c.selected + 1) * 40);
            }
            EXPECT_EQ(u.Enabled(kIdOk), c.okEnabled);
            EXPECT_EQ(u.Text(kEdit), c.file);
            EXPECT_EQ(u.FocusId(), kEdit);
            EXPECT_EQ(u.Click(kIdOk), c.okEnabled);
            if (u.Running()) u.Click(kIdCancel);
        });
        const auto boxes = system.RecordsOf(Record::MessageBox);
        ASSERT_EQ(boxes.size(), c.count == 0 ? 1u : 0u);
        if (c.count == 0) {
            EXPECT_EQ(boxes[0].text, "No icons found in the chosen file.");
            EXPECT_EQ(boxes[0].style, kMbOk | kMbIconExclamation);
            EXPECT_EQ(code, kIdCancel);
            continue;
        }
        EXPECT_EQ(code, kIdOk);
        EXPECT_EQ(dialog.iconIndex, c.indexAfterOk);
        ASSERT_TRUE(IsRealIcon(dialog.icon));
        // The copy is of the picked icon: the library's icons alternate in the fixtures.
        const auto wanted = ReadIcon(UniqueIcon(Icons().LoadResourceIcon(OwnModule(), c.selected % 2 ? IDI_MISSING : IDI_CONNECTION)).get());
        const auto picked = ReadIcon(dialog.icon);
        ASSERT_TRUE(picked && wanted);
        EXPECT_EQ(picked->width, wanted->width);
        EXPECT_TRUE(picked->pixels == wanted->pixels);
    }
}

// Enter in the file name loads the typed file and keeps the dialog open; Enter on the row ends
// it. A name typed again unchanged reloads nothing; a click right of the last icon picks it.
TEST_F(ChangeIcon, TypingAFileNameAndEnter) {
    REQUIRE_ROW_FIXTURES();
    ChangeIconDialog dialog;
    const std::string three = Fixture("icons3.dll");
    const int code = Run(dialog, "", -1, [&](User& u) {
        u.Type(kEdit, three);
        u.PressKey(vk::kReturn);
        EXPECT_TRUE(u.Running());
        EXPECT_EQ(dialog.iconList.iconCount, 3);
        EXPECT_EQ(dialog.iconList.selectedIndex, 0);
        EXPECT_EQ(u.FocusId(), kRow);
        u.ClickAt(kRow, {45, 10});
        EXPECT_EQ(dialog.iconList.selectedIndex, 1);
        u.ClickAt(kRow, {290, 10});
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);
        u.Type(kEdit, three);
        u.Focus(kRow);
        EXPECT_EQ(dialog.iconList.selectedIndex, 2);  // not reloaded
        u.PressKey(vk::kReturn);
    });
    EXPECT_EQ(code, kIdOk);
    EXPECT_EQ(dialog.iconFilename, three);
    EXPECT_EQ(dialog.iconIndex, 2);
}

// Browse: the file dialog's filter and flags; a new file reloads, the same file only sets the
// text, Cancel changes nothing. A double click on the row ends the dialog as OK does.
TEST_F(ChangeIcon, BrowseAndDoubleClick) {
    REQUIRE_ROW_FIXTURES();
    ChangeIconDialog dialog;
    const std::string three = Fixture("icons3.dll"), many = Fixture("icons25.dll");
    const int code = Run(dialog, three, 1, [&](User& u) {
        u.System().AnswerFileDialog(std::nullopt);
        u.Click(kBrowse);
        EXPECT_EQ(dialog.iconList.selectedIndex, 1);
        u.System().AnswerFileDialog(three);
        u.Click(kBrowse);
        EXPECT_EQ(dialog.iconList.selectedIndex, 1);
        u.System().AnswerFileDialog(many);
        u.Click(kBrowse);
        EXPECT_EQ(u.Text(kEdit), many);
        EXPECT_EQ(dialog.iconList.iconCount, 25);
        EXPECT_EQ(dialog.iconList.selectedIndex, 0);
        u.DoubleClickAt(kRow, {85, 10});
    });
    EXPECT_EQ(code, kIdOk);
    EXPECT_EQ(dialog.iconIndex, 2);
    EXPECT_EQ(dialog.iconFilename, many);
    const auto files = system.RecordsOf(Record::FileDialog);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].file.initialFile + "|" + files[0].file.defaultExtension, three + "|");
    EXPECT_EQ(files[0].file.flags, 0x1004u);
    ASSERT_EQ(files[0].file.filters.size(), 6u);
    EXPECT_EQ(files[0].file.filters[0],
              (std::pair<std::string, std::string>{"Icon files (*.ico;*.dll;*.exe;*.ocx)",
                                                   "*.ico;*.dll;*.exe;*.ocx"}));
    EXPECT_EQ(files[0].file.filters[5].second, "*.*");
}

// The row paints the cells its item rectangle covers, at row positions: the picked one
// highlighted while the row has the focus, with the focus frame, every one with its icon.
TEST_F(ChangeIcon, RowPaintsItsCells) {
    REQUIRE_ROW_FIXTURES();
    ChangeIconDialog dialog;
    Run(dialog, Fixture("icons25.dll"), 0, [&](User& u) {
        u.Focus(kRow);
        u.PressKey(vk::kEnd);
        const auto& paints = u.System().Paints();
        ASSERT_FALSE(paints.empty());
        const headless::Paint& last = paints.back();
        EXPECT_EQ(last.controlId, kRow);
        std::vector<PaintOp> cell24;
        int images = 0;
        for (const PaintOp& op : last.ops) {
            if (op.kind == PaintOp::Image) ++images;
            if (op.rect.left >= 960 && op.rect.right <= 1000) cell24.push_back(op);
        }
        EXPECT_EQ(images, 25);
        ASSERT_EQ(cell24.size(), 3u);
        EXPECT_EQ(cell24[0], (PaintOp{PaintOp::Fill, {960, 0, 1000, 40}, color::kHighlight}));
        EXPECT_EQ(cell24[1].kind, PaintOp::FocusRect);
        EXPECT_EQ(cell24[1].rect, (Rect{962, 2, 998, 38}));
        EXPECT_EQ(cell24[2].image, 24);
        EXPECT_EQ(cell24[2].rect.left, 964);

        // A request for the visible part only: cells 20 to 24 (the picked one without focus).
        struct Recorder : Painter {
            std::vector<PaintOp> ops;
            void Fill(const Rect& r, int c) override { ops.push_back({PaintOp::Fill, r, c}); }
            void FocusRect(const Rect& r) override { ops.push_back({PaintOp::FocusRect, r}); }
            void DrawImage(const ImageList&, int i, int x, int y) override { ops.push_back({PaintOp::Image, {x, y, x + 32, y + 32}, 0, i}); }
        } recorder;
        DrawItemRequest request;
        request.rect = {0, 0, 200, 40};
        request.painter = &recorder;
        dialog.iconList.DrawItem(request);
        ASSERT_EQ(recorder.ops.size(), 11u);
        EXPECT_EQ(recorder.ops[0], (PaintOp{PaintOp::Fill, {800, 0, 840, 40}, color::kWindow}));
        EXPECT_EQ(recorder.ops[8], (PaintOp{PaintOp::Fill, {960, 0, 1000, 40}, color::kWindow}));

        // Losing the focus erases the picked cell where it shows (its highlight goes); getting
        // it back selects the row's one item again.
        u.Focus(kEdit);
        const auto& erased = u.System().Invalidations();
        ASSERT_FALSE(erased.empty());
        EXPECT_EQ(erased.back().controlId, kRow);
        EXPECT_EQ(erased.back().rect, (Rect{160, 0, 200, 40}));
        EXPECT_TRUE(erased.back().erase);
        u.System().ListBoxSetCurSel(u.Item(kRow), -1);
        u.Focus(kRow);
        EXPECT_EQ(u.System().ListBoxCurSel(u.Item(kRow)), 0);
        u.PressKey(vk::kEscape);
    }, 200);
}

// The help viewer's calls: each command with the help-id table it was handed.
std::vector<std::pair<unsigned, std::vector<uint32_t>>> helpCalls;

// A help viewer entry point (the viewer's calling convention, __stdcall on 32-bit Windows).
HWND TAVIXAPI RecordHelpCall(HWND, const char*, unsigned command, uintptr_t data) {
    std::vector<uint32_t> table;
    for (auto* p = reinterpret_cast<const uint32_t*>(data); p && (p[0] || p[1]); p += 2) {
        table.insert(table.end(), {p[0], p[1]});
    }
    helpCalls.emplace_back(command, table);
    return reinterpret_cast<HWND>(uintptr_t{1});
}

// F1 and the context menu reach the help viewer with the dialog's help-id table.
TEST_F(ChangeIcon, HelpRequests) {
    auto& calls = helpCalls;
    calls.clear();
    help::BindViewer(RecordHelpCall, OwnModule());
    help::SetUseCount(1);
    ChangeIconDialog dialog;
    Run(dialog, "", -1, [](User& u) {
        u.Help();
        u.RightClick(kBrowse);
        u.PressKey(vk::kEscape);
    });
    EXPECT_EQ(help::UseCount(), 1);  // taken by the dialog and given back
    help::BindViewer(nullptr, nullptr);
    help::SetUseCount(0);
    const std::vector<uint32_t> table = {IDOK, 20001, IDCANCEL, 20002, kEdit, 20005, kBrowse, 20004, kRow, 20007};
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::pair{17u, table}));  // F1
    EXPECT_EQ(calls[1], (std::pair{16u, table}));  // the context menu
}

}  // namespace
}  // namespace tavix
