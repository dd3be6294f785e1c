// What a save writes: the connections this process changed, in the registry's terms.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tavix::store {

// A connection as the store holds it: the key's name, its connection string and its icon.
struct StoredConnection {
    std::string keyName;
    std::string connectionString;
    std::string iconFile;  // 8-bit; empty when the connection has no icon file
    int32_t iconIndex = 0;
    bool operator==(const StoredConnection&) const = default;
};

struct ChangeSet {
    std::vector<std::string> deletions;     // keys to delete with everything below them
    std::vector<StoredConnection> writes;   // connections to write whole, replacing the key
    bool writeDefault = false;
    std::string defaultName;                // "" removes the default

    bool Empty() const noexcept { return deletions.empty() && writes.empty() && !writeDefault; }
};

// Applies changes below the open connections key: deletions first, then each write replaces
// its key (values and subkeys of an older layout go with it), then the default. kRegOk, or the
// first failure, after which the caller abandons its batch.
//
// Where the registry's batches do not land whole (registry.AtomicBatches() is false) the call
// must run inside a batch, which keeps the other processes of this library out. It first
// finishes a save that an earlier process left unfinished (FinishPendingSave), then writes the
// whole change set as one value of the connections key (the journal: one value write lands
// whole), applies the changes and deletes the value. A process killed after the journal landed
// leaves the save to the next process that loads or saves, which applies it again: every
// change is a deletion, a whole-key rewrite or the default, so applying one twice is as
// applying it once. When the changes fail part-way, the journal stays, for the same reason.
long ApplyChanges(platform::Registry& registry, platform::RegKey connections,
                  const ChangeSet& changes);

// The value of the connections key that holds a save's journal. No connection is a value of
// that key, and the default value has the empty name, so the name cannot be taken.
inline constexpr const char kPendingSaveValue[] = "TavixConnect Pending Save";

// The journal's bytes: "TVXJ", the format version, the length of the body, the body, and a
// CRC-32 of everything before it, all numbers 32-bit little-endian. The body holds the
// deletions, the writes (name, connection string, icon file, icon index) and the default, each
// string as its length and its bytes.
std::vector<uint8_t> EncodeChangeSet(const ChangeSet& changes);
// False, and `changes` unspecified, for bytes that are not exactly one whole journal of this
// version (truncated, extended, corrupt).
bool DecodeChangeSet(std::span<const uint8_t> bytes, ChangeSet& changes);

// Finishes a save left unfinished below the open connections key: a valid journal is applied
// again and then deleted; one that is not valid (a write cut short, or damaged) is deleted
// without applying anything. kRegOk when no journal is left; the registry's error otherwise
// (a journal whose changes failed stays for a later try). Call it inside a batch.
long FinishPendingSave(platform::Registry& registry, platform::RegKey connections);

// The same for the user's connections key, in a batch of its own; kRegOk at once where
// batches land whole (no journal is ever written there). A store without the connections key
// has nothing to finish. BeginBatch's error (kRegBusy) when the store cannot be had.
long FinishPendingSave(platform::Registry& registry);

}  // namespace tavix::store
