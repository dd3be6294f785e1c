// The Windows registry's part that other processes of the library see besides the keys.
#pragma once

#include <string>

namespace tavix::platform {

// The named mutex that the outermost batch of each of the user's processes holds, so that
// their batches never overlap: "Local\TavixConnect.Connections." and the user's SID (or, when
// it cannot be had, the user's name).
std::string StoreMutexName();

}  // namespace tavix::platform
