// The icon reader: .ico directories, PE resource directories, BMP and PNG images.
#include "icons/icon_reader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace tavix::icons {

namespace {

constexpr uint32_t kPngSignature[2] = {0x474E5089u, 0x0A1A0A0Du};  // "\x89PNG\r\n\x1a\n"
constexpr uint32_t kResourceTypeIcon = 3;
constexpr uint32_t kResourceTypeGroupIcon = 14;
constexpr size_t kIcoHeaderBytes = 6;
constexpr size_t kIcoEntryBytes = 16;
constexpr size_t kGroupEntryBytes = 14;
// An image that does not decode is passed over for the next nearest, this many times at most.
constexpr int kMaxDecodeAttempts = 8;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

template <size_t N>
bool ReadAt(const ByteSource& file, uint64_t offset, std::array<uint8_t, N>& out) {
    return file.Read(offset, out.data(), N);
}

bool IsPng(std::span<const uint8_t> data) {
    return data.size() >= 8 && Le32(data.data()) == kPngSignature[0] &&
           Le32(data.data() + 4) == kPngSignature[1];
}

using resources::Extent;
using resources::PeResources;
using resources::ResourceEntry;

// An image as its own header describes it, for choosing among an icon's images.
struct ImageShape {
    int width = 0;
    int height = 0;
    int bitCount = 0;
};

// An icon: the extents of its images in directory order (nullopt for an image whose data is
// not in the file).
using IconExtents = std::vector<std::optional<Extent>>;

// The part of [offset, offset + size) that lies in the file; nullopt when the offset is past
// its end or the data is too large to read.
std::optional<Extent> ClampToFile(const ByteSource& file, uint64_t offset, uint64_t size) {
    const uint64_t fileSize = file.Size();
    if (offset >= fileSize || size == 0) return std::nullopt;
    const uint64_t available = std::min(size, fileSize - offset);
    if (available > kMaxImageBytes) return std::nullopt;
    return Extent{offset, static_cast<uint32_t>(available)};
}

// ---- Images ------------------------------------------------------------------------------

// The shape of a BMP or PNG image from its first bytes.
std::optional<ImageShape> PeekShape(const ByteSource& file, const Extent& extent) {
    std::array<uint8_t, 24> head{};
    if (extent.size < head.size() || !ReadAt(file, extent.offset, head)) return std::nullopt;
    if (IsPng(head)) {
        // The IHDR chunk comes first: length, "IHDR", width, height (big-endian).
        const uint32_t width = Be32(&head[16]);
        const uint32_t height = Be32(&head[20]);
        if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide) {
            return std::nullopt;
        }
        return ImageShape{static_cast<int>(width), static_cast<int>(height), 32};
    }
    const auto width = static_cast<int32_t>(Le32(&head[4]));
    const auto height = static_cast<int32_t>(Le32(&head[8]));
    if (Le32(&head[0]) < 40 || width <= 0 || width > kMaxImageSide || height < 2 ||
        height / 2 > kMaxImageSide) {
        return std::nullopt;
    }
    return ImageShape{width, height / 2, Le16(&head[14])};
}

std::optional<IconImage> DecodePng(std::span<const uint8_t> data) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    // Frees what libpng holds on every way out (a no-op after a finished read).
    struct Release {
        png_image* image;
        ~Release() { png_image_free(image); }
    } release{&image};

    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return std::nullopt;
    if (image.width == 0 || image.height == 0 || image.width > kMaxImageSide ||
        image.height > kMaxImageSide) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_BGRA;
    const size_t width = image.width;
    const size_t height = image.height;
    std::vector<uint8_t> bgra(width * height * 4);
    if (!png_image_finish_read(&image, nullptr, bgra.data(), 0, nullptr)) return std::nullopt;

    IconImage out;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.pixels.resize(width * height);
    out.mask.resize(width * height);
    for (size_t i = 0; i < width * height; ++i) {
        const uint8_t* p = &bgra[i * 4];
        out.pixels[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                        uint32_t{p[3]} << 24;
        out.mask[i] = p[3] == 0 ? 1 : 0;
    }
    return out;
}

// Where the parts of an icon's BMP image lie: the header, the colour table, the XOR image and
// the AND mask, each row padded to 32 bits. Icons are stored bottom-up with the header's height
// counting the XOR image and the mask.
struct BmpLayout {
    uint64_t width = 0;
    uint64_t height = 0;  // of the picture: half the header's
    uint16_t bitCount = 0;
    uint64_t tableEntries = 0;
    uint64_t tableOffset = 0;
    uint64_t xorOffset = 0;
    uint64_t xorStride = 0;
    uint64_t andOffset = 0;
    uint64_t andStride = 0;
};

