#include "platform/registry.h"

#include "../registry_dump.h"
#include "platform/case_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../store_test_support.h"
#include "platform/posix/registry_sqlite.h"
#endif

namespace tavix::platform {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::string>;

using testing::Key;

Names Subkeys(Registry& registry, RegKey key) {
    Names names;
    char name[512];
    while (registry.EnumKey(key, static_cast<uint32_t>(names.size()), name, sizeof name) == kRegOk) {
        names.push_back(name);
    }
    return names;
}

std::string ReadValue(Registry& registry, RegKey key, const char* name, uint32_t* type = nullptr) {
    uint32_t size = 0;
    if (registry.QueryValue(key, name, type, nullptr, &size) != kRegOk) return "<missing>";
    std::string data(size, '\0');
    if (registry.QueryValue(key, name, type, data.data(), &size) != kRegOk) return "<failed>";
    return data;
}

// Result codes as text, to check a run of calls at once.
std::string Codes(std::initializer_list<long long> codes) {
    std::string text;
    for (const long long code : codes) text += (text.empty() ? "" : " ") + std::to_string(code);
    return text;
}

bool UnderWine() {
#if defined(_WIN32)
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#if !defined(_WIN32)
// Every test's hive lives in a scratch directory, chosen before UserRegistry() is first used.
const testing::ScratchDir scratchHome{"tavix-registry-test"};
[[maybe_unused]] const int configHome = setenv("XDG_CONFIG_HOME", (scratchHome / "config").c_str(), 1);
#endif

// ---- the current user's hive: the same answers on Linux and Windows ---------------------------

class UserRegistryTest : public ::testing::Test {
protected:
    static constexpr const char* kTestKey = "Software\\TavixConnectTest";
    void SetUp() override {
        const long rc = reg.DeleteTree(kCurrentUser, kTestKey);
        ASSERT_TRUE(rc == kRegOk || rc == kRegNotFound) << rc << reg.Problem();
        ASSERT_EQ(reg.CreateKey(kCurrentUser, kTestKey, root.Out()), kRegOk) << reg.Problem();
    }
    void TearDown() override {
        root.Reset();
        EXPECT_EQ(reg.DeleteTree(kCurrentUser, kTestKey), kRegOk);
    }
    Registry& reg = UserRegistry();
    Key root{reg};
};

TEST_F(UserRegistryTest, ValuesKeepTypeBytesSizeAndTheirNamesFirstCase) {
    struct Case { const char* name; uint32_t type; std::string bytes; };
    const Case cases[] = {
        {nullptr, kRegSz, "cn_iptcp:db1[1972]:SALES\0"s},
        {"IconIndex", kRegDword, "\x07\0\0\0"s},
        {"Empty", kRegSz, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(default)");
        const auto size = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(reg.SetValue(root.get(), c.name, c.type, c.bytes.data(), size), kRegOk);
        uint32_t type = 99, reported = 0;
        EXPECT_EQ(Codes({reg.QueryValue(root.get(), c.name, &type, nullptr, &reported), type, reported}),
                  Codes({kRegOk, c.type, size}));
        EXPECT_EQ(ReadValue(reg, root.get(), c.name), c.bytes);
        std::string small(size, '\0');  // one byte short
        reported = size - 1;
        if (size > 0) {
            EXPECT_EQ(Codes({reg.QueryValue(root.get(), c.name, &type, small.data(), &reported), reported}),
                      Codes({kRegMoreData, size}));
        }
    }
    EXPECT_EQ(ReadValue(reg, root.get(), ""), cases[0].bytes) << "the empty name is the default value";

    // Names ignore case; a value written again keeps the case of its name as first written.
    ASSERT_EQ(reg.SetValue(root.get(), "ICONINDEX", kRegSz, "x", 2), kRegOk);
    uint32_t type = 0;
    EXPECT_EQ(ReadValue(reg, root.get(), "iconindex", &type), "x\0"s);
    EXPECT_EQ(type, kRegSz);
    std::string name;
    Names names;
    for (uint32_t i = 0; reg.EnumValue(root.get(), i, name, nullptr, nullptr) == kRegOk; ++i) names.push_back(name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"", "Empty", "IconIndex"}));
    EXPECT_EQ(Codes({reg.DeleteValue(root.get(), "iconINDEX"),
                     reg.QueryValue(root.get(), "IconIndex", nullptr, nullptr, nullptr),
                     reg.DeleteValue(root.get(), "IconIndex")}),
              Codes({kRegOk, kRegNotFound, kRegNotFound}));
}

TEST_F(UserRegistryTest, KeyPaths) {
    struct Case { const char* create; long created; const char* open; long opened; };
    const std::string name255(255, 'n'), name256(256, 'n');
    const long longName = UnderWine() ? kRegOk : kRegInvalidParameter;  // Wine takes longer names
    const Case cases[] = {
        {"a\\b\\c", kRegOk, "a\\b\\c", kRegOk},   {"x", kRegOk, "x\\y", kRegNotFound},
        {"p\\\\q", kRegOk, "p\\q", kRegOk},         {"t\\", kRegOk, "t", kRegOk},
        {"\\lead", kRegBadPathname, "lead", kRegNotFound}, {"", kRegOk, "", kRegOk},
        {name255.c_str(), kRegOk, name255.c_str(), kRegOk}, {name256.c_str(), longName, name256.c_str(), longName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.create);
        Key key(reg);
        EXPECT_EQ(Codes({reg.CreateKey(root.get(), c.create, key.Out()), reg.OpenKey(root.get(), c.open, key.Out())}),
                  Codes({c.created, c.opened}));
        EXPECT_EQ(key.get() != 0, c.opened == kRegOk);
    }
    reg.DeleteKey(root.get(), name256.c_str());  // longer than DeleteTree's names (Wine)
}

TEST_F(UserRegistryTest, SubkeysEnumerateInTheHiveOrder) {
    for (const char* name : {"b", "_a", "A", "[x", "Zed", "B", "a"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), name, key.Out()), kRegOk);
    }
    // Windows sorts upper-cased names, Wine lower-cased ones: "_" and "[" lie between the two.
    const Names expected = UnderWine() ? Names{"[x", "_a", "A", "b", "Zed"} : Names{"A", "b", "Zed", "[x", "_a"};
    EXPECT_EQ(Subkeys(reg, root.get()), expected);
    const auto zed = static_cast<uint32_t>(std::find(expected.begin(), expected.end(), "Zed") - expected.begin());
    char name[4];
    EXPECT_EQ(Codes({reg.EnumKey(root.get(), zed, name, 3), reg.EnumKey(root.get(), 5, name, 4),
                     reg.EnumKey(root.get(), zed, name, 4)}),
              Codes({kRegMoreData, kRegNoMoreItems, kRegOk}));
    EXPECT_STREQ(name, "Zed");
}

