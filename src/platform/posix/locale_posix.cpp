// Locales on POSIX: the POSIX locale environment mapped to Windows locale ids through the
// locale table; files through stat.
#include "platform/locale.h"

#include <sys/stat.h>

#include <cstdlib>

#include "locale/locale_table.h"

namespace tavix::platform {

LocaleId UserDefaultLocale() {
    // The same precedence as setlocale(LC_MESSAGES, ""): the first variable set and not empty.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return locale::LocaleFromPosixName(value);
    }
    return locale::kEnglishUnitedStates;
}

std::string LanguageAbbreviation(LocaleId id) {
    if (locale::MeansUserDefault(id)) id = UserDefaultLocale();
    const locale::LocaleEntry* entry = locale::FindLocale(id);
    return entry != nullptr ? std::string(entry->abbreviation) : std::string{};
}

bool FileExists(const std::string& path) {
    struct stat info{};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::string StoredFileName(const std::string& path) {
    if (!FileExists(path)) return {};
    // POSIX file names are case-sensitive: the name that found the file is the stored one.
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tavix::platform
