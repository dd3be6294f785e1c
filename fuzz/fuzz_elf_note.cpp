// Fuzzes the ELF product-version note reader: the bytes read as an ELF file, and as the notes of
// one segment in each layout (4- and 8-byte alignment, either byte order).
//
// Input: a file's bytes. The seeds are the first 4 KiB of a client built with the note (its
// headers and note segments) and a note segment alone.
// Properties: a version found is non-empty, holds no zero byte and is a run of the input's
// bytes. Reads outside the input, leaks and hangs are caught by the sanitizers and libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/posix/elf_note.h"

namespace {

using namespace tavix::platform::elf;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_elf_note: property violated (line %d): %s\n", line, what);
    std::abort();
}

void CheckVersion(const std::optional<std::string>& version, std::span<const uint8_t> input) {
    if (!version) return;
    CHECK(!version->empty());
    CHECK(version->find('\0') == std::string::npos);
    const std::string_view bytes(reinterpret_cast<const char*>(input.data()), input.size());
    CHECK(bytes.find(*version) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    CheckVersion(ProductVersion(input), input);
    for (const uint64_t alignment : {4, 8}) {
        for (const bool bigEndian : {false, true}) CheckVersion(VersionInNotes(input, alignment, bigEndian), input);
    }
    return 0;
}
