// The current user's hive in an SQLite database file.
//
// Layout (format 2). One row per key in the table "nodes", a WITHOUT ROWID table keyed by the
// key's parent (that key's id) and the fold of its name: the subkeys of a key lie together in
// the order they enumerate, and a key is one b-tree entry.
//   parent, fold  the fold is the name's UTF-16 code units upper-cased with the Windows case
//                 table, each written as UTF-8 writes a code point of that value (1 to 3 bytes):
//                 the byte order of folds is the order of the upper-cased units, the registry's
//                 enumeration order, and an ASCII name folds to as many bytes as it has;
//   data          the rest of the key in one column, so that reading a key reads one column:
//                 a varint id, a byte of marks, a varint name size, the name as given, and the
//                 key's values in the order they were first written (the default value, the
//                 empty name, among them), each a varint name size, the name, a varint type, a
//                 varint data size and the data.
// Ids are never reused (the one-row table "counter" keeps the next one), so that a handle to a
// deleted key can tell it was deleted: a handle finds its key's row by parent and fold and
// checks the id. The mark (bit 0) says the key may have subkeys: it is set when a subkey is
// made and never cleared, so that a key without it is known to have none. The table
// "nonleaf" lists the keys so marked by parent, so that deleting a tree visits only the keys
// that have subkeys, never the leaves.
//
// The file carries an application id and a format version; a file without them is another
// program's and is left alone. A store of format 1 (a table of keys by id and one of values)
// is converted when it is first opened, in one transaction.
//
// The database runs in WAL mode with synchronous=FULL: a commit appends the transaction to the
// log and syncs the log once, whatever its size; a checkpoint (every 1000 log pages) adds a
// sync of the log and one of the database. Readers never block the writer, and a process
// killed at any instant leaves the last committed transaction in place.
//
// Inside a batch (one write transaction: no other process changes the store meanwhile) the
// store skips the statements whose answer it knows:
//   - a key made in the transaction (after its last delete or rollback) is "fresh": its
//     subkeys are exactly those made under it since, which the store keeps in memory, so that
//     making and opening them asks the database nothing;
//   - the rows of keys made under fresh keys wait in memory, with the values set on them
//     meanwhile, until an operation needs the database to hold them (or the commit): then one
//     statement inserts them all, read from a virtual table over that memory;
//   - enumerating subkeys steps one statement from subkey to subkey, and the row it stands on
//     answers the opening of that subkey and the reading of its values and subkeys.
#include "platform/posix/registry_sqlite.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace tavix::platform {

namespace {

// The upper-case mappings of the Windows case table: the units first, first + step, ..., last
// map to unit + delta.
struct CaseRange {
    char16_t first;
    char16_t last;
    int32_t delta;
    uint8_t step;
};
constexpr CaseRange kUpcaseRanges[] = {
    {0x0061, 0x007A, -32, 1},    {0x00E0, 0x00F6, -32, 1},    {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1},    {0x0101, 0x012F, -1, 2},     {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2},     {0x014B, 0x0177, -1, 2},     {0x017A, 0x017E, -1, 2},
    {0x0180, 0x0180, 195, 1},    {0x0183, 0x0185, -1, 2},     {0x0188, 0x0188, -1, 1},
    {0x018C, 0x018C, -1, 1},     {0x0192, 0x0192, -1, 1},     {0x0195, 0x0195, 97, 1},
    {0x0199, 0x0199, -1, 1},     {0x019A, 0x019A, 163, 1},    {0x019E, 0x019E, 130, 1},
    {0x01A1, 0x01A5, -1, 2},     {0x01A8, 0x01A8, -1, 1},     {0x01AD, 0x01AD, -1, 1},
    {0x01B0, 0x01B0, -1, 1},     {0x01B4, 0x01B6, -1, 2},     {0x01B9, 0x01B9, -1, 1},
    {0x01BD, 0x01BD, -1, 1},     {0x01BF, 0x01BF, 56, 1},     {0x01C6, 0x01C6, -2, 1},
    {0x01C9, 0x01C9, -2, 1},     {0x01CC, 0x01CC, -2, 1},     {0x01CE, 0x01DC, -1, 2},
    {0x01DD, 0x01DD, -79, 1},    {0x01DF, 0x01EF, -1, 2},     {0x01F3, 0x01F3, -2, 1},
    {0x01F5, 0x01F5, -1, 1},     {0x01F9, 0x021F, -1, 2},     {0x0223, 0x0233, -1, 2},
    {0x023C, 0x023C, -1, 1},     {0x023F, 0x0240, 10815, 1},  {0x0242, 0x0242, -1, 1},
    {0x0247, 0x024F, -1, 2},     {0x0250, 0x0250, 10783, 1},  {0x0251, 0x0251, 10780, 1},
    {0x0252, 0x0252, 10782, 1},  {0x0253, 0x0253, -210, 1},   {0x0254, 0x0254, -206, 1},
    {0x0256, 0x0257, -205, 1},   {0x0259, 0x0259, -202, 1},   {0x025B, 0x025B, -203, 1},
    {0x025C, 0x025C, 42319, 1},  {0x0260, 0x0260, -205, 1},   {0x0261, 0x0261, 42315, 1},
    {0x0263, 0x0263, -207, 1},   {0x0265, 0x0265, 42280, 1},  {0x0266, 0x0266, 42308, 1},
    {0x0268, 0x0268, -209, 1},   {0x0269, 0x0269, -211, 1},   {0x026A, 0x026A, 42308, 1},
    {0x026B, 0x026B, 10743, 1},  {0x026C, 0x026C, 42305, 1},  {0x026F, 0x026F, -211, 1},
    {0x0271, 0x0271, 10749, 1},  {0x0272, 0x0272, -213, 1},   {0x0275, 0x0275, -214, 1},
    {0x027D, 0x027D, 10727, 1},  {0x0280, 0x0280, -218, 1},   {0x0282, 0x0282, 42307, 1},
    {0x0283, 0x0283, -218, 1},   {0x0287, 0x0287, 42282, 1},  {0x0288, 0x0288, -218, 1},
    {0x0289, 0x0289, -69, 1},    {0x028A, 0x028B, -217, 1},   {0x028C, 0x028C, -71, 1},
    {0x0292, 0x0292, -219, 1},   {0x029D, 0x029D, 42261, 1},  {0x029E, 0x029E, 42258, 1},
    {0x0371, 0x0373, -1, 2},     {0x0377, 0x0377, -1, 1},     {0x037B, 0x037D, 130, 1},
    {0x03AC, 0x03AC, -38, 1},    {0x03AD, 0x03AF, -37, 1},    {0x03B1, 0x03C1, -32, 1},
    {0x03C3, 0x03CB, -32, 1},    {0x03CC, 0x03CC, -64, 1},    {0x03CD, 0x03CE, -63, 1},
    {0x03D7, 0x03D7, -8, 1},     {0x03D9, 0x03EF, -1, 2},     {0x03F2, 0x03F2, 7, 1},
    {0x03F3, 0x03F3, -116, 1},   {0x03F8, 0x03F8, -1, 1},     {0x03FB, 0x03FB, -1, 1},
    {0x0430, 0x044F, -32, 1},    {0x0450, 0x045F, -80, 1},    {0x0461, 0x0481, -1, 2},
    {0x048B, 0x04BF, -1, 2},     {0x04C2, 0x04CE, -1, 2},     {0x04CF, 0x04CF, -15, 1},
    {0x04D1, 0x052F, -1, 2},     {0x0561, 0x0586, -48, 1},    {0x10D0, 0x10FA, 3008, 1},
    {0x10FD, 0x10FF, 3008, 1},   {0x13F8, 0x13FD, -8, 1},     {0x1D79, 0x1D79, 35332, 1},
    {0x1D7D, 0x1D7D, 3814, 1},   {0x1D8E, 0x1D8E, 35384, 1},  {0x1E01, 0x1E95, -1, 2},
    {0x1EA1, 0x1EFF, -1, 2},     {0x1F00, 0x1F07, 8, 1},      {0x1F10, 0x1F15, 8, 1},
    {0x1F20, 0x1F27, 8, 1},      {0x1F30, 0x1F37, 8, 1},      {0x1F40, 0x1F45, 8, 1},
    {0x1F51, 0x1F57, 8, 2},      {0x1F60, 0x1F67, 8, 1},      {0x1F70, 0x1F71, 74, 1},
    {0x1F72, 0x1F75, 86, 1},     {0x1F76, 0x1F77, 100, 1},    {0x1F78, 0x1F79, 128, 1},
    {0x1F7A, 0x1F7B, 112, 1},    {0x1F7C, 0x1F7D, 126, 1},    {0x1F80, 0x1F87, 8, 1},
    {0x1F90, 0x1F97, 8, 1},      {0x1FA0, 0x1FA7, 8, 1},      {0x1FB0, 0x1FB1, 8, 1},
    {0x1FB3, 0x1FB3, 9, 1},      {0x1FC3, 0x1FC3, 9, 1},      {0x1FD0, 0x1FD1, 8, 1},
    {0x1FE0, 0x1FE1, 8, 1},      {0x1FE5, 0x1FE5, 7, 1},      {0x1FF3, 0x1FF3, 9, 1},
    {0x214E, 0x214E, -28, 1},    {0x2170, 0x217F, -16, 1},    {0x2184, 0x2184, -1, 1},
    {0x24D0, 0x24E9, -26, 1},    {0x2C30, 0x2C5F, -48, 1},    {0x2C61, 0x2C61, -1, 1},
    {0x2C65, 0x2C65, -10795, 1}, {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2},
    {0x2C73, 0x2C73, -1, 1},     {0x2C76, 0x2C76, -1, 1},     {0x2C81, 0x2CE3, -1, 2},
    {0x2CEC, 0x2CEE, -1, 2},     {0x2CF3, 0x2CF3, -1, 1},     {0x2D00, 0x2D25, -7264, 1},
    {0x2D27, 0x2D27, -7264, 1},  {0x2D2D, 0x2D2D, -7264, 1},  {0xA641, 0xA66D, -1, 2},
    {0xA681, 0xA69B, -1, 2},     {0xA723, 0xA72F, -1, 2},     {0xA733, 0xA76F, -1, 2},
    {0xA77A, 0xA77C, -1, 2},     {0xA77F, 0xA787, -1, 2},     {0xA78C, 0xA78C, -1, 1},
    {0xA791, 0xA793, -1, 2},     {0xA794, 0xA794, 48, 1},     {0xA797, 0xA7A9, -1, 2},
    {0xA7B5, 0xA7C3, -1, 2},     {0xA7C8, 0xA7CA, -1, 2},     {0xA7D1, 0xA7D1, -1, 1},
    {0xA7D7, 0xA7D9, -1, 2},     {0xA7F6, 0xA7F6, -1, 1},     {0xAB53, 0xAB53, -928, 1},
    {0xAB70, 0xABBF, -38864, 1}, {0xFF41, 0xFF5A, -32, 1},
};

constexpr int64_t kApplicationId = 0x54617678;  // "Tavx"
constexpr int64_t kFormatVersion = 2;
constexpr int64_t kFormat1 = 1;  // converted when opened
constexpr int64_t kRootId = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyNameLength = 255;

constexpr char kSchema[] =
    "CREATE TABLE nodes(parent INTEGER NOT NULL, fold BLOB NOT NULL, data BLOB NOT NULL, "
    "PRIMARY KEY(parent, fold)) WITHOUT ROWID;"
    "CREATE TABLE nonleaf(parent INTEGER NOT NULL, id INTEGER NOT NULL, "
    "PRIMARY KEY(parent, id)) WITHOUT ROWID;"
    "CREATE TABLE counter(next INTEGER NOT NULL);";

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
constexpr const char* kStatementSql[kStatementCount] = {
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

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string_view StatementBytes(sqlite3_stmt* statement, int column) {
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

// ---- names -----------------------------------------------------------------------------------

void AppendFoldUnit(std::string& fold, char16_t unit) {
    const char16_t upper = UpcaseCodeUnit(unit);
    if (upper < 0x80) {
        fold.push_back(static_cast<char>(upper));
    } else if (upper < 0x800) {
        fold.push_back(static_cast<char>(0xC0 | upper >> 6));
        fold.push_back(static_cast<char>(0x80 | (upper & 0x3F)));
    } else {
        fold.push_back(static_cast<char>(0xE0 | upper >> 12));
        fold.push_back(static_cast<char>(0x80 | (upper >> 6 & 0x3F)));
        fold.push_back(static_cast<char>(0x80 | (upper & 0x3F)));
    }
}

// Appends the fold of text (8-bit text of the system code page, UTF-8) to fold; returns the
// number of UTF-16 code units of the text.
size_t AppendFold(std::string_view text, std::string& fold) {
    size_t ascii = 0;
    while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
    for (size_t i = 0; i < ascii; ++i) {
        const char c = text[i];
        fold.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c);
    }
    if (ascii == text.size()) return ascii;
    // An ASCII byte never belongs to a longer sequence: the rest converts on its own.
    const WString wide = SystemCodePage().ToWide(text.substr(ascii));
    for (const WChar unit : wide) AppendFoldUnit(fold, static_cast<char16_t>(unit));
    return ascii + wide.size();
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// A key or value name: the bytes as given, and the fold that it is compared and sorted by,
// made when first asked for.
class Name {
public:
    void Assign(std::string_view bytes) {
        text_ = bytes;
        folded_ = false;
        if (IsAscii(bytes)) {
            length_ = bytes.size();
        } else {
            fold_.clear();
            length_ = AppendFold(bytes, fold_);
            folded_ = true;
        }
    }
    std::string_view Text() const { return text_; }
    size_t Length() const { return length_; }  // in UTF-16 code units
    bool Folded() const { return folded_; }
    std::string_view Fold() const {
        if (!folded_) {
            fold_.clear();
            AppendFold(text_, fold_);
            folded_ = true;
        }
        return fold_;
    }

private:
    std::string_view text_;
    size_t length_ = 0;
    mutable std::string fold_;
    mutable bool folded_ = false;
};

std::string Fold(std::string_view text) {
    std::string fold;
    AppendFold(text, fold);
    return fold;
}

// Heterogeneous lookup of folds.
struct FoldHash {
    using is_transparent = void;
    size_t operator()(std::string_view fold) const noexcept {
        return std::hash<std::string_view>{}(fold);
    }
};
using FoldMap = std::unordered_map<std::string, int64_t, FoldHash, std::equal_to<>>;

// ---- value lists -----------------------------------------------------------------------------

void PutVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

bool GetVarint(std::string_view& in, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (in.empty()) return false;
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) return true;
    }
    return false;
}

void PutValue(std::string& out, std::string_view name, uint32_t type, std::string_view data) {
    PutVarint(out, name.size());
    out.append(name);
    PutVarint(out, type);
    PutVarint(out, data.size());
    out.append(data);
}

struct ValueEntry {
    std::string_view name;
    uint32_t type = 0;
    std::string_view data;
    size_t begin = 0;  // the entry's bytes in the list
    size_t end = 0;
};

// The entries of a key's value list, in order.
class ValueList {
public:
    explicit ValueList(std::string_view list) : list_(list), rest_(list) {}

