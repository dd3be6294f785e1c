// Icons without a window system: an icon is the library's own object holding a decoded image,
// read from .ico and PE files by the library's icon reader. Icon handles point at such
// objects; the library keeps the set of live ones, so that DestroyIcon (exported, with the
// Windows semantics) and everything else taking a handle refuse one that is not live.
#include "platform/icons.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "TavixConnect.h"
#include "resources/icons.h"

// The object an HICON points at.
struct HICON__ {
    tavix::icons::IconImage image;
};

namespace tavix::platform {

namespace {

// The icons handed out and not yet destroyed. Handle calls may come from any thread of the
// client, so the set is guarded.
class LiveIcons {
public:
    IconHandle Add(icons::IconImage image) {
        auto icon = std::make_unique<HICON__>(HICON__{std::move(image)});
        HICON__* handle = icon.get();
        const std::lock_guard lock(mutex_);
        icons_.emplace(handle, std::move(icon));
        return handle;
    }

    bool Destroy(IconHandle handle) {
        std::unique_ptr<HICON__> icon;  // freed outside the lock
        const std::lock_guard lock(mutex_);
        const auto found = icons_.find(static_cast<HICON__*>(handle));
        if (found == icons_.end()) return false;
        icon = std::move(found->second);
        icons_.erase(found);
        return true;
    }

    std::optional<icons::IconImage> Copy(IconHandle handle) const {
        const std::lock_guard lock(mutex_);
        const auto found = icons_.find(static_cast<HICON__*>(handle));
        if (found == icons_.end()) return std::nullopt;
        return found->second->image;
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<HICON__*, std::unique_ptr<HICON__>> icons_;
};

LiveIcons& Live() {
    static LiveIcons live;
    return live;
}

// A file read through its descriptor at given offsets.
class FileSource final : public icons::ByteSource {
public:
    explicit FileSource(const std::string& path)
        : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (fd_ >= 0 && fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
            size_ = static_cast<uint64_t>(info.st_size);
            regular_ = true;
        }
    }
    ~FileSource() override {
        if (fd_ >= 0) close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Whether the file could be opened and is a regular file.
    bool ok() const { return regular_; }

    uint64_t Size() const override { return size_; }

    bool Read(uint64_t offset, void* out, size_t size) const override {
        if (!regular_ || offset > size_ || size > size_ - offset) return false;
        auto* bytes = static_cast<char*>(out);
        while (size > 0) {
            const ssize_t got = pread(fd_, bytes, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // an error, or the file shrank
            bytes += got;
            size -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_ = 0;
    bool regular_ = false;
};

// The size the shell gives icons that it extracts (the system's large icon size).
constexpr int kExtractSize = 32;
// Image lists larger than this are refused, as is a room for more images than this.
constexpr int kMaxListImages = 1 << 16;

class PosixImageList final : public ImageList {
public:
    PosixImageList(int width, int height, int initial)
        : width_(width), height_(height) {
        images_.reserve(static_cast<size_t>(std::clamp(initial, 0, kMaxListImages)));
    }

    int ReplaceIcon(int slot, IconHandle icon) override {
        if (slot < -1 || slot >= ImageCount()) return -1;
        auto image = Live().Copy(icon);
        if (!image) return -1;
        if (image->width != width_ || image->height != height_) {
            *image = icons::ScaleNearest(*image, width_, height_);
        }
        if (slot == -1) {
            if (ImageCount() >= kMaxListImages) return -1;
            images_.push_back(std::move(*image));
            return ImageCount() - 1;
        }
        images_[static_cast<size_t>(slot)] = std::move(*image);
        return slot;
    }

    int ImageCount() const override { return static_cast<int>(images_.size()); }

    IconHandle GetIcon(int slot) const override {
        if (slot < 0 || slot >= ImageCount()) return nullptr;
        return Live().Add(images_[static_cast<size_t>(slot)]);
    }

    bool Remove(int slot) override {
        if (slot == -1) {
            images_.clear();
            return true;
        }
        if (slot < 0 || slot >= ImageCount()) return false;
        images_.erase(images_.begin() + slot);
        return true;
    }

    void* Native() const override { return const_cast<PosixImageList*>(this); }

private:
    int width_;
    int height_;
    std::vector<icons::IconImage> images_;
};

class PosixIcons final : public IconSystem {
public:
    IconHandle ExtractIcon(ModuleHandle, const std::string& file, int index) override {
        const FileSource source(file);
        if (!source.ok()) return nullptr;  // missing, unreadable or not a file
        auto extracted = icons::ExtractIcon(source, index, kExtractSize);
        switch (extracted.answer) {
            case icons::Answer::kIcon:
                return Live().Add(std::move(extracted.image));
            case icons::Answer::kNotIconFile:
                return kNotAnIconFile;
            case icons::Answer::kNoIcon:
                break;
        }
        return nullptr;
    }

    IconHandle ExtractAssociatedIcon(ModuleHandle, std::string&, uint16_t&) override {
        // No association of file types with programs here yet.
        return nullptr;
    }

    IconHandle LoadResourceIcon(ModuleHandle instance, uint32_t id) override {
        if (instance == nullptr || instance != OwnModule()) return nullptr;
        const std::span<const uint8_t> bytes = resources::EmbeddedIcon(id);
        if (bytes.empty()) return nullptr;
        const icons::MemorySource source(bytes);
        auto extracted = icons::ExtractIcon(source, 0, kExtractSize);
        if (extracted.answer != icons::Answer::kIcon) return nullptr;
        return Live().Add(std::move(extracted.image));
    }

    bool DestroyIcon(IconHandle icon) override { return Live().Destroy(icon); }

    std::unique_ptr<ImageList> CreateImageList(int width, int height, int initial,
                                               int) override {
        if (width <= 0 || height <= 0 || width > icons::kMaxImageSide ||
            height > icons::kMaxImageSide) {
            return nullptr;
        }
        return std::make_unique<PosixImageList>(width, height, initial);
    }
};

}  // namespace

IconSystem& Icons() {
    static PosixIcons icons;
    return icons;
}

std::optional<icons::IconImage> ReadIcon(IconHandle icon) {
    if (icon == nullptr) return std::nullopt;
    return Live().Copy(icon);
}

}  // namespace tavix::platform

extern "C" TAVIXCONNECT_EXPORT int DestroyIcon(HICON icon) {
    return tavix::platform::Live().Destroy(icon) ? 1 : 0;
}
