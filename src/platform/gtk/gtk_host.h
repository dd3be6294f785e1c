// The boundary between the library and its GTK 3 window system, which lives in a module of its
// own (libTavixConnect-gtk3.so) so that the library itself never links GTK. The library loads the
// module by its file name from its own directory and calls the one C entry point with the
// services the backend needs from it; the answer is the window system, or null when GTK cannot
// run here (no display, a display that cannot be opened).
#pragma once

#include <cstdint>
#include <optional>

#include "icons/icon_reader.h"
#include "platform/icons.h"

namespace tavix::platform {
class WindowSystem;
}

namespace tavix::platform::gtk {

// Bumped whenever Host changes: a module of another version refuses to start.
inline constexpr int kHostVersion = 2;

// What the backend asks of the library. Both sides are built from one tree with one compiler,
// so C++ types cross the boundary.
struct Host {
    int version = kHostVersion;
    // An icon's pixels (ImageList::GetIcon hands out icons the backend then destroys).
    std::optional<icons::IconImage> (*readIcon)(IconHandle icon) = nullptr;
    bool (*destroyIcon)(IconHandle icon) = nullptr;
};

inline constexpr const char kModuleFile[] = "libTavixConnect-gtk3.so";
inline constexpr const char kEntrySymbol[] = "tavix_gtk3_window_system";
using EntryFunction = WindowSystem* (*)(const Host* host);

}  // namespace tavix::platform::gtk
