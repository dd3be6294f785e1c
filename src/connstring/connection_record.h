// One named connection: its name, the three parts of its connection string, and its icon. A
// record holds connection data only; how a view shows it (its row, its image) is the view's.
//
// A connection string is "cn_iptcp:SERVER[PORT]" optionally followed by ":NAMESPACE"; a name
// may stand in front, quoted or followed by a colon. All text here is 8-bit text of the
// process's code page; searches never match the second byte of a two-byte character.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/context/boundary.h"

namespace tavix {

inline constexpr std::string_view kProtocolTag = "cn_iptcp";
inline constexpr std::string_view kDefaultConnectionString = "cn_iptcp:127.0.0.1[1972]";

// What the 8-bit parser supplies where a connection string leaves something out, and how it
// reads two-byte characters. The parser reads no resources: its callers fill this from the
// resource source and code page they run in (store/record_defaults.h).
struct ParseDefaults {
    std::string_view defaultNamespace;            // an empty namespace becomes this
    std::string_view nameless;                    // the name of a connection given none
    const std::bitset<256>* leadBytes = nullptr;  // lead bytes of two-byte characters; null: none
};

class ConnectionRecord {
public:
    UniqueBstr iconFilename;  // file the icon comes from, or null
    int32_t iconIndex = -1;   // icon inside iconFilename; extracted only when 0 or more
    int32_t keyNumber = -1;   // N of a legacy "_VRConnN" registry key, -1 otherwise
    std::string name;
    std::string server;
    std::string port;
    std::string namespaceName;

    // Fills name, server, port and namespaceName from a name and a connection string (either
    // may be null). Returns false and leaves the record exactly as it was when the connection
    // string is not understood. A connection without a name is named defaults.nameless, an
    // empty namespace becomes defaults.defaultNamespace.
    bool Parse(const char* nameArg, const char* connString, const ParseDefaults& defaults);

    // The connection string of the record: "cn_iptcp:SERVER[PORT]:NAMESPACE", or without
    // ":NAMESPACE" when the namespace is empty. The parts are inserted verbatim.
    void Format(std::string& out) const;
    std::string Format() const;

    // Equal name, server, port and namespaceName, byte for byte (an empty namespace and the
    // default namespace differ here). The icon takes no part: it does not say where a connection goes.
    bool Equals(const ConnectionRecord& other) const noexcept;

    // Same server and port, and the same namespace, where an empty namespace and
    // defaultNamespace count as the same.
    bool SameTarget(const ConnectionRecord& other, std::string_view defaultNamespace) const noexcept;
};

// True when segment equals the first segment.size() characters of "cn_iptcp".
template <typename Char>
bool IsProtocolPrefix(std::basic_string_view<Char> segment) noexcept {
    if (segment.size() > kProtocolTag.size()) return false;
    for (size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != static_cast<Char>(kProtocolTag[i])) return false;
    }
    return true;
}

}  // namespace tavix