// Whatever order the hive enumerates in: a name as stored, the next one after a name, none past the last.
// A name that is no subkey's (a path, a zero inside, one past the length limit) gets the next subkey by
// name: a store that opens the name to find it must answer neither a key further down nor the key itself.
TEST_F(UserRegistryTest, SubkeyAtOrAfterFindsByUpperCasedName) {
    const std::string longest(200, 'n');
    for (const std::string& name : {"b\\c"s, "_a"s, "A\\x"s, "[x"s, "Zed"s, "alpha"s, longest}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), name.c_str(), key.Out()), kRegOk);
    }
    struct Case { std::string name; const char* found; };
    const Case cases[] = {
        {"", "A"},     {"ALPHA", "alpha"}, {"Alz", "b"}, {"Zed\0"s, "[x"}, {"_A", "_a"}, {"_b", nullptr},
        {"a\\x", "b"}, {"b\\c", longest.c_str()},      {"\\", "_a"},
        {std::string(200, 'N'), longest.c_str()}, {std::string(256, 'n'), "Zed"},
    };
    for (const Case& c : cases) {
        std::string found;
        const long result = reg.SubkeyAtOrAfter(root.get(), c.name, found);
        EXPECT_EQ(result == kRegOk ? found : std::to_string(result), c.found ?: std::to_string(kRegNoMoreItems))
            << c.name;
    }
}

