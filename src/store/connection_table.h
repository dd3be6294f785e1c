// The process-wide table of named connections.
//
// Records live in a chained hash table of 17 buckets keyed by name. Table order, which is the
// order of the Connections dialog's list, visits the buckets in turn and each chain from its
// head, so the most recently bound name of a bucket comes first. Beside the chains an index
// keeps lookups fast however many connections there are; it never changes the order. The index
// is an open-addressing table of 32-byte slots, each holding the hash of a name's fold, the
// fold's first bytes and its record: a lookup of a bound name of up to 11 bytes mostly reads
// one slot (one cache line) and nothing else.
//
// Names compare as the registry compares them, without regard to case (platform/name_fold.h):
// one name is one connection in the table and in the store.
//
// The table is a view of the store that reads what it is asked for. Load reads the default
// connection; a lookup of a name not in memory reads that one connection; a walk over every
// connection (LoadAll) reads the rest. Each record read from the store remembers what the store
// held for it, so that Save writes only what this process changed (added, changed, renamed and
// deleted connections, and the default), in one batch on top of what other processes saved
// meanwhile. An entry that could not be read is never written or deleted by a save.
//
// The table owns its records: they are created by the caller, handed to Add and deleted only
// by Remove, Clear or the table's destruction (which saves nothing).
//
// The table shows nothing to the user. What a read of the store had to pass over is kept as
// warnings until the caller takes them (TakeWarnings) and shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "connstring/connection_record.h"
#include "store/change_set.h"
#include "store/hash_key.h"

namespace tavix {

// An entry of the store that a read passed over, for the user.
struct StoreWarning {
    enum class Kind {
        kDropped,     // a connection that cannot be used (no readable or parsable string, or
                      // a name taken by another entry)
        kPassedOver,  // an entry that is not a connection this library can read
    };
    Kind kind;
    std::string text;   // the message for the user
    std::string entry;  // the entry's name (quoted, cut at 64 bytes) and why it was passed over
};

class ConnectionTable {
public:
    static constexpr uint32_t kBucketCount = 17;

    ConnectionTable();
    ~ConnectionTable();
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;

    // Registry persistence under HKEY_CURRENT_USER\Software\Vantorin\Connections.
    //
    // Load makes the table read the store: it reads the default connection now and every other
    // connection when a lookup asks for it. It returns at once while the table reads the store
    // already (after a Clear it reads again). A store with entries of the older layout is read
    // whole and saved in the current layout at once. kRegOk, or why the store cannot be read:
    // the table then stays as it was.
    long Load();
    // Load, then every connection not in memory yet, in the store's order (what a walk over
    // all connections needs: the dialog's list, FindSameTarget). Keeps one warning for each
    // entry it had to pass over, in the store's order: the dropped connections first, then the
    // entries passed over. (Load, FindSameTarget and FindOrAdd read every connection too
    // when they must, and keep warnings the same way.)
    long LoadAll();
    // Writes what changed since the connections were read or last saved, in one batch: kRegOk,
    // or why nothing was written (`modified` then stays set, and a later save tries again).
    long Save();
    // The reason the last read of the store during a lookup failed, kRegOk when none did;
    // reading it clears it. A lookup whose read failed finds nothing.
    long TakeStoreError() noexcept { return std::exchange(storeError_, 0L); }
    // The warnings of the reads since they were last taken, oldest first; taking them clears
    // them. The caller shows them to the user: the table never does.
    std::vector<StoreWarning> TakeWarnings() noexcept { return std::exchange(warnings_, {}); }
    bool ReadsStore() const noexcept { return attached_; }

    // Deletes every record; returns how many. `modified` stays as it is.
    int Clear();

    // Binds a record under its name; the table's first record becomes the default. A name
    // that is bound already (only a name with a colon can get here, since such a name is not
    // found by Lookup) is taken over: the record bound under it is deleted, and its default
    // marking passes to the new record.
    void Add(std::unique_ptr<ConnectionRecord> record);

    // Unbinds and deletes a bound record; false (and nothing done) when it is not bound.
    bool Remove(ConnectionRecord* record);
    bool RemoveByName(const char* key);

    // A record by name, or, for a key with a colon, by connection string with the name it
    // carries (equal name, server, port and namespace).
    ConnectionRecord* Lookup(const char* key);

    // The record bound under this name (colon or not), read from the store when the table
    // reads it and the name is not in memory.
    ConnectionRecord* Find(std::string_view name);

    // The first record in table order with the same server, port and namespace (after reading
    // every connection).
    ConnectionRecord* FindSameTarget(const ConnectionRecord& candidate);

    // The record a caller means by a name and/or a connection string, added when a name is
    // known and no bound record matches.
    ConnectionRecord* FindOrAdd(const char* name, const char* connectionString);

    // Makes name unique for record (which may be null): true when accepted unchanged.
    bool MakeUniqueName(const ConnectionRecord* record, std::string& name);

    // Rebinds record under a unique form of name (in memory; `modified` is the caller's).
    bool Rename(ConnectionRecord* record, std::string& name);

    // Marks the default connection and writes its name to the registry at once. A missing or
    // empty key clears the default. False for an unknown name or a registry failure.
    bool SetDefault(const char* key);

