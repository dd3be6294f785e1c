// Messages as the backends build them: the named constructors pack wParam and lParam as
// Windows packs them, and each payload is read only through the accessor of its own type.
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
        {"from the dialog manager", Message::Command(kIdCancel, nullptr), "111 2 0 0 2 0 0,0"},
        {"menu by mouse", Message::ContextMenu(control, {10, 20}), "7b 0 0 1230 1230 14000a 10,20"},
        // As MAKELPARAM packs it: -1 on 32-bit.
        {"menu by keyboard", Message::ContextMenu(control, {-1, -1}), "7b 0 0 1230 1230 ffffffff -1,-1"},
        {"menu at a negative point", Message::ContextMenu(control, {-5, 300}), "7b 0 0 1230 1230 12cfffb -5,300"},
        {"help", Message::Help(12, control, {3, 4}), "53 c 0 1230 0 0 3,4"},
    };
    for (const auto& c : cases) EXPECT_EQ(Describe(c.message), c.expected) << c.what;
}

TEST(Message, EachPayloadIsReadOnlyAsItsOwnType) {
    const auto control = reinterpret_cast<Window>(uintptr_t{0x40});
    ListViewNotification notification;
    DrawItemRequest draw;
    draw.controlId = 5;
    draw.control = control;
    MeasureItemRequest measure;
    measure.controlId = 6;
    CompareItemRequest compare;
    compare.controlId = 7;
    compare.control = control;
    // accessor: the one of ListView, DrawRequest, MeasureRequest, CompareRequest that answers (-1: none).
    struct Case { Message message; unsigned kind; int id; Window window; int accessor; const void* payload; };
    const Case cases[] = {
        {Message::Notify(3, control, lvn::kItemChanged, notification), wm::kNotify, 3, control, 0, &notification},
        {Message::DrawItem(draw), wm::kDrawItem, 5, control, 1, &draw},
        {Message::MeasureItem(measure), wm::kMeasureItem, 6, nullptr, 2, &measure},
        {Message::CompareItem(compare), wm::kCompareItem, 7, control, 3, &compare},
        {Message::Command(1, control), wm::kCommand, 1, control, -1, nullptr},
        {Message{}, 0, 0, nullptr, -1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(c.message.message, c.kind);
        EXPECT_EQ(c.message.id, c.id);
        EXPECT_EQ(c.message.window, c.window);
        const void* answers[] = {c.message.ListView(), c.message.DrawRequest(), c.message.MeasureRequest(),
                                 c.message.CompareRequest()};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(answers[i], i == c.accessor ? c.payload : nullptr) << i;
    }
    // A message keeps the payload it was last given.
    Message message = Message::DrawItem(draw);
    message.Carry(measure);
    EXPECT_EQ(message.DrawRequest(), nullptr);
    EXPECT_EQ(message.MeasureRequest(), &measure);
}

}  // namespace
}  // namespace tavix::platform
