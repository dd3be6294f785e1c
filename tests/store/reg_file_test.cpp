// .reg files through the SQLite store: exact exports, round trips, Windows and REGEDIT4 files, refusals
// that leave the store as it was. (Under Wine the CLI test imports and exports through the registry.)
#include "store/reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../store_test_support.h"
#include "platform/codepage.h"
#include "platform/posix/registry_sqlite.h"

namespace tavix::store {
namespace {

using namespace platform;  // the registry's interface, result codes and value types
using testing::Dword;
using testing::Sz;

// The store the library uses on POSIX, in a directory of the test's own. It refuses to set a
// value named `refuse`, and fails a batch's beginning or its commit (undoing it) with the codes set.
class Store final : public Registry {
public:
    Store() : db_(dir_ / "registry.db") {}
    std::string refuse;
    long beginFails = kRegOk, commitFails = kRegOk;
    int failingCommit = 1;  // the CommitBatch call, counted from 1, that answers commitFails

    long OpenKey(RegKey parent, const char* sub, RegKey* key) override { return db_.OpenKey(parent, sub, key); }
    long CreateKey(RegKey parent, const char* sub, RegKey* key) override { return db_.CreateKey(parent, sub, key); }
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return db_.QueryValue(key, name, type, data, size);
    }
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) override {
        return !refuse.empty() && name && refuse == name ? kRegAccessDenied : db_.SetValue(key, name, type, data, size);
    }
    long EnumKey(RegKey key, uint32_t i, char* name, uint32_t size) override { return db_.EnumKey(key, i, name, size); }
    long EnumValue(RegKey key, uint32_t i, std::string& name, uint32_t* type, std::vector<uint8_t>* data) override {
        return db_.EnumValue(key, i, name, type, data);
    }
    long DeleteKey(RegKey parent, const char* subKey) override { return db_.DeleteKey(parent, subKey); }
    long DeleteTree(RegKey parent, const char* subKey) override { return db_.DeleteTree(parent, subKey); }
    long DeleteValue(RegKey key, const char* name) override { return db_.DeleteValue(key, name); }
    long CloseKey(RegKey key) override { return db_.CloseKey(key); }
    long BeginBatch() override { return beginFails != kRegOk ? beginFails : db_.BeginBatch(); }
    long CommitBatch() override {
        return commitFails == kRegOk || ++commits_ != failingCommit ? db_.CommitBatch() : (db_.AbortBatch(), commitFails);
    }
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
    // The whole hive as an export without rules writes it.
    std::string All() { return ExportRegFile(db_, ""); }
    // The hive itself, whose walks inside a batch answer from the enumeration.
    Registry& Hive() { return db_; }

private:
    testing::ScratchDir dir_{"tavix-regfile"};
    SqliteRegistry db_;
    int commits_ = 0;
};

constexpr const char* kKey = "Software\\Vantorin\\Connections";

// A version 5 file's bytes from its text.
std::string Utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

