#include "frame/context/boundary.h"

#include <gtest/gtest.h>

#include "low_byte_code_page.h"

#include <string>

#include "frame/context/library_context.h"
#include "platform/codepage.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

// A null argument stays null, apart from an empty one; text is narrowed, and narrow text
// widened, through the current context's code page.
TEST(NarrowArg, NullStaysNullAndTextUsesTheCurrentCodePage) {
    EXPECT_TRUE(NarrowArg(nullptr).IsNull() && NarrowArg(nullptr).get() == nullptr);
    const WString empty;
    EXPECT_FALSE(NarrowArg(empty.c_str()).IsNull());
    const test::LowByteCodePage codePage;
    LibraryContext context = Library();
    context.codePage = &codePage;
    ContextGuard guard(context);
    EXPECT_STREQ(NarrowArg(W(u"a\u00E9\u20AC b").c_str()).get(), "a\xE9? b");
    EXPECT_EQ(UniqueBstr(NewBstrFromNarrow("x\xE9y")).view(), W(u"x\u00E9y"));
}

#if !defined(_WIN32)

// 8-bit text is UTF-8 here.
TEST(Utf8CodePage, ConvertsBothWaysAndReplacesWhatIsNotText) {
    const platform::CodePage& utf8 = platform::SystemCodePage();
    EXPECT_EQ(utf8.LeadBytes(), nullptr);
    const struct { const char16_t* wide; const char* narrow; bool roundTrip; } toNarrow[] = {
        {u"A\u007F\u0080\u07FF", "A\x7F\xC2\x80\xDF\xBF", true},
        {u"\u0800\u20AC\uD7FF\uE000\uFFFF", "\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", true},
        {u"\U00010000\U0001F600\U0010FFFF", "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", true},
        // Unpaired surrogates become U+FFFD.
        {u"a\xD800", "a\xEF\xBF\xBD", false}, {u"\xDC00" "b", "\xEF\xBF\xBD" "b", false},
        {u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80", false},
    };
    for (const auto& c : toNarrow) {
        EXPECT_EQ(utf8.ToNarrow(W(c.wide)), c.narrow) << c.narrow;
        if (c.roundTrip) {
            EXPECT_EQ(utf8.ToWide(c.narrow), W(c.wide)) << c.narrow;
        }
    }

    // Each maximal ill-formed subpart becomes one U+FFFD; overlong forms, encoded surrogates
    // and values above U+10FFFF are never decoded.
    const struct { const char* narrow; const char16_t* wide; } toWide[] = {
        {"a\xBF" "b\xFF\xFE", u"a\uFFFD" "b\uFFFD\uFFFD"},   {"\xC0\x80\xC1\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},             {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xE2\x82" "A", u"\uFFFD" "A"},                     {"a\xC3", u"a\uFFFD"},
    };
    for (const auto& c : toWide) {
        EXPECT_EQ(utf8.ToWide(c.narrow), W(c.wide)) << testing::PrintToString(std::string(c.narrow));
    }
    EXPECT_EQ(utf8.ToWide(utf8.ToNarrow(W(std::u16string_view(u"a\0b", 3)))), W(std::u16string_view(u"a\0b", 3)));
}

#endif  // !defined(_WIN32)

}  // namespace
}  // namespace tavix
