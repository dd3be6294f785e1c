// 8-bit text is UTF-8 on POSIX.
#include "platform/codepage.h"

namespace tavix::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(WString& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<WChar>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<WChar>(0xD800 | (c >> 10)));
        out.push_back(static_cast<WChar>(0xDC00 | (c & 0x3FF)));
    }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one UTF-8 sequence at text[i]; on a malformed sequence returns U+FFFD and consumes
// the longest prefix that could have begun a valid sequence (at least one byte).
char32_t DecodeUtf8(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int length;
    char32_t c;
    char32_t min;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, min = 0x800;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, min = 0x10000;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        ++i;
        return kReplacement;
    }
    size_t k = i + 1;
    for (int n = 1; n < length; ++n, ++k) {
        if (k >= text.size()) break;
        const unsigned char b = byte(k);
        const unsigned char low = n == 1 ? lo : 0x80, high = n == 1 ? hi : 0xBF;
        if (b < low || b > high) break;
        c = (c << 6) | (b & 0x3F);
        if (n == length - 1) {
            i = k + 1;
            return c >= min ? c : kReplacement;
        }
    }
    i = k;
    return kReplacement;
}

class Utf8CodePage final : public CodePage {
public:
    std::string ToNarrow(WStringView text) const override {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
                c = kReplacement;
            }
            AppendUtf8(out, c);
        }
        return out;
    }

    WString ToWide(std::string_view text) const override {
        WString out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size();) AppendUtf16(out, DecodeUtf8(text, i));
        return out;
    }

    const std::bitset<256>* LeadBytes() const override { return nullptr; }
};

}  // namespace

const CodePage& SystemCodePage() {
    static const Utf8CodePage codePage;
    return codePage;
}

}  // namespace tavix::platform
