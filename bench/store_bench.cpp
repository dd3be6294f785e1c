// The connection store: saving and loading 10,000 connections through the table on the
// library's SQLite hive, against raw SQLite writing and reading the same rows in one
// transaction (the floor), and a load's steps one by one; lookup by name at 10 and at 100,000
// connections; and, where unixODBC's development files were found, its odbc.ini store writing
// and reading 500 named entries (the store a Linux user would otherwise reach for).
//
// Everything lives in a temporary directory made at the start and removed at the end: the
// library's hive (XDG_CONFIG_HOME), the floor's database and the odbc.ini files (ODBCINI,
// ODBCSYSINI). Store benchmarks are timed in real time, since a save waits for the disk.
//
//   store_bench [benchmark flags]      runs the benchmarks
//   store_bench --save-probe=N         saves N connections through the table 6 times (into
//                                      an empty key, then over the N saved), then the same
//                                      rows through raw SQLite 6 times, each between the
//                                      lines "probe begin NAME" and "probe end NAME" written
//                                      to standard error (NAME table-save-1, ...,
//                                      raw-save-1, ...), for counting a save's system calls
//                                      under strace
//   store_bench --odbc-write=N | --odbc-read=N
//                                      one run of unixODBC's store, which the benchmark
//                                      starts in its own environment
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench_connections.h"
#if TAVIX_BENCH_ODBC
#include "odbc_ini_store.h"
#endif
#include "frame/context/library_context.h"
#include "platform/registry.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"

namespace {

using tavix::ConnectionTable;
using tavix::ContextGuard;
using tavix::bench::ConnectionName;
using tavix::bench::ConnectionString;
using tavix::bench::FillTable;

// The temporary directory of the run, and the files in it.
std::filesystem::path g_root;
std::filesystem::path RawDatabasePath() { return g_root / "raw" / "floor.db"; }
std::filesystem::path OdbcIniPath() { return g_root / "odbc" / "odbc.ini"; }

// Makes the temporary directory and points the stores there. Runs before anything touches
// the registry: the library locates its hive at the first use.
bool MakeEnvironment() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") +
                          "/tavix_store_bench.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    g_root = pattern;
    std::error_code error;
    for (const char* dir : {"config", "raw", "odbc", "odbc-system"}) {
        std::filesystem::create_directory(g_root / dir, error);
        if (error) {
            std::fprintf(stderr, "%s: %s\n", (g_root / dir).c_str(), error.message().c_str());
            return false;
        }
    }
    setenv("XDG_CONFIG_HOME", (g_root / "config").c_str(), 1);
    // unixODBC takes the user's odbc.ini from ODBCINI, or else from the home directory of the
    // password database (not from HOME); the system one from ODBCSYSINI.
    setenv("ODBCINI", OdbcIniPath().c_str(), 1);
    setenv("ODBCSYSINI", (g_root / "odbc-system").c_str(), 1);
    return true;
}

void RemoveEnvironment() {
    if (g_root.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(g_root, error);
}

// "" when the library's hive can be used, else why not.
std::string StoreProblem() { return tavix::platform::UserRegistry().Problem(); }

// The rows the table saves, in the order it saves them: name and connection string.
using Rows = std::vector<std::pair<std::string, std::string>>;

Rows TableRows(const ConnectionTable& table) {
    Rows rows;
    rows.reserve(table.Count());
    for (const tavix::ConnectionRecord* record : table.Records()) {
        rows.emplace_back(record->name, record->Format());
    }
    return rows;
}

// The floor: one table of (name, connection string) in a database of its own, opened as the
// library's hive is (no per-call mutex; WAL, synchronous FULL), written with one prepared
// INSERT per row in one transaction and read with one SELECT.
class RawStore {
public:
    RawStore() { Open(); }
    ~RawStore() {
        for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
        sqlite3_close_v2(db_);
    }
    RawStore(const RawStore&) = delete;
    RawStore& operator=(const RawStore&) = delete;

    const std::string& Problem() const { return problem_; }

    // Replaces every row with these, in one transaction.
    bool Save(const Rows& rows) {
        if (!Done(kBegin) || !Done(kDeleteAll)) return false;
        sqlite3_stmt* insert = statements_[kInsert];
        for (const auto& [name, connectionString] : rows) {
            sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, connectionString.data(),
                              static_cast<int>(connectionString.size()), SQLITE_STATIC);
            const int rc = sqlite3_step(insert);
            sqlite3_reset(insert);
            if (rc != SQLITE_DONE) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                return false;
            }
        }
        return Done(kCommit);
    }

    // Every row, into rows (emptied first).
    bool Load(Rows& rows) {
        rows.clear();
        sqlite3_stmt* select = statements_[kSelect];
        int rc;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
            rows.emplace_back(
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                            static_cast<size_t>(sqlite3_column_bytes(select, 0))),
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                            static_cast<size_t>(sqlite3_column_bytes(select, 1))));
        }
        sqlite3_reset(select);
        return rc == SQLITE_DONE;
    }

