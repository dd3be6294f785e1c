/*
 * TavixConnect: named database-server connections for client programs.
 *
 * Text conventions
 *   Wide text is UTF-16 (OLECHAR: wchar_t on Windows, char16_t elsewhere), zero-terminated.
 *   Strings returned by the library are BSTRs: length-prefixed, newly allocated, owned by the
 *   caller and freed with SysFreeString. A null BSTR reads as the empty string.
 *   On Windows the automation-string functions are the system's (OleAut32); elsewhere the
 *   library exports SysAllocString, SysAllocStringLen, SysAllocStringByteLen, SysFreeString,
 *   SysStringLen and SysStringByteLen with the same semantics, so client code reads the same.
 *
 * Calling convention
 *   Every export is __stdcall on 32-bit Windows and carries a plain, undecorated name.
 *
 * Threads
 *   The library keeps process-wide state without locks: calls must not overlap.
 */
#ifndef TAVIXCONNECT_H
#define TAVIXCONNECT_H

#if defined(_WIN32)
#  if defined(TAVIXCONNECT_NO_WINDOWS_H)
/* The same types as the Windows SDK declares them, for code that must not see <windows.h>. */
#    include <stddef.h>
typedef wchar_t OLECHAR;
typedef OLECHAR *BSTR;
struct HICON__;
typedef struct HICON__ *HICON;
struct HWND__;
typedef struct HWND__ *HWND;
struct HINSTANCE__;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
#    include <stdint.h>
#  else
#    include <windows.h>
#    include <oleauto.h>
#  endif
#  define TAVIXAPI __stdcall
#else
#  if !defined(__cplusplus)
#    include <uchar.h>
#  endif
#  include <stdint.h>
typedef char16_t OLECHAR;
typedef OLECHAR *BSTR;
/* An icon: the library's own icon object, freed with DestroyIcon. */
struct HICON__;
typedef struct HICON__ *HICON;
/* A window of the program's window system, passed through to the help viewer. */
struct HWND__;
typedef struct HWND__ *HWND;
/* A module: a shared library or the program, by its load address (dladdr's dli_fbase), or a
 * resource library that GetLocalizedResources loaded (read as data, never executed). */
struct HINSTANCE__;
typedef struct HINSTANCE__ *HMODULE;
#  define TAVIXAPI
#endif

#if defined(TAVIXCONNECT_BUILDING) && !defined(_WIN32)
#  define TAVIXCONNECT_EXPORT __attribute__((visibility("default")))
#else
#  define TAVIXCONNECT_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Connection strings ------------------------------------------------------------------
 * A connection string is "cn_iptcp:SERVER[PORT]" optionally followed by ":NAMESPACE", for
 * example "cn_iptcp:db1[1972]:SALES". A quoted name may stand in front and is skipped.
 */

/* Splits connString into its server part ("cn_iptcp:SERVER[PORT]") and its namespace part.
 * Each given out-variable is set to null first (what it held is not freed). On success both
 * given out-variables receive new BSTRs (an empty namespace part when there is none) and the
 * result is 1; otherwise the result is 0 and they stay null. */
TAVIXCONNECT_EXPORT int TAVIXAPI SplitConnectionString(const OLECHAR *connString,
                                                       BSTR *serverPart,
                                                       BSTR *namespacePart);

/* Joins serverPart and namespacePart with a colon, or returns serverPart alone when the
 * namespace part is null or empty. Returns null when serverPart is null or empty. */
TAVIXCONNECT_EXPORT BSTR TAVIXAPI MakeConnectionString(const OLECHAR *serverPart,
                                                       const OLECHAR *namespacePart);

/* 1 when both strings address the same server part and namespace (an empty namespace and the
 * default namespace "USER" count as the same; everything else compares case-sensitively),
 * or when the two strings are identical; 0 otherwise. */
TAVIXCONNECT_EXPORT int TAVIXAPI ConnectionStringsEquivalent(const OLECHAR *first,
                                                             const OLECHAR *second);

