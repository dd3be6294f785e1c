// Modules on POSIX: a module is named by its load address, its path found through dladdr.
// Resource libraries are PE files read as data: a loaded one is a record of its path and bytes,
// whose address is its handle. This library's own resources are compiled in.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <fstream>
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
constexpr std::streamoff kMaxResourceLibraryBytes = 64 << 20;

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string{};
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxResourceLibraryBytes) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
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
    if (const ResourceLibrary* library = FindLibrary(module)) return library->path;
    if (module == nullptr || module == ProgramModule()) return ExecutablePath();
    Dl_info info{};
    if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return {};
    // The executable itself is reported without a name.
    if (info.dli_fname[0] == 0) return ExecutablePath();
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
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
    if (!path.empty() && path == ModulePath(OwnModule())) {
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
