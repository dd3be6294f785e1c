// Unloading the library with dlclose after it started: the library goes (a later dlopen loads
// it anew), nothing crashes on the way, and a bound help viewer is told once to close every
// help window, whatever the use count, and is no longer bound when the library comes back.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TavixConnect.h"

namespace {

struct ViewerCall {
    HWND window;
    const char* file;
    unsigned command;
    uintptr_t data;
    bool operator==(const ViewerCall&) const = default;
};

std::vector<ViewerCall> g_calls;
constexpr char kFile[] = "f.chm";

HWND Viewer(HWND window, const char* file, unsigned command, uintptr_t data) {
    g_calls.push_back({window, file, command, data});
    return reinterpret_cast<HWND>(&g_calls);
}

using BindFunction = void (*)(HWND (*)(HWND, const char*, unsigned, uintptr_t), void*, int);

template <typename F>
F Export(void* library, const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
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
    static void TearDownTestSuite() {
        std::filesystem::remove_all(getenv("XDG_CONFIG_HOME"));
    }
};

TEST_F(LibraryUnload, TheLibraryGoesAndComesBack) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        void* library = dlopen(TAVIX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto make = Export<BSTR (*)(const OLECHAR*, const OLECHAR*)>(library, "MakeConnectionString");
        const auto release = Export<void (*)(BSTR)>(library, "SysFreeString");
        const auto set = Export<int (*)(const OLECHAR*, const OLECHAR*, const OLECHAR*, int, int)>(library, "SetConnection");
        const auto initHelp = Export<int (*)(char*, const char*)>(library, "initHelp");
        const auto freeHelp = Export<int (*)()>(library, "freeHelp");
        ASSERT_TRUE(make && release && set && initHelp && freeHelp);
        BSTR made = make(u"cn_iptcp:h[1]", u"NS");
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(std::u16string(made), u"cn_iptcp:h[1]:NS");
        release(made);
        EXPECT_EQ(set(u"Unsaved", u"cn_iptcp:u[2]", nullptr, 0, 0), 0);  // dropped at unload
        char helpFile[1024] = "x";
        EXPECT_EQ(initHelp(helpFile, "%s.chm::/context.txt"), 0);
        EXPECT_EQ(freeHelp(), 0);
        ASSERT_EQ(dlclose(library), 0);
        EXPECT_FALSE(StillLoaded(TAVIX_SHARED_LIBRARY));
    }
}

TEST_F(LibraryUnload, ABoundViewerIsClosedOnce) {
    int viewerLibrary = 0;
    for (const int useCount : {1, 4}) {
        SCOPED_TRACE(useCount);
        void* library = dlopen(TAVIX_UNLOAD_PROBE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto getHelpDir = Export<char* (*)(char*)>(library, "getHelpDir");
        const auto callHelp = Export<int (*)(HWND, const char*, unsigned, uintptr_t)>(library, "callHelp");
        const auto bind = Export<BindFunction>(library, "TavixProbeBindViewer");
        ASSERT_TRUE(getHelpDir && callHelp && bind);
        ASSERT_NE(getHelpDir(nullptr), nullptr);  // the library has started
        // Loaded anew, nothing is bound.
        EXPECT_EQ(callHelp(nullptr, "f.chm", 17, 0), 0);
        bind(&Viewer, &viewerLibrary, useCount);
        g_calls.clear();
        EXPECT_EQ(callHelp(nullptr, kFile, 17, 42), 1);
        ASSERT_EQ(g_calls, (std::vector<ViewerCall>{{nullptr, kFile, 17, 42}}));
        g_calls.clear();
        ASSERT_EQ(dlclose(library), 0);
        EXPECT_FALSE(StillLoaded(TAVIX_UNLOAD_PROBE));
        EXPECT_EQ(g_calls, (std::vector<ViewerCall>{{nullptr, nullptr, 18, 0}}));
    }
}

}  // namespace
