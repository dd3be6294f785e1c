#include "store/reg_file.h"

#include "store/change_set.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "store/stored_name.h"

namespace tavix::store {

namespace {

using platform::Registry;
using platform::RegKey;

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHive = u"HKEY_CURRENT_USER";
constexpr size_t kMaxKeyName = 255;
// Hex data breaks its line after a comma that leaves the line longer than this.
constexpr size_t kHexWrapColumn = 76;

// ---- text ------------------------------------------------------------------------------------

// ASCII reads as the same characters in every code page the registry's 8-bit text comes in.
bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::u16string ToUtf16(std::string_view narrow) {
    if (IsAscii(narrow)) return std::u16string(narrow.begin(), narrow.end());
    const WString wide = platform::SystemCodePage().ToWide(narrow);
    return std::u16string(wide.begin(), wide.end());
}

std::string ToNarrow(std::u16string_view text) {
    const WString wide(text.begin(), text.end());
    return platform::SystemCodePage().ToNarrow(wide);
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// 8-bit text with its control characters written as escapes (\n, \r, \t, \xHH), so that a
// message naming a hostile key stays one line and prints nothing raw.
std::string Escaped(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return out;
}

// Whether 8-bit text comes back byte for byte from the UTF-16 of a version 5 file.
bool Faithful(std::string_view text) { return IsAscii(text) || ToNarrow(ToUtf16(text)) == text; }

// Where a key path stands against a scope, both paths below the hive's root without empty
// names, compared as the registry compares names.
enum class Place { kInside, kScope, kAbove, kOutside };

Place PlaceOf(std::string_view path, std::string_view scope, std::string* connectionName) {
    if (scope.empty()) return Place::kInside;
    const platform::CodePage& codePage = platform::SystemCodePage();
    const std::string folded = platform::Fold(path, codePage);
    const std::string scopeFolded = platform::Fold(scope, codePage);
    if (folded == scopeFolded) return Place::kScope;
    if (folded.size() > scopeFolded.size() && folded.starts_with(scopeFolded) &&
        folded[scopeFolded.size()] == '\\') {
        if (connectionName != nullptr) {
            // The name right below the scope, as the file writes it: the scope's names come
            // first, as many separators in the path as in the scope.
            size_t start = 0;
            for (size_t separators = std::count(scope.begin(), scope.end(), '\\') + 1; separators > 0; --separators) {
                start = path.find('\\', start) + 1;
            }
            connectionName->assign(path.substr(start, path.find('\\', start) - start));
        }
        return Place::kInside;
    }
    if (folded.empty() || (scopeFolded.starts_with(folded) && scopeFolded[folded.size()] == '\\')) {
        return Place::kAbove;
    }
    return Place::kOutside;
}

std::string KeyName(const std::string& path) {
    return path.empty() ? std::string("HKEY_CURRENT_USER") : "HKEY_CURRENT_USER\\" + path;
}

// What the store's error codes mean, for messages.
std::string StoreFailure(Registry& registry, long code) {
    std::string text = "error " + std::to_string(code);
    switch (code) {
        case platform::kRegNotFound: return text + ", not found";
        case platform::kRegAccessDenied: return text + ", access denied";
        case platform::kRegInvalidParameter: return text + ", invalid name or data";
        case platform::kRegBusy: return text + ", the store is locked by another process";
        case platform::kRegDiskFull: return text + ", no space left on device";
        case platform::kRegIoFailed: return text + ", I/O error";
        case platform::kRegBadStore: {
            const std::string problem = registry.Problem();
            return text + ", store unusable" + (problem.empty() ? "" : ": " + problem);
        }
        default: return text;
    }
}

// An open key of one registry, closed when it goes; the hive's root is never closed.
class Key {
public:
    explicit Key(Registry& registry) : registry_(registry) {}
    ~Key() { reset(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    RegKey get() const { return key_; }
    RegKey* receive() {
        reset();
        return &key_;
    }
    void reset() {
        if (key_ != 0 && key_ != platform::kCurrentUser) registry_.CloseKey(key_);
        key_ = 0;
    }

private:
    Registry& registry_;
    RegKey key_ = 0;
};

// ---- export ----------------------------------------------------------------------------------

struct Value {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// The file's bytes as they are written: UTF-16LE after its byte-order mark.
class Writer {
public:
    void Put(std::u16string_view text) {
        const size_t lineEnd = text.rfind(u'\n');
        column_ = lineEnd == std::u16string_view::npos ? column_ + text.size() : text.size() - lineEnd - 1;
        const size_t at = bytes_.size();
        bytes_.resize(at + 2 * text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            bytes_[at + 2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes_[at + 2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
    }
    void Line(std::u16string_view text) {
        Put(text);
        Put(u"\r\n");
    }
    size_t Column() const { return column_; }

    std::string Bytes() && { return std::move(bytes_); }

private:
    std::string bytes_ = "\xFF\xFE";
    size_t column_ = 0;
};

std::u16string Quoted(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c == u'\n') {
            out.append(u"\\n");
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
    return out;
}

std::u16string Hex(uint32_t number, int minDigits) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), kDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    if (out.size() < static_cast<size_t>(minDigits)) out.insert(0, minDigits - out.size(), u'0');
    return out;
}

// 8-bit string data as the UTF-16LE bytes that the registry itself keeps.
std::vector<uint8_t> Utf16Bytes(const std::vector<uint8_t>& data) {
    const std::u16string text = ToUtf16(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// REG_SZ data that reads back unchanged from a quoted string: one zero-terminated string
// (or no data at all) without line breaks.
bool IsPlainString(const std::vector<uint8_t>& data) {
    if (data.empty()) return true;
    if (data.back() != 0) return false;
    return std::none_of(data.begin(), data.end() - 1,
                        [](uint8_t b) { return b == 0 || b == '\r' || b == '\n'; });
}

void PutHexData(Writer& out, uint32_t type, const std::vector<uint8_t>& bytes) {
    out.Put(type == platform::kRegBinary ? std::u16string(u"hex:") : u"hex(" + Hex(type, 1) + u"):");
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.Put(Hex(bytes[i], 2));
        if (i + 1 == bytes.size()) break;
        out.Put(u",");
        if (out.Column() > kHexWrapColumn) out.Put(u"\\\r\n  ");
    }
}

void PutValue(Writer& out, const Value& value) {
    out.Put(value.name.empty() ? std::u16string(u"@") : Quoted(ToUtf16(value.name)));
    out.Put(u"=");
    switch (value.type) {
        case platform::kRegSz:
            if (IsPlainString(value.data)) {
                const size_t length = value.data.empty() ? 0 : value.data.size() - 1;
                out.Put(Quoted(ToUtf16(std::string_view(reinterpret_cast<const char*>(value.data.data()), length))));
            } else {
                PutHexData(out, value.type, Utf16Bytes(value.data));
            }
            break;
        case platform::kRegDword:
            if (value.data.size() == 4) {
                const uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                        static_cast<uint32_t>(value.data[3]) << 24;
                out.Put(u"dword:" + Hex(number, 8));
            } else {
                PutHexData(out, value.type, value.data);
            }
            break;
        case platform::kRegExpandSz:
        case 7:  // REG_MULTI_SZ
            PutHexData(out, value.type, Utf16Bytes(value.data));
            break;
        default:
            PutHexData(out, value.type, value.data);
            break;
    }
    out.Put(u"\r\n");
}

// An entry that the export refuses to write (ExportState::refusal says why); no store code.
constexpr long kRefused = -1;

struct ExportState {
    bool connectionNames;    // the exported key's subkeys are connections
    std::string failedPath;  // the key being written when the export stopped
    std::string refusal;     // why it was refused, when it was
};

// Why a key's values cannot be written so that they read back unchanged, or "".
std::string ValuesProblem(const std::vector<Value>& values, int depth, const ExportState& state) {
    for (const Value& value : values) {
        // Made only for a refusal; built in place: gcc 12 misreads "\"" + text at -O3.
        const auto shown = [&value] {
            if (value.name.empty()) return std::string("@");
            std::string quoted = Escaped(value.name);
            quoted.insert(quoted.begin(), '"');
            quoted.push_back('"');
            return quoted;
        };
        if (!Faithful(value.name)) return "the name of value " + shown() + " cannot be written unchanged";
        const bool text = value.type == platform::kRegSz || value.type == platform::kRegExpandSz || value.type == 7;
        const std::string_view data(reinterpret_cast<const char*>(value.data.data()), value.data.size());
        if (text && !Faithful(data)) return "value " + shown() + " holds text that cannot be written unchanged";
        if (state.connectionNames && depth == 0 && value.name.empty() &&
            (value.type == platform::kRegSz || value.type == platform::kRegExpandSz)) {
            const std::string name(data.substr(0, data.find('\0')));
            if (const char* problem = name.empty() ? nullptr : StoredNameProblem(name)) {
                return "the default connection's name \"" + Escaped(name) + "\" " + problem;
            }
        }
    }
    return {};
}

// Why a subkey's name cannot be written in a key line that reads back as that name, or "".
std::string KeyNameProblem(const std::string& name, int depth, const ExportState& state) {
    if (name.find('\n') != std::string::npos) {
        return "its name holds a line break, which a .reg file cannot carry in a key name";
    }
    if (!Faithful(name)) return "its name cannot be written unchanged";
    if (state.connectionNames && depth == 0) {
        if (const char* problem = StoredNameProblem(name)) return std::string("the connection name ") + problem;
    }
    return {};
}

// Writes the key line of path and the key's values, read with enumValue(index, value) (the
// registry's EnumValue on the key).
template <typename EnumValue>
long PutKey(const std::string& path, int depth, Writer& out, ExportState& state, EnumValue enumValue) {
    state.failedPath = path;
    std::u16string header = ToUtf16(path);  // built in place: gcc 12 misreads "[" + path at -O3
    header.insert(header.begin(), u'[');
    header.push_back(u']');
    out.Line(header);

    std::vector<Value> values;
    for (uint32_t index = 0;; ++index) {
        Value value;
        const long rc = enumValue(index, value);
        if (rc == platform::kRegNoMoreItems) break;
        if (rc != platform::kRegOk) return rc;
        values.push_back(std::move(value));
    }
    if (std::string problem = ValuesProblem(values, depth, state); !problem.empty()) {
        state.refusal = std::move(problem);
        return kRefused;
    }
    std::stable_partition(values.begin(), values.end(), [](const Value& v) { return v.name.empty(); });
    for (const Value& value : values) PutValue(out, value);
    out.Line(u"");
    return platform::kRegOk;
}

// Large enough for any name EnumKey can report.
constexpr uint32_t kExportNameSize = 1u << 16;

// Writes the subkeys of the key at path (depth: the key's) and theirs, in one walk of each
// key: the walk shows every subkey's values, and only a subkey that may have subkeys is opened.
long ExportSubkeys(Registry& registry, RegKey key, const std::string& path, int depth, Writer& out,
                   ExportState& state) {
    long failed = platform::kRegOk;
    const long walked = registry.ForEachSubkey(key, kExportNameSize, [&](platform::SubkeyView& view) {
        const std::string name(view.Name());
        const std::string childPath = path + "\\" + name;
        if (std::string problem = KeyNameProblem(name, depth, state); !problem.empty()) {
            state.failedPath = childPath;
            state.refusal = std::move(problem);
            failed = kRefused;
            return false;
        }
        failed = PutKey(childPath, depth + 1, out, state, [&view](uint32_t index, Value& value) {
            return view.EnumValue(index, value.name, &value.type, &value.data);
        });
        if (failed != platform::kRegOk || !view.MayHaveSubkeys()) return failed == platform::kRegOk;
        Key child(registry);
        if ((failed = view.OpenKey("", child.receive())) != platform::kRegOk) return false;
        failed = ExportSubkeys(registry, child.get(), childPath, depth + 1, out, state);
        return failed == platform::kRegOk;
    });
    if (failed != platform::kRegOk) return failed;
    if (walked != platform::kRegOk) state.failedPath = path;
    return walked;
}

// Writes the key at path (the exported key, depth 0) and its subkeys.
long ExportKey(Registry& registry, RegKey key, const std::string& path, Writer& out, ExportState& state) {
    const long rc = PutKey(path, 0, out, state, [&](uint32_t index, Value& value) {
        return registry.EnumValue(key, index, value.name, &value.type, &value.data);
    });
    return rc != platform::kRegOk ? rc : ExportSubkeys(registry, key, path, 0, out, state);
}

// ---- import: parsing -------------------------------------------------------------------------

struct Change {
    enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind = kCreateKey;
    size_t line = 0;   // 1-based line of the file it comes from
    std::string path;  // key below the hive's root ("" for the root itself)
    std::string name;  // value name ("" for the default value)
    uint32_t type = 0;
    std::string data;
};

struct ParseError {
    size_t line;
    std::string what;
};

class Parser {
public:
    Parser(std::vector<std::u16string> lines, bool version5, const RegFileRules& rules)
        : lines_(std::move(lines)), version5_(version5), rules_(rules) {}

    // Fills changes, or returns the first error.
    std::optional<ParseError> Run(std::vector<Change>& changes) {
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            std::u16string_view line = lines_[index_];
            size_t pos = SkipBlanks(line, 0);
            if (pos == line.size() || line[pos] == u';') continue;
            if (line[pos] == u'[') {
                if (!KeyLine(line, pos + 1, changes)) return error_;
            } else if (line[pos] == u'"' || line[pos] == u'@') {
                if (!ValueLine(line, pos, changes)) return error_;
            } else {
                return ParseError{index_ + 1, "not a key, a value or a comment"};
            }
        }
        return std::nullopt;
    }

private:
    enum class Current { kNone, kOpen, kDeleted };

    static size_t SkipBlanks(std::u16string_view line, size_t pos) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        return pos;
    }

    bool Fail(std::string what) {
        error_ = ParseError{index_ + 1, std::move(what)};
        return false;
    }

    bool OnlyBlanksFrom(std::u16string_view line, size_t pos, const char* what) {
        if (SkipBlanks(line, pos) == line.size()) return true;
        return Fail(std::string("unexpected text after ") + what);
    }

    bool KeyLine(std::u16string_view line, size_t pos, std::vector<Change>& changes) {
        const bool deleting = pos < line.size() && line[pos] == u'-';
        if (deleting) ++pos;
        const size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos || close < pos) return Fail("key name without closing \"]\"");
        if (!OnlyBlanksFrom(line, close + 1, "the key name")) return false;
        const std::u16string_view full = line.substr(pos, close - pos);
        const size_t slash = full.find(u'\\');
        const std::u16string_view hive = full.substr(0, slash);
        if (!EqualsNoCase(hive, kHive)) {
            static constexpr std::u16string_view kOtherHives[] = {
                u"HKEY_LOCAL_MACHINE", u"HKEY_CLASSES_ROOT", u"HKEY_USERS", u"HKEY_CURRENT_CONFIG",
                u"HKEY_PERFORMANCE_DATA", u"HKEY_DYN_DATA", u"HKLM", u"HKCU", u"HKCR", u"HKU", u"HKCC"};
            const std::string name = ToNarrow(hive);
            if (EqualsNoCase(hive, u"HKCU")) {
                return Fail("\"HKCU\" is not a hive name in a registry file; write HKEY_CURRENT_USER");
            }
            for (std::u16string_view other : kOtherHives) {
                if (EqualsNoCase(hive, other)) {
                    return Fail("only HKEY_CURRENT_USER can be imported, not " + name);
                }
            }
            return Fail("\"" + name + "\" is not a registry hive");
        }
        std::u16string_view path = slash == std::u16string_view::npos ? std::u16string_view{} : full.substr(slash + 1);
        for (size_t start = 0; slash != std::u16string_view::npos;) {
            const size_t end = std::min(path.find(u'\\', start), path.size());
            if (end == start) return Fail("empty key name in the path");
            if (end - start > kMaxKeyName) return Fail("key name longer than 255 characters");
            if (end == path.size()) break;
            start = end + 1;
        }
        if (deleting && path.empty()) return Fail("HKEY_CURRENT_USER itself cannot be deleted");

        Change change;
        change.kind = deleting ? Change::kDeleteKey : Change::kCreateKey;
        change.line = index_ + 1;
        change.path = ToNarrow(path);
        std::string connection;
        const Place place = PlaceOf(change.path, rules_.scope, &connection);
        if (place == Place::kAbove && deleting) {
            return Fail("deleting " + Escaped(KeyName(change.path)) + " would delete " + KeyName(rules_.scope) +
                        " with it");
        }
        if (place == Place::kAbove || place == Place::kOutside) {
            return Fail(Escaped(KeyName(change.path)) + " is outside " + KeyName(rules_.scope) +
                        ", the only key this file may change");
        }
        if (rules_.connectionNames && place == Place::kInside && !deleting) {
            if (const char* problem = StoredNameProblem(connection)) {
                return Fail("the connection name \"" + Escaped(connection) + "\" " + problem);
            }
        }
        scopeKey_ = place == Place::kScope;
        current_ = deleting ? Current::kDeleted : Current::kOpen;
        currentPath_ = change.path;
        changes.push_back(std::move(change));
        return true;
    }

    // A quoted string at line[pos] == '"'; pos ends after the closing quote.
    bool QuotedString(std::u16string_view line, size_t& pos, std::u16string& text) {
        for (++pos; pos < line.size(); ++pos) {
            const char16_t c = line[pos];
            if (c == u'"') {
                ++pos;
                return true;
            }
            if (c != u'\\') {
                text.push_back(c);
                continue;
            }
            if (++pos == line.size()) break;
            switch (line[pos]) {
                case u'\\': text.push_back(u'\\'); break;
                case u'"': text.push_back(u'"'); break;
                case u'n': text.push_back(u'\n'); break;
                default:
                    return Fail("bad escape \"\\" + ToNarrow(line.substr(pos, 1)) +
                                "\" in a string (only \\\\, \\\" and \\n are known)");
            }
        }
        return Fail("unterminated string");
    }

    bool ValueLine(std::u16string_view line, size_t pos, std::vector<Change>& changes) {
        if (current_ == Current::kNone) return Fail("value before any key");
        Change change;
        change.kind = Change::kSetValue;
        change.line = index_ + 1;
        change.path = currentPath_;
        if (line[pos] == u'@') {
            ++pos;
        } else {
            std::u16string name;
            if (!QuotedString(line, pos, name)) return false;
            change.name = ToNarrow(name);  // "" names the default value, as @ does
        }
        pos = SkipBlanks(line, pos);
        if (pos == line.size() || line[pos] != u'=') return Fail("\"=\" expected after the value name");
        pos = SkipBlanks(line, pos + 1);
        const std::u16string_view rest = line.substr(pos);

        if (!rest.empty() && rest[0] == u'-') {
            if (!OnlyBlanksFrom(line, pos + 1, "\"-\"")) return false;
            change.kind = Change::kDeleteValue;
        } else if (!rest.empty() && rest[0] == u'"') {
            std::u16string text;
            if (!QuotedString(line, pos, text)) return false;
            if (!OnlyBlanksFrom(line, pos, "the string")) return false;
            change.type = platform::kRegSz;
            change.data = ToNarrow(text);
            change.data.push_back('\0');
        } else if (StartsWithNoCase(rest, u"dword:")) {
            if (!Dword(line, pos + 6, change)) return false;
        } else if (StartsWithNoCase(rest, u"hex")) {
            if (!HexValue(line, pos + 3, change)) return false;
        } else {
            return Fail("value data must be a string, dword:, hex:, hex(N): or -");
        }
        // The scope's default value names the default connection.
        if (rules_.connectionNames && scopeKey_ && current_ == Current::kOpen && change.name.empty() &&
            (change.type == platform::kRegSz || change.type == platform::kRegExpandSz)) {
            const std::string name = change.data.substr(0, change.data.find('\0'));
            if (const char* problem = name.empty() ? nullptr : StoredNameProblem(name)) {
                return Fail("the default connection's name \"" + Escaped(name) + "\" " + problem);
            }
        }
        if (current_ == Current::kOpen) changes.push_back(std::move(change));
        return true;
    }

    bool Dword(std::u16string_view line, size_t pos, Change& change) {
        uint32_t number = 0;
        size_t digits = 0;
        for (; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos, ++digits) {
            number = number << 4 | static_cast<uint32_t>(HexDigit(line[pos]));
        }
        if (digits == 0 || digits > 8) return Fail("dword: needs 1 to 8 hexadecimal digits");
        if (!OnlyBlanksFrom(line, pos, "the dword")) return false;
        change.type = platform::kRegDword;
        for (int i = 0; i < 4; ++i) change.data.push_back(static_cast<char>(number >> (8 * i) & 0xFF));
        return true;
    }

    // "hex:" or "hex(N):" from line[pos], just after "hex"; the bytes may continue on the
    // following lines, which index_ then moves over.
    bool HexValue(std::u16string_view line, size_t pos, Change& change) {
        uint32_t type = platform::kRegBinary;
        if (pos < line.size() && line[pos] == u'(') {
            type = 0;
            size_t digits = 0;
            for (++pos; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos, ++digits) {
                type = type << 4 | static_cast<uint32_t>(HexDigit(line[pos]));
            }
            if (digits == 0 || digits > 8 || pos == line.size() || line[pos] != u')') {
                return Fail("hex(N): needs a type of 1 to 8 hexadecimal digits");
            }
            ++pos;
        }
        if (pos == line.size() || line[pos] != u':') return Fail("\":\" expected after hex");
        ++pos;

        std::string bytes;
        pos = SkipBlanks(line, pos);
        bool needByte = false;  // after a "\\" that continues the data on the next line
        if (pos < line.size() && line[pos] == u'\\') {  // a name too long for any byte
            if (!OnlyBlanksFrom(line, pos + 1, "\"\\\"")) return false;
            pos = line.size();
            needByte = true;
        }
        while (pos < line.size() || needByte) {
            if (pos == line.size()) {
                if (++index_ == lines_.size()) {
                    --index_;
                    return Fail("hex data continues past the end of the file");
                }
                line = lines_[index_];
                pos = SkipBlanks(line, 0);
            }
            const int high = pos < line.size() ? HexDigit(line[pos]) : -1;
            if (high < 0) return Fail("hex byte expected");
            const int low = pos + 1 < line.size() ? HexDigit(line[pos + 1]) : -1;
            if (low < 0 || (pos + 2 < line.size() && HexDigit(line[pos + 2]) >= 0)) {
                return Fail("hex bytes must have two digits");
            }
            bytes.push_back(static_cast<char>(high << 4 | low));
            pos = SkipBlanks(line, pos + 2);
            needByte = false;
            if (pos == line.size()) break;
            if (line[pos] != u',') return Fail("\",\" expected between hex bytes");
            pos = SkipBlanks(line, pos + 1);
            if (pos < line.size() && line[pos] == u'\\') {
                if (!OnlyBlanksFrom(line, pos + 1, "\"\\\"")) return false;
                pos = line.size();
                needByte = true;
            }
        }

        const bool utf16 = version5_ && (type == platform::kRegSz || type == platform::kRegExpandSz || type == 7);
        if (utf16) {
            if (bytes.size() % 2 != 0) return Fail("UTF-16 string data with an odd number of bytes");
            std::u16string text;
            for (size_t i = 0; i < bytes.size(); i += 2) {
                text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                     static_cast<uint8_t>(bytes[i + 1]) << 8));
            }
            bytes = ToNarrow(text);
        }
        change.type = type;
        change.data = std::move(bytes);
        return true;
    }

    std::vector<std::u16string> lines_;
    bool version5_;
    const RegFileRules& rules_;
    size_t index_ = 0;
    Current current_ = Current::kNone;
    bool scopeKey_ = false;  // the current key is the scope itself
    std::string currentPath_;
    ParseError error_{0, {}};
};

std::vector<std::u16string> SplitLines(std::u16string_view text) {
    std::vector<std::u16string> lines;
    for (size_t start = 0;;) {
        const size_t end = text.find(u'\n', start);
        std::u16string_view line = text.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    // The line break that ends the last line begins no line of its own.
    if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    return lines;
}

// ---- import: applying ------------------------------------------------------------------------

// Applies one change; on failure says what the store refused and returns its code.
long Apply(Registry& registry, const Change& change, Key& current, std::string& what) {
    long rc = platform::kRegOk;
    switch (change.kind) {
        case Change::kCreateKey:
            current.reset();
            if (change.path.empty()) {
                *current.receive() = platform::kCurrentUser;
                return platform::kRegOk;
            }
            rc = registry.CreateKey(platform::kCurrentUser, change.path.c_str(), current.receive());
            what = "cannot create key " + KeyName(change.path);
            break;
        case Change::kDeleteKey:
            current.reset();
            // A key that is not there is fine.
            rc = registry.DeleteTree(platform::kCurrentUser, change.path.c_str());
            if (rc == platform::kRegNotFound) rc = platform::kRegOk;
            what = "cannot delete key " + KeyName(change.path);
            break;
        case Change::kSetValue:
            rc = registry.SetValue(current.get(), change.name.c_str(), change.type, change.data.data(),
                                   static_cast<uint32_t>(change.data.size()));
            what = "cannot set value " + (change.name.empty() ? std::string("@") : "\"" + change.name + "\"") +
                   " of " + KeyName(change.path);
            break;
        case Change::kDeleteValue:
            rc = registry.DeleteValue(current.get(), change.name.c_str());
            if (rc == platform::kRegNotFound) rc = platform::kRegOk;
            what = "cannot delete value " + (change.name.empty() ? std::string("@") : "\"" + change.name + "\"") +
                   " of " + KeyName(change.path);
            break;
    }
    if (rc != platform::kRegOk) what += " (" + StoreFailure(registry, rc) + ")";
    return rc;
}

}  // namespace

RegFileRules ConnectionRules() { return {"Software\\Vantorin\\Connections", true}; }

std::string ExportRegFile(Registry& registry, const std::string& keyPath, std::string* error,
                          const RegFileRules& rules, long* storeError) {
    if (storeError != nullptr) *storeError = platform::kRegOk;
    Key key(registry);
    long rc = platform::kRegOk;
    if (keyPath.empty()) {
        *key.receive() = platform::kCurrentUser;
    } else {
        rc = registry.OpenKey(platform::kCurrentUser, keyPath.c_str(), key.receive());
    }
    ExportState state{rules.connectionNames, KeyName(keyPath), {}};
    Writer out;
    // A save that a killed process left unfinished is finished first: its journal is no
    // connection, and what it says belongs in the export.
    if (rc == platform::kRegOk && rules.connectionNames) rc = FinishPendingSave(registry, key.get());
    if (rc == platform::kRegOk) {
        out.Line(kHeader5);
        out.Line(u"");
        rc = ExportKey(registry, key.get(), KeyName(keyPath), out, state);
    }
    if (rc == platform::kRegOk) return std::move(out).Bytes();
    if (rc != kRefused && rc != platform::kRegNotFound && storeError != nullptr) *storeError = rc;
    if (error != nullptr) {
        const std::string where = Escaped(state.failedPath);
        *error = rc == kRefused               ? "cannot export " + where + ": " + state.refusal
                 : rc == platform::kRegNotFound ? where + ": no such key"
                                                : where + ": cannot read (" + StoreFailure(registry, rc) + ")";
    }
    return {};
}

bool ImportRegFile(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                   std::string& error, const RegFileRules& rules, long* storeError) {
    if (storeError != nullptr) *storeError = platform::kRegOk;
    // The text: UTF-16LE after its byte-order mark, otherwise 8-bit text.
    std::u16string text;
    bool oddByte = false;
    if (fileBytes.size() >= 2 && static_cast<uint8_t>(fileBytes[0]) == 0xFF &&
        static_cast<uint8_t>(fileBytes[1]) == 0xFE) {
        oddByte = fileBytes.size() % 2 != 0;
        text.reserve(fileBytes.size() / 2);
        for (size_t i = 2; i + 1 < fileBytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<uint8_t>(fileBytes[i]) |
                                                 static_cast<uint8_t>(fileBytes[i + 1]) << 8));
        }
    } else {
        if (fileBytes.substr(0, 3) == "\xEF\xBB\xBF") fileBytes.remove_prefix(3);
        text = ToUtf16(fileBytes);
    }

