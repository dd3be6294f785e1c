// A registry tree as text, to compare what a store holds before and after an operation; an open
// key for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tavix::testing {

// Bytes as text, those outside printable ASCII as \xNN.
inline std::string Escape(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (const uint8_t byte : bytes) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        text += byte >= 0x20 && byte < 0x7F ? std::string(1, static_cast<char>(byte)) : hex;
    }
    return text;
}

// Each value below key as "path:name=type:bytes" (a key's values sorted by name, whatever order the
// backend enumerates them in), then each subkey as "path" followed by its tree; a failure as a line.
inline std::string Dump(platform::Registry& reg, platform::RegKey key = platform::kCurrentUser,
                        const std::string& path = "") {
    using namespace platform;
    std::vector<std::string> values;
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    long rc;
    for (uint32_t i = 0; (rc = reg.EnumValue(key, i, name, &type, &data)) == kRegOk; ++i) {
        values.push_back(path + ":" + name + "=" + std::to_string(type) + ":" + Escape(data) + "\n");
    }
    std::sort(values.begin(), values.end());
    std::string out;
    for (const std::string& value : values) out += value;
    if (rc != kRegNoMoreItems) return out + "<values: " + std::to_string(rc) + ">\n";
    char child[512];
    for (uint32_t i = 0; (rc = reg.EnumKey(key, i, child, sizeof child)) == kRegOk; ++i) {
        const std::string childPath = path.empty() ? child : path + "\\" + child;
        RegKey opened = 0;
        if (const long open = reg.OpenKey(key, child, &opened); open != kRegOk) {
            return out + "<open " + childPath + ": " + std::to_string(open) + ">\n";
        }
        out += childPath + "\n" + Dump(reg, opened, childPath);
        reg.CloseKey(opened);
    }
    if (rc != kRegNoMoreItems) out += "<subkeys: " + std::to_string(rc) + ">\n";
    return out;
}

// An open registry key, closed at the end of its scope or when it is opened anew.
class Key {
public:
    explicit Key(platform::Registry& registry) : registry_(registry) {}
    ~Key() { Reset(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    platform::RegKey* Out() { return Reset(), &key_; }
    platform::RegKey get() const { return key_; }
    void Reset() {
        if (key_ != 0) registry_.CloseKey(key_);
        key_ = 0;
    }

private:
    platform::Registry& registry_;
    platform::RegKey key_ = 0;
};

}  // namespace tavix::testing
