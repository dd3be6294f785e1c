#include "platform/message_box.h"

#include <windows.h>

#include <string>

#include "platform/window_system.h"

namespace tavix::platform {

int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
    if (WindowSystem* system = CurrentWindowSystem()) {
        return system->ShowMessage(nullptr, text, caption, style, 0);
    }
    return MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), style);
}

}  // namespace tavix::platform
