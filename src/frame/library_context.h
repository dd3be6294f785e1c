// The library context and the call frame of the exports.
//
// The library context names the library's own module, its own string table and the current
// resource source (where string resources are read from), and the process's code page. One
// context exists for the library, process-wide; which context is current is kept per thread.
// Every export that reaches the library's logic makes the library context current for its
// duration (ContextGuard) and restores the caller's on every way out, so that resource lookups
// made on the export's behalf never go to the caller's resources.
#pragma once

#include <cstdint>
#include <string_view>

#include "frame/string_table.h"
#include "frame/wide.h"
#include "platform/codepage.h"
#include "platform/module.h"

namespace tavix {

struct LibraryContext {
    platform::ModuleHandle module = nullptr;          // the context's module
    const StringTable* ownStrings = nullptr;          // the library's own strings, or none
    const StringTable* resourceStrings = nullptr;     // the current resource source, or none
    const platform::CodePage* codePage = nullptr;     // never null
};

// The library's own context, made on first use.
LibraryContext& Library();

// The context current on the calling thread: the library's inside an export, otherwise the
// calling program's (its module, no string resources of the library's).
const LibraryContext& CurrentContext() noexcept;

// Makes a context current on the calling thread and restores the previous one when it ends.
class ContextGuard {
public:
    ContextGuard();  // the library's own context
    explicit ContextGuard(const LibraryContext& context) noexcept;
    ~ContextGuard();
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;

private:
    const LibraryContext* saved_;
};

// A string resource of the current resource source by number; empty when it has none.
std::string_view LoadString(uint32_t id) noexcept;
WStringView LoadWideString(uint32_t id) noexcept;

// A string of the library's own table, whatever the current resource source is.
std::string_view LoadOwnString(uint32_t id);

// The code page of the current context.
const platform::CodePage& ActiveCodePage() noexcept;

}  // namespace tavix