    // The next entry; false at the end, or when the rest is malformed (then Malformed()).
    bool Next(ValueEntry& entry) {
        if (rest_.empty()) return false;
        entry.begin = list_.size() - rest_.size();
        uint64_t nameSize = 0, type = 0, dataSize = 0;
        if (!GetVarint(rest_, nameSize) || nameSize > rest_.size()) return Bad();
        entry.name = rest_.substr(0, nameSize);
        rest_.remove_prefix(nameSize);
        if (!GetVarint(rest_, type) || type > UINT32_MAX || !GetVarint(rest_, dataSize) ||
            dataSize > rest_.size()) {
            return Bad();
        }
        entry.type = static_cast<uint32_t>(type);
        entry.data = rest_.substr(0, dataSize);
        rest_.remove_prefix(dataSize);
        entry.end = list_.size() - rest_.size();
        return true;
    }
    bool Malformed() const { return malformed_; }

private:
    bool Bad() {
        malformed_ = true;
        rest_ = {};
        return false;
    }
    std::string_view list_;
    std::string_view rest_;
    bool malformed_ = false;
};

// Whether a stored name has this fold (an ASCII name is compared without folding it).
bool HasFold(std::string_view stored, std::string_view fold, std::string& scratch) {
    if (IsAscii(stored)) {
        if (stored.size() != fold.size()) return false;
        for (size_t i = 0; i < stored.size(); ++i) {
            const char c = stored[i];
            if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c) != fold[i]) {
                return false;
            }
        }
        return true;
    }
    scratch.clear();
    AppendFold(stored, scratch);
    return scratch == fold;
}

// The entry of the value with this name: kRegOk, kRegNotFound, or kRegIoFailed for a list
// that is not well formed.
long FindValue(std::string_view list, const Name& name, ValueEntry& entry, std::string& scratch) {
    ValueList values(list);
    const bool isDefault = name.Text().empty();
    while (values.Next(entry)) {
        if (entry.name.empty() || isDefault) {
            if (entry.name.empty() && isDefault) return kRegOk;
            continue;
        }
        if (HasFold(entry.name, name.Fold(), scratch)) return kRegOk;
    }
    return values.Malformed() ? kRegIoFailed : kRegNotFound;
}

// Sets a value: a value of the same fold keeps its place and the name it was first written
// with; a new one goes last.
long SetValueIn(std::string& list, const Name& name, uint32_t type, std::string_view data,
                std::string& scratch) {
    ValueEntry entry;
    const long found = FindValue(list, name, entry, scratch);
    if (found == kRegNotFound) {
        PutValue(list, name.Text(), type, data);
        return kRegOk;
    }
    if (found != kRegOk) return found;
    std::string replacement;
    PutValue(replacement, entry.name, type, data);
    list.replace(entry.begin, entry.end - entry.begin, replacement);
    return kRegOk;
}

