// The Windows dialog manager as the library's window system.
//
// Not yet connected: until it is, dialogs cannot be created here either (DoModal answers -1)
// and message boxes are the system's own (MessageBoxA).
#include "platform/window_system.h"

namespace tavix::platform {

WindowSystem* PlatformWindowSystem() { return nullptr; }

}  // namespace tavix::platform
