// The connection table's persistence against the user's real store (Wine's registry, or a scratch hive).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TavixConnect.h"
#include "dialogs/unique_icon.h"
#include "frame/context/library_context.h"
#include "platform/automation.h"
#include "platform/codepage.h"
#include "platform/icons.h"
#include "platform/registry.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"
#include "resources/resource.h"
#include "store/registry_store.h"

namespace tavix {
namespace {

using platform::kCurrentUser;
using platform::UserRegistry;
using Names = std::vector<std::string>;

const std::string kKey = store::kConnectionsKeyPath;

// Sets a value below the connections key: a string of the given type, or a DWORD.
void Set(const std::string& path, const char* name, const std::string& text, uint32_t type = platform::kRegSz) {
    RegistryKey key;
    ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, (kKey + path).c_str(), key), 0) << path;
    ASSERT_EQ(UserRegistry().SetValue(key.get(), name, type, text.c_str(), static_cast<uint32_t>(text.size() + 1)), 0);
}
void SetNumber(const std::string& path, const char* name, uint32_t number) {
    RegistryKey key;
    ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, (kKey + path).c_str(), key), 0) << path;
    ASSERT_EQ(UserRegistry().SetValue(key.get(), name, platform::kRegDword, &number, sizeof number), 0);
}
// A value below the connections key as text ("<none>" when missing, "<no key>"), a DWORD as
// its number, with its type.
std::string Get(const std::string& path, const char* name, uint32_t* typeOut = nullptr) {
    RegistryKey key;
    if (store::OpenKey(kCurrentUser, (kKey + path).c_str(), key) != 0) return "<no key>";
    uint32_t type = 0, size = 0;
    if (UserRegistry().QueryValue(key.get(), name, &type, nullptr, &size) != 0) return "<none>";
    std::string data(size, '\0');
    UserRegistry().QueryValue(key.get(), name, &type, data.data(), &size);
    if (typeOut) *typeOut = type;
    uint32_t number = 0;
    std::memcpy(&number, data.data(), std::min<size_t>(size, sizeof number));
    return type == platform::kRegDword ? std::to_string(number) : data.substr(0, data.find('\0'));
}
Names Subkeys(const std::string& path = "") {
    Names names;
    RegistryKey key;
    if (store::OpenKey(kCurrentUser, (kKey + path).c_str(), key) != 0) return names;
    char name[256];
    for (uint32_t i = 0; UserRegistry().EnumKey(key.get(), i, name, sizeof name) == 0; ++i) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

class PersistenceTest : public ::testing::Test {
protected:
    ContextGuard guard;
    ConnectionTable table;

    void SetUp() override { store::DeleteKeyTree(kCurrentUser, kKey.c_str()); }
    void TearDown() override { store::DeleteKeyTree(kCurrentUser, kKey.c_str()); }

    ConnectionRecord* Add(const std::string& name, const std::string& connectionString) { return Add(table, name, connectionString); }
    static ConnectionRecord* Add(ConnectionTable& t, const std::string& name, const std::string& connectionString) {
        auto record = std::make_unique<ConnectionRecord>();
        EXPECT_TRUE(record->Parse(name.c_str(), connectionString.c_str(), CurrentParseDefaults())) << connectionString;
        t.Add(std::move(record));
        return t.Find(name);
    }
    // name=connection string, "*" before the default: in table order, or sorted.
    static std::string Describe(const ConnectionTable& t) {
        std::string text;
        for (const std::string& line : Lines(t)) text += line + ";";
        return text;
    }
    static Names Lines(const ConnectionTable& t, bool sorted = false) {
        Names all;
        for (const ConnectionRecord* r : t.Records()) all.push_back((r == t.DefaultRecord() ? "*" : "") + r->name + "=" + r->Format());
        if (sorted) std::sort(all.begin(), all.end());
        return all;
    }
    // A connection's icon: "index file", "-" for no file.
    static std::string Icon(ConnectionTable& t, const char* name) {
        const ConnectionRecord* r = t.Lookup(name);
        if (r == nullptr) return "<no connection>";
        return std::to_string(r->iconIndex) + " " +
               (r->iconFilename ? platform::SystemCodePage().ToNarrow(r->iconFilename.view()) : "-");
    }
};

TEST_F(PersistenceTest, SaveAndLoadRoundTrip) {
    Add("Local", "cn_iptcp:127.0.0.1[1972]");
    ConnectionRecord* work = Add("Work", "cn_iptcp:db1[1972]:SALES");
    Add("Blank ns", "cn_iptcp: spaced [ 1 ]")->namespaceName.clear();
    work->iconFilename.reset(NewBstr(WideFromUtf16(u"no-such-file.ico")));
    work->iconIndex = 3;
    ASSERT_TRUE(table.SetDefault("Work"));
    table.Save();
    EXPECT_FALSE(table.Modified());

    const struct { const char* path; const char* name; const char* value; uint32_t type; } stored[] = {
        {"\\Work", nullptr, "cn_iptcp:db1[1972]:SALES", platform::kRegSz},
        {"\\Work", "IconFilename", "no-such-file.ico", platform::kRegExpandSz},
        {"\\Work", "IconIndex", "3", platform::kRegDword},
        {"\\Blank ns", nullptr, "cn_iptcp: spaced [ 1 ]", platform::kRegSz},
    };
    for (const auto& s : stored) {
        uint32_t type = 0;
        EXPECT_EQ(Get(s.path, s.name, &type), s.value);
        EXPECT_EQ(type, s.type) << s.value;
    }
    EXPECT_EQ(Get("\\Local", "IconIndex"), "<none>");

    ConnectionTable loaded;
    loaded.LoadAll();
    // An empty namespace is read back as the default namespace.
    EXPECT_EQ(Describe(loaded), "*Work=cn_iptcp:db1[1972]:SALES;Local=cn_iptcp:127.0.0.1[1972]:USER;"
                                "Blank ns=cn_iptcp: spaced [ 1 ]:USER;");
    EXPECT_FALSE(loaded.Modified());
    EXPECT_EQ(Icon(loaded, "Work"), "3 no-such-file.ico");
}

// A stored default that names no connection is none, and the next save writes none.
TEST_F(PersistenceTest, ADefaultThatNamesNoConnectionIsNone) {
    Set("", nullptr, "Missing");
    Set("\\A", nullptr, "cn_iptcp:a[1]");
    table.LoadAll();
    EXPECT_EQ(Describe(table), "A=cn_iptcp:a[1]:USER;");
    table.Save();
    EXPECT_EQ(Get("", nullptr), "<none>");
}

// A legacy "IconFilename" reads through 512 bytes with the zero; longer gives no icon (index -1).
// Linux only: under Wine without a desktop the shell's lookup of such a path does not return.
#if !defined(_WIN32)
TEST_F(PersistenceTest, LegacyIconFileNameLimit) {
    for (const size_t length : {511u, 512u}) {
        SCOPED_TRACE(length);
        store::DeleteKeyTree(kCurrentUser, kKey.c_str());
        Set("\\_VRConn1", nullptr, "L");
        Set("\\_VRConn1", "ConnString", "cn_iptcp:l[1]");
        SetNumber("\\_VRConn1", "IconIndex", 4);
        Set("\\_VRConn1", "IconFilename", std::string(length, 'f'));
        table.Clear();
        ASSERT_EQ(table.Load(), 0);
        EXPECT_EQ(Icon(table, "L"), length < 512 ? "4 " + std::string(length, 'f') : "-1 -");
    }
}
#endif

// Unparsable, string-less and repeated entries are dropped with a warning each and never deleted by a
// save; the first of a name ("1Dup" sorts before "_VRConn7" in either case order) stays. 255 bytes read.
TEST_F(PersistenceTest, DroppedEntriesWarnOnceEachAndStay) {
    Set("\\1Dup", nullptr, "cn_iptcp:first[1]");
    Set("\\_VRConn7", nullptr, "1Dup");
    Set("\\_VRConn7", "ConnString", "cn_iptcp:second[2]");
    Set("\\NoValue", "Other", "x");
    Set("\\Broken", nullptr, "cn_iptcp:h");
    SetNumber("\\Number", nullptr, 5);
    Set("\\Long", nullptr, "cn_iptcp:" + std::string(300, 's') + "[1]");
    {
        // Made below the connections key: Wine refuses a whole path of over 260 characters.
        RegistryKey parent, child;
        ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, kKey.c_str(), parent), 0);
        ASSERT_EQ(store::OpenOrCreateKey(parent.get(), std::string(255, 'n').c_str(), child), 0);
        ASSERT_EQ(UserRegistry().SetValue(child.get(), nullptr, platform::kRegSz, "cn_iptcp:h[1]", 14), 0);
    }
    const Names all = Subkeys();
    table.LoadAll();
    const std::vector<StoreWarning> warnings = table.TakeWarnings();
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const StoreWarning& w) { return w.kind == StoreWarning::Kind::kDropped; }),
              5);
    EXPECT_EQ(Describe(table), std::string(255, 'n') + "=cn_iptcp:h[1]:USER;1Dup=cn_iptcp:first[1]:USER;");
    ASSERT_TRUE(table.RemoveByName("1Dup"));
    EXPECT_EQ(table.Save(), 0);
    Names left = all;
    left.erase(left.begin());  // "1Dup"
    EXPECT_EQ(Subkeys(), left);
