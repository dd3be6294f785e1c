#include "platform/posix/sqlite_pending.h"

#include <cstring>

namespace tavix::platform::hive {

namespace {

// The eponymous virtual table tavix_pending(parent, fold, data) over the rows waiting, read by
// the one INSERT that writes them.
struct PendingCursor {
    sqlite3_vtab_cursor base;
    size_t row;
};

int PendingDisconnect(sqlite3_vtab* table) {
    sqlite3_free(table);
    return SQLITE_OK;
}

int PendingBestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 1000;
    return SQLITE_OK;
}

int PendingOpen(sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
    auto* opened = static_cast<PendingCursor*>(sqlite3_malloc(sizeof(PendingCursor)));
    if (opened == nullptr) return SQLITE_NOMEM;
    std::memset(opened, 0, sizeof *opened);
    *cursor = &opened->base;
    return SQLITE_OK;
}

int PendingClose(sqlite3_vtab_cursor* cursor) {
    sqlite3_free(cursor);
    return SQLITE_OK;
}

int PendingFilter(sqlite3_vtab_cursor* cursor, int, const char*, int, sqlite3_value**) {
    reinterpret_cast<PendingCursor*>(cursor)->row = 0;
    return SQLITE_OK;
}

int PendingNext(sqlite3_vtab_cursor* cursor) {
    ++reinterpret_cast<PendingCursor*>(cursor)->row;
    return SQLITE_OK;
}

const PendingRows& PendingOf(sqlite3_vtab_cursor* cursor);

int PendingEof(sqlite3_vtab_cursor* cursor) {
    return reinterpret_cast<PendingCursor*>(cursor)->row >= PendingOf(cursor).rows.size();
}

int PendingColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
    const PendingRows& pending = PendingOf(cursor);
    const PendingRow& row = pending.rows[reinterpret_cast<PendingCursor*>(cursor)->row];
    if (column == 0) {
        sqlite3_result_int64(context, row.parent);
    } else {
        const std::string_view bytes = column == 1 ? pending.Fold(row) : pending.Data(row);
        sqlite3_result_blob64(context, bytes.empty() ? "" : bytes.data(), bytes.size(),
                              SQLITE_STATIC);
    }
    return SQLITE_OK;
}

int PendingRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(reinterpret_cast<PendingCursor*>(cursor)->row);
    return SQLITE_OK;
}

// The rows of the connection whose module the cursor's table is: the module's client data,
// kept in the table object's first member by PendingConnect's caller (see PendingTable).
struct PendingTable {
    sqlite3_vtab base;
    const PendingRows* rows;
};

const PendingRows& PendingOf(sqlite3_vtab_cursor* cursor) {
    return *reinterpret_cast<const PendingTable*>(cursor->pVtab)->rows;
}

int PendingConnectWithRows(sqlite3* db, void* rows, int, const char* const*, sqlite3_vtab** table,
                           char**) {
    const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(parent INTEGER, fold BLOB, data BLOB)");
    if (rc != SQLITE_OK) return rc;
    sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
    auto* opened = static_cast<PendingTable*>(sqlite3_malloc(sizeof(PendingTable)));
    if (opened == nullptr) return SQLITE_NOMEM;
    std::memset(opened, 0, sizeof *opened);
    opened->rows = static_cast<const PendingRows*>(rows);
    *table = &opened->base;
    return SQLITE_OK;
}

sqlite3_module MakePendingModule() {
    sqlite3_module module{};
    module.xConnect = PendingConnectWithRows;  // no xCreate: eponymous only
    module.xBestIndex = PendingBestIndex;
    module.xDisconnect = PendingDisconnect;
    module.xOpen = PendingOpen;
    module.xClose = PendingClose;
    module.xFilter = PendingFilter;
    module.xNext = PendingNext;
    module.xEof = PendingEof;
    module.xColumn = PendingColumn;
    module.xRowid = PendingRowid;
    return module;
}
const sqlite3_module kPendingModule = MakePendingModule();

}  // namespace

bool RegisterPendingTable(sqlite3* db, const PendingRows* rows) {
    return sqlite3_create_module_v2(db, "tavix_pending", &kPendingModule,
                                    const_cast<PendingRows*>(rows), nullptr) == SQLITE_OK;
}

}  // namespace tavix::platform::hive
