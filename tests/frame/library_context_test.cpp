#include "frame/context/library_context.h"

#include <gtest/gtest.h>

#include "low_byte_code_page.h"

#include <new>
#include <stdexcept>
#include <thread>

#include "frame/app/call_frame.h"
#include "frame/context/string_table.h"
#include "platform/codepage.h"
#include "resources/resource.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

// Guards nest and restore on every way out, on their own thread only: another thread is in
// the caller's context meanwhile.
TEST(ContextGuard, NestsAndRestoresOnEveryWayOut) {
    const LibraryContext* callers = &CurrentContext();
    ASSERT_NE(callers, &Library());
    LibraryContext other = Library();
    {
        ContextGuard outer;
        EXPECT_EQ(&CurrentContext(), &Library());
        const LibraryContext* seen = nullptr;
        std::thread([&] { seen = &CurrentContext(); }).join();
        EXPECT_EQ(seen, callers);
        {
            ContextGuard inner(other);
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

TEST(LoadString, ReadsTheCurrentResourceSource) {
    EXPECT_EQ(LoadString(IDS_DEFAULT_NAMESPACE), "");  // the caller's context
    EXPECT_TRUE(LoadWideString(IDS_NAMELESS).empty());

    ContextGuard guard;
    constexpr uint32_t kGap = IDS_ICON_FILE_NAME_VALUE + 1, kPastTheEnd = IDS_SAVE_CAPTION + 1;
    for (const auto& [id, text] : {std::pair<uint32_t, const char16_t*>{IDS_PROPERTIES, u"Properties"},
                                   {IDS_DEFAULT_NAMESPACE, u"USER"}, {IDS_NAMELESS, u"Nameless"}, {0, u""},
                                   {kGap, u""}, {kPastTheEnd, u""}, {0xFFFFFFFFu, u""}}) {
        EXPECT_EQ(LoadWideString(id), W(text)) << id;
        EXPECT_EQ(LoadString(id), platform::SystemCodePage().ToNarrow(W(text))) << id;
    }
}

// Own strings (registry names, the save prompt) never come from another resource source.
TEST(LoadOwnString, IgnoresTheCurrentResourceSource) {
    StringTable localized;
    localized.Set(IDS_SAVE_PROMPT, W(u"Speichern?"), platform::SystemCodePage());
    LibraryContext context = Library();
    context.resourceStrings = &localized;

    EXPECT_EQ(LoadOwnString(IDS_SAVE_PROMPT), "Do you want to save your changes?");  // caller's context
    ContextGuard guard(context);
    EXPECT_EQ(LoadString(IDS_SAVE_PROMPT), "Do you want to save your changes?");  // own: never localized
    // LoadOwnString reads the library's table for strings of any source.
    const uint32_t gap = IDS_ICON_FILE_NAME_VALUE + 1;
    EXPECT_EQ(std::string(LoadOwnString(IDS_DEFAULT_NAMESPACE)) + std::string(LoadOwnString(gap)), "USER");
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
        EXPECT_EQ(table.Contains(missing) + table.Narrow(missing).size() + table.Wide(missing).size(), 0u) << missing;
    }
}

}  // namespace
}  // namespace tavix
