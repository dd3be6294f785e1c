// The SQLite hive's store: one connection to the database, the open handles, and the batch.
//
// Its operations are in sqlite_store.cpp (opening the store, handles, paths, failures),
// sqlite_keys.cpp (opening, making and deleting keys), sqlite_values.cpp (values),
// sqlite_enum.cpp (enumerating subkeys) and sqlite_batch.cpp (transactions and batches).
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
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/posix/registry_sqlite.h"
#include "platform/posix/sqlite_names.h"
#include "platform/posix/sqlite_pending.h"
#include "platform/posix/sqlite_query.h"
#include "platform/posix/sqlite_row_codec.h"
#include "platform/posix/sqlite_schema.h"

namespace tavix::platform {

class SqliteRegistry::Store {
public:
    Store(std::string path, Options options)
        : path_(std::move(path)), options_(std::move(options)) {}
    ~Store() { ResetStream(); }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& Location() const { return path_; }
    // Neither creates anything: a store that does not exist yet has no problem.
    std::string Problem();
    std::string Warning() const;

    long OpenKey(RegKey parent, const char* subKey, RegKey* key);
    long CreateKey(RegKey parent, const char* subKey, RegKey* key);
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size);
    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize);
    // Inside a batch: the subkeys from the batch's enumeration stream, each shown through a
    // handle of the view's own that the row the stream stands on answers.
    long ForEachSubkey(RegKey key, uint32_t nameSize,
                       const std::function<bool(SubkeyView&)>& visit);
    // From the index: the subkey of that name, else the first after it (sqlite_seek.cpp).
    long SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found);
    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data);
    long DeleteKey(RegKey parent, const char* subKey);
    long DeleteTree(RegKey parent, const char* subKey);
    long DeleteValue(RegKey key, const char* name);
    long CloseKey(RegKey key);

    bool InBatch() const { return batchDepth_ > 0; }
    long BeginBatch();
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
        const hive::Name* name = nullptr;
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
                hive::AppendFold(key, fold);
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
        void Show(int64_t parent, const hive::KeyData& key) {
            handle_.id = key.id;
            handle_.parent = parent;
            handle_.key.assign(key.name);
            handle_.folded = false;  // folded (in place) only when an operation needs the fold
            name_.assign(key.name);
        }
        std::string_view Name() const override { return name_; }
        long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) override;
        long OpenKey(const char* subKey, RegKey* key) override;
        long EnumValue(uint32_t index, std::string& name, uint32_t* type,
                       std::vector<uint8_t>* data) override;
        // The row's mark while the stream still stands on it; after a write during the visit
        // (which may have made subkeys) true.
        bool MayHaveSubkeys() override;

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
        hive::KeyData key;
    };

    // The result of looking for a subkey when no row answered: the parent may be gone.
    static constexpr long kNoRow = -1;

    // One operation's changes: a transaction of its own, or a savepoint inside a batch; undone
    // unless committed.
    class WriteScope {
    public:
        explicit WriteScope(Store& store) : store_(store), inBatch_(store.batchDepth_ > 0) {}
        ~WriteScope();
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;

        long Begin();
        long Commit();

    private:
        Store& store_;
        const bool inBatch_;
        bool open_ = false;
    };

    // ---- opening the store, handles, paths and failures (sqlite_store.cpp) ----

    // Opens the store at the first use; false when it cannot be used.
    bool Ready() {
        if (!opened_) {
            opened_ = true;
            Open();
        }
        return problem_.empty();
    }
    // Opens the file, creating it (and its directory) when missing, and checks that it is a
    // sound store of this format before anything is written to it. Neither the file nor its
    // directory may be a symbolic link.
    void Open();

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
    long PrepareKeyPath(RegKey parent, const char* subKey, RegKey* key, Address* from);
    long PrepareKeyPath(RegKey parent, const char* subKey, Address* from);

    // The names of a key path. Runs of separators count as one and a trailing one is ignored,
    // as the Windows registry does; a leading one is a bad path name.
    long SplitPath(const char* path);

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
    RegKey NewHandle(const Address& address);

    // The registry's code for an SQLite failure, which also fails the batch it happens in. A
    // store found corrupt is unusable from then on.
    long Fail(int rc);

    int Run(hive::StatementId statement) {
        hive::Query query(statements_[statement].get());
        return query.Step();
    }

    static hive::Query& BindAddress(hive::Query& query, const Address& address) {
        return query.Int(1, address.parent).Bytes(2, address.Fold()).Int(3, address.id);
    }

    // ---- keys (sqlite_keys.cpp) ----

    // The key at pathNames_ below from, created (with its missing parents) when create is set.
    long Resolve(const Address& from, bool create, Address* found);

    // The subkey of parent with this name: kRegOk; kRegNotFound when the parent exists and has
    // no such subkey; kNoRow when no row answered (the parent may be gone).
    long Child(const Address& parent, const hive::Name& name, int64_t* child, int* subkeys);

    // Makes the subkey name of parent, which does not have it, inside a write transaction.
    // With mayDefer, under a fresh parent inside a batch, its row waits in memory.
    long CreateChild(const Address& parent, const hive::Name& name, bool mayDefer, int64_t* child);

    // The subkeys made under a fresh key (made when create is set), null when there are none.
    // The key asked for last is remembered: a save makes all its keys under one parent.
    hive::FoldMap* FreshChildren(int64_t id, bool create);

    // Marks a key as having subkeys and lists it, once a transaction; for a key not made in
    // it this also checks that it still exists.
    long MarkParent(const Address& parent);

    // The result for a missing row: kRegKeyDeleted when the key itself is gone.
    long Missing(const Address& address, long result);

    // A key made in this batch's transaction since its last delete or rollback.
    bool IsFresh(int64_t id) const {
        return batchDepth_ > 0 && counterLoaded_ && id >= freshFloor_;
    }

    bool KnownToExist(int64_t id) {
        return id == hive::kRootId || IsFresh(id) || StreamRowIs(id) ||
               (stream_.onRow && stream_.parent == id);
    }

    // ---- values (sqlite_values.cpp) ----

    // QueryValue on an open handle.
    long QueryValueOf(Handle& handle, const char* name, uint32_t* type, void* data,
                      uint32_t* size);
    // EnumValue on an open handle.
    long EnumValueOf(Handle& handle, uint32_t index, std::string& name, uint32_t* type,
                     std::vector<uint8_t>* data);

    // Runs use(key) on the key's data: from memory when it is there, else read.
    template <typename Use>
    long WithKey(Handle& handle, Use use);

    // Changes the values of a waiting row with change(list).
    template <typename Change>
    long ChangePending(hive::PendingRow& row, Change change);

    // ---- enumeration (sqlite_enum.cpp) ----

    // Steps the enumeration of handle's subkeys to index.
    long StreamSubkey(Handle& handle, uint32_t index);

    // Changes whenever another connection commits. Only asked outside a batch.
    long DataVersion(int64_t* version);

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

    // ---- transactions and batches (sqlite_batch.cpp) ----

    // Commits or undoes the innermost batch; kRegOk, or why the batch failed.
    long EndBatch(bool commit);
    long EndOutermostBatch(bool commit);

    // The transaction has ended: nothing of it is known any more.
    void EndTransaction();

    // Part of the transaction was undone: no key made so far counts as fresh, and the marks
    // set may be gone.
    void RolledBack();

    void ForgetKnownKeys();

    // Keys were deleted: a fresh key may be among them, and a marked one.
    void KeysDeleted();

    // Writes the waiting rows, all in one statement. A failure fails the batch: the keys were
    // reported made.
    bool Flush();

    // A new key id, inside a write transaction: the counter is read once a transaction and
    // written back at its commit.
    long AllocateId(int64_t* id);
    long WriteCounter();

    std::string path_;
    Options options_;
    std::string problem_;
    bool opened_ = false;
    bool fullyChecked_ = false;
    hive::DatabasePtr db_;
    hive::StatementPtr statements_[hive::kStatementCount];
    Handle root_{hive::kRootId, 0, {}, true, {}};
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
    std::vector<hive::Name> pathNames_;
    size_t pathCount_ = 0;
    hive::Name valueName_;
    std::string scratch_;

    // The write transaction's counter of key ids, read at its first new key.
    bool counterLoaded_ = false;
    int64_t nextId_ = 0;
    int64_t counterStored_ = 0;
    // Keys with ids from freshFloor_ on are fresh; the subkeys of those that have some.
    int64_t freshFloor_ = 0;
    std::unordered_map<int64_t, hive::FoldMap> freshChildren_;
    // The keys marked in this transaction as having subkeys.
    std::unordered_set<int64_t> marked_;
    hive::FoldMap* lastFresh_ = nullptr;  // freshChildren_'s entry for lastFreshId_
    int64_t lastFreshId_ = 0;
    int64_t lastMarked_ = 0;  // 0: none
    hive::PendingRows pending_;
    std::string values_;   // a value list being changed
    std::string rowData_;  // a data column being made
    Stream stream_;
};

}  // namespace tavix::platform
