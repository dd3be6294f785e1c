// The connection table's registry persistence, against the user's real store: the Windows
// registry (under Wine, a prefix made for the test run) or, on Linux, the library's registry
// file in a temporary configuration directory made for the test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/library_context.h"
#include "platform/registry.h"
#include "store/connection_table.h"
#include "store/registry_store.h"

namespace tavix {
namespace {

using platform::kCurrentUser;
using platform::UserRegistry;

const std::string kKey = store::kConnectionsKeyPath;

// Test access to the registry by path.
struct Reg {
    static void SetString(const std::string& path, const char* name, const std::string& value,
                          uint32_t type = platform::kRegSz) {
        RegistryKey key;
        ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, path.c_str(), key), 0) << path;
        ASSERT_EQ(UserRegistry().SetValue(key.get(), name, type, value.c_str(),
                                          static_cast<uint32_t>(value.size() + 1)), 0);
    }
    static void SetNumber(const std::string& path, const char* name, uint32_t value) {
        RegistryKey key;
        ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, path.c_str(), key), 0) << path;
        ASSERT_EQ(UserRegistry().SetValue(key.get(), name, platform::kRegDword, &value, sizeof value), 0);
    }
    // The value as text ("<none>" when missing), with its type.
    static std::string Get(const std::string& path, const char* name, uint32_t* typeOut = nullptr) {
        RegistryKey key;
        if (store::OpenKey(kCurrentUser, path.c_str(), key) != 0) return "<no key>";
        uint32_t type = 0, size = 0;
        if (UserRegistry().QueryValue(key.get(), name, &type, nullptr, &size) != 0) return "<none>";
        std::string data(size, '\0');
        UserRegistry().QueryValue(key.get(), name, &type, data.data(), &size);
        if (typeOut) *typeOut = type;
        if (type == platform::kRegDword) {
            uint32_t number;
            std::memcpy(&number, data.data(), sizeof number);
            return std::to_string(number);
        }
        return data.substr(0, data.find('\0'));
    }
    static std::vector<std::string> Subkeys(const std::string& path) {
        std::vector<std::string> names;
        RegistryKey key;
        if (store::OpenKey(kCurrentUser, path.c_str(), key) != 0) return names;
        char name[256];
        for (uint32_t i = 0; UserRegistry().EnumKey(key.get(), i, name, sizeof name) == 0; ++i) names.push_back(name);
        return names;
    }
};

class PersistenceTest : public ::testing::Test {
protected:
    ContextGuard guard;
    ConnectionTable table;

    void SetUp() override { store::DeleteKeyTree(kCurrentUser, kKey.c_str()); }
    void TearDown() override { store::DeleteKeyTree(kCurrentUser, kKey.c_str()); }

    ConnectionRecord* Add(const char* name, const char* connectionString) {
        auto record = std::make_unique<ConnectionRecord>();
        record->Parse(name, connectionString);
        ConnectionRecord* raw = record.get();
        table.Add(std::move(record));
        return raw;
    }

    // name=connection string, in table order, "*" before the default.
    static std::string Describe(const ConnectionTable& t) {
        std::string text;
        for (const ConnectionRecord* r : t.Records()) {
            text += (r == t.defaultRecord ? "*" : "") + r->name + "=" + r->Format() + ";";
        }
        return text;
    }
};

TEST_F(PersistenceTest, SaveAndLoadRoundTrip) {
    Add("Local", "cn_iptcp:127.0.0.1[1972]");
    ConnectionRecord* work = Add("Work", "cn_iptcp:db1[1972]:SALES");
    ConnectionRecord* blank = Add("Blank ns", "cn_iptcp: spaced [ 1 ]");
    blank->namespaceName.clear();
    work->iconFilename.reset(NewBstr(WideFromUtf16(u"no-such-file.ico")));
    work->iconIndex = 3;
    ASSERT_TRUE(table.SetDefault("Work"));
    EXPECT_EQ(Reg::Get(kKey, nullptr), "Work");  // written at once
    table.Save();
    EXPECT_EQ(table.modified, 0);

    uint32_t type = 0;
    EXPECT_EQ(Reg::Get(kKey + "\\Work", nullptr, &type), "cn_iptcp:db1[1972]:SALES");
    EXPECT_EQ(type, platform::kRegSz);
    EXPECT_EQ(Reg::Get(kKey + "\\Work", "IconFilename", &type), "no-such-file.ico");
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(Reg::Get(kKey + "\\Work", "IconIndex", &type), "3");
    EXPECT_EQ(type, platform::kRegDword);
    EXPECT_EQ(Reg::Get(kKey + "\\Local", "IconIndex"), "<none>");
    EXPECT_EQ(Reg::Get(kKey + "\\Blank ns", nullptr), "cn_iptcp: spaced [ 1 ]");

    ConnectionTable loaded;
    loaded.Load();
    // An empty namespace is read back as the default namespace.
    EXPECT_EQ(Describe(loaded), "*Work=cn_iptcp:db1[1972]:SALES;Local=cn_iptcp:127.0.0.1[1972]:USER;"
                                "Blank ns=cn_iptcp: spaced [ 1 ]:USER;");
    EXPECT_EQ(loaded.modified, 0);
    ConnectionRecord* reread = loaded.Lookup("Work");
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->iconIndex, 3);
    EXPECT_EQ(reread->iconFilename.view(), WideFromUtf16(u"no-such-file.ico"));
    // The file yields no icon: the record shows the marker, appended after image 0.
    EXPECT_GT(reread->imageIndex, 0);
    EXPECT_EQ(loaded.Lookup("Local")->imageIndex, 0);
}