private:
    enum { kBegin, kDeleteAll, kInsert, kCommit, kSelect, kStatements };

    void Open() {
        if (sqlite3_open_v2(RawDatabasePath().c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            return Fail();
        }
        for (const char* sql : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL",
                                "CREATE TABLE IF NOT EXISTS connections("
                                "name TEXT PRIMARY KEY, connection_string TEXT NOT NULL)"}) {
            if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail();
        }
        const char* statements[] = {"BEGIN IMMEDIATE", "DELETE FROM connections",
                                    "INSERT INTO connections VALUES(?1, ?2)", "COMMIT",
                                    "SELECT name, connection_string FROM connections"};
        for (int i = 0; i < kStatements; ++i) {
            if (sqlite3_prepare_v3(db_, statements[i], -1, SQLITE_PREPARE_PERSISTENT,
                                   &statements_[i], nullptr) != SQLITE_OK) {
                return Fail();
            }
        }
    }

    void Fail() { problem_ = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open"; }

    bool Done(int statement) {
        const int rc = sqlite3_step(statements_[statement]);
        sqlite3_reset(statements_[statement]);
        return rc == SQLITE_DONE;
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[kStatements] = {};
    std::string problem_;
};

// The number of connections a fresh load from the hive finds.
size_t StoredCount() {
    ConnectionTable check;
    check.LoadAll();
    return check.Count();
}

void Items(benchmark::State& state, int64_t perIteration) {
    state.SetItemsProcessed(state.iterations() * perIteration);
}

// The table filled with count connections and saved to the hive; false (the benchmark
// skipped with the reason) when that cannot be done.
bool SavedTable(benchmark::State& state, ConnectionTable& table, int count) {
    if (const std::string problem = StoreProblem(); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return false;
    }
    if (!FillTable(table, count)) {
        state.SkipWithError("connections not made");
        return false;
    }
    table.Save();
    return true;
}

// The rows of count connections, saved by raw SQLite; false (the benchmark skipped with the
// reason) when that cannot be done.
bool SavedRows(benchmark::State& state, RawStore& raw, Rows& rows, int count) {
    {
        ConnectionTable table;
        if (!FillTable(table, count)) {
            state.SkipWithError("connections not made");
            return false;
        }
        rows = TableRows(table);
    }
    if (!raw.Problem().empty() || !raw.Save(rows)) {
        state.SkipWithError(raw.Problem().empty() ? "save failed" : raw.Problem().c_str());
        return false;
    }
    return true;
}

// Save: every connection changed (its port), then saved: the most a save writes, over the same
// connections saved before, as a save after an edit of all of them does.
void TableSave(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    ConnectionTable table;
    if (!SavedTable(state, table, count)) return;
    const std::vector<tavix::ConnectionRecord*> records = table.Records();
    int port = 1972;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string text = std::to_string(++port);
        for (tavix::ConnectionRecord* record : records) record->port = text;
        state.ResumeTiming();
        if (table.Save() != 0) {
            state.SkipWithError("save failed");
            break;
        }
    }
    if (StoredCount() != static_cast<size_t>(count)) state.SkipWithError("not all saved");
    Items(state, count);
}

std::vector<std::string> ShuffledNames(int count, bool hot);

