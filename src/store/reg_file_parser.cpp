#include "store/reg_file_parser.h"

#include <algorithm>
#include <utility>

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "store/reg_file_text.h"
#include "store/stored_name.h"

namespace tavix::store::regfile {

namespace {

constexpr std::u16string_view kHive = u"HKEY_CURRENT_USER";
constexpr size_t kMaxKeyName = 255;

// ---- text ------------------------------------------------------------------------------------

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

// The file's text: UTF-16LE after its byte-order mark (oddByte tells of a last byte that
// makes no character), otherwise 8-bit text of the code page, after a UTF-8 byte-order mark
// if there is one.
std::u16string DecodeFile(std::string_view fileBytes, bool& oddByte) {
    oddByte = false;
    std::u16string text;
    if (fileBytes.size() >= 2 && static_cast<uint8_t>(fileBytes[0]) == 0xFF &&
        static_cast<uint8_t>(fileBytes[1]) == 0xFE) {
        oddByte = fileBytes.size() % 2 != 0;
        text.reserve(fileBytes.size() / 2);
        for (size_t i = 2; i + 1 < fileBytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<uint8_t>(fileBytes[i]) |
                                                 static_cast<uint8_t>(fileBytes[i + 1]) << 8));
        }
        return text;
    }
    if (fileBytes.substr(0, 3) == "\xEF\xBB\xBF") fileBytes.remove_prefix(3);
    return ToUtf16(fileBytes);
}

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

// ---- scope -----------------------------------------------------------------------------------

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

// ---- lines -----------------------------------------------------------------------------------

class Parser {
public:
    Parser(std::vector<std::u16string> lines, bool version5, const RegFileRules& rules)
        : lines_(std::move(lines)), version5_(version5), rules_(rules) {}

    // Fills changes from the lines after the header, or returns the first error.
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

    // A hive name that is not HKEY_CURRENT_USER, refused with the reason.
    bool OtherHive(std::u16string_view hive) {
        static constexpr std::u16string_view kOtherHives[] = {
            u"HKEY_LOCAL_MACHINE", u"HKEY_CLASSES_ROOT", u"HKEY_USERS", u"HKEY_CURRENT_CONFIG",
            u"HKEY_PERFORMANCE_DATA", u"HKEY_DYN_DATA", u"HKLM", u"HKCU", u"HKCR", u"HKU", u"HKCC"};
        const std::string name = ToNarrow(hive);
        if (EqualsNoCase(hive, u"HKCU")) {
            return Fail("\"HKCU\" is not a hive name in a registry file; write HKEY_CURRENT_USER");
        }
        for (std::u16string_view other : kOtherHives) {
            if (EqualsNoCase(hive, other)) return Fail("only HKEY_CURRENT_USER can be imported, not " + name);
        }
        return Fail("\"" + name + "\" is not a registry hive");
    }

    // Each name of a key path (below the hive) is 1 to 255 characters long.
    bool CheckKeyNames(std::u16string_view path) {
        for (size_t start = 0;;) {
            const size_t end = std::min(path.find(u'\\', start), path.size());
            if (end == start) return Fail("empty key name in the path");
            if (end - start > kMaxKeyName) return Fail("key name longer than 255 characters");
            if (end == path.size()) return true;
            start = end + 1;
        }
    }

    // A key at path may be created (or deleted) under the rules.
    bool CheckScope(const std::string& path, bool deleting) {
        std::string connection;
        const Place place = PlaceOf(path, rules_.scope, &connection);
        if (place == Place::kAbove && deleting) {
            return Fail("deleting " + Escaped(KeyName(path)) + " would delete " + KeyName(rules_.scope) + " with it");
        }
        if (place == Place::kAbove || place == Place::kOutside) {
            return Fail(Escaped(KeyName(path)) + " is outside " + KeyName(rules_.scope) +
                        ", the only key this file may change");
        }
        if (rules_.connectionNames && place == Place::kInside && !deleting) {
            if (const char* problem = StoredNameProblem(connection)) {
                return Fail("the connection name \"" + Escaped(connection) + "\" " + problem);
            }
        }
        scopeKey_ = place == Place::kScope;
        return true;
    }

    bool KeyLine(std::u16string_view line, size_t pos, std::vector<Change>& changes) {
        const bool deleting = pos < line.size() && line[pos] == u'-';
        if (deleting) ++pos;
        const size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos || close < pos) return Fail("key name without closing \"]\"");
        if (!OnlyBlanksFrom(line, close + 1, "the key name")) return false;
        const std::u16string_view full = line.substr(pos, close - pos);
        const size_t slash = full.find(u'\\');
        if (!EqualsNoCase(full.substr(0, slash), kHive)) return OtherHive(full.substr(0, slash));
        const bool root = slash == std::u16string_view::npos;
        const std::u16string_view path = root ? std::u16string_view{} : full.substr(slash + 1);
        if (!root && !CheckKeyNames(path)) return false;
        if (deleting && path.empty()) return Fail("HKEY_CURRENT_USER itself cannot be deleted");

