// Icons on Windows: the shell's icon extraction, LoadImageA, and the common controls' image
// lists. Handles are HICONs and HIMAGELISTs.
#include "platform/icons.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

// The shell's names for its ANSI or wide functions would rename the interface's methods.
#undef ExtractIcon
#undef ExtractAssociatedIcon

#include <algorithm>
#include <vector>

namespace tavix::platform {

namespace {

HICON AsIcon(IconHandle icon) { return static_cast<HICON>(icon); }

class Win32ImageList final : public ImageList {
public:
    explicit Win32ImageList(HIMAGELIST list) : list_(list) {}
    ~Win32ImageList() override { ImageList_Destroy(list_); }
    Win32ImageList(const Win32ImageList&) = delete;
    Win32ImageList& operator=(const Win32ImageList&) = delete;

    int ReplaceIcon(int slot, IconHandle icon) override {
        // The common controls take any slot below the list's room; only an image's is one.
        if (!IsRealIcon(icon) || slot < -1 || slot >= ImageCount()) return -1;
        return ImageList_ReplaceIcon(list_, slot, AsIcon(icon));
    }

    int ImageCount() const override { return ImageList_GetImageCount(list_); }

    IconHandle GetIcon(int slot) const override {
        if (slot < 0 || slot >= ImageCount()) return nullptr;
        return ImageList_GetIcon(list_, slot, ILD_NORMAL);
    }

    bool Remove(int slot) override {
        if (slot < -1 || slot >= ImageCount()) return false;
        return ImageList_Remove(list_, slot) != FALSE;
    }

    void* Native() const override { return list_; }

private:
    HIMAGELIST list_;
};

class Win32Icons final : public IconSystem {
public:
    IconHandle ExtractIcon(ModuleHandle instance, const std::string& file, int index) override {
        // The shell answers index -1 with the number of icons, which is no handle.
        if (index == -1) return nullptr;
        return ExtractIconA(static_cast<HINSTANCE>(instance), file.c_str(),
                            static_cast<UINT>(index));
    }

    IconHandle ExtractAssociatedIcon(ModuleHandle instance, std::string& path,
                                     uint16_t& index) override {
        // The shell may write a path of up to MAX_PATH characters into the buffer.
        std::vector<char> buffer(std::max<size_t>(MAX_PATH + 1, path.size() + 1), '\0');
        std::copy(path.begin(), path.end(), buffer.begin());
        WORD word = index;
        HICON icon =
            ExtractAssociatedIconA(static_cast<HINSTANCE>(instance), buffer.data(), &word);
        buffer.back() = '\0';
        path.assign(buffer.data());
        index = word;
        return icon;
    }

    IconHandle LoadResourceIcon(ModuleHandle instance, uint32_t id) override {
        if (id > 0xFFFF) return nullptr;  // not a resource number
        return LoadImageA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(id), IMAGE_ICON, 0,
                          0, LR_DEFAULTCOLOR);
    }

    bool DestroyIcon(IconHandle icon) override {
        return IsRealIcon(icon) && ::DestroyIcon(AsIcon(icon)) != FALSE;
    }

    std::unique_ptr<ImageList> CreateImageList(int width, int height, int initial,
                                               int grow) override {
        HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, initial, grow);
        if (list == nullptr) return nullptr;
        return std::make_unique<Win32ImageList>(list);
    }
};

// A screen device context, released on every way out.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// The two bitmaps GetIconInfo hands over, deleted on every way out.
class IconBitmaps {
public:
    explicit IconBitmaps(const ICONINFO& info) : mask_(info.hbmMask), colour_(info.hbmColor) {}
    ~IconBitmaps() {
        if (mask_ != nullptr) DeleteObject(mask_);
        if (colour_ != nullptr) DeleteObject(colour_);
    }
    IconBitmaps(const IconBitmaps&) = delete;
    IconBitmaps& operator=(const IconBitmaps&) = delete;
    HBITMAP mask() const { return mask_; }
    HBITMAP colour() const { return colour_; }

private:
    HBITMAP mask_;
    HBITMAP colour_;
};

// The rows of a bitmap as 32-bit pixels, top row first.
bool ReadBitmap(HDC dc, HBITMAP bitmap, int width, int height, std::vector<uint32_t>& out) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    out.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    return GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), out.data(), &info,
                     DIB_RGB_COLORS) == height;
}

}  // namespace

IconSystem& Icons() {
    static Win32Icons icons;
    return icons;
}

std::optional<icons::IconImage> ReadIcon(IconHandle icon) {
    if (!IsRealIcon(icon)) return std::nullopt;
    ICONINFO info{};
    if (!GetIconInfo(AsIcon(icon), &info)) return std::nullopt;
    const IconBitmaps bitmaps(info);
    BITMAP mask{};
    if (GetObjectA(bitmaps.mask(), sizeof mask, &mask) == 0) return std::nullopt;
    // A monochrome icon keeps its AND and XOR bits one above the other in the mask bitmap.
    const int width = mask.bmWidth;
    const int maskHeight = mask.bmHeight;
    const int height = bitmaps.colour() != nullptr ? maskHeight : maskHeight / 2;
    if (width <= 0 || height <= 0 || width > icons::kMaxImageSide ||
        height > icons::kMaxImageSide) {
        return std::nullopt;
    }

    const ScreenDc dc;
    std::vector<uint32_t> maskRows;
    if (!ReadBitmap(dc.get(), bitmaps.mask(), width, maskHeight, maskRows)) return std::nullopt;
    std::vector<uint32_t> colour;
    if (bitmaps.colour() != nullptr) {
        if (!ReadBitmap(dc.get(), bitmaps.colour(), width, height, colour)) return std::nullopt;
    } else {
        // The XOR half, white or black.
        colour.assign(maskRows.begin() + static_cast<ptrdiff_t>(width) * height, maskRows.end());
    }

    icons::IconImage image;
    image.width = width;
    image.height = height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    image.pixels.resize(count);
    image.mask.resize(count);
    bool anyAlpha = false;
    for (size_t i = 0; i < count; ++i) {
        image.mask[i] = (maskRows[i] & 0x00FFFFFFu) != 0 ? 1 : 0;
        anyAlpha = anyAlpha || (colour[i] >> 24) != 0;
    }
    for (size_t i = 0; i < count; ++i) {
        image.pixels[i] = anyAlpha ? colour[i]
                                   : (colour[i] & 0x00FFFFFFu) | (image.mask[i] ? 0u : 0xFF000000u);
    }
    return image;
}

}  // namespace tavix::platform
