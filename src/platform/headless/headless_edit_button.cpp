// Edits and buttons: the edit's text limit and the button's icon. (Their text and notifications
// are every window's: see headless_window_system.cpp and headless_dialog.cpp.)
#include "platform/headless/headless_window_system.h"

#include <utility>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

// ---- Edits and buttons -------------------------------------------------------------------------
void HeadlessWindowSystem::SetTextLimit(Window edit, int maxChars) {
    if (auto* state = internal::StateOf<internal::EditControl>(Find(edit))) state->limit = maxChars;
}

void HeadlessWindowSystem::SelectAllText(Window) {}

IconHandle HeadlessWindowSystem::SetButtonIcon(Window button, IconHandle icon) {
    auto* state = internal::StateOf<internal::ButtonControl>(Find(button));
    if (state == nullptr) return nullptr;
    std::swap(state->icon, icon);
    return icon;
}

IconHandle HeadlessWindowSystem::ButtonIcon(Window button) {
    const auto* state = internal::StateOf<internal::ButtonControl>(Find(button));
    return state ? state->icon : nullptr;
}

int HeadlessWindowSystem::TextLimit(Window edit) {
    const auto* state = internal::StateOf<internal::EditControl>(Find(edit));
    return state ? state->limit : 0;
}

}  // namespace tavix::platform::headless
