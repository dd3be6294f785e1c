// The registry's case table: how it upper-cases the UTF-16 code units of key and value names
// to compare them. Portable code, the same on every platform.
#pragma once

#include <string>
#include <string_view>

namespace tavix::platform {

// The upper-case form of one UTF-16 code unit, as the Windows registry folds names (the
// simple mappings of its case table; surrogates and caseless units map to themselves).
char16_t UpcaseCodeUnit(char16_t unit);

// The name with each code unit upper-cased: two names are one registry name exactly when
// their folds are equal.
std::u16string FoldName(std::u16string_view name);

}  // namespace tavix::platform