// The layout of an uncompressed (BI_RGB) image of 1, 4, 8, 24 or 32 bits that data holds
// whole; nothing for any other.
std::optional<BmpLayout> ReadBmpLayout(std::span<const uint8_t> data) {
    if (data.size() < 40) return std::nullopt;
    const uint8_t* header = data.data();
    const uint32_t headerSize = Le32(header);
    const auto width = static_cast<int32_t>(Le32(header + 4));
    const auto doubleHeight = static_cast<int32_t>(Le32(header + 8));
    const uint16_t bitCount = Le16(header + 14);
    const uint32_t compression = Le32(header + 16);
    const uint32_t coloursUsed = Le32(header + 32);

    if (headerSize < 40 || headerSize > data.size()) return std::nullopt;
    if (width <= 0 || width > kMaxImageSide || doubleHeight < 2 ||
        doubleHeight / 2 > kMaxImageSide) {
        return std::nullopt;
    }
    if (compression != 0) return std::nullopt;  // BI_RGB only
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) {
        return std::nullopt;
    }
    BmpLayout layout;
    layout.width = static_cast<uint64_t>(width);
    layout.height = static_cast<uint64_t>(doubleHeight / 2);
    layout.bitCount = bitCount;
    // The colour table: for 1, 4 and 8 bits the colours the pixels index (all of them when
    // coloursUsed is 0 or too large); deeper images may carry an optional table to skip.
    layout.tableEntries = coloursUsed;
    if (bitCount <= 8) {
        const uint64_t all = uint64_t{1} << bitCount;
        if (layout.tableEntries == 0 || layout.tableEntries > all) layout.tableEntries = all;
    }
    layout.xorStride = (layout.width * bitCount + 31) / 32 * 4;
    layout.andStride = (layout.width + 31) / 32 * 4;
    layout.tableOffset = headerSize;
    layout.xorOffset = layout.tableOffset + layout.tableEntries * 4;
    layout.andOffset = layout.xorOffset + layout.xorStride * layout.height;
    const uint64_t end = layout.andOffset + layout.andStride * layout.height;
    if (end > data.size()) return std::nullopt;
    return layout;
}

// The colours an image of 8 bits or fewer indexes (black past the table); none for
// deeper images.
std::array<uint32_t, 256> ReadBmpPalette(std::span<const uint8_t> data, const BmpLayout& layout) {
    std::array<uint32_t, 256> palette{};
    if (layout.bitCount > 8) return palette;
    for (uint64_t i = 0; i < layout.tableEntries; ++i) {
        const uint8_t* q = data.data() + layout.tableOffset + i * 4;
        palette[i] = uint32_t{q[0]} | uint32_t{q[1]} << 8 | uint32_t{q[2]} << 16;
    }
    return palette;
}

// Row y (from the top) of the picture into pixels and mask; anyAlpha becomes true when a
// 32-bit pixel carries alpha.
void DecodeBmpRow(std::span<const uint8_t> data, const BmpLayout& layout,
                  const std::array<uint32_t, 256>& palette, uint64_t y, uint32_t* pixels,
                  uint8_t* mask, bool& anyAlpha) {
    const uint64_t stored = layout.height - 1 - y;  // bottom-up
    const uint8_t* xorRow = data.data() + layout.xorOffset + stored * layout.xorStride;
    const uint8_t* andRow = data.data() + layout.andOffset + stored * layout.andStride;
    const uint16_t bitCount = layout.bitCount;
    for (uint64_t x = 0; x < layout.width; ++x) {
        mask[x] = (andRow[x / 8] >> (7 - x % 8)) & 1;
        switch (bitCount) {
            case 32: {
                const uint8_t* p = xorRow + x * 4;
                pixels[x] = Le32(p);
                anyAlpha = anyAlpha || p[3] != 0;
                break;
            }
            case 24: {
                const uint8_t* p = xorRow + x * 3;
                pixels[x] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
                break;
            }
            default: {
                const uint64_t bit = x * bitCount;
                const unsigned shift = static_cast<unsigned>(8 - bitCount - bit % 8);
                const unsigned index = (xorRow[bit / 8] >> shift) & ((1u << bitCount) - 1);
                pixels[x] = index < layout.tableEntries ? palette[index] : 0;
                break;
            }
        }
    }
}

