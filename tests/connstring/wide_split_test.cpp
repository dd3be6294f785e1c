#include "connstring/wide_split.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "TavixConnect.h"
#include "frame/boundary.h"
#include "frame/library_context.h"
#include "platform/automation.h"
#include "platform/codepage.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

// A wide argument that may be null.
struct Arg {
    std::optional<WString> text;
    Arg(const char16_t* utf16) {
        if (utf16 != nullptr) text = W(utf16);
    }
    const OLECHAR* get() const { return text ? text->c_str() : nullptr; }
};

std::string Show(const char16_t* text) { return text ? testing::PrintToString(W(text)) : "(null)"; }

struct SplitCase {
    const char16_t* input;
    bool ok;
    const char16_t* server = u"";
    const char16_t* space = u"";
};

const SplitCase kSplitCases[] = {
    {u"cn_iptcp:127.0.0.1[1972]", true, u"cn_iptcp:127.0.0.1[1972]"},
    {u"\"My Db\" cn_iptcp:h[1]:NS", true, u"cn_iptcp:h[1]", u"NS"},
    {u"  :cn_iptcp:h[1] : NS", true, u"cn_iptcp:h[1]", u"NS"},
    {u"\t\n\v\f\r :cn_iptcp:h[1]\r\n:\t NS\n", true, u"cn_iptcp:h[1]", u"NS\n"},
    // Any number of quoted sections, skipped unread; a doubled quote is an empty section.
    {u"\"a\" \"b\"\"\"\n\"c:d[1]\" cn:h[2]", true, u"cn:h[2]"},
    {u"\"a\"\" cn_iptcp:h[1]", false},
    {u"\"unterminated cn_iptcp:h[1]", false},
    {u"\"a\" ", false},
    // No name in front; the protocol is any beginning of "cn_iptcp", compared exactly.
    {u"Name:cn_iptcp:h[1]", false},
    {u"::h[1]", true, u":h[1]"},
    {u":h[1]", false},
    {u"cn:h[1]", true, u"cn:h[1]"},
    {u"CN_IPTCP:h[1]", false},
    {u"cn_iptcpx:h[1]", false},
    {u"cn_iptcp :h[1]", false},
    // Brackets and namespace.
    {u"cn_iptcp: h [ 1 ]  ", true, u"cn_iptcp: h [ 1 ]"},
    {u"cn_iptcp:[]", true, u"cn_iptcp:[]"},
    {u"cn_iptcp:h[1]NS", true, u"cn_iptcp:h[1]", u"NS"},
    {u"cn_iptcp:h[1]::NS", true, u"cn_iptcp:h[1]", u":NS"},
    {u"cn_iptcp:h[1]:", true, u"cn_iptcp:h[1]"},
    {u"cn_iptcp:h[[1]]", true, u"cn_iptcp:h[[1]", u"]"},
    {u"cn_iptcp:h[1", false},
    {u"cn_iptcp:h", false},
    {u"cn_iptcp:h]1[", false},
    {u"", false},
    {u" \t\r\n", false},
    // Only characters 9 to 13 and 32 are blanks.
    {u"\x08" "cn_iptcp:h[1]", false},
    {u"\x0e" "cn_iptcp:h[1]", false},
    {u"\u00A0cn_iptcp:h[1]", false},
    {u"cn_iptcp:h[1]\u00A0", true, u"cn_iptcp:h[1]", u"\u00A0"},
    {u"cn_iptcp:h[1]\u3000:NS", true, u"cn_iptcp:h[1]", u"\u3000:NS"},
    // Surrogates, paired or not, pass through verbatim.
    {u"\"\xD800\" cn_iptcp:\U0001F600[\xDC00]:\xD83D" "x\U00010000", true,
     u"cn_iptcp:\U0001F600[\xDC00]", u"\xD83D" "x\U00010000"},
};

TEST(SplitWide, CutsServerPartAndNamespace) {
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(Show(c.input));
        const WString input = W(c.input);
        WideSplit parts;
        ASSERT_EQ(SplitWide(input, parts), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(WString(parts.serverPart), W(c.server));
        EXPECT_EQ(WString(parts.namespacePart), W(c.space));
    }
}

