// Text conversions and messages of the command-line tool.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "cli.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include "platform/codepage.h"
#endif

namespace cli {

#if defined(_WIN32)
namespace {

std::string FromWide(UINT codePage, const OLECHAR* text, size_t length) {
    if (length == 0) return {};
    const int count = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(codePage, 0, text, count, out.data(), bytes, nullptr, nullptr);
    return out;
}

WideString ToWide(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(codePage, 0, text.data(), count, nullptr, 0);
    WideString out(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0) MultiByteToWideChar(codePage, 0, text.data(), count, out.data(), chars);
    return out;
}

}  // namespace

WideString WideFromUtf8(const std::string& text) { return ToWide(CP_UTF8, text); }
std::string Utf8(const OLECHAR* text, size_t length) { return FromWide(CP_UTF8, text, length); }
std::string Narrow(const WideString& text) { return FromWide(CP_ACP, text.data(), text.size()); }
WideString WideFromNarrow(const std::string& text) { return ToWide(CP_ACP, text); }
#else
// The library's 8-bit text is UTF-8 here.
WideString WideFromUtf8(const std::string& text) { return tavix::platform::SystemCodePage().ToWide(text); }
std::string Utf8(const OLECHAR* text, size_t length) {
    return tavix::platform::SystemCodePage().ToNarrow(tavix::WStringView(text, length));
}
std::string Narrow(const WideString& text) { return Utf8(text); }
WideString WideFromNarrow(const std::string& text) { return WideFromUtf8(text); }
#endif

std::string Utf8(const WideString& text) { return Utf8(text.data(), text.size()); }
std::string Utf8(BSTR text) { return Utf8(text, SysStringLen(text)); }
#if defined(_WIN32)
std::string Utf8FromNarrow(const std::string& text) { return Utf8(WideFromNarrow(text)); }
#else
// The same encoding: bytes that are not UTF-8 stay as they are (Escaped shows them).
std::string Utf8FromNarrow(const std::string& text) { return text; }
#endif

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tavixconnect: %s\n", message.c_str());
    return status;
}

int UsageError(const std::string& message) {
    return Fail(kExitUsage, message + " (see 'tavixconnect --help')");
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

size_t PlainPrefix(std::string_view text) {
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int byte = 0x20; byte < 0x7F; ++byte) plain[static_cast<size_t>(byte)] = byte != '\\';
        return plain;
    }();
    size_t i = 0;
    while (i < text.size() && kPlain[static_cast<unsigned char>(text[i])]) ++i;
    return i;
}

std::string Escaped(std::string_view text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto hex = [](uint32_t value, int digits) {
        std::string digitsText(static_cast<size_t>(digits), '0');
        for (int i = digits - 1; i >= 0; --i, value >>= 4) digitsText[static_cast<size_t>(i)] = kHex[value & 0xF];
        return digitsText;
    };
    // Most text is printable ASCII without a backslash: as it is, up to the first byte that
    // is not.
    const size_t plain = PlainPrefix(text);
    out.append(text.substr(0, plain));
    if (plain == text.size()) return;
    out.reserve(out.size() + text.size() - plain + 8);
    for (size_t i = plain; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            switch (byte) {
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                case '\\': out += "\\\\"; break;
                default:
                    if (byte < 0x20 || byte == 0x7F) {
                        out += "\\x" + hex(byte, 2);
                    } else {
                        out.push_back(static_cast<char>(byte));
                    }
            }
            ++i;
            continue;
        }
        // A UTF-8 sequence: continuation bytes, no overlong form, no surrogate, at most U+10FFFF.
        const size_t length = byte >= 0xC2 && byte <= 0xDF ? 2 : byte >= 0xE0 && byte <= 0xEF ? 3
                              : byte >= 0xF0 && byte <= 0xF4 ? 4 : 0;
        uint32_t point = length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            point = point << 6 | (next & 0x3F);
        }
        valid = valid && !(length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) &&
                !(length == 4 && (point < 0x10000 || point > 0x10FFFF));
        if (!valid) {
            out += "\\x" + hex(byte, 2);
            ++i;
            continue;
        }
        // C1 controls, and the marks that reorder text on screen (embeddings, overrides and
        // isolates), are shown as escapes too.
        if (point <= 0x9F || (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069)) {
            out += "\\u" + hex(point, 4);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
}

}  // namespace cli
