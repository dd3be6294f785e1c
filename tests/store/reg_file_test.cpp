// .reg files: the exact text of an export, round trips, files written by Windows, REGEDIT4
// files, and malformed files refused with the store left as it was.
#include "store/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"

#if !defined(_WIN32)
#include <stdlib.h>

#include <filesystem>

#include "platform/posix/registry_sqlite.h"
#endif

namespace tavix::store {
namespace {

using platform::RegKey;

// A small registry in memory: keys by their upper-cased path, each keeping its name's case and
// its values in creation order; subkeys enumerate in upper-cased name order. A batch is undone
// by AbortBatch. SetValue and CreateKey fail with access denied on the name `refuse`.
class MemoryRegistry final : public platform::Registry {
public:
    struct Value {
        std::string name;
        uint32_t type;
        std::string data;
        bool operator==(const Value&) const = default;
    };
    struct Node {
        std::string name;
        std::vector<Value> values;
        bool operator==(const Node&) const = default;
    };
    std::map<std::string, Node> keys{{"", {}}};
    std::string refuse;
    int aborts = 0;

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) override {
        const std::string path = Join(parent, subKey);
        if (!keys.count(path)) return platform::kRegNotFound;
        *key = Handle(path);
        return platform::kRegOk;
    }
    long CreateKey(RegKey parent, const char* subKey, RegKey* key) override {
        std::string path = handles_.count(parent) ? handles_[parent] : "";
        std::string name, rest = subKey;
        for (size_t start = 0; start <= rest.size();) {
            const size_t end = std::min(rest.find('\\', start), rest.size());
            name = rest.substr(start, end - start);
            if (name.empty() || name.size() > 255) return platform::kRegInvalidParameter;
            if (name == refuse) return platform::kRegAccessDenied;
            path += (path.empty() ? "" : "\\") + Upper(name);
            if (!keys.count(path)) keys[path].name = name;
            start = end + 1;
        }
        *key = Handle(path);
        return platform::kRegOk;
    }
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override {
        Value* value = Find(key, name);
        if (value == nullptr) return platform::kRegNotFound;
        if (type) *type = value->type;
        if (data && *size < value->data.size()) return platform::kRegMoreData;
        if (data) std::copy(value->data.begin(), value->data.end(), static_cast<char*>(data));
        if (size) *size = static_cast<uint32_t>(value->data.size());
        return platform::kRegOk;
    }
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) override {
        if (!keys.count(handles_[key])) return platform::kRegKeyDeleted;
        if (!refuse.empty() && refuse == name) return platform::kRegAccessDenied;
        Value* value = Find(key, name);
        if (value == nullptr) value = &keys[handles_[key]].values.emplace_back(Value{name ? name : "", 0, {}});
        value->type = type;
        value->data.assign(static_cast<const char*>(data), size);
        return platform::kRegOk;
    }
    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) override {
        const std::vector<std::string> names = Children(handles_[key]);
        if (index >= names.size()) return platform::kRegNoMoreItems;
        if (names[index].size() >= nameSize) return platform::kRegMoreData;
        std::copy(names[index].c_str(), names[index].c_str() + names[index].size() + 1, name);
        return platform::kRegOk;
    }
    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) override {
        const std::vector<Value>& values = keys[handles_[key]].values;
        if (index >= values.size()) return platform::kRegNoMoreItems;
        name = values[index].name;
        if (type) *type = values[index].type;
        if (data) data->assign(values[index].data.begin(), values[index].data.end());
        return platform::kRegOk;
    }
    long DeleteKey(RegKey parent, const char* subKey) override {
        const std::string path = Join(parent, subKey);
        if (!keys.count(path)) return platform::kRegNotFound;
        if (!Children(path).empty()) return platform::kRegAccessDenied;
        keys.erase(path);
        return platform::kRegOk;
    }
    long DeleteValue(RegKey key, const char* name) override {
        std::vector<Value>& values = keys[handles_[key]].values;
        const size_t before = values.size();
        std::erase_if(values, [&](const Value& v) { return Upper(v.name) == Upper(name); });
        return values.size() < before ? platform::kRegOk : platform::kRegNotFound;
    }
    long CloseKey(RegKey key) override { return handles_.erase(key) ? platform::kRegOk : platform::kRegInvalidHandle; }
    void BeginBatch() override { saved_.push_back(keys); }
    void CommitBatch() override { saved_.pop_back(); }
    void AbortBatch() override {
        keys = saved_.back();
        saved_.pop_back();
        ++aborts;
    }

    size_t OpenHandles() const { return handles_.size(); }

    // Test set-up: a value by path.
    void Set(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
        RegKey key;
        ASSERT_EQ(CreateKey(platform::kCurrentUser, path.c_str(), &key), platform::kRegOk);
        ASSERT_EQ(SetValue(key, name.c_str(), type, data.data(), static_cast<uint32_t>(data.size())), platform::kRegOk);
        CloseKey(key);
    }
    const Value* Get(const std::string& path, const std::string& name) {
        auto key = keys.find(Upper(path));
        if (key == keys.end()) return nullptr;
        for (const Value& v : key->second.values) {
            if (Upper(v.name) == Upper(name)) return &v;
        }
        return nullptr;
    }

