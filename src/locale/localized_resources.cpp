#include "locale/localized_resources.h"

#include <algorithm>

#include "locale/help.h"
#include "platform/locale.h"
#include "platform/message_box.h"

namespace tavix::locale {

namespace {

// Windows reads paths into buffers of 261 characters (the program's directory) and 260 (the
// paths shown in messages), zero included, cutting longer ones; elsewhere paths are used whole
// (0: no buffer), so a library under a long directory still finds its own version.
constexpr size_t kProgramPathBuffer = help::kModulePathBuffer;
#if defined(_WIN32)
constexpr size_t kMessagePathBuffer = 260;
#else
constexpr size_t kMessagePathBuffer = 0;
#endif

WarningFunction& Warning() {
    static WarningFunction function = &platform::ShowMessageBox;
    return function;
}

std::optional<std::array<LocaleId, 3>>& SearchList() {
    static std::optional<std::array<LocaleId, 3>> list;
    return list;
}

void Warn(const std::string& text) {
    Warning()(text, kResourceWarningCaption, platform::kMbOk | platform::kMbIconExclamation);
}

// format with each "%s" replaced by the next argument.
std::string Format(std::string_view format, std::initializer_list<std::string_view> arguments) {
    std::string out;
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && next != arguments.end()) {
            out += *next++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace

std::array<LocaleId, 3> ResourceLocales(LocaleId userDefault) {
    return {kUserDefaultLocale, (userDefault & 0x03FF) | 0x0400, kNeutralLocale};
}

std::optional<std::string> CandidatePath(std::string_view directory, std::string_view pattern,
                                         std::string_view abbreviation) {
    std::string path(directory);
    int substituted = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            path += pattern[i];
            continue;
        }
        if (i + 1 >= pattern.size()) return std::nullopt;  // a lone "%" at the end
        const char conversion = pattern[++i];
        if (conversion == '%') {
            path += '%';
        } else if (conversion == 's' && substituted++ == 0) {
            path += abbreviation;
        } else {
            return std::nullopt;  // a second "%s", or a conversion that takes another argument
        }
    }
    if (substituted != 1) return std::nullopt;
    return path;
}

std::string_view DirectoryOf(std::string_view modulePath) {
    const std::string_view file = help::FileNameOf(modulePath, help::kSeparator, help::PathEncoding());
    return modulePath.substr(0, modulePath.size() - file.size());
}

std::string MismatchMessage(std::string_view resourcePath, std::string_view resourceVersion,
                            std::string_view programPath, std::string_view programVersion) {
    return Format(
        "WARNING: Resource DLL <%s> Product Version \"%s\" does not match\n\tProgram <%s> Product Version \"%s\"",
        {resourcePath, resourceVersion, programPath, programVersion});
}

std::string ResourceWithoutVersionMessage(std::string_view resourcePath) {
    return Format("Version info not available in Resource DLL:\n\t<%s>", {resourcePath});
}

std::string TooLargeMessage(std::string_view resourcePath) {
    return Format("Resource DLL not loaded: larger than %s MiB:\n\t<%s>",
                  {std::to_string(platform::kMaxResourceLibraryBytes >> 20), resourcePath});
}

std::string ProgramWithoutVersionMessage(std::string_view programPath) {
    return Format("Version info resource not available in Program:\n\t<%s>", {programPath});
}

platform::ModuleHandle GetLocalizedResources(const char* fileNamePattern,
                                             platform::ModuleHandle programModule) {
    // The program's path is read once: the directory and the version take it as a buffer of
    // kProgramPathBuffer characters holds it, the messages as one of kMessagePathBuffer.
    const std::string programPath = help::CutToBuffer(platform::ModulePath(programModule), kProgramPathBuffer);
    const std::string shownProgramPath = help::CutToBuffer(programPath, kMessagePathBuffer);
    const std::string_view directory = DirectoryOf(programPath);

    auto& list = SearchList();
    if (!list) list = ResourceLocales(platform::UserDefaultLocale());
    platform::ModuleHandle library = nullptr;
    if (fileNamePattern != nullptr) {
        std::array<std::string, 3> tried;  // the abbreviations whose candidate did not load
        size_t triedCount = 0;
        for (const LocaleId locale : *list) {
            std::string abbreviation = platform::LanguageAbbreviation(locale);
            if (abbreviation.empty()) continue;  // a locale the platform does not know
            // Locales often share their abbreviation (the neutral locale is the user's, and so
            // is the default sublanguage of a user in it): the same file, which did not load.
            if (std::find(tried.begin(), tried.begin() + triedCount, abbreviation) !=
                tried.begin() + triedCount) {
                continue;
            }
            const auto candidate = CandidatePath(directory, fileNamePattern, abbreviation);
            if (!candidate) break;  // the pattern names no file for any language
            std::string tooLarge;
            library = platform::LoadResourceLibrary(*candidate, &tooLarge);
            if (library != nullptr) break;
            if (!tooLarge.empty()) Warn(TooLargeMessage(help::CutToBuffer(tooLarge, kMessagePathBuffer)));
            tried[triedCount++] = std::move(abbreviation);
        }
    }

    const std::optional<std::string> programVersion = platform::FileProductVersion(programPath);
    if (library == nullptr) {
        if (!programVersion) Warn(ProgramWithoutVersionMessage(shownProgramPath));
        return programModule;
    }

    const std::string libraryPath = help::CutToBuffer(platform::ModulePath(library), kMessagePathBuffer);
    const std::optional<std::string> libraryVersion = platform::FileProductVersion(libraryPath);
    if (libraryVersion && programVersion && *libraryVersion == *programVersion) return library;

    platform::FreeResourceLibrary(library);
    if (libraryVersion) {
        Warn(MismatchMessage(libraryPath, *libraryVersion, shownProgramPath,
                             programVersion ? std::string_view(*programVersion) : kNoInfo));
    } else {
        Warn(ResourceWithoutVersionMessage(libraryPath));
        if (!programVersion) Warn(ProgramWithoutVersionMessage(shownProgramPath));
    }
    return programModule;
}

void FreeLocalizedResources(platform::ModuleHandle, platform::ModuleHandle) {}

WarningFunction SetWarningFunction(WarningFunction function) {
    const WarningFunction previous = Warning();
    Warning() = function != nullptr ? function : &platform::ShowMessageBox;
    return previous;
}

int ShowWarning(std::string_view text, std::string_view caption, unsigned style) {
    return Warning()(text, caption, style);
}

void ResetResourceLocales() { SearchList().reset(); }

}  // namespace tavix::locale
