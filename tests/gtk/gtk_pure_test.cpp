// The GTK window system's display-free parts: dialog units, mnemonics, the labels that name
// controls, key codes, file filters, scroll ranges and message-box buttons.
#include <gtest/gtest.h>

#include "platform/gtk/gtk_pure.h"

namespace tavix::platform::gtk {
namespace {

// Base units from the font's metrics, rounded as the dialog manager rounds them, and template
// rectangles in pixels.
TEST(GtkDialogUnits, BaseUnitsAndRectanglesAsTheDialogManagerComputesThem) {
    // 8-point MS Sans Serif on Windows: 52 letters 312 pixels wide, 13 high -> 6 x 13.
    EXPECT_EQ(BaseUnitsFromMetrics(312, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromMetrics(312, 13).y, 13);
    EXPECT_EQ(BaseUnitsFromMetrics(339, 15).x, 7);  // 13.03 per letter rounds up to 7

    const struct { BaseUnits units; int x, y, cx, cy; Rect expected; } cases[] = {
        {{7, 16}, 7, 46, 122, 12, {12, 92, 226, 116}},  // the server edit, a larger font
        {{6, 13}, 4, 120, 305, 1, {6, 195, 464, 197}},  // the one-unit separator keeps a pixel
    };
    for (const auto& c : cases) {
        const Rect got = DialogUnitsToPixels(c.units, c.x, c.y, c.cx, c.cy);
        EXPECT_EQ(got, c.expected) << got.left << " " << got.top << " " << got.right << " " << got.bottom;
    }
}

// "&" marks a mnemonic in templates, "_" in GTK; each escapes the other's character.
TEST(GtkMnemonics, TemplateTextGtkTextAndTheReadableText) {
    const struct { const char *windows, *gtk, *readable; } cases[] = {
        {"&Server:", "_Server:", "Server:"},
        {"Fish && Chips", "Fish & Chips", "Fish & Chips"},
        {"my_name", "my__name", "my_name"},
        {"trailing&", "trailing", "trailing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(GtkMnemonic(c.windows), c.gtk);
        EXPECT_EQ(WithoutMnemonic(c.windows), c.readable);
        if (std::string(c.windows) != "trailing&") {
            EXPECT_EQ(WindowsMnemonic(c.gtk), c.windows);
        }
    }
}

// The nearest label above a control names it, else the nearest before it on its row.
TEST(GtkLabels, EachControlIsNamedByTheLabelAboveOrBeforeIt) {
    // The Connection Properties layout (dialog units): labels in template order.
    const std::vector<Rect> labels = {
        {7, 6, 131, 14},     // 0 Connection name
        {7, 68, 136, 76},    // 1 Namespace
        {141, 17, 174, 25},  // 2 Icon
        {141, 37, 200, 45},  // 3 Port
        {7, 37, 128, 45},    // 4 Server (last in the template)
    };
    const struct { Rect control; int expected; } cases[] = {
        {{7, 15, 129, 27}, 0},      // name edit
        {{7, 46, 129, 58}, 4},      // server edit: the label above, not the one before in order
        {{179, 13, 200, 31}, 2},    // icon button, on the label's row
        {{90, 104, 142, 118}, -1},  // OK: nothing near
    };
    for (const auto& c : cases) EXPECT_EQ(LabelFor(c.control, labels), c.expected) << c.control.left;
}

// Letters, digits and the keys the dialogs handle; other keys are 0.
TEST(GtkKeys, KeyvalsBecomeTheVirtualKeysTheDialogsRead) {
    const struct { unsigned keyval; int expected; } cases[] = {
        {0xff9f, vk::kDelete}, {'a', 'A'}, {'z', 'Z'}, {'A', 'A'}, {'Z', 'Z'}, {'0', '0'}, {'9', '9'},
        {'{', 0}, {0xffc0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(VirtualKeyFromKeyval(c.keyval), c.expected) << std::hex << c.keyval;
}

TEST(GtkFilters, PatternsSplitAtSemicolons) {
    EXPECT_EQ(FilterPatterns("*.ico"), std::vector<std::string>{"*.ico"});
    EXPECT_EQ(FilterPatterns("*.ico;*.exe; *.dll ;"), (std::vector<std::string>{"*.ico", "*.exe", "*.dll"}));
}

TEST(GtkScrolling, ScrollInfoAndAdjustmentAgreeAndRequestsStayInRange) {
    // The icon row: 10 icons of 36 pixels, a page of 5 whole cells.
    ScrollInfo info;
    info.min = 0;
    info.max = 360;
    info.page = 180;
    info.pos = 400;
    const AdjustmentRange range = AdjustmentFromScrollInfo(info);
    EXPECT_EQ(range.lower, 0);
    EXPECT_EQ(range.upper, 361);
    EXPECT_EQ(range.page, 180);
    EXPECT_EQ(range.value, 181);  // the last position shows the last page whole

    info.pos = 36;
    const struct { int code, thumb, expected; } cases[] = {
        {sb::kLineLeft, 0, 35},   {sb::kLineRight, 0, 37},      {sb::kPageLeft, 0, 0},
        {sb::kPageRight, 0, 181}, {sb::kThumbPosition, 72, 72}, {sb::kThumbTrack, 999, 181},
        {sb::kLeft, 0, 0},        {sb::kRight, 0, 181},          {sb::kEndScroll, 0, 36},
    };
    for (const auto& c : cases) EXPECT_EQ(ScrollPosForCode(info, c.code, c.thumb), c.expected) << "code " << c.code;
    EXPECT_EQ(ScrollPosFromValue(info, 71.6), 72);
    EXPECT_EQ(ScrollPosFromValue(info, -3), 0);
    ScrollInfo empty;  // no range: position 0 whatever is asked
    EXPECT_EQ(ScrollPosFromValue(empty, 5), 0);
}

// German for any German sublanguage, English otherwise; the first button is the default.
TEST(GtkMessageBoxes, ButtonsInTheLanguageAsked) {
    // Each button as "text=answer", then the default and the Escape answers.
    const struct { unsigned style; uint16_t language; const char* expected; } cases[] = {
        {kMbYesNo | kMbIconQuestion, 0x0C07, "&Ja=6 &Nein=7 6/0"},  // German (Austria)
        {kMbYesNoCancel, 0, "&Yes=6 &No=7 Cancel=2 6/2"},
        {kMbYesNoCancel, 0x0407, "&Ja=6 &Nein=7 Abbrechen=2 6/2"},
        {kMbOk | kMbIconExclamation, 0, "OK=1 1/1"},
    };
    for (const auto& c : cases) {
        const MessageButtons got = ButtonsFor(c.style, c.language);
        std::string buttons;
        for (const auto& button : got.buttons) buttons += button.text + "=" + std::to_string(button.answer) + " ";
        EXPECT_EQ(buttons + std::to_string(got.defaultAnswer) + "/" + std::to_string(got.escapeAnswer), c.expected);
    }
}

}  // namespace
}  // namespace tavix::platform::gtk
