#include "frame/string_table.h"

#include <algorithm>

namespace tavix {

StringTable::StringTable(std::span<const resources::StringEntry> entries,
                         const platform::CodePage& codePage) {
    texts_.reserve(entries.size());
    for (const auto& entry : entries) Set(entry.id, WideFromUtf16(entry.text), codePage);
}

void StringTable::Set(uint32_t id, WString wide, const platform::CodePage& codePage) {
    auto at = std::lower_bound(texts_.begin(), texts_.end(), id,
                               [](const Text& text, uint32_t key) { return text.id < key; });
    std::string narrow = codePage.ToNarrow(wide);
    if (at != texts_.end() && at->id == id) {
        at->wide = std::move(wide);
        at->narrow = std::move(narrow);
    } else {
        texts_.insert(at, Text{id, std::move(wide), std::move(narrow)});
    }
}

const StringTable::Text* StringTable::Find(uint32_t id) const noexcept {
    auto at = std::lower_bound(texts_.begin(), texts_.end(), id,
                               [](const Text& text, uint32_t key) { return text.id < key; });
    return at != texts_.end() && at->id == id ? &*at : nullptr;
}

std::string_view StringTable::Narrow(uint32_t id) const noexcept {
    const Text* text = Find(id);
    return text ? std::string_view{text->narrow} : std::string_view{};
}

WStringView StringTable::Wide(uint32_t id) const noexcept {
    const Text* text = Find(id);
    return text ? WStringView{text->wide} : WStringView{};
}

}  // namespace tavix
