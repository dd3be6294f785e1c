// The calling thread's last error, as the exports leave it for their callers.
#pragma once

namespace tavix::platform {

// Sets the thread's last error from a registry error code (0: none): on Windows the code
// itself (SetLastError), elsewhere its errno counterpart (ENOENT, EINVAL, EBUSY, ENOSPC, EIO,
// ENOTRECOVERABLE, EACCES, ENOMEM).
void SetThreadLastError(long registryError) noexcept;

}  // namespace tavix::platform
