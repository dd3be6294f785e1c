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
#endif

#ifdef __cplusplus
}
#endif

#endif /* TAVIXCONNECT_H */