TEST_F(PersistenceTest, EmptyStoreIsCreatedAndReadAgainAtEveryLoad) {
    table.Load();
    EXPECT_TRUE(table.Empty());
    ASSERT_TRUE(table.images);
    EXPECT_EQ(table.images->ImageCount(), 1);
    EXPECT_EQ(Reg::Subkeys(kKey).size(), 0u);
    EXPECT_EQ(Reg::Get(kKey, nullptr), "<none>");  // the key exists now, without a default

    Reg::SetString(kKey + "\\Later", nullptr, "cn_iptcp:h[1]");
    table.Load();
    EXPECT_EQ(Describe(table), "Later=cn_iptcp:h[1]:USER;");
    EXPECT_EQ(table.images->ImageCount(), 1);  // image 0 is made once
}

TEST_F(PersistenceTest, DefaultValueNamesAConnectionOrNone) {
    Reg::SetString(kKey, nullptr, "Missing");
    Reg::SetString(kKey + "\\A", nullptr, "cn_iptcp:a[1]");
    table.Load();
    EXPECT_EQ(table.defaultRecord, nullptr);
    table.Save();
    EXPECT_EQ(Reg::Get(kKey, nullptr), "<none>");  // a table without default writes none

    Reg::SetString(kKey, nullptr, "A");
    ConnectionTable again;
    again.Load();
    ASSERT_NE(again.defaultRecord, nullptr);
    EXPECT_EQ(again.defaultRecord->name, "A");
}

TEST_F(PersistenceTest, LegacyKeysAreConvertedAndSavedAtOnce) {
    Reg::SetString(kKey + "\\_VRConn3", nullptr, "Old");
    Reg::SetString(kKey + "\\_VRConn3", "ConnString", "cn_iptcp:old[1]:NS");
    Reg::SetNumber(kKey + "\\_VRConn3", "IconIndex", 2);
    Reg::SetString(kKey + "\\_VRConn3", "IconFilename", "legacy.ico", platform::kRegSz);
    Reg::SetString(kKey + "\\_VRConn", nullptr, "Zero");
    Reg::SetString(kKey + "\\_VRConn", "ConnString", "cn_iptcp:z[2]");
    Reg::SetString(kKey + "\\Current", nullptr, "cn_iptcp:c[3]");
    table.Load();
    EXPECT_EQ(table.modified, 0);
    ASSERT_NE(table.Lookup("Old"), nullptr);
    EXPECT_EQ(table.Lookup("Old")->keyNumber, 3);
    EXPECT_EQ(table.Lookup("Old")->iconIndex, 2);
    EXPECT_EQ(table.Lookup("Zero")->keyNumber, 0);
    EXPECT_EQ(table.Lookup("Current")->keyNumber, -1);

    std::vector<std::string> keys = Reg::Subkeys(kKey);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"Current", "Old", "Zero"}));
    EXPECT_EQ(Reg::Get(kKey + "\\Old", nullptr), "cn_iptcp:old[1]:NS");
    EXPECT_EQ(Reg::Get(kKey + "\\Old", "IconFilename"), "legacy.ico");
}

TEST_F(PersistenceTest, UnreadableLegacyEntryEndsTheLoadWithoutConversion) {
    // "1A" comes before the legacy key and "~Z" after it in either hive order.
    Reg::SetString(kKey + "\\1A", nullptr, "cn_iptcp:a[1]");
    Reg::SetString(kKey + "\\_VRConn1", nullptr, "No string");
    Reg::SetString(kKey + "\\~Z", nullptr, "cn_iptcp:z[1]");
    table.modified = 1;
    table.Load();
    EXPECT_EQ(Describe(table), "1A=cn_iptcp:a[1]:USER;");
    EXPECT_EQ(table.modified, 1);
    EXPECT_EQ(Reg::Subkeys(kKey).size(), 3u);  // nothing converted, nothing saved
}

