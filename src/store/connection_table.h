// The process-wide table of named connections.
//
// Records live in a chained hash table of 17 buckets keyed by name. Table order, which is the
// order of the Connections dialog's list and of a save, visits the buckets in turn and each
// chain from its head, so the most recently bound name of a bucket comes first. Beside the
// chains an index by name keeps lookups fast however many connections there are; it never
// changes the order. The index is an open-addressing table of 32-byte slots, each holding a
// name's hash, its first bytes (the whole name when it has at most 11) and its record: a
// lookup of a bound name of up to 11 bytes mostly reads one slot (one cache line) and nothing
// else; a name not bound reads the slots up to the next empty one.
//
// The table owns its records: they are created by the caller, handed to Add and deleted only
// by Remove, Clear or the table's destruction (which saves nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connstring/connection_record.h"
#include "platform/icons.h"
#include "platform/module.h"
#include "store/hash_key.h"

namespace tavix {

class ConnectionTable {
public:
    static constexpr uint32_t kBucketCount = 17;

    ConnectionTable();
    ~ConnectionTable();
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;

    // Registry persistence under HKEY_CURRENT_USER\Software\Vantorin\Connections. Load reads
    // only while the table is empty; Save deletes the key and rewrites it from the table.
    void Load();
    void Save();

    // Deletes every record; returns how many. The images and `modified` stay as they are.
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
    ConnectionRecord* Lookup(const char* key) const;

    // The record bound under exactly this name, colon or not.
    ConnectionRecord* Find(std::string_view name) const;

    // The first record in table order with the same server, port and namespace.
    ConnectionRecord* FindSameTarget(const ConnectionRecord& candidate) const;

    // The record a caller means by a name and/or a connection string, added when a name is
    // known and no bound record matches.
    ConnectionRecord* FindOrAdd(const char* name, const char* connectionString);

    // Makes name unique for record (which may be null): true when accepted unchanged.
    bool MakeUniqueName(const ConnectionRecord* record, std::string& name) const;

    // Rebinds record under a unique form of name (in memory; `modified` is the caller's).
    bool Rename(ConnectionRecord* record, std::string& name);

    // Marks the default connection and writes its name to the registry at once. A missing or
    // empty key clears the default. False for an unknown name or a registry failure.
    bool SetDefault(const char* key);

    // Puts the icon named by the record's iconFilename and iconIndex into `images` and sets
    // its imageIndex. With iconOut the caller receives the icon the record now shows.
    // Returns false when the named file gave no icon and the missing-icon marker was used.
    bool LoadRecordIcon(platform::ModuleHandle moduleInstance, ConnectionRecord& record,
                        platform::IconHandle* iconOut = nullptr);

    // Records in table order.
    std::vector<ConnectionRecord*> Records() const;
    size_t Count() const noexcept { return count_; }
    bool Empty() const noexcept { return count_ == 0; }

    ConnectionRecord* defaultRecord = nullptr;
    int modified = 0;
    std::unique_ptr<platform::ImageList> images;

private:
    struct Binding {
        std::string key;
        std::unique_ptr<ConnectionRecord> record;
        Binding* next = nullptr;
    };

    // A slot of the index: empty while binding is null. Aligned so that no slot straddles two
    // cache lines.
    struct alignas(32) IndexSlot {
        static constexpr size_t kInline = 11;
        static constexpr uint8_t kLong = 0xFF;  // length of a name longer than kInline
        uint32_t hash;
        uint8_t length;
        char prefix[kInline];
        ConnectionRecord* record;
        Binding* binding;
    };
    static_assert(sizeof(IndexSlot) == 32 && offsetof(IndexSlot, prefix) == 5 &&
                  offsetof(IndexSlot, record) == 16);

    void Bind(std::unique_ptr<ConnectionRecord> record);
    // Binds record unless its name is bound already (then it stays with the caller).
    ConnectionRecord* BindNew(std::unique_ptr<ConnectionRecord>& record);
    std::unique_ptr<ConnectionRecord> Unbind(Binding* binding);
    Binding* FindBinding(const ConnectionRecord* record) const;
    // The slot of name, or the empty slot where it would go.
    IndexSlot* Probe(std::string_view name, uint64_t hash) const;
    size_t Home(uint32_t hash32) const;
    void IndexInsert(IndexSlot* slot, Binding* binding, uint64_t hash);
    void IndexErase(Binding* binding);
    void IndexGrow();
    void EnsureImages();
    // Reads every connection of the registry into the empty table; counts the entries dropped
    // and answers whether entries of the older layout were met (false when the read ended
    // early).
    bool ReadConnections(int& dropped);

    std::unique_ptr<Binding*[]> buckets_;  // allocated at the first binding
    std::unique_ptr<IndexSlot[]> slots_;   // a power of two of them, at most 13/16 used
    size_t mask_ = 0;                      // slot count - 1
    unsigned shift_ = 32;                  // 32 - log2(slot count)
    size_t count_ = 0;
};

// The single table of the process.
ConnectionTable& Connections();

}  // namespace tavix