#if !defined(_WIN32)
    // 134 characters, 264 bytes in UTF-8: too long for a connection's name, it is passed over
    // with a warning that names it, and the connections after it are read.
    std::string wide = "Zmid";
    for (int i = 0; i < 130; ++i) wide += "\xC3\xA9";
    Set("\\" + wide, nullptr, "cn_iptcp:h[1]");
    Set("\\Zulu", nullptr, "cn_iptcp:h[1]");
    table.Clear();
    table.LoadAll();
    std::string passedOver;
    for (const StoreWarning& warning : table.TakeWarnings()) {
        if (warning.kind == StoreWarning::Kind::kPassedOver) passedOver += warning.text;
    }
    EXPECT_NE(passedOver.find("\"Zmid\xC3\xA9"), std::string::npos) << passedOver;
    // The entry of the older layout that 1Dup hid is read now, and converted.
    EXPECT_EQ(Describe(table), std::string(255, 'n') + "=cn_iptcp:h[1]:USER;Zulu=cn_iptcp:h[1]:USER;1Dup=cn_iptcp:second[2]:USER;");
    EXPECT_EQ(Get("\\1Dup", nullptr), "cn_iptcp:second[2]:USER");
#endif
}

// SetDefault writes at once, and only a change.
TEST_F(PersistenceTest, SetDefaultWritesAtOnceAndOnlyAChange) {
    Set("\\B", nullptr, "cn_iptcp:b[1]");
    table.LoadAll();
    EXPECT_TRUE(table.SetDefault(""));  // nothing to do: nothing written
    EXPECT_EQ(Get("", nullptr), "<none>");
    EXPECT_FALSE(table.SetDefault("C"));
    EXPECT_TRUE(table.SetDefault("B"));
    EXPECT_EQ(Get("", nullptr), "B");
    EXPECT_TRUE(table.Modified());
    Set("", nullptr, "changed elsewhere");
    EXPECT_TRUE(table.SetDefault("B"));  // already the default: writes nothing
    EXPECT_EQ(Get("", nullptr), "changed elsewhere");
    EXPECT_TRUE(table.SetDefault(nullptr));
    EXPECT_EQ(Get("", nullptr), "");
    EXPECT_EQ(table.DefaultRecord(), nullptr);
}