// 8-bit text of the store from UTF-16.
std::string ToNarrowForTest(std::u16string_view text) {
    return platform::SystemCodePage().ToNarrow(WString(text.begin(), text.end()));
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
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n"
    u"@=\"Sales\"\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Local]\r\n"
    u"@=\"cn_iptcp:127.0.0.1[1972]\"\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Sales]\r\n"
    u"@=\"cn_iptcp:db1[1972]:SALES\"\r\n"
    u"\"IconIndex\"=dword:0000002a\r\n"
    u"\"IconFilename\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,\\\r\n"
    u"  00,74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,\\\r\n"
    u"  73,00,68,00,65,00,6c,00,6c,00,33,00,32,00,2e,00,64,00,6c,00,6c,00,00,00\r\n\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Sales\\Notes]\r\n"
    u"\"Text\"=\"say \\\"hi\\\" to C:\\\\db\"\r\n\r\n";

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
    EXPECT_EQ(ExportRegFile(registry, kKey, &error), Utf16File(kWindowsExport));
    EXPECT_EQ(error, "");

    Store imported;
    ASSERT_TRUE(ImportRegFile(imported, Utf16File(kWindowsExport), "conn.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(imported, kKey), Utf16File(kWindowsExport));  // so the same values, types and keys

    EXPECT_EQ(ExportRegFile(registry, "Software\\Nowhere", &error), "");
    EXPECT_EQ(error, "HKEY_CURRENT_USER\\Software\\Nowhere: no such key");
}

// Each type as regedit writes it. Hex data wraps after the byte that takes the line past 76
// characters; the first byte stays on the line of the value's name however long the name is.
// The walk writes subkeys below subkeys, goes on with the parent's after them, and writes a key
// whose subkeys were all deleted; inside a batch the hive answers it from one statement per key.
// What is written imports back to the same bytes.
TEST(RegFile, ExportWritesEachTypeAndEveryKeyAsRegeditDoesAndImportsBack) {
    Store registry;
    const std::string cafe = ToNarrowForTest(u"caf\u00e9");
    registry.Set("T", "Path", kRegExpandSz, Sz("%SystemRoot%\\system32"));
    registry.Set("T", "bin", kRegBinary, std::string("\x00\xff\x10", 3));
    registry.Set("T", "empty", kRegBinary, "");
    registry.Set("T", "short", kRegDword, "\x01\x02");
    registry.Set("T", "lines", kRegSz, Sz("a\nb"));
    registry.Set("T", "unterminated", kRegSz, "ab");
    registry.Set("T", "odd", 0x12345, std::string("\0\1", 2));
    registry.Set("T", cafe, kRegSz, Sz(cafe));
    registry.Set("T", "blank", kRegSz, Sz(""));
    registry.Set("T", std::string(80, 'n'), kRegBinary, "\x01\x02");
    registry.Set("T\\b", "x", kRegDword, Dword(0xDEADBEEF));
    registry.Set("T\\b\\Gone", "", kRegSz, Sz("x"));
    ASSERT_EQ(registry.DeleteKey(kCurrentUser, "T\\b\\Gone"), kRegOk);
    registry.Set("T\\_c", "", kRegSz, "");
    registry.Set("T\\A\\Icon\\Deep", "x", kRegBinary, "\x01");
    registry.Set("T\\A", "", kRegSz, Sz("with \\ and \""));
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\T]\r\n"
        "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
        "  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00\r\n"
        "\"bin\"=hex:00,ff,10\r\n"
        "\"empty\"=hex:\r\n"
        "\"short\"=hex(4):01,02\r\n"
        "\"lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
        "\"unterminated\"=hex(1):61,00,62,00\r\n"
        "\"odd\"=hex(12345):00,01\r\n"
        "\"caf?\"=\"caf?\"\r\n"
        "\"blank\"=\"\"\r\n"
        "\"" + std::string(80, 'n') + "\"=hex:01,\\\r\n"
        "  02\r\n\r\n"
        "[HKEY_CURRENT_USER\\T\\A]\r\n@=\"with \\\\ and \\\"\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\T\\A\\Icon]\r\n\r\n"
        "[HKEY_CURRENT_USER\\T\\A\\Icon\\Deep]\r\n\"x\"=hex:01\r\n\r\n"
        "[HKEY_CURRENT_USER\\T\\b]\r\n\"x\"=dword:deadbeef\r\n\r\n"
        "[HKEY_CURRENT_USER\\T\\_c]\r\n@=\"\"\r\n\r\n";
    for (const bool inBatch : {false, true}) {
        SCOPED_TRACE(inBatch ? "in a batch" : "alone");
        ASSERT_EQ(inBatch ? registry.Hive().BeginBatch() : kRegOk, kRegOk);
        EXPECT_EQ(AsciiText(ExportRegFile(registry.Hive(), "T")), expected);
        EXPECT_EQ(inBatch ? registry.Hive().CommitBatch() : kRegOk, kRegOk);
    }
    const std::string file = ExportRegFile(registry, "T");
    Store imported;
    std::string error;
    ASSERT_TRUE(ImportRegFile(imported, file, "t.reg", error)) << error;
    EXPECT_EQ(ExportRegFile(imported, "T"), file);
}

// A large export reaches its sink a block at a time; a sink that refuses a block (a full disk)
// stops it there, and the export says it could not write the file.
TEST(RegFile, ExportStopsWhenTheSinkRefusesABlock) {
    Store registry;
    for (int i = 0; i < 2000; ++i) {
        registry.Set(std::string(kKey) + "\\Conn" + std::to_string(i), "", kRegSz, Sz("cn_iptcp:host[1972]:NS"));
    }
    size_t blocks = 0;
    const RegFileSink sink = [&blocks](std::string_view) { return ++blocks != 2; };
    std::string error;
    long storeError = -1;
    EXPECT_FALSE(ExportRegFile(registry, kKey, sink, &error, {}, &storeError));
    EXPECT_EQ(blocks, 2u) << "no block after the refused one";
    EXPECT_EQ(error, "cannot write the file");
    EXPECT_EQ(storeError, kRegOk);
}

// A file merges into what is there: values it deletes go, a key it deletes goes with what the
// file writes below it, and the rest stays. (Which data each value line decodes to is the parser's.)
TEST(RegFile, ImportMergesIntoTheStore) {
    Store registry;
    for (const char* name : {"kept", "gone", ""}) registry.Set("T", name, kRegSz, Sz("old"));
    registry.Set("T\\Sub\\Deep", "x", kRegSz, Sz("old"));
    registry.Set("T\\New", "", kRegSz, Sz("old"));
    std::string error;
    // REGEDIT4: 8-bit text with LF line ends, a value continued on the next line, keywords in any case;
    // "" is the default value.
    ASSERT_TRUE(ImportRegFile(registry,
                              "REGEDIT4\n\n; a comment\n[hkey_current_user\\T]\n\"d\"=DWORD:1F\n"
                              "\"s\" = \"v4\"\n\"e\"=hex(2):25,41,25,\\\n   00\n\"gone\"=-\n@=-\n"
                              "[-HKEY_CURRENT_USER\\T\\Sub]\n\"ignored\"=\"under a deleted key\"\n"
                              "[HKEY_CURRENT_USER\\T\\New]\n\"\"=\"def\"\n",
                              "v4.reg", error)) << error;
    EXPECT_EQ(AsciiText(ExportRegFile(registry, "T")),
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n"
              "\"kept\"=\"old\"\r\n\"d\"=dword:0000001f\r\n\"s\"=\"v4\"\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n\r\n"
              "[HKEY_CURRENT_USER\\T\\New]\r\n@=\"def\"\r\n\r\n");
}

// A file that does not parse, or that reaches beyond the connections key (a key outside it, the
// deletion of a key above it, a name the store cannot hold), is refused whole: nothing changes,
// and the refusal is no failure of the store.
TEST(RegFile, ImportRefusesABadFileWholeAndChangesOnlyTheConnectionsKey) {
    const std::u16string key = u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections";
    const std::u16string head =
        u"Windows Registry Editor Version 5.00\r\n\r\n" + key + u"\\New]\r\n@=\"cn_iptcp:n[1]\"\r\n";
    const std::string outside =
        " is outside HKEY_CURRENT_USER\\Software\\Vantorin\\Connections, the only key this file may change";
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
        {head + u"\"h\"=hex:01,\\\r\n  g0\r\n", "6: hex byte expected"},
        {head + u"\"h\"=hex:01 02\r\n", "5: \",\" expected between hex bytes"},
        {head + u"\"h\"=hex(x):01\r\n", "5: hex(N): needs a type of 1 to 8 hexadecimal digits"},
        {head + u"\"h\"=hex(2):41,00,00\r\n", "5: UTF-16 string data with an odd number of bytes"},
        {head + u"\"h\"=word:1\r\n", "5: value data must be a string, dword:, hex:, hex(N): or -"},
        {u"Windows Registry Editor Version 5.00\r\n\r\n\"v\"=\"x\"\r\n", "3: value before any key"},
        {head + u"\r\n[HKEY_LOCAL_MACHINE\\Software\\T]\r\n",
         "6: only HKEY_CURRENT_USER can be imported, not HKEY_LOCAL_MACHINE"},
        {head + u"[HKCU\\T]\r\n", "5: \"HKCU\" is not a hive name in a registry file; write HKEY_CURRENT_USER"},
        {head + u"[Software\\T]\r\n", "5: \"Software\" is not a registry hive"},
        {head + key + u"\\T\r\n", "5: key name without closing \"]\""},
        {head + key + u"\\T\\\\U]\r\n", "5: empty key name in the path"},
        {head + key + u"\\T\\" + std::u16string(256, u'k') + u"]\r\n", "5: key name longer than 255 characters"},
        {head + u"[-HKEY_CURRENT_USER]\r\n", "5: HKEY_CURRENT_USER itself cannot be deleted"},
        {head + u"ok=1\r\n", "5: not a key, a value or a comment"},
        {head + u"\"h\"=hex:01,02,\\\r\n", "5: hex data continues past the end of the file"},
        {head + u"[HKEY_CURRENT_USER]\r\n@=\"x\"\r\n", "5: HKEY_CURRENT_USER" + outside},
        {head + u"[HKEY_CURRENT_USER\\Software\\Vantorin\\ConnectionsOld\\A]\r\n",
         "5: HKEY_CURRENT_USER\\Software\\Vantorin\\ConnectionsOld\\A" + outside},
    };
    Store registry;  // refusals change nothing of it
    registry.Set(std::string(kKey) + "\\Old", "", kRegSz, Sz("cn_iptcp:o[1]"));
    registry.Set(std::string(kKey) + "\\a\x01" "b", "", kRegSz, Sz("cn_iptcp:o[1]"));
    registry.Set("Software\\Other", "keep", kRegSz, Sz("me"));
    const std::string before = registry.All();
    std::string error;
    long storeError = -1;
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.error.substr(0, 80));
        EXPECT_FALSE(ImportRegFile(registry, Utf16File(bad.text), "bad.reg", error, ConnectionRules(), &storeError));
        EXPECT_EQ(error, "bad.reg:" + bad.error);
        EXPECT_EQ(storeError, kRegOk) << "a refused file is not a failure of the store";
    }
    // A UTF-16 file cut in the middle of a character.
    EXPECT_FALSE(ImportRegFile(registry, Utf16File(head).substr(0, Utf16File(head).size() - 1), "cut.reg", error));
    EXPECT_EQ(error, "cut.reg:4: truncated UTF-16 text (odd number of bytes)");
    EXPECT_EQ(registry.All(), before);

    // Within the key anything goes: its own deletion, any case of its path, the deletion of an
    // entry whose name the store could not hold.
    ASSERT_TRUE(ImportRegFile(registry,
                              Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                        u"[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\a\x01" u"b]\r\n"
                                        u"[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n"
                                        u"[hkey_current_user\\SOFTWARE\\vantorin\\CONNECTIONS\\Sales]\r\n"
                                        u"@=\"cn_iptcp:s[2]\"\r\n"
                                        u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\r\n@=\"Sales\"\r\n"),
                              "ok.reg", error, ConnectionRules()))
        << error;
    EXPECT_EQ(registry.Get(std::string(kKey) + "\\Old", "") + registry.Get(std::string(kKey) + "\\a\x01" "b", ""),
              "<none><none>");
    EXPECT_EQ(registry.Get(std::string(kKey) + "\\Sales", ""), Sz("cn_iptcp:s[2]"));
    EXPECT_EQ(registry.Get(kKey, ""), Sz("Sales"));
    EXPECT_EQ(registry.Get("Software\\Other", "keep"), Sz("me"));
}

