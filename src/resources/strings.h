// The library's string table by number; the texts are in TavixConnect.rc.
#pragma once

#include <cstdint>

namespace tavix::resources {

// Where a string is read from: "own" strings always come from the library's own resources
// (registry names, the save prompt); "current" strings come from the current resource source,
// which a localized resource library may replace.
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

// The numbers the string table spans.
inline constexpr uint32_t kFirstStringId = 2000;
inline constexpr uint32_t kLastStringId = 2016;

constexpr StringSource SourceOf(uint32_t id) {
    switch (id) {
        case kStrConnectionsKey:
        case kStrIconKey:
        case kStrIconIndexValue:
        case kStrIconFileNameValue:
        case kStrSavePrompt:
        case kStrSaveCaption:
            return StringSource::Own;
        default:
            return StringSource::Current;
    }
}

}  // namespace tavix::resources
