// A client program for the long-path test: loads the library named by argv[1] by its path, as
// a client does, and prints two lines: getHelpDir's answer (for this program, the calling
// module) and "library" or "own", whether GetLocalizedResources("TavixConnect%s.DLL") took a
// resource library beside the library or kept the library's own resources. Warnings go to
// standard error.
#include <dlfcn.h>

#include <cstdio>

using GetHelpDirFunction = char* (*)(char*);
using GetLocalizedResourcesFunction = void* (*)(const char*, void*);

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return 3;
    const auto getHelpDir = reinterpret_cast<GetHelpDirFunction>(dlsym(library, "getHelpDir"));
    const auto localized =
        reinterpret_cast<GetLocalizedResourcesFunction>(dlsym(library, "GetLocalizedResources"));
    Dl_info info{};
    if (getHelpDir == nullptr || localized == nullptr ||
        dladdr(reinterpret_cast<void*>(localized), &info) == 0) {
        return 4;
    }
    std::printf("%s\n", getHelpDir(nullptr));
    std::printf("%s\n", localized("TavixConnect%s.DLL", info.dli_fbase) != info.dli_fbase ? "library" : "own");
    return 0;
}
