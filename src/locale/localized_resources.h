// The localized resource library: a resource-only DLL beside the program, named by a pattern
// such as "TavixConnect%s.DLL" with the three-letter abbreviation of the user's language in
// place of the %s, accepted only when its product version is exactly the program's.
//
// The languages tried are, in order: the user's default locale, its primary language with the
// default sublanguage, and the neutral locale; the list is made on first use and kept. The
// first candidate that loads is the one whose version is checked. A library that cannot be
// trusted (another version, or none) is unloaded with a warning, and the program's own module
// is used. A program without a version gets a warning on every call.
//
// Paths are 8-bit text; the directory separator is "\" on Windows and "/" elsewhere.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "locale/locale_table.h"
#include "platform/module.h"

namespace tavix::locale {

// The caption of every warning, and the messages' texts (printf formats with %s).
inline constexpr std::string_view kResourceWarningCaption = "GetLocalizedResources";
inline constexpr std::string_view kNoInfo = "<No Info>";

// The locales tried for the resource library of a user whose default locale is userDefault.
std::array<LocaleId, 3> ResourceLocales(LocaleId userDefault);

// The candidate path for one language: directory (taken literally, percent signs and all)
// followed by pattern with its "%s" replaced by abbreviation ("%%" in the pattern stands for
// one percent sign). nullopt when the pattern does not hold exactly one "%s", or holds another
// conversion: such a pattern names no resource library.
std::optional<std::string> CandidatePath(std::string_view directory, std::string_view pattern,
                                         std::string_view abbreviation);

// The directory of a module path, with its separator: everything up to and including the last
// separator; empty when there is none.
std::string_view DirectoryOf(std::string_view modulePath);

// The warnings, formatted.
std::string MismatchMessage(std::string_view resourcePath, std::string_view resourceVersion,
                            std::string_view programPath, std::string_view programVersion);
std::string ResourceWithoutVersionMessage(std::string_view resourcePath);
std::string ProgramWithoutVersionMessage(std::string_view programPath);
// A candidate that exists but is too large to be read as data (only where resource libraries
// are read as data): warned about, and the search goes on with the next language.
std::string TooLargeMessage(std::string_view resourcePath);

// Finds, loads and checks the resource library for programModule: its handle when accepted,
// else programModule (null only when programModule is null and nothing was accepted). A null
// pattern names no resource library.
platform::ModuleHandle GetLocalizedResources(const char* fileNamePattern,
                                             platform::ModuleHandle programModule);

// The counterpart at shut-down: does nothing. An accepted resource library stays loaded.
void FreeLocalizedResources(platform::ModuleHandle resourceModule,
                            platform::ModuleHandle programModule);

// How warnings are shown: the platform's message box unless a test replaces it. Returns the
// previous function.
using WarningFunction = int (*)(std::string_view text, std::string_view caption, unsigned style);
WarningFunction SetWarningFunction(WarningFunction function);

// Shows a warning the way warnings are shown now (the function above).
int ShowWarning(std::string_view text, std::string_view caption, unsigned style);

// Forgets the locale list, so that the next call builds it again (for tests that change the
// user's locale).
void ResetResourceLocales();

}  // namespace tavix::locale
