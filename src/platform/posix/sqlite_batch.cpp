// Transactions and batches: the outermost batch is one write transaction, inner ones are
// savepoints, and an operation outside a batch is a transaction of its own.
#include "platform/posix/sqlite_store.h"

namespace tavix::platform {

using namespace hive;

SqliteRegistry::Store::WriteScope::~WriteScope() {
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

long SqliteRegistry::Store::WriteScope::Begin() {
    if (inBatch_) {
        if (!store_.Flush()) return store_.batchError_;
        store_.ResetStream();
    }
    const int rc = store_.Run(inBatch_ ? kSavepointOp : kBegin);
    if (rc != SQLITE_DONE) return store_.Fail(rc);
    open_ = true;
    return kRegOk;
}

long SqliteRegistry::Store::WriteScope::Commit() {
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

long SqliteRegistry::Store::BeginBatch() {
    if (!Ready()) return kRegBadStore;
    if (batchDepth_ == 0) {
        // The write lock is taken now, waiting for another writer up to the busy timeout.
        if (const int rc = Run(kBegin); rc != SQLITE_DONE) {
            const long error = Fail(rc);
            EndTransaction();
            return error;
        }
        batchError_ = kRegOk;
        batchDepth_ = 1;
        return kRegOk;
    }
    // An inner batch is a savepoint; none opens inside a batch that has failed.
    if (const long error = Usable()) return error;
    if (!Flush()) return batchError_;
    ResetStream();
    if (const int rc = Run(kSavepointBatch); rc != SQLITE_DONE) return Fail(rc);
    ++batchDepth_;
    return kRegOk;
}

long SqliteRegistry::Store::EndBatch(bool commit) {
    if (batchDepth_ == 0) return kRegInvalidParameter;
    ++keyChanges_;
    if (batchDepth_ == 1) return EndOutermostBatch(commit);
    --batchDepth_;
    // A failed batch reports its failure at each commit, up to the outermost, which undoes it.
    if (const long error = Usable()) return error;
    if (commit) {
        if (!Flush()) return batchError_;
        ResetStream();
        if (const int rc = Run(kReleaseBatch); rc != SQLITE_DONE) return Fail(rc);
        return kRegOk;
    }
    pending_.Clear();  // made inside this batch: what came before was written
    ResetStream();
    for (const StatementId statement : {kRollbackToBatch, kReleaseBatch}) {
        if (const int rc = Run(statement); rc != SQLITE_DONE) return Fail(rc);
    }
    RolledBack();
    return kRegOk;
}

long SqliteRegistry::Store::EndOutermostBatch(bool commit) {
    long result = Ready() ? batchError_ : kRegBadStore;
    if (result == kRegOk && commit) {
        if (!Flush()) result = batchError_;
        ResetStream();
        if (result == kRegOk) result = WriteCounter();
        if (result == kRegOk) {
            if (const int rc = Run(kCommit); rc != SQLITE_DONE) result = Fail(rc);
        }
    }
    // Whatever did not land is undone, also when the commit itself failed and SQLite left the
    // transaction open.
    ResetStream();
    if (db_ && !sqlite3_get_autocommit(db_.get())) Run(kRollback);
    batchDepth_ = 0;
    batchError_ = kRegOk;
    EndTransaction();
    return result;
}

void SqliteRegistry::Store::EndTransaction() {
    pending_.Clear();
    ResetStream();
    counterLoaded_ = false;
    ForgetKnownKeys();
    ++keyChanges_;
}

void SqliteRegistry::Store::RolledBack() {
    ResetStream();
    freshFloor_ = nextId_;
    ForgetKnownKeys();
    ++keyChanges_;
}

void SqliteRegistry::Store::ForgetKnownKeys() {
    freshChildren_.clear();
    lastFresh_ = nullptr;
    marked_.clear();
    lastMarked_ = 0;
}

void SqliteRegistry::Store::KeysDeleted() {
    freshFloor_ = nextId_;
    ForgetKnownKeys();
    ++keyChanges_;
}

bool SqliteRegistry::Store::Flush() {
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

long SqliteRegistry::Store::AllocateId(int64_t* id) {
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

long SqliteRegistry::Store::WriteCounter() {
    if (!counterLoaded_ || nextId_ == counterStored_) return kRegOk;
    Query write(statements_[kWriteCounter].get());
    write.Int(1, nextId_);
    if (const int rc = write.Step(); rc != SQLITE_DONE) return Fail(rc);
    counterStored_ = nextId_;
    return kRegOk;
}

}  // namespace tavix::platform
