// The connection names the store can hold: a name is one registry key, so it has 1 to 255
// bytes of 8-bit text (the store's encoding: the ANSI code page on Windows, UTF-8 elsewhere),
// no "\" (which would make nested keys) and no control character (which a .reg file and a
// terminal cannot carry faithfully). Names are refused where they enter: the exports, the
// dialogs, `set` and `import`.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavix::store {

inline constexpr size_t kMaxStoredName = 255;

// nullptr when the store can hold name, otherwise why not, as a phrase ("is empty", ...).
constexpr const char* StoredNameProblem(std::string_view name) noexcept {
    if (name.empty()) return "is empty";
    if (name.size() > kMaxStoredName) return "is longer than 255 bytes";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return "contains a control character";
        if (c == '\\') return "contains a \"\\\"";
    }
    return nullptr;
}

}  // namespace tavix::store
