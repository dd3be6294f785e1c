// Automation strings (BSTR): length-prefixed wide strings that cross the library boundary.
#pragma once

#include <cstdint>

#include "TavixConnect.h"
#include "frame/context/wide.h"

namespace tavix::platform {

// A new BSTR holding length characters copied from text (uninitialised but zero-terminated
// when text is null); null when the allocation fails or the length cannot be represented.
BSTR AllocString(const WChar* text, uint32_t length) noexcept;

// Frees a BSTR; null is allowed.
void FreeString(BSTR text) noexcept;

// Length in characters; 0 for null.
uint32_t StringLength(BSTR text) noexcept;

}  // namespace tavix::platform
