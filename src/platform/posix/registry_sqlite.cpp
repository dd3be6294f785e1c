// The current user's hive in an SQLite database file.
//
// Layout: one row per key (its parent, its name as given, and the name's fold: the upper-cased
// UTF-16 code units as a big-endian blob, so that the blob order SQLite keeps in the
// (parent, fold) index is the registry's enumeration order) and one row per value (whose rowid
// keeps the order values were first written in, the order they enumerate in). Key ids are
// never reused, so that a handle to a deleted key can tell it was deleted. The file carries an
// application id and a format version; a file without them is another program's and is left
// alone.
//
// The database runs in WAL mode with synchronous=FULL: a commit appends the transaction to the
// log and syncs the log once, whatever its size; a checkpoint (every 1000 log pages) adds a
// sync of the log and one of the database. Readers never block the writer, and a process
// killed at any instant leaves the last committed transaction in place.
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
constexpr int64_t kFormatVersion = 1;
constexpr int64_t kRootId = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyNameLength = 255;
constexpr RegKey kFirstHandle = 0x10;

constexpr char kSchema[] =
    "CREATE TABLE keys("
    "id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, fold BLOB NOT NULL, "
    "name BLOB NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE vals("
    "key INTEGER NOT NULL, fold BLOB NOT NULL, name BLOB NOT NULL, type INTEGER NOT NULL, "
    "data BLOB NOT NULL, UNIQUE(key, fold));"
    "CREATE TRIGGER key_values AFTER DELETE ON keys BEGIN "
    "DELETE FROM vals WHERE key = old.id; END;"
    "INSERT INTO keys(id, parent, fold, name) VALUES(1, 0, x'', x'');";

// The statements the store runs, prepared once.
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
    kKeyExists,
    kFindKey,
    kInsertKey,
    kDeleteLeaf,
    kSubkeyAt,
    kSubkeyAfter,
    kQueryValue,
    kValueAt,
    kSetValue,
    kDeleteValue,
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
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2",
    // Inserts nothing when the parent is gone or already has the name.
    "INSERT INTO keys(parent, fold, name) SELECT ?1, ?2, ?3 FROM keys WHERE id = ?1 "
    "ON CONFLICT(parent, fold) DO NOTHING",
    // Deletes nothing when the key has subkeys; its values go with it (trigger key_values).
    "DELETE FROM keys WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM keys WHERE parent = ?1)",
    "SELECT name, fold FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name, fold FROM keys WHERE parent = ?1 AND fold > ?2 ORDER BY fold LIMIT 1",
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    // Inserts nothing when the key is gone, so that a value never outlives its key.
    "INSERT INTO vals(key, fold, name, type, data) SELECT ?1, ?2, ?3, ?4, ?5 FROM keys "
    "WHERE id = ?1 ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
    "data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
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
    // A zero-length blob, not NULL, for empty bytes.
    Query& Bytes(int index, const void* data, size_t size) {
        sqlite3_bind_blob64(statement_, index, size == 0 ? "" : data, size, SQLITE_STATIC);
        return *this;
    }
    Query& Bytes(int index, std::string_view bytes) {
        return Bytes(index, bytes.data(), bytes.size());
    }
    int Step() { return sqlite3_step(statement_); }
    int64_t ColumnInt(int column) { return sqlite3_column_int64(statement_, column); }
    std::string_view ColumnBytes(int column) {
        const void* data = sqlite3_column_blob(statement_, column);
        const int size = sqlite3_column_bytes(statement_, column);
        return data == nullptr ? std::string_view{}
                               : std::string_view(static_cast<const char*>(data), size);
    }

private:
    sqlite3_stmt* statement_;
};

// A key or value name: the bytes as given, and the fold that it is compared and sorted by.
struct Name {
    std::string_view text;
    std::string fold;
    size_t length = 0;  // in UTF-16 code units
};

