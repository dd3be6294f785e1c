#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <sqlite3.h>

#include "platform/codepage.h"
#include "platform/posix/registry_sqlite.h"
#include "registry_saves.h"
#endif

namespace tavix::platform {
namespace {

using namespace std::string_literals;

class Key {
public:
    explicit Key(Registry& registry) : registry_(registry) {}
    ~Key() { Reset(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    RegKey* Out() {
        Reset();
        return &key_;
    }
    RegKey get() const { return key_; }
    void Reset() {
        if (key_ != 0) registry_.CloseKey(key_);
        key_ = 0;
    }

private:
    Registry& registry_;
    RegKey key_ = 0;
};

std::vector<std::string> Subkeys(Registry& registry, RegKey key) {
    std::vector<std::string> names;
    char name[512];
    while (registry.EnumKey(key, static_cast<uint32_t>(names.size()), name, sizeof name) ==
           kRegOk) {
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

long DeleteTree(Registry& registry, RegKey parent, const char* path) {
    Key key(registry);
    if (const long rc = registry.OpenKey(parent, path, key.Out()); rc != kRegOk) {
        return rc == kRegNotFound ? kRegOk : rc;
    }
    char name[512];
    while (registry.EnumKey(key.get(), 0, name, sizeof name) == kRegOk) {
        if (const long rc = DeleteTree(registry, key.get(), name); rc != kRegOk) return rc;
    }
    key.Reset();
    return registry.DeleteKey(parent, path);
}

bool UnderWine() {
#if defined(_WIN32)
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#if !defined(_WIN32)
// The hive of every test in this program lives in a directory of its own, chosen before any
// test can first use UserRegistry().
struct ScratchConfigHome {
    ScratchConfigHome() {
        char pattern[] = "/tmp/tavix-registry-test-XXXXXX";
        dir = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    }
    ~ScratchConfigHome() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
};
const ScratchConfigHome scratchHome;
#endif

// ---- the current user's hive: the same answers on Linux and Windows ---------------------------

class UserRegistryTest : public ::testing::Test {
protected:
    static constexpr const char* kTestKey = "Software\\TavixConnectTest";
    void SetUp() override {
        ASSERT_EQ(DeleteTree(reg, kCurrentUser, kTestKey), kRegOk) << reg.Problem();
        ASSERT_EQ(reg.CreateKey(kCurrentUser, kTestKey, root.Out()), kRegOk) << reg.Problem();
    }
    void TearDown() override {
        root.Reset();
        EXPECT_EQ(DeleteTree(reg, kCurrentUser, kTestKey), kRegOk);
    }
    Registry& reg = UserRegistry();
    Key root{reg};
};

TEST_F(UserRegistryTest, ValuesKeepTypeBytesAndSize) {
    struct Case {
        const char* name;
        uint32_t type;
        std::string bytes;
    };
    const Case cases[] = {
        {nullptr, kRegSz, "cn_iptcp:db1[1972]:SALES\0"s},
        {"IconIndex", kRegDword, "\x07\0\0\0"s},
        {"IconFilename", kRegExpandSz, "%SystemRoot%\\db.ico\0"s},
        {"Blob", kRegBinary, "\0\x01\0\xFF"s},
        {"Empty", kRegSz, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(default)");
        const auto size = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(reg.SetValue(root.get(), c.name, c.type, c.bytes.data(), size), kRegOk);
        uint32_t type = 99, reported = 0;
        EXPECT_EQ(reg.QueryValue(root.get(), c.name, &type, nullptr, &reported), kRegOk);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(reported, size);
        EXPECT_EQ(ReadValue(reg, root.get(), c.name), c.bytes);
        if (size > 0) {
            std::string small(size - 1, '\0');
            reported = size - 1;
            EXPECT_EQ(reg.QueryValue(root.get(), c.name, &type, small.data(), &reported),
                      kRegMoreData);
            EXPECT_EQ(reported, size);
        }
    }
    EXPECT_EQ(ReadValue(reg, root.get(), ""), cases[0].bytes)
        << "the empty name is the default value";
    char buffer[8];
    EXPECT_EQ(reg.QueryValue(root.get(), "Blob", nullptr, buffer, nullptr), kRegInvalidParameter);
    EXPECT_EQ(reg.SetValue(root.get(), "Null", kRegBinary, nullptr, 3), kRegNoAccess);
}

TEST_F(UserRegistryTest, ValueNamesIgnoreCaseAndKeepTheFirst) {
    const uint32_t one = 1;
    ASSERT_EQ(reg.SetValue(root.get(), "IconIndex", kRegDword, &one, 4), kRegOk);
    ASSERT_EQ(reg.SetValue(root.get(), "ICONINDEX", kRegSz, "x", 2), kRegOk);
    uint32_t type = 0;
    EXPECT_EQ(ReadValue(reg, root.get(), "iconindex", &type), "x\0"s);
    EXPECT_EQ(type, kRegSz);
    std::string name;
    std::vector<uint8_t> data;
    ASSERT_EQ(reg.EnumValue(root.get(), 0, name, &type, &data), kRegOk);
    EXPECT_EQ(name, "IconIndex");
    EXPECT_EQ(reg.EnumValue(root.get(), 1, name, &type, &data), kRegNoMoreItems);

    EXPECT_EQ(reg.DeleteValue(root.get(), "iconINDEX"), kRegOk);
    EXPECT_EQ(reg.QueryValue(root.get(), "IconIndex", nullptr, nullptr, nullptr), kRegNotFound);
    EXPECT_EQ(reg.DeleteValue(root.get(), "IconIndex"), kRegNotFound);
    EXPECT_EQ(reg.QueryValue(root.get(), nullptr, nullptr, nullptr, nullptr), kRegNotFound);
}

TEST_F(UserRegistryTest, KeyPaths) {
    struct Case {
        const char* create;
        long created;
        const char* open;
        long opened;
    };
    const std::string name255(255, 'n'), name256(256, 'n');
    const Case cases[] = {
        {"a\\b\\c", kRegOk, "a\\b\\c", kRegOk},
        {"Mixed\\Case", kRegOk, "MIXED\\case", kRegOk},
        {"x", kRegOk, "x\\y", kRegNotFound},
        {"p\\\\q", kRegOk, "p\\q", kRegOk},
        {"t\\", kRegOk, "t", kRegOk},
        {"\\lead", kRegBadPathname, "lead", kRegNotFound},
        {"", kRegOk, "", kRegOk},
        {name255.c_str(), kRegOk, name255.c_str(), kRegOk},
        // Wine accepts longer names than Windows.
        {name256.c_str(), UnderWine() ? kRegOk : kRegInvalidParameter, name256.c_str(),
         UnderWine() ? kRegOk : kRegInvalidParameter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.create);
        Key key(reg);
        EXPECT_EQ(reg.CreateKey(root.get(), c.create, key.Out()), c.created);
        EXPECT_EQ(reg.OpenKey(root.get(), c.open, key.Out()), c.opened);
        EXPECT_EQ(key.get() != 0, c.opened == kRegOk);
    }
    EXPECT_EQ(reg.OpenKey(root.get(), "\\lead", nullptr), kRegInvalidParameter);
}

TEST_F(UserRegistryTest, SubkeysEnumerateInTheHiveOrder) {
    for (const char* name : {"b", "_a", "A", "[x", "Zed", "B", "a"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), name, key.Out()), kRegOk);
    }
    // Windows sorts upper-cased names, Wine lower-cased ones: "_" and "[" lie between the two.
    const std::vector<std::string> expected =
        UnderWine() ? std::vector<std::string>{"[x", "_a", "A", "b", "Zed"}
                    : std::vector<std::string>{"A", "b", "Zed", "[x", "_a"};
    EXPECT_EQ(Subkeys(reg, root.get()), expected);

    const auto zed = static_cast<uint32_t>(std::find(expected.begin(), expected.end(), "Zed") -
                                           expected.begin());
    char name[4];
    EXPECT_EQ(reg.EnumKey(root.get(), zed, name, 3), kRegMoreData);
    EXPECT_EQ(reg.EnumKey(root.get(), zed, name, 4), kRegOk);
    EXPECT_STREQ(name, "Zed");
    EXPECT_EQ(reg.EnumKey(root.get(), 5, name, sizeof name), kRegNoMoreItems);

    ASSERT_EQ(reg.DeleteKey(root.get(), "B"), kRegOk);
    EXPECT_EQ(reg.EnumKey(root.get(), 1, name, sizeof name), kRegOk);
    EXPECT_STREQ(name, UnderWine() ? "_a" : "Zed");

    // An index counts in the subkeys of the moment, also when one came between two calls.
    char first[4];
    ASSERT_EQ(reg.EnumKey(root.get(), 0, first, sizeof first), kRegOk);
    Key zero(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "0", zero.Out()), kRegOk);
    ASSERT_EQ(reg.EnumKey(root.get(), 1, name, sizeof name), kRegOk);
    EXPECT_STREQ(name, first);
}

TEST_F(UserRegistryTest, DeleteKeyTakesOnlyLeaves) {
    Key key(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "parent\\child", key.Out()), kRegOk);
    EXPECT_EQ(reg.DeleteKey(root.get(), "parent"), kRegAccessDenied);
    EXPECT_EQ(reg.DeleteKey(root.get(), "missing"), kRegNotFound);
    EXPECT_EQ(reg.DeleteKey(root.get(), nullptr), kRegInvalidParameter);
    EXPECT_EQ(reg.DeleteKey(kCurrentUser, ""), kRegAccessDenied);
    EXPECT_EQ(reg.DeleteKey(key.get(), ""), kRegOk) << "an empty name deletes the key itself";
    EXPECT_EQ(reg.DeleteKey(root.get(), "PARENT"), kRegOk);
    EXPECT_EQ(Subkeys(reg, root.get()), std::vector<std::string>{});
}

TEST_F(UserRegistryTest, HandlesOfADeletedKeyAnswerKeyDeleted) {
    Key gone(reg), other(reg), scratch(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "gone", gone.Out()), kRegOk);
    ASSERT_EQ(reg.OpenKey(root.get(), "GONE", other.Out()), kRegOk);
    ASSERT_EQ(reg.DeleteKey(other.get(), ""), kRegOk);
    // A key of the same name made afterwards is another key.
    ASSERT_EQ(reg.CreateKey(root.get(), "gone", scratch.Out()), kRegOk);
    char buffer[16];
    std::string name;
    const std::pair<const char*, std::function<long()>> operations[] = {
        {"QueryValue",
         [&] { return reg.QueryValue(gone.get(), nullptr, nullptr, nullptr, nullptr); }},
        {"SetValue", [&] { return reg.SetValue(gone.get(), "v", kRegSz, "", 1); }},
        {"DeleteValue", [&] { return reg.DeleteValue(gone.get(), "v"); }},
        {"EnumKey", [&] { return reg.EnumKey(gone.get(), 0, buffer, sizeof buffer); }},
        {"EnumValue", [&] { return reg.EnumValue(gone.get(), 0, name, nullptr, nullptr); }},
        {"OpenKey", [&] { return reg.OpenKey(gone.get(), "", scratch.Out()); }},
        {"CreateKey", [&] { return reg.CreateKey(gone.get(), "c", scratch.Out()); }},
        {"DeleteKey", [&] { return reg.DeleteKey(gone.get(), "c"); }},
    };
    for (const auto& [what, operation] : operations) EXPECT_EQ(operation(), kRegKeyDeleted) << what;
    const RegKey closed = gone.get();
    EXPECT_EQ(reg.CloseKey(closed), kRegOk);
    EXPECT_EQ(reg.QueryValue(closed, nullptr, nullptr, nullptr, nullptr), kRegInvalidHandle);
    *gone.Out() = 0;
}

TEST_F(UserRegistryTest, DeleteTreeTakesTheKeyWithEverythingBelowIt) {
    for (const char* path : {"t\\a\\x", "t\\a\\y\\deep", "t\\b", "t\\c\\z", "tt"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(root.get(), path, key.Out()), kRegOk) << path;
        ASSERT_EQ(reg.SetValue(key.get(), "v", kRegSz, "1", 2), kRegOk);
    }
    Key deep(reg), tt(reg);
    ASSERT_EQ(reg.OpenKey(root.get(), "t\\a\\y\\deep", deep.Out()), kRegOk);
    ASSERT_EQ(reg.OpenKey(root.get(), "tt", tt.Out()), kRegOk);
    EXPECT_EQ(reg.DeleteTree(root.get(), "T"), kRegOk);
    EXPECT_EQ(Subkeys(reg, root.get()), std::vector<std::string>{"tt"});
    EXPECT_EQ(reg.QueryValue(deep.get(), "v", nullptr, nullptr, nullptr), kRegKeyDeleted);
    EXPECT_EQ(ReadValue(reg, tt.get(), "v"), "1\0"s) << "a sibling with a longer name stays";
    EXPECT_EQ(reg.DeleteTree(root.get(), "t"), kRegNotFound);
    EXPECT_EQ(reg.DeleteTree(root.get(), nullptr), kRegInvalidParameter);
    EXPECT_EQ(reg.DeleteTree(tt.get(), ""), kRegOk) << "an empty name deletes the key itself";
    EXPECT_EQ(Subkeys(reg, root.get()), std::vector<std::string>{});
}

TEST_F(UserRegistryTest, BatchLandsOnCommit) {
    reg.BeginBatch();
    reg.BeginBatch();
    Key key(reg);
    ASSERT_EQ(reg.CreateKey(root.get(), "one", key.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(key.get(), nullptr, kRegSz, "1", 2), kRegOk);
    reg.CommitBatch();
    reg.CommitBatch();
    EXPECT_EQ(ReadValue(reg, key.get(), nullptr), "1\0"s);
}

#if !defined(_WIN32)
// ---- the SQLite store -------------------------------------------------------------------------

mode_t Mode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

class SqliteStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavix-store-test-XXXXXX";
        dir = mkdtemp(pattern);
        path = dir + "/registry.db";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir, path;
};

TEST_F(SqliteStoreTest, DirectoriesAre0700AndFiles0600WhateverTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{0}, mode_t{0277}}) {
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
    struct Case {
        const char* config;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/x/cfg", "/h", "/x/cfg/tavixconnect/registry.db"},
        {"relative/cfg", "/h", "/h/.config/tavixconnect/registry.db"},
        {nullptr, "/h", "/h/.config/tavixconnect/registry.db"},
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

TEST_F(SqliteStoreTest, NamesFoldByUpperCaseCodeUnits) {
    struct Case {
        const char* created;
        const char* other;
        bool same;
    };
    const Case cases[] = {
        {"é", "É", true},   {"ÿ", "Ÿ", true},  {"ł", "Ł", true},  {"ǆ", "Ǆ", true},
        {"ω", "Ω", true},   {"ж", "Ж", true},  {"ѐ", "Ѐ", true},  {"a", "à", false},
        {"ß", "SS", false}, {"ı", "I", false}, {"ſ", "S", false}, {"µ", "Μ", false},
    };
    SqliteRegistry reg(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.created);
        Key key(reg), other(reg);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, c.created, key.Out()), kRegOk);
        EXPECT_EQ(reg.OpenKey(kCurrentUser, c.other, other.Out()), c.same ? kRegOk : kRegNotFound);
        ASSERT_EQ(reg.SetValue(key.get(), c.created, kRegSz, "v", 2), kRegOk);
        EXPECT_EQ(reg.QueryValue(key.get(), c.other, nullptr, nullptr, nullptr),
                  c.same ? kRegOk : kRegNotFound);
    }
}

TEST_F(SqliteStoreTest, SubkeysSortByUpperCaseCodeUnits) {
    SqliteRegistry reg(path);
    for (const char* name : {"\uE000", "\U00010000", "é", "z", "ab", "a", "Ä"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, name, key.Out()), kRegOk);
    }
    // U+10000 is the surrogate pair D800 DC00, below U+E000 as code units.
    EXPECT_EQ(Subkeys(reg, kCurrentUser),
              (std::vector<std::string>{"a", "ab", "z", "Ä", "é", "\U00010000", "\uE000"}));
}

