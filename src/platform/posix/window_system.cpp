// The window system of a Linux desktop: the GTK 3 backend, which lives in a module of its own
// beside the library (the library never links GTK). It is looked for the first time the
// library needs a window system, and only when a display is named (DISPLAY or WAYLAND_DISPLAY)
// and the host process does not already run another GTK (2 or 4, whose symbols would clash with
// GTK 3's). A module that loads stays loaded (RTLD_NODELETE: GTK cannot be unloaded); a failure
// is remembered, so that a process without a usable display asks once. Without a window system
// dialogs cannot be created (DoModal answers -1) and messages go to standard error.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "platform/gtk/gtk_host.h"
#include "platform/module.h"
#include "platform/window_system.h"

namespace tavix::platform {

namespace {

bool Named(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Symbols only GTK 2 and only GTK 4 define: either in the process means GTK 3 must not load.
bool OtherGtkLoaded() {
    return dlsym(RTLD_DEFAULT, "gtk_object_get_type") != nullptr ||
           dlsym(RTLD_DEFAULT, "gtk_window_set_child") != nullptr;
}

std::optional<icons::IconImage> HostReadIcon(IconHandle icon) { return ReadIcon(icon); }
bool HostDestroyIcon(IconHandle icon) { return Icons().DestroyIcon(icon); }

WindowSystem* LoadGtk() {
    if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY")) return nullptr;
    if (OtherGtkLoaded()) return nullptr;
    std::string path = ModulePath(OwnModule());
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return nullptr;
    path.resize(slash + 1);
    path += gtk::kModuleFile;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (module == nullptr) return nullptr;
    auto entry = reinterpret_cast<gtk::EntryFunction>(dlsym(module, gtk::kEntrySymbol));
    static const gtk::Host host{gtk::kHostVersion, &HostReadIcon, &HostDestroyIcon};
    // The module stays mapped whatever the answer (RTLD_NODELETE); closing only drops the count.
    WindowSystem* system = entry ? entry(&host) : nullptr;
    dlclose(module);
    return system;
}

}  // namespace

WindowSystem* PlatformWindowSystem() {
    static WindowSystem* const system = LoadGtk();
    return system;
}

}  // namespace tavix::platform
