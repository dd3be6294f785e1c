// A string table in memory: every string by number, in wide form and in the process's 8-bit
// form, so that a lookup never converts or allocates.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context/wide.h"
#include "platform/codepage.h"
#include "platform/module.h"

namespace tavix {

class StringTable {
public:
    struct Text {
        uint32_t id;
        WString wide;
        std::string narrow;
    };

    StringTable() = default;

    // The strings first..last of a module's string resources (RT_STRING blocks); a string the
    // module does not have, or has empty, is left out.
    static StringTable FromModule(platform::ModuleHandle module, uint32_t first, uint32_t last,
                                  const platform::CodePage& codePage);

    // Adds or replaces one string.
    void Set(uint32_t id, WString wide, const platform::CodePage& codePage);

    // The text of a string; a string the table does not hold reads as empty, as a failed
    // resource load leaves an empty string.
    std::string_view Narrow(uint32_t id) const noexcept;
    WStringView Wide(uint32_t id) const noexcept;
    bool Contains(uint32_t id) const noexcept { return Find(id) != nullptr; }

private:
    // Ids spread over at most this many numbers are looked up by direct index.
    static constexpr size_t kMaxIndexedSpan = 256;
    static constexpr uint32_t kNoText = UINT32_MAX;

    const Text* Find(uint32_t id) const noexcept;
    void BuildIndex();

    std::vector<Text> texts_;  // sorted by id
    // When the ids of texts_ span at most kMaxIndexedSpan numbers (a table of resource
    // strings, numbered closely), slots_[id - firstId_] is the position of id in texts_, or
    // kNoText; otherwise slots_ is empty and lookups search texts_.
    uint32_t firstId_ = 0;
    std::vector<uint32_t> slots_;
};

}  // namespace tavix
