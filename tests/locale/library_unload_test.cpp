// Unloading the library with dlclose after it started: the library goes, nothing crashes on the
// way, and a bound help viewer is told once to close every help window, whatever the use count,
// and is no longer bound when the library comes back.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TavixConnect.h"

namespace {

std::vector<unsigned> g_commands;

HWND Viewer(HWND, const char*, unsigned command, uintptr_t) {
    g_commands.push_back(command);
    return reinterpret_cast<HWND>(&g_commands);
}

bool StillLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

// The connections of these tests are kept in a directory of their own.
class LibraryUnload : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const auto home = std::filesystem::temp_directory_path() / ("tavix-unload-" + std::to_string(getpid()));
        std::filesystem::create_directories(home);
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(getenv("XDG_CONFIG_HOME")); }
};

// A library loaded anew has no viewer bound; a bound one gets the requests, then one close-all
// at the unload, whatever the use count, and the library is gone.
TEST_F(LibraryUnload, ABoundViewerIsClosedOnce) {
    int viewerLibrary = 0;
    for (const int useCount : {1, 4}) {
        SCOPED_TRACE(useCount);
        void* library = dlopen(TAVIX_UNLOAD_PROBE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto callHelp = reinterpret_cast<decltype(&::callHelp)>(dlsym(library, "callHelp"));
        const auto bind = reinterpret_cast<void (*)(decltype(&Viewer), void*, int)>(
            dlsym(library, "TavixProbeBindViewer"));
        ASSERT_TRUE(callHelp && bind);
        // Loaded anew, nothing is bound.
        EXPECT_EQ(callHelp(nullptr, "f.chm", 17, 0), 0);
        bind(&Viewer, &viewerLibrary, useCount);
        g_commands.clear();
        EXPECT_EQ(callHelp(nullptr, "f.chm", 17, 42), 1);
        ASSERT_EQ(dlclose(library), 0);
        EXPECT_FALSE(StillLoaded(TAVIX_UNLOAD_PROBE));
        EXPECT_EQ(g_commands, (std::vector<unsigned>{17, 18}));  // the request, then close-all
    }
}

}  // namespace
