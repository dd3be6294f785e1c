#include "platform/last_error.h"

#include <windows.h>

namespace tavix::platform {

void SetThreadLastError(long registryError) noexcept { SetLastError(static_cast<DWORD>(registryError)); }

}  // namespace tavix::platform