TEST_F(SqliteStoreTest, KeyNamesHoldAtMost255Utf16Units) {
    const std::pair<std::string, long> cases[] = {
        {Repeat("é", 255), kRegOk},
        {Repeat("é", 256), kRegInvalidParameter},
        {Repeat("\U00010000", 127) + "x", kRegOk},
        {Repeat("\U00010000", 128), kRegInvalidParameter},
        {"ok\\" + Repeat("a", 256), kRegInvalidParameter},
    };
    SqliteRegistry reg(path);
    for (const auto& [name, result] : cases) {
        Key key(reg);
        EXPECT_EQ(reg.CreateKey(kCurrentUser, name.c_str(), key.Out()), result) << name.size();
    }
    Key key(reg);
    EXPECT_EQ(reg.OpenKey(kCurrentUser, "ok", key.Out()), kRegNotFound)
        << "a failed path leaves nothing";
}

TEST_F(SqliteStoreTest, UnusableFilesAreReportedAndNeverChanged) {
    {
        SqliteRegistry reg(dir + "/real.db");
        ASSERT_TRUE(test::SaveGeneration(reg, 300, 1));
    }
    const std::string real = ReadFile(dir + "/real.db");
    ASSERT_GT(real.size(), 16384u);
    std::string noise(8192, '\0');
    std::mt19937 random(7);
    for (char& byte : noise) byte = static_cast<char>(random());
    std::string foreign = real;
    foreign.replace(68, 4, 4, '\0');  // the application id of the header
    std::string damaged = real;
    damaged.replace(damaged.size() - 4096, 4096, noise.substr(0, 4096));

    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> make;  // the store's path in a directory
        const char* reason;
    };
    const auto file = [](const std::string& bytes) {
        return [bytes](const std::string& in) {
            WriteFile(in + "/registry.db", bytes);
            return in + "/registry.db";
        };
    };
    std::vector<Case> cases = {
        {"random bytes", file(noise), "file is not a database"},
        {"truncated to half", file(real.substr(0, real.size() / 2)), "malformed"},
        {"truncated to its first page", file(real.substr(0, 4096)), "malformed"},
        {"a damaged last page", file(damaged), "malformed"},
        {"another program's database", file(foreign), "another program"},
        {"a directory",
         [](const std::string& in) {
             mkdir((in + "/registry.db").c_str(), 0700);
             return in + "/registry.db";
         },
         "Is a directory"},
        {"below a file",
         [](const std::string& in) {
             WriteFile(in + "/config", "x");
             return in + "/config/tavixconnect/registry.db";
         },
         "Not a directory"},
    };
    // root reads and writes whatever the mode says.
    if (geteuid() != 0) {
        cases.push_back({"unreadable",
                         [&](const std::string& in) {
                             const std::string store = file(real)(in);
                             chmod(store.c_str(), 0);
                             return store;
                         },
                         "Permission denied"});
    }
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = dir + "/case" + std::to_string(n++);
        mkdir(in.c_str(), 0700);
        const std::string store = c.make(in);
        const auto listing = [&] {
            std::vector<std::string> names;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(in)) {
                const std::string name = entry.path().string();
                names.push_back(name + ":" + (entry.is_regular_file() ? ReadFile(name) : "dir"));
            }
            return names;
        };
        const std::vector<std::string> before = listing();
        {
            SqliteRegistry reg(store);
            Key key(reg);
            char name[8];
            uint32_t size = 0;
            EXPECT_EQ(reg.OpenKey(kCurrentUser, "Connections", key.Out()), kRegBadStore);
            EXPECT_EQ(reg.CreateKey(kCurrentUser, "Connections", key.Out()), kRegBadStore);
            EXPECT_EQ(reg.QueryValue(kCurrentUser, nullptr, nullptr, nullptr, &size), kRegBadStore);
            EXPECT_EQ(reg.SetValue(kCurrentUser, nullptr, kRegSz, "", 1), kRegBadStore);
            EXPECT_EQ(reg.EnumKey(kCurrentUser, 0, name, sizeof name), kRegBadStore);
            EXPECT_EQ(reg.DeleteKey(kCurrentUser, "Connections"), kRegBadStore);
            EXPECT_EQ(reg.DeleteValue(kCurrentUser, nullptr), kRegBadStore);
            EXPECT_FALSE(test::SaveGeneration(reg, 1, 2));
            EXPECT_EQ(reg.Location(), store);
            EXPECT_NE(reg.Problem().find(c.reason), std::string::npos) << reg.Problem();
        }
        EXPECT_EQ(listing(), before);
    }
}