long DeleteValueIn(std::string& list, const Name& name, std::string& scratch) {
    ValueEntry entry;
    const long found = FindValue(list, name, entry, scratch);
    if (found == kRegOk) list.erase(entry.begin, entry.end - entry.begin);
    return found;
}

// ---- key rows --------------------------------------------------------------------------------

constexpr char kMarkSubkeys = 1;  // in the marks byte: the key may have subkeys

// A key's data column.
struct KeyData {
    int64_t id = 0;
    bool mayHaveSubkeys = false;
    std::string_view name;
    std::string_view values;
    size_t marksAt = 0;   // offset of the marks byte
    size_t valuesAt = 0;  // offset of the value list
};

bool ParseKeyData(std::string_view data, KeyData& key) {
    std::string_view rest = data;
    uint64_t id = 0, nameSize = 0;
    if (!GetVarint(rest, id) || id > INT64_MAX || rest.empty()) return false;
    key.id = static_cast<int64_t>(id);
    key.marksAt = data.size() - rest.size();
    key.mayHaveSubkeys = (rest.front() & kMarkSubkeys) != 0;
    rest.remove_prefix(1);
    if (!GetVarint(rest, nameSize) || nameSize > rest.size()) return false;
    key.name = rest.substr(0, nameSize);
    key.valuesAt = data.size() - rest.size() + nameSize;
    key.values = data.substr(key.valuesAt);
    return true;
}

void PutKeyData(std::string& out, int64_t id, bool mayHaveSubkeys, std::string_view name,
                std::string_view values) {
    PutVarint(out, static_cast<uint64_t>(id));
    out.push_back(mayHaveSubkeys ? kMarkSubkeys : 0);
    PutVarint(out, name.size());
    out.append(name);
    out.append(values);
}

// The SQL functions over the data column, so that checking a row's id, marking it and
// setting or deleting a value are each one statement: tavix_id(data),
// tavix_mark(data), tavix_set_value(data, name, type, bytes), tavix_delete_value(data, name)
// and tavix_has_value(data, name). A data column that is not well formed fails the statement.
std::string_view ArgumentBytes(sqlite3_value* value) {
    const void* data = sqlite3_value_blob(value);
    const int size = sqlite3_value_bytes(value);
    return data == nullptr ? std::string_view{}
                           : std::string_view(static_cast<const char*>(data), size);
}

bool ArgumentKey(sqlite3_context* context, sqlite3_value* value, KeyData& key) {
    if (ParseKeyData(ArgumentBytes(value), key)) return true;
    sqlite3_result_error(context, "malformed registry key row", -1);
    return false;
}

void ResultKeyData(sqlite3_context* context, const std::string& data) {
    sqlite3_result_blob64(context, data.data(), data.size(), SQLITE_TRANSIENT);
}

void IdFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (ArgumentKey(context, arguments[0], key)) sqlite3_result_int64(context, key.id);
}

void MarkFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    std::string data(ArgumentBytes(arguments[0]));
    data[key.marksAt] = static_cast<char>(data[key.marksAt] | kMarkSubkeys);
    ResultKeyData(context, data);
}

// Changes the value list of a data column with change(list, name, scratch).
template <typename Change>
void ChangeValues(sqlite3_context* context, sqlite3_value** arguments, Change change) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    const std::string_view data = ArgumentBytes(arguments[0]);
    std::string values(key.values);
    Name name;
    name.Assign(ArgumentBytes(arguments[1]));
    std::string scratch;
    if (change(values, name, scratch) == kRegIoFailed) {
        sqlite3_result_error(context, "malformed value list", -1);
        return;
    }
    std::string out(data.substr(0, key.valuesAt));
    out += values;
    ResultKeyData(context, out);
}

void SetValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto type = static_cast<uint32_t>(sqlite3_value_int64(arguments[2]));
    const std::string_view bytes = ArgumentBytes(arguments[3]);
    ChangeValues(context, arguments, [&](std::string& list, const Name& name, std::string& scratch) {
        return SetValueIn(list, name, type, bytes, scratch);
    });
}

void DeleteValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    ChangeValues(context, arguments, [](std::string& list, const Name& name, std::string& scratch) {
        return DeleteValueIn(list, name, scratch);
    });
}

void HasValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    Name name;
    name.Assign(ArgumentBytes(arguments[1]));
    ValueEntry entry;
    std::string scratch;
    const long found = FindValue(key.values, name, entry, scratch);
    if (found == kRegIoFailed) {
        sqlite3_result_error(context, "malformed value list", -1);
        return;
    }
    sqlite3_result_int(context, found == kRegOk ? 1 : 0);
}

