#include "resources/resource_reader.h"

#include <algorithm>

#include "resources/pe_resources.h"

namespace tavix::resources {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr uint64_t Align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

// A type or name field of a .res record header: 0xFFFF and an ordinal, or a zero-terminated
// UTF-16 name. Advances at; nullopt when the field runs past end.
struct NameOrId {
    bool isId = false;
    uint16_t id = 0;
};
std::optional<NameOrId> ReadNameOrId(std::span<const uint8_t> bytes, uint64_t& at, uint64_t end) {
    if (at + 2 > end) return std::nullopt;
    if (Le16(&bytes[at]) == 0xFFFF) {
        if (at + 4 > end) return std::nullopt;
        NameOrId field{true, Le16(&bytes[at + 2])};
        at += 4;
        return field;
    }
    for (; at + 2 <= end; at += 2) {
        if (Le16(&bytes[at]) == 0) {
            at += 2;
            return NameOrId{};
        }
    }
    return std::nullopt;
}

bool KeyEquals(std::u16string_view key, std::u16string_view wanted) {
    if (key.size() != wanted.size()) return false;
    const auto lower = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    for (size_t i = 0; i < key.size(); ++i) {
        if (lower(key[i]) != lower(wanted[i])) return false;
    }
    return true;
}

// One node of a version-information tree: its key, its value and where its children lie.
struct VersionNode {
    std::u16string key;
    uint64_t valueOffset = 0;
    uint64_t valueSize = 0;  // bytes, clamped to the node
    bool text = false;
    uint64_t childrenOffset = 0;
    uint64_t end = 0;
};

// The node at offset, which must lie within [offset, limit); nullopt when its sizes do not fit.
std::optional<VersionNode> ReadVersionNode(std::span<const uint8_t> info, uint64_t offset,
                                           uint64_t limit) {
    constexpr uint64_t kHeader = 6;  // wLength, wValueLength, wType
    if (offset + kHeader > limit) return std::nullopt;
    const uint16_t length = Le16(&info[offset]);
    const uint16_t valueLength = Le16(&info[offset + 2]);
    const uint16_t type = Le16(&info[offset + 4]);
    if (length < kHeader || offset + length > limit) return std::nullopt;
    VersionNode node;
    node.end = offset + length;
    uint64_t at = offset + kHeader;
    for (;; at += 2) {
        if (at + 2 > node.end) return std::nullopt;  // the key must end within the node
        const char16_t c = Le16(&info[at]);
        if (c == 0) break;
        node.key.push_back(c);
    }
    node.valueOffset = std::min(Align4(at + 2), node.end);
    node.text = type == 1;
    // Text values count characters; some writers count bytes: either way no further than the
    // node's end.
    const uint64_t wanted = node.text ? uint64_t{valueLength} * 2 : valueLength;
    node.valueSize = std::min(wanted, node.end - node.valueOffset);
    node.childrenOffset = std::min(Align4(node.valueOffset + node.valueSize), node.end);
    return node;
}

}  // namespace

std::optional<ResourceSet> ResourceSet::FromRes(std::span<const uint8_t> bytes) {
    ResourceSet set;
    uint64_t at = 0;
    while (at < bytes.size()) {
        if (at + 8 > bytes.size()) return std::nullopt;
        const uint32_t dataSize = Le32(&bytes[at]);
        const uint32_t headerSize = Le32(&bytes[at + 4]);
        const uint64_t headerEnd = at + headerSize;
        const uint64_t dataEnd = headerEnd + dataSize;
        if (headerSize < 8 || dataEnd > bytes.size()) return std::nullopt;
        uint64_t field = at + 8;
        const auto type = ReadNameOrId(bytes, field, headerEnd);
        if (!type) return std::nullopt;
        const auto name = ReadNameOrId(bytes, field, headerEnd);
        if (!name) return std::nullopt;
        // DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
        field = Align4(field);
        if (field + 16 > headerEnd) return std::nullopt;
        const uint16_t language = Le16(&bytes[field + 6]);
        // The empty record that starts every file has type 0.
        if (type->isId && name->isId && type->id != 0) {
            set.entries_.push_back({type->id, name->id, language, bytes.subspan(headerEnd, dataSize)});
        }
        at = Align4(dataEnd);
    }
    return set;
}

std::optional<ResourceSet> ResourceSet::FromPe(std::span<const uint8_t> bytes) {
    const MemorySource file(bytes);
    const auto pe = PeResources::Open(file);
    if (!pe || !pe->SectionsInFile()) return std::nullopt;
    ResourceSet set;
    if (!pe->HasResources()) return set;
    for (const ResourceEntry& type : pe->Directory(0)) {
        if (type.named || !type.subdirectory || type.id > 0xFFFF) continue;
        for (const ResourceEntry& name : pe->Directory(type.target)) {
            if (name.named || !name.subdirectory || name.id > 0xFFFF) continue;
            for (const ResourceEntry& language : pe->Directory(name.target)) {
                if (language.named || language.subdirectory || language.id > 0xFFFF) continue;
                const auto extent = pe->Language(name, language.id);
                if (!extent) continue;
                set.entries_.push_back({static_cast<uint16_t>(type.id),
                                        static_cast<uint16_t>(name.id),
                                        static_cast<uint16_t>(language.id),
                                        bytes.subspan(extent->offset, extent->size)});
            }
        }
    }
    return set;
}