TEST_F(SqliteStoreTest, RepeatedSavesDoNotGrowTheFile) {
    const auto sizeAfter = [&](uint32_t saves) {
        {
            SqliteRegistry reg(path);
            for (uint32_t i = 0; i < saves; ++i) EXPECT_TRUE(test::SaveGeneration(reg, 300, i));
        }
        return std::filesystem::file_size(path);  // all in the database once the log is closed
    };
    const uintmax_t settled = sizeAfter(2);
    EXPECT_LE(sizeAfter(10), settled + settled / 8);
}

TEST_F(SqliteStoreTest, BatchesLandWholeOrNotAtAll) {
    SqliteRegistry reg(path), reader(path);
    Key key(reg), seen(reader), scratch(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "k", key.Out()), kRegOk);
    reg.BeginBatch();
    ASSERT_EQ(reg.SetValue(key.get(), "v", kRegSz, "outer", 6), kRegOk);
    reg.BeginBatch();
    ASSERT_EQ(reg.SetValue(key.get(), "w", kRegSz, "inner", 6), kRegOk);
    reg.AbortBatch();
    reg.BeginBatch();
    ASSERT_EQ(reg.SetValue(key.get(), "x", kRegSz, "kept", 5), kRegOk);
    reg.CommitBatch();
    ASSERT_EQ(reader.OpenKey(kCurrentUser, "k", seen.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reader, seen.get(), "v"), "<missing>") << "seen before the commit";
    reg.CommitBatch();
    EXPECT_EQ(ReadValue(reader, seen.get(), "v"), "outer\0"s);
    EXPECT_EQ(ReadValue(reader, seen.get(), "w"), "<missing>");
    EXPECT_EQ(ReadValue(reader, seen.get(), "x"), "kept\0"s);

    reg.BeginBatch();
    ASSERT_EQ(reg.DeleteKey(kCurrentUser, "k"), kRegOk);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "new", scratch.Out()), kRegOk);
    reg.AbortBatch();
    EXPECT_EQ(Subkeys(reader, kCurrentUser), std::vector<std::string>{"k"});
    EXPECT_EQ(ReadValue(reg, key.get(), "v"), "outer\0"s);
}