TEST(WideStringsEquivalent, ComparesServerPartAndNamespace) {
    const struct {
        const char16_t *first, *second;
        bool equivalent;
    } cases[] = {
        {u"", u"", true},
        {u"x", u"x", true},
        {u"x", u"y", false},
        {u"x", u"", false},
        {u"cn_iptcp:h[1]", u"", false},
        {u"cn_iptcp:h[1]", u"cn_iptcp:h[1]:USER", true},
        {u"cn_iptcp:h[1]:USER", u"cn_iptcp:h[1]:", true},
        {u"cn_iptcp:h[1]", u"cn_iptcp:h[1]:user", false},
        {u"cn_iptcp:h[1]:USER", u"cn_iptcp:h[1]:USER ", false},
        {u"cn_iptcp:h[1]:NS", u"cn_iptcp:h[1]:NS ", false},
        {u"cn_iptcp:h[1]", u"cn_iptcp:h[1] ", true},
        {u"cn_iptcp:h[1]:A", u"cn_iptcp:h[1]:B", false},
        {u"cn_iptcp:Host[1972]", u"cn_iptcp:host[1972]", false},
        {u"cn:h[1]", u"cn_iptcp:h[1]", false},
        {u"cn_iptcp:h[1]", u"cn_iptcp:h[01]", false},
        {u"\"A\" cn_iptcp:h[1]:NS", u" \"B\"\ncn_iptcp:h[1] : NS", true},
        {u"cn_iptcp:h[1]", u"Name:cn_iptcp:h[1]", false},
        {u"Name:cn_iptcp:h[1]", u"Name:cn_iptcp:h[1]", true},
    };
    ContextGuard guard;
    for (const auto& c : cases) {
        EXPECT_EQ(WideStringsEquivalent(W(c.first), W(c.second)), c.equivalent)
            << Show(c.first) << " vs " << Show(c.second);
        EXPECT_EQ(WideStringsEquivalent(W(c.second), W(c.first)), c.equivalent)
            << Show(c.second) << " vs " << Show(c.first);
    }
}

// Sentinels that the exports must overwrite with null and never free.
WChar g_sentinelText[] = {'s', 0};
const BSTR kSentinel = g_sentinelText;