// What a command about one connection costs with count connections stored: a new table reads
// the store (its default), finds one connection by name (FindOne), or also changes it and saves
// (SetOne). The name differs each time, so that nothing is answered from memory.
void OneConnection(benchmark::State& state, bool change) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    {
        ConnectionTable table;
        if (!SavedTable(state, table, count)) return;
        table.SetDefault(ConnectionName(0).c_str());
    }
    const std::vector<std::string> names = ShuffledNames(count, false);
    size_t next = 0;
    int port = 1;
    for (auto _ : state) {
        ConnectionTable table;
        table.Load();
        tavix::ConnectionRecord* record = table.Lookup(names[next].c_str());
        if (record == nullptr) {
            state.SkipWithError("a name was not found");
            break;
        }
        if (change) {
            record->port = std::to_string(++port);
            table.SetModified(true);
            if (table.Save() != 0) {
                state.SkipWithError("save failed");
                break;
            }
        }
        if (++next == names.size()) next = 0;
    }
    Items(state, 1);
}

void FindOne(benchmark::State& state) { OneConnection(state, false); }
void SetOne(benchmark::State& state) { OneConnection(state, true); }

void RawSqliteSave(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    Rows rows;
    RawStore raw;
    if (!SavedRows(state, raw, rows, count)) return;
    for (auto _ : state) {
        if (!raw.Save(rows)) {
            state.SkipWithError("save failed");
            break;
        }
    }
    Items(state, count);
}

// Load: Clear, then Load from the hive holding the connections.
void TableLoad(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    ConnectionTable table;
    if (!SavedTable(state, table, count)) return;
    for (auto _ : state) {
        table.Clear();
        table.LoadAll();
    }
    if (table.Count() != static_cast<size_t>(count)) state.SkipWithError("not all loaded");
    Items(state, count);
}

// Where a load's time goes: the steps of TableLoad's reading, one more at each level, through
// the registry interface in one batch as a load reads.
//   0  the connections key's subkeys enumerated
//   1  and the connection string of each read
//   2  and the icon values and the "Icon" subkey looked for, as a load does for a connection
//      without an icon
//   3  and a record made from them (and deleted)
// TableLoad adds what is left: binding each record in the table and its index, the record's
// icon, and clearing the table before each load.
void LoadSteps(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    const auto level = state.range(1);
    ContextGuard guard;
    ConnectionTable table;
    if (!SavedTable(state, table, count)) return;
    tavix::platform::Registry& registry = tavix::platform::UserRegistry();
    int visited = 0;
    const auto visit = [&](tavix::platform::SubkeyView& subkey) {
        ++visited;
        char connectionString[256];
        uint32_t type = 0, size = sizeof connectionString;
        if (level >= 1 && subkey.QueryValue(nullptr, &type, connectionString, &size) != 0) return false;
        if (level >= 2) {
            uint32_t index = 0;
            size = sizeof index;
            tavix::platform::RegKey icon = 0;
            if (subkey.QueryValue("IconIndex", &type, &index, &size) == 0 ||
                subkey.OpenKey("Icon", &icon) == 0) {
                return false;
            }
        }
        if (level >= 3) {
            auto record = std::make_unique<tavix::ConnectionRecord>();
            if (!record->Parse(std::string(subkey.Name()).c_str(), connectionString, tavix::CurrentParseDefaults())) return false;
            benchmark::DoNotOptimize(record.get());
        }
        return true;
    };
    for (auto _ : state) {
        visited = 0;
        registry.BeginBatch();
        tavix::platform::RegKey key = 0;
        if (registry.OpenKey(tavix::platform::kCurrentUser, "Software\\Vantorin\\Connections", &key) == 0) {
            registry.ForEachSubkey(key, 256, visit);
            registry.CloseKey(key);
        }
        registry.CommitBatch();
        if (visited != count) {
            state.SkipWithError("a connection was not read");
            break;
        }
    }
    Items(state, count);
}

void RawSqliteLoad(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    Rows rows;
    RawStore raw;
    if (!SavedRows(state, raw, rows, count)) return;
    Rows loaded;
    for (auto _ : state) {
        if (!raw.Load(loaded)) {
            state.SkipWithError("load failed");
            break;
        }
    }
    if (loaded.size() != rows.size()) state.SkipWithError("not all loaded");
    Items(state, count);
}

// Lookup by name, the names taken in a shuffled order: every name of the table in turn
// (Lookup), or the same 8 names over and over (LookupHot, which keeps the few records it
// touches in the cache at any size). UnorderedMapFind does the same as Lookup on a plain
// std::unordered_map<std::string, int> of the names: what any hashed lookup costs when its
// entries are spread over more memory than the cache holds.
std::vector<std::string> ShuffledNames(int count, bool hot) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) names.push_back(ConnectionName(i));
    std::mt19937 random(42);
    std::shuffle(names.begin(), names.end(), random);
    if (hot && names.size() > 8) names.resize(8);
    return names;
}

