// The narrow-string hash that orders the connection table.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavix {

// hash * 33 + byte over the name's bytes, each taken as a signed 8-bit value, in unsigned
// 32-bit arithmetic.
inline uint32_t HashKey(std::string_view key) noexcept {
    uint32_t hash = 0;
    for (char c : key) {
        hash = hash * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return hash;
}

}  // namespace tavix