private:
    static std::string Upper(std::string text) {
        for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        return text;
    }
    std::string Join(RegKey parent, const char* subKey) {
        const std::string base = parent == platform::kCurrentUser ? "" : handles_[parent];
        if (subKey == nullptr || *subKey == 0) return base;
        return (base.empty() ? "" : base + "\\") + Upper(subKey);
    }
    RegKey Handle(const std::string& path) {
        handles_[++next_] = path;
        return next_;
    }
    Value* Find(RegKey key, const char* name) {
        auto node = keys.find(handles_[key]);
        if (node == keys.end()) return nullptr;
        for (Value& v : node->second.values) {
            if (Upper(v.name) == Upper(name ? name : "")) return &v;
        }
        return nullptr;
    }
    std::vector<std::string> Children(const std::string& path) {
        std::vector<std::string> names;
        const std::string prefix = path.empty() ? "" : path + "\\";
        for (const auto& [key, node] : keys) {
            if (key.size() > prefix.size() && key.starts_with(prefix) && key.find('\\', prefix.size()) == std::string::npos) {
                names.push_back(node.name);
            }
        }
        return names;
    }

    std::map<RegKey, std::string> handles_{{platform::kCurrentUser, ""}};
    RegKey next_ = 100;
    std::vector<std::map<std::string, Node>> saved_;
};

constexpr const char* kKey = "Software\\Vantorin\\Connections";

std::string Sz(std::string_view text) { return std::string(text) + '\0'; }
std::string Dword(uint32_t n) { return {char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24)}; }

// A version 5 file's bytes from its text.
std::string Utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

