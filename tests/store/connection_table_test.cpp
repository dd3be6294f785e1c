// The connection table in memory: order, lookups, unique names, the default and `modified`.
#include "store/connection_table.h"
#include "store/record_defaults.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/context/library_context.h"

namespace tavix {
namespace {

std::vector<std::string> Names(const ConnectionTable& table) {
    std::vector<std::string> names;
    for (const ConnectionRecord* record : table.Records()) names.push_back(record->name);
    return names;
}

class ConnectionTableTest : public ::testing::Test {
protected:
    ContextGuard guard;
    ConnectionTable table;

    ConnectionRecord* Add(const char* name, const char* connectionString = "cn_iptcp:h[1]") {
        auto record = std::make_unique<ConnectionRecord>();
        EXPECT_TRUE(record->Parse(name, connectionString, CurrentParseDefaults())) << name << " " << connectionString;
        ConnectionRecord* raw = record.get();
        table.Add(std::move(record));
        return raw;
    }
};

// Buckets 0 to 16 in turn, the newest binding of a bucket first: "Work" is in bucket 0,
// "Local" in 7, "a" and "r" in 12, "b" and "s" in 13, "Nameless" in 16.
TEST_F(ConnectionTableTest, TableOrderIsBucketOrderNewestFirst) {
    for (const char* name : {"a", "b", "Nameless", "r", "Local", "s", "Work"}) Add(name);
    EXPECT_EQ(Names(table), (std::vector<std::string>{"Work", "Local", "r", "a", "s", "b", "Nameless"}));
    ASSERT_TRUE(table.RemoveByName("r"));
    Add("r");
    EXPECT_EQ(Names(table), (std::vector<std::string>{"Work", "Local", "r", "a", "s", "b", "Nameless"}));
    ASSERT_TRUE(table.RemoveByName("a"));
    Add("a");
    EXPECT_EQ(Names(table), (std::vector<std::string>{"Work", "Local", "a", "r", "s", "b", "Nameless"}));
}

TEST_F(ConnectionTableTest, LookupByNameAndByConnectionString) {
    ConnectionRecord* nameless = Add(nullptr, "cn_iptcp:h[1]:NS");
    ConnectionRecord* work = Add("Work", "cn_iptcp:db[1972]");
    struct Case { const char* key; ConnectionRecord* expected; };
    const Case cases[] = {
        {nullptr, nullptr},
        {"WORK", work},                            // names compare as the registry's do
        {"WORK:cn_iptcp:db[1972]", work},
        {"cn_iptcp:h[1]:NS", nameless},            // carries no name: "Nameless"
        {"cn_iptcp:h[1]", nullptr},                // namespace USER is not NS
        {"Other:cn_iptcp:db[1972]", nullptr},
        {"Wo:rk", nullptr},                        // read as a connection string, which fails
    };
    for (const Case& c : cases) {
        EXPECT_EQ(table.Lookup(c.key), c.expected) << (c.key ? c.key : "(null)");
    }
}

// A free name is accepted; a taken, empty or too long one is replaced by the nearest free name the store can hold.
// (Characters the store cannot hold in a name: the dialog's rename stories.)
TEST_F(ConnectionTableTest, UniqueNames) {
    ConnectionRecord* work = Add("Work");
    Add("Work1");
    struct Case { const ConnectionRecord* record; const char* name; const char* expected; bool accepted; };
    const Case cases[] = {
        {nullptr, "Work", "Work2", false},
        {work, "Work", "Work", true},
        {nullptr, "", "Nameless", false},
        {nullptr, "Fresh", "Fresh", true},
    };
    for (const Case& c : cases) {
        std::string name = c.name;
        EXPECT_EQ(table.MakeUniqueName(c.record, name), c.accepted) << c.name;
        EXPECT_EQ(name, c.expected);
    }

    // At most 255 bytes, a character never cut; a number appended keeps to the limit.
    std::string longName = std::string(254, 'x') + "\xC3\xA9";
    EXPECT_FALSE(table.MakeUniqueName(nullptr, longName));
    EXPECT_EQ(longName, std::string(254, 'x'));
    Add(std::string(255, 'y').c_str());
    std::string full(255, 'y');
    EXPECT_FALSE(table.MakeUniqueName(nullptr, full));
    EXPECT_EQ(full, std::string(254, 'y') + "1");
}

// FindOrAdd with (name, connection string) → the record found or added, by name. (A name or a
// string alone, and a name with no string: the dialog's preselection stories.)
TEST_F(ConnectionTableTest, FindOrAddFindsByNameOrTargetAndAddsOnlyWithAName) {
    ConnectionRecord* work = Add("Work", "cn_iptcp:h[1]:NS");
    table.SetModified(false);

    // The library's name for an unnamed connection is no name: the same target, never an add.
    EXPECT_EQ(table.FindOrAdd("", "Nameless:cn_iptcp:h[1]:NS"), work);
    EXPECT_FALSE(table.Modified());

    // A name: the equal record of that name or of the name followed by 1, 2, ...
    EXPECT_EQ(table.FindOrAdd(nullptr, "Work:cn_iptcp:h[1]:NS"), work);
    ConnectionRecord* work1 = table.FindOrAdd(nullptr, "Work:cn_iptcp:h[9]");
    EXPECT_EQ(table.FindOrAdd("Work", "cn_iptcp:h[9]"), work1);
    ConnectionRecord* work2 = table.FindOrAdd("Work", "cn_iptcp:h[8]");
    ASSERT_TRUE(work1 && work2);
    EXPECT_EQ(work1->name + " " + work2->name, "Work1 Work2");
    EXPECT_EQ(table.Count(), 3u);
}

// A name with a colon is not found by Lookup (it reads as a connection string), yet it never
// gets two records, and the record it names is never lost.
TEST_F(ConnectionTableTest, NamesWithAColonStayUnique) {
    ConnectionRecord* colon = Add("a:b", "cn_iptcp:h[1]");
    EXPECT_EQ(table.Lookup("a:b"), nullptr);
    EXPECT_EQ(table.Find("a:b"), colon);
    EXPECT_EQ(table.FindOrAdd("a:b", "cn_iptcp:h[1]"), colon);
    ConnectionRecord* other = table.FindOrAdd("a:b", "cn_iptcp:h[2]");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->name, "a:b1");
    EXPECT_EQ(table.Find("a:b"), colon);

