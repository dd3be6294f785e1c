#include "connstring/wide_split.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "TavixConnect.h"
#include "frame/context/boundary.h"
#include "frame/context/library_context.h"
#include "platform/automation.h"
#include "platform/codepage.h"
#include "resources/resource.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

// A sentinel that the exports must overwrite with null and never free.
WChar g_sentinelText[] = {'s', 0};
const BSTR kSentinel = g_sentinelText;

TEST(SplitConnectionStringExport, ReadsUpToTheTerminatingZero) {
    const WString input = W({u"cn_iptcp:h[1]\0:NS", 17});
    BSTR server = kSentinel, space = kSentinel;
    ASSERT_EQ(SplitConnectionString(input.c_str(), &server, &space), 1);
    const UniqueBstr ownedServer(server), ownedSpace(space);
    EXPECT_EQ(WString(ownedServer.view()), W(u"cn_iptcp:h[1]"));
    EXPECT_EQ(platform::StringLength(space), 0u);
}

// A caller whose own resources translate string 2009 still has "USER" as the default
// namespace, and its context is current again after every export, early returns included.
TEST(ConnectionStringExports, RunInTheLibraryContextAndRestoreTheCallers) {
    StringTable callerStrings;
    callerStrings.Set(IDS_DEFAULT_NAMESPACE, W(u"BENUTZER"), platform::SystemCodePage());
    LibraryContext caller = Library();
    caller.resourceStrings = &callerStrings;
    ContextGuard guard(caller);

    const WString plain = W(u"cn_iptcp:h[1]"), user = W(u"cn_iptcp:h[1]:USER"), benutzer = W(u"cn_iptcp:h[1]:BENUTZER");
    // In the caller's context its own text would be the default...
    const WStringView callersDefault = LoadWideString(IDS_DEFAULT_NAMESPACE);
    ASSERT_TRUE(WideStringsEquivalent(WideView(plain.c_str()), WideView(benutzer.c_str()), callersDefault));
    ASSERT_FALSE(WideStringsEquivalent(WideView(plain.c_str()), WideView(user.c_str()), callersDefault));

    BSTR server = kSentinel, space = kSentinel;
    const struct {
        const char* what;
        std::function<long()> call;
        long expected;
    } calls[] = {
        {"equivalent USER", [&] { return ConnectionStringsEquivalent(plain.c_str(), user.c_str()); }, 1},
        {"equivalent BENUTZER", [&] { return ConnectionStringsEquivalent(plain.c_str(), benutzer.c_str()); }, 0},
        {"equivalent identical", [&] { return ConnectionStringsEquivalent(W(u"x").c_str(), W(u"x").c_str()); }, 1},
        {"equivalent nulls", [&] { return ConnectionStringsEquivalent(nullptr, W(u"").c_str()); }, 1},
        {"split empty", [&] { return SplitConnectionString(W(u"").c_str(), &server, &space); }, 0},
        {"split null", [&] { return SplitConnectionString(nullptr, &server, &space); }, 0},
        {"make null", [&] { return MakeConnectionString(nullptr, user.c_str()) == nullptr ? 0L : 1L; }, 0},
        {"make", [&] { return long(UniqueBstr(MakeConnectionString(plain.c_str(), W(u"NS").c_str())).view().size()); },
         16},
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