// ForEachSubkey shows every subkey in EnumKey's order (the store answers from its enumeration,
// in a batch or not); a visitor may stop it, and a change made during a visit is seen as EnumKey
// would see it.
TEST_F(UserRegistryTest, ForEachSubkeyVisitsInEnumKeysOrder) {
    for (const char* name : {"b", "A\\Icon", "c", "d"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), name, key.Out()), kRegOk);
    }
    reg.BeginBatch();
    std::vector<std::string> seen;
    ASSERT_EQ(reg.ForEachSubkey(root.get(), 256, [&](SubkeyView& view) {
        seen.emplace_back(view.Name());
        return true;
    }), kRegOk);
    EXPECT_EQ(seen, (Names{"A", "b", "c", "d"}));

    // Stopped by the visitor; a subkey deleted during a visit is not visited.
    seen.clear();
    ASSERT_EQ(reg.ForEachSubkey(root.get(), 256, [&](SubkeyView& view) {
        seen.emplace_back(view.Name());
        if (seen.size() == 1) {
            EXPECT_EQ(reg.DeleteKey(root.get(), "b"), kRegOk);
        }
        return seen.size() < 2;
    }), kRegOk);
    EXPECT_EQ(seen, (Names{"A", "c"}));

    // A name longer than the buffer ends the enumeration there, as it ends EnumKey's.
    Key longer(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "Longer", longer.Out()), kRegOk);
    seen.clear();
    EXPECT_EQ(reg.ForEachSubkey(root.get(), 4, [&](SubkeyView& view) {
        seen.emplace_back(view.Name());
        return true;
    }), kRegMoreData);
    EXPECT_EQ(seen, (Names{"A", "c", "d"}));
    longer.Reset();
    ASSERT_EQ(reg.DeleteKey(root.get(), "Longer"), kRegOk);
    reg.CommitBatch();
    EXPECT_EQ(Subkeys(reg, root.get()), (Names{"A", "c", "d"}));
}

