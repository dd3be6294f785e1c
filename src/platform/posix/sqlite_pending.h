// The rows of keys made inside a batch that wait in memory, with the values set on them
// meanwhile, until one statement writes them all: INSERT ... SELECT from the eponymous virtual
// table tavix_pending(parent, fold, data) over them.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavix::platform::hive {

struct PendingRow {
    int64_t parent;
    int64_t id;
    size_t foldAt;
    size_t foldSize;
    size_t dataAt;
    size_t dataSize;
};

// The rows, in the order their keys were made (ids ascending); their folds and data columns in
// one buffer. A row's data changed is written anew at the buffer's end.
struct PendingRows {
    std::vector<PendingRow> rows;
    std::string bytes;

    std::string_view Fold(const PendingRow& row) const {
        return std::string_view(bytes).substr(row.foldAt, row.foldSize);
    }
    std::string_view Data(const PendingRow& row) const {
        return std::string_view(bytes).substr(row.dataAt, row.dataSize);
    }
    PendingRow* Find(int64_t id) {
        if (rows.empty() || id < rows.front().id || id > rows.back().id) return nullptr;
        if (rows.back().id == id) return &rows.back();
        const auto at =
            std::lower_bound(rows.begin(), rows.end(), id,
                             [](const PendingRow& row, int64_t key) { return row.id < key; });
        return at != rows.end() && at->id == id ? &*at : nullptr;
    }
    void SetData(PendingRow& row, std::string_view data) {
        row.dataAt = bytes.size();
        row.dataSize = data.size();
        bytes.append(data);
    }
    void Clear() {
        rows.clear();
        bytes.clear();
        // A big save's memory is not kept for the small ones after it.
        if (bytes.capacity() > (1u << 20)) std::string().swap(bytes);
        if (rows.capacity() > (1u << 14)) std::vector<PendingRow>().swap(rows);
    }
};

// Makes tavix_pending, over rows, a table of the connection db.
bool RegisterPendingTable(sqlite3* db, const PendingRows* rows);

}  // namespace tavix::platform::hive
