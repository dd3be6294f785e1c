// The library's own icon resources (IDI_CONNECTION, IDI_MISSING of resources/resource.h) where
// there are no Windows resources: rebuilt as .ico files from the compiled-in resources.
#pragma once

#include <cstdint>
#include <span>

namespace tavix::resources {

// The bytes of an .ico file holding icon resource id; empty when there is none. The bytes stay
// valid for the life of the process.
std::span<const uint8_t> EmbeddedIcon(uint32_t id);

}  // namespace tavix::resources
