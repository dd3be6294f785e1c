// Modules on Windows: HMODULEs and GetModuleFileNameA.
#include "platform/module.h"

#include <windows.h>

namespace tavix::platform {

ModuleHandle OwnModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

ModuleHandle ProgramModule() noexcept { return GetModuleHandleA(nullptr); }

std::string ModulePath(ModuleHandle module) {
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string{};
}

}  // namespace tavix::platform
