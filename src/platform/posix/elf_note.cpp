#include "platform/posix/elf_note.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tavix::platform::elf {

namespace {

constexpr uint8_t kMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kClass32 = 1, kClass64 = 2;
constexpr uint8_t kLittleEndian = 1, kBigEndian = 2;
constexpr uint32_t kPtNote = 4;

// Unsigned integers of the file's byte order, at offsets the caller has checked.
struct Reader {
    std::span<const uint8_t> bytes;
    bool bigEndian = false;

    uint64_t Read(size_t offset, size_t size) const {
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) {
            const uint8_t byte = bytes[offset + (bigEndian ? i : size - 1 - i)];
            value = value << 8 | byte;
        }
        return value;
    }
    uint32_t U32(size_t offset) const { return static_cast<uint32_t>(Read(offset, 4)); }
};

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Where the fields of the ELF header and of a program header lie, by class.
struct Layout {
    size_t headerSize, phoff, phoffSize, phentsize, phnum;
    size_t phdrSize, pType, pOffset, pFilesz, pAlign, wordSize;
};
constexpr Layout kLayout32{52, 28, 4, 42, 44, 32, 0, 4, 16, 28, 4};
constexpr Layout kLayout64{64, 32, 8, 54, 56, 56, 0, 8, 32, 48, 8};

}  // namespace

bool IsElf(std::span<const uint8_t> start) {
    return start.size() >= sizeof kMagic && std::memcmp(start.data(), kMagic, sizeof kMagic) == 0;
}

std::optional<std::string> VersionInNotes(std::span<const uint8_t> notes, uint64_t alignment, bool bigEndian) {
    if (alignment != 4 && alignment != 8) return std::nullopt;
    const Reader reader{notes, bigEndian};
    uint64_t at = 0;
    while (notes.size() - at >= 12) {
        const uint64_t nameSize = reader.U32(at), descSize = reader.U32(at + 4);
        const uint32_t type = reader.U32(at + 8);
        const uint64_t name = at + 12;
        const uint64_t desc = AlignUp(name + nameSize, alignment);
        const uint64_t next = AlignUp(desc + descSize, alignment);
        // A note whose name or descriptor runs past the segment ends the notes (the padding
        // after the last descriptor may be missing).
        if (desc > notes.size() || desc + descSize > notes.size()) return std::nullopt;
        const auto owner = notes.subspan(name, nameSize);
        // The owner's name has its terminating zero (namesz counts it).
        const bool ours = type == kProductVersionNoteType && nameSize == kNoteOwner.size() + 1 &&
                          std::memcmp(owner.data(), kNoteOwner.data(), kNoteOwner.size()) == 0 &&
                          owner[kNoteOwner.size()] == 0;
        if (ours) {
            const auto text = notes.subspan(desc, descSize);
            const auto* data = reinterpret_cast<const char*>(text.data());
            const std::string version(data, strnlen(data, text.size()));
            if (version.empty()) return std::nullopt;
            return version;
        }
        if (next >= notes.size()) break;
        at = next;
    }
    return std::nullopt;
}

std::optional<std::string> ProductVersion(const ReadAt& read) {
    uint8_t header[64] = {};
    if (!read(0, std::span(header, 16)) || !IsElf(header)) return std::nullopt;
    const uint8_t elfClass = header[4], byteOrder = header[5];
    if ((elfClass != kClass32 && elfClass != kClass64) ||
        (byteOrder != kLittleEndian && byteOrder != kBigEndian)) {
        return std::nullopt;
    }
    const Layout& layout = elfClass == kClass64 ? kLayout64 : kLayout32;
    if (!read(0, std::span(header, layout.headerSize))) return std::nullopt;
    const Reader ehdr{std::span<const uint8_t>(header, layout.headerSize), byteOrder == kBigEndian};
    const uint64_t phoff = ehdr.Read(layout.phoff, layout.phoffSize);
    const uint64_t phentsize = ehdr.Read(layout.phentsize, 2), phnum = ehdr.Read(layout.phnum, 2);
    if (phnum == 0 || phentsize < layout.phdrSize || phentsize * phnum > kMaxHeaderBytes) return std::nullopt;

    std::vector<uint8_t> table(phentsize * phnum);
    if (!read(phoff, table)) return std::nullopt;
    const Reader phdrs{table, ehdr.bigEndian};
    std::vector<uint8_t> notes;
    for (uint64_t i = 0; i < phnum; ++i) {
        const size_t at = i * phentsize;
        if (phdrs.U32(at + layout.pType) != kPtNote) continue;
        const uint64_t offset = phdrs.Read(at + layout.pOffset, layout.wordSize);
        const uint64_t size = phdrs.Read(at + layout.pFilesz, layout.wordSize);
        uint64_t alignment = phdrs.Read(at + layout.pAlign, layout.wordSize);
        // Notes are laid out on 4 bytes (an alignment below that says the same) or on 8.
        if (alignment < 4) alignment = 4;
        if (size == 0 || size > kMaxHeaderBytes) continue;
        notes.resize(size);
        if (!read(offset, notes)) continue;
        if (auto version = VersionInNotes(notes, alignment, ehdr.bigEndian)) return version;
    }
    return std::nullopt;
}

std::optional<std::string> ProductVersion(std::span<const uint8_t> file) {
    return ProductVersion([file](uint64_t offset, std::span<uint8_t> out) {
        if (offset > file.size() || out.size() > file.size() - offset) return false;
        std::memcpy(out.data(), file.data() + offset, out.size());
        return true;
    });
}

FileVersion ReadProductVersion(const std::string& path) {
    FileVersion result;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return result;
    const ReadAt read = [fd](uint64_t offset, std::span<uint8_t> out) {
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    };
    uint8_t magic[sizeof kMagic];
    result.isElf = read(0, magic) && IsElf(magic);
    if (result.isElf) result.version = ProductVersion(read);
    close(fd);
    return result;
}

}  // namespace tavix::platform::elf
