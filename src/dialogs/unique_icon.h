// Sole owner of an icon handle, as the dialogs pass icons between each other and to the caller.
#pragma once

#include <cstdint>

#include "platform/icons.h"

namespace tavix {

// Where a dialog or the caller hands an icon over, 0 means "no icon" and 1 "no icon wanted";
// neither is ever destroyed.
inline platform::IconHandle const kNoIconWanted = reinterpret_cast<platform::IconHandle>(uintptr_t{1});

inline bool IsOwnedIcon(platform::IconHandle icon) { return icon != nullptr && icon != kNoIconWanted; }

class UniqueIcon {
public:
    UniqueIcon() noexcept = default;
    explicit UniqueIcon(platform::IconHandle icon) noexcept : icon_(icon) {}
    UniqueIcon(UniqueIcon&& other) noexcept : icon_(other.release()) {}
    UniqueIcon& operator=(UniqueIcon&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueIcon() { reset(); }

    platform::IconHandle get() const noexcept { return icon_; }
    platform::IconHandle release() noexcept {
        platform::IconHandle icon = icon_;
        icon_ = nullptr;
        return icon;
    }
    // Destroys the icon held (unless it is 0 or 1) and holds icon instead.
    void reset(platform::IconHandle icon = nullptr) noexcept {
        platform::IconHandle old = icon_;
        icon_ = icon;
        if (IsOwnedIcon(old) && old != icon) platform::Icons().DestroyIcon(old);
    }

private:
    platform::IconHandle icon_ = nullptr;
};

}  // namespace tavix
