#include "platform/message_box.h"

#include <windows.h>

#include <string>

namespace tavix::platform {

int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
    return MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), style);
}

}  // namespace tavix::platform
