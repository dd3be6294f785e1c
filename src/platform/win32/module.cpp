// Modules on Windows: HMODULEs, the loader, the resource functions and version information.
#include "platform/module.h"

#include <windows.h>

#include <vector>

namespace tavix::platform {

ModuleHandle OwnModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

ModuleHandle ProgramModule() noexcept { return GetModuleHandleA(nullptr); }

// The whole path, however long: callers that read it into a buffer of MAX_PATH + 1 cut it
// themselves, as GetModuleFileNameA would.
std::string ModulePath(ModuleHandle module) {
    std::string path(MAX_PATH + 1, '\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path.data(), size);
        if (length == 0) return {};
        if (length < size) return path.substr(0, length);
        if (size >= 32768) return {};  // longer than any path the system names
        path.resize(size * 2);
    }
}

ModuleHandle LoadResourceLibrary(const std::string& path, std::string*) {
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void FreeResourceLibrary(ModuleHandle module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

std::optional<std::span<const uint8_t>> FindResourceData(ModuleHandle module, uint16_t type,
                                                         uint16_t id) {
    const auto instance = static_cast<HMODULE>(module);
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (found == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(instance, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return std::nullopt;
    return std::span<const uint8_t>(static_cast<const uint8_t*>(data),
                                    SizeofResource(instance, found));
}

std::optional<std::string> FileProductVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return std::nullopt;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                        reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
        return std::nullopt;
    }
    // The length counts characters, the terminating zero included when there is one.
    std::string version(value, length);
    return version.substr(0, version.find('\0'));
}

}  // namespace tavix::platform