std::optional<IconImage> DecodeBmp(std::span<const uint8_t> data) {
    const std::optional<BmpLayout> layout = ReadBmpLayout(data);
    if (!layout) return std::nullopt;
    const std::array<uint32_t, 256> palette = ReadBmpPalette(data, *layout);

    const uint64_t w = layout->width;
    const uint64_t h = layout->height;
    IconImage out;
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.pixels.resize(w * h);
    out.mask.resize(w * h);
    bool anyAlpha = false;
    for (uint64_t y = 0; y < h; ++y) {
        DecodeBmpRow(data, *layout, palette, y, &out.pixels[y * w], &out.mask[y * w], anyAlpha);
    }
    // Without an alpha channel of its own (all zero), the mask says what is transparent.
    if (!anyAlpha) {
        for (size_t i = 0; i < out.pixels.size(); ++i) {
            out.pixels[i] = (out.pixels[i] & 0x00FFFFFFu) | (out.mask[i] ? 0u : 0xFF000000u);
        }
    }
    return out;
}

std::optional<IconImage> DecodeExtent(const ByteSource& file, const Extent& extent) {
    std::vector<uint8_t> data(extent.size);
    if (!file.Read(extent.offset, data.data(), data.size())) return std::nullopt;
    return DecodeImage(data);
}

// ---- .ico files ----------------------------------------------------------------------------

std::optional<IconExtents> IcoImages(const ByteSource& file) {
    std::array<uint8_t, kIcoHeaderBytes> header{};
    if (!ReadAt(file, 0, header)) return std::nullopt;
    const int count = std::min<int>(Le16(&header[4]), kMaxImagesPerIcon);
    IconExtents images;
    for (int i = 0; i < count; ++i) {
        std::array<uint8_t, kIcoEntryBytes> entry{};
        // A directory that ends before its count says: truncated.
        if (!ReadAt(file, kIcoHeaderBytes + static_cast<uint64_t>(i) * kIcoEntryBytes, entry)) {
            return std::nullopt;
        }
        images.push_back(ClampToFile(file, Le32(&entry[12]), Le32(&entry[8])));
    }
    return images;
}

// ---- PE files ------------------------------------------------------------------------------

// The images of the RT_GROUP_ICON at index; nullopt when there is none.
std::optional<IconExtents> PeIconImages(const PeResources& pe, int index) {
    const std::vector<ResourceEntry> groups = pe.TypeNames(kResourceTypeGroupIcon);
    const ResourceEntry* group = nullptr;
    if (index >= 0) {
        if (static_cast<size_t>(index) < groups.size()) group = &groups[static_cast<size_t>(index)];
    } else if (index != -1 && index != std::numeric_limits<int>::min()) {
        const auto id = static_cast<uint32_t>(-index);
        for (const ResourceEntry& entry : groups) {
            if (!entry.named && entry.id == id) {
                group = &entry;
                break;
            }
        }
    }
    if (group == nullptr) return std::nullopt;
    uint32_t language = 0;
    const auto directory = pe.Language(*group, std::nullopt, &language);
    if (!directory || directory->size < kIcoHeaderBytes) return std::nullopt;
    std::vector<uint8_t> bytes(directory->size);
    if (!pe.file().Read(directory->offset, bytes.data(), bytes.size())) return std::nullopt;

    // The images by resource id (the first binding of an id counts).
    std::unordered_map<uint32_t, const ResourceEntry*> byId;
    const std::vector<ResourceEntry> iconNames = pe.TypeNames(kResourceTypeIcon);
    for (const ResourceEntry& entry : iconNames) {
        if (!entry.named) byId.emplace(entry.id, &entry);
    }

    const size_t count = std::min({size_t{Le16(&bytes[4])}, size_t{kMaxImagesPerIcon},
                                   (bytes.size() - kIcoHeaderBytes) / kGroupEntryBytes});
    IconExtents images;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &bytes[kIcoHeaderBytes + i * kGroupEntryBytes];
        const auto found = byId.find(Le16(entry + 12));
        images.push_back(found == byId.end() ? std::nullopt
                                             : pe.Language(*found->second, language));
    }
    return images;
}

// ---- Both kinds ----------------------------------------------------------------------------

// The images of the icon at index, or the answer why there is none.
struct Located {
    Answer answer = Answer::kNoIcon;
    IconExtents images;
};

Located Locate(const ByteSource& file, int index) {
    switch (DetectKind(file)) {
        case FileKind::kNotIconFile:
            return {Answer::kNotIconFile, {}};
        case FileKind::kIco: {
            if (index != 0) return {};
            auto images = IcoImages(file);
            if (!images || images->empty()) return {};
            return {Answer::kIcon, std::move(*images)};
        }
        case FileKind::kPe: {
            const auto pe = PeResources::Open(file);
            if (!pe) return {};
            auto images = PeIconImages(*pe, index);
            if (!images) return {};
            return {Answer::kIcon, std::move(*images)};
        }
    }
    return {};
}