    // Adding a record under a bound name takes the name over, with its default marking.
    ASSERT_EQ(table.DefaultRecord(), colon);
    ConnectionRecord* replacement = Add("a:b", "cn_iptcp:h[3]");
    EXPECT_EQ(table.Find("a:b"), replacement);
    EXPECT_EQ(table.DefaultRecord(), replacement);
    EXPECT_EQ(Names(table).size(), 2u);
    EXPECT_EQ(table.Count(), 2u);
}

// The index against a plain set: 20,000 short and long names bound and unbound at random, found
// exactly when bound, the table in bucket order.
TEST_F(ConnectionTableTest, TheIndexFindsExactlyTheBoundNames) {
    std::mt19937 random(5);
    std::set<std::string> bound;
    const auto name = [](int i) { return (i % 3 == 0 ? "a long connection name " : "c") + std::to_string(i); };
    for (int step = 0; step < 40000; ++step) {
        const std::string key = name(static_cast<int>(random() % 20000));
        if (bound.count(key) != 0 && random() % 4 == 0) {
            ASSERT_TRUE(table.RemoveByName(key.c_str())) << key;
            bound.erase(key);
        } else if (bound.count(key) == 0) {
            Add(key.c_str());
            bound.insert(key);
        }
        if (step % 10000 != 9999) continue;
        ASSERT_EQ(table.Count(), bound.size());
        for (int i = 0; i < 20000; ++i) {
            const ConnectionRecord* found = table.Find(name(i));
            ASSERT_EQ(found != nullptr, bound.count(name(i)) != 0) << name(i);
            if (found != nullptr) {
                ASSERT_EQ(found->name, name(i));
            }
        }
        const std::vector<std::string> names = Names(table);
        ASSERT_EQ(names.size(), bound.size());
        for (size_t i = 1; i < names.size(); ++i) ASSERT_LE(HashKey(names[i - 1]) % 17, HashKey(names[i]) % 17);
    }
    EXPECT_EQ(table.Clear(), static_cast<int>(bound.size()));
    EXPECT_EQ(table.Find("c1"), nullptr);
    Add("c1");
    EXPECT_NE(table.Lookup("c1"), nullptr);
}

}  // namespace
}  // namespace tavix
