// The library context and the call frame of the exports.
//
// The library context names the library's own module, its own string table, the current
// resource module (where string resources and dialog templates are read from: the library's own
// module, or the localized resource library that start-up accepted) with its strings, and the
// process's code page. One
// context exists for the library, process-wide; which context is current is kept per thread.
// Every export that reaches the library's logic makes the library context current for its
// duration (ContextGuard) and restores the caller's on every way out, so that resource lookups
// made on the export's behalf never go to the caller's resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "frame/context/string_table.h"
#include "frame/context/wide.h"
#include "platform/codepage.h"
#include "platform/module.h"
#include "resources/dialog_template.h"

namespace tavix {

// The string tables are read through LoadString and its kin: the library's own table is filled
// from its resources when a string is first read, not when the context is made.
struct LibraryContext {
    platform::ModuleHandle module = nullptr;          // the context's module
    const StringTable* ownStrings = nullptr;          // the library's own strings, or none
    const StringTable* resourceStrings = nullptr;     // the current resource source, or none
    const platform::CodePage* codePage = nullptr;     // never null
    // The current resource module: dialog templates are read from it, and resourceStrings are
    // its strings. On Windows the HMODULE that dialogs are created from.
    platform::ModuleHandle resourceModule = nullptr;
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

// A string resource by number; empty when there is none. Strings whose source is own
// (resources/strings.h) come from the library's own table whenever the current context is the
// library's; the others come from the current resource source.
std::string_view LoadString(uint32_t id) noexcept;
WStringView LoadWideString(uint32_t id) noexcept;

// A string of the library's own table, whatever the current resource source is.
std::string_view LoadOwnString(uint32_t id);

// Makes module the library context's resource module, with its strings; the library's own
// module restores the library's own strings. Start-up does this once, before any export works.
void SetLibraryResourceModule(platform::ModuleHandle module);

// A dialog template of the current context's resource module; nullopt when the module has no
// such template or it does not read.
std::optional<resources::DialogTemplate> LoadDialogTemplate(uint32_t id);

// The code page of the current context.
const platform::CodePage& ActiveCodePage() noexcept;

}  // namespace tavix
