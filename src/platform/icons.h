// Icons and image lists as the platform provides them.
//
// An icon handle is an HICON on Windows and the library's own icon object elsewhere (freed by
// the exported DestroyIcon). Whoever receives an icon handle owns it; image lists keep copies.
//
// Without the Windows shell the library reads icons itself (icons/icon_reader.h): .ico files
// and the icon resources of PE files, taking the image nearest 32 x 32 (the size the shell's
// ExtractIcon gives) at its own size; image lists scale what they are given to their size.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "icons/icon_reader.h"
#include "platform/module.h"

namespace tavix::platform {

using IconHandle = void*;

// The extractor's answer for a file that is not of a kind that holds icons.
inline IconHandle const kNotAnIconFile = reinterpret_cast<IconHandle>(uintptr_t{1});

inline bool IsRealIcon(IconHandle icon) { return icon != nullptr && icon != kNotAnIconFile; }

// A list of equally sized masked images.
class ImageList {
public:
    virtual ~ImageList() = default;

    // With slot -1 appends a copy of icon, otherwise replaces the image at slot with a copy;
    // returns the slot used, -1 on failure (no such slot, or not an icon). An icon of another
    // size is scaled to the list's size.
    virtual int ReplaceIcon(int slot, IconHandle icon) = 0;

    virtual int ImageCount() const = 0;

    // A new icon drawn from the image at slot; null when there is none.
    virtual IconHandle GetIcon(int slot) const = 0;

    // Removes the image at slot (-1: all); later images move down by one.
    virtual bool Remove(int slot) = 0;

    // The platform's own list, for controls that show it: an HIMAGELIST on Windows, the
    // ImageList object itself elsewhere.
    virtual void* Native() const = 0;
};

class IconSystem {
public:
    virtual ~IconSystem() = default;

    // The icon at index of an icon, executable or library file: a new icon; null when the
    // file has no icon at that index or does not exist; kNotAnIconFile when the file is not of
    // a kind that holds icons. Index N >= 0 is the N-th icon, a negative index -N the icon
    // with resource id N; index -1 (which the shell reserves for counting icons) gives null.
    virtual IconHandle ExtractIcon(ModuleHandle instance, const std::string& file, int index) = 0;

    // The icon of the file itself or of the program associated with its type: a new icon or
    // null. The platform may rewrite path and index. Without the Windows shell: null.
    virtual IconHandle ExtractAssociatedIcon(ModuleHandle instance, std::string& path,
                                             uint16_t& index) = 0;

    // An icon resource of a module at its default size: a new icon or null. Without Windows
    // resources only this library's own module (OwnModule()) has icons, the ones of
    // resources/TavixConnect.rc.
    virtual IconHandle LoadResourceIcon(ModuleHandle instance, uint32_t id) = 0;

    // Frees an icon; false for null or a handle that is not a live icon.
    virtual bool DestroyIcon(IconHandle icon) = 0;

    // A list of width x height masked images with room for initial images, growing by grow.
    virtual std::unique_ptr<ImageList> CreateImageList(int width, int height, int initial,
                                                       int grow) = 0;
};

IconSystem& Icons();

// The pixels and mask of an icon, for drawing it without the platform and for tests; nullopt
// for null or a handle that is not a live icon.
std::optional<icons::IconImage> ReadIcon(IconHandle icon);

}  // namespace tavix::platform
