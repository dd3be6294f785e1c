// The SQLite hive's database: its layout, the statements the store runs, and the checks a file
// passes before the store writes anything to it.
//
// Layout (format 2). One row per key in the table "nodes", a WITHOUT ROWID table keyed by the
// key's parent (that key's id) and the fold of its name: the subkeys of a key lie together in
// the order they enumerate, and a key is one b-tree entry.
//   parent, fold  the fold is the name's UTF-16 code units upper-cased with the registry's case
//                 table, each written as UTF-8 writes a code point of that value (1 to 3 bytes):
//                 the byte order of folds is the order of the upper-cased units, the registry's
//                 enumeration order, and an ASCII name folds to as many bytes as it has;
//   data          the rest of the key in one column, so that reading a key reads one column
//                 (sqlite_row_codec.h).
// Ids are never reused (the one-row table "counter" keeps the next one), so that a handle to a
// deleted key can tell it was deleted: a handle finds its key's row by parent and fold and
// checks the id. The mark (bit 0 of the marks byte) says the key may have subkeys: it is set
// when a subkey is made and never cleared, so that a key without it is known to have none. The
// table "nonleaf" lists the keys so marked by parent, so that deleting a tree visits only the
// keys that have subkeys, never the leaves.
//
// The file carries an application id and a format version. A file without them is another
// program's, and a file of another format is not understood: both are left alone.
//
// The database runs in WAL mode with synchronous=FULL: a commit appends the transaction to the
// log and syncs the log once, whatever its size; a checkpoint (every 1000 log pages) adds a
// sync of the log and one of the database. Readers never block the writer, and a process
// killed at any instant leaves the last committed transaction in place.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/posix/sqlite_pending.h"
#include "platform/posix/sqlite_query.h"

namespace tavix::platform::hive {

inline constexpr int64_t kApplicationId = 0x54617678;  // "Tavx"
inline constexpr int64_t kFormatVersion = 2;
inline constexpr int64_t kRootId = 1;

// The statements the store runs, prepared once. A key's row is found by its parent and fold,
// and is the key's only when the id agrees.
enum StatementId {
    kBegin,
    kCommit,
    kRollback,
    kSavepointOp,
    kReleaseOp,
    kRollbackToOp,
    kSavepointBatch,
    kReleaseBatch,
    kRollbackToBatch,
    kFindKey,
    kInsertKey,
    kInsertPending,
    kMarkKey,
    kAddNonLeaf,
    kDeleteLeaf,
    kDeleteKeyRow,
    kDeleteNonLeafEntry,
    kDeleteChildren,
    kNonLeafChildren,
    kDeleteNonLeafChildren,
    kSubkeyAt,
    kSubkeyAfter,
    kSubkeysFrom,
    kSubkeysFromIndex,
    kSetValue,
    kDeleteValue,
    kReadCounter,
    kWriteCounter,
    kDataVersion,
    kStatementCount
};
extern const char* const kStatementSql[kStatementCount];

// "" when the database is a sound store of this format, or one still empty (which then gets
// the store's tables); otherwise the reason. Reads before it writes anything.
std::string CheckFormat(sqlite3* db);

// Reads every page of the database's structure once (O(N)): "" or what is damaged. Opening
// does not pay for it; the pages a change reads are checked as it reads them, and looking at
// the store for the user (Problem) runs it once.
std::string QuickCheck(sqlite3* db);

// Sets up the connection to a checked store (WAL, synchronous=FULL, the SQL functions and the
// table of waiting rows over pending) and prepares every statement; "" or the reason.
std::string PrepareConnection(sqlite3* db, const PendingRows* pending, StatementPtr* statements);

}  // namespace tavix::platform::hive
