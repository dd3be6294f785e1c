#include "store/reg_file_text.h"

#include <algorithm>

#include "platform/codepage.h"

namespace tavix::store::regfile {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::u16string ToUtf16(std::string_view narrow) {
    if (IsAscii(narrow)) return std::u16string(narrow.begin(), narrow.end());
    const WString wide = platform::SystemCodePage().ToWide(narrow);
    return std::u16string(wide.begin(), wide.end());
}

std::string ToNarrow(std::u16string_view text) {
    const WString wide(text.begin(), text.end());
    return platform::SystemCodePage().ToNarrow(wide);
}

std::string Escaped(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return out;
}

std::string KeyName(const std::string& path) {
    return path.empty() ? std::string("HKEY_CURRENT_USER") : "HKEY_CURRENT_USER\\" + path;
}

}  // namespace tavix::store::regfile