TEST_F(SqliteStoreTest, ValuesEnumerateInTheOrderFirstWritten) {
    SqliteRegistry reg(path);
    const auto names = [&](RegKey key) {
        std::vector<std::string> found;
        std::string name;
        for (uint32_t i = 0; reg.EnumValue(key, i, name, nullptr, nullptr) == kRegOk; ++i) {
            found.push_back(name);
        }
        return found;
    };
    // Outside a batch, and inside one on a key the batch made.
    for (const bool batch : {false, true}) {
        SCOPED_TRACE(batch);
        if (batch) reg.BeginBatch();
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, batch ? "in" : "out", key.Out()), kRegOk);
        for (const char* name : std::initializer_list<const char*>{"b", nullptr, "a"}) {
            ASSERT_EQ(reg.SetValue(key.get(), name, kRegSz, "x", 2), kRegOk);
        }
        EXPECT_EQ(names(key.get()), (std::vector<std::string>{"b", "", "a"}));
        ASSERT_EQ(reg.SetValue(key.get(), "B", kRegDword, "\1\0\0\0", 4), kRegOk);
        ASSERT_EQ(reg.DeleteValue(key.get(), "a"), kRegOk);
        ASSERT_EQ(reg.SetValue(key.get(), "A", kRegSz, "y", 2), kRegOk);
        EXPECT_EQ(names(key.get()), (std::vector<std::string>{"b", "", "A"}));
        uint32_t type = 0;
        EXPECT_EQ(ReadValue(reg, key.get(), "b", &type), "\1\0\0\0"s);
        EXPECT_EQ(type, kRegDword);
        if (batch) reg.CommitBatch();
        EXPECT_EQ(names(key.get()), (std::vector<std::string>{"b", "", "A"}));
    }
}

