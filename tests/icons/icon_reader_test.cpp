// The icon reader on .ico and PE fixtures (make_test_icons.py, windres), against the images they
// were made from, and damaged copies.
#include "icons/icon_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "icon_test_support.h"

namespace tavix::icons {
namespace {

namespace fs = std::filesystem;
using testing::IconFixtures;
using testing::LoadRaw;
using testing::ReadBytes;

Extracted Extract(const std::vector<uint8_t>& bytes, int index = 0, int size = 32) {
    return ExtractIcon(MemorySource(bytes), index, size);
}

// Every decoded image is as large as it says.
void ExpectWellFormed(const Extracted& extracted) {
    if (extracted.answer != Answer::kIcon) return;
    const IconImage& image = extracted.image;
    ASSERT_TRUE(image.width > 0 && image.height > 0 && std::max(image.width, image.height) <= kMaxImageSide);
    ASSERT_EQ(image.pixels.size(), size_t(image.width) * size_t(image.height));
    ASSERT_EQ(image.mask.size(), image.pixels.size());
}

IconImage Raw(const std::string& name) { return LoadRaw(IconFixtures() / (name + ".raw")); }

// An extraction gave the fixture image `name`, or (null) no icon, and an image as large as it says.
void ExpectImage(const Extracted& extracted, const char* name) {
    ExpectWellFormed(extracted);
    ASSERT_EQ(extracted.answer, name ? Answer::kIcon : Answer::kNoIcon);
    if (name) {
        EXPECT_EQ(extracted.image, Raw(name));
    }
}

const char* const kPeFiles[] = {"icons64.dll", "icons32.exe"};

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes.at(at) = static_cast<uint8_t>(value);
    bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}
// ---- Reading what the files hold ------------------------------------------------------------

TEST(IconReader, DecodesEachImageFormatToTheImageItWasMadeFrom) {
    for (const char* name : {"bmp1", "bmp4", "bmp8", "bmp24", "bmp32", "bmp32-noalpha", "png"}) {
        SCOPED_TRACE(name);
        const fs::path file = IconFixtures() / (std::string(name) + ".ico");
        TAVIX_REQUIRE_FIXTURE(file);
        ExpectImage(Extract(ReadBytes(file)), name);
    }
}

TEST(IconReader, PicksTheNearestImageThatDecodes) {
    const fs::path file = IconFixtures() / "sizes.ico";
    TAVIX_REQUIRE_FIXTURE(file);
    const std::vector<uint8_t> bytes = ReadBytes(file);
    const IconImages all = ReadIconImages(MemorySource(bytes), 0);
    ASSERT_EQ(all.images.size(), 5u);  // 16 (32 bits), 48 (8), 32 (4), 256 (PNG), 32 (32)
    for (const auto& [size, image] : {std::pair{32, 4}, {20, 0}, {44, 1}, {1000, 3}, {1, 0}}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(Extract(bytes, 0, size).image, all.images[static_cast<size_t>(image)]);
    }
    // An image that does not decode gives way to the next nearest. Entry 4 (32 x 32, 32 bits)
    // points nowhere: entry 2 (32 x 32, 4 bits) is next.
    std::vector<uint8_t> damaged = bytes;
    Put32(damaged, 6 + 4 * 16 + 12, 0xFFFFFF00);
    EXPECT_EQ(Extract(damaged).image, all.images[2]);
    // Then entry 2's data is cut short: entries 0 (16 x 16) and 1 (48 x 48) are as near; the
    // 16 x 16 has the deeper colours.
    Put32(damaged, 6 + 2 * 16 + 8, 40);
    EXPECT_EQ(Extract(damaged).image, all.images[0]);
}

TEST(IconReader, PeIconsByIndexAndByResourceId) {
    // test.rc: APPLE (bmp4), ZEBRA (png), 3 (sizes), 7 (bmp24); named icons sort first.
    const struct { int index; const char* expected; } cases[] = {  // null: no icon
        {0, "bmp4"}, {1, "png"},   {2, "sizes"},  {3, "bmp24"},  {-3, "sizes"},     {-7, "bmp24"},
        {4, nullptr}, {-1, nullptr}, {-2, nullptr}, {-4, nullptr}, {INT_MAX, nullptr}, {INT_MIN, nullptr}};
    const std::vector<uint8_t> sizes = ReadBytes(IconFixtures() / "sizes.ico");
    for (const char* pe : kPeFiles) {
        const fs::path file = IconFixtures() / pe;
        TAVIX_REQUIRE_FIXTURE(file);
        const std::vector<uint8_t> bytes = ReadBytes(file);
        EXPECT_EQ(CountIcons(MemorySource(bytes)), 4);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(pe) + " " + std::to_string(c.index));
            ExpectImage(Extract(bytes, c.index), c.expected);
        }
        // Every image of a group, in the order of the .ico file it was made from.
        EXPECT_EQ(ReadIconImages(MemorySource(bytes), -3).images,
                  ReadIconImages(MemorySource(sizes), 0).images);
    }
}

