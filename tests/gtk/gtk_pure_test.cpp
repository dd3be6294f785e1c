// The GTK window system's display-free parts: dialog units, mnemonics, the labels that name
// controls, key codes, file filters, scroll ranges and message-box buttons.
#include <gtest/gtest.h>

#include "platform/gtk/gtk_pure.h"

namespace tavix::platform::gtk {
namespace {

TEST(GtkDialogUnits, BaseUnitsAndRectanglesAsTheDialogManagerComputesThem) {
    // 8-point MS Sans Serif on Windows: 52 letters 312 pixels wide, 13 high -> 6 x 13.
    EXPECT_EQ(BaseUnitsFromMetrics(312, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromMetrics(312, 13).y, 13);
    EXPECT_EQ(BaseUnitsFromMetrics(364, 17).x, 7);  // a wider desktop font: (14 + 1) / 2
    EXPECT_EQ(BaseUnitsFromMetrics(339, 15).x, 7);  // 13.03 per letter rounds up to 7

    struct Case {
        BaseUnits units;
        int x, y, cx, cy;
        Rect expected;
    };
    const Case cases[] = {
        {{6, 13}, 0, 0, 313, 141, {0, 0, 470, 229}},   // the Connections dialog
        {{6, 13}, 251, 4, 58, 14, {377, 7, 464, 30}},   // its New button
        {{7, 16}, 7, 46, 122, 12, {12, 92, 226, 116}},  // the server edit, a larger font
        {{6, 13}, 4, 120, 305, 1, {6, 195, 464, 197}},  // the one-unit separator keeps a pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        const Rect got = DialogUnitsToPixels(c.units, c.x, c.y, c.cx, c.cy);
        EXPECT_EQ(got, c.expected) << got.left << " " << got.top << " " << got.right << " " << got.bottom;
    }
}

TEST(GtkMnemonics, TemplateTextGtkTextAndTheReadableText) {
    struct Case {
        const char* windows;
        const char* gtk;
        const char* readable;
    };
    const Case cases[] = {
        {"&Server:", "_Server:", "Server:"},
        {"Save &As", "Save _As", "Save As"},
        {"Fish && Chips", "Fish & Chips", "Fish & Chips"},
        {"my_name", "my__name", "my_name"},
        {"&Ja", "_Ja", "Ja"},
        {"trailing&", "trailing", "trailing"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(GtkMnemonic(c.windows), c.gtk);
        EXPECT_EQ(WithoutMnemonic(c.windows), c.readable);
        if (std::string(c.windows) != "trailing&") {
            EXPECT_EQ(WindowsMnemonic(c.gtk), c.windows);
        }
    }
}

TEST(GtkLabels, EachControlIsNamedByTheLabelAboveOrBeforeIt) {
    // The Connection Properties layout (dialog units): labels in template order.
    const std::vector<Rect> labels = {
        {7, 6, 131, 14},     // 0 Connection name
        {7, 68, 136, 76},    // 1 Namespace
        {141, 17, 174, 25},  // 2 Icon
        {141, 37, 200, 45},  // 3 Port
        {7, 37, 128, 45},    // 4 Server (last in the template)
    };
    struct Case {
        Rect control;
        int expected;
    };
    const Case cases[] = {
        {{7, 15, 129, 27}, 0},      // name edit
        {{7, 46, 129, 58}, 4},      // server edit: the label above, not the one before in order
        {{141, 46, 203, 58}, 3},    // port edit
        {{7, 78, 129, 90}, 1},      // namespace edit
        {{179, 13, 200, 31}, 2},    // icon button, on the label's row
        {{90, 104, 142, 118}, -1},  // OK: nothing near
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.control.left) + "," + std::to_string(c.control.top));
        EXPECT_EQ(LabelFor(c.control, labels), c.expected);
    }
}

TEST(GtkKeys, KeyvalsBecomeTheVirtualKeysTheDialogsRead) {
    struct Case {
        unsigned keyval;
        int expected;
    };
    const Case cases[] = {
        {0xff09, vk::kTab},    {0xfe20, vk::kTab},    {0xff0d, vk::kReturn}, {0xff8d, vk::kReturn},
        {0xff1b, vk::kEscape}, {0xffff, vk::kDelete}, {0xff9f, vk::kDelete}, {0xffbe, vk::kF1},
        {0xffbf, vk::kF2},     {0xff67, vk::kApps},   {0xff51, vk::kLeft},   {0xff53, vk::kRight},
        {0xff50, vk::kHome},   {0xff57, vk::kEnd},    {'a', 'A'},            {'A', 'A'},
        {'7', '7'},            {0xffe3, vk::kControl}, {0xffe1, vk::kShift}, {0xffc0, 0},
        {0x20ac, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VirtualKeyFromKeyval(c.keyval), c.expected) << std::hex << c.keyval;
    }
}

TEST(GtkFilters, PatternsSplitAtSemicolons) {
    EXPECT_EQ(FilterPatterns("*.ico"), std::vector<std::string>{"*.ico"});
    EXPECT_EQ(FilterPatterns("*.ico;*.exe; *.dll ;"), (std::vector<std::string>{"*.ico", "*.exe", "*.dll"}));
    EXPECT_EQ(FilterPatterns(";;"), std::vector<std::string>{});
    EXPECT_EQ(FilterPatterns("*.*"), std::vector<std::string>{"*.*"});
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
    struct Case {
        int code, thumb, expected;
    };
    const Case cases[] = {
        {sb::kLineLeft, 0, 35},   {sb::kLineRight, 0, 37},      {sb::kPageLeft, 0, 0},
        {sb::kPageRight, 0, 181}, {sb::kThumbPosition, 72, 72}, {sb::kThumbTrack, 999, 181},
        {sb::kLeft, 0, 0},        {sb::kRight, 0, 181},          {sb::kEndScroll, 0, 36},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScrollPosForCode(info, c.code, c.thumb), c.expected) << "code " << c.code;
    }
    EXPECT_EQ(ScrollPosFromValue(info, 71.6), 72);
    EXPECT_EQ(ScrollPosFromValue(info, -3), 0);
    ScrollInfo empty;  // no range: position 0 whatever is asked
    EXPECT_EQ(ScrollPosFromValue(empty, 5), 0);
}

TEST(GtkMessageBoxes, ButtonsInTheLanguageAsked) {
    struct Case {
        unsigned style;
        uint16_t language;
        std::vector<std::string> texts;
        std::vector<int> answers;
        int escape;
    };
    const Case cases[] = {
        {kMbYesNo | kMbIconQuestion, 0x0407, {"&Ja", "&Nein"}, {kIdYes, kIdNo}, 0},
        {kMbYesNo, 0x0C07, {"&Ja", "&Nein"}, {kIdYes, kIdNo}, 0},  // German (Austria)
        {kMbYesNo, 0x0409, {"&Yes", "&No"}, {kIdYes, kIdNo}, 0},
        {kMbYesNoCancel, 0, {"&Yes", "&No", "Cancel"}, {kIdYes, kIdNo, kIdCancel}, kIdCancel},
        {kMbYesNoCancel, 0x0407, {"&Ja", "&Nein", "Abbrechen"}, {kIdYes, kIdNo, kIdCancel}, kIdCancel},
        {kMbOk | kMbIconExclamation, 0, {"OK"}, {kIdOk}, kIdOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.style) + "/" + std::to_string(c.language));
        const MessageButtons got = ButtonsFor(c.style, c.language);
        std::vector<std::string> texts;
        std::vector<int> answers;
        for (const auto& button : got.buttons) {
            texts.push_back(button.text);
            answers.push_back(button.answer);
        }
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(got.defaultAnswer, c.answers.front());
        EXPECT_EQ(got.escapeAnswer, c.escape);
    }
}

}  // namespace
}  // namespace tavix::platform::gtk
