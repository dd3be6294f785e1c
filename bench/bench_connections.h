// The connections the store benchmarks save, load and look up: "conn00042" at
// "cn_iptcp:host42[1972]:NS42", and so on.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "connstring/connection_record.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"

namespace tavix::bench {

inline std::string ConnectionName(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "conn%05d", i);
    return text;
}

inline std::string ConnectionString(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "cn_iptcp:host%d[1972]:NS%d", i, i);
    return text;
}

// Adds connections 0 to count - 1 (the first becomes the default). The library's context
// must be current.
inline bool FillTable(ConnectionTable& table, int count) {
    for (int i = 0; i < count; ++i) {
        auto record = std::make_unique<ConnectionRecord>();
        if (!record->Parse(ConnectionName(i).c_str(), ConnectionString(i).c_str(), tavix::CurrentParseDefaults())) return false;
        table.Add(std::move(record));
    }
    return table.Count() == static_cast<size_t>(count);
}

}  // namespace tavix::bench
