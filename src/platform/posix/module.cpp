// Modules on POSIX: a module is named by its load address, its path found through dladdr.
// Resource libraries are PE files read as data: a loaded one is a record of its path and bytes,
// whose address is its handle. This library's own resources are compiled in.
//
// The library's own module and its path are looked up once: a loaded library stays where it
// was loaded, and resolving its path (realpath reads the link of every component) would
// otherwise be paid by every step of start-up that names the library.
#include "platform/module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "resources/resource_reader.h"

namespace tavix::platform {

namespace {

const char kAnchor = 0;  // an object of this library, to find the library by address

// Resource library files larger than this are not read.
constexpr off_t kMaxResourceLibraryBytes = 64 << 20;

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string{};
}

// The whole of a regular file; nullopt when it cannot be read (missing, not a regular file,
// too large, or cut short while being read).
std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::vector<uint8_t>> bytes;
    struct stat info{};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxResourceLibraryBytes) {
        bytes.emplace(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < bytes->size()) {
            const ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        if (done != bytes->size()) bytes.reset();
    }
    close(fd);
    return bytes;
}

struct ResourceLibrary {
    std::string path;
    std::vector<uint8_t> bytes;
    resources::ResourceSet resources;  // views bytes
};

// The loaded resource libraries by handle.
struct Libraries {
    std::mutex lock;
    std::map<ModuleHandle, std::unique_ptr<ResourceLibrary>> loaded;
};

Libraries& ResourceLibraries() {
    static Libraries libraries;
    return libraries;
}

const ResourceLibrary* FindLibrary(ModuleHandle module) {
    Libraries& libraries = ResourceLibraries();
    std::lock_guard guard(libraries.lock);
    const auto found = libraries.loaded.find(module);
    return found != libraries.loaded.end() ? found->second.get() : nullptr;
}

// The path of a shared object by the name the loader gave it: resolved to the full path with
// symbolic links followed, or as it stands when that fails; the executable's own path when the
// loader gives no name (the executable itself).
std::string ResolvedPath(const char* loaderName) {
    if (loaderName == nullptr) return {};
    if (loaderName[0] == 0) return ExecutablePath();
    char resolved[PATH_MAX];
    return realpath(loaderName, resolved) ? std::string(resolved) : std::string(loaderName);
}

// The library's own module: its load address and the name the loader gave it, asked for once.
struct OwnObject {
    ModuleHandle base = nullptr;
    const char* loaderName = nullptr;  // the loader's, kept while the library is loaded
};

const OwnObject& Own() noexcept {
    static const OwnObject own = [] {
        Dl_info info{};
        if (dladdr(&kAnchor, &info) == 0) return OwnObject{};
        return OwnObject{info.dli_fbase, info.dli_fname};
    }();
    return own;
}

// The path of the library's own module, found on first use.
const std::string& OwnPath() {
    static const std::string path = [] {
        const ModuleHandle own = OwnModule();
        return own == nullptr || own == ProgramModule() ? ExecutablePath() : ResolvedPath(Own().loaderName);
    }();
    return path;
}

}  // namespace

ModuleHandle OwnModule() noexcept { return Own().base; }

ModuleHandle ProgramModule() noexcept {
    // The executable's load address: the mapping that holds its program headers.
    static const ModuleHandle program = [] {
        Dl_info info{};
        const auto* headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
        return headers != nullptr && dladdr(headers, &info) != 0 ? info.dli_fbase : nullptr;
    }();
    return program;
}

std::string ModulePath(ModuleHandle module) {
    if (module != nullptr && module == OwnModule()) return OwnPath();
    if (const ResourceLibrary* library = FindLibrary(module)) return library->path;
    if (module == nullptr || module == ProgramModule()) return ExecutablePath();
    Dl_info info{};
    return dladdr(module, &info) != 0 ? ResolvedPath(info.dli_fname) : std::string{};
}

ModuleHandle LoadResourceLibrary(const std::string& path) {
    auto bytes = ReadFile(path);
    if (!bytes) return nullptr;
    auto library = std::make_unique<ResourceLibrary>();
    library->path = path;
    library->bytes = std::move(*bytes);
    auto resources = resources::ResourceSet::FromPe(library->bytes);
    if (!resources) return nullptr;
    library->resources = std::move(*resources);
    Libraries& libraries = ResourceLibraries();
    std::lock_guard guard(libraries.lock);
    ModuleHandle handle = library.get();
    libraries.loaded.emplace(handle, std::move(library));
    return handle;
}

void FreeResourceLibrary(ModuleHandle module) {
    Libraries& libraries = ResourceLibraries();
    std::lock_guard guard(libraries.lock);
    libraries.loaded.erase(module);
}

std::optional<std::span<const uint8_t>> FindResourceData(ModuleHandle module, uint16_t type,
                                                         uint16_t id) {
    if (module != nullptr && module == OwnModule()) {
        return resources::EmbeddedResources().Find(type, id);
    }
    if (const ResourceLibrary* library = FindLibrary(module)) return library->resources.Find(type, id);
    return std::nullopt;
}

std::optional<std::string> FileProductVersion(const std::string& path) {
    std::optional<std::u16string> version;
    if (!path.empty() && path == OwnPath()) {
        if (const auto info = resources::EmbeddedResources().Find(resources::kRtVersion, 1)) {
            version = resources::ProductVersion(*info);
        }
    } else if (const auto bytes = ReadFile(path)) {
        const auto resources = resources::ResourceSet::FromPe(*bytes);
        const auto info = resources ? resources->Find(resources::kRtVersion, 1) : std::nullopt;
        if (info) version = resources::ProductVersion(*info);
    }
    if (!version) return std::nullopt;
    return SystemCodePage().ToNarrow(WString(version->begin(), version->end()));
}

}  // namespace tavix::platform
