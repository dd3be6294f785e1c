// The product-version note of ELF files: images made here, laid out as the linker lays out a
// program (header, program headers, note segments), read whole and cut short; and the notes
// the build puts into the library and the command-line tool.
#include "platform/posix/elf_note.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/module.h"

namespace tavix::platform::elf {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, size_t at, uint64_t value, size_t size, bool bigEndian) {
    if (out.size() < at + size) out.resize(at + size);
    for (size_t i = 0; i < size; ++i) {
        out[at + (bigEndian ? size - 1 - i : i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// One note, its name and descriptor padded to alignment; namesz counts the owner's zero
// unless nameSize says otherwise.
Bytes Note(std::string_view owner, uint32_t type, std::string_view desc, size_t alignment = 4,
           bool bigEndian = false, int64_t nameSize = -1) {
    Bytes out;
    Put(out, 0, nameSize >= 0 ? static_cast<uint64_t>(nameSize) : owner.size() + 1, 4, bigEndian);
    Put(out, 4, desc.size() + 1, 4, bigEndian);
    Put(out, 8, type, 4, bigEndian);
    out.insert(out.end(), owner.begin(), owner.end());
    out.resize((out.size() + 1 + alignment - 1) / alignment * alignment);
    out.insert(out.end(), desc.begin(), desc.end());
    out.resize((out.size() + 1 + alignment - 1) / alignment * alignment);
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Segment {
    uint32_t type = 4;  // PT_NOTE
    uint64_t alignment = 4;
    Bytes bytes;
};

// An ELF file: its header, the program headers, then each segment's bytes at 8-byte offsets.
Bytes Image(bool is64, bool bigEndian, const std::vector<Segment>& segments) {
    const size_t header = is64 ? 64 : 52, phdr = is64 ? 56 : 32, word = is64 ? 8 : 4;
    Bytes out = {0x7F, 'E', 'L', 'F', uint8_t(is64 ? 2 : 1), uint8_t(bigEndian ? 2 : 1), 1};  // class, data, version
    out.resize(header);
    Put(out, is64 ? 32 : 28, header, word, bigEndian);          // e_phoff
    Put(out, is64 ? 54 : 42, phdr, 2, bigEndian);               // e_phentsize
    Put(out, is64 ? 56 : 44, segments.size(), 2, bigEndian);    // e_phnum
    size_t data = (header + phdr * segments.size() + 7) / 8 * 8;
    for (size_t i = 0; i < segments.size(); ++i) {
        const size_t at = header + i * phdr;
        Put(out, at, segments[i].type, 4, bigEndian);
        Put(out, at + (is64 ? 8 : 4), data, word, bigEndian);                       // p_offset
        Put(out, at + (is64 ? 32 : 16), segments[i].bytes.size(), word, bigEndian);  // p_filesz
        Put(out, at + (is64 ? 48 : 28), segments[i].alignment, word, bigEndian);     // p_align
        out.resize(data);  // the headers end before
        out.insert(out.end(), segments[i].bytes.begin(), segments[i].bytes.end());
        data = (out.size() + 7) / 8 * 8;
    }
    return out;
}

Bytes Cut(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

// A 64-bit little-endian file, as most rows are.
Bytes Image64(const std::vector<Segment>& segments) { return Image(true, false, segments); }

TEST(ElfProductVersion, NotesOfWellFormedAndMalformedFiles) {
    const std::string_view owner = "TavixConnect";
    const Bytes ours = Note(owner, 1, "1.2.3");
    const Bytes gnu = Note("GNU", 3, std::string(20, 'x'));
    const Bytes good = Image64({{1, 8, Bytes(40, 0)}, {4, 4, Join({gnu, ours})}});
    const struct { const char* what; Bytes file; std::optional<std::string> version; } cases[] = {
        {"the note alone", Image64({{4, 4, ours}}), "1.2.3"},
        {"after another note, past a segment of another type", good, "1.2.3"},
        {"in the second note segment", Image64({{4, 4, gnu}, {4, 4, ours}}), "1.2.3"},
        {"laid out on 8 bytes", Image64({{4, 8, Note(owner, 1, "8.0", 8)}}), "8.0"},
        {"an alignment below 4 reads as 4", Image64({{4, 0, ours}}), "1.2.3"},
        {"32-bit big-endian", Image(false, true, {{4, 4, Note(owner, 1, "3.2", 4, true)}}), "3.2"},
        {"no program headers", Image64({}), {}},
        {"an owner's prefix", Image64({{4, 4, Note("Tavix", 1, "1")}}), {}},
        {"owner without its zero", Image64({{4, 4, Note(owner, 1, "1", 4, false, 12)}}), {}},
        {"another type", Image64({{4, 4, Note(owner, 2, "1")}}), {}},
        {"empty text", Image64({{4, 4, Note(owner, 1, "")}}), {}},
        {"an alignment notes never have", Image64({{4, 16, ours}}), {}},
        {"name size past the segment", Image64({{4, 4, Note(owner, 1, "1", 4, false, 0xFFFFFFFF)}}), {}},
        {"segment cut inside the text", Image64({{4, 4, Cut(ours, ours.size() - 5)}}), {}},
        {"segment shorter than a note header", Image64({{4, 4, Cut(ours, 11)}}), {}},
        {"file cut inside the note", Cut(good, good.size() - 4), {}},
        {"file cut inside the program headers", Cut(good, 70), {}},
        {"file cut inside the header", Cut(good, 20), {}},
        {"not ELF", Bytes{'M', 'Z', 0, 0}, {}},
        {"empty file", Bytes{}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ProductVersion(c.file), c.version) << c.what;

    // Text past the descriptor's first zero is not part of the version.
    EXPECT_EQ(VersionInNotes(Note(owner, 1, std::string("4.5\0junk", 8)), 4, false), "4.5");
}

// The note as the header's macro and the linker make it: the library and the tool carry the
// product version of the build (a program without it: the client tests).
TEST(ElfProductVersion, TheBuildsFiles) {
    for (const char* path : {TAVIX_SHARED_LIBRARY, TAVIX_CLI}) {
        EXPECT_EQ(FileProductVersion(path), TAVIX_PRODUCT_VERSION) << path;
    }
}

}  // namespace
}  // namespace tavix::platform::elf
