#include "platform/posix/sqlite_schema.h"

#include "platform/posix/sqlite_row_codec.h"

namespace tavix::platform::hive {

const char* const kStatementSql[kStatementCount] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT op",
    "RELEASE op",
    "ROLLBACK TO op",
    "SAVEPOINT batch",
    "RELEASE batch",
    "ROLLBACK TO batch",
    "SELECT data FROM nodes WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO nodes(parent, fold, data) VALUES(?1, ?2, ?3)",
    // OR FAIL: a conflict (which cannot happen) ends the statement without undoing its rows, so
    // that it needs no statement journal; it fails the batch, which undoes everything.
    "INSERT OR FAIL INTO nodes(parent, fold, data) SELECT parent, fold, data FROM tavix_pending",
    // Changes nothing when the key is gone: making a subkey checks its parent with it.
    "UPDATE nodes SET data = tavix_mark(data) WHERE parent = ?1 AND fold = ?2 "
    "AND tavix_id(data) = ?3",
    "INSERT OR IGNORE INTO nonleaf(parent, id) VALUES(?1, ?2)",
    // Deletes nothing when the key has subkeys.
    "DELETE FROM nodes WHERE parent = ?1 AND fold = ?2 AND tavix_id(data) = ?3 "
    "AND NOT EXISTS (SELECT 1 FROM nodes WHERE parent = ?3)",
    "DELETE FROM nodes WHERE parent = ?1 AND fold = ?2 AND tavix_id(data) = ?3",
    "DELETE FROM nonleaf WHERE parent = ?1 AND id = ?2",
    "DELETE FROM nodes WHERE parent = ?1",
    "SELECT id FROM nonleaf WHERE parent = ?1",
    "DELETE FROM nonleaf WHERE parent = ?1",
    "SELECT data, fold FROM nodes WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT data, fold FROM nodes WHERE parent = ?1 AND fold > ?2 ORDER BY fold LIMIT 1",
    "SELECT data FROM nodes WHERE parent = ?1 ORDER BY fold",
    "SELECT data FROM nodes WHERE parent = ?1 ORDER BY fold LIMIT -1 OFFSET ?2",
    "UPDATE nodes SET data = tavix_set_value(data, ?4, ?5, ?6) "
    "WHERE parent = ?1 AND fold = ?2 AND tavix_id(data) = ?3",
    "UPDATE nodes SET data = tavix_delete_value(data, ?4) "
    "WHERE parent = ?1 AND fold = ?2 AND tavix_id(data) = ?3 AND tavix_has_value(data, ?4)",
    "SELECT next FROM counter",
    "UPDATE counter SET next = ?1",
    "PRAGMA data_version",
};

namespace {

constexpr char kSchema[] =
    "CREATE TABLE nodes(parent INTEGER NOT NULL, fold BLOB NOT NULL, data BLOB NOT NULL, "
    "PRIMARY KEY(parent, fold)) WITHOUT ROWID;"
    "CREATE TABLE nonleaf(parent INTEGER NOT NULL, id INTEGER NOT NULL, "
    "PRIMARY KEY(parent, id)) WITHOUT ROWID;"
    "CREATE TABLE counter(next INTEGER NOT NULL);";

StatementPtr Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
    return StatementPtr(raw);
}

// The columns of the first row of a query.
bool ReadInts(sqlite3* db, const char* sql, int64_t* values) {
    const StatementPtr statement = Prepare(db, sql);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) return false;
    for (int i = 0; i < sqlite3_column_count(statement.get()); ++i)
        values[i] = sqlite3_column_int64(statement.get(), i);
    return true;
}

// Gives an empty database the store's tables, unless another process did it first.
std::string Initialize(sqlite3* db) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return sqlite3_errmsg(db);
    }
    int64_t tables = 0;
    std::string problem;
    if (!ReadInts(db, "SELECT count(*) FROM sqlite_schema", &tables)) {
        problem = sqlite3_errmsg(db);
    } else if (tables == 0) {
        const std::string script = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                   "; PRAGMA user_version = " + std::to_string(kFormatVersion) +
                                   ";" + kSchema +
                                   // The root, which has no name and no values; the next id.
                                   "INSERT INTO nodes VALUES(0, x'', x'010000');"
                                   "INSERT INTO counter VALUES(2);";
        if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            problem = sqlite3_errmsg(db);
        }
    }
    if (problem.empty() && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        problem = sqlite3_errmsg(db);
    }
    if (!problem.empty()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return problem;
}

}  // namespace

std::string QuickCheck(sqlite3* db) {
    const StatementPtr statement = Prepare(db, "PRAGMA quick_check(1)");
    if (!statement) return sqlite3_errmsg(db);
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) return sqlite3_errmsg(db);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    const std::string result = text != nullptr ? text : "";
    if (result == "ok") return {};
    return "database disk image is malformed (" + result + ")";
}

std::string CheckFormat(sqlite3* db) {
    for (int attempt = 0;; ++attempt) {
        // One statement, so that all three come from one snapshot even while another process
        // initializes the file.
        int64_t header[3] = {};
        if (!ReadInts(db,
                      "SELECT (SELECT application_id FROM pragma_application_id), "
                      "(SELECT user_version FROM pragma_user_version), "
                      "(SELECT count(*) FROM sqlite_schema)",
                      header)) {
            return sqlite3_errmsg(db);
        }
        const int64_t applicationId = header[0], version = header[1], tables = header[2];
        if (applicationId == 0 && tables == 0 && attempt == 0) {
            if (std::string problem = Initialize(db); !problem.empty()) return problem;
            continue;
        }
        if (applicationId != kApplicationId) {
            return "not a registry store (another program's database)";
        }
        if (version != kFormatVersion) {
            return "registry store format " + std::to_string(version) + " is not supported";
        }
        return {};
    }
}

std::string PrepareConnection(sqlite3* db, const PendingRows* pending, StatementPtr* statements) {
    // WAL is set only once the file is known to be a store of ours: it rewrites the header.
    // The journal of a savepoint inside a batch stays in memory, not in a temporary file.
    for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                               "PRAGMA temp_store = MEMORY",
                              // Each page read is checked in full: a change never builds on a
                              // damaged page (which then makes the store unusable).
                              "PRAGMA cell_size_check = ON"}) {
        if (sqlite3_exec(db, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) {
            return sqlite3_errmsg(db);
        }
    }
    if (!RegisterRowFunctions(db) || !RegisterPendingTable(db, pending)) return sqlite3_errmsg(db);
    for (int i = 0; i < kStatementCount; ++i) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT, &statement,
                               nullptr) != SQLITE_OK) {
            return std::string("not a registry store of this version: ") + sqlite3_errmsg(db);
        }
        statements[i].reset(statement);
    }
    return {};
}

}  // namespace tavix::platform::hive