// Entries that do not parse, lack a connection string or repeat a name are dropped, one
// warning each; the first of a name in enumeration order stays ("1Dup" sorts before
// "_VRConn7" whether the hive compares names in upper or in lower case), and the save that
// follows a legacy key removes the rest.
TEST_F(PersistenceTest, DroppedEntriesWarnOnceEach) {
    Reg::SetString(kKey + "\\1Dup", nullptr, "cn_iptcp:first[1]");
    Reg::SetString(kKey + "\\_VRConn7", nullptr, "1Dup");
    Reg::SetString(kKey + "\\_VRConn7", "ConnString", "cn_iptcp:second[2]");
    Reg::SetString(kKey + "\\NoValue", "Other", "x");
    Reg::SetString(kKey + "\\Broken", nullptr, "cn_iptcp:h");
    Reg::SetNumber(kKey + "\\Number", nullptr, 5);
#if !defined(_WIN32)
    testing::internal::CaptureStderr();
#endif
    table.Load();
#if !defined(_WIN32)
    const std::string warnings = testing::internal::GetCapturedStderr();
    const std::string warning = "Warning - multiple connection entries in registry with same name.";
    size_t count = 0;
    for (size_t at = warnings.find(warning); at != std::string::npos; at = warnings.find(warning, at + 1)) ++count;
    EXPECT_EQ(count, 4u) << warnings;
#endif
    EXPECT_EQ(Describe(table), "1Dup=cn_iptcp:first[1]:USER;");
    EXPECT_EQ(Reg::Subkeys(kKey), (std::vector<std::string>{"1Dup"}));  // converted: saved at once
}

TEST_F(PersistenceTest, RenameReachesTheRegistryOnlyWithASave) {
    Reg::SetString(kKey, nullptr, "Old");
    Reg::SetString(kKey + "\\Old", nullptr, "cn_iptcp:h[1]");
    table.Load();
    std::string name = "New";
    table.Rename(table.Lookup("Old"), name);
    EXPECT_EQ(table.defaultRecord, nullptr);
    EXPECT_EQ(Reg::Subkeys(kKey), (std::vector<std::string>{"Old"}));
    EXPECT_EQ(Reg::Get(kKey, nullptr), "Old");

    // Discarding the change brings the connection back under its old name, still the default.
    table.Clear();
    table.Load();
    ASSERT_NE(table.defaultRecord, nullptr);
    EXPECT_EQ(table.defaultRecord->name, "Old");

    name = "New";
    table.Rename(table.Lookup("Old"), name);
    table.Save();
    EXPECT_EQ(Reg::Subkeys(kKey), (std::vector<std::string>{"New"}));
    EXPECT_EQ(Reg::Get(kKey, nullptr), "<none>");
}

TEST_F(PersistenceTest, SetDefaultWritesAtOnceAndOnlyOnChange) {
    Reg::SetString(kKey + "\\A", nullptr, "cn_iptcp:a[1]");
    Reg::SetString(kKey + "\\B", nullptr, "cn_iptcp:b[1]");
    table.Load();
    EXPECT_EQ(table.defaultRecord, nullptr);
    EXPECT_TRUE(table.SetDefault(""));  // nothing to do: nothing written
    EXPECT_EQ(Reg::Get(kKey, nullptr), "<none>");
    EXPECT_FALSE(table.SetDefault("C"));
    EXPECT_TRUE(table.SetDefault("B"));
    EXPECT_EQ(Reg::Get(kKey, nullptr), "B");
    EXPECT_EQ(table.modified, 1);

    Reg::SetString(kKey, nullptr, "changed elsewhere");
    EXPECT_TRUE(table.SetDefault("B"));  // already the default: writes nothing
    EXPECT_EQ(Reg::Get(kKey, nullptr), "changed elsewhere");
    EXPECT_TRUE(table.SetDefault(nullptr));
    EXPECT_EQ(Reg::Get(kKey, nullptr), "");
    EXPECT_EQ(table.defaultRecord, nullptr);
}