// The text of an exported file whose characters are ASCII, for readable comparisons.
std::string AsciiText(const std::string& file) {
    EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (size_t i = 2; i + 1 < file.size(); i += 2) {
        text.push_back(file[i + 1] == 0 && file[i] > 0 ? file[i] : '?');
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// `reg export HKCU\Software\Vantorin\Connections` on Windows, written out by hand.
const std::u16string_view kWindowsExport =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n"
    u"@=\"Sales\"\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Local]\r\n"
    u"@=\"cn_iptcp:127.0.0.1[1972]\"\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Sales]\r\n"
    u"@=\"cn_iptcp:db1[1972]:SALES\"\r\n"
    u"\"IconIndex\"=dword:0000002a\r\n"
    u"\"IconFilename\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,\\\r\n"
    u"  00,74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,\\\r\n"
    u"  73,00,68,00,65,00,6c,00,6c,00,33,00,32,00,2e,00,64,00,6c,00,6c,00,00,00\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Sales\\Notes]\r\n"
    u"\"Text\"=\"say \\\"hi\\\" to C:\\\\db\"\r\n"
    u"\r\n";

TEST(RegFileExport, WritesRegeditsFormat) {
    MemoryRegistry registry;
    const std::string sales = std::string(kKey) + "\\Sales";
    registry.Set(sales + "\\Notes", "Text", platform::kRegSz, Sz("say \"hi\" to C:\\db"));
    registry.Set(sales, "IconIndex", platform::kRegDword, Dword(42));
    registry.Set(sales, "IconFilename", platform::kRegExpandSz, Sz("%SystemRoot%\\system32\\shell32.dll"));
    registry.Set(sales, "", platform::kRegSz, Sz("cn_iptcp:db1[1972]:SALES"));  // created last, written first
    registry.Set(std::string(kKey) + "\\Local", "", platform::kRegSz, Sz("cn_iptcp:127.0.0.1[1972]"));
    registry.Set(kKey, "", platform::kRegSz, Sz("Sales"));

    std::string error;
    const std::string file = ExportRegFile(registry, kKey, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(AsciiText(file), AsciiText(Utf16File(kWindowsExport)));
    EXPECT_EQ(file, Utf16File(kWindowsExport));
    EXPECT_EQ(registry.OpenHandles(), 1u);
}

TEST(RegFileExport, WritesEachTypeAsRegeditDoes) {
    MemoryRegistry registry;
    registry.Set("T", "Path", platform::kRegExpandSz, Sz("%SystemRoot%\\system32"));
    registry.Set("T", "bin", platform::kRegBinary, std::string("\x00\xff\x10", 3));
    registry.Set("T", "empty", platform::kRegBinary, "");
    registry.Set("T", "multi", 7, std::string("a\0b\0\0", 5));
    registry.Set("T", "short", platform::kRegDword, "\x01\x02");
    registry.Set("T", "lines", platform::kRegSz, Sz("a\nb"));
    registry.Set("T", "unterminated", platform::kRegSz, "ab");
    registry.Set("T", "qword", 11, std::string("\x01\0\0\0\0\0\0\x80", 8));
    registry.Set("T", "blank", platform::kRegSz, Sz(""));
    registry.Set("T\\b", "x", platform::kRegDword, Dword(0xDEADBEEF));
    registry.Set("T\\_c", "", platform::kRegSz, "");
    registry.Set("T\\A", "", platform::kRegSz, Sz("with \\ and \""));
    EXPECT_EQ(AsciiText(ExportRegFile(registry, "T")),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\T]\r\n"
              "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
              "  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00\r\n"
              "\"bin\"=hex:00,ff,10\r\n"
              "\"empty\"=hex:\r\n"
              "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
              "\"short\"=hex(4):01,02\r\n"
              "\"lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
              "\"unterminated\"=hex(1):61,00,62,00\r\n"
              "\"qword\"=hex(b):01,00,00,00,00,00,00,80\r\n"
              "\"blank\"=\"\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\T\\A]\r\n"
              "@=\"with \\\\ and \\\"\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\T\\b]\r\n"
              "\"x\"=dword:deadbeef\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\T\\_c]\r\n"
              "@=\"\"\r\n"
              "\r\n");
}

// Hex data holds as many bytes on a line as fit in 80 characters with the closing ",\";
// continuation lines start with two spaces. Value names of every length up to 69, so that the
// first line ends at each of 78, 79 and 80 characters; after a longer name the first line
// holds one byte.
TEST(RegFileExport, WrapsHexDataAtEightyCharacters) {
    MemoryRegistry registry;
    std::string data;
    for (int i = 0; i < 200; ++i) data.push_back(static_cast<char>(i * 7));
    for (size_t length : {1, 2, 3}) registry.Set("W", std::string(100 + length, 'n'), platform::kRegBinary, data);
    for (size_t length = 1; length <= 69; ++length) registry.Set("W", std::string(length, 'v'), platform::kRegBinary, data);
    const std::vector<std::string> lines = Lines(AsciiText(ExportRegFile(registry, "W")));
    size_t values = 0;
    for (size_t i = 3; i < lines.size() && !lines[i].empty(); ++values) {
        std::string joined;
        for (bool first = true;; first = false, ++i) {
            const std::string& line = lines[i];
            if (first && line.find(':') + 5 > 80) {
                EXPECT_TRUE(line.ends_with("hex:00,\\")) << line;
            } else {
                EXPECT_LE(line.size(), 80u) << line;
            }
            if (!first) {
                EXPECT_EQ(line.substr(0, 2), "  ");
            }
            const bool more = line.ends_with(",\\");
            if (more) {
                EXPECT_GT(line.size() + 3, 80u) << "another byte would have fit: " << line;
            }
            std::string part = first ? line.substr(line.find(':') + 1) : line.substr(2);
            if (more) part.pop_back();  // the "\\", keeping the comma
            joined += part;
            if (!more) break;
        }
        ++i;
        std::string bytes;
        for (size_t k = 0; k < joined.size(); k += 3) bytes.push_back(static_cast<char>(std::stoi(joined.substr(k, 2), nullptr, 16)));
        EXPECT_EQ(bytes, data);
    }
    EXPECT_EQ(values, 72u);
}

TEST(RegFileExport, MissingKeyIsAnError) {
    MemoryRegistry registry;
    std::string error;
    EXPECT_EQ(ExportRegFile(registry, "Software\\Nowhere", &error), "");
    EXPECT_EQ(error, "HKEY_CURRENT_USER\\Software\\Nowhere: no such key");
}

TEST(RegFileImport, ReadsWhatWindowsExportsAndWritesItBackUnchanged) {
    MemoryRegistry registry;
    std::string error;
    ASSERT_TRUE(ImportRegFile(registry, Utf16File(kWindowsExport), "conn.reg", error)) << error;
    const std::string sales = std::string(kKey) + "\\Sales";
    EXPECT_EQ(registry.Get(kKey, "")->data, Sz("Sales"));
    EXPECT_EQ(registry.Get(sales, "")->data, Sz("cn_iptcp:db1[1972]:SALES"));
    EXPECT_EQ(registry.Get(sales, "IconIndex")->type, platform::kRegDword);
    EXPECT_EQ(registry.Get(sales, "IconIndex")->data, Dword(42));
    EXPECT_EQ(registry.Get(sales, "IconFilename")->type, platform::kRegExpandSz);
    EXPECT_EQ(registry.Get(sales, "IconFilename")->data, Sz("%SystemRoot%\\system32\\shell32.dll"));
    EXPECT_EQ(registry.Get(sales + "\\Notes", "Text")->data, Sz("say \"hi\" to C:\\db"));
    EXPECT_EQ(ExportRegFile(registry, kKey), Utf16File(kWindowsExport));
    EXPECT_EQ(registry.OpenHandles(), 1u);
}

TEST(RegFileImport, RoundTripGivesIdenticalBytes) {
    const platform::CodePage& codePage = platform::SystemCodePage();
    const std::string accented = codePage.ToNarrow(WideFromUtf16(u"Caf\u00e9"));
    MemoryRegistry registry;
    registry.Set(std::string(kKey) + "\\" + accented, "", platform::kRegSz, Sz(accented + " \"x\" \\"));
    registry.Set(std::string(kKey) + "\\" + accented, accented, platform::kRegExpandSz, Sz(std::string(150, 'p') + accented));
    registry.Set(std::string(kKey) + "\\a\\b\\c", "d", platform::kRegDword, Dword(7));
    registry.Set(std::string(kKey) + "\\a", "bin", platform::kRegBinary, std::string(100, '\x5a'));
    registry.Set(std::string(kKey) + "\\a", "odd", 0x12345, std::string("\0\1", 2));
    registry.Set(std::string(kKey) + "\\a", "lf", platform::kRegSz, Sz("1\n2"));
    registry.Set(kKey, "", platform::kRegSz, Sz(accented));
    const std::string first = ExportRegFile(registry, kKey);

    registry.Set("Software\\Other", "keep", platform::kRegSz, Sz("me"));
    std::string error;
    ASSERT_TRUE(ImportRegFile(registry, Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                  u"[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n"),
                              "clear.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(registry, kKey, &error), "");
    ASSERT_TRUE(ImportRegFile(registry, first, "first.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(registry, kKey), first);
    EXPECT_NE(registry.Get("Software\\Other", "keep"), nullptr);
}

TEST(RegFileImport, MergesVersion4AndVersion5Files) {
    MemoryRegistry registry;
    registry.Set("T", "kept", platform::kRegSz, Sz("old"));
    registry.Set("T", "gone", platform::kRegSz, Sz("old"));
    registry.Set("T", "", platform::kRegSz, Sz("old"));
    registry.Set("T\\Sub\\Deep", "x", platform::kRegSz, Sz("old"));
    std::string error;
    // REGEDIT4: 8-bit text with LF line ends; hex(2) data is 8-bit text.
    ASSERT_TRUE(ImportRegFile(registry,
                              "REGEDIT4\n\n; a comment\n[hkey_current_user\\T]\n"
                              "\"s\" = \"v4\"\n\"e\"=hex(2):25,41,25,\\\n   00\n\"gone\"=-\n@=-\n"
                              "[-HKEY_CURRENT_USER\\T\\Sub]\n\"ignored\"=\"under a deleted key\"\n",
                              "v4.reg", error)) << error;
    EXPECT_EQ(registry.Get("T", "s")->data, Sz("v4"));
    EXPECT_EQ(registry.Get("T", "e")->type, platform::kRegExpandSz);
    EXPECT_EQ(registry.Get("T", "e")->data, Sz("%A%"));
    EXPECT_EQ(registry.Get("T", "kept")->data, Sz("old"));
    EXPECT_EQ(registry.Get("T", "gone"), nullptr);
    EXPECT_EQ(registry.Get("T", ""), nullptr);
    EXPECT_FALSE(registry.keys.count("T\\SUB"));
    EXPECT_FALSE(registry.keys.count("T\\SUB\\DEEP"));
    // Version 5: hex(2) is UTF-16LE; dword: may have fewer than 8 digits; "" is the default value.
    ASSERT_TRUE(ImportRegFile(registry,
                              Utf16File(u"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\T]\n"
                                        u"\"e\"=hex(2):25,00,42,00,00,00\n\"d\"=DWORD:1F\n\"\"=\"def\"\n"),
                              "v5.reg", error)) << error;
    EXPECT_EQ(registry.Get("T", "e")->data, Sz("%B"));
    EXPECT_EQ(registry.Get("T", "d")->data, Dword(0x1F));
    EXPECT_EQ(registry.Get("T", "")->data, Sz("def"));
    EXPECT_EQ(registry.OpenHandles(), 1u);
}

struct BadFile {
    const char* what;
    std::u16string text;  // written as a version 5 file
    std::string error;    // after "bad.reg:"
};

TEST(RegFileImport, RefusesMalformedFilesAndChangesNothing) {
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n\"ok\"=\"new\"\r\n";
    const BadFile cases[] = {
        {"missing header", u"Windows Registry Editor Version 4.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n",
         "1: not a registry file (the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")"},
        {"unterminated string", head + u"\"s\"=\"abc\r\n", "5: unterminated string"},
        {"bad escape", head + u"\"s\"=\"C:\\db\"\r\n", "5: bad escape \"\\d\" in a string (only \\\\, \\\" and \\n are known)"},
        {"text after string", head + u"\"s\"=\"a\" b\r\n", "5: unexpected text after the string"},
        {"dword too long", head + u"\"d\"=dword:123456789\r\n", "5: dword: needs 1 to 8 hexadecimal digits"},
        {"dword not hex", head + u"\"d\"=dword:12g4\r\n", "5: unexpected text after the dword"},
        {"one hex digit", head + u"\"h\"=hex:01,2,03\r\n", "5: hex bytes must have two digits"},
        {"odd digit on a continuation line", head + u"\"h\"=hex:01,\\\r\n  02,3\r\n", "6: hex bytes must have two digits"},
        {"missing comma", head + u"\"h\"=hex:01 02\r\n", "5: \",\" expected between hex bytes"},
        {"bad hex type", head + u"\"h\"=hex(x):01\r\n", "5: hex(N): needs a type of 1 to 8 hexadecimal digits"},
        {"odd UTF-16 data", head + u"\"h\"=hex(2):41,00,00\r\n", "5: UTF-16 string data with an odd number of bytes"},
        {"unknown data", head + u"\"h\"=word:1\r\n", "5: value data must be a string, dword:, hex:, hex(N): or -"},
        {"value before any key", u"Windows Registry Editor Version 5.00\r\n\r\n\"v\"=\"x\"\r\n", "3: value before any key"},
        {"another hive", head + u"\r\n[HKEY_LOCAL_MACHINE\\Software\\T]\r\n",
         "6: only HKEY_CURRENT_USER can be imported, not HKEY_LOCAL_MACHINE"},
        {"abbreviated hive", head + u"[HKCU\\T]\r\n", "5: \"HKCU\" is not a hive name in a registry file; write HKEY_CURRENT_USER"},
        {"unknown hive", head + u"[Software\\T]\r\n", "5: \"Software\" is not a registry hive"},
        {"unclosed key", head + u"[HKEY_CURRENT_USER\\T\r\n", "5: key name without closing \"]\""},
        {"empty key name", head + u"[HKEY_CURRENT_USER\\T\\\\U]\r\n", "5: empty key name in the path"},
        {"key name too long", head + u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'k') + u"]\r\n",
         "5: key name longer than 255 characters"},
        {"deleting the root", head + u"[-HKEY_CURRENT_USER]\r\n", "5: HKEY_CURRENT_USER itself cannot be deleted"},
        {"stray line", head + u"ok=1\r\n", "5: not a key, a value or a comment"},
        {"truncated inside hex data", head + u"\"h\"=hex:01,02,\\\r\n", "5: hex data continues past the end of the file"},
        {"truncated inside a string", head + u"\"s\"=\"abc", "5: unterminated string"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.what);
        MemoryRegistry registry;
        registry.Set("T", "ok", platform::kRegSz, Sz("old"));
        const auto before = registry.keys;
        std::string error;
        EXPECT_FALSE(ImportRegFile(registry, Utf16File(bad.text), "bad.reg", error));
        EXPECT_EQ(error, "bad.reg:" + bad.error);
        EXPECT_TRUE(registry.keys == before);
    }

    // A UTF-16 file cut in the middle of a character; a REGEDIT4 file with a bad line.
    MemoryRegistry registry;
    std::string error;
    EXPECT_FALSE(ImportRegFile(registry, Utf16File(head).substr(0, Utf16File(head).size() - 1), "cut.reg", error));
    EXPECT_EQ(error, "cut.reg:4: truncated UTF-16 text (odd number of bytes)");
    EXPECT_FALSE(ImportRegFile(registry, "REGEDIT4\r\n[HKEY_CURRENT_USER\\T]\r\n\"d\"=dword:xyz\r\n", "v4.reg", error));
    EXPECT_EQ(error, "v4.reg:3: dword: needs 1 to 8 hexadecimal digits");
    EXPECT_EQ(registry.keys.size(), 1u);
}

TEST(RegFileImport, StoreFailureAbortsTheBatchAndNamesTheKey) {
    MemoryRegistry registry;
    registry.Set("T", "ok", platform::kRegSz, Sz("old"));
    const auto before = registry.keys;
    registry.refuse = "locked";
    std::string error;
    EXPECT_FALSE(ImportRegFile(registry,
                               Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n"
                                         u"\"ok\"=\"new\"\r\n[HKEY_CURRENT_USER\\T\\U]\r\n\"locked\"=dword:1\r\n"),
                               "f.reg", error));
    EXPECT_EQ(error, "f.reg:6: cannot set value \"locked\" of HKEY_CURRENT_USER\\T\\U (error 5, access denied)");
    EXPECT_EQ(registry.aborts, 1);
    EXPECT_TRUE(registry.keys == before);
    EXPECT_EQ(registry.OpenHandles(), 1u);
}

#if !defined(_WIN32)
// The same files through the SQLite store that the library uses on POSIX.
TEST(RegFileImport, RoundTripsThroughTheSqliteStore) {
    std::string dir = (std::filesystem::temp_directory_path() / "regfileXXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    {
        platform::SqliteRegistry registry(dir + "/registry.db");
        std::string error;
        ASSERT_TRUE(ImportRegFile(registry, Utf16File(kWindowsExport), "conn.reg", error)) << error;
        EXPECT_EQ(ExportRegFile(registry, kKey, &error), Utf16File(kWindowsExport)) << error;
        const std::u16string bad = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                   u"[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Sales]\r\n"
                                   u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n@=dword:\r\n";
        EXPECT_FALSE(ImportRegFile(registry, Utf16File(bad), "bad.reg", error));
        EXPECT_EQ(error, "bad.reg:5: dword: needs 1 to 8 hexadecimal digits");
        EXPECT_EQ(ExportRegFile(registry, kKey), Utf16File(kWindowsExport));
    }
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace tavix::store
