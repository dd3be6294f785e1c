// Messages as the backends build them: the named constructors pack wParam and lParam as
// Windows packs them, and each payload is read only through the accessor of its own type.
#include "platform/window_system.h"

#include <gtest/gtest.h>

#include <string>

namespace tavix::platform {
namespace {

Window FakeWindow(uintptr_t value) { return reinterpret_cast<Window>(value); }

TEST(Message, ConstructorsPackTheirArgumentsAsWindowsDoes) {
    const Window control = FakeWindow(0x1230);
    const struct {
        std::string what;
        Message message;
        unsigned kind;
        int id, code;
        Window window;
        uintptr_t wParam;
        intptr_t lParam;
        Point point;
    } cases[] = {
        {"button click", Message::Command(0x0102, control, bn::kClicked), wm::kCommand, 0x0102, 0, control,
         0x00000102u, 0x1230, {}},
        {"edit change", Message::Command(7, control, en::kChange), wm::kCommand, 7, en::kChange, control,
         0x03000007u, 0x1230, {}},
        {"from the dialog manager", Message::Command(kIdCancel, nullptr), wm::kCommand, kIdCancel, 0, nullptr,
         static_cast<uintptr_t>(kIdCancel), 0, {}},
        {"menu by mouse", Message::ContextMenu(control, {10, 20}), wm::kContextMenu, 0, 0, control, 0x1230,
         0x0014000A, {10, 20}},
        {"menu by keyboard", Message::ContextMenu(control, {-1, -1}), wm::kContextMenu, 0, 0, control, 0x1230,
         static_cast<intptr_t>(0xFFFFFFFFu), {-1, -1}},  // as MAKELPARAM packs it: -1 on 32-bit
        {"menu at a negative point", Message::ContextMenu(control, {-5, 300}), wm::kContextMenu, 0, 0, control,
         0x1230, 0x012CFFFB, {-5, 300}},
        {"help", Message::Help(12, control, {3, 4}), wm::kHelp, 12, 0, control, 0, 0, {3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.message.message, c.kind);
        EXPECT_EQ(c.message.id, c.id);
        EXPECT_EQ(c.message.code, c.code);
        EXPECT_EQ(c.message.window, c.window);
        EXPECT_EQ(c.message.wParam, c.wParam);
        EXPECT_EQ(c.message.lParam, c.lParam);
        EXPECT_EQ(c.message.point, c.point);
    }
}

TEST(Message, EachPayloadIsReadOnlyAsItsOwnType) {
    const Window control = FakeWindow(0x40);
    ListViewNotification notification;
    DrawItemRequest draw;
    draw.controlId = 5;
    draw.control = control;
    MeasureItemRequest measure;
    measure.controlId = 6;
    CompareItemRequest compare;
    compare.controlId = 7;
    compare.control = control;
    const struct {
        std::string what;
        Message message;
        unsigned kind;
        int id;
        Window window;
        const void* payload;  // the one accessor that answers must give this
    } cases[] = {
        {"notify", Message::Notify(3, control, lvn::kItemChanged, notification), wm::kNotify, 3, control,
         &notification},
        {"draw", Message::DrawItem(draw), wm::kDrawItem, 5, control, &draw},
        {"measure", Message::MeasureItem(measure), wm::kMeasureItem, 6, nullptr, &measure},
        {"compare", Message::CompareItem(compare), wm::kCompareItem, 7, control, &compare},
        {"command", Message::Command(1, control), wm::kCommand, 1, control, nullptr},
        {"plain", Message{}, 0, 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.message.message, c.kind);
        EXPECT_EQ(c.message.id, c.id);
        EXPECT_EQ(c.message.window, c.window);
        const void* answers[] = {c.message.ListView(), c.message.DrawRequest(), c.message.MeasureRequest(),
                                 c.message.CompareRequest()};
        int answered = 0;
        for (const void* answer : answers) {
            if (answer == nullptr) continue;
            ++answered;
            EXPECT_EQ(answer, c.payload);
        }
        EXPECT_EQ(answered, c.payload == nullptr ? 0 : 1);
    }
    // A message keeps the payload it was last given.
    Message message = Message::DrawItem(draw);
    message.Carry(measure);
    EXPECT_EQ(message.DrawRequest(), nullptr);
    EXPECT_EQ(message.MeasureRequest(), &measure);
}

}  // namespace
}  // namespace tavix::platform