// What an export of the connections writes imports back to exactly the same connections,
// strings, icons and default; a name that a file cannot carry is refused, naming the entry.
TEST(RegFile, ExportOfConnectionsImportsBackTheSameOrIsRefused) {
    struct Entry {
        std::string name;
        std::string connection;
        std::string iconFile;  // "" none
    };
    const std::string key = std::string(kKey) + "\\";
    const std::string cannot = "cannot export HKEY_CURRENT_USER\\Software\\Vantorin\\Connections";
    const std::string cafe = ToNarrowForTest(u"Caf\u00e9 \u00fcber \u65e5\u672c \u2603");
    const struct {
        const char* label;
        std::vector<Entry> entries;
        std::string defaultName;
        std::string error;  // "" when the export must import back the same
    } cases[] = {
        {"brackets, quotes, equals signs",
         {{"a]b", "cn_iptcp:h[1]:NS\\X", ""}, {"]", "cn_iptcp:h[2]", ""}, {"say \"hi\"", "cn_iptcp:h[3]", ""},
          {"x=y", "cn_iptcp:h[4]", "C:\\icons\\\"q\"=.ico"}, {"[x] ;", "cn_iptcp:h[5]", ""}},
         "a]b", ""},
        {"text beyond ASCII", {{cafe, "cn_iptcp:h[1]:" + cafe, "/home/" + cafe + ".ico"}}, cafe, ""},
        {"line breaks inside strings", {{"Work", "cn_iptcp:h[1]:A\r\nB\rC\n", ""}}, "", ""},
        {"a carriage return in a name", {{"Work", "cn_iptcp:h[1]", ""}, {"a\rb", "cn_iptcp:h[2]", ""}}, "",
         cannot + "\\a\\rb: the connection name contains a control character"},
        {"a line feed in a name", {{"a\nb", "cn_iptcp:h[2]", ""}}, "",
         cannot + "\\a\\nb: its name holds a line break, which a .reg file cannot carry in a key name"},
        {"a default that no name can be", {{"Work", "cn_iptcp:h[1]", ""}}, "Wo\x1brk",
         cannot + ": the default connection's name \"Wo\\x1brk\" contains a control character"},
        {"a name that is not UTF-8", {{"a\xff", "cn_iptcp:h[1]", ""}}, "",
         cannot + "\\a\xff: its name cannot be written unchanged"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        Store registry;
        for (const Entry& entry : test.entries) {
            registry.Set(key + entry.name, "", kRegSz, Sz(entry.connection));
            if (!entry.iconFile.empty()) {
                registry.Set(key + entry.name, "IconIndex", kRegDword, Dword(3));
                registry.Set(key + entry.name, "IconFilename", kRegExpandSz, Sz(entry.iconFile));
            }
        }
        if (!test.defaultName.empty()) registry.Set(kKey, "", kRegSz, Sz(test.defaultName));
        std::string error;
        long storeError = -1;
        const std::string file = ExportRegFile(registry, kKey, &error, ConnectionRules(), &storeError);
        EXPECT_EQ(storeError, kRegOk);
        EXPECT_EQ(error, test.error);
        if (!test.error.empty()) {
            EXPECT_EQ(file, "");
            continue;
        }
        Store imported;
        ASSERT_TRUE(ImportRegFile(imported, file, "export.reg", error, ConnectionRules())) << error;
        EXPECT_EQ(ExportRegFile(imported, kKey, nullptr, ConnectionRules()), file);
        for (const Entry& entry : test.entries) {
            EXPECT_EQ(imported.Get(key + entry.name, ""), Sz(entry.connection)) << entry.name;
            EXPECT_EQ(imported.Get(key + entry.name, "IconFilename"),
                      entry.iconFile.empty() ? "<none>" : Sz(entry.iconFile));
        }
        EXPECT_EQ(imported.Get(kKey, ""), test.defaultName.empty() ? "<none>" : Sz(test.defaultName));
    }
}

// The import is one batch: when it cannot begin, a write is refused, or it does not land, the
// store's code is reported with the key it failed on, and nothing is imported.
TEST(RegFile, ImportReportsAFailureOfTheStoreAndChangesNothing) {
    const std::string file = Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                       u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\A]\r\n"
                                       u"@=\"cn_iptcp:a[1]\"\r\n"
                                       u"[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\B]\r\n"
                                       u"\"Icon\"=dword:1\r\n");
    const struct {
        long begin, commit;
        int failingCommit;  // 1: finishing an interrupted save first; 2: the import's own changes
        std::string refuse, error;
    } cases[] = {
        {kRegBusy, kRegOk, 1, "", "f.reg: nothing imported (error 170, the store is locked by another process)"},
        {kRegOk, kRegDiskFull, 1, "", "f.reg: nothing imported (error 112, no space left on device)"},
        {kRegOk, kRegDiskFull, 2, "", "f.reg: nothing imported (error 112, no space left on device)"},
        {kRegOk, kRegOk, 1, "Icon",
         "f.reg:6: cannot set value \"Icon\" of HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\B "
         "(error 5, access denied)"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.error);
        Store registry;
        registry.Set(std::string(kKey) + "\\Work", "", kRegSz, Sz("cn_iptcp:w[1]"));
        const std::string before = registry.All();
        registry.beginFails = test.begin;
        registry.commitFails = test.commit;
        registry.failingCommit = test.failingCommit;
        registry.refuse = test.refuse;
        std::string error;
        long storeError = kRegOk;
        EXPECT_FALSE(ImportRegFile(registry, file, "f.reg", error, ConnectionRules(), &storeError));
        EXPECT_EQ(error, test.error);
        // Each row fails one way: its code is the one the store reported.
        EXPECT_EQ(storeError, test.begin | test.commit | (test.refuse.empty() ? kRegOk : kRegAccessDenied));
        registry.beginFails = registry.commitFails = kRegOk;
        EXPECT_EQ(registry.All(), before);
    }
}

}  // namespace
}  // namespace tavix::store
