// Help: the dialogs' context help, addressed to a compiled HTML Help file (".chm") per language
// in the installation's "Help" directory, and passed to the HTML Help viewer.
//
// The viewer is reached only through a process-wide entry point, which this library never
// binds. Until one is bound, initHelp leaves an empty reference and answers 0, callHelp answers
// 0 and freeHelp answers 0. The use count goes up only by an initHelp that succeeds (which needs
// it to be 1 or more already) and down by freeHelp; the last freeHelp tells the viewer to close
// every help window. Nothing here takes a lock: calls must not overlap.
//
// Paths are 8-bit text: the ANSI code page on Windows (double-byte characters step as one) and
// UTF-8 elsewhere. The directory separator is "\" on Windows and "/" on POSIX, where module
// paths are POSIX paths; the rules are otherwise the same.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "TavixConnect.h"
#include "locale/locale_table.h"
#include "platform/module.h"

namespace tavix::help {

// The viewer's entry point: (owner window, file reference, command, data) -> a window, or null
// on failure.
using HelpEntry = HWND(TAVIXAPI*)(HWND window, const char* file, unsigned command, uintptr_t data);

// Viewer commands.
inline constexpr unsigned kHelpContextMenu = 16;  // HH_TP_HELP_CONTEXTMENU
inline constexpr unsigned kHelpWmHelp = 17;       // HH_TP_HELP_WM_HELP
inline constexpr unsigned kCloseAll = 18;         // HH_CLOSE_ALL

// The size of a caller's module-path buffer (with the zero).
inline constexpr size_t kPathBufferSize = 261;

// The buffer module paths are read into (with the zero), 0 for none. Windows reads them into
// kPathBufferSize characters, cutting a longer path; elsewhere a path is taken whole, since
// directories there are not bounded by that buffer.
#if defined(_WIN32)
inline constexpr size_t kModulePathBuffer = kPathBufferSize;
#else
inline constexpr size_t kModulePathBuffer = 0;
#endif

// The most initHelp writes into a caller's helpFile, the zero included; a longer reference is
// not written (help is then not available).
inline constexpr size_t kHelpFileBufferSize = 1024;

#if defined(_WIN32)
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// How 8-bit text steps from character to character.
struct TextEncoding {
    const std::bitset<256>* leadBytes = nullptr;  // the bytes that begin a two-byte character
    bool utf8 = false;
};

// The encoding of this process's paths.
TextEncoding PathEncoding();

// ---- The rules, as functions of their inputs ---------------------------------------------

// text as a buffer of bufferSize bytes (with the zero) holds it: cut to bufferSize - 1 bytes
// when longer; a bufferSize of 0 takes it whole.
std::string CutToBuffer(std::string text, size_t bufferSize);

// The help directory of a module path: the directory (cut at the last separator, without it)
// with a trailing "Bin" (any case) replaced by "Help", or with "Help" appended when it does not
// end in "Bin". A path without a separator gives the empty string; a directory shorter than
// three characters is given back as it is.
std::string HelpDirectory(std::string_view modulePath, char separator, const TextEncoding& encoding);

// The last component of a path (the whole path when it has no separator).
std::string_view FileNameOf(std::string_view path, char separator, const TextEncoding& encoding);

// A file name up to its last period (the whole name when it has none).
std::string_view BaseName(std::string_view fileName, const TextEncoding& encoding);

// format with its first "%s" replaced by name; "%%" stands for one percent sign, and any other
// percent sequence (a second "%s" included) is kept as it stands.
std::string FormatTopic(std::string_view format, std::string_view name);

// The locales the help file is looked for in: the user's default, its primary language with
// the default sublanguage, the neutral locale, the user's default again.
std::array<locale::LocaleId, 4> HelpLocales(locale::LocaleId userDefault);

// The help-file reference: directory, separator, then format formatted with the name of the
// first candidate base+abbreviation whose ".chm" file exists in the directory, or with the
// last candidate's name when none exists.
std::string HelpFileReference(std::string_view directory, char separator, std::string_view base,
                              std::span<const std::string> abbreviations, std::string_view format,
                              const std::function<bool(const std::string&)>& exists);

// ---- The process-wide help state and the four operations --------------------------------

// The help directory of the current context's module, in the library's buffer (valid until the
// next call). The path is read as kModulePathBuffer bounds it: on Windows a path of
// kPathBufferSize characters or more is cut to its first kPathBufferSize - 1, elsewhere the
// whole path counts. When moduleFileName is given (a buffer of kPathBufferSize bytes) it
// receives that path, or the empty string when the path does not fit it (only where paths are
// read whole).
const char* GetHelpDir(char* moduleFileName) noexcept;

// Builds a dialog's help-file reference into helpFile: 1 when it holds one, 0 (and the empty
// string) when help is not available or the reference would not fit kHelpFileBufferSize bytes.
// A null helpFile answers 0 and changes nothing.
int InitHelp(char* helpFile, const char* format);

// Passes a request to the viewer: 0 when none is bound, else 1 when it answered with a window.
int CallHelp(HWND window, const char* file, unsigned command, uintptr_t data);

// Releases one use of help; the last one closes every help window and unbinds the viewer.
int FreeHelp();

// The final release at module shut-down: whatever the count, the viewer is told to close all.
void Shutdown();

// Binds (or, with nulls, unbinds) the viewer's entry point and library. The library itself
// never calls this; tests and a future viewer loader do.
void BindViewer(HelpEntry entry, platform::ModuleHandle library);
void SetUseCount(int32_t count);
int32_t UseCount();
bool ViewerBound();

// Forgets the locale list, so that the next InitHelp builds it again from the user's locale
// (for tests that change it).
void ResetLocales();

}  // namespace tavix::help