std::optional<std::span<const uint8_t>> ResourceSet::Find(uint16_t type, uint16_t id,
                                                           std::optional<uint16_t> language) const {
    const Entry* first = nullptr;
    for (const Entry& entry : entries_) {
        if (entry.type != type || entry.id != id) continue;
        if (!language || entry.language == *language) return entry.data;
        if (first == nullptr) first = &entry;
    }
    if (first == nullptr) return std::nullopt;
    return first->data;
}

std::optional<std::array<std::u16string, 16>> ReadStringBlock(std::span<const uint8_t> block) {
    std::array<std::u16string, 16> strings;
    uint64_t at = 0;
    for (std::u16string& text : strings) {
        if (at + 2 > block.size()) return std::nullopt;
        const uint16_t length = Le16(&block[at]);
        at += 2;
        if (at + uint64_t{length} * 2 > block.size()) return std::nullopt;
        text.resize(length);
        for (uint16_t i = 0; i < length; ++i, at += 2) text[i] = Le16(&block[at]);
    }
    return strings;
}

std::optional<std::u16string> QueryVersionString(std::span<const uint8_t> info,
                                                 std::span<const std::u16string_view> path) {
    auto node = ReadVersionNode(info, 0, info.size());
    if (!node) return std::nullopt;
    for (const std::u16string_view wanted : path) {
        std::optional<VersionNode> found;
        for (uint64_t at = node->childrenOffset; at < node->end;) {
            // Padding at the end of a node: fewer bytes than a header, or a zero length.
            if (node->end - at < 6 || Le16(&info[at]) == 0) break;
            auto child = ReadVersionNode(info, at, node->end);
            if (!child) return std::nullopt;
            at = Align4(child->end);
            if (KeyEquals(child->key, wanted)) {
                found = std::move(child);
                break;
            }
        }
        if (!found) return std::nullopt;
        node = std::move(found);
    }
    std::u16string value;
    if (node->text) {
        for (uint64_t at = node->valueOffset; at + 2 <= node->valueOffset + node->valueSize; at += 2) {
            const char16_t c = Le16(&info[at]);
            if (c == 0) break;
            value.push_back(c);
        }
    } else {
        // A binary value read as text: its bytes, up to the first zero.
        for (uint64_t at = node->valueOffset; at < node->valueOffset + node->valueSize; ++at) {
            if (info[at] == 0) break;
            value.push_back(info[at]);
        }
    }
    return value;
}

std::optional<std::u16string> ProductVersion(std::span<const uint8_t> info) {
    static constexpr std::u16string_view kPath[] = {u"StringFileInfo", u"040904B0", u"ProductVersion"};
    return QueryVersionString(info, kPath);
}

std::vector<uint8_t> IconFileFromResources(const ResourceSet& set, uint16_t id) {
    constexpr size_t kHeader = 6, kGroupEntry = 14, kFileEntry = 16;
    std::optional<uint16_t> language;
    std::span<const uint8_t> group;
    for (const auto& entry : set.Entries()) {
        if (entry.type == kRtGroupIcon && entry.id == id) {
            group = entry.data;
            language = entry.language;
            break;
        }
    }
    if (group.size() < kHeader) return {};
    const size_t count = std::min<size_t>(Le16(&group[4]), (group.size() - kHeader) / kGroupEntry);
    struct Image {
        const uint8_t* entry;
        std::span<const uint8_t> data;
    };
    std::vector<Image> images;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &group[kHeader + i * kGroupEntry];
        if (const auto data = set.Find(kRtIcon, Le16(entry + 12), language)) {
            images.push_back({entry, *data});
        }
    }
    if (images.empty()) return {};
    std::vector<uint8_t> file(kHeader + images.size() * kFileEntry);
    const auto put16 = [&](size_t at, uint16_t v) {
        file[at] = static_cast<uint8_t>(v);
        file[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put16(2, 1);  // an icon file
    put16(4, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const size_t at = kHeader + i * kFileEntry;
        std::copy(images[i].entry, images[i].entry + 8, file.begin() + static_cast<ptrdiff_t>(at));
        put32(at + 8, static_cast<uint32_t>(images[i].data.size()));
        put32(at + 12, static_cast<uint32_t>(file.size()));
        file.insert(file.end(), images[i].data.begin(), images[i].data.end());
    }
    return file;
}

}  // namespace tavix::resources
