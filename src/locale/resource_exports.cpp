// The exported resource-library functions. Like the help functions they run in the caller's
// current context: GetLocalizedResources is given its program module.
#include "TavixConnect.h"
#include "frame/app/connect_app.h"
#include "locale/localized_resources.h"

extern "C" {

TAVIXCONNECT_EXPORT HMODULE TAVIXAPI GetLocalizedResources(const char* fileNamePattern,
                                                           HMODULE programModule) {
    if (!tavix::EnsureStarted()) return programModule;
    try {
        return static_cast<HMODULE>(tavix::locale::GetLocalizedResources(fileNamePattern, programModule));
    } catch (...) {
        // Out of memory: the program's own resources.
        return programModule;
    }
}

TAVIXCONNECT_EXPORT void TAVIXAPI FreeLocalizedResources(HMODULE resourceModule, HMODULE programModule) {
    tavix::EnsureStarted();
    tavix::locale::FreeLocalizedResources(resourceModule, programModule);
}

}  // extern "C"
