// The import side of .reg files: the file's bytes read into the changes it asks for, checked
// against the rules, before anything touches the store (see reg_file.h for the format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/reg_file.h"

namespace tavix::store::regfile {

struct Change {
    enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind = kCreateKey;
    size_t line = 0;   // 1-based line of the file it comes from
    std::string path;  // key below the hive's root ("" for the root itself)
    std::string name;  // value name ("" for the default value)
    uint32_t type = 0;
    std::string data;
};

struct ParseError {
    size_t line;  // 1-based
    std::string what;
};

// Fills changes with what the file asks for, in the file's order, or returns the first
// problem: a missing header, a line that does not parse or breaks the rules, truncated
// UTF-16 text. On a problem, changes holds no meaning.
std::optional<ParseError> ParseRegFile(std::string_view fileBytes, const RegFileRules& rules,
                                       std::vector<Change>& changes);

}  // namespace tavix::store::regfile
