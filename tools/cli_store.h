// The tool's own view of the user's store: the outcome of a store operation, from the
// library's last error or the registry's result, and the reads that `list`, `show` and
// `default` make directly on the registry (the tool's own copy of it), each in one batch and
// without loading the library's table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace cli {

using tavix::platform::Registry;

inline constexpr char kConnectionsKey[] = "Software\\Vantorin\\Connections";

// What a store operation came to.
enum class Outcome {
    kDone,
    kNotFound,  // no such connection
    kRefused,   // not a connection string, or a name the store cannot hold
    kBusy,      // locked by another process past the busy timeout
    kFull,      // no space left on the store's device
    kIoError,   // reading or writing the store failed
    kUnusable,  // not a database, corrupt, a symbolic link, ...
    kDenied,    // the store may not be read or written
    kNoMemory,
    kFailed,    // any other code
};

// From a registry result code, and from the thread's last error after an export (errno, or
// GetLastError() on Windows, where the two are the same codes).
Outcome FromRegistry(long code);
Outcome FromLastError(unsigned long code);
unsigned long LastError();
void ClearLastError();

// Whether the outcome is a failure of the store itself (exit status kExitStore).
bool IsStoreFailure(Outcome outcome);

// The store for messages: its file, or on Windows the registry key.
std::string StoreName(Registry& registry);

// One line for a failure of the store ("the store is locked by another process", "no space
// left on device: FILE", ...). code is shown for kFailed only. Problem() is asked for the
// reason only when the store is unusable.
std::string StoreFailureText(Outcome outcome, unsigned long code, Registry& registry);

// A connection as the store keeps it. Text is 8-bit text of the store (the ANSI code page on
// Windows, UTF-8 elsewhere), except the connection string.
struct StoredConnection {
    std::string name;              // as stored
    std::string connectionString;  // UTF-8, joined again from the parts SplitConnectionString finds
    bool isDefault = false;
    bool hasIcon = false;
    std::string iconFile;
    int32_t iconIndex = 0;
};

// An entry of the connections key that the library cannot use, and why.
struct SkippedEntry {
    std::string key;  // the subkey's name
    std::string why;
};

// Every connection the library can use, in the order of the library's table (the store's
// order reversed within each of its 17 buckets of the name's hash), and the entries passed
// over, in the store's order. One walk over the connections key in one batch: kRegOk, or the
// registry's code (kRegOk with nothing when there is no connections key).
long ReadConnectionList(Registry& registry, std::vector<StoredConnection>& connections,
                        std::vector<SkippedEntry>& skipped);

// The connection named `name` (8-bit; compared as the registry compares names): kRegOk,
// kRegNotFound, or the registry's code. When an entry of that name exists but cannot be used,
// kRegOk with `unusable` saying why.
long ReadConnection(Registry& registry, std::string_view name, StoredConnection& connection,
                    std::string& unusable);

// The default connection's name as the connection's key writes it ("" when there is none);
// `dangling` receives the stored default name when it names no usable connection.
long ReadDefaultConnection(Registry& registry, std::string& name, std::string& dangling);

}  // namespace cli
