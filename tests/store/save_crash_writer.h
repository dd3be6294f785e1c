// What the save-crash tests of both systems share: a writer that saves generations of
// connections again and again and reports each one that landed, and the check of what the
// store holds afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "frame/context/library_context.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"

namespace tavix::save_crash {

inline std::string ConnectionString(int i, long generation) {
    return "cn_iptcp:host" + std::to_string(i) + "[1972]:G" + std::to_string(generation);
}

// Saves generations first, first + 1, ... without end of connections c0 ... c<connections - 1>,
// calling report("N") after generation N has landed. Exit status 1 once a save fails.
inline int WriteGenerations(int connections, long first, const std::function<bool(const std::string&)>& report) {
    ContextGuard guard;
    ConnectionTable table;
    for (long generation = first;; ++generation) {
        table.Clear();
        for (int i = 0; i < connections; ++i) {
            auto record = std::make_unique<ConnectionRecord>();
            const std::string name = "c" + std::to_string(i);
            record->Parse(name.c_str(), ConnectionString(i, generation).c_str(), CurrentParseDefaults());
            table.Add(std::move(record));
        }
        if (table.Save() != platform::kRegOk) return 1;  // the save did not land
        if (!report(std::to_string(generation))) return 1;
    }
}

// The last generation in a writer's reports ("N\n" lines), -1 for none.
inline long LastGeneration(const std::string& text) {
    long last = -1;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        last = std::stol(text.substr(start, end - start));
    }
    return last;
}

// The generation every stored connection carries; -1 when the store is empty, -2 when the
// connections disagree or are not all there, -3 when the store could not be read.
inline long StoredGeneration(int connections) {
    ContextGuard guard;
    ConnectionTable table;
    if (table.LoadAll() != platform::kRegOk) return -3;
    if (table.Empty()) return -1;
    if (table.Count() != static_cast<size_t>(connections)) return -2;
    const long generation = std::stol(table.Lookup("c0")->namespaceName.substr(1));
    for (int i = 0; i < connections; ++i) {
        const ConnectionRecord* record = table.Lookup(("c" + std::to_string(i)).c_str());
        if (record == nullptr || record->Format() != ConnectionString(i, generation)) return -2;
    }
    return generation;
}

}  // namespace tavix::save_crash