// Inside a batch the store answers from what it knows of the keys the batch made; the answers
// are those the database would give.
TEST_F(SqliteStoreTest, ABatchAnswersForTheKeysItMakes) {
    SqliteRegistry reg(path), reader(path);
    reg.BeginBatch();
    Key fresh(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "fresh", fresh.Out()), kRegOk);
    for (const std::string name : {"b", "A", "c"}) {
        Key key(reg);
        ASSERT_EQ(reg.CreateKey(fresh.get(), name.c_str(), key.Out()), kRegOk);
        const std::string text = "text-" + name;
        ASSERT_EQ(reg.SetValue(key.get(), nullptr, kRegSz, text.c_str(), text.size() + 1), kRegOk);
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
    EXPECT_EQ(Subkeys(reg, fresh.get()), (std::vector<std::string>{"A", "b", "c"}));
    EXPECT_EQ(Subkeys(reg, b.get()), std::vector<std::string>{"sub"});

    // An inner batch undone takes only its own keys.
    reg.BeginBatch();
    Key dropped(reg);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "d", dropped.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(dropped.get(), nullptr, kRegSz, "d", 2), kRegOk);
    reg.AbortBatch();
    EXPECT_EQ(Subkeys(reg, fresh.get()), (std::vector<std::string>{"A", "b", "c"}));
    EXPECT_EQ(reg.QueryValue(dropped.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    // A key deleted and made again is another key.
    Key c(reg), c2(reg);
    ASSERT_EQ(reg.OpenKey(fresh.get(), "c", c.Out()), kRegOk);
    ASSERT_EQ(reg.DeleteKey(fresh.get(), "C"), kRegOk);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "c", c2.Out()), kRegOk);
    EXPECT_EQ(reg.QueryValue(c.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    EXPECT_EQ(ReadValue(reg, c2.get(), nullptr), "<missing>");

    Key seen(reader);
    EXPECT_EQ(reader.OpenKey(kCurrentUser, "fresh", seen.Out()), kRegNotFound) << "before commit";
    reg.CommitBatch();
    ASSERT_EQ(reader.OpenKey(kCurrentUser, "fresh", seen.Out()), kRegOk);
    EXPECT_EQ(Subkeys(reader, seen.get()), (std::vector<std::string>{"A", "b", "c"}));
    Key a(reader);
    ASSERT_EQ(reader.OpenKey(seen.get(), "a", a.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reader, a.get(), nullptr), "text-A\0"s);
    EXPECT_EQ(ReadValue(reader, a.get(), "N"), "\7\0\0\0"s);
    EXPECT_EQ(ReadValue(reg, b.get(), "w"), "w\0"s) << "a handle of the batch after it";
    EXPECT_EQ(reader.OpenKey(seen.get(), "b\\sub\\deeper", a.Out()), kRegOk);
}

// A subkey made under a key whose row waits in memory: the key is marked as having subkeys,
// so that an enumeration finds the subkey and deleting the tree takes it.
TEST_F(SqliteStoreTest, SubkeysOfKeysMadeInTheSameBatchAreFound) {
    SqliteRegistry reg(path);
    reg.BeginBatch();
    Key fresh(reg), child(reg), grandchild(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "f", fresh.Out()), kRegOk);
    ASSERT_EQ(reg.CreateKey(fresh.get(), "p", child.Out()), kRegOk);
    ASSERT_EQ(reg.CreateKey(child.get(), "x", grandchild.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(grandchild.get(), nullptr, kRegSz, "x", 2), kRegOk);
    reg.CommitBatch();
    reg.BeginBatch();
    char name[8];
    ASSERT_EQ(reg.EnumKey(fresh.get(), 0, name, sizeof name), kRegOk);
    ASSERT_EQ(reg.OpenKey(fresh.get(), name, child.Out()), kRegOk);
    Key found(reg);
    EXPECT_EQ(reg.OpenKey(child.get(), "X", found.Out()), kRegOk);
    EXPECT_EQ(reg.DeleteTree(kCurrentUser, "f"), kRegOk);
    reg.CommitBatch();
    EXPECT_EQ(reg.QueryValue(grandchild.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "f\\p", child.Out()), kRegOk);
    EXPECT_EQ(reg.OpenKey(child.get(), "x", found.Out()), kRegNotFound);
    EXPECT_EQ(Subkeys(reg, child.get()), std::vector<std::string>{});

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

// Inside a batch an enumeration steps one statement; what it stands on answers the opening of
// the subkey, its values and its subkeys, also between changes.
TEST_F(SqliteStoreTest, AnEnumerationInABatchFollowsChanges) {
    SqliteRegistry reg(path);
    for (int i = 0; i < 5; ++i) {
        Key key(reg);
        const std::string name = "e\\k" + std::to_string(i), text = "v" + std::to_string(i);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, name.c_str(), key.Out()), kRegOk);
        ASSERT_EQ(reg.SetValue(key.get(), nullptr, kRegSz, text.c_str(), 3), kRegOk);
    }
    Key icon(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "e\\k1\\Icon", icon.Out()), kRegOk);
    reg.BeginBatch();
    Key e(reg), k(reg), sub(reg);
    ASSERT_EQ(reg.OpenKey(kCurrentUser, "e", e.Out()), kRegOk);
    char name[8];
    const auto at = [&](uint32_t index) {
        const long rc = reg.EnumKey(e.get(), index, name, sizeof name);
        return rc == kRegOk ? std::string(name) : "<" + std::to_string(rc) + ">";
    };
    EXPECT_EQ(at(0), "k0");
    ASSERT_EQ(reg.OpenKey(e.get(), name, k.Out()), kRegOk);
    EXPECT_EQ(ReadValue(reg, k.get(), nullptr), "v0\0"s);
    EXPECT_EQ(reg.OpenKey(k.get(), "Icon", sub.Out()), kRegNotFound);
    EXPECT_EQ(at(1), "k1");
    ASSERT_EQ(reg.OpenKey(e.get(), name, k.Out()), kRegOk);
    EXPECT_EQ(reg.OpenKey(k.get(), "ICON", sub.Out()), kRegOk);
    EXPECT_EQ(at(3), "k3");
    EXPECT_EQ(at(2), "k2");
    EXPECT_EQ(at(2), "k2");
    ASSERT_EQ(reg.OpenKey(e.get(), "K2", k.Out()), kRegOk) << "another case than enumerated";
    EXPECT_EQ(ReadValue(reg, k.get(), nullptr), "v2\0"s);
    ASSERT_EQ(reg.SetValue(k.get(), "x", kRegSz, "x", 2), kRegOk);
    EXPECT_EQ(at(3), "k3");
    ASSERT_EQ(reg.DeleteKey(e.get(), "k3"), kRegOk);
    EXPECT_EQ(at(3), "k4");
    EXPECT_EQ(at(4), "<" + std::to_string(kRegNoMoreItems) + ">");
    EXPECT_EQ(reg.EnumKey(e.get(), 0, name, 2), kRegMoreData);
    ASSERT_EQ(reg.CreateKey(e.get(), "k0\\sub", sub.Out()), kRegOk);
    EXPECT_EQ(at(0), "k0");
    ASSERT_EQ(reg.OpenKey(e.get(), name, k.Out()), kRegOk);
    EXPECT_EQ(reg.OpenKey(k.get(), "sub", sub.Out()), kRegOk);
    reg.CommitBatch();
    EXPECT_EQ(Subkeys(reg, e.get()), (std::vector<std::string>{"k0", "k1", "k2", "k4"}));
}

