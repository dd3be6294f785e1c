// Messages go to the installed window system; without one, a message is a line on standard error, answered by its default
// button.
#include "platform/message_box.h"

#include <cstdio>

#include "platform/window_system.h"

namespace tavix::platform {

int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
    if (WindowSystem* system = CurrentWindowSystem()) {
        return system->ShowMessage(nullptr, text, caption, style, 0);
    }
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    switch (style & 0x0F) {
        case kMbYesNo:
        case kMbYesNoCancel:
            return kIdYes;
        default:
            return kIdOk;
    }
}

}  // namespace tavix::platform
