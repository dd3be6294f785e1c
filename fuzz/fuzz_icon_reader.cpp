// Fuzzes the icon reader with files as they come, and once more with the start of an .ico
// file put in front of the bytes so that every input also reaches the .ico directory and the
// BMP and PNG decoders.
//
// Input: the file's bytes. The seeds are .ico files (BMP and PNG images) and small PE files
// (32- and 64-bit) with icon resources.
// Properties: the three answers agree with what the file is (DetectKind, CountIcons); every
// decoded image is as large as it says, with pixel and mask buffers of exactly width * height
// and a mask of 0s and 1s; the image ExtractIcon picks is one of the icon's images. Reads
// outside the input, leaks and hangs are caught by the sanitizers and libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "icons/icon_reader.h"

namespace {

using namespace tavix::icons;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_icon_reader: property violated (line %d): %s\n", line, what);
    std::abort();
}

void CheckImage(const IconImage& image) {
    CHECK(image.width > 0 && image.width <= kMaxImageSide);
    CHECK(image.height > 0 && image.height <= kMaxImageSide);
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    CHECK(image.pixels.size() == count);
    CHECK(image.mask.size() == count);
    for (uint8_t bit : image.mask) CHECK(bit <= 1);
}

void Check(const std::vector<uint8_t>& bytes) {
    const MemorySource file(bytes);
    const FileKind kind = DetectKind(file);
    const std::optional<int> count = CountIcons(file);
    CHECK(count.has_value() == (kind != FileKind::kNotIconFile));
    if (kind == FileKind::kIco) CHECK(*count == 0 || *count == 1);

    const IconImages images = ReadIconImages(file, 0);
    CHECK(images.images.size() <= static_cast<size_t>(kMaxImagesPerIcon));
    for (const auto& image : images.images) {
        if (image) CheckImage(*image);
    }

    for (int index : {0, 1, 3, -1, -3, -7, -1011}) {
        for (int size : {32, 16}) {
            const Extracted extracted = ExtractIcon(file, index, size);
            if (kind == FileKind::kNotIconFile) {
                CHECK(extracted.answer == Answer::kNotIconFile);
                continue;
            }
            CHECK(extracted.answer != Answer::kNotIconFile);
            if (index >= 0 && count && index >= *count) CHECK(extracted.answer == Answer::kNoIcon);
            if (extracted.answer != Answer::kIcon) continue;
            CheckImage(extracted.image);
            if (index == 0) {
                bool found = false;
                for (const auto& image : images.images) found = found || image == extracted.image;
                CHECK(found);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(std::vector<uint8_t>(data, data + size));
    // The same bytes behind an .ico header, keeping the input's own image count.
    std::vector<uint8_t> ico(data, data + size);
    if (ico.size() < 6) ico.resize(6, 0);
    ico[0] = 0;
    ico[1] = 0;
    ico[2] = 1;
    ico[3] = 0;
    Check(ico);
    return 0;
}