void LookupNames(benchmark::State& state, bool hot) {
    const auto count = static_cast<int>(state.range(0));
    ContextGuard guard;
    ConnectionTable table;
    if (!FillTable(table, count)) {
        state.SkipWithError("connections not made");
        return;
    }
    const std::vector<std::string> names = ShuffledNames(count, hot);
    for (const std::string& name : names) {
        if (table.Lookup(name.c_str()) == nullptr) {
            state.SkipWithError("a name was not found");
            return;
        }
    }
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.Lookup(names[next].c_str()));
        if (++next == names.size()) next = 0;
    }
    Items(state, 1);
}

void UnorderedMapFind(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    std::unordered_map<std::string, int> map;
    for (int i = 0; i < count; ++i) map.emplace(ConnectionName(i), i);
    const std::vector<std::string> names = ShuffledNames(count, false);
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(names[next]));
        if (++next == names.size()) next = 0;
    }
    Items(state, 1);
}

void Lookup(benchmark::State& state) { LookupNames(state, false); }
void LookupHot(benchmark::State& state) { LookupNames(state, true); }

#if TAVIX_BENCH_ODBC
// unixODBC's odbc.ini: one section per connection with the key "ConnString", written with
// SQLWritePrivateProfileString and read with SQLGetPrivateProfileString. Each call reads (and
// a write rewrites) the whole file, so the cost grows with the square of the entries.
//
// Each run is a program of its own (this one, started again with --odbc-write=N or
// --odbc-read=N), timed from its start to its end, as a program that writes or reads its
// entries and ends: in a process of their own the reads find unixODBC's cache of values read
// empty, and the cost does not depend on what the benchmarks before have done to the heap
// (unixODBC's calls grow and trim it each time, much more slowly in a fresh process).
constexpr const char kOdbcWrite[] = "--odbc-write=";
constexpr const char kOdbcRead[] = "--odbc-read=";
bool g_odbcWritten = false;

// The child's work: 0 done, 1 failed.
int OdbcWriteAll(int count) {
    const char* file = std::getenv("ODBCINI");
    if (file == nullptr || *file == 0) {
        std::fprintf(stderr, "ODBCINI is not set\n");
        return 1;
    }
    std::error_code error;
    std::filesystem::remove(file, error);
    for (int i = 0; i < count; ++i) {
        if (!tavix::bench::OdbcIniWrite(ConnectionName(i), "ConnString", ConnectionString(i))) {
            std::fprintf(stderr, "SQLWritePrivateProfileString failed\n");
            return 1;
        }
    }
    return 0;
}

int OdbcReadAll(int count) {
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        if (tavix::bench::OdbcIniRead(ConnectionName(i), "ConnString") != ConnectionString(i)) {
            ++wrong;
        }
    }
    if (wrong != 0) std::fprintf(stderr, "%d entries read back wrong or missing\n", wrong);
    return wrong == 0 ? 0 : 1;
}

