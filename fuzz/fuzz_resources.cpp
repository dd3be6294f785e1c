// Fuzzes the resource readers: the bytes read as a compiled resource file (.res) and as a PE
// file, every resource found read as a dialog template, a string block, version information and
// an icon; and the bytes read directly as each of those.
//
// Input: a file's bytes. The seeds are the library's .res file, the German resource library
// and a version record.
// Properties: every resource found lies within the input; a template's controls number no more
// than its bytes can hold; a rebuilt icon file has the image count and sizes it says. Reads
// outside the input, leaks and hangs are caught by the sanitizers and libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "resources/dialog_template.h"
#include "resources/resource_reader.h"

namespace {

using namespace tavix::resources;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_resources: property violated (line %d): %s\n", line, what);
    std::abort();
}

void ReadAs(std::span<const uint8_t> bytes) {
    if (const auto dialog = ParseDialogTemplate(bytes)) {
        CHECK(dialog->controls.size() * 18 <= bytes.size());
    }
    ReadStringBlock(bytes);
    ProductVersion(bytes);
}

void CheckSet(const ResourceSet& set, std::span<const uint8_t> input) {
    for (const auto& entry : set.Entries()) {
        CHECK(entry.data.data() >= input.data());
        CHECK(entry.data.data() + entry.data.size() <= input.data() + input.size());
        ReadAs(entry.data);
        if (entry.type == kRtGroupIcon) {
            const std::vector<uint8_t> icon = IconFileFromResources(set, entry.id);
            if (icon.empty()) continue;
            const size_t count = icon[4] | icon[5] << 8;
            CHECK(count > 0 && icon.size() >= 6 + 16 * count);
            size_t total = 6 + 16 * count;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* e = &icon[6 + 16 * i];
                const size_t size = e[8] | e[9] << 8 | e[10] << 16 | size_t{e[11]} << 24;
                const size_t offset = e[12] | e[13] << 8 | e[14] << 16 | size_t{e[15]} << 24;
                CHECK(offset == total);
                total += size;
            }
            CHECK(total == icon.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    if (const auto set = ResourceSet::FromRes(input)) CheckSet(*set, input);
    if (const auto set = ResourceSet::FromPe(input)) CheckSet(*set, input);
    ReadAs(input);
    return 0;
}