// ---- rows waiting to be written --------------------------------------------------------------

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
        const auto at = std::lower_bound(rows.begin(), rows.end(), id,
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

bool RegisterExtensions(sqlite3* db, const PendingRows* pending) {
    constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY;
    const struct {
        const char* name;
        int arguments;
        void (*function)(sqlite3_context*, int, sqlite3_value**);
    } functions[] = {
        {"tavix_id", 1, IdFunction},
        {"tavix_mark", 1, MarkFunction},
        {"tavix_set_value", 4, SetValueFunction},
        {"tavix_delete_value", 2, DeleteValueFunction},
        {"tavix_has_value", 2, HasValueFunction},
    };
    for (const auto& f : functions) {
        if (sqlite3_create_function_v2(db, f.name, f.arguments, kFlags, nullptr, f.function,
                                       nullptr, nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
    }
    return sqlite3_create_module_v2(db, "tavix_pending", &kPendingModule,
                                    const_cast<PendingRows*>(pending), nullptr) == SQLITE_OK;
}

// ---- files -----------------------------------------------------------------------------------

std::string ErrnoText(int error) { return std::strerror(error); }

// Creates dir and its missing parents, each 0700 whatever the umask; "" or the reason it
// cannot be done.
std::string MakeDirectories(const std::string& dir) {
    for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string prefix = dir.substr(0, end);
        struct stat info {};
        if (!prefix.empty() && prefix.back() != '/') {
            if (stat(prefix.c_str(), &info) != 0) {
                if (errno != ENOENT) return prefix + ": " + ErrnoText(errno);
                if (mkdir(prefix.c_str(), 0700) == 0) {
                    chmod(prefix.c_str(), 0700);
                } else if (errno != EEXIST) {
                    return "cannot create directory " + prefix + ": " + ErrnoText(errno);
                }
            } else if (!S_ISDIR(info.st_mode)) {
                return prefix + ": " + ErrnoText(ENOTDIR);
            }
        }
        if (end == std::string::npos) return {};
    }
}

}  // namespace

char16_t UpcaseCodeUnit(char16_t unit) {
    const auto* range =
        std::upper_bound(std::begin(kUpcaseRanges), std::end(kUpcaseRanges), unit,
                         [](char16_t value, const CaseRange& r) { return value < r.first; });
    if (range == std::begin(kUpcaseRanges)) return unit;
    --range;
    if (unit > range->last || (unit - range->first) % range->step != 0) return unit;
    return static_cast<char16_t>(unit + range->delta);
}


class SqliteRegistry::Store {
public:
    explicit Store(std::string path) : path_(std::move(path)) {}
    ~Store() { ResetStream(); }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& Location() const { return path_; }

    const std::string& Problem() {
        Ready();
        return problem_;
    }

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) {
        Address from;
        if (const long error = PrepareKeyPath(parent, subKey, key, &from)) return error;
        Address found;
        if (const long error = Resolve(from, false, &found)) return error;
        *key = NewHandle(found);
        return kRegOk;
    }

    long CreateKey(RegKey parent, const char* subKey, RegKey* key) {
        Address from;
        if (const long error = PrepareKeyPath(parent, subKey, key, &from)) return error;
        Address found;
        // An existing path needs no write.
        long result = Resolve(from, false, &found);
        if (result == kRegNotFound) {
            if (batchDepth_ > 0 && pathCount_ == 1) {
                // One key inside the batch's transaction: its row, after its parent's mark,
                // which may stay alone.
                int64_t id = 0;
                result = CreateChild(from, pathNames_[0], true, &id);
                if (result == kRegOk) found = Address{from.id, id, 0, &pathNames_[0], nullptr};
            } else {
                WriteScope scope(*this);
                result = scope.Begin();
                if (result == kRegOk) result = Resolve(from, true, &found);
                if (result == kRegOk) result = scope.Commit();
            }
        }
        if (result != kRegOk) return result;
        *key = NewHandle(found);
        return kRegOk;
    }

    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
        if (data != nullptr && size == nullptr) return kRegInvalidParameter;
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        return QueryValueOf(*handle, name, type, data, size);
    }

    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
        if (data == nullptr && size != 0) return kRegNoAccess;
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        const std::string_view text = name == nullptr ? "" : name;
        const std::string_view bytes(static_cast<const char*>(data), data == nullptr ? 0 : size);
        if (PendingRow* row = pending_.Find(handle->id)) {
            valueName_.Assign(text);
            return ChangePending(*row, [&](std::string& list) {
                return SetValueIn(list, valueName_, type, bytes, scratch_);
            });
        }
        BeforeWrite();
        {
            Query query(statements_[kSetValue].get());
            BindAddress(query, handle->Where()).Bytes(4, text).Int(5, type).Bytes(6, bytes);
            if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
        }
        return sqlite3_changes(db_.get()) == 0 ? kRegKeyDeleted : kRegOk;
    }

    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) {
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        if (name == nullptr) nameSize = 0;
        const auto put = [&](std::string_view text) {
            if (text.size() >= nameSize) return static_cast<long>(kRegMoreData);
            if (!text.empty()) std::memcpy(name, text.data(), text.size());
            name[text.size()] = '\0';
            return static_cast<long>(kRegOk);
        };
        if (batchDepth_ > 0) {
            if (!Flush()) return batchError_;
            if (const long error = StreamSubkey(*handle, index)) return error;
            return put(stream_.key.name);
        }

        int64_t dataVersion = 0;
        if (const long error = DataVersion(&dataVersion)) return error;
        // Enumerating index after index walks the index from the previous name instead of
        // counting from the first one, as long as nothing has changed the keys meanwhile.
        Cursor& cursor = handle->cursor;
        const bool next = cursor.valid && index == cursor.index + 1 &&
                          cursor.keyChanges == keyChanges_ && cursor.dataVersion == dataVersion;
        cursor.valid = false;
        Query query(statements_[next ? kSubkeyAfter : kSubkeyAt].get());
        query.Int(1, handle->id);
        if (next) {
            query.Bytes(2, cursor.fold);
        } else {
            query.Int(2, index);
        }
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return Missing(handle->Where(), kRegNoMoreItems);
        if (rc != SQLITE_ROW) return Fail(rc);
        KeyData found;
        if (!ParseKeyData(query.ColumnBytes(0), found)) return kRegIoFailed;
        cursor.fold.assign(query.ColumnBytes(1));
        cursor.index = index;
        cursor.keyChanges = keyChanges_;
        cursor.dataVersion = dataVersion;
        cursor.valid = true;
        return put(found.name);
    }

    bool InBatch() const { return batchDepth_ > 0; }

    // Inside a batch: the subkeys from the batch's enumeration stream, each shown through a
    // handle of the view's own that the row the stream stands on answers.
    long ForEachSubkey(RegKey key, uint32_t nameSize, const std::function<bool(SubkeyView&)>& visit) {
        if (const long error = Usable()) return error;
        Handle* found = FindHandle(key);
        if (found == nullptr) return kRegInvalidHandle;
        if (!Flush()) return batchError_;
        // A copy: opening keys during a visit may move the open handles.
        Handle parent = *found;
        StreamView view(*this);
        for (uint32_t index = 0;; ++index) {
            if (const long error = StreamSubkey(parent, index)) {
                return error == kRegNoMoreItems ? kRegOk : error;
            }
            if (stream_.key.name.size() >= nameSize) return kRegMoreData;
            view.Show(parent.id, stream_.key);
            if (!visit(view)) return kRegOk;
        }
    }

    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) {
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        return WithKey(*handle, [&](const KeyData& found) {
            ValueList values(found.values);
            ValueEntry entry;
            for (uint32_t i = 0;; ++i) {
                if (!values.Next(entry)) {
                    return static_cast<long>(values.Malformed() ? kRegIoFailed : kRegNoMoreItems);
                }
                if (i == index) break;
            }
            name.assign(entry.name);
            if (type != nullptr) *type = entry.type;
            if (data != nullptr) data->assign(entry.data.begin(), entry.data.end());
            return static_cast<long>(kRegOk);
        });
    }

    long DeleteKey(RegKey parent, const char* subKey) {
        if (subKey == nullptr) return kRegInvalidParameter;
        Address from;
        if (const long error = PrepareKeyPath(parent, subKey, &from)) return error;
        if (!Flush()) return batchError_;
        Address target;
        if (const long error = Resolve(from, false, &target)) return error;
        if (target.id == kRootId) return kRegAccessDenied;
        BeforeWrite();
        {
            Query query(statements_[kDeleteLeaf].get());
            BindAddress(query, target);
            if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
        }
        if (sqlite3_changes(db_.get()) == 0) {
            // It has subkeys, or someone else deleted it meanwhile.
            const long result = Missing(target, kRegAccessDenied);
            return result == kRegKeyDeleted ? kRegNotFound : result;
        }
        KeysDeleted();
        // A key that had subkeys once is still listed.
        Query unlist(statements_[kDeleteNonLeafEntry].get());
        unlist.Int(1, target.parent).Int(2, target.id);
        if (const int rc = unlist.Step(); rc != SQLITE_DONE) return Fail(rc);
        return kRegOk;
    }

    long DeleteTree(RegKey parent, const char* subKey) {
        if (subKey == nullptr) return kRegInvalidParameter;
        Address from;
        if (const long error = PrepareKeyPath(parent, subKey, &from)) return error;
        if (!Flush()) return batchError_;
        WriteScope scope(*this);
        if (const long error = scope.Begin()) return error;
        Address target;
        if (const long error = Resolve(from, false, &target)) return error;
        BeforeWrite();
        // Each key that has subkeys: those of its subkeys that have some in turn, then all its
        // subkeys at once. A leaf costs nothing of its own.
        std::vector<int64_t> parents;
        if (target.subkeys != 0) parents.push_back(target.id);
        while (!parents.empty()) {
            const int64_t id = parents.back();
            parents.pop_back();
            {
                Query inner(statements_[kNonLeafChildren].get());
                inner.Int(1, id);
                int rc;
                while ((rc = inner.Step()) == SQLITE_ROW) parents.push_back(inner.ColumnInt(0));
                if (rc != SQLITE_DONE) return Fail(rc);
            }
            for (const StatementId statement : {kDeleteNonLeafChildren, kDeleteChildren}) {
                Query query(statements_[statement].get());
                query.Int(1, id);
                if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
            }
        }
        // The hive's root stays, as with DeleteKey.
        long result = kRegAccessDenied;
        if (target.id != kRootId) {
            {
                Query query(statements_[kDeleteKeyRow].get());
                BindAddress(query, target);
                if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
            }
            Query unlist(statements_[kDeleteNonLeafEntry].get());
            unlist.Int(1, target.parent).Int(2, target.id);
            if (const int rc = unlist.Step(); rc != SQLITE_DONE) return Fail(rc);
            result = kRegOk;
        }
        KeysDeleted();
        if (const long error = scope.Commit()) return error;
        return result;
    }

    long DeleteValue(RegKey key, const char* name) {
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        const std::string_view text = name == nullptr ? "" : name;
        if (PendingRow* row = pending_.Find(handle->id)) {
            valueName_.Assign(text);
            KeyData found;
            ValueEntry entry;
            if (!ParseKeyData(pending_.Data(*row), found)) return kRegIoFailed;
            if (const long error = FindValue(found.values, valueName_, entry, scratch_)) return error;
            return ChangePending(*row, [&](std::string& list) {
                return DeleteValueIn(list, valueName_, scratch_);
            });
        }
        BeforeWrite();
        {
            Query query(statements_[kDeleteValue].get());
            BindAddress(query, handle->Where()).Bytes(4, text);
            if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
        }
        return sqlite3_changes(db_.get()) == 0 ? Missing(handle->Where(), kRegNotFound) : kRegOk;
    }

    long CloseKey(RegKey key) {
        if (key == kCurrentUser) return kRegOk;
        HandleSlot* slot = FindSlot(key);
        if (slot == nullptr) return kRegInvalidHandle;
        slot->used = false;
        ++slot->generation;
        freeSlots_.push_back(static_cast<uint32_t>((key >> kHandleShift) - 1));
        return kRegOk;
    }

    long BeginBatch() {
        if (!Ready()) return kRegBadStore;
        ++batchDepth_;
        if (batchDepth_ == 1) {
            batchError_ = kRegOk;
            if (const int rc = Run(kBegin); rc != SQLITE_DONE) {
                const long error = Fail(rc);
                --batchDepth_;
                EndTransaction();
                batchError_ = kRegOk;
                return error;
            }
        } else if (batchError_ == kRegOk) {
            if (!Flush()) return batchError_;
            ResetStream();
            if (const int rc = Run(kSavepointBatch); rc != SQLITE_DONE) batchError_ = Fail(rc);
        }
        return kRegOk;  // an inner batch of a failed one reports the failure at its commit
    }

    long CommitBatch() { return EndBatch(true); }
    void AbortBatch() { EndBatch(false); }