TEST_F(PersistenceTest, CurrentKeysTakeTheirIconFromEitherPlace) {
    Reg::SetString(kKey + "\\OnKey", nullptr, "cn_iptcp:a[1]");
    Reg::SetNumber(kKey + "\\OnKey", "IconIndex", 4);
    Reg::SetString(kKey + "\\OnKey", "IconFilename", "on-key.ico", platform::kRegExpandSz);
    Reg::SetString(kKey + "\\Subkey", nullptr, "cn_iptcp:b[1]");
    Reg::SetNumber(kKey + "\\Subkey\\Icon", "Index", 5);
    Reg::SetString(kKey + "\\Subkey\\Icon", "FileName", "subkey.ico");
    Reg::SetString(kKey + "\\WrongType", nullptr, "cn_iptcp:c[1]");
    Reg::SetString(kKey + "\\WrongType", "IconIndex", "4");
    Reg::SetString(kKey + "\\WrongType", "IconFilename", "x.ico");
    table.Load();
    EXPECT_EQ(table.Lookup("OnKey")->iconIndex, 4);
    EXPECT_EQ(table.Lookup("OnKey")->iconFilename.view(), WideFromUtf16(u"on-key.ico"));
    EXPECT_EQ(table.Lookup("Subkey")->iconIndex, 5);
    EXPECT_EQ(table.Lookup("Subkey")->iconFilename.view(), WideFromUtf16(u"subkey.ico"));
    EXPECT_EQ(table.Lookup("WrongType")->iconIndex, -1);
    EXPECT_FALSE(table.Lookup("WrongType")->iconFilename);
    EXPECT_EQ(table.Lookup("WrongType")->imageIndex, 0);
    // After a save both icons sit on the connection's key and survive the next load.
    table.Save();
    EXPECT_EQ(Reg::Get(kKey + "\\Subkey", "IconFilename"), "subkey.ico");
    EXPECT_EQ(Reg::Subkeys(kKey + "\\Subkey").size(), 0u);
}

TEST_F(PersistenceTest, LongNamesAndValuesFollowTheReadLimits) {
    const std::string name255(255, 'n');
    const std::string server(300, 's');
    {
        // Made below the connections key: Wine refuses a whole path of over 260 characters.
        RegistryKey parent, child;
        ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, kKey.c_str(), parent), 0);
        ASSERT_EQ(store::OpenOrCreateKey(parent.get(), name255.c_str(), child), 0);
        const std::string value = "cn_iptcp:h[1]";
        ASSERT_EQ(UserRegistry().SetValue(child.get(), nullptr, platform::kRegSz, value.c_str(),
                                          static_cast<uint32_t>(value.size() + 1)), 0);
    }
    Reg::SetString(kKey + "\\Long", nullptr, "cn_iptcp:" + server + "[1]");  // over 255 bytes
    table.Load();
    EXPECT_NE(table.Lookup(name255.c_str()), nullptr);
    EXPECT_EQ(table.Lookup("Long"), nullptr);  // does not read: dropped
}

TEST_F(PersistenceTest, ASaveLeavesExactlyTheTableOverWhatWasSaved) {
    const auto fill = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            const std::string name = "c" + std::to_string(i);
            const std::string connectionString = "cn_iptcp:h" + std::to_string(i) + "[1]:NS";
            ConnectionRecord* record = Add(name.c_str(), connectionString.c_str());
            if (i % 7 == 0) {
                record->iconFilename.reset(NewBstr(WideFromUtf16(u"icons.dll")));
                record->iconIndex = i;
            }
        }
    };
    fill(0, 60);
    Reg::SetString(kKey + "\\c3\\Icon", "FileName", "old.ico");  // from an older save
    table.Save();
    EXPECT_EQ(Reg::Subkeys(kKey + "\\c3").size(), 0u);
    for (int i = 0; i < 60; i += 3) ASSERT_TRUE(table.RemoveByName(("c" + std::to_string(i)).c_str()));
    fill(100, 5);
    ASSERT_TRUE(table.SetDefault("c100"));
    // The same entries; in a bucket a load binds them in the hive's order.
    const auto entries = [](const ConnectionTable& t) {
        std::vector<std::string> all;
        for (const ConnectionRecord* r : t.Records()) {
            all.push_back((r == t.defaultRecord ? "*" : "") + r->name + "=" + r->Format());
        }
        std::sort(all.begin(), all.end());
        return all;
    };
    const std::vector<std::string> expected = entries(table);
    table.Save();
    table.Save();
    ConnectionTable loaded;
    loaded.Load();
    EXPECT_EQ(loaded.Count(), 45u);
    EXPECT_EQ(entries(loaded), expected);
    EXPECT_EQ(loaded.Lookup("c14")->iconIndex, 14);
    EXPECT_EQ(loaded.Lookup("c13")->iconIndex, -1);
    EXPECT_EQ(Reg::Get(kKey, nullptr), "c100");
    EXPECT_EQ(Reg::Get(kKey + "\\c0", nullptr), "<no key>");
}

TEST_F(PersistenceTest, DeleteKeyTreeRemovesNestedKeys) {
    Reg::SetString(kKey + "\\A\\B\\C", nullptr, "x");
    Reg::SetString(kKey + "\\A\\D", nullptr, "y");
    EXPECT_EQ(store::DeleteKeyTree(kCurrentUser, (kKey + "\\A").c_str()), 0);
    EXPECT_EQ(Reg::Get(kKey + "\\A", nullptr), "<no key>");
    EXPECT_EQ(store::DeleteKeyTree(kCurrentUser, (kKey + "\\A").c_str()), 0);  // nothing there
}

}  // namespace
}  // namespace tavix