Name FoldName(std::string_view text) {
    Name name{text, {}, 0};
    const WString wide = SystemCodePage().ToWide(text);
    name.length = wide.size();
    name.fold.reserve(wide.size() * 2);
    for (const WChar unit : wide) {
        const char16_t upper = UpcaseCodeUnit(static_cast<char16_t>(unit));
        name.fold.push_back(static_cast<char>(upper >> 8));
        name.fold.push_back(static_cast<char>(upper & 0xFF));
    }
    return name;
}

// The names of a key path. Runs of separators count as one and a trailing one is ignored, as
// the Windows registry does; a leading one is a bad path name.
long SplitPath(const char* path, std::vector<Name>* names) {
    const std::string_view text = path == nullptr ? std::string_view{} : path;
    if (!text.empty() && text.front() == '\\') return kRegBadPathname;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) {
            Name name = FoldName(text.substr(start, end - start));
            if (name.length > kMaxKeyNameLength) return kRegInvalidParameter;
            names->push_back(std::move(name));
        }
        start = end + 1;
    }
    return kRegOk;
}

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

    const std::string& Location() const { return path_; }

    const std::string& Problem() {
        Ready();
        return problem_;
    }

    // What opening and creating a key share: the output cleared, the store usable, the parent
    // an open handle and the path well formed.
    long PrepareKeyPath(RegKey parent, const char* subKey, RegKey* key, int64_t* parentId,
                        std::vector<Name>* names) {
        if (key == nullptr) return kRegInvalidParameter;
        *key = 0;
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(parent);
        if (handle == nullptr) return kRegInvalidHandle;
        *parentId = handle->id;
        return SplitPath(subKey, names);
    }

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) {
        int64_t parentId = 0;
        std::vector<Name> names;
        if (const long error = PrepareKeyPath(parent, subKey, key, &parentId, &names)) return error;
        int64_t id = 0;
        if (const long error = Resolve(parentId, names, false, &id)) return error;
        *key = NewHandle(id);
        return kRegOk;
    }

    long CreateKey(RegKey parent, const char* subKey, RegKey* key) {
        int64_t parentId = 0;
        std::vector<Name> names;
        if (const long error = PrepareKeyPath(parent, subKey, key, &parentId, &names)) return error;
        int64_t id = 0;
        long result;
        if (names.size() <= 1) {
            // One statement at most, atomic by itself.
            result = Resolve(parentId, names, true, &id);
        } else {
            // An existing path needs no write lock.
            result = batchDepth_ > 0 ? kRegNotFound : Resolve(parentId, names, false, &id);
            if (result == kRegNotFound) {
                WriteScope scope(*this);
                result = scope.Begin();
                if (result == kRegOk) result = Resolve(parentId, names, true, &id);
                if (result == kRegOk) result = scope.Commit();
            }
        }
        if (result != kRegOk) return result;
        *key = NewHandle(id);
        return kRegOk;
    }

    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
        if (data != nullptr && size == nullptr) return kRegInvalidParameter;
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        const Name value = FoldName(name == nullptr ? "" : name);
        Query query(statements_[kQueryValue].get());
        query.Int(1, handle->id).Bytes(2, value.fold);
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return Missing(handle->id, kRegNotFound);
        if (rc != SQLITE_ROW) return Fail(rc);
        const std::string_view bytes = query.ColumnBytes(1);
        if (type != nullptr) *type = static_cast<uint32_t>(query.ColumnInt(0));
        if (data != nullptr && *size < bytes.size()) {
            *size = static_cast<uint32_t>(bytes.size());
            return kRegMoreData;
        }
        if (data != nullptr && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        if (size != nullptr) *size = static_cast<uint32_t>(bytes.size());
        return kRegOk;
    }

    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
        if (data == nullptr && size != 0) return kRegNoAccess;
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        const Name value = FoldName(name == nullptr ? "" : name);
        Query query(statements_[kSetValue].get());
        query.Int(1, handle->id).Bytes(2, value.fold).Bytes(3, value.text).Int(4, type);
        query.Bytes(5, data, size);
        const int rc = query.Step();
        if (rc != SQLITE_DONE) return Fail(rc);
        return sqlite3_changes(db_.get()) == 0 ? kRegKeyDeleted : kRegOk;
    }

    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) {
        if (const long error = Usable()) return error;
        Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        if (name == nullptr) nameSize = 0;
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
        if (rc == SQLITE_DONE) return Missing(handle->id, kRegNoMoreItems);
        if (rc != SQLITE_ROW) return Fail(rc);
        const std::string_view text = query.ColumnBytes(0);
        cursor.fold.assign(query.ColumnBytes(1));
        cursor.index = index;
        cursor.keyChanges = keyChanges_;
        cursor.dataVersion = dataVersion;
        cursor.valid = true;
        if (text.size() >= nameSize) return kRegMoreData;
        if (!text.empty()) std::memcpy(name, text.data(), text.size());
        name[text.size()] = '\0';
        return kRegOk;
    }

    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) {
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        Query query(statements_[kValueAt].get());
        query.Int(1, handle->id).Int(2, index);
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return Missing(handle->id, kRegNoMoreItems);
        if (rc != SQLITE_ROW) return Fail(rc);
        name.assign(query.ColumnBytes(0));
        if (type != nullptr) *type = static_cast<uint32_t>(query.ColumnInt(1));
        if (data != nullptr) {
            const std::string_view bytes = query.ColumnBytes(2);
            data->assign(bytes.begin(), bytes.end());
        }
        return kRegOk;
    }

    long DeleteKey(RegKey parent, const char* subKey) {
        if (subKey == nullptr) return kRegInvalidParameter;
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(parent);
        if (handle == nullptr) return kRegInvalidHandle;
        std::vector<Name> names;
        if (const long error = SplitPath(subKey, &names)) return error;
        int64_t id = 0;
        if (const long error = Resolve(handle->id, names, false, &id)) return error;
        if (id == kRootId) return kRegAccessDenied;
        Query query(statements_[kDeleteLeaf].get());
        query.Int(1, id);
        if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
        if (sqlite3_changes(db_.get()) != 0) {
            ++keyChanges_;
            return kRegOk;
        }
        // It has subkeys, or someone else deleted it meanwhile.
        const long result = Missing(id, kRegAccessDenied);
        return result == kRegKeyDeleted ? kRegNotFound : result;
    }

    long DeleteValue(RegKey key, const char* name) {
        if (const long error = Usable()) return error;
        const Handle* handle = FindHandle(key);
        if (handle == nullptr) return kRegInvalidHandle;
        const Name value = FoldName(name == nullptr ? "" : name);
        Query query(statements_[kDeleteValue].get());
        query.Int(1, handle->id).Bytes(2, value.fold);
        const int rc = query.Step();
        if (rc != SQLITE_DONE) return Fail(rc);
        return sqlite3_changes(db_.get()) == 0 ? Missing(handle->id, kRegNotFound) : kRegOk;
    }

    long CloseKey(RegKey key) {
        if (key == kCurrentUser) return kRegOk;
        return handles_.erase(key) != 0 ? kRegOk : kRegInvalidHandle;
    }

    void BeginBatch() {
        ++batchDepth_;
        if (!Ready()) return;
        if (batchDepth_ == 1) {
            batchError_ = kRegOk;
            if (const int rc = Run(kBegin); rc != SQLITE_DONE) batchError_ = Fail(rc);
        } else if (batchError_ == kRegOk) {
            if (const int rc = Run(kSavepointBatch); rc != SQLITE_DONE) batchError_ = Fail(rc);
        }
    }

    void CommitBatch() { EndBatch(true); }
    void AbortBatch() { EndBatch(false); }

