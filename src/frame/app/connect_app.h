// The application object and the library's start-up and shut-down.
//
// Process-wide objects come into being in this order and go in the reverse one: the library
// context, the connection table, the application. Start-up asks for the localized resource
// library of the library's own module and makes the answer the library context's resource
// module; it runs once, before the first export does its work. Shut-down closes help (whatever
// use count the dialogs left) and releases the resource library; after it the connection table
// deletes its records without saving anything.
#pragma once

namespace tavix {

class ConnectApp {
public:
    // The resource library pattern of this library.
    static constexpr const char* kResourceLibraryPattern = "TavixConnect%s.DLL";

    // Start-up: non-zero when a resource module was chosen (the library's own or an accepted
    // localized one), 0 when none came back.
    int InitInstance();

    // Shut-down: the help use count set to 1 and one freeHelp, then FreeLocalizedResources
    // with the resource module and the library's module. Returns the exit code, 0.
    int ExitInstance();
};

// Runs start-up once per process, thread-safely, and answers whether it succeeded. Every export
// calls it before its work; after a failed start-up the exports answer as failed.
bool EnsureStarted() noexcept;

// Start-up at load, where the platform's loader allows it (not under the Windows loader lock):
// the process-wide objects are made and the resource module chosen before the loader returns,
// so the first export finds the library started. A warning start-up raises is held and shown
// by the first export instead: a message may need a window system, which must not be started
// from inside the loader.
void StartAtLoad() noexcept;

// Shut-down at unload, once, and only after a start-up. processExiting: the whole process is
// ending (not an unload of the library alone); then no other module may be called any more, so
// only the library's own memory is released.
void ShutDown(bool processExiting) noexcept;

// Whether start-up has run and shut-down has not.
bool Running() noexcept;

}  // namespace tavix
