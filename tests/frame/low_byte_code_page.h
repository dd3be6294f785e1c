// A code page for tests: narrows every character to its low byte ('?' above 0xFF) and widens
// byte by byte, so that a test can tell which code page a conversion went through; given lead
// bytes, it is a double-byte code page.
#pragma once

#include <bitset>
#include <string>

#include "platform/codepage.h"

namespace tavix::test {

class LowByteCodePage final : public platform::CodePage {
public:
    explicit LowByteCodePage(const std::bitset<256>* leadBytes = nullptr) : leadBytes_(leadBytes) {}
    std::string ToNarrow(WStringView text) const override {
        std::string out;
        for (WChar c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        return out;
    }
    WString ToWide(std::string_view text) const override {
        WString out;
        for (char c : text) out.push_back(static_cast<unsigned char>(c));
        return out;
    }
    const std::bitset<256>* LeadBytes() const override { return leadBytes_; }

private:
    const std::bitset<256>* leadBytes_;
};

}  // namespace tavix::test
