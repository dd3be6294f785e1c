// Locales and files on Windows: the system's locale data and file functions.
#include "platform/locale.h"

#include <windows.h>

namespace tavix::platform {

LocaleId UserDefaultLocale() { return GetUserDefaultLCID(); }

std::string LanguageAbbreviation(LocaleId locale) {
    char buffer[4] = {};
    const int length = GetLocaleInfoA(locale, LOCALE_SABBREVLANGNAME | LOCALE_NOUSEROVERRIDE,
                                      buffer, sizeof buffer);
    return length > 0 ? std::string(buffer) : std::string{};
}

bool FileExists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string StoredFileName(const std::string& path) {
    if (path.empty()) return {};
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return found.cFileName;
}

}  // namespace tavix::platform
