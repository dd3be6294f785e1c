#include "resources/pe_resources.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tavix::resources {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

template <size_t N>
bool ReadAt(const ByteSource& file, uint64_t offset, std::array<uint8_t, N>& out) {
    return file.Read(offset, out.data(), N);
}

}  // namespace

bool MemorySource::Read(uint64_t offset, void* out, size_t size) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    if (size != 0) std::memcpy(out, bytes_.data() + offset, size);
    return true;
}

std::optional<PeResources> PeResources::Open(const ByteSource& file) {
    std::array<uint8_t, 64> dos{};
    if (!ReadAt(file, 0, dos)) return std::nullopt;
    const uint64_t peOffset = Le32(&dos[0x3C]);
    std::array<uint8_t, 24> fileHeader{};  // signature and COFF header
    if (!ReadAt(file, peOffset, fileHeader)) return std::nullopt;
    if (std::memcmp(fileHeader.data(), "PE\0\0", 4) != 0) return std::nullopt;
    const uint16_t sectionCount = std::min(Le16(&fileHeader[6]), kMaxSections);
    const uint16_t optionalSize = Le16(&fileHeader[20]);
    const uint64_t optionalOffset = peOffset + fileHeader.size();

    std::array<uint8_t, 2> magic{};
    if (!ReadAt(file, optionalOffset, magic)) return std::nullopt;
    uint64_t countField;  // NumberOfRvaAndSizes, followed by the data directories
    switch (Le16(magic.data())) {
        case 0x10B: countField = 92; break;   // PE32
        case 0x20B: countField = 108; break;  // PE32+
        default: return std::nullopt;
    }
    PeResources pe;
    pe.file_ = &file;
    // The resource directory is data directory 2; a header too short for it means none.
    constexpr uint64_t kResourceDirectory = 2;
    const uint64_t directoryEnd = countField + 4 + (kResourceDirectory + 1) * 8;
    std::array<uint8_t, 4> countBytes{};
    if (optionalSize >= directoryEnd && ReadAt(file, optionalOffset + countField, countBytes) &&
        Le32(countBytes.data()) > kResourceDirectory) {
        std::array<uint8_t, 8> directory{};
        if (!ReadAt(file, optionalOffset + countField + 4 + kResourceDirectory * 8, directory)) {
            return std::nullopt;
        }
        pe.resourceRva_ = Le32(directory.data());
    }
    const uint64_t sectionTable = optionalOffset + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        std::array<uint8_t, 40> header{};
        if (!ReadAt(file, sectionTable + uint64_t{i} * header.size(), header)) {
            return std::nullopt;
        }
        pe.sections_.push_back({Le32(&header[12]), Le32(&header[16]), Le32(&header[20])});
    }
    return pe;
}

std::optional<PeResources::Span> PeResources::FileSpan(uint64_t rva) const {
    const uint64_t fileSize = file_->Size();
    for (const Section& s : sections_) {
        if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize) continue;
        const uint64_t offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
        if (offset >= fileSize) return std::nullopt;
        const uint64_t sectionLeft = uint64_t{s.rawSize} - (rva - s.virtualAddress);
        return Span{offset, std::min(sectionLeft, fileSize - offset)};
    }
    return std::nullopt;
}

std::vector<ResourceEntry> PeResources::Directory(uint32_t offset) const {
    std::vector<ResourceEntry> entries;
    const auto at = FileSpan(uint64_t{resourceRva_} + offset);
    std::array<uint8_t, 16> header{};
    if (!at || at->available < header.size() || !ReadAt(*file_, at->offset, header)) {
        return entries;
    }
    uint64_t count = uint64_t{Le16(&header[12])} + Le16(&header[14]);
    count = std::min(count, (at->available - header.size()) / 8);
    if (count > entryBudget_) {
        entryBudget_ = 0;
        return entries;
    }
    entryBudget_ -= count;
    std::vector<uint8_t> raw(count * 8);
    if (!file_->Read(at->offset + header.size(), raw.data(), raw.size())) return entries;
    entries.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t name = Le32(&raw[i * 8]);
        const uint32_t target = Le32(&raw[i * 8 + 4]);
        entries.push_back({(name & 0x80000000u) != 0, name & 0x7FFFFFFFu,
                           (target & 0x80000000u) != 0, target & 0x7FFFFFFFu});
    }
    return entries;
}

std::optional<Extent> PeResources::Data(uint32_t offset) const {
    std::array<uint8_t, 16> entry{};
    const auto at = FileSpan(uint64_t{resourceRva_} + offset);
    if (!at || at->available < entry.size() || !ReadAt(*file_, at->offset, entry)) {
        return std::nullopt;
    }
    const uint32_t size = Le32(&entry[4]);
    const auto data = FileSpan(Le32(&entry[0]));
    if (!data || size == 0 || size > data->available || size > kMaxResourceBytes) {
        return std::nullopt;
    }
    return Extent{data->offset, size};
}

std::optional<Extent> PeResources::Language(const ResourceEntry& name,
                                            std::optional<uint32_t> language,
                                            uint32_t* languageFound) const {
    if (!name.subdirectory) return std::nullopt;
    const std::vector<ResourceEntry> languages = Directory(name.target);
    const ResourceEntry* chosen = nullptr;
    for (const ResourceEntry& entry : languages) {
        if (entry.subdirectory) continue;
        if (chosen == nullptr) chosen = &entry;
        if (!language || (!entry.named && entry.id == *language)) {
            chosen = &entry;
            break;
        }
    }
    if (chosen == nullptr) return std::nullopt;
    if (languageFound != nullptr) *languageFound = chosen->id;
    return Data(chosen->target);
}

bool PeResources::SectionsInFile() const {
    const uint64_t fileSize = file_->Size();
    return std::all_of(sections_.begin(), sections_.end(), [fileSize](const Section& s) {
        return s.rawSize == 0 || uint64_t{s.rawOffset} + s.rawSize <= fileSize;
    });
}

std::vector<ResourceEntry> PeResources::TypeNames(uint32_t type) const {
    if (!HasResources()) return {};
    for (const ResourceEntry& entry : Directory(0)) {
        if (!entry.named && entry.id == type && entry.subdirectory) return Directory(entry.target);
    }
    return {};
}

}  // namespace tavix::resources
