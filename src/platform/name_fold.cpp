#include "platform/name_fold.h"

#include "platform/case_table.h"

namespace tavix::platform {

void AppendFold(std::string_view name, const CodePage& codePage, std::string& out) {
    size_t ascii = 0;
    while (ascii < name.size() && static_cast<unsigned char>(name[ascii]) < 0x80) ++ascii;
    out.reserve(out.size() + name.size());
    for (size_t i = 0; i < ascii; ++i) {
        const char c = name[i];
        out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (ascii == name.size()) return;
    for (const auto wide : codePage.ToWide(name.substr(ascii))) {
        const auto unit = static_cast<uint32_t>(UpcaseCodeUnit(static_cast<char16_t>(wide)));
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
}

}  // namespace tavix::platform
