// The library's string table: every text the library shows or stores, by number.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tavix::resources {

// Where a string is read from: "own" strings always come from the library itself (registry
// names, the save prompt); "current" strings come from the current resource source, which a
// localized resource library may replace.
enum class StringSource { Own, Current };

enum StringId : uint32_t {
    kStrProperties = 2000,
    kStrNewConnection = 2001,
    kStrDeleteConnection = 2002,
    kStrConnectionsKey = 2003,
    kStrIconKey = 2004,
    kStrIconIndexValue = 2005,
    kStrIconFileNameValue = 2006,
    kStrLocal = 2008,
    kStrDefaultNamespace = 2009,
    kStrNoIconsFound = 2010,
    kStrIconFileFilter = 2011,
    kStrNameless = 2012,
    kStrDuplicateWarning = 2014,
    kStrSavePrompt = 2015,
    kStrSaveCaption = 2016,
};

struct StringEntry {
    uint32_t id;
    StringSource source;
    std::u16string_view text;
};

// The English string table built into the library, in ascending order of id.
std::span<const StringEntry> LibraryStrings() noexcept;

}  // namespace tavix::resources
