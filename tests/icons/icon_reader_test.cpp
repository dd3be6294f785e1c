// The icon reader on .ico and PE fixtures (make_test_icons.py, icotool, windres), against the images
// they were made from, icotool's own decoding, and damaged copies.
#include "icons/icon_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <regex>
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
uint32_t Get16(const std::vector<uint8_t>& bytes, size_t at) { return bytes.at(at) | bytes.at(at + 1) << 8; }
uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) { return Get16(bytes, at) | Get16(bytes, at + 2) << 16; }

// ---- Reading what the files hold ------------------------------------------------------------

TEST(IconReader, DecodesEachImageFormatToTheImageItWasMadeFrom) {
    for (const char* name : {"bmp1", "bmp4", "bmp8", "bmp24", "bmp32", "bmp32-noalpha", "png",
                             "sizes", "near"}) {
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
    for (const auto& [size, image] : {std::pair{32, 4}, {16, 0}, {20, 0}, {44, 1}, {256, 3},
                                      {1000, 3}, {1, 0}}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(Extract(bytes, 0, size).image, all.images[static_cast<size_t>(image)]);
    }
    // An image that does not decode gives way to the next nearest. Entry 4 (32 x 32, 32 bits)
    // points nowhere: entry 2 (32 x 32, 4 bits) is next.
    std::vector<uint8_t> damaged = bytes;
    Put32(damaged, 6 + 4 * 16 + 12, 0xFFFFFF00);
    EXPECT_EQ(Extract(damaged).image, all.images[2]);
    EXPECT_FALSE(ReadIconImages(MemorySource(damaged), 0).images[4].has_value());
    // Then entry 2's data is cut short: entries 0 (16 x 16) and 1 (48 x 48) are as near; the
    // 16 x 16 has the deeper colours.
    Put32(damaged, 6 + 2 * 16 + 8, 40);
    EXPECT_EQ(Extract(damaged).image, all.images[0]);
}

// A PNG file decoded by libpng: pixels 0xAARRGGBB; no pixels when it does not decode.
IconImage DecodePngFile(const fs::path& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.string().c_str())) return {};
    png.format = PNG_FORMAT_BGRA;
    IconImage image{static_cast<int>(png.width), static_cast<int>(png.height), {}, {}};
    image.pixels.resize(size_t{png.width} * png.height);
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) image.pixels.clear();
    png_image_free(&png);
    return image;
}