// A connection's icon is read from an "Icon" subkey too (from its key: the round trip); a save writes it on the key.
TEST_F(PersistenceTest, CurrentKeysTakeTheirIconFromEitherPlace) {
    Set("\\Subkey", nullptr, "cn_iptcp:b[1]");
    SetNumber("\\Subkey\\Icon", "Index", 5);
    Set("\\Subkey\\Icon", "FileName", "subkey.ico");
    table.LoadAll();
    EXPECT_EQ(Icon(table, "Subkey"), "5 subkey.ico");
    // A save leaves a connection it did not change as it is; a changed one is written whole.
    table.Save();
    EXPECT_EQ(Get("\\Subkey", "IconFilename"), "<none>");
    EXPECT_EQ(Subkeys("\\Subkey"), Names{"Icon"});
    table.Lookup("Subkey")->iconIndex = 6;
    table.Save();
    EXPECT_EQ(Get("\\Subkey", "IconFilename"), "subkey.ico");
    EXPECT_EQ(Get("\\Subkey", "IconIndex"), "6");
    EXPECT_EQ(Subkeys("\\Subkey"), Names{});
}

// Two tables stand for two processes sharing the store; for a connection both change, the later save wins.
TEST_F(PersistenceTest, SavesWriteChangesNotTheWholeTable) {
    for (const char* name : {"Keep", "Drop", "Edit", "Both", "Move", "echo"}) {
        Set(std::string("\\") + name, nullptr, std::string("cn_iptcp:") + name + "[1]");
    }
    Set("", nullptr, "Keep");
    ConnectionTable other;
    ASSERT_EQ(table.LoadAll(), 0);
    ASSERT_EQ(other.Load(), 0);  // reads what it is asked for, when asked
    Add("FromA", "cn_iptcp:a[1]");
    ASSERT_TRUE(table.RemoveByName("Drop"));
    table.Lookup("Both")->server = "by-a";
    std::string moved = "Moved";
    table.Rename(table.Lookup("Move"), moved);
    ASSERT_EQ(table.Save(), 0);

    Add(other, "FromB", "cn_iptcp:b[1]");
    other.Lookup("Edit")->port = "2";
    other.Lookup("Both")->server = "by-b";
    // "ECHO" is the connection "echo": replacing it leaves one key, written as now asked.
    ASSERT_TRUE(other.RemoveByName("ECHO"));
    Add(other, "ECHO", "cn_iptcp:loud[1]");
    EXPECT_EQ(other.Lookup("Drop"), nullptr) << "the other table reads the store as it is now";
    ASSERT_EQ(other.Save(), 0);

    ConnectionTable check;
    ASSERT_EQ(check.LoadAll(), 0);
    EXPECT_EQ(Lines(check, true), (Names{"*Keep=cn_iptcp:Keep[1]:USER", "Both=cn_iptcp:by-b[1]:USER", "ECHO=cn_iptcp:loud[1]:USER",
                             "Edit=cn_iptcp:Edit[2]:USER", "FromA=cn_iptcp:a[1]:USER", "FromB=cn_iptcp:b[1]:USER",
                             "Moved=cn_iptcp:Move[1]:USER"}));
    EXPECT_EQ(Subkeys(), (Names{"Both", "ECHO", "Edit", "FromA", "FromB", "Keep", "Moved"}));

    // The default follows only this table's own change; a save with no change writes nothing.
    ASSERT_TRUE(other.SetDefault("FromA"));
    EXPECT_EQ(table.Save(), 0);
    EXPECT_EQ(Get("", nullptr), "FromA");
    ASSERT_TRUE(table.SetDefault("Edit"));
    EXPECT_EQ(Get("", nullptr), "Edit");
}

