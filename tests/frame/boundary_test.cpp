#include "frame/context/boundary.h"

#include <gtest/gtest.h>

#include "low_byte_code_page.h"

#include <string>
#include <utility>

#include "frame/context/library_context.h"
#include "platform/automation.h"
#include "platform/codepage.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

using test::LowByteCodePage;

TEST(NarrowArg, NullStaysNullAndTextUsesTheCurrentCodePage) {
    const NarrowArg null(nullptr);
    EXPECT_TRUE(null.IsNull() && null.get() == nullptr);
    const WString emptyText;
    const NarrowArg empty(emptyText.c_str());
    EXPECT_FALSE(empty.IsNull());
    EXPECT_STREQ(empty.get(), "");

    const LowByteCodePage codePage;
    LibraryContext context = Library();
    context.codePage = &codePage;
    ContextGuard guard(context);
    const WString text = W(u"a\u00E9\u20AC b");
    EXPECT_STREQ(NarrowArg(text.c_str()).get(), "a\xE9? b");
    EXPECT_EQ(UniqueBstr(NewBstrFromNarrow("x\xE9y")).view(), W(u"x\u00E9y"));
}

// Sole ownership: a move hands the string over, reset frees the old one (never the one it is
// given back), release gives it up; the text is kept whole, zeros and surrogates inside too.
TEST(UniqueBstr, OwnsExactlyOneString) {
    EXPECT_FALSE(UniqueBstr() || !UniqueBstr().view().empty());
    const WString awkward = W(std::u16string_view(u"x\0y\U0001F600\xDC00", 6));
    UniqueBstr a(NewBstr(awkward));
    EXPECT_EQ(a.view(), awkward);
    EXPECT_EQ(a.get()[6], 0);

    BSTR raw = a.get();
    UniqueBstr moved(std::move(a));
    EXPECT_EQ(moved.get(), raw);
    EXPECT_EQ(a.get(), nullptr);
    moved = UniqueBstr(NewBstr(W(u"abc")));  // frees the first string
    moved.reset(moved.get());                // the same string is kept, not freed
    EXPECT_EQ(moved.view(), W(u"abc"));
    moved.reset(NewBstr(W(u"new")));
    BSTR released = moved.release();
    EXPECT_FALSE(moved);
    EXPECT_EQ(WStringView(released, platform::StringLength(released)), W(u"new"));
    platform::FreeString(released);
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
        {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD", false},
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
        {"\xE2\x82" "A", u"\uFFFD" "A"},                     {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
        {"a\xC3", u"a\uFFFD"},                                {"\xC3\xC3\xA9", u"\uFFFD\u00E9"},
    };
    for (const auto& c : toWide) {
        EXPECT_EQ(utf8.ToWide(c.narrow), W(c.wide)) << testing::PrintToString(std::string(c.narrow));
    }
    EXPECT_EQ(utf8.ToWide(utf8.ToNarrow(W(std::u16string_view(u"a\0b", 3)))), W(std::u16string_view(u"a\0b", 3)));
}

#endif  // !defined(_WIN32)

}  // namespace
}  // namespace tavix