    std::vector<std::u16string> lines = SplitLines(text);
    std::u16string_view header = lines[0];
    while (!header.empty() && IsBlank(header.back())) header.remove_suffix(1);
    const bool version5 = header == kHeader5;
    if (!version5 && header != kHeader4) {
        error = fileName + ":1: not a registry file (the first line must be \"" + ToNarrow(kHeader5) +
                "\" or \"" + ToNarrow(kHeader4) + "\")";
        return false;
    }

    const size_t lineCount = lines.size();
    std::vector<Change> changes;
    if (const std::optional<ParseError> failure = Parser(std::move(lines), version5, rules).Run(changes)) {
        error = fileName + ":" + std::to_string(failure->line) + ": " + failure->what;
        return false;
    }
    if (oddByte) {
        error = fileName + ":" + std::to_string(lineCount) + ": truncated UTF-16 text (odd number of bytes)";
        return false;
    }

    // One batch: the file lands whole or, where the store has batches, not at all.
    const auto storeFailed = [&](long rc, std::string message) {
        if (storeError != nullptr) *storeError = rc;
        error = std::move(message);
        return false;
    };
    if (const long rc = registry.BeginBatch(); rc != platform::kRegOk) {
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    // Finished first, or its journal would later be replayed over what is imported.
    if (const long rc = rules.connectionNames ? FinishPendingSave(registry) : platform::kRegOk; rc != platform::kRegOk) {
        registry.AbortBatch();
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    {
        Key current(registry);
        for (const Change& change : changes) {
            std::string what;
            if (const long rc = Apply(registry, change, current, what); rc != platform::kRegOk) {
                current.reset();
                registry.AbortBatch();
                return storeFailed(rc, fileName + ":" + std::to_string(change.line) + ": " + Escaped(what));
            }
        }
    }
    if (const long rc = registry.CommitBatch(); rc != platform::kRegOk) {
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    return true;
}

}  // namespace tavix::store
