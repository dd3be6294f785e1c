#include "frame/app/connect_app.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context/library_context.h"
#include "locale/help.h"
#include "locale/localized_resources.h"
#include "store/connection_table.h"

// When start-up and shut-down run.
//
// Start-up loads a library and may show message boxes (a resource library that cannot be
// trusted, a library without version). On Windows neither may happen under the loader lock,
// which DllMain and the constructors of a DLL's static objects run under. So start-up does not
// run at load there: it runs once, under a lock, when the first export is called (RunExport,
// and the exports that run in the caller's context), before that export does anything. Where
// the loader holds no such lock (POSIX), the library's constructor runs start-up at load
// (StartAtLoad), as the library's lifecycle puts it, and only the warnings wait for the first
// export. Loading the library never fails; when start-up fails, every export answers as failed.
//
// Shut-down runs at unload. On Windows that is DLL_PROCESS_DETACH, again under the loader
// lock, and static destructors of a DLL run there too, so an atexit handler or a destructor
// would gain nothing. Its steps are safe there: freeHelp calls the help viewer only when one
// is bound (the library never binds one); FreeLocalizedResources unloads nothing; deleting the
// table's records frees memory and the image list. Nothing loads or frees a library, waits for
// a thread or shows a window. When the detach comes from process exit (lpReserved not null),
// other threads are gone and other DLLs may already be detached: then only the library's own
// memory is released and no other module (a help viewer) is called. DllMain reports which case
// it is; the application object's destructor runs the shut-down when DllMain has not (and is
// the shut-down where there is no DllMain: at dlclose or at exit on POSIX). The application is
// made after the library context and the connection table, so it goes before them: the table
// deletes its records, without saving, after the shut-down steps.

namespace tavix {

namespace {

enum class Stage { kNotStarted, kRunning, kFailed, kShutDown };

class Application {
public:
    Application() {
        // The objects the application outlives are made first.
        Library();
        Connections();
    }
    ~Application() { Stop(false); }

    // Runs InitInstance once; a thread that comes while it runs waits for it. (A mutex, not
    // std::call_once: pthread_once wakes waiters with a system call even when there are none.)
    void Start() {
        std::lock_guard guard(starting_);
        if (stage_.load(std::memory_order_relaxed) != Stage::kNotStarted) return;
        int result = 0;
        try {
            result = app_.InitInstance();
        } catch (...) {
            result = 0;
        }
        if (result == 0) {
            app_.ExitInstance();
            stage_.store(Stage::kFailed, std::memory_order_release);
        } else {
            stage_.store(Stage::kRunning, std::memory_order_release);
        }
    }

    void Stop(bool processExiting) noexcept {
        Stage expected = Stage::kRunning;
        if (!stage_.compare_exchange_strong(expected, Stage::kShutDown)) return;
        if (processExiting) return;
        try {
            app_.ExitInstance();
        } catch (...) {
            // Nothing of the shut-down allocates; there is nothing to report to anyone.
        }
    }

    Stage stage() const noexcept { return stage_.load(std::memory_order_acquire); }

private:
    ConnectApp app_;
    std::mutex starting_;
    std::atomic<Stage> stage_{Stage::kNotStarted};
};

// Warnings start-up raised inside the loader, for the first export to show.
struct HeldWarning {
    std::string text;
    std::string caption;
    unsigned style;
};

std::mutex g_heldLock;
std::vector<HeldWarning> g_held;
std::atomic<bool> g_holding{false};  // warnings are being held, or wait to be shown

int HoldWarning(std::string_view text, std::string_view caption, unsigned style) {
    std::lock_guard guard(g_heldLock);
    g_held.push_back({std::string(text), std::string(caption), style});
    return 1;  // IDOK: start-up's warnings have an OK button only
}

void ShowHeldWarnings() {
    std::vector<HeldWarning> held;
    {
        std::lock_guard guard(g_heldLock);
        if (!g_holding.exchange(false)) return;
        held.swap(g_held);
    }
    for (const HeldWarning& warning : held) locale::ShowWarning(warning.text, warning.caption, warning.style);
}

// Set once the application exists: shut-down and Running never create it (at unload that
// would make the process-wide objects under the loader lock, only to destroy them again).
std::atomic<Application*> g_application{nullptr};

Application& TheApplication() {
    static Application application;
    g_application.store(&application, std::memory_order_release);
    return application;
}

}  // namespace

int ConnectApp::InitInstance() {
    const platform::ModuleHandle own = Library().module;
    const platform::ModuleHandle chosen = locale::GetLocalizedResources(kResourceLibraryPattern, own);
    if (chosen == nullptr) return 0;
    SetLibraryResourceModule(chosen);
    return 1;
}

int ConnectApp::ExitInstance() {
    help::Shutdown();
    locale::FreeLocalizedResources(Library().resourceModule, Library().module);
    return 0;
}

bool EnsureStarted() noexcept {
    try {
        Application& application = TheApplication();
        Stage stage = application.stage();
        if (stage == Stage::kNotStarted) {
            application.Start();
            stage = application.stage();
        }
        if (g_holding.load(std::memory_order_acquire)) ShowHeldWarnings();
        return stage == Stage::kRunning;
    } catch (...) {
        return false;
    }
}

void StartAtLoad() noexcept {
    // The loader runs this once, on one thread, before any export can be called.
    g_holding.store(true, std::memory_order_release);
    const locale::WarningFunction previous = locale::SetWarningFunction(&HoldWarning);
    try {
        TheApplication().Start();
    } catch (...) {
        // EnsureStarted reports the failure to every export.
    }
    locale::SetWarningFunction(previous);
}

void ShutDown(bool processExiting) noexcept {
    if (Application* application = g_application.load(std::memory_order_acquire)) {
        application->Stop(processExiting);
    }
}

bool Running() noexcept {
    const Application* application = g_application.load(std::memory_order_acquire);
    return application != nullptr && application->stage() == Stage::kRunning;
}

}  // namespace tavix