// ---- The three answers ----------------------------------------------------------------------

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// A DOS program: the 64-byte header with its new-header offset pointing at `signature`.
std::vector<uint8_t> DosProgram(const char (&signature)[3]) {
    std::vector<uint8_t> bytes(128, 0);
    std::copy_n("MZ", 2, bytes.begin());
    bytes[0x3C] = 64;
    std::copy_n(signature, 2, bytes.begin() + 64);
    return bytes;
}

TEST(IconReader, TellsAnIconFromNoIconFromAFileThatHoldsNone) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "icons64.dll");
    const std::vector<uint8_t> icoBytes = ReadBytes(IconFixtures() / "bmp4.ico");
    const std::vector<uint8_t> dllBytes = ReadBytes(IconFixtures() / "icons64.dll");
    struct Case { const char* what; std::vector<uint8_t> bytes; int index; Answer answer; std::optional<int> count; };
    const Case cases[] = {
        {"text", Bytes("just some text\n"), 0, Answer::kNotIconFile, std::nullopt},
        {"a cursor file", {0, 0, 2, 0, 1, 0}, 0, Answer::kNotIconFile, std::nullopt},
        {"DOS program", DosProgram("XY"), 0, Answer::kNotIconFile, std::nullopt},
        {".ico", icoBytes, 0, Answer::kIcon, 1},
        {".ico, index 1", icoBytes, 1, Answer::kNoIcon, 1},
        {".ico, negative index", icoBytes, -1, Answer::kNoIcon, 1},
        {".ico without images", {0, 0, 1, 0, 0, 0}, 0, Answer::kNoIcon, 0},
        {"16-bit program", DosProgram("NE"), 0, Answer::kNoIcon, 0},
        {"only \"MZ\"", Bytes("MZ"), 0, Answer::kNoIcon, 0},
        {"DLL, index beyond its icons", dllBytes, 4, Answer::kNoIcon, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Extract(c.bytes, c.index).answer, c.answer);
        EXPECT_EQ(ReadIconImages(MemorySource(c.bytes), c.index).answer, c.answer);
        EXPECT_EQ(CountIcons(MemorySource(c.bytes)), c.count);
    }
}

// ---- Damaged files --------------------------------------------------------------------------

// A change to a copy of a file: each case's copy decodes to the fixture image its case names, or
// gives no icon; never an image larger than it says.
using Edit = std::function<void(std::vector<uint8_t>&)>;

TEST(IconReader, IcoFilesThatLie) {
    const fs::path bmp = IconFixtures() / "bmp4.ico", png = IconFixtures() / "png.ico";
    TAVIX_REQUIRE_FIXTURE(png);
    // Offsets in a file with one directory entry: the entry's size and offset, and the image data.
    constexpr size_t kSize = 6 + 8, kOffset = 6 + 12, kImage = 6 + 16;
    const struct { const char* what; fs::path file; Edit edit; bool decodes; } cases[] = {  // decodes: to bmp4
        {"offset at the end", bmp, [](auto& b) { Put32(b, kOffset, uint32_t(b.size())); }, false},
        {"size too small", bmp, [](auto& b) { Put32(b, kSize, 30); }, false},
        {"size past the end", bmp, [](auto& b) { Put32(b, kSize, 0xFFFFFFFF); }, true},
        {"width larger than the data", bmp, [](auto& b) { Put32(b, kImage + 4, 64); }, false},
        {"more colours than 4 bits index", bmp, [](auto& b) { Put32(b, kImage + 32, ~0u); }, true},
        {"PNG 2^20 pixels wide", png, [](auto& b) { Put32(b, kImage + 16, 0x00001000); }, false},
        {"PNG with damaged data", png, [](auto& b) { b.at(b.size() / 2) ^= 0x5A; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = ReadBytes(c.file);
        c.edit(bytes);
        ExpectImage(Extract(bytes), c.decodes ? "bmp4" : nullptr);
    }
}

}  // namespace
}  // namespace tavix::icons
