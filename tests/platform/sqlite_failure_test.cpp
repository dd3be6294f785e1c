// The SQLite store tells the truth about failures and undoes what did not land: another connection
// holding the store, writes and syncs that fail (through a VFS that injects the faults), and a
// file system that is really full.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "../registry_dump.h"
#include "../store_test_support.h"
#include "platform/posix/registry_sqlite.h"

namespace tavix::platform {
namespace {

using namespace std::string_literals;
using testing::Dump;
using testing::Escape;
using testing::Key;

// ---- A VFS that fails chosen writes, syncs or truncations, as a full or failing disk would ----
// It is registered under its own name (never as the default) and passes every call to the
// default VFS. Once armed, it counts the calls of the armed kind over every file opened
// through it; the nth answers the armed error without reaching the file, and, when the fault
// is persistent, so does every later one until it is disarmed (a disk that stays full).

enum class FaultOp { kWrite, kSync, kTruncate };

struct Fault {
    FaultOp op = FaultOp::kWrite;
    int nth = 1;  // counted from 1
    int error = 0;  // an SQLite result code: SQLITE_FULL, SQLITE_IOERR_WRITE, ...
    bool persistent = false;
};

struct Faults {
    Fault fault;
    bool armed = false;
    int counts[3] = {};  // the calls of each kind since the last Arm or Disarm, failed ones included
    int injected = 0;    // the calls failed since then
} faults;

// Starts counting from zero with this fault; Disarm() counts on without one.
void Arm(const Fault& fault) { faults = Faults{fault, true}; }
void Disarm() { faults = Faults{}; }

sqlite3_vfs* RealVfs() { return sqlite3_vfs_find(nullptr); }

// The error the next call of this kind answers, or SQLITE_OK to pass it on.
int Check(FaultOp op) {
    const int count = ++faults.counts[static_cast<int>(op)];
    if (!faults.armed || faults.fault.op != op) return SQLITE_OK;
    if (count == faults.fault.nth || (faults.fault.persistent && count > faults.fault.nth)) {
        ++faults.injected;
        return faults.fault.error;
    }
    return SQLITE_OK;
}

// A file is the default VFS's own file object; only its method table is replaced, by a copy
// whose writes, truncations and syncs are checked before they reach the default VFS's.
struct Methods {
    sqlite3_io_methods io;
    const sqlite3_io_methods* real;
};

const sqlite3_io_methods* RealMethods(sqlite3_file* file) {
    return reinterpret_cast<const Methods*>(file->pMethods)->real;
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    return Check(FaultOp::kWrite) ?: RealMethods(file)->xWrite(file, data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Check(FaultOp::kTruncate) ?: RealMethods(file)->xTruncate(file, size);
}
int Sync(sqlite3_file* file, int flags) { return Check(FaultOp::kSync) ?: RealMethods(file)->xSync(file, flags); }

// The checked copy of a method table of the default VFS (it has a few, one per locking style).
const sqlite3_io_methods* Checked(const sqlite3_io_methods* real) {
    static std::list<Methods> copies;
    for (const Methods& copy : copies) {
        if (copy.real == real) return &copy.io;
    }
    Methods& copy = copies.emplace_back(Methods{*real, real});
    copy.io.xWrite = Write;
    copy.io.xTruncate = Truncate;
    copy.io.xSync = Sync;
    return &copy.io;
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    const int rc = RealVfs()->xOpen(RealVfs(), name, file, flags, outFlags);
    // SQLite closes a file only when its methods are set.
    if (file->pMethods != nullptr) file->pMethods = Checked(file->pMethods);
    return rc;
}

// The VFS's name for sqlite3_open_v2; registers it at the first call.
const char* FaultVfs() {
    static sqlite3_vfs vfs = [] {
        sqlite3_vfs copy = *RealVfs();
        copy.pNext = nullptr;
        copy.zName = "tavix-fault";
        copy.xOpen = Open;
        return copy;
    }();
    static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    return registered ? vfs.zName : "";
}

// ---- The store's content before and after a batch --------------------------------------------

std::string ConnectionName(int i) { return (i < 10 ? "C00" : i < 100 ? "C0" : "C") + std::to_string(i); }

std::string Text(const std::string& prefix, int i) { return prefix + "-" + std::to_string(i); }

// The store before the batch: "Connections" (default value "C000") with C000 ... C299, each
// with the default value "old-i" and "Index" i. After the batch: the default value "C120",
// C000 ... C099 rewritten to "new-i", C100 ... C149 gone, C300 ... C499 new.
std::string Content(bool afterBatch) {
    std::string out = "Connections\nConnections:=1:" + std::string(afterBatch ? "C120" : "C000") + "\\x00\n";
    for (int i = 0; i < (afterBatch ? 500 : 300); ++i) {
        if (afterBatch && i >= 100 && i < 150) continue;
        const std::string path = "Connections\\" + ConnectionName(i);
        const std::string text = Text(afterBatch && (i < 100 || i >= 300) ? "new" : "old", i);
        out += path + "\n" + path + ":=1:" + text + "\\x00\n" + path + ":Index=4:" +
               Escape({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0}) + "\n";
    }
    return out;
}

long SetText(Registry& reg, RegKey key, const char* name, const std::string& text) {
    return reg.SetValue(key, name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

long WriteConnection(Registry& reg, RegKey connections, int i, const char* prefix) {
    Key key(reg);
    const uint32_t index = static_cast<uint32_t>(i);
    if (const long rc = reg.CreateKey(connections, ConnectionName(i).c_str(), key.Out())) return rc;
    if (const long rc = SetText(reg, key.get(), nullptr, Text(prefix, i))) return rc;
    return reg.SetValue(key.get(), "Index", kRegDword, &index, 4);
}

// Runs steps on the connections key in one batch: the first failure (the batch undone) or the
// commit's answer.
long InBatch(Registry& reg, bool create, const std::function<long(RegKey connections)>& steps) {
    if (const long rc = reg.BeginBatch()) return rc;
    Key connections(reg);
    long rc = create ? reg.CreateKey(kCurrentUser, "Connections", connections.Out())
                     : reg.OpenKey(kCurrentUser, "Connections", connections.Out());
    if (rc == kRegOk) rc = steps(connections.get());
    if (rc != kRegOk) {
        reg.AbortBatch();
        return rc;
    }
    return reg.CommitBatch();
}

long WriteOldContent(Registry& reg) {
    return InBatch(reg, true, [&reg](RegKey connections) {
        long rc = SetText(reg, connections, nullptr, "C000");
        for (int i = 0; rc == kRegOk && i < 300; ++i) rc = WriteConnection(reg, connections, i, "old");
        return rc;
    });
}

// The batch: the first failure of any of its steps, or the commit's answer.
long RunBatch(Registry& reg) {
    return InBatch(reg, false, [&reg](RegKey connections) {
        Key key(reg);
        if (const long rc = SetText(reg, connections, nullptr, "C120")) return rc;
        for (int i = 0; i < 100; ++i) {
            if (const long rc = reg.OpenKey(connections, ConnectionName(i).c_str(), key.Out())) return rc;
            if (const long rc = SetText(reg, key.get(), nullptr, Text("new", i))) return rc;
        }
        for (int i = 100; i < 150; ++i) {
            if (const long rc = reg.DeleteKey(connections, ConnectionName(i).c_str())) return rc;
        }
        for (int i = 300; i < 500; ++i) {
            if (const long rc = WriteConnection(reg, connections, i, "new")) return rc;
        }
        return static_cast<long>(kRegOk);
    });
}

class SqliteFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        SqliteRegistry reg(golden);
        ASSERT_EQ(WriteOldContent(reg), kRegOk) << reg.Problem();
        ASSERT_EQ(Dump(reg), Content(false));
    }
    void TearDown() override { Disarm(); }
    // The store at path holds the old content again, as a file alone (no log).
    void Restore() {
        for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(path + suffix);
        std::filesystem::copy_file(golden, path, std::filesystem::copy_options::overwrite_existing);
    }
    testing::ScratchDir scratch{"tavix-failure-test"};
    const std::string dir = scratch.path(), path = scratch / "registry.db", golden = scratch / "golden.db";
};

// Each write, sync and truncation of the batch failed in turn: the old content stays, seen anew too.
TEST_F(SqliteFailureTest, EveryFailedWriteOrSyncUndoesTheWholeBatch) {
    const SqliteRegistry::Options faulty{100, FaultVfs()};
    Faults made;
    {
        Restore();
        SqliteRegistry reg(path, faulty);
        ASSERT_EQ(Dump(reg), Content(false));
        Disarm();
        ASSERT_EQ(RunBatch(reg), kRegOk);
        made = faults;
        EXPECT_EQ(Dump(reg), Content(true));
    }
    ASSERT_GT(made.counts[static_cast<int>(FaultOp::kWrite)], 10);
    ASSERT_GT(made.counts[static_cast<int>(FaultOp::kSync)], 0);

    struct Case { const char* what; Fault fault; long expected; };  // the fault at each call in turn
    const Case cases[] = {
        {"disk full from this write on", {FaultOp::kWrite, 0, SQLITE_FULL, true}, kRegDiskFull},
        {"this write fails", {FaultOp::kWrite, 0, SQLITE_IOERR_WRITE, false}, kRegIoFailed},
        {"this sync fails", {FaultOp::kSync, 0, SQLITE_IOERR_FSYNC, false}, kRegIoFailed},
        {"this truncation fails", {FaultOp::kTruncate, 0, SQLITE_IOERR_TRUNCATE, false}, kRegIoFailed},
    };
    for (const Case& c : cases) {
        for (Fault fault = c.fault; ++fault.nth <= made.counts[static_cast<int>(fault.op)];) {
            SCOPED_TRACE(std::string(c.what) + ", call " + std::to_string(fault.nth));
            Restore();
            {
                SqliteRegistry reg(path, faulty);
                ASSERT_EQ(Dump(reg), Content(false));
                Arm(fault);
                const long result = RunBatch(reg);
                const int injected = faults.injected;
                Disarm();
                ASSERT_GT(injected, 0);
                EXPECT_EQ(result, c.expected);
                EXPECT_EQ(Dump(reg), Content(false)) << "the same connection";
            }
            SqliteRegistry reopened(path);
            EXPECT_EQ(Dump(reopened), Content(false)) << "opened anew";
        }
    }
}

// A failure inside an inner batch fails the batch around it: no later inner batch opens, and
// the outer commit reports the failure and lands nothing, also what came before the inner one.
// The failure may be SQLite's (which undoes the transaction itself) or the store's own (a
// damaged row, after which SQLite would go on).
TEST_F(SqliteFailureTest, AFailureInAnInnerBatchFailsTheOuterCommit) {
    const auto fillDisk = [](Registry& reg, RegKey connections) {
        // More than the page cache holds: SQLite writes pages to the log before the commit.
        Arm(Fault{FaultOp::kWrite, 1, SQLITE_FULL, true});
        const std::string big(64 * 1024, 'x');
        long failed = kRegOk;
        for (int i = 0; failed == kRegOk && i < 100; ++i) {
            Key key(reg);
            failed = reg.CreateKey(connections, ("big" + std::to_string(i)).c_str(), key.Out());
            if (failed == kRegOk) failed = SetText(reg, key.get(), nullptr, big);
        }
        Disarm();
        return failed;
    };
    const auto writeDamagedRow = [](Registry& reg, RegKey connections) {
        Key key(reg);
        const long opened = reg.OpenKey(connections, "C007", key.Out());
        return opened != kRegOk ? opened : SetText(reg, key.get(), "x", "y");
    };
    struct Case { const char* what; bool damage; std::function<long(Registry&, RegKey)> fail; long expected; };
    const Case cases[] = {
        {"the disk fills up", false, fillDisk, kRegDiskFull},
        {"a value list that is not well formed", true, writeDamagedRow, kRegIoFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Restore();
        if (c.damage) {
            // C007's value list ends in the size of a name that is not there.
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            const char* damage = "UPDATE nodes SET data = data || x'05' WHERE fold = CAST('C007' AS BLOB)";
            EXPECT_EQ(sqlite3_exec(db, damage, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        std::string before;
        {
            SqliteRegistry reg(path, {100, FaultVfs()});
            before = Dump(reg);
            Key connections(reg);
            ASSERT_EQ(reg.BeginBatch(), kRegOk);
            ASSERT_EQ(reg.OpenKey(kCurrentUser, "Connections", connections.Out()), kRegOk);
            ASSERT_EQ(SetText(reg, connections.get(), nullptr, "outer"), kRegOk);
            ASSERT_EQ(reg.BeginBatch(), kRegOk);
            EXPECT_EQ(c.fail(reg, connections.get()), c.expected);
            EXPECT_EQ(reg.CommitBatch(), c.expected) << "the inner batch";
            EXPECT_EQ(reg.BeginBatch(), c.expected) << "no inner batch opens in a failed one";
            EXPECT_EQ(reg.CommitBatch(), c.expected) << "the outer batch";
            EXPECT_EQ(reg.CommitBatch(), kRegInvalidParameter) << "no batch is open any more";
            EXPECT_EQ(Dump(reg), before);
        }
        SqliteRegistry reopened(path);
        EXPECT_EQ(Dump(reopened), before);
    }
}

// While another connection holds the store's write lock (the lock SQLite takes for another
// process too), a batch cannot begin and a write cannot land: both answer kRegBusy after the busy
// timeout, and no batch is left open. Reads go on, and writes do once the holder has committed.
TEST_F(SqliteFailureTest, AStoreHeldByAnotherConnectionAnswersBusy) {
    Restore();
    SqliteRegistry holder(path), reg(path, {50, ""});
    Key held(holder), connections(reg), key(reg);
    ASSERT_EQ(holder.BeginBatch(), kRegOk);
    ASSERT_EQ(holder.OpenKey(kCurrentUser, "Connections", held.Out()), kRegOk);
    ASSERT_EQ(SetText(holder, held.get(), nullptr, "held"), kRegOk);

    ASSERT_EQ(reg.OpenKey(kCurrentUser, "Connections", connections.Out()), kRegOk);
    const std::pair<const char*, std::function<long()>> cases[] = {
        {"BeginBatch", [&] { return reg.BeginBatch(); }},
        {"CommitBatch", [&] { return reg.CommitBatch(); }},
        {"SetValue", [&] { return SetText(reg, connections.get(), nullptr, "waiter"); }},
        {"CreateKey", [&] { return reg.CreateKey(connections.get(), "new", key.Out()); }},
        {"DeleteTree", [&] { return reg.DeleteTree(kCurrentUser, "Connections"); }},
        {"QueryValue", [&] { return reg.QueryValue(connections.get(), nullptr, nullptr, nullptr, nullptr); }},
    };
    std::string results;
    for (const auto& [what, operation] : cases) results += std::string(what) + ":" + std::to_string(operation()) + " ";
    EXPECT_EQ(results, "BeginBatch:170 CommitBatch:87 SetValue:170 CreateKey:170 DeleteTree:170 QueryValue:0 ");
    EXPECT_EQ(Dump(reg), Content(false));

    ASSERT_EQ(holder.CommitBatch(), kRegOk);
    ASSERT_EQ(reg.BeginBatch(), kRegOk);
    EXPECT_EQ(SetText(reg, connections.get(), "after", "1"), kRegOk);
    EXPECT_EQ(reg.CommitBatch(), kRegOk);
}

// On a file system with no space left a batch answers kRegDiskFull and the store keeps its
// content; once there is space the same batch lands. Needs root, to mount a small tmpfs.
TEST_F(SqliteFailureTest, AFullFileSystemFailsTheBatchAndKeepsTheStore) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
    const std::string mountPoint = dir + "/mnt";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0700), 0);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m,mode=0700") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    }
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    const std::string store = mountPoint + "/tavixconnect/registry.db";
    {
        SqliteRegistry reg(store);
        ASSERT_EQ(WriteOldContent(reg), kRegOk) << reg.Problem();
    }
    SqliteRegistry reg(store);
    ASSERT_EQ(Dump(reg), Content(false));
    const std::string filler = mountPoint + "/filler";
    {
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        const int error = errno;
        close(fd);
        ASSERT_EQ(error, ENOSPC);
    }
    EXPECT_EQ(RunBatch(reg), kRegDiskFull);
    EXPECT_EQ(Dump(reg), Content(false)) << "the same connection";
    ASSERT_EQ(unlink(filler.c_str()), 0);
    {
        SqliteRegistry reopened(store);
        EXPECT_EQ(Dump(reopened), Content(false)) << "opened anew";
    }
    EXPECT_EQ(RunBatch(reg), kRegOk);
    EXPECT_EQ(Dump(reg), Content(true));
}

}  // namespace
}  // namespace tavix::platform