    // The records in memory, in table order (after LoadAll: every connection).
    std::vector<ConnectionRecord*> Records() const;
    size_t Count() const noexcept { return count_; }
    // True when the table holds no connection, counting those of the store not read yet.
    bool Empty();

    // The default connection: none, or a bound record. Save writes it to the store.
    ConnectionRecord* DefaultRecord() const noexcept { return defaultRecord_; }
    // Makes a bound record (or none) the default in memory only, as a view's choice: nothing is
    // written now and `modified` does not change (SetDefault writes at once).
    void MarkDefault(ConnectionRecord* record) noexcept { defaultRecord_ = record; }

    // True while the table holds changes not saved yet: set by Add, Remove and a SetDefault that
    // changes the default, cleared by a Load that reads the store and by a Save that lands.
    // Rename leaves it alone: the view that renames sets it, and clears it after seeding a
    // connection only to show.
    bool Modified() const noexcept { return modified_; }
    void SetModified(bool modified) noexcept { modified_ = modified; }

private:
    using StoredState = store::StoredConnection;

    struct Binding {
        std::string key;   // the record's name
        std::string fold;  // the key's registry fold
        std::unique_ptr<ConnectionRecord> record;
        Binding* next = nullptr;
        // What the store held for the record when it was read or last saved; none for a record
        // this process made.
        std::unique_ptr<StoredState> stored;
    };

    // A store entry that the table stands for: the binding that now holds it (perhaps under
    // another name), or none when it was removed in memory and goes at the next save.
    struct StoredEntry {
        Binding* binding;
        std::string keyName;
    };

    // A slot of the index: empty while binding is null. Aligned so that no slot straddles two
    // cache lines.
    struct alignas(32) IndexSlot {
        static constexpr size_t kInline = 11;
        static constexpr uint8_t kLong = 0xFF;  // length of a fold longer than kInline
        uint32_t hash;
        uint8_t length;
        char prefix[kInline];
        ConnectionRecord* record;
        Binding* binding;
    };
    static_assert(sizeof(IndexSlot) == 32 && offsetof(IndexSlot, prefix) == 5 &&
                  offsetof(IndexSlot, record) == 16);

    Binding* Bind(std::unique_ptr<ConnectionRecord> record, std::unique_ptr<StoredState> stored = {});
    // Binds record unless its name is bound already (then it stays with the caller).
    Binding* BindNew(std::unique_ptr<ConnectionRecord>& record);
    // Unbinds and hands back the record; a record read from the store leaves its entry to be
    // deleted at the next save.
    std::unique_ptr<ConnectionRecord> Unbind(Binding* binding);
    Binding* FindBinding(const ConnectionRecord* record) const;
    // The slot of a fold, or the empty slot where it would go.
    IndexSlot* Probe(std::string_view fold, uint64_t hash) const;
    ConnectionRecord* FindInMemory(std::string_view fold) const;
    size_t Home(uint32_t hash32) const;
    void IndexInsert(IndexSlot* slot, Binding* binding, uint64_t hash);
    void IndexErase(Binding* binding);
    void IndexGrow();
    std::string FoldOf(std::string_view name) const;

    // Reading the store (persistence.cpp).
    // Reads the connection stored under name into the table; null when there is none, it
    // cannot be used, or the read failed (storeError_ then says why).
    ConnectionRecord* Fetch(std::string_view name);
    // Reads the first connection of the store that the table does not stand for yet.
    ConnectionRecord* FetchFirst();
    // LoadAll's part after Load: the connections not in memory yet, the warnings, and the save
    // that converts entries of the older layout.
    long ReadRest();
    // Reads every connection not in memory yet, naming the entries dropped (a connection that
    // cannot be used) and passed over (not a connection), and telling whether entries of the
    // older layout were met.
    long ReadAll(std::vector<std::string>& dropped, std::vector<std::string>& passedOver,
                 bool& legacySeen);
    // Puts the records read from the store in the order a load binds them, after those this
    // process bound itself.
    void OrderAsStore(const std::vector<Binding*>& storeOrder);
    static StoredState StateOf(const ConnectionRecord& record);
    void Detach();

    std::unique_ptr<Binding*[]> buckets_;  // allocated at the first binding
    std::unique_ptr<IndexSlot[]> slots_;   // a power of two of them, at most 13/16 used
    size_t mask_ = 0;                      // slot count - 1
    unsigned shift_ = 32;                  // 32 - log2(slot count)
    size_t count_ = 0;

    bool attached_ = false;  // the table reads the store
    bool complete_ = false;  // every connection of the store is in memory
    ConnectionRecord* defaultRecord_ = nullptr;
    bool modified_ = false;
    long storeError_ = 0;
    std::vector<StoreWarning> warnings_;
    // The default connection's name as the store held it when read or last written.
    std::string storedDefault_;
    // The store entries the table stands for, by the fold of their key's name, and the folds
    // that the store was found not to hold.
    std::unordered_map<std::string, StoredEntry> storedEntries_;
    std::unordered_set<std::string> absent_;
    // The store's default names a connection not read yet: the walk that meets it marks it.
    bool defaultPending_ = false;
};

// The single table of the process.
ConnectionTable& Connections();

}  // namespace tavix
