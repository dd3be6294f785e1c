// Opening, making and deleting keys.
#include "platform/posix/sqlite_store.h"

namespace tavix::platform {

using namespace hive;

long SqliteRegistry::Store::OpenKey(RegKey parent, const char* subKey, RegKey* key) {
    Address from;
    if (const long error = PrepareKeyPath(parent, subKey, key, &from)) return error;
    Address found;
    if (const long error = Resolve(from, false, &found)) return error;
    *key = NewHandle(found);
    return kRegOk;
}

long SqliteRegistry::Store::CreateKey(RegKey parent, const char* subKey, RegKey* key) {
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

long SqliteRegistry::Store::DeleteKey(RegKey parent, const char* subKey) {
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

long SqliteRegistry::Store::DeleteTree(RegKey parent, const char* subKey) {
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

long SqliteRegistry::Store::Resolve(const Address& from, bool create, Address* found) {
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

long SqliteRegistry::Store::Child(const Address& parent, const Name& name, int64_t* child,
                                  int* subkeys) {
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

long SqliteRegistry::Store::CreateChild(const Address& parent, const Name& name, bool mayDefer,
                                        int64_t* child) {
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

FoldMap* SqliteRegistry::Store::FreshChildren(int64_t id, bool create) {
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

long SqliteRegistry::Store::MarkParent(const Address& parent) {
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

long SqliteRegistry::Store::Missing(const Address& address, long result) {
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

}  // namespace tavix::platform