// A save deletes the tree and makes it again: every handle of the keys before answers
// kRegKeyDeleted, whatever the new keys are called.
TEST_F(SqliteStoreTest, HandlesOfKeysASaveReplacedAnswerKeyDeleted) {
    SqliteRegistry reg(path);
    ASSERT_TRUE(test::SaveGeneration(reg, 3, 1));
    Key old(reg), connections(reg);
    ASSERT_EQ(reg.OpenKey(kCurrentUser, "Connections\\Connection 1", old.Out()), kRegOk);
    ASSERT_EQ(reg.OpenKey(kCurrentUser, "Connections", connections.Out()), kRegOk);
    reg.BeginBatch();
    ASSERT_EQ(reg.DeleteTree(kCurrentUser, "Connections"), kRegOk);
    reg.CommitBatch();
    ASSERT_TRUE(test::SaveGeneration(reg, 3, 2));
    EXPECT_EQ(reg.QueryValue(old.get(), nullptr, nullptr, nullptr, nullptr), kRegKeyDeleted);
    EXPECT_EQ(reg.EnumKey(connections.get(), 0, nullptr, 0), kRegKeyDeleted);
    EXPECT_EQ(test::ReadGeneration(reg).generation, 2u);
}

TEST_F(SqliteStoreTest, DeleteTreeOfTheRootKeepsOnlyTheRoot) {
    SqliteRegistry reg(path);
    Key key(reg);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "a\\b", key.Out()), kRegOk);
    ASSERT_EQ(reg.CreateKey(kCurrentUser, "c", key.Out()), kRegOk);
    ASSERT_EQ(reg.SetValue(kCurrentUser, nullptr, kRegSz, "root", 5), kRegOk);
    EXPECT_EQ(reg.DeleteTree(kCurrentUser, ""), kRegAccessDenied);
    EXPECT_EQ(Subkeys(reg, kCurrentUser), std::vector<std::string>{});
    EXPECT_EQ(ReadValue(reg, kCurrentUser, nullptr), "root\0"s);
    EXPECT_EQ(reg.CreateKey(kCurrentUser, "a", key.Out()), kRegOk);
}

