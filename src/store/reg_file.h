// Registry files (.reg): export of a key of the current user's hive in the format regedit
// writes, and import of such files (version 5 and the older REGEDIT4) as `reg import` does.
//
// Export writes "Windows Registry Editor Version 5.00" files: UTF-16LE with a byte-order
// mark, CRLF line ends, each key as "[HKEY_CURRENT_USER\path]" followed by its values and a
// blank line, subkeys depth-first after their parent in the store's enumeration order.
//
//   @="text"                     the default value, always first
//   "name"="te\\xt \"q\""         REG_SZ, with backslash and double quote escaped
//   "name"=dword:0000002a        REG_DWORD of 4 bytes
//   "name"=hex(2):41,00,00,00    REG_EXPAND_SZ, re-encoded as UTF-16LE as stored (so with its
//                                terminating zero character when the data has its zero byte)
//   "name"=hex:01,02             REG_BINARY
//   "name"=hex(N):..             any other type N (hexadecimal); REG_MULTI_SZ (7) is
//                                re-encoded as UTF-16LE, other types are written as stored
//
// REG_SZ data that is not one string (a zero byte before its end, or no terminating zero), or
// that holds a CR or LF, cannot be written between quotes so that it reads back unchanged;
// it is written as hex(1): with its UTF-16LE form. A REG_DWORD that is not 4 bytes long is
// written as hex(4):.
//
// Hex data wraps as regedit wraps it: after each byte but the last comes a comma, and when the
// line (counted in UTF-16 characters, value name part included) is then longer than 76
// characters, the line ends with "\" and the next begins with two spaces. No line of hex data
// is longer than 80 characters, continuation lines hold 25 bytes, and the first byte always
// stays on the line of the value name, however long the name is.
//
// Import reads version 5 files (the header "Windows Registry Editor Version 5.00") and version
// 4 files (the header "REGEDIT4"). The text is UTF-16LE when the file starts with its
// byte-order mark, otherwise 8-bit text of the process's code page (a UTF-8 byte-order mark is
// skipped). Lines end in CRLF or LF; leading blanks are skipped; blank lines and lines starting
// with ";" are ignored. Recognised lines:
//
//   [HKEY_CURRENT_USER\path]     creates the key (and its parents) and makes it current
//   [-HKEY_CURRENT_USER\path]    deletes the key with all its subkeys (absent: nothing to do);
//                                the values that follow it, up to the next key, are ignored
//   "name"=... / @=...           sets a value of the current key ("" names the default value
//                                as @ does): "text" (escapes \\ \" and \n), dword: with 1
//                                to 8 hex digits, hex: or hex(N): with two-digit bytes
//                                separated by commas, a line ending in "\" continuing on the
//                                next one
//   "name"=- / @=-               deletes the value (absent: nothing to do)
//
// In version 5 files the data of hex(1), hex(2) and hex(7) is UTF-16LE and is stored as 8-bit
// text; in version 4 files it is taken as it is. Only HKEY_CURRENT_USER is accepted, spelt out
// in full (case does not matter) as regedit requires: abbreviations such as HKCU are refused
// like any other hive.
//
// The whole file is read first: any line that does not parse, or that names another hive,
// fails the import with nothing changed. Then every change is made within one batch of the
// store, so that a failure of the store leaves it as it was where the store has batches.
//
// Rules (RegFileRules) narrow what a file may change and hold. An import with a scope accepts
// only that key and its subkeys: a key outside it, or the deletion of a key above it (which
// would take the scope with it), refuses the whole file. With connection names, a key
// directly below the scope is a connection and its name must be one the store can hold
// (store/stored_name.h), as must a non-empty default value of the scope, which names the
// default connection. An export applies the same rules to what it writes, and refuses a key
// whose name a .reg file cannot carry (a line break, which would begin a line of its own and
// let the name write keys and values of its choosing; text that the file's UTF-16 does not
// give back byte for byte): what an export writes always imports back to the same keys and
// values. There is no escape for key names in the format, so such an entry is refused rather
// than altered.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tavix::store {

struct RegFileRules {
    // The key (below HKEY_CURRENT_USER) that an import may create, change and delete, with its
    // subkeys; "" allows the whole hive. An export writes the key it is given.
    std::string scope;
    // The subkeys directly below the scope (or the exported key) are connections.
    bool connectionNames = false;
};

// The rules of a file of the user's connections: HKEY_CURRENT_USER\Software\Vantorin\Connections.
RegFileRules ConnectionRules();

// The bytes of a version 5 .reg file holding the key at keyPath below HKEY_CURRENT_USER
// (e.g. "Software\\Vantorin\\Connections") with all its values and subkeys. When the key
// does not exist, an entry cannot be written faithfully or the store fails, returns an empty
// string and, when error is given, sets it to a one-line message naming the key; storeError
// (when given) receives the store's code when the store failed, 0 otherwise.
std::string ExportRegFile(platform::Registry& registry, const std::string& keyPath,
                          std::string* error = nullptr, const RegFileRules& rules = {},
                          long* storeError = nullptr);

// Receives the file's bytes a block at a time, in order; false stops the export.
using RegFileSink = std::function<bool(std::string_view block)>;

// The same file handed to sink as it is made (blocks of about 64 KiB), so that a large key is
// never held whole. On failure returns false, with error and storeError as above ("cannot
// write the file" when the sink refused a block); the sink may then have received a part.
bool ExportRegFile(platform::Registry& registry, const std::string& keyPath, const RegFileSink& sink,
                   std::string* error = nullptr, const RegFileRules& rules = {}, long* storeError = nullptr);

// Merges a .reg file into the hive. On failure returns false with error set to one line:
// "FILE:LINE: what is wrong" for a file that does not parse or breaks the rules (nothing
// changed), or naming the key or value the store refused, or "FILE: nothing imported (...)"
// when the batch could not begin or land (the batch undone). storeError (when given) receives
// the store's code when the store failed, 0 otherwise.
bool ImportRegFile(platform::Registry& registry, std::string_view fileBytes,
                   const std::string& fileName, std::string& error, const RegFileRules& rules = {},
                   long* storeError = nullptr);

}  // namespace tavix::store
