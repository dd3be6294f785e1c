// The command-line tool's direct reads of the store, on entries that only the store itself can
// hold (names over 255 bytes, control characters, entries of the older layout), and its
// escaping of what it prints.
#include "cli_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../store_test_support.h"
#include "cli.h"
#include "platform/posix/registry_sqlite.h"

namespace cli {
namespace {

using namespace tavix::platform;
using tavix::testing::Dword;
using tavix::testing::Sz;

class StoreReads : public ::testing::Test {
protected:
    StoreReads() : registry_(dir_ / "registry.db") {}

    // A value of a key below the connections key ("" the key itself).
    void Set(const std::string& key, const char* name, uint32_t type, const std::string& data) {
        const std::string path = key.empty() ? std::string(kConnectionsKey) : std::string(kConnectionsKey) + "\\" + key;
        RegKey handle = 0;
        ASSERT_EQ(registry_.CreateKey(kCurrentUser, path.c_str(), &handle), kRegOk) << key;
        ASSERT_EQ(registry_.SetValue(handle, name, type, data.data(), static_cast<uint32_t>(data.size())), kRegOk);
        registry_.CloseKey(handle);
    }

    tavix::testing::ScratchDir dir_{"tavix-cli"};
    SqliteRegistry registry_;
};

// The store holds entries the library passes over; the walk names each and goes on past a name
// longer than the library reads.
TEST_F(StoreReads, ListShowsWhatTheLibraryUsesAndNamesTheRest) {
    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "\xC3\xA9";  // 200 characters, 400 bytes
    Set("", nullptr, kRegSz, Sz("GOOD"));
    Set("Good", nullptr, kRegSz, Sz("cn_iptcp:g[1]:NS"));
    Set(longName, nullptr, kRegSz, Sz("cn_iptcp:l[1]"));
    Set("\xCE\xA9mega", nullptr, kRegSz, Sz("cn_iptcp:o[1]"));  // sorts after the long name
    Set("TooLong", nullptr, kRegSz, Sz("cn_iptcp:" + std::string(250, 's') + "[1]"));
    Set("Named", nullptr, kRegSz, Sz("Other:cn_iptcp:h[1]"));
    Set("_VRConn3", nullptr, kRegSz, Sz("Old"));
    Set("_VRConn3", "ConnString", kRegSz, Sz("cn_iptcp:old[3]"));
    Set("_VRConn4", nullptr, kRegSz, Sz("good"));
    Set("_VRConn4", "ConnString", kRegSz, Sz("cn_iptcp:dup[4]"));

    ConnectionList listed;
    std::vector<SkippedEntry> skipped;
    ASSERT_EQ(ReadConnectionList(registry_, listed, skipped), kRegOk);
    std::string shown;
    for (size_t i = 0; i < listed.size(); ++i) {
        shown.append(listed.IsDefault(i) ? "*" : "").append(listed.Name(i)).append("=");
        shown.append(listed.ConnectionString(i)).append(";");
    }
    // Table order: the hash buckets of Omega 1, Old 3, Named 4 and Good 12.
    EXPECT_EQ(shown, "\xCE\xA9mega=cn_iptcp:o[1];Old=cn_iptcp:old[3];Named=cn_iptcp:h[1];*Good=cn_iptcp:g[1]:NS;");
    std::string passed;
    for (const SkippedEntry& s : skipped) passed += s.key.substr(0, 12) + ": " + s.why + "\n";
    EXPECT_EQ(passed,
              "TooLong: its connection string is longer than 255 bytes\n"
              "_VRConn4: the same name as an entry before it\n" +
                  longName.substr(0, 12) + ": its name is longer than 255 bytes\n");
}

// Any case of a name finds it as stored, its icon on the key or in "Icon"; a default names a usable one or none.
TEST_F(StoreReads, ShowAndDefaultReadOneConnection) {
    Set("", nullptr, kRegSz, Sz("sales"));
    Set("Sales", nullptr, kRegSz, Sz("cn_iptcp:s[2]:SALES"));
    Set("Sales", "IconIndex", kRegDword, Dword(uint32_t(-3)));
    Set("Sales", "IconFilename", kRegExpandSz, Sz("/icons/s.ico"));
    Set("Boxed", nullptr, kRegSz, Sz("cn_iptcp:b[2]"));
    Set("Boxed\\Icon", "Index", kRegDword, Dword(4));
    Set("Boxed\\Icon", "FileName", kRegSz, Sz("/icons/b.ico"));
    Set("Broken", nullptr, kRegSz, Sz("nonsense"));
    Set("_VRConn1", nullptr, kRegSz, Sz("Legacy"));
    Set("_VRConn1", "ConnString", kRegSz, Sz("cn_iptcp:l[1]"));

    const struct {
        const char* asked;
        long result;
        std::string shown;  // name, connection string, default, icon; or why it cannot be used
    } cases[] = {
        {"SALES", kRegOk, "Sales|cn_iptcp:s[2]:SALES|default|/icons/s.ico,-3"},
        {"boxed", kRegOk, "Boxed|cn_iptcp:b[2]||/icons/b.ico,4"},
        {"LEGACY", kRegOk, "Legacy|cn_iptcp:l[1]||"},
        {"Sale", kRegNotFound, ""},
        {"Salesman", kRegNotFound, ""},
        {"_VRConn1", kRegNotFound, ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.asked);
        StoredConnection c;
        std::string unusable;
        ASSERT_EQ(ReadConnection(registry_, test.asked, c, unusable), test.result);
        if (test.result != kRegOk) continue;
        EXPECT_EQ(unusable.empty() ? c.name + "|" + c.connectionString + "|" + (c.isDefault ? "default" : "") + "|" +
                                         (c.hasIcon ? c.iconFile + "," + std::to_string(c.iconIndex) : "")
                                   : unusable,
                  test.shown);
    }

    std::string name, dangling;
    ASSERT_EQ(ReadDefaultConnection(registry_, name, dangling), kRegOk);
    EXPECT_EQ(name + "|" + dangling, "Sales|");
    Set("", nullptr, kRegSz, Sz("Broken"));
    ASSERT_EQ(ReadDefaultConnection(registry_, name, dangling), kRegOk);
    EXPECT_EQ(name + "|" + dangling, "|Broken");
}

TEST(CliEscape, NothingRawReachesTheTerminal) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f"},
        {"C:\\db", "C:\\\\db"},
        {"caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\x98\x80"},
        {"\xC2\x9B" "31m \xC2\x85", "\\u009b31m \\u0085"},            // C1 controls
        {"\xE2\x80\xAE" "txt.exe", "\\u202etxt.exe"},                 // a right-to-left override
        {"\xFF\xC3 \xC0\xAF \xED\xA0\x80 \xE2\x98", "\\xff\\xc3 \\xc0\\xaf \\xed\\xa0\\x80 \\xe2\\x98"},  // not UTF-8
    };
    for (const auto& test : cases) EXPECT_EQ(Escaped(test.text), test.shown) << test.text;
}

}  // namespace
}  // namespace cli
