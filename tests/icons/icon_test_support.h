// Shared by the icon tests: the files that tests/icons/fixtures.cmake builds, and the .raw
// images they must decode to (see make_test_icons.py).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "icons/icon_reader.h"

namespace tavix::testing {

inline std::filesystem::path IconFixtures() { return TAVIX_ICON_FIXTURES; }

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A .raw image: width, height, pixels and mask (an empty image when the file is not there).
inline icons::IconImage LoadRaw(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    icons::IconImage image;
    if (bytes.size() < 8) return image;
    uint32_t width = 0, height = 0;
    std::memcpy(&width, bytes.data(), 4);
    std::memcpy(&height, bytes.data() + 4, 4);
    const size_t count = size_t{width} * height;
    if (bytes.size() != 8 + count * 5) return image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.resize(count);
    std::memcpy(image.pixels.data(), bytes.data() + 8, count * 4);
    image.mask.assign(bytes.begin() + 8 + static_cast<ptrdiff_t>(count * 4), bytes.end());
    return image;
}

// Skips the calling test when the fixture files (or one of them) were not built.
#define TAVIX_REQUIRE_FIXTURE(path)                                                   \
    do {                                                                              \
        if (!std::filesystem::exists(path)) GTEST_SKIP() << "not built: " << (path); \
    } while (false)

// Whether an icon shows an image as a window system draws it: the same size; the same colour
// and alpha wherever the image is not fully transparent; the same mask wherever it is fully
// transparent or fully opaque (for a partly transparent pixel of an image with an alpha
// channel, the mask is the platform's choice).
inline ::testing::AssertionResult ShowsImage(const icons::IconImage& actual, const icons::IconImage& expected) {
    if (actual.width != expected.width || actual.height != expected.height) {
        return ::testing::AssertionFailure() << actual.width << "x" << actual.height << " instead of "
                                             << expected.width << "x" << expected.height;
    }
    for (size_t i = 0; i < expected.pixels.size(); ++i) {
        const uint32_t want = expected.pixels[i], got = actual.pixels[i], alpha = want >> 24;
        const bool maskMatters = alpha == 0 || alpha == 255;
        if ((maskMatters && actual.mask[i] != expected.mask[i]) || (alpha != 0 && got != want)) {
            return ::testing::AssertionFailure() << "pixel " << i << ": " << std::hex << got << " mask "
                                                 << int{actual.mask[i]} << " instead of " << want << " mask "
                                                 << int{expected.mask[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tavix::testing
