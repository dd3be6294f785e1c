#include "frame/context/library_context.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "frame/app/call_frame.h"
#include "platform/codepage.h"
#include "resources/resource.h"

namespace tavix {
namespace {

WString W(std::u16string_view text) { return WideFromUtf16(text); }

// An export's body runs in the library's context, on its own thread only; whatever it throws
// ends the call with the export's failure result, the caller's context back.
TEST(RunExport, RunsTheBodyInTheLibraryContextAndTurnsExceptionsIntoTheFailureResult) {
    LibraryContext caller = Library();
    ContextGuard guard(caller);
    const LibraryContext *seen = nullptr, *otherThread = nullptr;
    EXPECT_EQ(RunExport(-1, [&] {
        std::thread([&] { otherThread = &CurrentContext(); }).join();
        return seen = &CurrentContext(), 7;
    }), 7);
    EXPECT_EQ(seen, &Library());
    EXPECT_NE(otherThread, &Library());
    EXPECT_EQ(&CurrentContext(), &caller);
    EXPECT_EQ(RunExport(-1, []() -> int { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(RunExport(-2, []() -> int { throw 42; }), -2);
    EXPECT_EQ(&CurrentContext(), &caller);
}

// Strings come from the current context's table (none in the caller's); ids the table lacks,
// below, between and past its strings, read as empty.
TEST(LoadString, ReadsTheCurrentResourceSource) {
    EXPECT_EQ(LoadString(IDS_NAMELESS), "");  // the caller's context

    ContextGuard guard;
    constexpr uint32_t kGap = IDS_ICON_FILE_NAME_VALUE + 1, kPastTheEnd = IDS_SAVE_CAPTION + 1;
    for (const auto& [id, text] : {std::pair<uint32_t, const char16_t*>{IDS_NAMELESS, u"Nameless"}, {0, u""},
                                   {kGap, u""}, {kPastTheEnd, u""}}) {
        EXPECT_EQ(LoadWideString(id), W(text)) << id;
        EXPECT_EQ(LoadString(id), platform::SystemCodePage().ToNarrow(W(text))) << id;
    }
}

}  // namespace
}  // namespace tavix
