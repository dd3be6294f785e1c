// The user's locale, language abbreviations, and the files that locale-dependent searches
// (resource libraries, help files) look for.
#pragma once

#include <cstdint>
#include <string>

namespace tavix::platform {

using LocaleId = uint32_t;

// The user's default locale id. Windows: GetUserDefaultLCID. POSIX: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty, mapped through the locale table (an unset,
// "C" or "POSIX" locale is English (United States), 0x0409; see LocaleFromPosixName for the
// fall-backs of names the table does not know).
LocaleId UserDefaultLocale();

// The three-letter language abbreviation of a locale (LOCALE_SABBREVLANGNAME, asked for with
// LOCALE_NOUSEROVERRIDE, at most 3 characters); 0x0400, 0x0800 and 0x0000 answer the user
// default's. Empty when the platform does not know the locale.
std::string LanguageAbbreviation(LocaleId locale);

// Whether a file or directory exists at path (8-bit text).
bool FileExists(const std::string& path);

// The name under which the file at path is stored, without its directory (on Windows with the
// letter case as stored on disk). Empty when there is no such file.
std::string StoredFileName(const std::string& path);

}  // namespace tavix::platform
