// Modal messages to the user.
#pragma once

#include <string_view>

namespace tavix::platform {

// Message box styles and answers as Windows numbers them.
enum MessageBoxStyle : unsigned {
    kMbOk = 0x00,
    kMbYesNoCancel = 0x03,
    kMbYesNo = 0x04,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
};
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Shows a modal message box with no owner window and returns the button pressed. It goes to the
// current window system (window_system.h) when one is installed; without one the text goes to
// standard error and the answer is the default button's.
int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style);

}  // namespace tavix::platform
