// tavixconnect: the command-line client of TavixConnect. It uses nothing but the library's
// exports, as any other client program would.
//
// Exit status: 0 done (or "yes"), 1 the answer is "no" or the input was not understood,
// 2 bad usage.
#include "TavixConnect.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#  include <io.h>
#else
#  include <clocale>
#  include <cuchar>
#endif

#ifndef TAVIX_PRODUCT_VERSION
#  define TAVIX_PRODUCT_VERSION "unknown"
#endif

namespace {

using WideString = std::basic_string<OLECHAR>;

constexpr int kExitOk = 0;
constexpr int kExitNo = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: tavixconnect COMMAND [ARGUMENTS]\n"
    "\n"
    "Connection strings (\"cn_iptcp:SERVER[PORT]\" with an optional \":NAMESPACE\"):\n"
    "  split CONNSTRING             print the server part and the namespace part\n"
    "  make SERVERPART [NAMESPACE]  join a server part and a namespace\n"
    "  equivalent A B               tell whether A and B address the same server,\n"
    "                               port and namespace (exit 0 yes, 1 no)\n"
    "\n"
    "  --help                       show this text\n"
    "  --version                    show the product version\n"
    "\n"
    "Exit status: 0 done, 1 the answer is no or the input was not understood, 2 bad usage.\n";

// Text of the command line, as the library reads it.
#if defined(_WIN32)
using ArgChar = wchar_t;
WideString ToWide(const ArgChar* arg) { return WideString(arg); }
#else
using ArgChar = char;
WideString ToWide(const ArgChar* arg) {
    WideString out;
    std::mbstate_t state{};
    const char* at = arg;
    const char* end = arg + std::strlen(arg);
    while (at < end) {
        char16_t unit;
        const size_t used = std::mbrtoc16(&unit, at, static_cast<size_t>(end - at), &state);
        if (used == static_cast<size_t>(-3)) {  // the second half of a surrogate pair
            out.push_back(unit);
            continue;
        }
        if (used == 0 || used > static_cast<size_t>(end - at)) {  // invalid: keep U+FFFD
            out.push_back(u'\uFFFD');
            ++at;
            state = std::mbstate_t{};
            continue;
        }
        out.push_back(unit);
        at += used;
    }
    return out;
}
#endif

std::string ToUtf8(const OLECHAR* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string ToUtf8(BSTR text) { return ToUtf8(text, SysStringLen(text)); }
std::string ToUtf8(const WideString& text) { return ToUtf8(text.data(), text.size()); }

// Owns a BSTR returned by the library.
struct Bstr {
    BSTR text = nullptr;
    Bstr() = default;
    explicit Bstr(BSTR value) : text(value) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text); }
};

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "tavixconnect: %s\n", message.c_str());
    return status;
}

int UsageError(const std::string& message) {
    return Fail(kExitUsage, message + " (see 'tavixconnect --help')");
}

int Split(const std::vector<WideString>& args) {
    Bstr server, space;
    if (!SplitConnectionString(args[0].c_str(), &server.text, &space.text)) {
        return Fail(kExitNo, "not a connection string: \"" + ToUtf8(args[0]) + "\"");
    }
    std::printf("server part:    %s\nnamespace part: %s\n", ToUtf8(server.text).c_str(),
                ToUtf8(space.text).c_str());
    return kExitOk;
}

int Make(const std::vector<WideString>& args) {
    Bstr joined(MakeConnectionString(args[0].c_str(), args.size() > 1 ? args[1].c_str() : nullptr));
    if (joined.text == nullptr) return Fail(kExitNo, "no connection string: the server part is empty");
    std::printf("%s\n", ToUtf8(joined.text).c_str());
    return kExitOk;
}

int Equivalent(const std::vector<WideString>& args) {
    const bool same = ConnectionStringsEquivalent(args[0].c_str(), args[1].c_str()) != 0;
    std::printf("%s\n", same ? "equivalent" : "not equivalent");
    return same ? kExitOk : kExitNo;
}

struct Command {
    std::string_view name;
    size_t minArgs;
    size_t maxArgs;
    std::string_view argsText;
    std::function<int(const std::vector<WideString>&)> run;
};

const Command kCommands[] = {
    {"split", 1, 1, "CONNSTRING", Split},
    {"make", 1, 2, "SERVERPART [NAMESPACE]", Make},
    {"equivalent", 2, 2, "A B", Equivalent},
};

std::string Narrow(const ArgChar* arg) {
#if defined(_WIN32)
    return ToUtf8(ToWide(arg));
#else
    return arg;
#endif
}

int Run(int argc, ArgChar** argv) {
    if (argc < 2) return UsageError("no command given");
    const std::string first = Narrow(argv[1]);
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("tavixconnect %s\n", TAVIX_PRODUCT_VERSION);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != first) continue;
        std::vector<WideString> args;
        for (int i = 2; i < argc; ++i) args.push_back(ToWide(argv[i]));
        if (args.size() < command.minArgs || args.size() > command.maxArgs) {
            return UsageError(std::string(command.name) + " takes " + std::string(command.argsText));
        }
        return command.run(args);
    }
    if (!first.empty() && first[0] == '-') return UsageError("unknown option '" + first + "'");
    return UsageError("unknown command '" + first + "'");
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
#else
int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    return Run(argc, argv);
}
#endif
