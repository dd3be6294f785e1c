// Owners of SQLite connections and statements, and one run of a prepared statement.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tavix::platform::hive {

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

inline std::string_view StatementBytes(sqlite3_stmt* statement, int column) {
    const void* data = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return data == nullptr ? std::string_view{}
                           : std::string_view(static_cast<const char*>(data), size);
}

// One run of a prepared statement: bindings, steps, and its reset on every way out.
class Query {
public:
    explicit Query(sqlite3_stmt* statement) : statement_(statement) {}
    ~Query() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Int(int index, int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    // A zero-length blob, not NULL, for empty bytes. The bytes must stay until the last step.
    Query& Bytes(int index, const void* data, size_t size) {
        sqlite3_bind_blob64(statement_, index, size == 0 ? "" : data, size, SQLITE_STATIC);
        return *this;
    }
    Query& Bytes(int index, std::string_view bytes) {
        return Bytes(index, bytes.data(), bytes.size());
    }
    int Step() { return sqlite3_step(statement_); }
    int64_t ColumnInt(int column) { return sqlite3_column_int64(statement_, column); }
    std::string_view ColumnBytes(int column) { return StatementBytes(statement_, column); }

private:
    sqlite3_stmt* statement_;
};

}  // namespace tavix::platform::hive
