// Windows locale ids, their three-letter language abbreviations and the POSIX locale names
// that stand for them.
//
// The table holds the specific locales Windows lists (language and sublanguage, sort order
// 0), sorted by id, each with the abbreviation that GetLocaleInfoA answers for
// LOCALE_SABBREVLANGNAME and, where one exists, the POSIX name ("de_AT", "sr_RS@latin").
// Platforms without locale data of their own answer from it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tavix::locale {

using LocaleId = uint32_t;

inline constexpr LocaleId kUserDefaultLocale = 0x0400;    // LOCALE_USER_DEFAULT
inline constexpr LocaleId kSystemDefaultLocale = 0x0800;  // LOCALE_SYSTEM_DEFAULT
inline constexpr LocaleId kNeutralLocale = 0x0000;        // LOCALE_NEUTRAL
inline constexpr LocaleId kEnglishUnitedStates = 0x0409;

struct LocaleEntry {
    LocaleId id;
    std::string_view abbreviation;  // three letters
    std::string_view posixName;     // "language_TERRITORY[@modifier]", or empty
};

// The whole table, sorted by id, ids unique, POSIX names unique.
std::span<const LocaleEntry> LocaleTable() noexcept;

// The entry of an id, or null when the table does not know it.
const LocaleEntry* FindLocale(LocaleId id) noexcept;

// The locale id that a POSIX locale name such as "de_AT.UTF-8" or "sr_RS.UTF-8@latin" means:
//  - "C", "POSIX", "C.<codeset>", an empty name and no name at all: English (United States);
//  - a known "language_TERRITORY" (with its modifier when the table has one): its id;
//  - otherwise, when the language is known: that language's locale with the default
//    sublanguage (sublanguage 1, e.g. "de_XX" gives 0x0407, "es_XX" 0x040A), or, when that id
//    belongs to another language sharing the primary id ("sr_XX": 0x041A is Croatian), the
//    language's lowest id;
//  - otherwise English (United States).
LocaleId LocaleFromPosixName(std::string_view name) noexcept;

// Locale ids whose abbreviation is the user's (or the system's) own: the user default 0x0400,
// the system default 0x0800 and the neutral locale 0x0000, as GetLocaleInfoA answers them.
constexpr bool MeansUserDefault(LocaleId id) noexcept {
    return id == kUserDefaultLocale || id == kSystemDefaultLocale || id == kNeutralLocale;
}

}  // namespace tavix::locale