private:
    struct Cursor {
        bool valid = false;
        uint32_t index = 0;
        std::string fold;
        uint64_t keyChanges = 0;
        int64_t dataVersion = 0;
    };

    struct Handle;

    // Where a key's row is: its parent's id and the fold of its name, which comes from a name
    // of the operation's path, from an open handle, or is given. subkeys: 0 when the key is
    // known to have none, 1 when it may have some, -1 when that is not known.
    struct Address {
        int64_t parent = 0;
        int64_t id = 0;
        int subkeys = -1;
        const Name* name = nullptr;
        Handle* handle = nullptr;
        std::string_view Fold() const;
    };

    struct Handle {
        int64_t id = 0;
        int64_t parent = 0;
        // The fold of the key's name, or, until first needed, the name itself: a handle opened
        // on an enumerated subkey and used only for what the enumeration knows never folds it.
        std::string key;
        bool folded = true;
        Cursor cursor;

        std::string_view Fold() {
            if (!folded) {
                std::string fold;
                AppendFold(key, fold);
                key = std::move(fold);
                folded = true;
            }
            return key;
        }
        Address Where() { return Address{parent, id, -1, nullptr, this}; }
    };

    struct HandleSlot {
        Handle handle;
        uint16_t generation = 0;
        bool used = false;
    };
    // A handle is its slot's index + 1 above the low 16 bits, which hold the slot's
    // generation: a closed handle stays invalid until its slot has been reused 65,536 times.
    static constexpr unsigned kHandleShift = 16;

    // The subkey ForEachSubkey visits: a handle that is in no slot, so that showing the next
    // subkey opens and closes nothing.
    class StreamView final : public SubkeyView {
    public:
        explicit StreamView(Store& store) : store_(store) {}
        void Show(int64_t parent, const KeyData& key) {
            handle_.id = key.id;
            handle_.parent = parent;
            handle_.key.assign(key.name);
            handle_.folded = false;  // folded (in place) only when an operation needs the fold
            name_.assign(key.name);
        }
        std::string_view Name() const override { return name_; }
        long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) override {
            if (data != nullptr && size == nullptr) return kRegInvalidParameter;
            if (const long error = store_.Usable()) return error;
            return store_.QueryValueOf(handle_, name, type, data, size);
        }
        long OpenKey(const char* subKey, RegKey* key) override {
            if (key == nullptr) return kRegInvalidParameter;
            *key = 0;
            if (const long error = store_.Usable()) return error;
            if (const long error = store_.SplitPath(subKey)) return error;
            Address found;
            if (const long error = store_.Resolve(handle_.Where(), false, &found)) return error;
            *key = store_.NewHandle(found);
            return kRegOk;
        }

    private:
        Store& store_;
        Handle handle_;
        std::string name_;
    };

    // The enumeration of a key's subkeys inside a batch: one statement stepped from subkey to
    // subkey, and the row it stands on (valid until the next step, reset or write).
    struct Stream {
        sqlite3_stmt* statement = nullptr;
        int64_t parent = 0;
        uint32_t index = 0;
        bool onRow = false;
        KeyData key;
    };

    // The result of looking for a subkey when no row answered: the parent may be gone.
    static constexpr long kNoRow = -1;

    // One operation's changes: a transaction of its own, or a savepoint inside a batch; undone
    // unless committed.
    class WriteScope {
    public:
        explicit WriteScope(Store& store) : store_(store), inBatch_(store.batchDepth_ > 0) {}
        ~WriteScope() {
            if (!open_) return;
            if (inBatch_) {
                store_.Run(kRollbackToOp);
                store_.Run(kReleaseOp);
                store_.RolledBack();
            } else {
                store_.Run(kRollback);
                store_.EndTransaction();
            }
        }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;

        long Begin() {
            if (inBatch_) {
                if (!store_.Flush()) return store_.batchError_;
                store_.ResetStream();
            }
            const int rc = store_.Run(inBatch_ ? kSavepointOp : kBegin);
            if (rc != SQLITE_DONE) return store_.Fail(rc);
            open_ = true;
            return kRegOk;
        }
        long Commit() {
            if (inBatch_) {
                const int rc = store_.Run(kReleaseOp);
                if (rc != SQLITE_DONE) return store_.Fail(rc);
            } else {
                if (const long error = store_.WriteCounter()) return error;
                const int rc = store_.Run(kCommit);
                if (rc != SQLITE_DONE) return store_.Fail(rc);
                store_.EndTransaction();
            }
            open_ = false;
            return kRegOk;
        }

    private:
        Store& store_;
        const bool inBatch_;
        bool open_ = false;
    };

    // Opens the store at the first use; false when it cannot be used.
    bool Ready() {
        if (!opened_) {
            opened_ = true;
            Open();
        }
        return problem_.empty();
    }

    // kRegOk, or why no operation can run now: the store cannot be used, or the batch around
    // the operation has failed (the operation must then not land on its own).
    long Usable() {
        if (!Ready()) return kRegBadStore;
        if (batchDepth_ == 0) return kRegOk;
        if (batchError_ == kRegOk && sqlite3_get_autocommit(db_.get())) batchError_ = kRegIoFailed;
        return batchError_;
    }

    // What opening, creating and deleting a key share: the output cleared, the store usable,
    // the parent an open handle and the path well formed (its names in pathNames_).
    long PrepareKeyPath(RegKey parent, const char* subKey, RegKey* key, Address* from) {
        if (key == nullptr) return kRegInvalidParameter;
        *key = 0;
        return PrepareKeyPath(parent, subKey, from);
    }
    long PrepareKeyPath(RegKey parent, const char* subKey, Address* from) {
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(parent);
        if (handle == nullptr) return kRegInvalidHandle;
        *from = handle->Where();
        return SplitPath(subKey);
    }

    // The names of a key path. Runs of separators count as one and a trailing one is ignored,
    // as the Windows registry does; a leading one is a bad path name.
    long SplitPath(const char* path) {
        pathCount_ = 0;
        const std::string_view text = path == nullptr ? std::string_view{} : path;
        if (!text.empty() && text.front() == '\\') return kRegBadPathname;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\\', start);
            if (end == std::string_view::npos) end = text.size();
            if (end > start) {
                if (pathCount_ == pathNames_.size()) pathNames_.emplace_back();
                Name& name = pathNames_[pathCount_++];
                name.Assign(text.substr(start, end - start));
                if (name.Length() > kMaxKeyNameLength) return kRegInvalidParameter;
            }
            start = end + 1;
        }
        return kRegOk;
    }

    long EndBatch(bool commit) {
        if (batchDepth_ == 0) return kRegInvalidParameter;
        --batchDepth_;
        ++keyChanges_;
        if (!Ready() || batchError_ != kRegOk) {
            const long error = Ready() ? batchError_ : kRegBadStore;
            if (batchDepth_ == 0) {
                pending_.Clear();
                ResetStream();
                if (db_ && !sqlite3_get_autocommit(db_.get())) Run(kRollback);
                EndTransaction();
                batchError_ = kRegOk;
            }
            return error;
        }
        if (batchDepth_ == 0) {
            long result = kRegOk;
            if (commit && !Flush()) result = batchError_ != kRegOk ? batchError_ : kRegIoFailed;
            ResetStream();
            if (result == kRegOk && commit) result = WriteCounter();
            if (result == kRegOk && commit) {
                if (const int rc = Run(kCommit); rc != SQLITE_DONE) result = Fail(rc);
            }
            if (result != kRegOk || !commit) Run(kRollback);
            EndTransaction();
            batchError_ = kRegOk;
            return result;
        } else if (commit) {
            if (!Flush()) return batchError_;  // the outermost one undoes the batch
            ResetStream();
            Run(kReleaseBatch);
        } else {
            pending_.Clear();  // made inside this batch: what came before was written
            ResetStream();
            Run(kRollbackToBatch);
            Run(kReleaseBatch);
            RolledBack();
        }
        return kRegOk;
    }

    // The transaction has ended: nothing of it is known any more.
    void EndTransaction() {
        pending_.Clear();
        ResetStream();
        counterLoaded_ = false;
        ForgetKnownKeys();
        ++keyChanges_;
    }

    // Part of the transaction was undone: no key made so far counts as fresh, and the marks
    // set may be gone.
    void RolledBack() {
        ResetStream();
        freshFloor_ = nextId_;
        ForgetKnownKeys();
        ++keyChanges_;
    }

    void ForgetKnownKeys() {
        freshChildren_.clear();
        lastFresh_ = nullptr;
        marked_.clear();
        lastMarked_ = 0;
    }

    // Keys were deleted: a fresh key may be among them, and a marked one.
    void KeysDeleted() {
        freshFloor_ = nextId_;
        ForgetKnownKeys();
        ++keyChanges_;
    }

    int Run(StatementId statement) {
        Query query(statements_[statement].get());
        return query.Step();
    }

    static Query& BindAddress(Query& query, const Address& address) {
        return query.Int(1, address.parent).Bytes(2, address.Fold()).Int(3, address.id);
    }

    // Every write first ends the enumeration statement: it must not read a changed table.
    void BeforeWrite() { ResetStream(); }

    void ResetStream() {
        if (stream_.statement != nullptr) {
            sqlite3_reset(stream_.statement);
            sqlite3_clear_bindings(stream_.statement);
            stream_.statement = nullptr;
        }
        stream_.onRow = false;
    }

    // Inside a batch, the row the enumeration stands on.
    bool StreamRowIs(int64_t id) const { return stream_.onRow && stream_.key.id == id; }

    // A key made in this batch's transaction since its last delete or rollback.
    bool IsFresh(int64_t id) const {
        return batchDepth_ > 0 && counterLoaded_ && id >= freshFloor_;
    }

    bool KnownToExist(int64_t id) {
        return id == kRootId || IsFresh(id) || StreamRowIs(id) ||
               (stream_.onRow && stream_.parent == id);
    }

    // Steps the enumeration of handle's subkeys to index.
    long StreamSubkey(Handle& handle, uint32_t index) {
        const bool same = stream_.statement != nullptr && stream_.parent == handle.id;
        if (same && stream_.onRow && index == stream_.index) return kRegOk;
        if (!(same && stream_.onRow && index == stream_.index + 1)) {
            ResetStream();
            stream_.statement = statements_[index == 0 ? kSubkeysFrom : kSubkeysFromIndex].get();
            stream_.parent = handle.id;
            sqlite3_bind_int64(stream_.statement, 1, handle.id);
            if (index != 0) sqlite3_bind_int64(stream_.statement, 2, index);
        }
        const int rc = sqlite3_step(stream_.statement);
        if (rc != SQLITE_ROW) {
            ResetStream();
            if (rc != SQLITE_DONE) return Fail(rc);
            return KnownToExist(handle.id) ? kRegNoMoreItems
                                           : Missing(handle.Where(), kRegNoMoreItems);
        }
        if (!ParseKeyData(StatementBytes(stream_.statement, 0), stream_.key)) {
            ResetStream();
            return kRegIoFailed;
        }
        stream_.index = index;
        stream_.onRow = true;
        return kRegOk;
    }

    // QueryValue on an open handle.
    long QueryValueOf(Handle& handle, const char* name, uint32_t* type, void* data, uint32_t* size) {
        valueName_.Assign(name == nullptr ? "" : name);
        return WithKey(handle, [&](const KeyData& found) {
            ValueEntry entry;
            if (const long error = FindValue(found.values, valueName_, entry, scratch_)) return error;
            if (type != nullptr) *type = entry.type;
            if (data != nullptr && *size < entry.data.size()) {
                *size = static_cast<uint32_t>(entry.data.size());
                return static_cast<long>(kRegMoreData);
            }
            if (data != nullptr && !entry.data.empty()) {
                std::memcpy(data, entry.data.data(), entry.data.size());
            }
            if (size != nullptr) *size = static_cast<uint32_t>(entry.data.size());
            return static_cast<long>(kRegOk);
        });
    }

    // Runs use(key) on the key's data: from memory when it is there, else read.
    template <typename Use>
    long WithKey(Handle& handle, Use use) {
        KeyData key;
        if (const PendingRow* row = pending_.Find(handle.id)) {
            if (!ParseKeyData(pending_.Data(*row), key)) return kRegIoFailed;
            return use(key);
        }
        if (StreamRowIs(handle.id)) return use(stream_.key);
        Query query(statements_[kFindKey].get());
        const Address address = handle.Where();
        query.Int(1, address.parent).Bytes(2, address.Fold());
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return kRegKeyDeleted;
        if (rc != SQLITE_ROW) return Fail(rc);
        if (!ParseKeyData(query.ColumnBytes(0), key)) return kRegIoFailed;
        if (key.id != handle.id) return kRegKeyDeleted;
        return use(key);
    }

    // Changes the values of a waiting row with change(list).
    template <typename Change>
    long ChangePending(PendingRow& row, Change change) {
        KeyData key;
        const std::string_view data = pending_.Data(row);
        if (!ParseKeyData(data, key)) return kRegIoFailed;
        values_.assign(key.values);
        if (const long result = change(values_); result != kRegOk) return result;
        rowData_.assign(data.substr(0, key.valuesAt));
        rowData_ += values_;
        pending_.SetData(row, rowData_);
        return kRegOk;
    }

    // The result for a missing row: kRegKeyDeleted when the key itself is gone.
    long Missing(const Address& address, long result) {
        if (KnownToExist(address.id)) return result;
        Query query(statements_[kFindKey].get());
        query.Int(1, address.parent).Bytes(2, address.Fold());
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return kRegKeyDeleted;
        if (rc != SQLITE_ROW) return Fail(rc);
        KeyData key;
        if (!ParseKeyData(query.ColumnBytes(0), key)) return kRegIoFailed;
        return key.id == address.id ? result : kRegKeyDeleted;
    }

    // Changes whenever another connection commits. Only asked outside a batch.
    long DataVersion(int64_t* version) {
        Query query(statements_[kDataVersion].get());
        const int rc = query.Step();
        if (rc != SQLITE_ROW) return Fail(rc);
        *version = query.ColumnInt(0);
        return kRegOk;
    }

    // The key at pathNames_ below from, created (with its missing parents) when create is set.
    long Resolve(const Address& from, bool create, Address* found) {
        if (pathCount_ == 0) {
            if (const long error = Missing(from, kRegOk)) return error;
            *found = from;
            return kRegOk;
        }
        Address current = from;
        for (size_t i = 0; i < pathCount_; ++i) {
            const Name& name = pathNames_[i];
            int64_t child = 0;
            int subkeys = -1;
            long result = Child(current, name, &child, &subkeys);
            if (result == kRegOk) {
                current = Address{current.id, child, subkeys, &name, nullptr};
                continue;
            }
            if (result != kRegNotFound && result != kNoRow) return result;
            if (!create) {
                // A deleted key has no subkeys, so only the first name can meet one.
                if (result == kNoRow && i == 0) return Missing(current, kRegNotFound);
                return kRegNotFound;
            }
            if ((result = CreateChild(current, name, false, &child)) != kRegOk) return result;
            current = Address{current.id, child, 0, &name, nullptr};
        }
        *found = current;
        return kRegOk;
    }

    // The subkey of parent with this name: kRegOk; kRegNotFound when the parent exists and has
    // no such subkey; kNoRow when no row answered (the parent may be gone).
    long Child(const Address& parent, const Name& name, int64_t* child, int* subkeys) {
        if (IsFresh(parent.id)) {
            const FoldMap* children = FreshChildren(parent.id, false);
            if (children == nullptr) return kRegNotFound;
            const auto at = children->find(name.Fold());
            if (at == children->end()) return kRegNotFound;
            *child = at->second;
            *subkeys = freshChildren_.contains(at->second) ? 1 : 0;
            return kRegOk;
        }
        // The subkey the enumeration stands on, asked for by the name it gave.
        if (stream_.onRow && stream_.parent == parent.id && stream_.key.name == name.Text()) {
            *child = stream_.key.id;
            *subkeys = stream_.key.mayHaveSubkeys ? 1 : 0;
            return kRegOk;
        }
        if (StreamRowIs(parent.id) && !stream_.key.mayHaveSubkeys) return kRegNotFound;
        Query find(statements_[kFindKey].get());
        find.Int(1, parent.id).Bytes(2, name.Fold());
        const int rc = find.Step();
        if (rc == SQLITE_DONE) return kNoRow;
        if (rc != SQLITE_ROW) return Fail(rc);
        KeyData key;
        if (!ParseKeyData(find.ColumnBytes(0), key)) return kRegIoFailed;
        *child = key.id;
        *subkeys = key.mayHaveSubkeys ? 1 : 0;
        return kRegOk;
    }

    // Makes the subkey name of parent, which does not have it, inside a write transaction.
    // With mayDefer, under a fresh parent inside a batch, its row waits in memory.
    long CreateChild(const Address& parent, const Name& name, bool mayDefer, int64_t* child) {
        int64_t id = 0;
        if (const long error = AllocateId(&id)) return error;
        const bool parentFresh = IsFresh(parent.id);
        if (const long error = MarkParent(parent)) return error;
        if (mayDefer && parentFresh) {
            PendingRow row{parent.id, id, pending_.bytes.size(), 0, 0, 0};
            pending_.bytes.append(name.Fold());
            row.foldSize = pending_.bytes.size() - row.foldAt;
            rowData_.clear();
            PutKeyData(rowData_, id, false, name.Text(), {});
            pending_.SetData(row, rowData_);
            pending_.rows.push_back(row);
        } else {
            rowData_.clear();
            PutKeyData(rowData_, id, false, name.Text(), {});
            BeforeWrite();
            Query insert(statements_[kInsertKey].get());
            insert.Int(1, parent.id).Bytes(2, name.Fold()).Bytes(3, rowData_);
            if (const int rc = insert.Step(); rc != SQLITE_DONE) return Fail(rc);
        }
        if (parentFresh) FreshChildren(parent.id, true)->emplace(name.Fold(), id);
        ++keyChanges_;
        *child = id;
        return kRegOk;
    }

    // The subkeys made under a fresh key (made when create is set), null when there are none.
    // The key asked for last is remembered: a save makes all its keys under one parent.
    FoldMap* FreshChildren(int64_t id, bool create) {
        if (lastFresh_ == nullptr || lastFreshId_ != id) {
            const auto at = freshChildren_.find(id);
            if (at != freshChildren_.end()) {
                lastFresh_ = &at->second;
            } else if (create) {
                lastFresh_ = &freshChildren_[id];
            } else {
                return nullptr;
            }
            lastFreshId_ = id;
        }
        return lastFresh_;
    }

    // Marks a key as having subkeys and lists it, once a transaction; for a key not made in
    // it this also checks that it still exists.
    long MarkParent(const Address& parent) {
        if (parent.id == lastMarked_ || marked_.contains(parent.id)) return kRegOk;
        if (PendingRow* row = pending_.Find(parent.id)) {
            KeyData key;
            if (!ParseKeyData(pending_.Data(*row), key)) return kRegIoFailed;
            char& marks = pending_.bytes[row->dataAt + key.marksAt];
            marks = static_cast<char>(marks | kMarkSubkeys);
        } else {
            BeforeWrite();
            {
                Query mark(statements_[kMarkKey].get());
                BindAddress(mark, parent);
                if (const int rc = mark.Step(); rc != SQLITE_DONE) return Fail(rc);
            }
            if (sqlite3_changes(db_.get()) == 0) return kRegKeyDeleted;
        }
        BeforeWrite();
        Query list(statements_[kAddNonLeaf].get());
        list.Int(1, parent.parent).Int(2, parent.id);
        if (const int rc = list.Step(); rc != SQLITE_DONE) return Fail(rc);
        marked_.insert(parent.id);
        lastMarked_ = parent.id;
        return kRegOk;
    }

    // Writes the waiting rows, all in one statement. A failure fails the batch: the keys were
    // reported made.
    bool Flush() {
        if (pending_.rows.empty()) return true;
        BeforeWrite();
        const size_t count = pending_.rows.size();
        int rc;
        {
            Query insert(statements_[kInsertPending].get());
            rc = insert.Step();
        }
        pending_.Clear();
        long error = kRegOk;
        if (rc != SQLITE_DONE) {
            error = Fail(rc);
        } else if (static_cast<size_t>(sqlite3_changes64(db_.get())) != count) {
            error = kRegIoFailed;
        }
        if (error == kRegOk) return true;
        if (batchError_ == kRegOk) batchError_ = error;
        return false;
    }

    // A new key id, inside a write transaction: the counter is read once a transaction and
    // written back at its commit.
    long AllocateId(int64_t* id) {
        if (!counterLoaded_) {
            Query read(statements_[kReadCounter].get());
            const int rc = read.Step();
            if (rc == SQLITE_DONE) return kRegBadStore;
            if (rc != SQLITE_ROW) return Fail(rc);
            nextId_ = counterStored_ = read.ColumnInt(0);
            freshFloor_ = nextId_;
            counterLoaded_ = true;
        }
        *id = nextId_++;
        return kRegOk;
    }

    long WriteCounter() {
        if (!counterLoaded_ || nextId_ == counterStored_) return kRegOk;
        Query write(statements_[kWriteCounter].get());
        write.Int(1, nextId_);
        if (const int rc = write.Step(); rc != SQLITE_DONE) return Fail(rc);
        counterStored_ = nextId_;
        return kRegOk;
    }

    Handle* FindHandle(RegKey key) {
        if (key == kCurrentUser) return &root_;
        HandleSlot* slot = FindSlot(key);
        return slot == nullptr ? nullptr : &slot->handle;
    }

    HandleSlot* FindSlot(RegKey key) {
        const RegKey index = key >> kHandleShift;
        if (index == 0 || index > slots_.size()) return nullptr;
        HandleSlot& slot = slots_[index - 1];
        if (!slot.used || slot.generation != static_cast<uint16_t>(key)) return nullptr;
        return &slot;
    }

    RegKey NewHandle(const Address& address) {
        // Where the name is not folded yet it stays so.
        bool folded = true;
        std::string_view key;
        if (address.name != nullptr && !address.name->Folded()) {
            folded = false;
            key = address.name->Text();
        } else if (address.handle != nullptr && !address.handle->folded) {
            folded = false;
            key = address.handle->key;
        } else {
            key = address.Fold();
        }
        uint32_t index;
        if (!freeSlots_.empty()) {
            index = freeSlots_.back();
            freeSlots_.pop_back();
        } else {
            // Growing moves the handles, and key may be one's.
            newKey_.assign(key);
            key = newKey_;
            index = static_cast<uint32_t>(slots_.size());
            slots_.emplace_back();
        }
        HandleSlot& slot = slots_[index];
        slot.used = true;
        slot.handle.id = address.id;
        slot.handle.parent = address.parent;
        slot.handle.key.assign(key);
        slot.handle.folded = folded;
        slot.handle.cursor.valid = false;
        return (static_cast<RegKey>(index) + 1) << kHandleShift | slot.generation;
    }

    // The registry's code for an SQLite failure. A store found corrupt is unusable from then on.
    long Fail(int rc) {
        long result;
        switch (rc & 0xFF) {
            case SQLITE_CORRUPT:
            case SQLITE_NOTADB:
                problem_ = sqlite3_errmsg(db_.get());
                result = kRegBadStore;
                break;
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                result = kRegBusy;
                break;
            case SQLITE_NOMEM:
                result = kRegOutOfMemory;
                break;
            case SQLITE_FULL:
                result = kRegDiskFull;
                break;
            case SQLITE_READONLY:
            case SQLITE_PERM:
            case SQLITE_AUTH:
                result = kRegAccessDenied;
                break;
            default:
                result = kRegIoFailed;
                break;
        }
        // A failure that ended the batch's transaction fails the rest of the batch.
        if (batchDepth_ > 0 && batchError_ == kRegOk && sqlite3_get_autocommit(db_.get())) {
            batchError_ = result;
        }
        return result;
    }

    // Opens the file, creating it (and its directory) when missing, and checks that it is a
    // sound store of this format (converting one of format 1) before anything is written to it.
    void Open() {
        if (path_.empty()) {
            problem_ = "no home directory to keep the registry in";
            return;
        }
        const size_t slash = path_.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            problem_ = MakeDirectories(path_.substr(0, slash));
            if (!problem_.empty()) return;
        }
        problem_ = PrepareFile();
        if (!problem_.empty()) return;

        sqlite3* db = nullptr;
        // The library's calls never overlap (see the README): no mutex for each SQLite call.
        const int rc = sqlite3_open_v2(path_.c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        db_.reset(db);
        if (rc != SQLITE_OK) {
            problem_ = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            return;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);

        int64_t formatVersion = 0;
        problem_ = CheckFormat(&formatVersion);
        if (!problem_.empty()) return;
        // WAL is set only once the file is known to be a store of ours: it rewrites the header.
        // The journal of a savepoint inside a batch stays in memory, not in a temporary file.
        for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                   "PRAGMA temp_store = MEMORY"}) {
            if (sqlite3_exec(db, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) {
                problem_ = sqlite3_errmsg(db);
                return;
            }
        }
        if (!RegisterExtensions(db, &pending_)) {
            problem_ = sqlite3_errmsg(db);
            return;
        }
        if (formatVersion == kFormat1) {
            problem_ = Convert();
            if (!problem_.empty()) return;
        }
        for (int i = 0; i < kStatementCount; ++i) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v3(db, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT, &statement,
                                   nullptr) != SQLITE_OK) {
                problem_ =
                    std::string("not a registry store of this version: ") + sqlite3_errmsg(db);
                return;
            }
            statements_[i].reset(statement);
        }
    }

    // Creates the file 0600 when it is missing; checks that an existing one is a regular file
    // that this process may read and write. "" or the reason.
    std::string PrepareFile() {
        FileDescriptor created(open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (created.get() >= 0) {
            fchmod(created.get(), 0600);
            return {};
        }
        if (errno != EEXIST) return ErrnoText(errno);
        FileDescriptor existing(open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (existing.get() < 0) return ErrnoText(errno);
        struct stat info {};
        if (fstat(existing.get(), &info) != 0) return ErrnoText(errno);
        if (!S_ISREG(info.st_mode)) return "not a regular file";
        return {};
    }

    // "" when the file is a sound store of this format or of format 1 (its version in
    // *formatVersion), or one still empty (which then gets the store's tables); otherwise the
    // reason. Reads before it writes anything.
    std::string CheckFormat(int64_t* formatVersion) {
        for (int attempt = 0;; ++attempt) {
            // One statement, so that all three come from one snapshot even while another
            // process initializes the file.
            int64_t header[3] = {};
            if (!ReadInts("SELECT (SELECT application_id FROM pragma_application_id), "
                          "(SELECT user_version FROM pragma_user_version), "
                          "(SELECT count(*) FROM sqlite_schema)",
                          header)) {
                return sqlite3_errmsg(db_.get());
            }
            const int64_t applicationId = header[0], version = header[1], tables = header[2];
            if (applicationId == 0 && tables == 0 && attempt == 0) {
                if (std::string problem = Initialize(); !problem.empty()) return problem;
                continue;
            }
            if (applicationId != kApplicationId)
                return "not a registry store (another program's database)";
            if (version != kFormatVersion && version != kFormat1) {
                return "registry store format " + std::to_string(version) + " is not supported";
            }
            *formatVersion = version;
            return QuickCheck();
        }
    }

    // Gives an empty database the store's tables, unless another process did it first.
    std::string Initialize() {
        sqlite3* db = db_.get();
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return sqlite3_errmsg(db);
        }
        int64_t tables = 0;
        std::string problem;
        if (!ReadInts("SELECT count(*) FROM sqlite_schema", &tables)) {
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

    // Converts a store of format 1 in one transaction: killed at any instant, or failing, it
    // leaves the store as it was. Another process may have converted it first.
    std::string Convert() {
        sqlite3* db = db_.get();
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return std::string("cannot convert the registry store: ") + sqlite3_errmsg(db);
        }
        std::string problem = ConvertRows();
        if (problem.empty() && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            problem = sqlite3_errmsg(db);
        }
        if (problem.empty()) return {};
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return "cannot convert the registry store from format 1: " + problem;
    }

    // Format 1: keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent, fold, name) and
    // vals(key, fold, name, type, data), the values in rowid order; folds were UTF-16BE.
    std::string ConvertRows() {
        sqlite3* db = db_.get();
        const auto error = [db] { return std::string(sqlite3_errmsg(db)); };
        int64_t version = 0;
        if (!ReadInts("SELECT user_version FROM pragma_user_version", &version)) return error();
        if (version == kFormatVersion) return {};
        if (version != kFormat1) return "format " + std::to_string(version);

        std::unordered_map<int64_t, std::string> values;
        std::unordered_set<int64_t> parents;
        int64_t next = 0;
        {
            const StatementPtr select(Prepare(
                "SELECT key, name, type, data FROM vals ORDER BY key, rowid"));
            if (!select) return error();
            int rc;
            while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
                PutValue(values[sqlite3_column_int64(select.get(), 0)],
                         StatementBytes(select.get(), 1),
                         static_cast<uint32_t>(sqlite3_column_int64(select.get(), 2)),
                         StatementBytes(select.get(), 3));
            }
            if (rc != SQLITE_DONE) return error();
        }
        {
            const StatementPtr select(Prepare("SELECT DISTINCT parent FROM keys"));
            if (!select) return error();
            int rc;
            while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
                parents.insert(sqlite3_column_int64(select.get(), 0));
            }
            if (rc != SQLITE_DONE) return error();
        }
        // Ids never come back: the next is above every id the old table ever gave.
        if (!ReadInts("SELECT max(coalesce((SELECT max(id) FROM keys), 1), "
                      "coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'keys'), 0)) + 1",
                      &next)) {
            return error();
        }
        if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) return error();
        {
            const StatementPtr select(Prepare("SELECT id, parent, name FROM keys"));
            const StatementPtr insert(Prepare("INSERT INTO nodes VALUES(?1, ?2, ?3)"));
            if (!select || !insert) return error();
            int rc;
            std::string data;
            while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
                const int64_t id = sqlite3_column_int64(select.get(), 0);
                const std::string name(StatementBytes(select.get(), 2));
                const std::string fold = Fold(name);
                data.clear();
                PutKeyData(data, id, parents.contains(id), name, values[id]);
                sqlite3_bind_int64(insert.get(), 1, sqlite3_column_int64(select.get(), 1));
                sqlite3_bind_blob64(insert.get(), 2, fold.data(), fold.size(), SQLITE_STATIC);
                sqlite3_bind_blob64(insert.get(), 3, data.data(), data.size(), SQLITE_STATIC);
                const int inserted = sqlite3_step(insert.get());
                sqlite3_reset(insert.get());
                if (inserted != SQLITE_DONE) return error();
            }
            if (rc != SQLITE_DONE) return error();
        }
        const std::string script =
            "INSERT INTO nonleaf SELECT DISTINCT p.parent, p.id FROM keys p "
            "JOIN keys c ON c.parent = p.id; "
            "INSERT INTO counter VALUES(" + std::to_string(next) + "); "
            "DROP TABLE vals; DROP TABLE keys; DELETE FROM sqlite_sequence; "
            "PRAGMA user_version = " + std::to_string(kFormatVersion) + ";";
        if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return error();
        return {};
    }

    StatementPtr Prepare(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
        return StatementPtr(raw);
    }

    // Reads every page of the database's structure once: a truncated or damaged file fails here
    // rather than in the middle of a later change.
    std::string QuickCheck() {
        const StatementPtr statement = Prepare("PRAGMA quick_check(1)");
        if (!statement) return sqlite3_errmsg(db_.get());
        const int rc = sqlite3_step(statement.get());
        if (rc != SQLITE_ROW) return sqlite3_errmsg(db_.get());
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
        const std::string result = text != nullptr ? text : "";
        if (result == "ok") return {};
        return "database disk image is malformed (" + result + ")";
    }

    // The columns of the first row of a query.
    bool ReadInts(const char* sql, int64_t* values) {
        const StatementPtr statement = Prepare(sql);
        if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) return false;
        for (int i = 0; i < sqlite3_column_count(statement.get()); ++i)
            values[i] = sqlite3_column_int64(statement.get(), i);
        return true;
    }

    std::string path_;
    std::string problem_;
    bool opened_ = false;
    DatabasePtr db_;
    StatementPtr statements_[kStatementCount];
    Handle root_{kRootId, 0, {}, true, {}};
    // Handles live while an operation runs: an Address may point at one, so the vector grows
    // only in NewHandle, the operations' last step.
    std::vector<HandleSlot> slots_;
    std::string newKey_;
    std::vector<uint32_t> freeSlots_;
    int batchDepth_ = 0;
    long batchError_ = kRegOk;
    // Counts the changes of this connection to the set of keys (and rollbacks), so that an
    // enumeration cursor can tell it is out of date.
    uint64_t keyChanges_ = 0;

    // The operation's path and value name, kept to reuse their memory.
    std::vector<Name> pathNames_;
    size_t pathCount_ = 0;
    Name valueName_;
    std::string scratch_;

    // The write transaction's counter of key ids, read at its first new key.
    bool counterLoaded_ = false;
    int64_t nextId_ = 0;
    int64_t counterStored_ = 0;
    // Keys with ids from freshFloor_ on are fresh; the subkeys of those that have some.
    int64_t freshFloor_ = 0;
    std::unordered_map<int64_t, FoldMap> freshChildren_;
    // The keys marked in this transaction as having subkeys.
    std::unordered_set<int64_t> marked_;
    FoldMap* lastFresh_ = nullptr;  // freshChildren_'s entry for lastFreshId_
    int64_t lastFreshId_ = 0;
    int64_t lastMarked_ = 0;  // 0: none
    PendingRows pending_;
    std::string values_;   // a value list being changed
    std::string rowData_;  // a data column being made
    Stream stream_;
};