TEST(SplitConnectionStringExport, ReturnsNewStringsOrNulls) {
    const struct {
        const char16_t* input;
        const char16_t *server, *space;  // null: the split fails
    } cases[] = {
        {u"cn_iptcp:127.0.0.1[1972]", u"cn_iptcp:127.0.0.1[1972]", u""},
        {u"\"Name\" cn_iptcp:h[1]:NS", u"cn_iptcp:h[1]", u"NS"},
        {u"cn_iptcp:\U0001F600[1]:\xDC00", u"cn_iptcp:\U0001F600[1]", u"\xDC00"},
        {u"Name:cn_iptcp:h[1]", nullptr, nullptr},
        {u"\"cn_iptcp:h[1]", nullptr, nullptr},
        {u"", nullptr, nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const Arg input(c.input);
        SCOPED_TRACE(Show(c.input));
        const int expected = c.server != nullptr;
        BSTR server = kSentinel, space = kSentinel;
        EXPECT_EQ(SplitConnectionString(input.get(), &server, &space), expected);
        const UniqueBstr ownedServer(server), ownedSpace(space);
        EXPECT_EQ(SplitConnectionString(input.get(), nullptr, nullptr), expected);
        if (!expected) {
            EXPECT_EQ(server, nullptr);
            EXPECT_EQ(space, nullptr);
            continue;
        }
        ASSERT_NE(server, nullptr);
        ASSERT_NE(space, nullptr);  // no namespace is an empty string, not null
        EXPECT_EQ(WString(ownedServer.view()), W(c.server));
        EXPECT_EQ(WString(ownedSpace.view()), W(c.space));
        EXPECT_EQ(platform::StringLength(server), W(c.server).size());
        EXPECT_EQ(platform::StringLength(space), W(c.space).size());
        EXPECT_EQ(space[platform::StringLength(space)], 0);

        BSTR only = kSentinel;
        EXPECT_EQ(SplitConnectionString(input.get(), nullptr, &only), 1);
        EXPECT_EQ(UniqueBstr(only).view(), ownedSpace.view());
    }
}

TEST(SplitConnectionStringExport, ReadsUpToTheTerminatingZero) {
    const WString input = W({u"cn_iptcp:h[1]\0:NS", 17});
    BSTR server = kSentinel, space = kSentinel;
    ASSERT_EQ(SplitConnectionString(input.c_str(), &server, &space), 1);
    const UniqueBstr ownedServer(server), ownedSpace(space);
    EXPECT_EQ(WString(ownedServer.view()), W(u"cn_iptcp:h[1]"));
    EXPECT_EQ(platform::StringLength(space), 0u);
}

TEST(MakeConnectionStringExport, JoinsThePartsVerbatim) {
    const struct {
        const char16_t *server, *space, *expected;  // expected null: no string
    } cases[] = {
        {u"cn_iptcp:h[1]", u"NS", u"cn_iptcp:h[1]:NS"},
        {u"cn_iptcp:h[1]", nullptr, u"cn_iptcp:h[1]"},
        {u"cn_iptcp:h[1]", u"", u"cn_iptcp:h[1]"},
        {u" x y", u": z ", u" x y:: z "},
        {u"\xD800", u"\U0001F600\xDC00", u"\xD800:\U0001F600\xDC00"},
        {nullptr, u"NS", nullptr},
        {u"", u"NS", nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Show(c.server) + " + " + Show(c.space));
        const UniqueBstr joined(MakeConnectionString(Arg(c.server).get(), Arg(c.space).get()));
        if (c.expected == nullptr) {
            EXPECT_EQ(joined.get(), nullptr);
            continue;
        }
        ASSERT_NE(joined.get(), nullptr);
        EXPECT_EQ(WString(joined.view()), W(c.expected));
        EXPECT_EQ(platform::StringLength(joined.get()), W(c.expected).size());
        EXPECT_EQ(joined.get()[W(c.expected).size()], 0);
    }

    // Joining what the split cut gives an equivalent string.
    for (const char16_t* text : {u"cn_iptcp:h[1]:NS", u"cn_iptcp:h[1]", u"\"N\" cn:h[1] : a:b "}) {
        BSTR server = nullptr, space = nullptr;
        ASSERT_EQ(SplitConnectionString(Arg(text).get(), &server, &space), 1);
        const UniqueBstr ownedServer(server), ownedSpace(space);
        const UniqueBstr joined(MakeConnectionString(server, space));
        EXPECT_EQ(ConnectionStringsEquivalent(Arg(text).get(), joined.get()), 1) << Show(text);
    }
}

// A caller whose own resources translate string 2009 still has "USER" as the default
// namespace, and its context is current again after every export, early returns included.
TEST(ConnectionStringExports, RunInTheLibraryContextAndRestoreTheCallers) {
    StringTable callerStrings;
    callerStrings.Set(2009, W(u"BENUTZER"), platform::SystemCodePage());
    LibraryContext caller = Library();
    caller.resourceStrings = &callerStrings;
    ContextGuard guard(caller);

    const Arg plain(u"cn_iptcp:h[1]"), user(u"cn_iptcp:h[1]:USER"), benutzer(u"cn_iptcp:h[1]:BENUTZER");
    // In the caller's context its own text would be the default...
    ASSERT_TRUE(WideStringsEquivalent(WideView(plain.get()), WideView(benutzer.get())));
    ASSERT_FALSE(WideStringsEquivalent(WideView(plain.get()), WideView(user.get())));

    BSTR server = kSentinel, space = kSentinel;
    const struct {
        const char* what;
        std::function<long()> call;
        long expected;
    } calls[] = {
        {"equivalent USER", [&] { return ConnectionStringsEquivalent(plain.get(), user.get()); }, 1},
        {"equivalent BENUTZER", [&] { return ConnectionStringsEquivalent(plain.get(), benutzer.get()); }, 0},
        {"equivalent identical", [&] { return ConnectionStringsEquivalent(Arg(u"x").get(), Arg(u"x").get()); }, 1},
        {"equivalent nulls", [&] { return ConnectionStringsEquivalent(nullptr, Arg(u"").get()); }, 1},
        {"split empty", [&] { return SplitConnectionString(Arg(u"").get(), &server, &space); }, 0},
        {"split null", [&] { return SplitConnectionString(nullptr, &server, &space); }, 0},
        {"make null", [&] { return MakeConnectionString(nullptr, user.get()) == nullptr ? 0L : 1L; }, 0},
        {"make", [&] { return long(UniqueBstr(MakeConnectionString(plain.get(), Arg(u"NS").get())).view().size()); }, 16},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_EQ(&CurrentContext(), &caller) << c.what;
    }
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(space, nullptr);
}

}  // namespace
}  // namespace tavix
