// A connection's icon as a view shows it: an image in a list of 32 x 32 icons. Image 0 of such
// a list is the default connection icon, shared by every connection without an icon file of
// its own and never replaced; a connection with an icon file has an image of its own, or the
// grey marker when the file yields no icon.
#pragma once

#include <cstdint>
#include <memory>

#include "connstring/connection_record.h"
#include "platform/icons.h"
#include "platform/module.h"

namespace tavix::icons {

// A new list of 32 x 32 icons, with room for 10 and growing by 10, that holds the default
// connection icon (resource 1011 of module) as image 0; null when the platform makes none.
std::unique_ptr<platform::ImageList> NewConnectionImageList(platform::ModuleHandle module);

// Puts the icon named by the record's iconFilename and iconIndex into images (which may be
// null) and sets imageIndex, the record's image there (-1: none), to the image it shows now:
// - no icon file, or a negative iconIndex: image 0 when the list holds it, else -1;
// - the file's icon (or, failing that, the icon associated with the file): it replaces the
//   record's own image in place when imageIndex is above 0, else it is appended;
// - the file gives no icon: the missing-icon marker (resource 1012) is appended.
// With iconOut the caller receives the icon the record now shows (a new icon, the caller's).
// Returns false when the named file gave no icon and the marker was used.
bool LoadRecordIcon(platform::ModuleHandle moduleInstance, const ConnectionRecord& record,
                    platform::ImageList* images, int32_t& imageIndex,
                    platform::IconHandle* iconOut = nullptr);

// The icon the record shows, as a new icon that the caller owns, drawn from a list of
// 32 x 32 icons as a view of the connections shows it; null when the platform makes no list.
platform::IconHandle NewRecordIcon(platform::ModuleHandle moduleInstance, const ConnectionRecord& record);

}  // namespace tavix::icons