// DeleteKey takes only leaves, DeleteTree a key with everything below it; every handle of a
// deleted key answers kRegKeyDeleted until it is closed.
TEST_F(UserRegistryTest, DeletingKeys) {
    Key leaf(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "parent\\child", leaf.Out()), kRegOk);
    EXPECT_EQ(Codes({reg.DeleteKey(root.get(), "parent"), reg.DeleteKey(root.get(), "missing"),
                     reg.DeleteKey(root.get(), nullptr), reg.DeleteKey(kCurrentUser, "")}),
              Codes({kRegAccessDenied, kRegNotFound, kRegInvalidParameter, kRegAccessDenied}));
    // An empty name deletes the key itself.
    EXPECT_EQ(Codes({reg.DeleteKey(leaf.get(), ""), reg.DeleteKey(root.get(), "PARENT")}), Codes({kRegOk, kRegOk}));
    EXPECT_EQ(Subkeys(reg, root.get()), Names{});

    for (const char* path : {"t\\a\\x", "t\\a\\y\\deep", "t\\b", "t\\c\\z", "tt"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), path, key.Out()), kRegOk) << path;
        ASSERT_EQ(reg.SetValue(key.get(), "v", kRegSz, "1", 2), kRegOk);
    }
    Key deep(reg), tt(reg), scratch(reg);
    ASSERT_EQ(reg.OpenKey(root.get(), "t\\a\\y\\deep", deep.Out()), kRegOk);
    ASSERT_EQ(reg.OpenKey(root.get(), "tt", tt.Out()), kRegOk);
    EXPECT_EQ(reg.DeleteTree(root.get(), "T"), kRegOk);
    EXPECT_EQ(Subkeys(reg, root.get()), Names{"tt"});
    EXPECT_EQ(ReadValue(reg, tt.get(), "v"), "1\0"s) << "a sibling with a longer name stays";
    EXPECT_EQ(Codes({reg.DeleteTree(root.get(), "t"), reg.DeleteTree(root.get(), nullptr)}),
              Codes({kRegNotFound, kRegInvalidParameter}));

    // A key of the same name made afterwards is another key.
    ASSERT_EQ(reg.CreateKey(root.get(), "t\\a\\y\\deep", scratch.Out()), kRegOk);
    char buffer[16];
    std::string name;
    const long d = kRegKeyDeleted;
    EXPECT_EQ(Codes({reg.QueryValue(deep.get(), nullptr, nullptr, nullptr, nullptr),
                     reg.SetValue(deep.get(), "v", kRegSz, "", 1), reg.DeleteValue(deep.get(), "v"),
                     reg.EnumKey(deep.get(), 0, buffer, sizeof buffer),
                     reg.EnumValue(deep.get(), 0, name, nullptr, nullptr), reg.OpenKey(deep.get(), "", scratch.Out()),
                     reg.CreateKey(deep.get(), "c", scratch.Out()), reg.DeleteKey(deep.get(), "c")}),
              Codes({d, d, d, d, d, d, d, d}));
    const RegKey closed = deep.get();
    EXPECT_EQ(Codes({reg.CloseKey(closed), reg.QueryValue(closed, nullptr, nullptr, nullptr, nullptr)}),
              Codes({kRegOk, kRegInvalidHandle}));
    *deep.Out() = 0;
    scratch.Reset();
    EXPECT_EQ(Codes({reg.DeleteTree(root.get(), "t"), reg.DeleteTree(tt.get(), "")}), Codes({kRegOk, kRegOk}));
    EXPECT_EQ(Subkeys(reg, root.get()), Names{});
}

// Names fold unit by unit with the registry's simple mappings: no unit becomes two (ß stays),
// none maps by context or locale (ı, µ and ſ stay), surrogates stay as they are.
TEST(CaseTable, FoldNameUpperCasesEachUnitAsTheRegistryDoes) {
    struct Case { std::u16string name; std::u16string fold; };
    const Case cases[] = {
        {u"", u""},
        {u"Local db_1", u"LOCAL DB_1"},
        {u"\u00E9t\u00E9 \u00FF \u01C6 \u03C9 \u0444 \uFF5A", u"\u00C9T\u00C9 \u0178 \u01C4 \u03A9 \u0424 \uFF3A"},
        {u"\u00DF \u0131 \u00B5 \u017F \u01C5", u"\u00DF \u0131 \u00B5 \u017F \u01C5"},
        {u"\u0101\u0102\u0103", u"\u0100\u0102\u0102"},  // a range of every second unit
        {std::u16string{u'\xD801', u'\xDC28', u'\xDBFF'}, std::u16string{u'\xD801', u'\xDC28', u'\xDBFF'}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FoldName(c.name), c.fold);
        EXPECT_EQ(FoldName(c.fold), c.fold) << "a fold folds to itself";
    }
}

#if !defined(_WIN32)
// ---- the SQLite store -------------------------------------------------------------------------

mode_t Mode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

class SqliteStoreTest : public ::testing::Test {
protected:
    testing::ScratchDir scratch{"tavix-store-test"};
    const std::string dir = scratch.path(), path = scratch / "registry.db";
};

TEST_F(SqliteStoreTest, DirectoriesAre0700AndFiles0600WhateverTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        const std::string config = dir + "/" + std::to_string(mask) + "/config";
        const mode_t previous = umask(mask);
        {
            SqliteRegistry reg(config + "/tavixconnect/registry.db");
            Key key(reg);
            ASSERT_EQ(reg.CreateKey(kCurrentUser, "k", key.Out()), kRegOk) << reg.Problem();
            EXPECT_EQ(Mode(config), 0700u);
            EXPECT_EQ(Mode(config + "/tavixconnect"), 0700u);
            for (const char* suffix : {"", "-wal", "-shm"}) {
                EXPECT_EQ(Mode(config + "/tavixconnect/registry.db" + suffix), 0600u) << suffix;
            }
        }
        umask(previous);
    }
}

