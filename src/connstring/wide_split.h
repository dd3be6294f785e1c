// The wide-string connection-string parser of the exported string functions. Unlike the 8-bit
// parser of ConnectionRecord it accepts no name in front of the protocol (only quoted
// sections, which it skips unread), treats every ASCII white-space character as a blank and
// supplies no default namespace. It reads no resources: the caller hands it the default
// namespace where one takes part.
//
// Each function comes in two forms with the same rules: one for a view of known length (a zero
// character inside it is an ordinary character), and one for a zero-terminated string as the
// exports receive it, which is read once, up to its terminator and never past it, without
// measuring it first. A null pointer reads as an empty string.
#pragma once

#include "frame/context/wide.h"

namespace tavix {

struct WideSplit {
    WStringView serverPart;     // "cn_iptcp:SERVER[PORT]" as written, a view into the input
    WStringView namespacePart;  // the rest after the optional colon; empty when none
};

// Splits text without allocating; the parts are views into text.
bool SplitWide(WStringView text, WideSplit& parts) noexcept;
bool SplitWide(const WChar* text, WideSplit& parts) noexcept;

// Whether two connection strings address the same server part and namespace (null reads as
// empty); an empty namespace and defaultNamespace (when not empty) count as one.
bool WideStringsEquivalent(WStringView first, WStringView second, WStringView defaultNamespace) noexcept;
bool WideStringsEquivalent(const WChar* first, const WChar* second,
                           WStringView defaultNamespace) noexcept;

}  // namespace tavix
