// Reading icons from .ico files and from the icon resources of PE files (.exe, .dll, .ocx,
// 32- and 64-bit), without the platform's help.
//
// An icon is a set of images of one picture in several sizes and colour depths: the whole of
// an .ico file, or one RT_GROUP_ICON resource of a PE file with the RT_ICON resources it
// names. An image is a BMP (1, 4, 8, 24 or 32 bits per pixel, followed by its AND mask) or a
// PNG.
//
// Every size, offset and count in a file is checked against the file before it is used, and
// nothing larger than kMaxImageSide or kMaxImageBytes is read or allocated, whatever the file
// says.
//
// Answers for damaged files: a file that starts like an .ico file (00 00 01 00) or like an
// executable ("MZ") but is truncated, or whose tables point outside the file, holds no icon
// (kNoIcon), as does an executable in another format than PE (a 16-bit "NE" program). A DOS
// program without a newer header, and any file with another start, is not an icon file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "resources/pe_resources.h"

namespace tavix::icons {

// Largest width or height of an image that is decoded.
inline constexpr int kMaxImageSide = 1024;
// Largest image (BMP or PNG data) that is read.
inline constexpr uint32_t kMaxImageBytes = 8u << 20;
// Images of one icon that are looked at; further entries of its directory are ignored.
inline constexpr int kMaxImagesPerIcon = 256;

// A decoded image, top row first.
struct IconImage {
    int width = 0;
    int height = 0;
    // width * height pixels, 0xAARRGGBB (blue in the low byte), alpha not premultiplied. For a
    // BMP without an alpha channel, alpha is 0 where the mask is set and 255 elsewhere.
    std::vector<uint32_t> pixels;
    // width * height values, 1 where the image is transparent (the AND mask) and 0 elsewhere.
    // For a PNG image, 1 where alpha is 0.
    std::vector<uint8_t> mask;

    bool operator==(const IconImage&) const = default;
};

// Random access to the bytes of a file or of a buffer (the PE walker's, shared with the
// resource reader).
using ByteSource = resources::ByteSource;
using MemorySource = resources::MemorySource;

enum class FileKind { kNotIconFile, kIco, kPe };

// What a file is, by its first bytes.
FileKind DetectKind(const ByteSource& file);

enum class Answer {
    kIcon,         // an icon was read
    kNoIcon,       // no icon at this index (or a damaged file)
    kNotIconFile,  // the file is not of a kind that holds icons
};

// The number of icons in a file: 0 or 1 for an .ico file, the number of RT_GROUP_ICON
// resources of a PE file; nullopt for a file that is not an icon file.
std::optional<int> CountIcons(const ByteSource& file);

// Icon index: in an .ico file only index 0 names an icon. In a PE file index N >= 0 names the
// N-th RT_GROUP_ICON resource in the order of the resource directory (named resources first,
// then those with numeric ids, as the directory stores them); a negative index -N names the
// RT_GROUP_ICON whose resource id is N. Index -1 names no icon.

struct Extracted {
    Answer answer = Answer::kNoIcon;
    IconImage image;  // when answer is kIcon
};

// The image of the icon at index whose size is nearest to size x size (the sum of the width
// and height differences; among equally near images the colour depth nearest 32 bits, then the
// first in the icon's directory). The image is returned at its own size. An image that does
// not decode is passed over for the next nearest.
Extracted ExtractIcon(const ByteSource& file, int index, int size = 32);

struct IconImages {
    Answer answer = Answer::kNoIcon;
    // Every image of the icon in the order of its directory; nullopt for one that does not
    // decode (or whose data is not in the file).
    std::vector<std::optional<IconImage>> images;
};

// Every image of the icon at index. The answer is kIcon when the icon exists, even if none of
// its images decodes.
IconImages ReadIconImages(const ByteSource& file, int index);

// Decodes one image: BMP data (a BITMAPINFOHEADER, colour table, XOR bits and AND mask, the
// height field counting both) or a PNG file.
std::optional<IconImage> DecodeImage(std::span<const uint8_t> data);

// Scales an image to width x height by picking the nearest source pixel; an empty image when
// either size is not in 1..kMaxImageSide or the image is not well formed.
IconImage ScaleNearest(const IconImage& image, int width, int height);

}  // namespace tavix::icons
