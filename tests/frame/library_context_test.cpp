#include "frame/library_context.h"

#include <gtest/gtest.h>

#include "low_byte_code_page.h"

#include <future>
#include <new>
#include <stdexcept>
#include <thread>

#include "frame/call_frame.h"
#include "frame/string_table.h"
#include "platform/codepage.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

TEST(ContextGuard, NestsAndRestoresOnEveryWayOut) {
    const LibraryContext* callers = &CurrentContext();
    ASSERT_NE(callers, &Library());
    EXPECT_EQ(callers->resourceStrings, nullptr);
    LibraryContext other = Library();
    {
        ContextGuard outer;
        EXPECT_EQ(&CurrentContext(), &Library());
        {
            ContextGuard inner(other);
            EXPECT_EQ(&CurrentContext(), &other);
            {
                ContextGuard innermost;
                EXPECT_EQ(&CurrentContext(), &Library());
            }
            EXPECT_EQ(&CurrentContext(), &other);
        }
        EXPECT_EQ(&CurrentContext(), &Library());
        try {
            ContextGuard throwing(other);
            throw std::runtime_error("unwind");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(&CurrentContext(), &Library());
    }
    EXPECT_EQ(&CurrentContext(), callers);
}

TEST(RunExport, RunsTheBodyInTheLibraryContextAndTurnsExceptionsIntoTheFailureResult) {
    LibraryContext caller = Library();
    ContextGuard guard(caller);
    const LibraryContext* seen = nullptr;
    EXPECT_EQ(RunExport(-1, [&] { return seen = &CurrentContext(), 7; }), 7);
    EXPECT_EQ(seen, &Library());
    EXPECT_EQ(&CurrentContext(), &caller);
    EXPECT_EQ(RunExport(-1, []() -> int { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(RunExport(-2, []() -> int { throw 42; }), -2);
    EXPECT_EQ(&CurrentContext(), &caller);
}

TEST(ContextGuard, CurrentContextIsPerThread) {
    ContextGuard guard;
    ASSERT_EQ(LoadString(2009), "USER");

    // A second thread starts in the caller's context while this one holds the library's.
    const LibraryContext* seen = nullptr;
    std::string seenText = "unset";
    std::thread([&] {
        seen = &CurrentContext();
        seenText = std::string(LoadString(2009));
    }).join();
    EXPECT_NE(seen, &Library());
    EXPECT_EQ(seenText, "");

    // A guard held on another thread leaves this thread's context alone.
    LibraryContext other = Library();
    std::promise<void> held, release;
    std::thread holder([&] {
        ContextGuard otherGuard(other);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    EXPECT_EQ(&CurrentContext(), &Library());
    release.set_value();
    holder.join();
    EXPECT_EQ(&CurrentContext(), &Library());
}

TEST(LoadString, ReadsTheCurrentResourceSource) {
    EXPECT_EQ(LoadString(2009), "");  // the caller's context
    EXPECT_TRUE(LoadWideString(2012).empty());

    ContextGuard guard;
    for (const auto& [id, text] : {std::pair<uint32_t, const char16_t*>{2000, u"Properties"}, {2009, u"USER"},
                                   {2012, u"Nameless"}, {0, u""}, {2007, u""}, {2017, u""}, {0xFFFFFFFFu, u""}}) {
        EXPECT_EQ(LoadWideString(id), W(text)) << id;
        EXPECT_EQ(LoadString(id), platform::SystemCodePage().ToNarrow(W(text))) << id;
    }
}

// Own strings (registry names, the save prompt) never come from another resource source.
TEST(LoadOwnString, IgnoresTheCurrentResourceSource) {
    StringTable localized;
    localized.Set(2003, W(u"Software\\Elsewhere"), platform::SystemCodePage());
    localized.Set(2015, W(u"Speichern?"), platform::SystemCodePage());
    LibraryContext context = Library();
    context.resourceStrings = &localized;

    EXPECT_EQ(LoadOwnString(2015), "Do you want to save your changes?");  // caller's context
    ContextGuard guard(context);
    EXPECT_EQ(LoadString(2015), "Do you want to save your changes?");  // own: never localized
    EXPECT_EQ(LoadString(2009), "");
    EXPECT_EQ(LoadOwnString(2003), "Software\\Vantorin\\Connections");
    EXPECT_EQ(std::string(LoadOwnString(2009)) + std::string(LoadOwnString(2007)), "USER");
}

using test::LowByteCodePage;

TEST(StringTable, AddsReplacesAndReadsMissingIdsAsEmpty) {
    const LowByteCodePage codePage;
    StringTable table;
    EXPECT_FALSE(table.Contains(1));
    EXPECT_EQ(table.Narrow(1), "");

    table.Set(30, W(u"thirty"), codePage);
    table.Set(10, W(u"ten"), codePage);
    table.Set(20, W(u"twenty"), codePage);
    table.Set(10, W(u"TEN \u00E9\u20AC"), codePage);
    table.Set(5, W(u""), codePage);
    EXPECT_EQ(table.Narrow(10), "TEN \xE9?");
    EXPECT_EQ(table.Wide(10), W(u"TEN \u00E9\u20AC"));
    EXPECT_EQ(std::string(table.Narrow(20)) + std::string(table.Narrow(30)), "twentythirty");
    EXPECT_TRUE(table.Contains(5));
    for (uint32_t missing : {0u, 4u, 15u, 25u, 31u}) {
        EXPECT_FALSE(table.Contains(missing) || !table.Narrow(missing).empty() || !table.Wide(missing).empty()) << missing;
    }
}

}  // namespace
}  // namespace tavix
