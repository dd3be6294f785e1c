// JSON for scripts: `list --json` and `show NAME --json`. The output is UTF-8 JSON that any
// parser reads, whatever a stored name holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// Appends text as a JSON string, quotes included. Text is UTF-8: a quote, a backslash and
// every control character (C0, DEL and C1) are escaped (\", \\, \n, \u001b, ...), as are the
// line and paragraph separators U+2028 and U+2029, which some JavaScript parsers refuse raw;
// each byte that is not part of a well-formed UTF-8 sequence becomes U+FFFD, so the result is
// always valid UTF-8.
void AppendJsonString(std::string& out, std::string_view utf8);

// One connection as `list --json` and `show --json` print it, on one line:
// {"name":...,"connectionString":...,"server":...,"port":...,"namespace":...,
//  "iconFile":... or null,"iconIndex":... or null,"default":true|false}
struct JsonConnection {
    std::string_view name;              // UTF-8
    std::string_view connectionString;  // UTF-8, as the library splits and joins it
    std::optional<std::string_view> iconFile;  // UTF-8
    int32_t iconIndex = 0;
    bool isDefault = false;
};
void AppendJsonConnection(std::string& out, const JsonConnection& connection);

// The parts of a connection string in the form the library joins it:
// "cn_iptcp:SERVER[PORT]" and, when there is one, ":NAMESPACE". False when it is not so.
bool SplitJoined(std::string_view joined, std::string_view& server, std::string_view& port,
                 std::string_view& space);

}  // namespace cli
