// A save as the connection store makes one, for the tests that kill or race writers: in one
// batch, delete every subkey of "Connections", then write count subkeys, each with a default
// REG_SZ value and a REG_DWORD "Index" that carry the save's generation.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace tavix::platform::test {

inline bool SaveGeneration(Registry& registry, int count, uint32_t generation) {
    registry.BeginBatch();
    bool ok = true;
    RegKey connections = 0;
    ok = registry.CreateKey(kCurrentUser, "Connections", &connections) == kRegOk;
    char name[256];
    while (ok && registry.EnumKey(connections, 0, name, sizeof name) == kRegOk) {
        ok = registry.DeleteKey(connections, name) == kRegOk;
    }
    const std::string text = std::to_string(generation);
    for (int i = 0; ok && i < count; ++i) {
        RegKey key = 0;
        const std::string keyName = "Connection " + std::to_string(i);
        ok = registry.CreateKey(connections, keyName.c_str(), &key) == kRegOk &&
             registry.SetValue(key, nullptr, kRegSz, text.c_str(),
                               static_cast<uint32_t>(text.size() + 1)) == kRegOk &&
             registry.SetValue(key, "Index", kRegDword, &generation, 4) == kRegOk;
        if (key != 0) registry.CloseKey(key);
    }
    if (connections != 0) registry.CloseKey(connections);
    if (ok) {
        registry.CommitBatch();
    } else {
        registry.AbortBatch();
    }
    return ok;
}

// What a reader finds: how many subkeys, and whether they all carry one generation.
struct Saved {
    int count = 0;
    bool consistent = true;
    uint32_t generation = 0;
};

inline Saved ReadGeneration(Registry& registry) {
    Saved saved;
    RegKey connections = 0;
    if (registry.OpenKey(kCurrentUser, "Connections", &connections) != kRegOk) return saved;
    char name[256];
    for (uint32_t i = 0; registry.EnumKey(connections, i, name, sizeof name) == kRegOk; ++i) {
        RegKey key = 0;
        char text[32] = {};
        uint32_t textSize = sizeof text, number = 0, numberSize = 4;
        const bool read =
            registry.OpenKey(connections, name, &key) == kRegOk &&
            registry.QueryValue(key, nullptr, nullptr, text, &textSize) == kRegOk &&
            registry.QueryValue(key, "Index", nullptr, &number, &numberSize) == kRegOk;
        if (key != 0) registry.CloseKey(key);
        const bool agrees = read && std::to_string(number) == text &&
                            (saved.count == 0 || number == saved.generation);
        saved.consistent = saved.consistent && agrees;
        saved.generation = number;
        ++saved.count;
    }
    registry.CloseKey(connections);
    return saved;
}

}  // namespace tavix::platform::test