std::string_view SqliteRegistry::Store::Address::Fold() const {
    if (name != nullptr) return name->Fold();
    return handle != nullptr ? handle->Fold() : std::string_view{};
}

SqliteRegistry::SqliteRegistry(std::string path)
    : store_(std::make_unique<Store>(std::move(path))) {}
SqliteRegistry::~SqliteRegistry() = default;

std::string SqliteRegistry::DefaultPath() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home != nullptr ? home : "";
        if (homeDir.empty()) {
            if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
                homeDir = entry->pw_dir;
            }
        }
        if (homeDir.empty()) return {};
        base = homeDir + "/.config";
    }
    return base + "/tavixconnect/registry.db";
}

long SqliteRegistry::OpenKey(RegKey parent, const char* subKey, RegKey* key) {
    return store_->OpenKey(parent, subKey, key);
}
long SqliteRegistry::CreateKey(RegKey parent, const char* subKey, RegKey* key) {
    return store_->CreateKey(parent, subKey, key);
}
long SqliteRegistry::QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                                uint32_t* size) {
    return store_->QueryValue(key, name, type, data, size);
}
long SqliteRegistry::SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                              uint32_t size) {
    return store_->SetValue(key, name, type, data, size);
}
long SqliteRegistry::EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) {
    return store_->EnumKey(key, index, name, nameSize);
}
long SqliteRegistry::EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                               std::vector<uint8_t>* data) {
    return store_->EnumValue(key, index, name, type, data);
}
long SqliteRegistry::ForEachSubkey(RegKey key, uint32_t nameSize,
                                   const std::function<bool(SubkeyView&)>& visit) {
    // Outside a batch every operation stands alone, and so does each subkey's.
    return store_->InBatch() ? store_->ForEachSubkey(key, nameSize, visit)
                             : Registry::ForEachSubkey(key, nameSize, visit);
}
long SqliteRegistry::DeleteKey(RegKey parent, const char* subKey) {
    return store_->DeleteKey(parent, subKey);
}
long SqliteRegistry::DeleteTree(RegKey parent, const char* subKey) {
    return store_->DeleteTree(parent, subKey);
}
long SqliteRegistry::DeleteValue(RegKey key, const char* name) {
    return store_->DeleteValue(key, name);
}
long SqliteRegistry::CloseKey(RegKey key) { return store_->CloseKey(key); }
long SqliteRegistry::BeginBatch() { return store_->BeginBatch(); }
long SqliteRegistry::CommitBatch() { return store_->CommitBatch(); }
void SqliteRegistry::AbortBatch() { store_->AbortBatch(); }
std::string SqliteRegistry::Location() const { return store_->Location(); }
std::string SqliteRegistry::Problem() const { return store_->Problem(); }

Registry& UserRegistry() {
    // Located at the first use, so that the environment of that moment decides.
    static SqliteRegistry registry(SqliteRegistry::DefaultPath());
    return registry;
}

}  // namespace tavix::platform
