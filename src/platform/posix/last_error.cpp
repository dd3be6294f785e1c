#include "platform/last_error.h"

#include <cerrno>

#include "platform/registry.h"

namespace tavix::platform {

void SetThreadLastError(long registryError) noexcept {
    switch (registryError) {
        case kRegOk: errno = 0; break;
        case kRegNotFound:
        case kRegKeyDeleted: errno = ENOENT; break;
        case kRegInvalidParameter:
        case kRegBadPathname: errno = EINVAL; break;
        case kRegBusy: errno = EBUSY; break;
        case kRegDiskFull: errno = ENOSPC; break;
        case kRegBadStore: errno = ENOTRECOVERABLE; break;
        case kRegAccessDenied: errno = EACCES; break;
        case kRegOutOfMemory: errno = ENOMEM; break;
        case kNoWindowSystem: errno = ENXIO; break;
        default: errno = EIO; break;
    }
}

}  // namespace tavix::platform
