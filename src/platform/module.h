// Modules (the library itself, the calling program, resource libraries) as the platform knows
// them, and the resources they hold.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavix::platform {

// An opaque module handle: an HMODULE on Windows, elsewhere the module's load address, or, for
// a resource library, the library's own record of the file it read.
using ModuleHandle = void*;

// The module that holds this library's code.
ModuleHandle OwnModule() noexcept;

// The program the process runs (the executable).
ModuleHandle ProgramModule() noexcept;

// The full path of a module's file in 8-bit text, however long; empty when the platform cannot
// tell. For a resource library, the path of the file it was loaded from.
std::string ModulePath(ModuleHandle module);

// Where resource libraries are read as data, the largest file read.
inline constexpr uint64_t kMaxResourceLibraryBytes = uint64_t{64} << 20;

// Loads a resource library (a resource-only PE DLL) by its full path; null when it cannot be
// loaded. Windows: LoadLibraryExA with LOAD_WITH_ALTERED_SEARCH_PATH. Elsewhere the file is
// read as data, never executed: a file that is not a PE file a loader would map (truncated, or
// of another kind) does not load, nor does one larger than kMaxResourceLibraryBytes, whose path
// then goes to tooLarge when given. Its file name is matched without regard to case, as on
// Windows, an exact match first (see the POSIX implementation for large directories).
ModuleHandle LoadResourceLibrary(const std::string& path, std::string* tooLarge = nullptr);

// Unloads a resource library that LoadResourceLibrary loaded.
void FreeResourceLibrary(ModuleHandle module);

// The bytes of resource (type, id) of a module, in the language the module has it in (the
// first one it lists when it has several); nullopt when it has none. The bytes stay valid while
// the module is loaded. Without a Windows loader only this library's own module (its compiled-in
// resources) and resource libraries have resources.
std::optional<std::span<const uint8_t>> FindResourceData(ModuleHandle module, uint16_t type,
                                                         uint16_t id);

// The product version of a module file: the string "\StringFileInfo\040904B0\ProductVersion" of
// its version information, in 8-bit text; nullopt when the file has none. Windows:
// GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA. Elsewhere: the version
// record of a PE file, the product-version note of an ELF file (TAVIXCONNECT_PRODUCT_VERSION),
// or, for this library's own file, the version record of its compiled-in resources.
std::optional<std::string> FileProductVersion(const std::string& path);

}  // namespace tavix::platform
