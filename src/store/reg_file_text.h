// What the .reg file writer and parser share: the file's text and the registry's 8-bit text,
// names as messages show them, and which value types hold text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tavix::store::regfile {

inline constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
inline constexpr std::u16string_view kHeader4 = u"REGEDIT4";

// ASCII reads as the same characters in every code page the registry's 8-bit text comes in.
bool IsAscii(std::string_view text);

// 8-bit text of the system code page as UTF-16, and back.
std::u16string ToUtf16(std::string_view narrow);
std::string ToNarrow(std::u16string_view text);

// 8-bit text with its control characters written as escapes (\n, \r, \t, \xHH), so that a
// message naming a hostile key stays one line and prints nothing raw.
std::string Escaped(std::string_view text);

// The full name of a key below the hive's root ("" is the root itself).
std::string KeyName(const std::string& path);

// The value types whose data is text: a version 5 file carries them as UTF-16LE, the store
// as 8-bit text.
constexpr bool HoldsText(uint32_t type) {
    return type == platform::kRegSz || type == platform::kRegExpandSz || type == platform::kRegMultiSz;
}

}  // namespace tavix::store::regfile