/* ---- The connection store ----------------------------------------------------------------
 * The user's named connections, kept in the registry under the current user's key
 * "Software\Vantorin\Connections" (on Linux, in the library's own registry file). Connections
 * are read from the store as the calls need them; changes stay in memory until a save, which
 * writes only what this process changed, in one transaction on top of what other processes
 * have saved meanwhile. Names compare as the registry compares them: without regard to case.
 * Icons handed out are new and destroyed by the caller (DestroyIcon).
 *
 * Outcome. The results below are those of the original interface (SetConnection always 0).
 * Why a call found, changed or saved nothing is the thread's last error, set by every store
 * function and by ConnectionDialog before it returns: GetLastError() on Windows, errno
 * elsewhere. Read it right after the call:
 *   0                                  done (a null or 0 result then means "not found")
 *   ERROR_FILE_NOT_FOUND / ENOENT      no such connection
 *   ERROR_INVALID_PARAMETER / EINVAL   refused: not a connection string, or a name the store
 *                                      cannot hold (empty, over 255 bytes, a control
 *                                      character or a backslash)
 *   ERROR_BUSY / EBUSY                 the store is locked by another process; nothing changed
 *   ERROR_DISK_FULL / ENOSPC           no space left for the store; nothing changed
 *   ERROR_REGISTRY_IO_FAILED / EIO     reading or writing the store failed; nothing changed
 *   ERROR_BADDB / ENOTRECOVERABLE      the store cannot be used (not a database, corrupt, a
 *                                      symbolic link); it is left as it is
 *   ERROR_ACCESS_DENIED / EACCES       the store may not be read or written
 *   ERROR_NOT_SUPPORTED / ENXIO        ConnectionDialog only: no window system to show the
 *                                      dialog in (no display, or one that cannot be opened);
 *                                      the caller's variables are as they were
 */

/* The connection string of the connection named `name` (or, for a text with a colon, of the
 * connection that this connection string names), or null. When icon is given it receives a
 * new icon showing the connection's icon (null when the connection has none). */
TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnection(const OLECHAR *name, HICON *icon);

/* The name of the connection that a connection string means: by the name it carries, or else
 * the first connection with the same server, port and namespace. A connection string carrying
 * a name that no equal connection has is added (in memory) under that name or that name
 * followed by a number. Null when nothing matches. */
TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnectionName(const OLECHAR *connString);

/* Creates or replaces a connection (a name in the connection string counts when `name` is
 * null or empty; none at all gives "Nameless"), with an icon file and index when iconFile is
 * given, and saves the whole table when `save` is non-zero. Always 0. */
TAVIXCONNECT_EXPORT int TAVIXAPI SetConnection(const OLECHAR *name, const OLECHAR *connString,
                                               const OLECHAR *iconFile, int iconIndex, int save);

/* Removes a connection from memory (the registry changes at the next save): 1, or 0 when the
 * table holds no such connection. Does not read the registry. */
TAVIXCONNECT_EXPORT int TAVIXAPI DeleteConnection(const OLECHAR *name);

/* Does nothing; always 0. */
TAVIXCONNECT_EXPORT int TAVIXAPI EnumConnections(void);

/* Marks the default connection and writes it to the registry at once; a null or empty name
 * clears it. 1 done, 0 unknown name or registry failure. Does not read the registry. */
TAVIXCONNECT_EXPORT int TAVIXAPI SetDefaultConnection(const OLECHAR *name);

/* ---- Localized resources -------------------------------------------------------------------
 * A localized resource library is a resource-only DLL in the program module's directory named
 * by fileNamePattern (8-bit text with one %s, e.g. "TavixConnect%s.DLL") with the user's
 * three-letter language abbreviation in place of %s (ENU, DEU, DEA, FRA, ...). The user's
 * default locale, its primary language with the default sublanguage and the neutral locale are
 * tried in turn. The first library that loads is accepted only when its product version
 * (\StringFileInfo\040904B0\ProductVersion) equals the program module's; otherwise it is
 * unloaded with a warning box (caption "GetLocalizedResources"), and a program module without
 * a version gets a warning too. On Linux the library is read as data, never executed, and the
 * user's locale is that of LC_ALL, LC_MESSAGES or LANG.
 */

/* The module to take resources from: the accepted resource library, else programModule. */
TAVIXCONNECT_EXPORT HMODULE TAVIXAPI GetLocalizedResources(const char *fileNamePattern,
                                                           HMODULE programModule);

/* Does nothing: an accepted resource library stays loaded. */
TAVIXCONNECT_EXPORT void TAVIXAPI FreeLocalizedResources(HMODULE resourceModule,
                                                         HMODULE programModule);

/* ---- The Connections dialog -------------------------------------------------------------
 * Runs the modal manager dialog of the user's connections on the calling thread and returns 1
 * when the user chose a connection (Connect), 0 when the dialog was cancelled or could not be
 * shown. name and connString (each may be null) preselect a connection when they hold a name
 * or a connection string; after Connect the strings they held are freed and they receive new
 * BSTRs with the chosen connection's name (null when it has none) and connection string.
 * title (may be null) replaces the caption "Connections". icon may be null when no icon is
 * wanted; otherwise after Connect the icon it held is destroyed (unless it is 0 or 1) and it
 * receives a new icon of the chosen connection. After a result of 0 nothing the caller passed
 * has been touched. */
TAVIXCONNECT_EXPORT int TAVIXAPI ConnectionDialog(BSTR *name, BSTR *connString,
                                                  const OLECHAR *title, HICON *icon);