// A store written in the first format (a table of keys by id, one of values, names folded to
// UTF-16) is converted when first opened, in one transaction, and reads as it did.
TEST_F(SqliteStoreTest, AStoreOfTheFirstFormatIsConverted) {
    const auto fold = [](const std::string& name) {
        std::string out;
        for (const WChar unit : SystemCodePage().ToWide(name)) {
            const char16_t upper = UpcaseCodeUnit(static_cast<char16_t>(unit));
            out.push_back(static_cast<char>(upper >> 8));
            out.push_back(static_cast<char>(upper & 0xFF));
        }
        return out;
    };
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* schema =
            "PRAGMA application_id = 1415673464; PRAGMA user_version = 1;"
            "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, "
            "fold BLOB NOT NULL, name BLOB NOT NULL, UNIQUE(parent, fold));"
            "CREATE TABLE vals(key INTEGER NOT NULL, fold BLOB NOT NULL, name BLOB NOT NULL, "
            "type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));"
            "CREATE TRIGGER key_values AFTER DELETE ON keys BEGIN "
            "DELETE FROM vals WHERE key = old.id; END;"
            "INSERT INTO keys(id, parent, fold, name) VALUES(1, 0, x'', x'');";
        ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_stmt* key = nullptr;
        sqlite3_stmt* value = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO keys(id, parent, fold, name) VALUES(?1, ?2, ?3, ?4)", -1, &key, nullptr);
        sqlite3_prepare_v2(db, "INSERT INTO vals VALUES(?1, ?2, ?3, ?4, ?5)", -1, &value, nullptr);
        const auto addKey = [&](int id, int parent, const std::string& name) {
            const std::string folded = fold(name);
            sqlite3_bind_int(key, 1, id);
            sqlite3_bind_int(key, 2, parent);
            sqlite3_bind_blob(key, 3, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(key, 4, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            EXPECT_EQ(sqlite3_step(key), SQLITE_DONE);
            sqlite3_reset(key);
        };
        const auto addValue = [&](int id, const std::string& name, int type, const std::string& data) {
            const std::string folded = fold(name);
            sqlite3_bind_int(value, 1, id);
            sqlite3_bind_blob(value, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(value, 3, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(value, 4, type);
            sqlite3_bind_blob(value, 5, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
            EXPECT_EQ(sqlite3_step(value), SQLITE_DONE);
            sqlite3_reset(value);
        };
        addKey(2, 1, "Software");
        addKey(3, 2, "Vantorin");
        addKey(4, 3, "Connections");
        addKey(5, 4, "Zeta");
        addKey(6, 4, "alpha");
        addKey(7, 4, "\xC3\x89t\xC3\xA9");  // "Été"
        addKey(8, 6, "Icon");
        addKey(9, 4, "gone");
        addValue(4, "", kRegSz, "alpha\0"s);
        addValue(5, "IconIndex", kRegDword, "\3\0\0\0"s);
        addValue(5, "", kRegSz, "cn_iptcp:z[1]\0"s);
        addValue(6, "", kRegSz, "cn_iptcp:a[1]\0"s);
        addValue(7, "", kRegExpandSz, "cn_iptcp:e[1]\0"s);
        addValue(8, "Index", kRegDword, "\1\0\0\0"s);
        addValue(8, "FileName", kRegSz, "a.ico\0"s);
        // Key 9 is deleted: its id is never given again.
        EXPECT_EQ(sqlite3_exec(db, "DELETE FROM keys WHERE id = 9", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_finalize(key);
        sqlite3_finalize(value);
        sqlite3_close(db);
    }
    for (int open = 0; open < 2; ++open) {
        SCOPED_TRACE(open);
        SqliteRegistry reg(path);
        Key connections(reg), key(reg), icon(reg);
        ASSERT_EQ(reg.OpenKey(kCurrentUser, "software\\VANTORIN\\Connections", connections.Out()),
                  kRegOk)
            << reg.Problem();
        EXPECT_EQ(ReadValue(reg, connections.get(), nullptr), "alpha\0"s);
        EXPECT_EQ(Subkeys(reg, connections.get()),
                  (std::vector<std::string>{"alpha", "Zeta", "\xC3\x89t\xC3\xA9"}));
        ASSERT_EQ(reg.OpenKey(connections.get(), "ZETA", key.Out()), kRegOk);
        std::string name;
        uint32_t type = 0;
        std::vector<uint8_t> data;
        ASSERT_EQ(reg.EnumValue(key.get(), 0, name, &type, &data), kRegOk);
        EXPECT_EQ(name, "IconIndex");
        EXPECT_EQ(type, kRegDword);
        EXPECT_EQ(data, (std::vector<uint8_t>{3, 0, 0, 0}));
        ASSERT_EQ(reg.EnumValue(key.get(), 1, name, &type, &data), kRegOk);
        EXPECT_EQ(name, "");
        EXPECT_EQ(reg.EnumValue(key.get(), 2, name, &type, &data), kRegNoMoreItems);
        ASSERT_EQ(reg.OpenKey(connections.get(), "\xC3\xA9T\xC3\x89", key.Out()), kRegOk);
        EXPECT_EQ(ReadValue(reg, key.get(), nullptr, &type), "cn_iptcp:e[1]\0"s);
        EXPECT_EQ(type, kRegExpandSz);
        ASSERT_EQ(reg.OpenKey(connections.get(), "alpha\\icon", icon.Out()), kRegOk);
        EXPECT_EQ(ReadValue(reg, icon.get(), "FILENAME"), "a.ico\0"s);
        EXPECT_EQ(reg.OpenKey(connections.get(), "gone", key.Out()), kRegNotFound);
    }
    {
        SqliteRegistry reg(path);
        Key made(reg);
        ASSERT_EQ(reg.CreateKey(kCurrentUser, "Software\\Vantorin\\Connections\\new", made.Out()), kRegOk);
        EXPECT_EQ(reg.DeleteTree(kCurrentUser, "Software\\Vantorin\\Connections\\alpha"), kRegOk);
        Key connections(reg);
        ASSERT_EQ(reg.OpenKey(kCurrentUser, "Software\\Vantorin\\Connections", connections.Out()), kRegOk);
        EXPECT_EQ(Subkeys(reg, connections.get()),
                  (std::vector<std::string>{"new", "Zeta", "\xC3\x89t\xC3\xA9"}));
    }
    // The old tables are gone, and the next id is above every id the old store gave.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const auto number = [db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        const int64_t result = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return result;
    };
    EXPECT_EQ(number("PRAGMA user_version"), 2);
    EXPECT_EQ(number("SELECT count(*) FROM sqlite_schema WHERE name IN ('keys', 'vals')"), 0);
    EXPECT_GT(number("SELECT next FROM counter"), 10);
    sqlite3_close(db);
}

TEST_F(SqliteStoreTest, SeesWhatOtherConnectionsChange) {
    SqliteRegistry reg(path), other(path);
    Key d(reg), scratch(other);
    for (const char* name : {"b", "c", "d"})
        ASSERT_EQ(reg.CreateKey(kCurrentUser, name, d.Out()), kRegOk);
    char name[8];
    ASSERT_EQ(reg.EnumKey(kCurrentUser, 0, name, sizeof name), kRegOk);
    ASSERT_EQ(reg.EnumKey(kCurrentUser, 1, name, sizeof name), kRegOk);
    ASSERT_EQ(other.CreateKey(kCurrentUser, "a", scratch.Out()), kRegOk);
    ASSERT_EQ(reg.EnumKey(kCurrentUser, 2, name, sizeof name), kRegOk);
    EXPECT_STREQ(name, "c") << "index 2 after a key was added before it";
    ASSERT_EQ(other.DeleteKey(kCurrentUser, "d"), kRegOk);
    EXPECT_EQ(reg.SetValue(d.get(), nullptr, kRegSz, "", 1), kRegKeyDeleted);
}

#endif

}  // namespace
}  // namespace tavix::platform