TEST(SqliteRegistryPath, FollowsXdgConfigHomeThenHome) {
    const std::string saved[2] = {std::getenv("XDG_CONFIG_HOME") ?: "", std::getenv("HOME") ?: ""};
    const std::string account = getpwuid(getuid())->pw_dir;
    struct Case { const char* config; const char* home; std::string expected; };
    const Case cases[] = {
        {"/x/cfg", "/h", "/x/cfg/tavixconnect/registry.db"},
        {"relative/cfg", "/h", "/h/.config/tavixconnect/registry.db"},
        {nullptr, nullptr, account + "/.config/tavixconnect/registry.db"},
    };
    for (const Case& c : cases) {
        c.config ? setenv("XDG_CONFIG_HOME", c.config, 1) : unsetenv("XDG_CONFIG_HOME");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        EXPECT_EQ(SqliteRegistry::DefaultPath(), c.expected);
    }
    setenv("XDG_CONFIG_HOME", saved[0].c_str(), 1);
    setenv("HOME", saved[1].c_str(), 1);
}

// Names compare and count as upper-cased UTF-16 code units, as the Windows registry's.
TEST_F(SqliteStoreTest, NamesCompareAndCountAsUpperCasedUtf16CodeUnits) {
    SqliteRegistry reg(path);
    struct Case { const char* created; const char* other; bool same; };
    const Case cases[] = {
        {"é", "É", true}, {"ǆ", "Ǆ", true}, {"a", "à", false}, {"ß", "SS", false}, {"ı", "I", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.created);
        Key key(reg), other(reg);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, c.created, key.Out()), kRegOk);
        EXPECT_EQ(reg.OpenKey(kCurrentUser, c.other, other.Out()), c.same ? kRegOk : kRegNotFound);
        ASSERT_EQ(reg.SetValue(key.get(), c.created, kRegSz, "v", 2), kRegOk);
        EXPECT_EQ(reg.QueryValue(key.get(), c.other, nullptr, nullptr, nullptr), c.same ? kRegOk : kRegNotFound);
        ASSERT_EQ(reg.DeleteKey(key.get(), ""), kRegOk);
    }
    const std::pair<std::string, long> lengths[] = {
        {Repeat("é", 255), kRegOk},
        {Repeat("é", 256), kRegInvalidParameter},
        {Repeat("\U00010000", 127) + "x", kRegOk},
        {Repeat("\U00010000", 128), kRegInvalidParameter},
        {"ok\\" + Repeat("a", 256), kRegInvalidParameter},
    };
    for (const auto& [name, result] : lengths) {
        Key key(reg);
        EXPECT_EQ(reg.CreateKey(kCurrentUser, name.c_str(), key.Out()), result) << name.size();
    }
    Key key(reg);
    EXPECT_EQ(reg.OpenKey(kCurrentUser, "ok", key.Out()), kRegNotFound) << "a failed path leaves nothing";
}