// built.ico was made by icotool from PNG pictures, at the depths icotool chose (4, 8, 24 and 32
// bits, and PNG); icotool -x wrote each image back as a PNG file with alpha ("built_N_...png",
// N from 1 in directory order). The colours must agree wherever a pixel is not transparent.
TEST(IconReader, AgreesWithIcotoolOnAFileItMade) {
    const fs::path dir = IconFixtures() / "icotool" / "built";
    TAVIX_REQUIRE_FIXTURE(dir);
    const IconImages ours = ReadIconImages(MemorySource(ReadBytes(IconFixtures() / "built.ico")), 0);
    ASSERT_EQ(ours.answer, Answer::kIcon);
    std::vector<fs::path> theirs;
    for (const auto& entry : fs::directory_iterator(dir)) theirs.push_back(entry.path());
    std::sort(theirs.begin(), theirs.end());
    ASSERT_EQ(ours.images.size(), theirs.size());
    ASSERT_EQ(theirs.size(), 6u);
    for (size_t i = 0; i < theirs.size(); ++i) {
        SCOPED_TRACE(theirs[i].filename().string());
        const IconImage expected = DecodePngFile(theirs[i]);
        ASSERT_TRUE(ours.images[i]);
        const IconImage& image = *ours.images[i];
        ASSERT_EQ(std::pair(image.width, image.height), std::pair(expected.width, expected.height));
        ASSERT_EQ(image.pixels.size(), expected.pixels.size());
        for (size_t p = 0; p < image.pixels.size(); ++p) {
            const uint32_t a = image.pixels[p], b = expected.pixels[p];
            ASSERT_TRUE(a >> 24 == b >> 24 && (a >> 24 == 0 || a == b))
                << "pixel " << p << ": " << std::hex << a << " vs " << b;
        }
    }
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
        {"a bitmap", Bytes("BM6"), 0, Answer::kNotIconFile, std::nullopt},
        {"a cursor file", {0, 0, 2, 0, 1, 0}, 0, Answer::kNotIconFile, std::nullopt},
        {"DOS program", DosProgram("XY"), 0, Answer::kNotIconFile, std::nullopt},
        {".ico", icoBytes, 0, Answer::kIcon, 1},
        {".ico, index 1", icoBytes, 1, Answer::kNoIcon, 1},
        {".ico, negative index", icoBytes, -1, Answer::kNoIcon, 1},
        {".ico without images", {0, 0, 1, 0, 0, 0}, 0, Answer::kNoIcon, 0},
        {"16-bit program", DosProgram("NE"), 0, Answer::kNoIcon, 0},
        {"only \"MZ\"", Bytes("MZ"), 0, Answer::kNoIcon, 0},
        {"DLL", dllBytes, 0, Answer::kIcon, 4},
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
    // Offsets in a file with one directory entry: the count, the entry's size and offset, and
    // the image data.
    constexpr size_t kCount = 4, kSize = 6 + 8, kOffset = 6 + 12, kImage = 6 + 16;
    const struct { const char* what; fs::path file; Edit edit; bool decodes; } cases[] = {  // decodes: to bmp4
        {"count beyond the directory", bmp, [](auto& b) { Put16(b, kCount, 0xFFFF); }, false},
        {"offset past the end", bmp, [](auto& b) { Put32(b, kOffset, 0xFFFFFFF0); }, false},
        {"offset at the end", bmp, [](auto& b) { Put32(b, kOffset, uint32_t(b.size())); }, false},
        {"size too small", bmp, [](auto& b) { Put32(b, kSize, 30); }, false},
        {"size past the end", bmp, [](auto& b) { Put32(b, kSize, 0xFFFFFFFF); }, true},
        {"huge width", bmp, [](auto& b) { Put32(b, kImage + 4, 100000); }, false},
        {"negative width", bmp, [](auto& b) { Put32(b, kImage + 4, uint32_t(-32)); }, false},
        {"width larger than the data", bmp, [](auto& b) { Put32(b, kImage + 4, 64); }, false},
        {"zero height", bmp, [](auto& b) { Put32(b, kImage + 8, 0); }, false},
        {"top-down height", bmp, [](auto& b) { Put32(b, kImage + 8, uint32_t(-64)); }, false},
        {"7 bits per pixel", bmp, [](auto& b) { Put16(b, kImage + 14, 7); }, false},
        {"compressed", bmp, [](auto& b) { Put32(b, kImage + 16, 2); }, false},
        {"header size past the data", bmp, [](auto& b) { Put32(b, kImage, 0xFFFFFFF0); }, false},
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

TEST(IconReader, TruncatedIcoFilesGiveNoIconAndAreNeverReadPastTheirEnd) {
    for (const char* name : {"bmp4", "bmp32", "png"}) {
        SCOPED_TRACE(name);
        const fs::path file = IconFixtures() / (std::string(name) + ".ico");
        TAVIX_REQUIRE_FIXTURE(file);
        const std::vector<uint8_t> whole = ReadBytes(file);
        // A PNG image is whole once its data is: only its 12-byte end chunk may be missing.
        const size_t complete = name == std::string("png") ? whole.size() - 12 : whole.size();
        for (size_t length = 0; length < complete; ++length) {
            // An exact-size copy, so that reading past it is caught.
            const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + ptrdiff_t(length));
            ASSERT_EQ(Extract(prefix).answer, length < 4 ? Answer::kNotIconFile : Answer::kNoIcon)
                << length;
        }
    }
}

// The resources wrestool lists: type, name, where the data is (an RVA: wrestool calls it
// offset) and its size.
struct ListedResource { int type; std::string name; uint32_t rva; uint32_t size; };

std::vector<ListedResource> WrestoolList(const fs::path& listing) {
    std::vector<ListedResource> out;
    std::ifstream in(listing);
    const std::regex line(R"(--type=(\d+) --name='?([^' ]+)'? .*offset=0x([0-9a-f]+) size=(\d+))");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            out.push_back({std::stoi(m[1]), m[2], static_cast<uint32_t>(std::stoul(m[3], nullptr, 16)),
                           static_cast<uint32_t>(std::stoul(m[4]))});
        }
    }
    return out;
}

// The section that holds an RVA: its file offset, size in the file and RVA.
struct SectionSpan { size_t raw = 0, rawSize = 0; uint32_t rva = 0; };

SectionSpan SectionOf(const std::vector<uint8_t>& pe, uint32_t rva) {
    const uint32_t peOffset = Get32(pe, 0x3C);
    const size_t table = peOffset + 24 + Get16(pe, peOffset + 20);
    for (uint32_t i = 0; i < Get16(pe, peOffset + 6); ++i) {
        const size_t header = table + i * 40;
        const SectionSpan span{Get32(pe, header + 20), Get32(pe, header + 16), Get32(pe, header + 12)};
        if (rva >= span.rva && rva < span.rva + span.rawSize) return span;
    }
    ADD_FAILURE() << "no section holds RVA " << rva;
    return {};
}

// Where a listed resource's data is in the file.
size_t FileOffsetOf(const std::vector<uint8_t>& pe, const ListedResource& resource) {
    const SectionSpan section = SectionOf(pe, resource.rva);
    return section.raw + (resource.rva - section.rva);
}

// The resource data entry (RVA, size) of a listed resource.
size_t DataEntryOf(const std::vector<uint8_t>& pe, const ListedResource& resource) {
    const SectionSpan section = SectionOf(pe, resource.rva);
    for (size_t at = section.raw; at + 8 <= section.raw + section.rawSize; at += 4) {
        if (Get32(pe, at) == resource.rva && Get32(pe, at + 4) == resource.size) return at;
    }
    ADD_FAILURE() << "no data entry for " << resource.name;
    return 0;
}

