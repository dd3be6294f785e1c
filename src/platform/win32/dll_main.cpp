// The library's entry point on Windows: it only tells shut-down whether the library is being
// unloaded alone (FreeLibrary) or with the whole process. Start-up does not run here (see
// frame/connect_app.cpp for why, and for what shut-down may do under the loader lock).
#include <windows.h>

#include "frame/app/connect_app.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) tavix::ShutDown(reserved != nullptr);
    return TRUE;
}
