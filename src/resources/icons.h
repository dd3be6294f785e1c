// The library's own icon resources as compiled into the library where there are no Windows
// resources: the .ico files named by icons.rc, by resource id.
#pragma once

#include <cstdint>
#include <span>

namespace tavix::resources {

// The bytes of the .ico file of icon resource id; empty when there is none.
std::span<const uint8_t> EmbeddedIcon(uint32_t id);

}  // namespace tavix::resources
