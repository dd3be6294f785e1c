// Message tables: each dialog or control class maps (message, notification code, control id)
// to one of its handler methods.
//
// A class with a table defines
//
//     static const frame::MessageMap* ClassMap();
//     const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }
//
// and builds its table from the entry helpers below, naming its base class's ClassMap() as the
// next table to search:
//
//     const frame::MessageMap* MyDialog::ClassMap() {
//         static constexpr frame::MessageEntry entries[] = {
//             frame::OnCommand<&MyDialog::OnBrowse>(4),
//             frame::OnNotify<&MyDialog::OnItemChanged>(5, platform::lvn::kItemChanged),
//             frame::OnMessage<&MyDialog::OnDestroy>(platform::wm::kDestroy),
//         };
//         static const frame::MessageMap map{Dialog::ClassMap(), entries};
//         return &map;
//     }
//
// A handler is a member function of one of three shapes: void(), void(const Message&) or
// intptr_t(const Message&); the first two answer 0. The first entry that matches, searching the
// class's own table before its base's, handles the message.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>

#include "platform/window_system.h"

namespace tavix::frame {

using platform::Message;

class MessageTarget;
using MessageThunk = intptr_t (*)(MessageTarget& target, const Message& message);

inline constexpr int kAnyId = INT32_MIN;

struct MessageEntry {
    unsigned message = 0;
    int code = 0;         // WM_COMMAND / WM_NOTIFY: the notification code
    int id = kAnyId;      // WM_COMMAND / WM_NOTIFY / owner-draw: the control id, or any
    bool reflected = false;  // a control's own notification, reflected back to its class
    MessageThunk thunk = nullptr;
};

struct MessageMap {
    const MessageMap* base = nullptr;
    std::span<const MessageEntry> entries;
};

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual const MessageMap* GetMessageMap() const { return nullptr; }

    // The entry that handles message, searching this class's table first; reflected selects
    // the entries for notifications reflected back to a control.
    const MessageEntry* FindEntry(const Message& message, bool reflected) const;

    // Runs the handler for message when the table has one.
    bool Dispatch(const Message& message, bool reflected, intptr_t& result);
};

namespace detail {

template <class Method>
struct MethodTraits;
template <class C, class R>
struct MethodTraits<R (C::*)()> {
    using Class = C;
    static constexpr bool kTakesMessage = false;
};
template <class C, class R>
struct MethodTraits<R (C::*)(const Message&)> {
    using Class = C;
    static constexpr bool kTakesMessage = true;
};

template <auto Method>
intptr_t Invoke(MessageTarget& target, const Message& message) {
    using Traits = MethodTraits<decltype(Method)>;
    auto& self = static_cast<typename Traits::Class&>(target);
    if constexpr (Traits::kTakesMessage) {
        if constexpr (std::is_void_v<decltype((self.*Method)(message))>) {
            (self.*Method)(message);
            return 0;
        } else {
            return static_cast<intptr_t>((self.*Method)(message));
        }
    } else {
        if constexpr (std::is_void_v<decltype((self.*Method)())>) {
            (self.*Method)();
            return 0;
        } else {
            return static_cast<intptr_t>((self.*Method)());
        }
    }
}

}  // namespace detail

// WM_COMMAND from control (or menu item) id with a notification code (BN_CLICKED by default).
template <auto Method>
constexpr MessageEntry OnCommand(int id, int code = platform::bn::kClicked) {
    return {platform::wm::kCommand, code, id, false, &detail::Invoke<Method>};
}

// WM_NOTIFY from control id with a notification code.
template <auto Method>
constexpr MessageEntry OnNotify(int id, int code) {
    return {platform::wm::kNotify, code, id, false, &detail::Invoke<Method>};
}

// Any other message (WM_HELP, WM_CONTEXTMENU, WM_CLOSE, WM_DESTROY, owner-draw requests for
// any control, a control's own WM_KEYDOWN ...), optionally for one control id.
template <auto Method>
constexpr MessageEntry OnMessage(unsigned message, int id = kAnyId) {
    return {message, 0, id, false, &detail::Invoke<Method>};
}

// In a control's table: its own WM_COMMAND / WM_NOTIFY notification, reflected back to it by
// the dialog before the dialog's own table is searched; handled there, the dialog never sees it.
template <auto Method>
constexpr MessageEntry OnReflected(unsigned message, int code) {
    return {message, code, kAnyId, true, &detail::Invoke<Method>};
}

}  // namespace tavix::frame
