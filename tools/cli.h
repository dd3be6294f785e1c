// Shared pieces of the tavixconnect command-line tool.
#pragma once

#include "TavixConnect.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

using WideString = std::basic_string<OLECHAR>;

constexpr int kExitOk = 0;
constexpr int kExitNo = 1;     // the answer is "no", or the input was not understood
constexpr int kExitUsage = 2;  // bad usage
constexpr int kExitNoWindowSystem = 3;  // a dialog cannot be shown here
// The store failed: locked by another process, no space left, an I/O error, unusable, or
// not accessible. Nothing was changed.
constexpr int kExitStore = 4;

// A command's arguments: the positional ones in order, and the options given.
struct Args {
    std::vector<WideString> positional;
    std::map<std::string, WideString> options;  // a flag maps to an empty value

    bool Has(const std::string& option) const { return options.count(option) != 0; }
    const OLECHAR* Positional(size_t i) const {
        return i < positional.size() ? positional[i].c_str() : nullptr;
    }
};

// Text conversions: UTF-8 for what the tool prints; the library's 8-bit text (the ANSI code
// page on Windows, UTF-8 elsewhere) for registry names and values.
WideString WideFromUtf8(const std::string& text);
std::string Utf8(const OLECHAR* text, size_t length);
std::string Utf8(const WideString& text);
std::string Utf8(BSTR text);
std::string Narrow(const WideString& text);
WideString WideFromNarrow(const std::string& text);
std::string Utf8FromNarrow(const std::string& text);

// Owns a BSTR returned by the library.
struct Bstr {
    BSTR text = nullptr;
    Bstr() = default;
    explicit Bstr(BSTR value) : text(value) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text); }
};

// Prints "tavixconnect: MESSAGE" on standard error and returns status.
int Fail(int status, const std::string& message);
int UsageError(const std::string& message);

// Writes text to standard output as it is (no conversion).
void Print(const std::string& text);

// UTF-8 text made safe for a terminal, one line: control characters (C0, DEL and C1) as \n,
// \r, \t, \xHH or \u00HH, a backslash as \\, and a byte that is not UTF-8 as \xHH. Every
// name and string the tool echoes from the store or the command line goes through it.
std::string Escaped(std::string_view utf8);
void AppendEscaped(std::string& out, std::string_view utf8);
// How many bytes at the start of text are printable ASCII other than a backslash: text that
// Escaped leaves as it is, in every code page.
size_t PlainPrefix(std::string_view text);

// Commands.
int Split(const Args& args);
int Make(const Args& args);
int Equivalent(const Args& args);
int List(const Args& args);
int Rename(const Args& args);
int Copy(const Args& args);
int Show(const Args& args);
int Name(const Args& args);
int Set(const Args& args);
int Delete(const Args& args);
int Default(const Args& args);
int Export(const Args& args);
int Import(const Args& args);
int Where(const Args& args);
int Dialog(const Args& args);

}  // namespace cli
