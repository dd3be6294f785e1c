// Messages as the backends build them: the named constructors pack wParam and lParam as
// Windows packs them. (That each payload reaches its handler: the dialogs' stories.)
#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tavix::platform {
namespace {

// "message id code window wParam lParam" in hex, then the point.
std::string Describe(const Message& m) {
    std::ostringstream out;
    out << std::hex << m.message << " " << m.id << " " << m.code << " " << reinterpret_cast<uintptr_t>(m.window)
        << " " << m.wParam << " " << m.lParam << " " << std::dec << m.point.x << "," << m.point.y;
    return out.str();
}

TEST(Message, ConstructorsPackTheirArgumentsAsWindowsDoes) {
    const auto control = reinterpret_cast<Window>(uintptr_t{0x1230});
    const struct { std::string what; Message message; std::string expected; } cases[] = {
        {"button click", Message::Command(0x0102, control, bn::kClicked), "111 102 0 1230 102 1230 0,0"},
        {"edit change", Message::Command(7, control, en::kChange), "111 7 300 1230 3000007 1230 0,0"},
        {"menu by mouse", Message::ContextMenu(control, {10, 20}), "7b 0 0 1230 1230 14000a 10,20"},
        // As MAKELPARAM packs it: -1 on 32-bit.
        {"menu by keyboard", Message::ContextMenu(control, {-1, -1}), "7b 0 0 1230 1230 ffffffff -1,-1"},
        {"help", Message::Help(12, control, {3, 4}), "53 c 0 1230 0 0 3,4"},
    };
    for (const auto& c : cases) EXPECT_EQ(Describe(c.message), c.expected) << c.what;
}

}  // namespace
}  // namespace tavix::platform
