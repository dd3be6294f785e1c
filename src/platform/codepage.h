// The process's 8-bit text: the ANSI code page on Windows, UTF-8 elsewhere.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

#include "frame/context/wide.h"

namespace tavix::platform {

class CodePage {
public:
    virtual ~CodePage() = default;

    // Converts wide text to 8-bit text; characters the code page cannot hold become its
    // default character, and an unpaired surrogate becomes U+FFFD where the code page has it.
    virtual std::string ToNarrow(WStringView text) const = 0;

    // Converts 8-bit text to wide text; bytes that form no character become U+FFFD.
    virtual WString ToWide(std::string_view text) const = 0;

    // The bytes that begin a two-byte character, or null when the code page has none (every
    // single-byte code page, and UTF-8, whose continuation bytes never equal an ASCII byte).
    virtual const std::bitset<256>* LeadBytes() const = 0;
};

// The code page of this process, as the platform reports it.
const CodePage& SystemCodePage();

}  // namespace tavix::platform
