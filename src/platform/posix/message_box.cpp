// Without a window system, a message is a line on standard error, answered by its default
// button.
#include "platform/message_box.h"

#include <cstdio>

namespace tavix::platform {

int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
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
