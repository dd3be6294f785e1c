// A save's journal: its format, and a save cut short at each of its registry writes, then
// finished by the next process.
#include "store/change_set.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "../registry_dump.h"

namespace tavix::store {
namespace {

using namespace platform;

ChangeSet Sample() {
    ChangeSet changes;
    changes.deletions = {"gone", "old", ""};
    changes.writes = {
        {"New", "cn_iptcp:db1[1972]:SALES", "", 0},
        {"Same", "cn_iptcp:db2[56773]", "C:\\Icons\\\xe4rger.ico", -7},
        {std::string("z\0z", 3), std::string(300, 'x'), "i.ico", 2147483647},
    };
    changes.writeDefault = true;
    changes.defaultName = "New";
    return changes;
}

// A journal decodes to what was written; one cut short, one byte longer or with a bit flipped does not.
TEST(JournalFormat, ReadsBackWhatItWroteAndNothingCutShortOrDamaged) {
    ChangeSet empty;
    for (const ChangeSet& changes : {Sample(), empty}) {
        const std::vector<uint8_t> bytes = EncodeChangeSet(changes);
        ChangeSet decoded;
        ASSERT_TRUE(DecodeChangeSet(bytes, decoded));
        EXPECT_EQ(std::tie(decoded.deletions, decoded.writes, decoded.writeDefault, decoded.defaultName),
                  std::tie(changes.deletions, changes.writes, changes.writeDefault, changes.defaultName));

        for (size_t length = 0; length < bytes.size(); ++length) {
            ChangeSet cut;
            EXPECT_FALSE(DecodeChangeSet(std::span(bytes).first(length), cut)) << "cut to " << length;
        }
        std::vector<uint8_t> longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(DecodeChangeSet(longer, decoded)) << "a byte too many";
        for (size_t i = 0; i < bytes.size(); ++i) {
            for (const uint8_t flip : {0x01, 0x80}) {
                std::vector<uint8_t> damaged = bytes;
                damaged[i] ^= flip;
                EXPECT_FALSE(DecodeChangeSet(damaged, decoded)) << "byte " << i << " ^ " << int{flip};
            }
        }
    }
}

// A registry of which a process is killed after `writes` more changes: from then on every
// call fails, and nothing reaches the store. Handles are the real registry's.
class KilledRegistry final : public Registry {
public:
    KilledRegistry(Registry& real, int writes) : real_(real), left_(writes) {}
    int Writes() const { return writes_; }

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) override {
        return dead() ? kRegIoFailed : real_.OpenKey(parent, subKey, key);
    }
    long CreateKey(RegKey parent, const char* subKey, RegKey* key) override {
        return Write() ? real_.CreateKey(parent, subKey, key) : kRegIoFailed;
    }
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return dead() ? kRegIoFailed : real_.QueryValue(key, name, type, data, size);
    }
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) override {
        return Write() ? real_.SetValue(key, name, type, data, size) : kRegIoFailed;
    }
    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) override {
        return dead() ? kRegIoFailed : real_.EnumKey(key, index, name, nameSize);
    }
    long EnumValue(RegKey key, uint32_t i, std::string& name, uint32_t* type, std::vector<uint8_t>* data) override {
        return dead() ? kRegIoFailed : real_.EnumValue(key, i, name, type, data);
    }
    long DeleteKey(RegKey parent, const char* subKey) override {
        return Write() ? real_.DeleteKey(parent, subKey) : kRegIoFailed;
    }
    long DeleteValue(RegKey key, const char* name) override {
        return Write() ? real_.DeleteValue(key, name) : kRegIoFailed;
    }
    long CloseKey(RegKey key) override { return real_.CloseKey(key); }

private:
    bool dead() const { return left_ == 0; }
    bool Write() {
        if (dead()) return false;
        --left_;
        ++writes_;
        return true;
    }

    Registry& real_;
    int left_;
    int writes_ = 0;
};

class JournalTest : public ::testing::Test {
protected:
    static constexpr const char* kTestKey = "Software\\TavixConnectJournalTest";

    void TearDown() override {
        reg.CloseKey(key);
        EXPECT_EQ(reg.DeleteTree(kCurrentUser, kTestKey), kRegOk);
    }

