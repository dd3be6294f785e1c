// No window system of the platform's own here: until one is installed, dialogs cannot be
// created (DoModal answers -1) and messages go to standard error.
#include "platform/window_system.h"

namespace tavix::platform {

WindowSystem* PlatformWindowSystem() { return nullptr; }

}  // namespace tavix::platform
