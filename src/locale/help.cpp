#include "locale/help.h"

#include <cstring>
#include <optional>
#include <vector>

#include "frame/context/library_context.h"
#include "platform/locale.h"

namespace tavix::help {

namespace {

struct HelpState {
    int32_t useCount = 0;
    HelpEntry entry = nullptr;
    platform::ModuleHandle library = nullptr;
    // getHelpDir's answer. Overwritten in place by each call, so that a caller's pointer keeps
    // pointing at the latest answer; it moves only when a longer one needs more room.
    std::string directory = std::string(kPathBufferSize - 1, '\0');
};

HelpState& State() {
    static HelpState state;
    return state;
}

// The help search's own locale list, built on first use.
std::optional<std::array<locale::LocaleId, 4>>& Locales() {
    static std::optional<std::array<locale::LocaleId, 4>> locales;
    return locales;
}

// The length in bytes of the character that starts at text[at].
size_t CharacterLength(std::string_view text, size_t at, const TextEncoding& encoding) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t left = text.size() - at;
    if (encoding.utf8) {
        const size_t wanted = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        size_t length = 1;
        // A malformed sequence ends at the first byte that does not continue it.
        while (length < wanted && length < left &&
               (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
            ++length;
        }
        return length;
    }
    if (encoding.leadBytes != nullptr && encoding.leadBytes->test(lead) && left >= 2) return 2;
    return 1;
}

// The offsets at which the characters of text begin.
std::vector<size_t> CharacterStarts(std::string_view text, const TextEncoding& encoding) {
    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size(); at += CharacterLength(text, at, encoding)) {
        starts.push_back(at);
    }
    return starts;
}

// The offset of the last single-byte character c, or npos.
size_t FindLast(std::string_view text, char c, const TextEncoding& encoding) {
    size_t found = std::string_view::npos;
    for (size_t at = 0; at < text.size(); at += CharacterLength(text, at, encoding)) {
        if (text[at] == c) found = at;
    }
    return found;
}

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

void CopyTerminated(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

// The current context's module path, as this platform reads it.
std::string CurrentModulePath() {
    return CutToBuffer(platform::ModulePath(CurrentContext().module), kModulePathBuffer);
}

}  // namespace

TextEncoding PathEncoding() {
#if defined(_WIN32)
    return TextEncoding{ActiveCodePage().LeadBytes(), false};
#else
    return TextEncoding{nullptr, true};
#endif
}

std::string CutToBuffer(std::string text, size_t bufferSize) {
    if (bufferSize != 0 && text.size() >= bufferSize) text.resize(bufferSize - 1);
    return text;
}

std::string HelpDirectory(std::string_view modulePath, char separator, const TextEncoding& encoding) {
    const size_t cut = FindLast(modulePath, separator, encoding);
    if (cut == std::string_view::npos) return {};
    std::string_view directory = modulePath.substr(0, cut);
    const std::vector<size_t> starts = CharacterStarts(directory, encoding);
    constexpr size_t kSuffixLength = 3;  // "Bin", in characters
    if (starts.size() < kSuffixLength) return std::string(directory);
    const size_t suffix = starts[starts.size() - kSuffixLength];
    if (EqualsIgnoringAsciiCase(directory.substr(suffix), "bin")) directory = directory.substr(0, suffix);
    return std::string(directory) + "Help";
}

std::string_view FileNameOf(std::string_view path, char separator, const TextEncoding& encoding) {
    const size_t cut = FindLast(path, separator, encoding);
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view BaseName(std::string_view fileName, const TextEncoding& encoding) {
    return fileName.substr(0, FindLast(fileName, '.', encoding));
}

std::string FormatTopic(std::string_view format, std::string_view name) {
    std::string out;
    out.reserve(format.size() + name.size());
    bool substituted = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == 's' && !substituted) {
                out += name;
                substituted = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::array<locale::LocaleId, 4> HelpLocales(locale::LocaleId userDefault) {
    return {locale::kUserDefaultLocale, (userDefault & 0x03FF) | 0x0400, locale::kNeutralLocale,
            locale::kUserDefaultLocale};
}

std::string HelpFileReference(std::string_view directory, char separator, std::string_view base,
                              std::span<const std::string> abbreviations, std::string_view format,
                              const std::function<bool(const std::string&)>& exists) {
    std::string prefix(directory);
    prefix += separator;
    std::string name(base);
    for (const std::string& abbreviation : abbreviations) {
        name = std::string(base) + abbreviation;
        if (exists(prefix + name + ".chm")) break;
    }
    // The first candidate that exists, or else the last one.
    return prefix + FormatTopic(format, name);
}

const char* GetHelpDir(char* moduleFileName) noexcept {
    HelpState& state = State();
    state.directory.clear();
    if (moduleFileName != nullptr) moduleFileName[0] = '\0';
    try {
        const std::string path = CurrentModulePath();
        if (moduleFileName != nullptr && path.size() < kPathBufferSize) CopyTerminated(moduleFileName, path);
        const std::string directory = HelpDirectory(path, kSeparator, PathEncoding());
        state.directory.assign(directory.data(), directory.size());  // copied into the buffer
    } catch (...) {
        // Out of memory: no directory.
        state.directory.clear();
    }
    return state.directory.c_str();
}

int InitHelp(char* helpFile, const char* format) {
    if (helpFile == nullptr) return 0;
    helpFile[0] = '\0';
    HelpState& state = State();
    if (state.useCount < 1 || state.entry == nullptr) return 0;

    const std::string directory = GetHelpDir(nullptr);
    const std::string modulePath = CurrentModulePath();
    const TextEncoding encoding = PathEncoding();
    std::string stored = platform::StoredFileName(modulePath);
    if (stored.empty()) stored = std::string(FileNameOf(modulePath, kSeparator, encoding));
    const std::string_view base = BaseName(stored, encoding);

    auto& locales = Locales();
    if (!locales) locales = HelpLocales(platform::UserDefaultLocale());
    std::vector<std::string> abbreviations;
    for (const locale::LocaleId id : *locales) {
        abbreviations.push_back(platform::LanguageAbbreviation(id));
    }
    const std::string reference =
        HelpFileReference(directory, kSeparator, base, abbreviations,
                          format != nullptr ? std::string_view(format) : std::string_view{},
                          [](const std::string& path) { return platform::FileExists(path); });
    if (reference.size() >= kHelpFileBufferSize) return 0;
    // Counted only once nothing can fail any more.
    ++state.useCount;
    CopyTerminated(helpFile, reference);
    return 1;
}

int CallHelp(HWND window, const char* file, unsigned command, uintptr_t data) {
    const HelpEntry entry = State().entry;
    if (entry == nullptr) return 0;
    return entry(window, file, command, data) != nullptr ? 1 : 0;
}

int FreeHelp() {
    HelpState& state = State();
    if (state.useCount < 1) return 0;
    if (state.useCount-- != 1) return 1;  // other users remain
    if (state.entry != nullptr) {
        state.entry(nullptr, nullptr, kCloseAll, 0);
        state.entry = nullptr;
    }
    if (state.library == nullptr) return 0;
    state.library = nullptr;
    return 1;
}

void Shutdown() {
    State().useCount = 1;
    FreeHelp();
}

void BindViewer(HelpEntry entry, platform::ModuleHandle library) {
    State().entry = entry;
    State().library = library;
}

void SetUseCount(int32_t count) { State().useCount = count; }

int32_t UseCount() { return State().useCount; }

bool ViewerBound() { return State().entry != nullptr; }

void ResetLocales() { Locales().reset(); }

}  // namespace tavix::help