        Change change;
        change.kind = deleting ? Change::kDeleteKey : Change::kCreateKey;
        change.line = index_ + 1;
        change.path = ToNarrow(path);
        if (!CheckScope(change.path, deleting)) return false;
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

    // The data after "=" at line[pos]: "-", a quoted string, dword: or hex.
    bool ValueData(std::u16string_view line, size_t pos, Change& change) {
        const std::u16string_view rest = line.substr(pos);
        if (!rest.empty() && rest[0] == u'-') {
            if (!OnlyBlanksFrom(line, pos + 1, "\"-\"")) return false;
            change.kind = Change::kDeleteValue;
            return true;
        }
        if (!rest.empty() && rest[0] == u'"') {
            std::u16string text;
            if (!QuotedString(line, pos, text)) return false;
            if (!OnlyBlanksFrom(line, pos, "the string")) return false;
            change.type = platform::kRegSz;
            change.data = ToNarrow(text);
            change.data.push_back('\0');
            return true;
        }
        if (StartsWithNoCase(rest, u"dword:")) return Dword(line, pos + 6, change);
        if (StartsWithNoCase(rest, u"hex")) return HexValue(line, pos + 3, change);
        return Fail("value data must be a string, dword:, hex:, hex(N): or -");
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
        if (!ValueData(line, SkipBlanks(line, pos + 1), change)) return false;
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

    // "hex:" or "hex(N):" from line[pos], just after "hex": the type, then the bytes, then
    // their decoding.
    bool HexValue(std::u16string_view line, size_t pos, Change& change) {
        uint32_t type = platform::kRegBinary;
        std::string bytes;
        if (!HexType(line, pos, type) || !HexBytes(line, pos, bytes) || !DecodeHexData(type, bytes)) return false;
        change.type = type;
        change.data = std::move(bytes);
        return true;
    }

    // ":" (REG_BINARY, type left as it is) or "(N):" at line[pos]; pos ends after the colon.
    bool HexType(std::u16string_view line, size_t& pos, uint32_t& type) {
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
        return true;
    }

    // At a "\" that continues the data on the next line: nothing may follow it.
    bool Continues(std::u16string_view line, size_t& pos, bool& needByte) {
        if (pos == line.size() || line[pos] != u'\\') return true;
        if (!OnlyBlanksFrom(line, pos + 1, "\"\\\"")) return false;
        pos = line.size();
        needByte = true;
        return true;
    }

    // The comma-separated two-digit bytes from line[pos]; they may continue on the following
    // lines, which index_ then moves over.
    bool HexBytes(std::u16string_view line, size_t pos, std::string& bytes) {
        pos = SkipBlanks(line, pos);
        bool needByte = false;  // after a "\\" that continues the data on the next line
        if (!Continues(line, pos, needByte)) return false;  // a name too long for any byte
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
            if (!Continues(line, pos, needByte)) return false;
        }
        return true;
    }

    // Text data of a version 5 file is UTF-16LE; the store keeps 8-bit text. Version 4 files
    // hold the store's bytes as they are.
    bool DecodeHexData(uint32_t type, std::string& bytes) {
        if (!version5_ || !HoldsText(type)) return true;
        if (bytes.size() % 2 != 0) return Fail("UTF-16 string data with an odd number of bytes");
        std::u16string text;
        for (size_t i = 0; i < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                 static_cast<uint8_t>(bytes[i + 1]) << 8));
        }
        bytes = ToNarrow(text);
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

}  // namespace

std::optional<ParseError> ParseRegFile(std::string_view fileBytes, const RegFileRules& rules,
                                       std::vector<Change>& changes) {
    bool oddByte = false;
    std::vector<std::u16string> lines = SplitLines(DecodeFile(fileBytes, oddByte));
    std::u16string_view header = lines[0];
    while (!header.empty() && IsBlank(header.back())) header.remove_suffix(1);
    const bool version5 = header == kHeader5;
    if (!version5 && header != kHeader4) {
        return ParseError{1, "not a registry file (the first line must be \"" + ToNarrow(kHeader5) + "\" or \"" +
                                 ToNarrow(kHeader4) + "\")"};
    }
    const size_t lineCount = lines.size();
    if (std::optional<ParseError> failure = Parser(std::move(lines), version5, rules).Run(changes)) return failure;
    if (oddByte) return ParseError{lineCount, "truncated UTF-16 text (odd number of bytes)"};
    return std::nullopt;
}

}  // namespace tavix::store::regfile