// A batch lands whole at its commit, for other connections too; an inner batch undone takes
// only its own changes, an outer one everything. Inside a batch the store answers from what it
// knows of the keys the batch made, as the database would.
TEST_F(SqliteStoreTest, BatchesLandWholeOrNotAtAll) {
    SqliteRegistry reg(path), reader(path);
    Key k(reg), seen(reader), probe(reader), scratch(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "k", k.Out()), kRegOk);
    reg.BeginBatch();
    ASSERT_EQ(reg.SetValue(k.get(), "v", kRegSz, "outer", 6), kRegOk);
    Key fresh(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "fresh", fresh.Out()), kRegOk);
    for (const std::string name : {"b", "A", "c"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(fresh.get(), name.c_str(), key.Out()), kRegOk);
        const std::string text = "text-" + name;
        ASSERT_EQ(reg.SetValue(key.get(), nullptr, kRegSz, text.c_str(), uint32_t(text.size() + 1)), kRegOk);
        ASSERT_EQ(reg.SetValue(key.get(), "n", kRegDword, "\7\0\0\0", 4), kRegOk);
        EXPECT_EQ(reg.DeleteValue(key.get(), "IconIndex"), kRegNotFound);
    }
    Key b(reg), same(reg), sub(reg);
    ASSERT_EQ(reg.OpenKey(fresh.get(), "B", b.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reg, b.get(), nullptr), "text-b\0"s);
    EXPECT_EQ(reg.DeleteValue(b.get(), "N"), kRegOk);
    EXPECT_EQ(ReadValue(reg, b.get(), "n"), "<missing>");
    ASSERT_EQ(reg.CreateKey(fresh.get(), "b", same.Out()), kRegOk) << "made before: opened";
    ASSERT_EQ(reg.SetValue(same.get(), "w", kRegSz, "w", 2), kRegOk);
    EXPECT_EQ(ReadValue(reg, b.get(), "W"), "w\0"s);
    EXPECT_EQ(reg.OpenKey(b.get(), "sub", sub.Out()), kRegNotFound);
    ASSERT_EQ(reg.CreateKey(b.get(), "sub\\deeper", sub.Out()), kRegOk);
    EXPECT_EQ(Subkeys(reg, fresh.get()), (Names{"A", "b", "c"}));
    EXPECT_EQ(Subkeys(reg, b.get()), Names{"sub"});

    // An inner batch undone takes only its own keys and values.
    reg.BeginBatch();
    Key dropped(reg);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "d", dropped.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(k.get(), "w", kRegSz, "inner", 6), kRegOk);
    reg.AbortBatch();
    EXPECT_EQ(Subkeys(reg, fresh.get()), (Names{"A", "b", "c"}));
    EXPECT_EQ(reg.QueryValue(dropped.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    reg.BeginBatch();  // an inner batch committed lands with the outer one
    ASSERT_EQ(reg.SetValue(k.get(), "x", kRegSz, "kept", 5), kRegOk);
    reg.CommitBatch();
    // A key deleted and made again is another key.
    Key c(reg), c2(reg);
    ASSERT_EQ(reg.OpenKey(fresh.get(), "c", c.Out()), kRegOk);
    ASSERT_EQ(reg.DeleteKey(fresh.get(), "C"), kRegOk);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "c", c2.Out()), kRegOk);
    EXPECT_EQ(reg.QueryValue(c.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    EXPECT_EQ(ReadValue(reg, c2.get(), nullptr), "<missing>");

    ASSERT_EQ(reader.OpenKey(kCurrentUser, "k", seen.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reader, seen.get(), "v"), "<missing>") << "seen before the commit";
    EXPECT_EQ(reader.OpenKey(kCurrentUser, "fresh", probe.Out()), kRegNotFound) << "before commit";
    reg.CommitBatch();
    EXPECT_EQ(ReadValue(reader, seen.get(), "v"), "outer\0"s);
    EXPECT_EQ(ReadValue(reader, seen.get(), "w"), "<missing>");
    EXPECT_EQ(ReadValue(reader, seen.get(), "x"), "kept\0"s);
    ASSERT_EQ(reader.OpenKey(kCurrentUser, "fresh", seen.Out()), kRegOk);
    EXPECT_EQ(Subkeys(reader, seen.get()), (Names{"A", "b", "c"}));
    Key a(reader);
    ASSERT_EQ(reader.OpenKey(seen.get(), "a", a.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reader, a.get(), nullptr), "text-A\0"s);
    EXPECT_EQ(ReadValue(reader, a.get(), "N"), "\7\0\0\0"s);
    EXPECT_EQ(ReadValue(reg, b.get(), "w"), "w\0"s) << "a handle of the batch after it";
    EXPECT_EQ(reader.OpenKey(seen.get(), "b\\sub\\deeper", a.Out()), kRegOk);

    // An outer batch undone: nothing of it lands.
    reg.BeginBatch();
    ASSERT_EQ(reg.DeleteKey(kCurrentUser, "k"), kRegOk);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "new", scratch.Out()), kRegOk);
    reg.AbortBatch();
    EXPECT_EQ(Subkeys(reader, kCurrentUser), (Names{"fresh", "k"}));
    EXPECT_EQ(ReadValue(reg, k.get(), "v"), "outer\0"s);
}

