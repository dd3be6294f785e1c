#include "platform/window_system.h"

namespace tavix::platform {

namespace {

struct Current {
    bool chosen = false;
    WindowSystem* system = nullptr;
};

Current& State() {
    static Current current;
    return current;
}

}  // namespace

WindowSystem* CurrentWindowSystem() {
    Current& current = State();
    if (!current.chosen) {
        current.system = PlatformWindowSystem();
        current.chosen = true;
    }
    return current.system;
}

WindowSystem* InstallWindowSystem(WindowSystem* system) {
    WindowSystem* previous = CurrentWindowSystem();
    State().system = system;
    return previous;
}

}  // namespace tavix::platform
