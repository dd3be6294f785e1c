// Wide text as it crosses the library boundary: UTF-16 code units of the platform's OLECHAR.
#pragma once

#include <string>
#include <string_view>

namespace tavix {

#if defined(_WIN32)
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
static_assert(sizeof(WChar) == 2, "wide text is UTF-16");

using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

// Length of a zero-terminated wide string; 0 for null.
inline size_t WideLength(const WChar* text) noexcept {
    if (text == nullptr) return 0;
    const WChar* end = text;
    while (*end != 0) ++end;
    return static_cast<size_t>(end - text);
}

// A view of a zero-terminated wide string; empty for null.
inline WStringView WideView(const WChar* text) noexcept {
    return text == nullptr ? WStringView{} : WStringView{text, WideLength(text)};
}

// Wide text from a UTF-16 literal, whatever WChar is on this platform.
inline WString WideFromUtf16(std::u16string_view text) {
    return WString(text.begin(), text.end());
}

}  // namespace tavix
