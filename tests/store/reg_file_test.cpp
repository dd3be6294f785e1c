// .reg files through the SQLite store: the exact text of an export, round trips, files written
// by Windows, REGEDIT4 files, and malformed files refused with the store left as it was. (Under
// Wine the command-line tool's test imports and exports through the Windows registry.)
#include "store/reg_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/registry_sqlite.h"

namespace tavix::store {
namespace {

using namespace platform;  // the registry's interface, result codes and value types

// The store the library uses on POSIX, in a directory of the test's own. It counts the keys
// left open and refuses to set a value named `refuse`.
class Store final : public Registry {
public:
    Store() : dir_(MakeDir()), db_(dir_ + "/registry.db") {}
    ~Store() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string refuse;
    int open = 0;

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) override {
        return Opened(db_.OpenKey(parent, subKey, key));
    }
    long CreateKey(RegKey parent, const char* subKey, RegKey* key) override {
        return Opened(db_.CreateKey(parent, subKey, key));
    }
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return db_.QueryValue(key, name, type, data, size);
    }
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) override {
        if (!refuse.empty() && name && refuse == name) return kRegAccessDenied;
        return db_.SetValue(key, name, type, data, size);
    }
    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t size) override {
        return db_.EnumKey(key, index, name, size);
    }
    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) override {
        return db_.EnumValue(key, index, name, type, data);
    }
    long DeleteKey(RegKey parent, const char* subKey) override { return db_.DeleteKey(parent, subKey); }
    long DeleteTree(RegKey parent, const char* subKey) override { return db_.DeleteTree(parent, subKey); }
    long DeleteValue(RegKey key, const char* name) override { return db_.DeleteValue(key, name); }
    long CloseKey(RegKey key) override { return --open, db_.CloseKey(key); }
    long BeginBatch() override { return db_.BeginBatch(); }
    long CommitBatch() override { return db_.CommitBatch(); }
    void AbortBatch() override { db_.AbortBatch(); }

    // Test set-up and inspection: a value by path, read as "<none>" when missing.
    void Set(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
        RegKey key;
        ASSERT_EQ(db_.CreateKey(kCurrentUser, path.c_str(), &key), kRegOk);
        ASSERT_EQ(db_.SetValue(key, name.c_str(), type, data.data(), static_cast<uint32_t>(data.size())), kRegOk);
        db_.CloseKey(key);
    }
    std::string Get(const std::string& path, const std::string& name, uint32_t* type = nullptr) {
        RegKey key;
        if (db_.OpenKey(kCurrentUser, path.c_str(), &key) != kRegOk) return "<none>";
        uint32_t size = 0;
        std::string data = "<none>";
        if (db_.QueryValue(key, name.c_str(), type, nullptr, &size) == kRegOk) {
            data.assign(size, '\0');
            db_.QueryValue(key, name.c_str(), type, data.data(), &size);
        }
        db_.CloseKey(key);
        return data;
    }
    // Everything below the root: its subkeys' names and the export of "T".
    std::string Snapshot() {
        std::string names;
        char name[256];
        for (uint32_t i = 0; db_.EnumKey(kCurrentUser, i, name, sizeof name) == kRegOk; ++i) names += name + std::string(";");
        return names + ExportRegFile(db_, "T");
    }

private:
    static std::string MakeDir() {
        std::string dir = (std::filesystem::temp_directory_path() / "tavix-regfile-XXXXXX").string();
        return mkdtemp(dir.data());
    }
    long Opened(long rc) { return open += rc == kRegOk, rc; }

    std::string dir_;
    SqliteRegistry db_;
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
    for (size_t i = 2; i + 1 < file.size(); i += 2) text.push_back(file[i + 1] == 0 && file[i] > 0 ? file[i] : '?');
    return text;
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

