// Modules on POSIX: a module is named by its load address, its path found through dladdr.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace tavix::platform {

namespace {

const char kAnchor = 0;  // an object of this library, to find the library by address

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string{};
}

}  // namespace

ModuleHandle OwnModule() noexcept {
    Dl_info info{};
    if (dladdr(&kAnchor, &info) == 0) return nullptr;
    return info.dli_fbase;
}

ModuleHandle ProgramModule() noexcept {
    // The executable's load address: the mapping that holds its program headers.
    Dl_info info{};
    const auto* headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
    return headers != nullptr && dladdr(headers, &info) != 0 ? info.dli_fbase : nullptr;
}

std::string ModulePath(ModuleHandle module) {
    if (module == nullptr || module == ProgramModule()) return ExecutablePath();
    Dl_info info{};
    if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return {};
    // The executable itself is reported without a name.
    if (info.dli_fname[0] == 0) return ExecutablePath();
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

}  // namespace tavix::platform
