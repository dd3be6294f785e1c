// The product version of an ELF program or library: the note that TAVIXCONNECT_PRODUCT_VERSION
// of TavixConnect.h defines (owner "TavixConnect", type 1, the version text as its descriptor),
// found in the file's PT_NOTE segments by reading its headers as data, never by loading it.
//
// Every size and offset is checked against what was read: a file cut short, a note whose sizes
// run past its segment, or a segment of an alignment notes do not have gives no version rather
// than a wrong one. Both ELF classes and both byte orders are read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavix::platform::elf {

inline constexpr std::string_view kNoteOwner = "TavixConnect";
inline constexpr uint32_t kProductVersionNoteType = 1;

// The most read of the program headers and of one note segment; a file that needs more (a
// note segment is a few dozen bytes in practice) has no version as far as this reader goes.
inline constexpr uint64_t kMaxHeaderBytes = 64 << 10;

// Fills out with the file's bytes at offset; false when they cannot all be read.
using ReadAt = std::function<bool(uint64_t offset, std::span<uint8_t> out)>;

// Whether bytes begin with the ELF magic number.
bool IsElf(std::span<const uint8_t> start);

// The version text of the first product-version note among the notes of one segment, laid
// out with the given alignment (4 or 8): the descriptor up to its first zero. nullopt when no
// note of that owner and type is there before the notes end or stop making sense, or when its
// text is empty.
std::optional<std::string> VersionInNotes(std::span<const uint8_t> notes, uint64_t alignment, bool bigEndian);

// The product version of an ELF file read through read: the first one found in its PT_NOTE
// segments, in program-header order. nullopt when the file is not ELF, is malformed, or has
// none.
std::optional<std::string> ProductVersion(const ReadAt& read);

// The same for a file wholly in memory.
std::optional<std::string> ProductVersion(std::span<const uint8_t> file);

// The same for a file by its path: read with pread, a few headers only. isElf tells whether
// the file is an ELF file at all (false too when it cannot be opened).
struct FileVersion {
    bool isElf = false;
    std::optional<std::string> version;
};
FileVersion ReadProductVersion(const std::string& path);

}  // namespace tavix::platform::elf
