// The library's string table by number (resource.h); the texts are in TavixConnect.rc.
#pragma once

#include <cstdint>

#include "resources/resource.h"

namespace tavix::resources {

// Where a string is read from: "own" strings always come from the library's own resources
// (registry names, the save prompt); "current" strings come from the current resource source,
// which a localized resource library may replace.
enum class StringSource { Own, Current };

enum StringId : uint32_t {
    kStrProperties = IDS_PROPERTIES,
    kStrNewConnection = IDS_NEW_CONNECTION,
    kStrDeleteConnection = IDS_DELETE_CONNECTION,
    kStrConnectionsKey = IDS_CONNECTIONS_KEY,
    kStrIconKey = IDS_ICON_KEY,
    kStrIconIndexValue = IDS_ICON_INDEX_VALUE,
    kStrIconFileNameValue = IDS_ICON_FILE_NAME_VALUE,
    kStrLocal = IDS_LOCAL,
    kStrDefaultNamespace = IDS_DEFAULT_NAMESPACE,
    kStrNoIconsFound = IDS_NO_ICONS_FOUND,
    kStrIconFileFilter = IDS_ICON_FILE_FILTER,
    kStrNameless = IDS_NAMELESS,
    kStrDuplicateWarning = IDS_DUPLICATE_WARNING,
    kStrSavePrompt = IDS_SAVE_PROMPT,
    kStrSaveCaption = IDS_SAVE_CAPTION,
};

// The numbers the string table spans.
inline constexpr uint32_t kFirstStringId = kStrProperties;
inline constexpr uint32_t kLastStringId = kStrSaveCaption;

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
