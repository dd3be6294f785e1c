// The calling thread's last error, as the exports leave it for their callers.
#pragma once

namespace tavix::platform {

// Sets the thread's last error from a registry error code (0: none): on Windows the code
// itself (SetLastError), elsewhere its errno counterpart (ENOENT, EINVAL, EBUSY, ENOSPC, EIO,
// ENOTRECOVERABLE, EACCES, ENOMEM, and ENXIO for kNoWindowSystem).
void SetThreadLastError(long registryError) noexcept;

// Not a registry code: there is no window system to show a dialog in (no display, or one that
// cannot be opened). ERROR_NOT_SUPPORTED on Windows, ENXIO elsewhere.
inline constexpr long kNoWindowSystem = 50;

}  // namespace tavix::platform
