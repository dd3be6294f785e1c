// Fuzzes the command-line tool's JSON strings: for any bytes, the output must be one JSON
// string that a strict reader accepts (no raw control character, only the escapes JSON has,
// well-formed UTF-8 throughout), and reading it back must give the input, with each byte that
// is not part of a well-formed UTF-8 sequence read as U+FFFD. The reader below is written from
// the JSON grammar, independently of the writer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli_json.h"

namespace {

// Appends a code point as UTF-8.
void PutUtf8(std::string& out, uint32_t point) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | point >> 6));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | point >> 12));
        out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | point >> 18));
        out.push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

// Decodes the UTF-8 sequence at text[i] (the strict rules of RFC 3629); 0 when there is none.
size_t Decode(std::string_view text, size_t i, uint32_t& point) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t min = 0;
    if (lead < 0x80) return point = lead, 1;
    if ((lead & 0xE0) == 0xC0) length = 2, point = lead & 0x1F, min = 0x80;
    else if ((lead & 0xF0) == 0xE0) length = 3, point = lead & 0x0F, min = 0x800;
    else if ((lead & 0xF8) == 0xF0) length = 4, point = lead & 0x07, min = 0x10000;
    else return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        point = point << 6 | (next & 0x3F);
    }
    if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

// The input as the writer promises to carry it: invalid bytes as U+FFFD.
std::string Expected(std::string_view input) {
    std::string out;
    for (size_t i = 0; i < input.size();) {
        uint32_t point = 0;
        const size_t length = Decode(input, i, point);
        if (length == 0) {
            PutUtf8(out, 0xFFFD);
            ++i;
        } else {
            out.append(input.substr(i, length));
            i += length;
        }
    }
    return out;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one JSON string that must fill json exactly; aborts on anything JSON does not allow.
std::string Read(std::string_view json) {
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    std::string out;
    for (size_t i = 1; i + 1 < json.size();) {
        uint32_t point = 0;
        const size_t length = Decode(json, i, point);
        if (length == 0 || point < 0x20 || point == '"') std::abort();  // raw control, stray quote
        if (point != '\\') {
            out.append(json.substr(i, length));
            i += length;
            continue;
        }
        if (i + 2 >= json.size()) std::abort();
        const char escape = json[i + 1];
        i += 2;
        switch (escape) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                if (i + 4 >= json.size()) std::abort();
                uint32_t unit = 0;
                for (int k = 0; k < 4; ++k) {
                    const int digit = Hex(json[i + static_cast<size_t>(k)]);
                    if (digit < 0) std::abort();
                    unit = unit << 4 | static_cast<uint32_t>(digit);
                }
                i += 4;
                // The writer escapes only characters of the Basic Multilingual Plane that are
                // not surrogates.
                if (unit >= 0xD800 && unit <= 0xDFFF) std::abort();
                PutUtf8(out, unit);
                break;
            }
            default: std::abort();
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string json = "prefix";
    cli::AppendJsonString(json, input);
    if (json.compare(0, 6, "prefix") != 0) std::abort();  // appends, never replaces
    const std::string_view written = std::string_view(json).substr(6);
    if (Read(written) != Expected(input)) std::abort();
    return 0;
}
