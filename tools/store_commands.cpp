// Commands on the user's connections.
//
// `set`, `delete`, `default NAME` and `name` go through the library's exports, which open the
// store once for the command; after each call the thread's last error tells what became of it,
// and a command exits 0 only when the change is in the store. `show`, `list`, `default` and
// `export` read the store directly (the tool's own copy of the registry, as regedit would) in
// one batch, never through a load of the library's table; `import` writes it in one batch.
// `where` only looks.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "cli.h"
#include "cli_json.h"
#include "cli_store.h"
#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "platform/registry.h"
#include "store/reg_file.h"
#include "store/stored_name.h"

#if defined(_WIN32)
#  include <fcntl.h>
#  include <io.h>
#  include <windows.h>
#else
#  include <sys/stat.h>
#  include <unistd.h>

#  include <cerrno>
#  include <climits>
#endif

namespace cli {

namespace {

using tavix::platform::kRegNotFound;
using tavix::platform::kRegOk;
using tavix::platform::UserRegistry;

// The store's warning (a usable store that should be fixed), one line, at every store command.
void WarnAboutStore() {
    const std::string warning = UserRegistry().Warning();
    if (!warning.empty()) std::fprintf(stderr, "tavixconnect: warning: %s\n", Escaped(Utf8FromNarrow(warning)).c_str());
}

// A failure of the store after an export (code: the thread's last error) or a direct read or
// write (code: the registry's result).
int FailStore(Outcome outcome, unsigned long code, const std::string& prefix = {}) {
    return Fail(kExitStore, prefix + StoreFailureText(outcome, code, UserRegistry()));
}
int FailRead(long code) { return FailStore(FromRegistry(code), static_cast<unsigned long>(code)); }

// After an export: the thread's last error, or the store's failure as the command's result.
struct LastOutcome {
    unsigned long code;
    Outcome outcome;
};
LastOutcome TakeLastError() {
    const unsigned long code = LastError();
    return {code, FromLastError(code)};
}

// Built by appending: gcc 12 at -O3 misreads "\"" + string as an overlapping copy.
std::string QuotedText(const std::string& utf8) {
    std::string quoted = "\"";
    quoted += Escaped(utf8);
    quoted += '"';
    return quoted;
}
std::string Quoted(const WideString& text) { return QuotedText(Utf8(text)); }
std::string QuotedNarrow(const std::string& text) { return QuotedText(Utf8FromNarrow(text)); }

// Why the store cannot hold name, as a line naming it, or "".
std::string NameRefusal(const WideString& name) {
    const char* problem = tavix::store::StoredNameProblem(Narrow(name));
    return problem == nullptr ? std::string() : "the connection name " + Quoted(name) + " " + problem;
}

// Whether the exports' parser finds a connection string in text, with a name in front or not.
bool SplitsAsConnectionString(const WideString& text) {
    if (SplitConnectionString(text.c_str(), nullptr, nullptr)) return true;
    const size_t colon = text.find(OLECHAR(':'));
    return colon != WideString::npos && SplitConnectionString(text.c_str() + colon + 1, nullptr, nullptr);
}

// What `set` says when the library refused the connection string.
std::string ConnectionStringRefusal(const WideString& connString, bool nameFromString) {
    if (SplitsAsConnectionString(connString) && Narrow(connString).size() > 255) {
        return "the connection string is longer than the store holds (255 bytes): " + Quoted(connString);
    }
    if (nameFromString) {
        return "not a connection string, or the name it carries cannot be stored: " + Quoted(connString);
    }
    return "not a connection string: " + Quoted(connString);
}

// Code points of UTF-8 text, for columns.
size_t Columns(std::string_view text) {
    size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

unsigned long ProcessId() {
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// Puts the file from in the place of to, replacing what is there.
bool ReplaceFile(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    // The names as the file streams take them.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// The connection named name, read from the store: kExitOk, or the command's failure (no such
// connection, one the library cannot use, a failed store), its line printed.
int ReadUsable(const WideString& name, StoredConnection& connection) {
    std::string unusable;
    const long read = ReadConnection(UserRegistry(), Narrow(name), connection, unusable);
    if (read == kRegNotFound) return Fail(kExitNo, "no connection named " + Quoted(name));
    if (read != kRegOk) return FailRead(read);
    if (!unusable.empty()) return Fail(kExitNo, "the connection " + Quoted(name) + " cannot be used: " + Escaped(unusable));
    return kExitOk;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string AbsolutePath(const std::string& path) {
#if defined(_WIN32)
    char full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
#else
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : path;
#endif
}

}  // namespace

int List(const Args& args) {
    WarnAboutStore();
    const bool json = args.Has("--json");
    ConnectionList connections;
    std::vector<SkippedEntry> skipped;
    if (const long read = ReadConnectionList(UserRegistry(), connections, skipped, json); read != kRegOk) {
        return FailRead(read);
    }
    for (const SkippedEntry& entry : skipped) {
        std::fprintf(stderr, "tavixconnect: warning: skipped %s: %s\n", QuotedNarrow(entry.key).c_str(),
                     Escaped(entry.why).c_str());
    }
    if (json) {
        // An array, one connection a line.
        std::string text = "[";
        for (size_t i = 0; i < connections.size(); ++i) {
            const std::string name = Utf8FromNarrow(std::string(connections.Name(i)));
            const std::string iconFile = Utf8FromNarrow(std::string(connections.IconFile(i)));
            text += i == 0 ? "\n" : ",\n";
            AppendJsonConnection(text, {name, connections.ConnectionString(i),
                                        connections.HasIcon(i) ? std::optional<std::string_view>(iconFile)
                                                               : std::nullopt,
                                        connections.IconIndex(i), connections.IsDefault(i)});
        }
        text += "\n]\n";
        Print(text);
        return kExitOk;
    }
    // A name as printed: most names are printable ASCII, the same in every code page, and
    // escape to themselves.
    std::string escaped;
    const auto printedName = [&](size_t i) -> std::pair<std::string_view, size_t> {
        const std::string_view name = connections.Name(i);
        if (PlainPrefix(name) == name.size()) return {name, name.size()};
        escaped = Escaped(Utf8FromNarrow(std::string(name)));
        return {escaped, Columns(escaped)};
    };
    // The names' column is as wide as the widest printed name.
    size_t width = 0;
    for (size_t i = 0; i < connections.size(); ++i) width = std::max(width, printedName(i).second);
    // Written in blocks as the lines are made: the whole list is never a second copy.
    constexpr size_t kBlock = 64 * 1024;
    std::string text;
    text.reserve(kBlock + 1024);
    for (size_t i = 0; i < connections.size(); ++i) {
        const auto [name, columns] = printedName(i);
        text.append(connections.IsDefault(i) ? "* " : "  ").append(name);
        text.append(width - columns + 2, ' ');
        AppendEscaped(text, connections.ConnectionString(i));
        text.push_back('\n');
        if (text.size() >= kBlock) {
            Print(text);
            text.clear();
        }
    }
    Print(text);
    return kExitOk;
}

int Show(const Args& args) {
    const WideString& name = args.positional[0];
    if (const std::string refusal = NameRefusal(name); !refusal.empty()) return Fail(kExitNo, refusal);
    WarnAboutStore();
    StoredConnection connection;
    if (const int failed = ReadUsable(name, connection); failed != kExitOk) return failed;
    if (args.Has("--json")) {
        const std::string utf8Name = Utf8FromNarrow(connection.name);
        const std::string iconFile = Utf8FromNarrow(connection.iconFile);
        std::string text;
        AppendJsonConnection(text, {utf8Name, connection.connectionString,
                                    connection.hasIcon ? std::optional<std::string_view>(iconFile) : std::nullopt,
                                    connection.iconIndex, connection.isDefault});
        Print(text + "\n");
        return kExitOk;
    }
    std::string text = "name:       " + Escaped(Utf8FromNarrow(connection.name)) +
                       "\nconnection: " + Escaped(connection.connectionString) +
                       "\ndefault:    " + (connection.isDefault ? "yes" : "no") + "\n";
    if (connection.hasIcon) {
        text += "icon:       " + Escaped(Utf8FromNarrow(connection.iconFile)) + ", index " +
                std::to_string(connection.iconIndex) + "\n";
    }
    Print(text);
    return kExitOk;
}

int Name(const Args& args) {
    WarnAboutStore();
    ClearLastError();
    Bstr name(FindConnectionName(args.Positional(0)));
    const LastOutcome last = TakeLastError();
    if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    if (name.text == nullptr) return Fail(kExitNo, "no connection matches " + Quoted(args.positional[0]));
    Print(Escaped(Utf8(name.text)) + "\n");
    return kExitOk;
}

int Set(const Args& args) {
    const WideString& name = args.positional[0];
    const WideString& connString = args.positional[1];
    WideString iconFile;
    int iconIndex = 0;
    if (args.Has("--index") && !args.Has("--icon")) return UsageError("--index goes with --icon");
    if (args.Has("--icon")) {
        iconFile = WideFromUtf8(AbsolutePath(Utf8(args.options.at("--icon"))));
        if (args.Has("--index")) {
            const std::string text = Utf8(args.options.at("--index"));
            char* end = nullptr;
            const long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != 0 || value < INT32_MIN || value > INT32_MAX) {
                return UsageError("--index takes a whole number, not \"" + Escaped(text) + "\"");
            }
            iconIndex = static_cast<int>(value);
        }
    }
    // An empty name: the connection string carries it (the library checks that one).
    if (!name.empty()) {
        if (const std::string refusal = NameRefusal(name); !refusal.empty()) return Fail(kExitNo, refusal);
    }
    WarnAboutStore();
    const bool save = !args.Has("--no-save");
    ClearLastError();
    SetConnection(name.c_str(), connString.c_str(), iconFile.empty() ? nullptr : iconFile.c_str(), iconIndex,
                  save ? 1 : 0);
    const LastOutcome last = TakeLastError();
    if (last.outcome == Outcome::kRefused) return Fail(kExitNo, ConnectionStringRefusal(connString, name.empty()));
    if (last.outcome != Outcome::kDone) return FailStore(last.outcome, last.code);
    if (!save) Print("not saved (--no-save): the change ends with this process\n");
    return kExitOk;
}

int Delete(const Args& args) {
    const WideString& name = args.positional[0];
    if (const std::string refusal = NameRefusal(name); !refusal.empty()) return Fail(kExitNo, refusal);
    WarnAboutStore();
    // The lookup reads the connection from the store; the deletion is made in memory and
    // written by the save.
    ClearLastError();
    BSTR found = FindConnection(name.c_str(), nullptr);
    LastOutcome last = TakeLastError();
    SysFreeString(found);
    if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    ClearLastError();
    const int removed = DeleteConnection(name.c_str());
    last = TakeLastError();
    if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    if (!removed) return Fail(kExitNo, "no connection named " + Quoted(name));
    ClearLastError();
    SetConnection(nullptr, nullptr, nullptr, 0, 1);
    last = TakeLastError();
    if (last.outcome != Outcome::kDone) return FailStore(last.outcome, last.code);
    return kExitOk;
}

namespace {

// rename and copy: the connection named from is added again as to, with its connection string
// and icon, through the library's table, which saves the change whole. A rename also deletes
// from (first, so that a change of case alone is a rename too) and passes the default on.
int CopyConnection(const Args& args, bool rename) {
    const WideString& from = args.positional[0];
    const WideString& to = args.positional[1];
    for (const WideString* name : {&from, &to}) {
        if (const std::string refusal = NameRefusal(*name); !refusal.empty()) return Fail(kExitNo, refusal);
    }
    WarnAboutStore();
    StoredConnection source;
    if (const int failed = ReadUsable(from, source); failed != kExitOk) return failed;
    std::string unusable;
    const bool sameName = tavix::platform::Fold(Narrow(from), tavix::platform::SystemCodePage()) ==
                          tavix::platform::Fold(Narrow(to), tavix::platform::SystemCodePage());
    if (sameName && !rename) return Fail(kExitNo, "a connection named " + Quoted(to) + " exists already");
    if (!sameName) {
        StoredConnection existing;
        const long taken = ReadConnection(UserRegistry(), Narrow(to), existing, unusable);
        if (taken == kRegOk) return Fail(kExitNo, "a connection named " + QuotedNarrow(existing.name) + " exists already");
        if (taken != kRegNotFound) return FailRead(taken);
    }

    const WideString connString = WideFromUtf8(source.connectionString);
    const WideString iconFile = source.hasIcon ? WideFromNarrow(source.iconFile) : WideString();
    // The lookups read the connections into the library's table, where the changes are made.
    for (const WideString* name : {&from, &to}) {
        ClearLastError();
        SysFreeString(FindConnection(name->c_str(), nullptr));
        if (const LastOutcome last = TakeLastError(); IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    }
    ClearLastError();
    if (rename && !DeleteConnection(from.c_str())) {
        const LastOutcome last = TakeLastError();
        if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
        return Fail(kExitNo, "no connection named " + Quoted(from));
    }
    SetConnection(to.c_str(), connString.c_str(), source.hasIcon ? iconFile.c_str() : nullptr,
                  source.hasIcon ? source.iconIndex : 0, 0);
    LastOutcome last = TakeLastError();
    if (last.outcome != Outcome::kDone) return FailStore(last.outcome, last.code);
    // The default follows a rename: the table names the new connection as default before the
    // save, which writes the deletion, the new key and the default in one batch.
    if (rename && source.isDefault) {
        ClearLastError();
        if (!SetDefaultConnection(to.c_str())) {
            last = TakeLastError();
            return FailStore(last.outcome, last.code);
        }
    }
    ClearLastError();
    SetConnection(nullptr, nullptr, nullptr, 0, 1);
    last = TakeLastError();
    if (last.outcome != Outcome::kDone) return FailStore(last.outcome, last.code);
    return kExitOk;
}

}  // namespace

int Rename(const Args& args) { return CopyConnection(args, true); }
int Copy(const Args& args) { return CopyConnection(args, false); }

int Default(const Args& args) {
    if (args.positional.empty()) {
        WarnAboutStore();
        std::string name, dangling;
        if (const long read = ReadDefaultConnection(UserRegistry(), name, dangling); read != kRegOk) {
            return FailRead(read);
        }
        if (!dangling.empty()) {
            return Fail(kExitNo, "no default connection: the store names " + QuotedNarrow(dangling) +
                                     ", which is not a usable connection");
        }
        if (name.empty()) return Fail(kExitNo, "no default connection");
        Print(Escaped(Utf8FromNarrow(name)) + "\n");
        return kExitOk;
    }
    const WideString& name = args.positional[0];
    if (!name.empty()) {
        if (const std::string refusal = NameRefusal(name); !refusal.empty()) return Fail(kExitNo, refusal);
    }
    WarnAboutStore();
    ClearLastError();
    BSTR found = FindConnection(nullptr, nullptr);
    LastOutcome last = TakeLastError();
    SysFreeString(found);
    if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    ClearLastError();
    const int done = SetDefaultConnection(name.c_str());
    last = TakeLastError();
    if (IsStoreFailure(last.outcome)) return FailStore(last.outcome, last.code);
    if (!done) return Fail(kExitNo, "no connection named " + Quoted(name));
    return kExitOk;
}

int Export(const Args& args) {
    WarnAboutStore();
    tavix::platform::Registry& registry = UserRegistry();
    // To a file: written beside it under a name of its own and put in its place only when
    // complete, so a failure never leaves a part of an export, or none, where a whole one was.
    const bool toFile = args.Has("-o");
    const std::string path = toFile ? Utf8(args.options.at("-o")) : std::string();
    const std::string partial = path + ".partial-" + std::to_string(ProcessId());
    std::ofstream file;
    if (toFile) {
        file.open(partial, std::ios::binary | std::ios::trunc);
        if (!file) return Fail(kExitNo, "cannot write " + Escaped(path));
    } else {
#if defined(_WIN32)
        // UTF-16 bytes: no line-end translation on the way out.
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
#endif
    }
    const tavix::store::RegFileSink sink = [&](std::string_view block) {
        if (toFile) return static_cast<bool>(file.write(block.data(), static_cast<std::streamsize>(block.size())));
        return std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
    };
    const auto failed = [&](int status) {
        if (toFile) {
            file.close();
            std::remove(partial.c_str());
        }
        return status;
    };

    if (const long begun = registry.BeginBatch(); begun != kRegOk) return failed(FailRead(begun));
    std::string error;
    long storeError = kRegOk;
    tavix::platform::RegKey key = 0;
    long opened = registry.OpenKey(tavix::platform::kCurrentUser, kConnectionsKey, &key);
    if (opened == kRegOk) registry.CloseKey(key);
    const bool exported = opened == kRegOk && tavix::store::ExportRegFile(registry, kConnectionsKey, sink, &error,
                                                                          tavix::store::ConnectionRules(), &storeError);
    if (!exported) {
        registry.AbortBatch();
        if (opened != kRegOk) storeError = opened;
        if (storeError == kRegNotFound) return failed(Fail(kExitNo, "no connections saved yet: nothing to export"));
        if (storeError != kRegOk) return failed(FailRead(storeError));
        if (error == "cannot write the file") return failed(Fail(kExitNo, "cannot write " + (toFile ? Escaped(path) : "standard output")));
        return failed(Fail(kExitNo, Utf8FromNarrow(error)));
    }
    if (const long committed = registry.CommitBatch(); committed != kRegOk) return failed(FailRead(committed));
    if (!toFile) return std::fflush(stdout) == 0 ? kExitOk : Fail(kExitNo, "cannot write standard output");
    if (!file.flush() || (file.close(), file.fail()) || !ReplaceFile(partial, path)) {
        return failed(Fail(kExitNo, "cannot write " + Escaped(path)));
    }
    return kExitOk;
}

int Import(const Args& args) {
    const std::string path = Utf8(args.positional[0]);
    std::string bytes, error;
    if (!ReadFile(path, bytes)) return Fail(kExitNo, "cannot read " + Escaped(path));
    WarnAboutStore();
    long storeError = kRegOk;
    // The file's name goes into the messages, which are the store's 8-bit text.
    if (!tavix::store::ImportRegFile(UserRegistry(), bytes, Narrow(args.positional[0]), error,
                                     tavix::store::ConnectionRules(), &storeError)) {
        const Outcome outcome = FromRegistry(storeError);
        if (IsStoreFailure(outcome)) return FailStore(outcome, static_cast<unsigned long>(storeError), "not imported: ");
        return Fail(kExitNo, Utf8FromNarrow(error));
    }
    return kExitOk;
}

int Where(const Args&) {
    tavix::platform::Registry& registry = UserRegistry();
    const std::string location = registry.Location();
    const std::string warning = registry.Warning();
    int status = kExitOk;
    std::string text;
    if (location.empty()) {
        text = "store: HKEY_CURRENT_USER\\" + std::string(kConnectionsKey) + " (the Windows registry)\n";
    } else {
        text = "store: " + Escaped(Utf8FromNarrow(location)) + "\nstate: ";
#if !defined(_WIN32)
        // Nothing is opened when there is no file yet: looking never makes one.
        struct stat info {};
        if (lstat(location.c_str(), &info) != 0 && errno == ENOENT) {
            text += "no store yet (the file is made at the first save)\n";
        } else
#endif
        {
            const std::string problem = registry.Problem();
            if (problem.empty()) {
                text += "ok\n";
            } else {
                text += "unusable: " + Escaped(Utf8FromNarrow(problem)) + "\n";
                status = kExitStore;
            }
        }
    }
    if (!warning.empty()) text += "warning: " + Escaped(Utf8FromNarrow(warning)) + "\n";
    Print(text);
    return status;
}

}  // namespace cli