// A table that reads the store lazily still sees it as one: a record added is no default while
// the store holds a connection not read yet. (On an empty store it is: the dialog's stories.)
TEST_F(PersistenceTest, ALazyTableKnowsWhatTheStoreHolds) {
    Set("\\Only", nullptr, "cn_iptcp:o[1]");
    ASSERT_EQ(table.Load(), 0);
    Add("Second", "cn_iptcp:s[1]");
    EXPECT_EQ(table.DefaultRecord(), nullptr);
}

// ---- The store exports on the process-wide table -------------------------------------------

class StoreExportsTest : public ::testing::Test {
protected:
    ContextGuard guard;
    ConnectionTable& connections = Connections();

    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    void Reset() {
        connections.Clear();
        connections.MarkDefault(nullptr);
        connections.SetModified(false);
        store::DeleteKeyTree(kCurrentUser, kKey.c_str());
    }
    static WString Wide(const std::string& text) { return ActiveCodePage().ToWide(text); }
    static void Set(const std::string& name, const std::string& connString, const std::string& iconFile = "", int save = 1) {
        const WString n = Wide(name), c = Wide(connString), i = Wide(iconFile);
        SetConnection(n.c_str(), c.c_str(), iconFile.empty() ? nullptr : i.c_str(), 0, save);
    }
    static auto Picture(platform::IconHandle icon) { return platform::ReadIcon(UniqueIcon(icon).get()); }
};

// FindConnection hands out the picture the connection shows: its own icon's, or the default.
TEST_F(StoreExportsTest, FindConnectionHandsOutTheConnectionsOwnIcon) {
    const std::string dir = std::string(TAVIX_SOURCE_DIR) + "/src/resources/icons/";
    Set("Plain", "cn_iptcp:p[1]");
    Set("Own", "cn_iptcp:o[1]", dir + "missing.ico");
    const auto defaultIcon = Picture(platform::Icons().LoadResourceIcon(Library().module, IDI_CONNECTION));
    const auto grey = Picture(platform::Icons().LoadResourceIcon(Library().module, IDI_MISSING));
    ASSERT_TRUE(defaultIcon && grey && *defaultIcon != *grey);
    for (const auto& [name, wanted] : {std::pair{"Plain", defaultIcon}, {"Own", grey}}) {
        HICON icon = nullptr;
        const WString key = Wide(name);
        platform::FreeString(FindConnection(key.c_str(), &icon));
        EXPECT_EQ(Picture(icon), wanted) << name;
    }
}

// SetConnection of an existing name at another address replaces the record: the default among
// several is then no connection's (and a save writes none); the only one stays the default.
TEST_F(StoreExportsTest, ReplacingTheDefaultConnection) {
    for (const bool several : {true, false}) {
        SCOPED_TRACE(several);
        Reset();
        Set("A", "cn_iptcp:a[1]");
        if (several) Set("B", "cn_iptcp:b[1]");
        ASSERT_EQ(SetDefaultConnection(Wide("A").c_str()), 1);
        Set("A", "cn_iptcp:a[2]");
        ASSERT_NE(connections.Find("A"), nullptr);
        EXPECT_EQ(connections.DefaultRecord(), several ? nullptr : connections.Find("A"));
        EXPECT_EQ(Get("", nullptr), several ? "<none>" : "A");
    }
}

}  // namespace
}  // namespace tavix
