// Text conversions and messages of the command-line tool.
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
std::string Utf8FromNarrow(const std::string& text) { return Utf8(WideFromNarrow(text)); }

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tavixconnect: %s\n", message.c_str());
    return status;
}

int UsageError(const std::string& message) {
    return Fail(kExitUsage, message + " (see 'tavixconnect --help')");
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace cli
