#include "frame/context/string_table.h"

#include <algorithm>

#include "resources/resource_reader.h"

namespace tavix {

StringTable StringTable::FromModule(platform::ModuleHandle module, uint32_t first, uint32_t last,
                                    const platform::CodePage& codePage) {
    StringTable table;
    if (first > last) return table;
    for (uint32_t block = first / 16; block <= last / 16; ++block) {
        const auto data = platform::FindResourceData(module, resources::kRtString,
                                                     resources::StringBlockId(block * 16));
        const auto strings = data ? resources::ReadStringBlock(*data) : std::nullopt;
        if (!strings) continue;
        for (uint32_t slot = 0; slot < 16; ++slot) {
            const uint32_t id = block * 16 + slot;
            if (id < first || id > last || (*strings)[slot].empty()) continue;
            table.Set(id, WideFromUtf16((*strings)[slot]), codePage);
        }
    }
    return table;
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
        BuildIndex();
    }
}

void StringTable::BuildIndex() {
    slots_.clear();
    if (texts_.empty()) return;
    firstId_ = texts_.front().id;
    const uint64_t span = uint64_t{texts_.back().id} - firstId_ + 1;
    if (span > kMaxIndexedSpan) return;
    slots_.assign(static_cast<size_t>(span), kNoText);
    for (size_t i = 0; i < texts_.size(); ++i) {
        slots_[texts_[i].id - firstId_] = static_cast<uint32_t>(i);
    }
}

const StringTable::Text* StringTable::Find(uint32_t id) const noexcept {
    if (!slots_.empty()) {
        // Every id of the table lies in the indexed range; below firstId_ the offset wraps
        // around to a large number and falls outside it as well.
        const uint32_t offset = id - firstId_;
        if (offset >= slots_.size() || slots_[offset] == kNoText) return nullptr;
        return &texts_[slots_[offset]];
    }
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