// Runs this program again with one argument and waits for it; true when it succeeded.
bool RunChild(const std::string& argument) {
    char program[] = "/proc/self/exe";
    std::string text = argument;
    char* arguments[] = {program, text.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program, nullptr, nullptr, arguments, environ) != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OdbcWrite(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    const std::string argument = kOdbcWrite + std::to_string(count);
    g_odbcWritten = false;
    for (auto _ : state) {
        if (!RunChild(argument)) {
            state.SkipWithError("writing odbc.ini failed");
            break;
        }
        g_odbcWritten = true;
    }
    Items(state, count);
}

void OdbcRead(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    if (!g_odbcWritten && !RunChild(kOdbcWrite + std::to_string(count))) {
        state.SkipWithError("writing odbc.ini failed");
        return;
    }
    g_odbcWritten = true;
    const std::string argument = kOdbcRead + std::to_string(count);
    for (auto _ : state) {
        if (!RunChild(argument)) {
            state.SkipWithError("reading odbc.ini failed");
            break;
        }
    }
    Items(state, count);
}
#endif

// With repetitions, the fastest repetition as well (NAME_min): on a shared machine it is the
// figure least disturbed by other load.
double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

constexpr int kStoreCount = 10000;

struct Entry {
    const char* name;
    void (*function)(benchmark::State&);
};

void Register() {
    for (const Entry& entry : {Entry{"TableSave", TableSave}, Entry{"TableLoad", TableLoad},
                               Entry{"RawSqliteSave", RawSqliteSave},
                               Entry{"RawSqliteLoad", RawSqliteLoad}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Arg(kStoreCount)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
    }
    for (const Entry& entry : {Entry{"FindOne", FindOne}, Entry{"SetOne", SetOne}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Arg(1000)
            ->Arg(100000)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
    }
    for (int level = 0; level <= 3; ++level) {
        benchmark::RegisterBenchmark("LoadSteps", LoadSteps)
            ->Args({kStoreCount, level})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
    }
    for (const Entry& entry : {Entry{"Lookup", Lookup}, Entry{"LookupHot", LookupHot},
                               Entry{"UnorderedMapFind", UnorderedMapFind}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Arg(10)
            ->Arg(100000)
            ->ComputeStatistics("min", Fastest);
    }
#if TAVIX_BENCH_ODBC
    // Seconds each at 500 entries: one iteration each.
    for (const Entry& entry : {Entry{"OdbcIniWrite", OdbcWrite}, Entry{"OdbcIniRead", OdbcRead}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Arg(500)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
    }
#endif
}

// A line on standard error, written at once (strace shows it as one write).
void Mark(const char* what, const char* phase) {
    char line[128];
    const int size = std::snprintf(line, sizeof line, "probe %s %s\n", what, phase);
    if (size > 0 && ::write(STDERR_FILENO, line, static_cast<size_t>(size)) < 0) return;
}

constexpr int kProbeSaves = 6;

int SaveProbe(int count) {
    ContextGuard guard;
    ConnectionTable table;
    if (const std::string problem = StoreProblem(); !problem.empty()) {
        std::fprintf(stderr, "store: %s\n", problem.c_str());
        return 1;
    }
    if (!FillTable(table, count)) return 1;
    const Rows rows = TableRows(table);
    RawStore raw;
    if (!raw.Problem().empty()) {
        std::fprintf(stderr, "raw store: %s\n", raw.Problem().c_str());
        return 1;
    }
    // The first save of a process also creates the write-ahead log; the later ones rewrite the
    // connections saved before, and now and then the log's automatic checkpoint lands in one.
    bool saved = true;
    for (int save = 1; save <= kProbeSaves; ++save) {
        const std::string phase = "table-save-" + std::to_string(save);
        Mark("begin", phase.c_str());
        table.Save();
        Mark("end", phase.c_str());
    }
    for (int save = 1; save <= kProbeSaves; ++save) {
        const std::string phase = "raw-save-" + std::to_string(save);
        Mark("begin", phase.c_str());
        saved = raw.Save(rows) && saved;
        Mark("end", phase.c_str());
    }
    const size_t stored = StoredCount();
    std::fprintf(stderr, "probe saved %d connections: %zu in the store\n", count, stored);
    return saved && stored == static_cast<size_t>(count) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
#if TAVIX_BENCH_ODBC
    // A run of unixODBC's store, started by the benchmark in the benchmark's environment.
    if (argc == 2 && std::strncmp(argv[1], kOdbcWrite, sizeof kOdbcWrite - 1) == 0) {
        return OdbcWriteAll(std::atoi(argv[1] + sizeof kOdbcWrite - 1));
    }
    if (argc == 2 && std::strncmp(argv[1], kOdbcRead, sizeof kOdbcRead - 1) == 0) {
        return OdbcReadAll(std::atoi(argv[1] + sizeof kOdbcRead - 1));
    }
#endif
    if (!MakeEnvironment()) {
        RemoveEnvironment();
        return 1;
    }
    int status = 0;
    constexpr const char kProbe[] = "--save-probe=";
    if (argc == 2 && std::strncmp(argv[1], kProbe, sizeof kProbe - 1) == 0) {
        const int count = std::atoi(argv[1] + sizeof kProbe - 1);
        status = count > 0 ? SaveProbe(count) : 2;
    } else {
        Register();
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            status = 2;
        } else {
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        }
    }
    RemoveEnvironment();
    return status;
}