private:
    struct Cursor {
        bool valid = false;
        uint32_t index = 0;
        std::string fold;
        uint64_t keyChanges = 0;
        int64_t dataVersion = 0;
    };
    struct Handle {
        int64_t id;
        Cursor cursor;
    };

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
            } else {
                store_.Run(kRollback);
            }
            ++store_.keyChanges_;
        }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;

        long Begin() {
            const int rc = store_.Run(inBatch_ ? kSavepointOp : kBegin);
            if (rc != SQLITE_DONE) return store_.Fail(rc);
            open_ = true;
            return kRegOk;
        }
        long Commit() {
            const int rc = store_.Run(inBatch_ ? kReleaseOp : kCommit);
            if (rc != SQLITE_DONE) return store_.Fail(rc);
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

    void EndBatch(bool commit) {
        if (batchDepth_ == 0) return;
        --batchDepth_;
        ++keyChanges_;
        if (!Ready() || batchError_ != kRegOk) {
            if (batchDepth_ == 0) {
                if (db_ && !sqlite3_get_autocommit(db_.get())) Run(kRollback);
                batchError_ = kRegOk;
            }
            return;
        }
        if (batchDepth_ == 0) {
            if (!commit || Run(kCommit) != SQLITE_DONE) Run(kRollback);
        } else {
            if (!commit) Run(kRollbackToBatch);
            Run(kReleaseBatch);
        }
    }

    int Run(StatementId statement) {
        Query query(statements_[statement].get());
        return query.Step();
    }

    // The result for a missing row: kRegKeyDeleted when the key itself is gone.
    long Missing(int64_t id, long result) {
        Query query(statements_[kKeyExists].get());
        query.Int(1, id);
        const int rc = query.Step();
        if (rc == SQLITE_DONE) return kRegKeyDeleted;
        return rc == SQLITE_ROW ? result : Fail(rc);
    }

    // Changes whenever another connection commits. Inside a batch none can, and the answer is
    // -1, which the version outside never is.
    long DataVersion(int64_t* version) {
        if (batchDepth_ > 0) {
            *version = -1;
            return kRegOk;
        }
        Query query(statements_[kDataVersion].get());
        const int rc = query.Step();
        if (rc != SQLITE_ROW) return Fail(rc);
        *version = query.ColumnInt(0);
        return kRegOk;
    }

    // The key at names below parent, created (with its missing parents) when create is set.
    long Resolve(int64_t parent, const std::vector<Name>& names, bool create, int64_t* id) {
        int64_t current = parent;
        if (names.empty()) {
            const long result = Missing(parent, kRegOk);
            if (result == kRegOk) *id = parent;
            return result;
        }
        for (const Name& name : names) {
            const long result = Child(current, name, create, &current);
            if (result == kRegOk) continue;
            // A deleted key has no subkeys, so only the first name can meet one.
            if (result == kRegNotFound && current == parent) return Missing(parent, result);
            return result;
        }
        *id = current;
        return kRegOk;
    }

    // The subkey of parent with name, created when create is set.
    long Child(int64_t parent, const Name& name, bool create, int64_t* child) {
        for (;;) {
            {
                Query find(statements_[kFindKey].get());
                find.Int(1, parent).Bytes(2, name.fold);
                const int rc = find.Step();
                if (rc == SQLITE_ROW) {
                    *child = find.ColumnInt(0);
                    return kRegOk;
                }
                if (rc != SQLITE_DONE) return Fail(rc);
            }
            if (!create) return kRegNotFound;
            Query insert(statements_[kInsertKey].get());
            insert.Int(1, parent).Bytes(2, name.fold).Bytes(3, name.text);
            if (const int rc = insert.Step(); rc != SQLITE_DONE) return Fail(rc);
            if (sqlite3_changes(db_.get()) != 0) {
                *child = sqlite3_last_insert_rowid(db_.get());
                ++keyChanges_;
                return kRegOk;
            }
            // Another process made the key since the lookup, or deleted the parent: look again.
            create = false;
        }
    }

    Handle* FindHandle(RegKey key) {
        if (key == kCurrentUser) return &root_;
        const auto found = handles_.find(key);
        return found == handles_.end() ? nullptr : &found->second;
    }

    RegKey NewHandle(int64_t id) {
        const RegKey key = nextHandle_++;
        handles_.emplace(key, Handle{id, {}});
        return key;
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
    // sound store of this format before anything is written to it.
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
        const int rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        db_.reset(db);
        if (rc != SQLITE_OK) {
            problem_ = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            return;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);

        problem_ = CheckFormat();
        if (!problem_.empty()) return;
        // WAL is set only once the file is known to be a store of ours: it rewrites the header.
        for (const char* pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"}) {
            if (sqlite3_exec(db, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) {
                problem_ = sqlite3_errmsg(db);
                return;
            }
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

    // "" when the file is a sound store of this format, or one still empty (which then gets
    // the store's tables); otherwise the reason. Reads before it writes anything.
    std::string CheckFormat() {
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
            const int64_t applicationId = header[0], formatVersion = header[1], tables = header[2];
            if (applicationId == 0 && tables == 0 && attempt == 0) {
                if (std::string problem = Initialize(); !problem.empty()) return problem;
                continue;
            }
            if (applicationId != kApplicationId)
                return "not a registry store (another program's database)";
            if (formatVersion != kFormatVersion) {
                return "registry store format " + std::to_string(formatVersion) +
                       " is not supported";
            }
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
                                       ";" + kSchema;
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

    // Reads every page of the database's structure once: a truncated or damaged file fails here
    // rather than in the middle of a later change.
    std::string QuickCheck() {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_.get(), "PRAGMA quick_check(1)", -1, &raw, nullptr) !=
            SQLITE_OK) {
            return sqlite3_errmsg(db_.get());
        }
        const StatementPtr statement(raw);
        const int rc = sqlite3_step(raw);
        if (rc != SQLITE_ROW) return sqlite3_errmsg(db_.get());
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        const std::string result = text != nullptr ? text : "";
        if (result == "ok") return {};
        return "database disk image is malformed (" + result + ")";
    }

    // The columns of the first row of a query.
    bool ReadInts(const char* sql, int64_t* values) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) return false;
        const StatementPtr statement(raw);
        if (sqlite3_step(raw) != SQLITE_ROW) return false;
        for (int i = 0; i < sqlite3_column_count(raw); ++i)
            values[i] = sqlite3_column_int64(raw, i);
        return true;
    }

    std::string path_;
    std::string problem_;
    bool opened_ = false;
    DatabasePtr db_;
    StatementPtr statements_[kStatementCount];
    Handle root_{kRootId, {}};
    std::unordered_map<RegKey, Handle> handles_;
    RegKey nextHandle_ = kFirstHandle;
    int batchDepth_ = 0;
    long batchError_ = kRegOk;
    // Counts the changes of this connection to the set of keys (and rollbacks), so that an
    // enumeration cursor can tell it is out of date.
    uint64_t keyChanges_ = 0;
};

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
long SqliteRegistry::DeleteKey(RegKey parent, const char* subKey) {
    return store_->DeleteKey(parent, subKey);
}
long SqliteRegistry::DeleteValue(RegKey key, const char* name) {
    return store_->DeleteValue(key, name);
}
long SqliteRegistry::CloseKey(RegKey key) { return store_->CloseKey(key); }
void SqliteRegistry::BeginBatch() { store_->BeginBatch(); }
void SqliteRegistry::CommitBatch() { store_->CommitBatch(); }
void SqliteRegistry::AbortBatch() { store_->AbortBatch(); }
std::string SqliteRegistry::Location() const { return store_->Location(); }
std::string SqliteRegistry::Problem() const { return store_->Problem(); }

Registry& UserRegistry() {
    // Located at the first use, so that the environment of that moment decides.
    static SqliteRegistry registry(SqliteRegistry::DefaultPath());
    return registry;
}

}  // namespace tavix::platform