// Whether a shape is a better fit for size x size than another.
bool Nearer(const ImageShape& a, const ImageShape& b, int size) {
    const auto distance = [size](const ImageShape& s) {
        return std::abs(s.width - size) + std::abs(s.height - size);
    };
    if (distance(a) != distance(b)) return distance(a) < distance(b);
    return std::abs(a.bitCount - 32) < std::abs(b.bitCount - 32);
}

}  // namespace

FileKind DetectKind(const ByteSource& file) {
    std::array<uint8_t, 4> start{};
    if (ReadAt(file, 0, start) && Le32(start.data()) == 0x00010000u) return FileKind::kIco;
    std::array<uint8_t, 2> mz{};
    if (!ReadAt(file, 0, mz) || mz[0] != 'M' || mz[1] != 'Z') return FileKind::kNotIconFile;

    // An executable: a PE file unless the newer header is missing. A truncated file counts
    // as a damaged PE file.
    std::array<uint8_t, 64> dos{};
    if (!ReadAt(file, 0, dos)) return FileKind::kPe;
    std::array<uint8_t, 2> signature{};
    const uint64_t newHeader = Le32(&dos[0x3C]);
    if (!ReadAt(file, newHeader, signature)) return FileKind::kPe;
    const auto is = [&](const char* s) { return signature[0] == s[0] && signature[1] == s[1]; };
    // PE, and the older Windows formats (NE, LE, LX) that hold icons we do not read.
    if (is("PE") || is("NE") || is("LE") || is("LX")) return FileKind::kPe;
    return FileKind::kNotIconFile;  // a DOS program
}

std::optional<int> CountIcons(const ByteSource& file) {
    switch (DetectKind(file)) {
        case FileKind::kNotIconFile:
            return std::nullopt;
        case FileKind::kIco: {
            const auto images = IcoImages(file);
            return images && !images->empty() ? 1 : 0;
        }
        case FileKind::kPe: {
            const auto pe = PeResources::Open(file);
            if (!pe) return 0;
            return static_cast<int>(pe->TypeNames(kResourceTypeGroupIcon).size());
        }
    }
    return std::nullopt;
}

Extracted ExtractIcon(const ByteSource& file, int index, int size) {
    const Located icon = Locate(file, index);
    if (icon.answer != Answer::kIcon) return {icon.answer, {}};

    struct Candidate {
        ImageShape shape;
        Extent extent;
        size_t order;
    };
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < icon.images.size(); ++i) {
        if (!icon.images[i]) continue;
        if (const auto shape = PeekShape(file, *icon.images[i])) {
            candidates.push_back({*shape, *icon.images[i], i});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [size](const Candidate& a, const Candidate& b) {
                         return Nearer(a.shape, b.shape, size);
                     });
    const size_t attempts = std::min<size_t>(candidates.size(), kMaxDecodeAttempts);
    for (size_t i = 0; i < attempts; ++i) {
        if (auto image = DecodeExtent(file, candidates[i].extent)) {
            return {Answer::kIcon, std::move(*image)};
        }
    }
    return {Answer::kNoIcon, {}};
}

IconImages ReadIconImages(const ByteSource& file, int index) {
    const Located icon = Locate(file, index);
    IconImages out{icon.answer, {}};
    for (const auto& extent : icon.images) {
        out.images.push_back(extent ? DecodeExtent(file, *extent) : std::nullopt);
    }
    return out;
}

std::optional<IconImage> DecodeImage(std::span<const uint8_t> data) {
    return IsPng(data) ? DecodePng(data) : DecodeBmp(data);
}

IconImage ScaleNearest(const IconImage& image, int width, int height) {
    IconImage out;
    const size_t sourceCount = static_cast<size_t>(std::max(image.width, 0)) *
                               static_cast<size_t>(std::max(image.height, 0));
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
        sourceCount == 0 || image.pixels.size() != sourceCount ||
        image.mask.size() != sourceCount) {
        return out;
    }
    out.width = width;
    out.height = height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    out.pixels.resize(count);
    out.mask.resize(count);
    for (int y = 0; y < height; ++y) {
        const auto sy = static_cast<size_t>(int64_t{y} * image.height / height);
        for (int x = 0; x < width; ++x) {
            const auto sx = static_cast<size_t>(int64_t{x} * image.width / width);
            const size_t from = sy * static_cast<size_t>(image.width) + sx;
            const size_t to = static_cast<size_t>(y) * static_cast<size_t>(width) +
                              static_cast<size_t>(x);
            out.pixels[to] = image.pixels[from];
            out.mask[to] = image.mask[from];
        }
    }
    return out;
}

}  // namespace tavix::icons
