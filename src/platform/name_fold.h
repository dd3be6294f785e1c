// The registry's comparison of key names, for 8-bit names.
//
// The registry compares names without regard to case: each UTF-16 code unit upper-cased with
// its case table. The fold of a name writes each upper-cased unit as UTF-8 writes a code point
// of that value (1 to 3 bytes), so that two names are one registry name exactly when their
// folds are equal, and folds compare byte by byte in the registry's enumeration order.
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace tavix::platform {

// Appends the fold of name (8-bit text of codePage) to out. A name of ASCII characters folds
// byte by byte without a conversion.
void AppendFold(std::string_view name, const CodePage& codePage, std::string& out);

inline std::string Fold(std::string_view name, const CodePage& codePage) {
    std::string out;
    AppendFold(name, codePage, out);
    return out;
}

}  // namespace tavix::platform