// The export is byte for byte what Windows writes, the default value first whenever it was
// made; importing what Windows wrote and exporting it again gives the same bytes.
TEST(RegFile, ExportsAsWindowsDoesAndImportsItBackUnchanged) {
    Store registry;
    const std::string sales = std::string(kKey) + "\\Sales";
    registry.Set(sales + "\\Notes", "Text", kRegSz, Sz("say \"hi\" to C:\\db"));
    registry.Set(sales, "IconIndex", kRegDword, Dword(42));
    registry.Set(sales, "IconFilename", kRegExpandSz, Sz("%SystemRoot%\\system32\\shell32.dll"));
    registry.Set(sales, "", kRegSz, Sz("cn_iptcp:db1[1972]:SALES"));  // made last, written first
    registry.Set(std::string(kKey) + "\\Local", "", kRegSz, Sz("cn_iptcp:127.0.0.1[1972]"));
    registry.Set(kKey, "", kRegSz, Sz("Sales"));
    std::string error;
    const std::string file = ExportRegFile(registry, kKey, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(AsciiText(file), AsciiText(Utf16File(kWindowsExport)));
    EXPECT_EQ(file, Utf16File(kWindowsExport));
    EXPECT_EQ(registry.open, 0) << "every key opened was closed";

    Store imported;
    ASSERT_TRUE(ImportRegFile(imported, Utf16File(kWindowsExport), "conn.reg", error)) << error;
    uint32_t type = 0;
    EXPECT_EQ(imported.Get(sales, "IconFilename", &type), Sz("%SystemRoot%\\system32\\shell32.dll"));
    EXPECT_EQ(type, kRegExpandSz);
    EXPECT_EQ(imported.Get(sales + "\\Notes", "Text"), Sz("say \"hi\" to C:\\db"));
    EXPECT_EQ(ExportRegFile(imported, kKey), Utf16File(kWindowsExport));
    EXPECT_EQ(imported.open, 0);

    EXPECT_EQ(ExportRegFile(registry, "Software\\Nowhere", &error), "");
    EXPECT_EQ(error, "HKEY_CURRENT_USER\\Software\\Nowhere: no such key");
}

// Hex data wraps after the byte that takes the line past 76 characters; the first byte stays on
// the line of the value's name however long the name is.
TEST(RegFile, ExportWritesEachTypeAsRegeditDoes) {
    Store registry;
    registry.Set("T", "Path", kRegExpandSz, Sz("%SystemRoot%\\system32"));
    registry.Set("T", "bin", kRegBinary, std::string("\x00\xff\x10", 3));
    registry.Set("T", "empty", kRegBinary, "");
    registry.Set("T", "multi", 7, std::string("a\0b\0\0", 5));
    registry.Set("T", "short", kRegDword, "\x01\x02");
    registry.Set("T", "lines", kRegSz, Sz("a\nb"));
    registry.Set("T", "unterminated", kRegSz, "ab");
    registry.Set("T", "qword", 11, std::string("\x01\0\0\0\0\0\0\x80", 8));
    registry.Set("T", "blank", kRegSz, Sz(""));
    registry.Set("T", std::string(80, 'n'), kRegBinary, "\x01\x02");
    registry.Set("T\\b", "x", kRegDword, Dword(0xDEADBEEF));
    registry.Set("T\\_c", "", kRegSz, "");
    registry.Set("T\\A", "", kRegSz, Sz("with \\ and \""));
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
              "\"" + std::string(80, 'n') + "\"=hex:01,\\\r\n"
              "  02\r\n"
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

TEST(RegFile, RoundTripGivesIdenticalBytes) {
    const std::string accented = platform::SystemCodePage().ToNarrow(WideFromUtf16(u"Caf\u00e9"));
    Store registry;
    const std::string key = std::string(kKey) + "\\";
    registry.Set(key + accented, "", kRegSz, Sz(accented + " \"x\" \\"));
    registry.Set(key + accented, accented, kRegExpandSz, Sz(std::string(150, 'p') + accented));
    registry.Set(key + "a\\b\\c", "d", kRegDword, Dword(7));
    registry.Set(key + "a", "bin", kRegBinary, std::string(100, '\x5a'));
    registry.Set(key + "a", "odd", 0x12345, std::string("\0\1", 2));
    registry.Set(key + "a", "lf", kRegSz, Sz("1\n2"));
    registry.Set(kKey, "", kRegSz, Sz(accented));
    const std::string first = ExportRegFile(registry, kKey);

    registry.Set("Software\\Other", "keep", kRegSz, Sz("me"));
    std::string error;
    ASSERT_TRUE(ImportRegFile(registry, Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                                  u"[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n"),
                              "clear.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(registry, kKey, &error), "");
    ASSERT_TRUE(ImportRegFile(registry, first, "first.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(registry, kKey), first);
    EXPECT_EQ(registry.Get("Software\\Other", "keep"), Sz("me"));
}

TEST(RegFile, ImportMergesVersion4AndVersion5Files) {
    Store registry;
    for (const char* name : {"kept", "gone", ""}) registry.Set("T", name, kRegSz, Sz("old"));
    registry.Set("T\\Sub\\Deep", "x", kRegSz, Sz("old"));
    std::string error;
    // REGEDIT4: 8-bit text with LF line ends; hex(2) data is 8-bit text.
    ASSERT_TRUE(ImportRegFile(registry,
                              "REGEDIT4\n\n; a comment\n[hkey_current_user\\T]\n"
                              "\"s\" = \"v4\"\n\"e\"=hex(2):25,41,25,\\\n   00\n\"gone\"=-\n@=-\n"
                              "[-HKEY_CURRENT_USER\\T\\Sub]\n\"ignored\"=\"under a deleted key\"\n",
                              "v4.reg", error)) << error;
    uint32_t type = 0;
    EXPECT_EQ(registry.Get("T", "s"), Sz("v4"));
    EXPECT_EQ(registry.Get("T", "e", &type), Sz("%A%"));
    EXPECT_EQ(type, kRegExpandSz);
    EXPECT_EQ(registry.Get("T", "kept"), Sz("old"));
    EXPECT_EQ(registry.Get("T", "gone") + registry.Get("T", ""), "<none><none>");
    EXPECT_EQ(registry.Get("T\\Sub", "") + registry.Get("T\\Sub\\Deep", "x"), "<none><none>");
    // Version 5: hex(2) is UTF-16LE; dword: may have fewer than 8 digits; "" is the default value.
    ASSERT_TRUE(ImportRegFile(registry,
                              Utf16File(u"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\T]\n"
                                        u"\"e\"=hex(2):25,00,42,00,00,00\n\"d\"=DWORD:1F\n\"\"=\"def\"\n"),
                              "v5.reg", error)) << error;
    EXPECT_EQ(registry.Get("T", "e"), Sz("%B"));
    EXPECT_EQ(registry.Get("T", "d"), Dword(0x1F));
    EXPECT_EQ(registry.Get("T", ""), Sz("def"));
    EXPECT_EQ(registry.open, 0);
}

TEST(RegFile, ImportRefusesMalformedFilesAndChangesNothing) {
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n\"ok\"=\"new\"\r\n";
    const struct {
        std::u16string text;  // written as a version 5 file
        std::string error;    // after "bad.reg:"
    } cases[] = {
        {u"Windows Registry Editor Version 4.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n",
         "1: not a registry file (the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")"},
        {head + u"\"s\"=\"abc\r\n", "5: unterminated string"},
        {head + u"\"s\"=\"C:\\db\"\r\n", "5: bad escape \"\\d\" in a string (only \\\\, \\\" and \\n are known)"},
        {head + u"\"s\"=\"a\" b\r\n", "5: unexpected text after the string"},
        {head + u"\"d\"=dword:123456789\r\n", "5: dword: needs 1 to 8 hexadecimal digits"},
        {head + u"\"d\"=dword:12g4\r\n", "5: unexpected text after the dword"},
        {head + u"\"h\"=hex:01,\\\r\n  02,3\r\n", "6: hex bytes must have two digits"},
        {head + u"\"h\"=hex:01 02\r\n", "5: \",\" expected between hex bytes"},
        {head + u"\"h\"=hex(x):01\r\n", "5: hex(N): needs a type of 1 to 8 hexadecimal digits"},
        {head + u"\"h\"=hex(2):41,00,00\r\n", "5: UTF-16 string data with an odd number of bytes"},
        {head + u"\"h\"=word:1\r\n", "5: value data must be a string, dword:, hex:, hex(N): or -"},
        {u"Windows Registry Editor Version 5.00\r\n\r\n\"v\"=\"x\"\r\n", "3: value before any key"},
        {head + u"\r\n[HKEY_LOCAL_MACHINE\\Software\\T]\r\n",
         "6: only HKEY_CURRENT_USER can be imported, not HKEY_LOCAL_MACHINE"},
        {head + u"[HKCU\\T]\r\n", "5: \"HKCU\" is not a hive name in a registry file; write HKEY_CURRENT_USER"},
        {head + u"[Software\\T]\r\n", "5: \"Software\" is not a registry hive"},
        {head + u"[HKEY_CURRENT_USER\\T\r\n", "5: key name without closing \"]\""},
        {head + u"[HKEY_CURRENT_USER\\T\\\\U]\r\n", "5: empty key name in the path"},
        {head + u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'k') + u"]\r\n", "5: key name longer than 255 characters"},
        {head + u"[-HKEY_CURRENT_USER]\r\n", "5: HKEY_CURRENT_USER itself cannot be deleted"},
        {head + u"ok=1\r\n", "5: not a key, a value or a comment"},
        {head + u"\"h\"=hex:01,02,\\\r\n", "5: hex data continues past the end of the file"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.error);
        Store registry;
        registry.Set("T", "ok", kRegSz, Sz("old"));
        const std::string before = registry.Snapshot();
        std::string error;
        EXPECT_FALSE(ImportRegFile(registry, Utf16File(bad.text), "bad.reg", error));
        EXPECT_EQ(error, "bad.reg:" + bad.error);
        EXPECT_EQ(registry.Snapshot(), before);
    }
    // A UTF-16 file cut in the middle of a character; a REGEDIT4 file with a bad line.
    Store registry;
    std::string error;
    EXPECT_FALSE(ImportRegFile(registry, Utf16File(head).substr(0, Utf16File(head).size() - 1), "cut.reg", error));
    EXPECT_EQ(error, "cut.reg:4: truncated UTF-16 text (odd number of bytes)");
    EXPECT_FALSE(ImportRegFile(registry, "REGEDIT4\r\n[HKEY_CURRENT_USER\\T]\r\n\"d\"=dword:xyz\r\n", "v4.reg", error));
    EXPECT_EQ(error, "v4.reg:3: dword: needs 1 to 8 hexadecimal digits");
    EXPECT_EQ(registry.Snapshot(), "");
}

TEST(RegFile, StoreFailureAbortsTheImportAndNamesTheKey) {
    Store registry;
    registry.Set("T", "ok", kRegSz, Sz("old"));
    const std::string before = registry.Snapshot();
    registry.refuse = "locked";
    std::string error;
    EXPECT_FALSE(ImportRegFile(registry,
                               Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n"
                                         u"\"ok\"=\"new\"\r\n[HKEY_CURRENT_USER\\T\\U]\r\n\"locked\"=dword:1\r\n"),
                               "f.reg", error));
    EXPECT_EQ(error, "f.reg:6: cannot set value \"locked\" of HKEY_CURRENT_USER\\T\\U (error 5, access denied)");
    EXPECT_EQ(registry.Snapshot(), before);
    EXPECT_EQ(registry.open, 0);
}


}  // namespace
}  // namespace tavix::store