// A subkey made under a key whose row waits in memory: the key is marked as having subkeys,
// so that an enumeration finds the subkey and deleting the tree takes it.
TEST_F(SqliteStoreTest, SubkeysOfKeysMadeInTheSameBatchAreFound) {
    SqliteRegistry reg(path);
    reg.BeginBatch();
    Key fresh(reg), child(reg), grandchild(reg), found(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "f", fresh.Out()), kRegOk);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "p", child.Out()), kRegOk);
    ASSERT_EQ(reg.CreateKey(child.get(), "x", grandchild.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(grandchild.get(), nullptr, kRegSz, "x", 2), kRegOk);
    reg.CommitBatch();
    reg.BeginBatch();
    char name[8];
    EXPECT_EQ(Codes({reg.EnumKey(fresh.get(), 0, name, sizeof name), reg.OpenKey(fresh.get(), name, child.Out()),
                     reg.OpenKey(child.get(), "X", found.Out()), reg.DeleteTree(kCurrentUser, "f")}),
              Codes({kRegOk, kRegOk, kRegOk, kRegOk}));
    reg.CommitBatch();
    EXPECT_EQ(Codes({reg.QueryValue(grandchild.get(), nullptr, nullptr, nullptr, nullptr),
                     reg.CreateKey(kCurrentUser, "f\\p", child.Out()), reg.OpenKey(child.get(), "x", found.Out())}),
              Codes({kRegKeyDeleted, kRegOk, kRegNotFound}));
    EXPECT_EQ(Subkeys(reg, child.get()), Names{});

    // A mark undone with an inner batch is set again by the next subkey.
    Key leaf(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "leaf", leaf.Out()), kRegOk);
    reg.BeginBatch();
    reg.BeginBatch();
    ASSERT_EQ(reg.CreateKey(leaf.get(), "a", found.Out()), kRegOk);
    reg.AbortBatch();
    ASSERT_EQ(reg.CreateKey(leaf.get(), "b", found.Out()), kRegOk);
    reg.CommitBatch();
    reg.BeginBatch();
    for (uint32_t i = 0; reg.EnumKey(kCurrentUser, i, name, sizeof name) == kRegOk; ++i) {
        if (std::string(name) != "leaf") continue;
        ASSERT_EQ(reg.OpenKey(kCurrentUser, name, leaf.Out()), kRegOk);
        EXPECT_EQ(reg.OpenKey(leaf.get(), "b", found.Out()), kRegOk);
    }
    reg.CommitBatch();
}

// DeleteTree of the root takes its subkeys and keeps the root and its values.
TEST_F(SqliteStoreTest, DeleteTreeOfTheRootKeepsTheRoot) {
    SqliteRegistry reg(path);
    Key key(reg);
    for (const char* name : {"a\\b", "c"}) ASSERT_EQ(reg.CreateKey(kCurrentUser, name, key.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(kCurrentUser, nullptr, kRegSz, "root", 5), kRegOk);
    EXPECT_EQ(reg.DeleteTree(kCurrentUser, ""), kRegAccessDenied);
    EXPECT_EQ(Subkeys(reg, kCurrentUser), Names{});
    EXPECT_EQ(ReadValue(reg, kCurrentUser, nullptr), "root\0"s);
    EXPECT_EQ(reg.CreateKey(kCurrentUser, "a", key.Out()), kRegOk);
}

#endif

}  // namespace
}  // namespace tavix::platform
