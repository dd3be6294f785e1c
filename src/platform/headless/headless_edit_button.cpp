// Edits and buttons: the edit's text limit and the button's icon. (Their text and notifications
// are every window's: see headless_window_system.cpp and headless_dialog.cpp.)
#include "platform/headless/headless_window_system.h"

#include <utility>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

// ---- Edits and buttons -------------------------------------------------------------------------
void HeadlessWindowSystem::SetTextLimit(Window edit, int maxChars) {
    if (Node* node = Find(edit)) node->edit.limit = maxChars;
}

void HeadlessWindowSystem::SelectAllText(Window) {}

IconHandle HeadlessWindowSystem::SetButtonIcon(Window button, IconHandle icon) {
    Node* node = Find(button);
    if (node == nullptr) return nullptr;
    std::swap(node->button.icon, icon);
    return icon;
}

IconHandle HeadlessWindowSystem::ButtonIcon(Window button) {
    Node* node = Find(button);
    return node ? node->button.icon : nullptr;
}

int HeadlessWindowSystem::TextLimit(Window edit) {
    Node* node = Find(edit);
    return node ? node->edit.limit : 0;
}

}  // namespace tavix::platform::headless
