// The four exported help functions. They run in the caller's current context (the library's
// own when its dialogs call, the calling program's otherwise), so they make no call frame of
// their own; failures (an allocation that failed) are answered as "no help". Like every
// export they run after the library's start-up.
#include "TavixConnect.h"
#include "frame/app/connect_app.h"
#include "locale/help.h"

extern "C" {

TAVIXCONNECT_EXPORT char* TAVIXAPI getHelpDir(char* moduleFileName) {
    tavix::EnsureStarted();
    return const_cast<char*>(tavix::help::GetHelpDir(moduleFileName));
}

TAVIXCONNECT_EXPORT int TAVIXAPI initHelp(char* helpFile, const char* format) {
    tavix::EnsureStarted();
    try {
        return tavix::help::InitHelp(helpFile, format);
    } catch (...) {
        if (helpFile != nullptr) helpFile[0] = '\0';
        return 0;
    }
}

TAVIXCONNECT_EXPORT int TAVIXAPI callHelp(HWND window, const char* file, unsigned command,
                                          uintptr_t data) {
    tavix::EnsureStarted();
    return tavix::help::CallHelp(window, file, command, data);
}

TAVIXCONNECT_EXPORT int TAVIXAPI freeHelp(void) {
    tavix::EnsureStarted();
    return tavix::help::FreeHelp();
}

}  // extern "C"
