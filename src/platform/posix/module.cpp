// Modules on POSIX: a module is named by its load address, its path found through dladdr.
// Resource libraries are PE files read as data: a loaded one is a record of its path and bytes,
// whose address is its handle. This library's own resources are compiled in. The product
// version of an ELF program or library is its product-version note (elf_note.h).
//
// The library's own module and its path are looked up once: a loaded library stays where it
// was loaded, and resolving its path would otherwise be paid by every step of start-up that
// names the library.
#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "platform/posix/elf_note.h"
#include "resources/resource_reader.h"

namespace tavix::platform {

namespace {

const char kAnchor = 0;  // an object of this library, to find the library by address

// A directory larger than this (its size as stat gives it, or its number of entries where that
// size says nothing) is not searched for a resource library's name in another case: a start-up
// whose exact name is missing (every one without a library for the user's language) reads a
// small directory once and a large one not at all, and one whose name exists reads none.
constexpr off_t kMaxDirectoryBytesSearched = 16 << 10;
constexpr size_t kMaxEntriesSearched = 1024;

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string{};
}

// A file's bytes, or why there are none.
struct FileBytes {
    std::optional<std::vector<uint8_t>> bytes;  // nullopt: not read
    bool missing = false;                        // no such file
    bool tooLarge = false;                       // larger than kMaxResourceLibraryBytes
};

// The whole of a regular file; not read when it is missing, not a regular file, too large, or
// cut short while being read.
FileBytes ReadFile(const std::string& path) {
    FileBytes result;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.missing = errno == ENOENT;
        return result;
    }
    struct stat info{};
    result.tooLarge = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                      static_cast<uint64_t>(info.st_size) > kMaxResourceLibraryBytes;
    if (!result.tooLarge && S_ISREG(info.st_mode)) {
        auto& bytes = result.bytes.emplace(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        if (done != bytes.size()) result.bytes.reset();
    }
    close(fd);
    return result;
}

// The path of the entry of path's directory whose name equals path's file name without regard
// to case (each character upper-cased as Windows does), the least in byte order when several
// do; nullopt when none does or the directory is too large to search. The directory is read
// with getdents64 into a buffer on the stack: opendir would allocate 32 KiB and stat the
// directory twice, which is most of what a start-up without a resource library costs.
std::optional<std::string> MatchIgnoringCase(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string_view name = slash == std::string::npos ? std::string_view(path)
                                                             : std::string_view(path).substr(slash + 1);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info{};
    if (fstat(fd, &info) != 0 || info.st_size > kMaxDirectoryBytesSearched) {
        close(fd);
        return std::nullopt;
    }
    const CodePage& codePage = SystemCodePage();
    const std::string wanted = Fold(name, codePage);
    std::optional<std::string> found;
    size_t entries = 0;
    std::string fold;
    alignas(8) char buffer[4096];
    bool complete = false;
    for (long n; !complete && (n = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) >= 0;) {
        complete = n == 0;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (++entries > kMaxEntriesSearched) {
                close(fd);
                return std::nullopt;
            }
            const std::string_view candidate = entry->d_name;
            fold.clear();
            AppendFold(candidate, codePage, fold);
            if (fold == wanted && (!found || candidate < *found)) found = std::string(candidate);
        }
    }
    close(fd);
    if (!complete || !found) return std::nullopt;  // a read error ends the search with no match
    return path.substr(0, slash == std::string::npos ? 0 : slash + 1) + *found;
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

// The path of a shared object by the name the loader gave it: made absolute, with the file's
// own symbolic links followed (a library is reached through its soname link, and what lies
// beside it is what lies beside the file the links lead to); the directories on the way are
// kept as named, since they lead to the same directory and realpath would read the link of
// every one of them. The executable's own path when the loader gives no name (the executable).
std::string ResolvedPath(const char* loaderName) {
    if (loaderName == nullptr) return {};
    if (loaderName[0] == 0) return ExecutablePath();
    std::string path = loaderName;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return path;
        std::string_view relative = path;
        while (relative.starts_with("./")) relative.remove_prefix(2);
        path = std::string(cwd) + "/" + std::string(relative);
    }
    char target[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit on links in a row
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) == sizeof target) break;  // not a link
        const std::string_view link(target, static_cast<size_t>(length));
        if (link[0] == '/') {
            path.assign(link);
        } else {
            path.resize(path.find_last_of('/') + 1);
            path += link;
        }
    }
    return path;
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

ModuleHandle LoadResourceLibrary(const std::string& path, std::string* tooLarge) {
    std::string found = path;
    FileBytes file = ReadFile(found);
    if (file.missing) {
        // Windows file names match without regard to case: the exact name first, then another
        // spelling of it.
        auto match = MatchIgnoringCase(path);
        if (!match) return nullptr;
        found = std::move(*match);
        file = ReadFile(found);
    }
    if (file.tooLarge && tooLarge != nullptr) *tooLarge = found;
    if (!file.bytes) return nullptr;
    auto library = std::make_unique<ResourceLibrary>();
    library->path = std::move(found);
    library->bytes = std::move(*file.bytes);
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
    } else if (elf::FileVersion elfFile = elf::ReadProductVersion(path); elfFile.isElf) {
        // A program or library of this platform: the note TAVIXCONNECT_PRODUCT_VERSION puts
        // into it, compared as the text it is.
        return std::move(elfFile.version);
    } else if (const auto bytes = ReadFile(path).bytes) {
        const auto resources = resources::ResourceSet::FromPe(*bytes);
        const auto info = resources ? resources->Find(resources::kRtVersion, 1) : std::nullopt;
        if (info) version = resources::ProductVersion(*info);
    }
    if (!version) return std::nullopt;
    return SystemCodePage().ToNarrow(WString(version->begin(), version->end()));
}

}  // namespace tavix::platform
