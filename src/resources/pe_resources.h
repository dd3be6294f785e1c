// The resource directory of a PE file (.exe, .dll, .ocx; 32- and 64-bit), read as data.
//
// Every offset, size and count is checked against the file before it is used; a directory
// tree that points at itself or repeats huge entry counts is given up on after a fixed number
// of entries. The icon reader and the resource reader both walk resources through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavix::resources {

// Random access to the bytes of a file or of a buffer.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly size bytes at offset into out; false when they are not all there.
    virtual bool Read(uint64_t offset, void* out, size_t size) const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint64_t offset, void* out, size_t size) const override;

private:
    std::span<const uint8_t> bytes_;
};

// Where some data lies in a file.
struct Extent {
    uint64_t offset = 0;
    uint32_t size = 0;
};

// A resource directory entry: a numeric id or a name, and where it points (a subdirectory or a
// data entry, relative to the start of the resource directory).
struct ResourceEntry {
    bool named;
    uint32_t id;
    bool subdirectory;
    uint32_t target;
};

class PeResources {
public:
    // The largest resource whose data is handed out.
    static constexpr uint32_t kMaxResourceBytes = 8u << 20;

    // nullopt: not a PE file that can be read (a damaged one, or another executable format).
    // A PE file without resources is fine. The file must outlive the result.
    static std::optional<PeResources> Open(const ByteSource& file);

    // Whether the file data of every section lies within the file, as a loader needs it.
    bool SectionsInFile() const;

    // The entries of the directory at offset (relative to the resource directory): named ones
    // first, then those with ids, in stored order. Entries outside the file are left out.
    std::vector<ResourceEntry> Directory(uint32_t offset) const;

    // The data of a resource: the first language in a name's subdirectory, or the language
    // `language` when the subdirectory has it. languageFound receives the language used.
    std::optional<Extent> Language(const ResourceEntry& name,
                                   std::optional<uint32_t> language = std::nullopt,
                                   uint32_t* languageFound = nullptr) const;

    // The subdirectory of names of a resource type with a numeric id; empty when there is none.
    std::vector<ResourceEntry> TypeNames(uint32_t type) const;

    bool HasResources() const { return resourceRva_ != 0; }
    const ByteSource& file() const { return *file_; }

private:
    struct Section {
        uint32_t virtualAddress;
        uint32_t rawSize;
        uint32_t rawOffset;
    };
    // Where rva lies in the file, and how many bytes of its section's file data follow it.
    struct Span {
        uint64_t offset;
        uint64_t available;
    };
    std::optional<Span> FileSpan(uint64_t rva) const;

    // The file extent of the data entry at offset (relative to the resource directory).
    std::optional<Extent> Data(uint32_t offset) const;

    const ByteSource* file_ = nullptr;
    std::vector<Section> sections_;
    uint32_t resourceRva_ = 0;
    // Directory entries that may still be read: a file whose directories point at each other
    // or repeat huge entry counts is given up on rather than read without end.
    mutable uint64_t entryBudget_ = kDirectoryEntryBudget;

    // Windows has long loaded at most this many sections; later ones are not looked at.
    static constexpr uint16_t kMaxSections = 96;
    static constexpr uint64_t kDirectoryEntryBudget = uint64_t{1} << 20;
};

}  // namespace tavix::resources