/* ---- Help ----------------------------------------------------------------------------------
 * Context help in a compiled HTML Help file per language, "<module base><LNG>.chm" (LNG the
 * three-letter language abbreviation, e.g. ENU, DEU) in the installation's "Help" directory.
 * The strings are 8-bit text (the ANSI code page on Windows, UTF-8 elsewhere). These functions
 * work on the module of the caller (the calling program, or the library when its own dialogs
 * call). The help viewer is never bound by the library itself: until one is, initHelp answers
 * 0, callHelp answers 0 and freeHelp answers 0.
 */
#if defined(_WIN32) && !defined(TAVIXCONNECT_NO_WINDOWS_H)
#  define TAVIX_HELP_DATA DWORD_PTR
#else
#  define TAVIX_HELP_DATA uintptr_t
#endif

/* The help directory: the directory of the caller's module, its trailing "Bin" (any case)
 * replaced by "Help", or "Help" appended to it. When moduleFileName is given (a buffer of at
 * least 261 bytes) it receives the module's full path. Windows reads the path into 261 bytes,
 * cutting a longer one; elsewhere the whole path counts, and moduleFileName receives the empty
 * string when it does not fit. The result is held by the library and overwritten by each call. */
TAVIXCONNECT_EXPORT char *TAVIXAPI getHelpDir(char *moduleFileName);

/* Writes a help-file reference into helpFile (at most 1024 bytes with the zero): the help
 * directory, a separator, and format (with one %s) formatted with the help file's name for the
 * user's language. 1 when helpFile holds a reference, 0 (and an empty string) when help is not
 * available or the reference would be longer. */
TAVIXCONNECT_EXPORT int TAVIXAPI initHelp(char *helpFile, const char *format);

/* Passes a request (16 context menu, 17 help key) to the help viewer: 1 when it opened a
 * window, 0 otherwise or when no viewer is bound. */
TAVIXCONNECT_EXPORT int TAVIXAPI callHelp(HWND window, const char *file, unsigned int command,
                                          TAVIX_HELP_DATA data);

/* Releases one use of help: the last one closes every help window. 0 when nothing was in use. */
TAVIXCONNECT_EXPORT int TAVIXAPI freeHelp(void);

#if !defined(_WIN32)
/* ---- Automation strings (Windows semantics) ------------------------------------------------
 * A BSTR points at its first character; the four bytes before it hold the length in bytes;
 * a zero character follows the text. */
TAVIXCONNECT_EXPORT BSTR SysAllocString(const OLECHAR *text);
TAVIXCONNECT_EXPORT BSTR SysAllocStringLen(const OLECHAR *text, unsigned int length);
TAVIXCONNECT_EXPORT BSTR SysAllocStringByteLen(const char *bytes, unsigned int length);
TAVIXCONNECT_EXPORT void SysFreeString(BSTR text);
TAVIXCONNECT_EXPORT unsigned int SysStringLen(BSTR text);
TAVIXCONNECT_EXPORT unsigned int SysStringByteLen(BSTR text);

/* ---- Icons (Windows semantics) -------------------------------------------------------------
 * Frees an icon that the library handed out. Nonzero when it was freed; 0 for null or for a
 * handle that is not a live icon (one already freed, say), which is left alone. */
TAVIXCONNECT_EXPORT int DestroyIcon(HICON icon);
#endif

#ifdef __cplusplus
}
#endif

/* ---- Product version of an ELF program or library ------------------------------------------
 * GetLocalizedResources accepts a resource library only when its product version is exactly
 * the program's. A Windows module has a version resource for that; an ELF module (Linux)
 * declares its version once, at file scope of one of its source files:
 *
 *     TAVIXCONNECT_PRODUCT_VERSION("1.0.0.0");
 *
 * The argument is a string literal. The macro defines a read-only ELF note (section
 * ".note.tavixconnect.version", owner "TavixConnect", type 1, the text with its zero as the
 * descriptor) that the linker puts into a PT_NOTE segment of the executable or shared
 * library; the library reads it from the file's headers, never running any of its code, and
 * compares it as exact text. `readelf -n` shows it. Where modules are not ELF the macro only
 * declares an unused name. */
#if defined(__ELF__)
#  define TAVIXCONNECT_PRODUCT_VERSION(version)                                               \
    static const struct {                                                                     \
        uint32_t namesz, descsz, type;                                                        \
        char name[16];                                                                        \
        char desc[(sizeof(version) + 3) / 4 * 4];                                             \
    } tavixconnect_product_version_note_                                                      \
        __attribute__((section(".note.tavixconnect.version"), used, aligned(4))) = {         \
            13, sizeof(version), 1, "TavixConnect", version }
#else
#  define TAVIXCONNECT_PRODUCT_VERSION(version)                                               \
    extern const char tavixconnect_product_version_[sizeof(version)]
#endif

#endif /* TAVIXCONNECT_H */