TEST(IconReader, PeFilesThatLie) {
    for (const char* pe : kPeFiles) {
        SCOPED_TRACE(pe);
        const fs::path file = IconFixtures() / pe;
        const fs::path listing = IconFixtures() / "wrestool" / (std::string(pe) + ".list");
        TAVIX_REQUIRE_FIXTURE(file);
        TAVIX_REQUIRE_FIXTURE(listing);
        const std::vector<uint8_t> original = ReadBytes(file);
        const std::vector<ListedResource> listed = WrestoolList(listing);
        const auto find = [&](int type, const std::string& name) {
            const auto it = std::find_if(listed.begin(), listed.end(),
                                         [&](const auto& r) { return r.type == type && r.name == name; });
            EXPECT_NE(it, listed.end()) << type << " " << name;
            return it == listed.end() ? ListedResource{} : *it;
        };
        const ListedResource group7 = find(14, "7"), group3 = find(14, "3"), apple = find(14, "APPLE");
        // Group 7 holds one image; its directory entry names its RT_ICON id.
        const ListedResource icon7 = find(3, std::to_string(Get16(original, FileOffsetOf(original, group7) + 18)));
        const uint32_t peOffset = Get32(original, 0x3C);
        const bool plus = Get16(original, peOffset + 24) == 0x20B;  // PE32+
        const size_t resourceDirectory = peOffset + 24 + (plus ? 112 : 96) + 2 * 8;
        const struct { const char* what; Edit edit; int index; bool decodes; } cases[] = {  // decodes: to sizes
            {"new header offset past the end", [](auto& b) { Put32(b, 0x3C, 0xFFFFFFF0); }, 0, false},
            {"no resource directory", [&](auto& b) { Put32(b, resourceDirectory, 0); }, 0, false},
            {"resource directory outside every section",
             [&](auto& b) { Put32(b, resourceDirectory, 0x7FFFFFF0); }, 0, false},
            {"image size past its section",
             [&](auto& b) { Put32(b, DataEntryOf(b, icon7) + 4, 0xFFFFFFF0); }, -7, false},
            {"image outside every section",
             [&](auto& b) { Put32(b, DataEntryOf(b, icon7), 0xFFFFFF00); }, -7, false},
            {"group naming a missing image",
             [&](auto& b) { Put16(b, FileOffsetOf(b, apple) + 18, 0xFFFF); }, 0, false},
            {"group counting more images than it holds",
             [&](auto& b) { Put16(b, FileOffsetOf(b, group3) + 4, 0xFFFF); }, -3, true},
            {"group size past its section",
             [&](auto& b) { Put32(b, DataEntryOf(b, group7) + 4, 0x7FFFFFFF); }, -7, false},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            std::vector<uint8_t> bytes = original;
            c.edit(bytes);
            ExpectImage(Extract(bytes, c.index), c.decodes ? "sizes" : nullptr);
        }
        // Cut short: no icon until the icon directories are there, never a read past the end
        // (every prefix through the headers, then one every 97 bytes).
        size_t firstGroup = original.size();
        for (const ListedResource& r : listed) {
            if (r.type == 14) firstGroup = std::min(firstGroup, FileOffsetOf(original, r));
        }
        for (size_t length = 0; length < original.size(); length += length < 1024 ? 1 : 97) {
            const std::vector<uint8_t> prefix(original.begin(), original.begin() + ptrdiff_t(length));
            for (int index : {0, 3, -3}) {
                const Extracted extracted = Extract(prefix, index);
                ExpectWellFormed(extracted);
                if (length < firstGroup) {
                    ASSERT_EQ(extracted.answer, length < 2 ? Answer::kNotIconFile : Answer::kNoIcon)
                        << length;
                } else {
                    ASSERT_NE(extracted.answer, Answer::kNotIconFile) << length;
                }
            }
        }
    }
}

TEST(IconReader, ScaleNearestPicksTheNearestSourcePixel) {
    const IconImage source{3, 2, {1, 2, 3, 4, 5, 6}, {0, 1, 0, 1, 0, 1}};
    const struct { int width, height; std::vector<uint32_t> pixels; } cases[] = {
        {6, 4, {1, 1, 2, 2, 3, 3, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 4, 4, 5, 5, 6, 6}},
        {1, 1, {1}}, {2, 1, {1, 2}}, {3, 2, {1, 2, 3, 4, 5, 6}}, {0, 5, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const IconImage scaled = ScaleNearest(source, c.width, c.height);
        EXPECT_EQ(scaled.pixels, c.pixels);
        std::vector<uint8_t> mask;  // the mask goes along: even pixels are masked
        for (uint32_t pixel : c.pixels) mask.push_back(pixel % 2 == 0 ? 1 : 0);
        EXPECT_EQ(scaled.mask, mask);
    }
}

}  // namespace
}  // namespace tavix::icons
