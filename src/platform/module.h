// Modules (the library itself, the calling program) as the platform knows them.
#pragma once

#include <string>

namespace tavix::platform {

// An opaque module handle: an HMODULE on Windows, the module's load address elsewhere.
using ModuleHandle = void*;

// The module that holds this library's code.
ModuleHandle OwnModule() noexcept;

// The program the process runs (the executable).
ModuleHandle ProgramModule() noexcept;

// The full path of a module's file in 8-bit text; empty when the platform cannot tell.
std::string ModulePath(ModuleHandle module);

}  // namespace tavix::platform