    // What the store held before the save: the sample's keys in their old state, and one the
    // save leaves alone.
    void Fill() {
        reg.CloseKey(key);  // none before the first fill
        const long rc = reg.DeleteTree(kCurrentUser, kTestKey);
        ASSERT_TRUE(rc == kRegOk || rc == kRegNotFound) << rc;
        ASSERT_EQ(reg.CreateKey(kCurrentUser, kTestKey, &key), kRegOk);
        Put("gone", "cn_iptcp:gone[1]");
        Put("old", "cn_iptcp:old[2]");
        Put("same", "cn_iptcp:before[3]");
        Put("same\\Icon", "");
        Put("keep", "cn_iptcp:keep[4]");
        ASSERT_EQ(reg.SetValue(key, nullptr, kRegSz, "gone", 5), kRegOk);
    }
    void Put(const char* path, const std::string& connectionString) {
        RegKey sub = 0;
        ASSERT_EQ(reg.CreateKey(key, path, &sub), kRegOk);
        ASSERT_EQ(reg.SetValue(sub, nullptr, kRegSz, connectionString.c_str(),
                               static_cast<uint32_t>(connectionString.size() + 1)), kRegOk);
        reg.CloseKey(sub);
    }

    std::string Tree() { return testing::Dump(reg, key); }

    Registry& reg = UserRegistry();
    RegKey key = 0;
};

// The sample's names without the one a key cannot have.
ChangeSet StorableSample() {
    ChangeSet changes = Sample();
    changes.deletions.pop_back();
    changes.writes.pop_back();
    return changes;
}

TEST_F(JournalTest, ASaveKilledAtAnyWriteLeavesTheOldSetOrIsFinishedWhole) {
    const ChangeSet changes = StorableSample();
    Fill();
    const std::string before = Tree();
    KilledRegistry whole(reg, 1 << 30);
    ASSERT_EQ(ApplyChanges(whole, key, changes), kRegOk);
    const std::string after = Tree();
    ASSERT_NE(after, before);
    ASSERT_EQ(after.find(kPendingSaveValue), std::string::npos) << "a landed save leaves no journal";
    ASSERT_GT(whole.Writes(), 8);

    for (int writes = 0; writes < whole.Writes(); ++writes) {
        SCOPED_TRACE("killed after " + std::to_string(writes) + " writes");
        Fill();
        KilledRegistry killed(reg, writes);
        EXPECT_NE(ApplyChanges(killed, key, changes), kRegOk);
        if (writes == 0) {
            EXPECT_EQ(Tree(), before) << "nothing lands before the journal";
        }
        // The next process.
        EXPECT_EQ(FinishPendingSave(reg, key), kRegOk);
        EXPECT_EQ(Tree(), writes == 0 ? before : after);
        EXPECT_EQ(FinishPendingSave(reg, key), kRegOk) << "nothing left to finish";
    }

    // A finishing process killed in turn leaves the journal for the one after it.
    Fill();
    KilledRegistry saver(reg, 5);
    ASSERT_NE(ApplyChanges(saver, key, changes), kRegOk);
    KilledRegistry finisher(reg, 3);
    EXPECT_NE(FinishPendingSave(finisher, key), kRegOk);
    EXPECT_EQ(FinishPendingSave(reg, key), kRegOk);
    EXPECT_EQ(Tree(), after);

    // The next save finishes the one left before it writes its own journal.
    Fill();
    KilledRegistry first(reg, 4);
    ASSERT_NE(ApplyChanges(first, key, changes), kRegOk);
    ChangeSet next;
    next.writeDefault = true;
    next.defaultName = "keep";
    KilledRegistry second(reg, 1 << 30);
    ASSERT_EQ(ApplyChanges(second, key, next), kRegOk);
    std::string expected = after;
    const std::string oldDefault = ":=1:New\\x00\n", newDefault = ":=1:keep\\x00\n";
    ASSERT_NE(expected.find(oldDefault), std::string::npos);
    expected.replace(expected.find(oldDefault), oldDefault.size(), newDefault);
    EXPECT_EQ(Tree(), expected);
}

TEST_F(JournalTest, AJournalCutShortOrDamagedIsDeletedAndNothingApplied) {
    // Which journals do not decode is JournalFormat's; here: what finishing does with one.
    const std::vector<uint8_t> journal = EncodeChangeSet(StorableSample());
    std::vector<uint8_t> damaged = journal;
    damaged[journal.size() / 2] ^= 0x20;
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> bytes; };
    const Case cases[] = {
        {"a byte changed", kRegBinary, damaged},
        {"a string", kRegSz, journal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fill();
        const std::string before = Tree();
        ASSERT_EQ(reg.SetValue(key, kPendingSaveValue, c.type, c.bytes.data(),
                               static_cast<uint32_t>(c.bytes.size())), kRegOk);
        EXPECT_EQ(FinishPendingSave(reg, key), kRegOk);
        EXPECT_EQ(Tree(), before);
    }
}

}  // namespace
}  // namespace tavix::store
