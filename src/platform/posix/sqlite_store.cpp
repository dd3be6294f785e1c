// Opening the store, its handles, key paths, and what its failures mean.
#include "platform/posix/sqlite_store.h"

#include <cerrno>
#include <cstring>

#include "platform/posix/sqlite_file.h"

namespace tavix::platform {

using namespace hive;

std::string SqliteRegistry::Store::Problem() {
    if (!opened_) {
        // Looking creates nothing: only a file that holds data is opened, to check what it holds.
        const StoreLook look = LookAtStore(path_);
        if (!look.problem.empty() || !look.holdsData) return look.problem;
    }
    // The whole file is checked for the user once, where opening checks only its format.
    if (Ready() && !fullyChecked_ && batchDepth_ == 0) {
        fullyChecked_ = true;
        problem_ = QuickCheck(db_.get());
    }
    return problem_;
}

std::string SqliteRegistry::Store::Warning() const { return PermissionWarning(path_); }

std::string_view SqliteRegistry::Store::Address::Fold() const {
    if (name != nullptr) return name->Fold();
    return handle != nullptr ? handle->Fold() : std::string_view{};
}

long SqliteRegistry::Store::PrepareKeyPath(RegKey parent, const char* subKey, RegKey* key,
                                           Address* from) {
    if (key == nullptr) return kRegInvalidParameter;
    *key = 0;
    return PrepareKeyPath(parent, subKey, from);
}

long SqliteRegistry::Store::PrepareKeyPath(RegKey parent, const char* subKey, Address* from) {
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(parent);
    if (handle == nullptr) return kRegInvalidHandle;
    *from = handle->Where();
    return SplitPath(subKey);
}

long SqliteRegistry::Store::SplitPath(const char* path) {
    pathCount_ = 0;
    const std::string_view text = path == nullptr ? std::string_view{} : path;
    if (!text.empty() && text.front() == '\\') return kRegBadPathname;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) {
            if (pathCount_ == pathNames_.size()) pathNames_.emplace_back();
            Name& name = pathNames_[pathCount_++];
            name.Assign(text.substr(start, end - start));
            if (name.Length() > kMaxKeyNameLength) return kRegInvalidParameter;
        }
        start = end + 1;
    }
    return kRegOk;
}

RegKey SqliteRegistry::Store::NewHandle(const Address& address) {
    // Where the name is not folded yet it stays so.
    bool folded = true;
    std::string_view key;
    if (address.name != nullptr && !address.name->Folded()) {
        folded = false;
        key = address.name->Text();
    } else if (address.handle != nullptr && !address.handle->folded) {
        folded = false;
        key = address.handle->key;
    } else {
        key = address.Fold();
    }
    uint32_t index;
    if (!freeSlots_.empty()) {
        index = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        // Growing moves the handles, and key may be one's.
        newKey_.assign(key);
        key = newKey_;
        index = static_cast<uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    HandleSlot& slot = slots_[index];
    slot.used = true;
    slot.handle.id = address.id;
    slot.handle.parent = address.parent;
    slot.handle.key.assign(key);
    slot.handle.folded = folded;
    slot.handle.cursor.valid = false;
    return (static_cast<RegKey>(index) + 1) << kHandleShift | slot.generation;
}

long SqliteRegistry::Store::CloseKey(RegKey key) {
    if (key == kCurrentUser) return kRegOk;
    HandleSlot* slot = FindSlot(key);
    if (slot == nullptr) return kRegInvalidHandle;
    slot->used = false;
    ++slot->generation;
    freeSlots_.push_back(static_cast<uint32_t>((key >> kHandleShift) - 1));
    return kRegOk;
}

long SqliteRegistry::Store::Fail(int rc) {
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
        case SQLITE_FULL:
            result = kRegDiskFull;
            break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            result = kRegAccessDenied;
            break;
        case SQLITE_IOERR: {
            // A file system that refuses to grow a file is full, whichever call found out.
            const int error = sqlite3_system_errno(db_.get());
            result = error == ENOSPC || error == EDQUOT ? kRegDiskFull : kRegIoFailed;
            break;
        }
        default:
            result = kRegIoFailed;
            break;
    }
    // Any failure inside a batch fails the whole batch: what the failed statement did is gone
    // (SQLite may even have undone the transaction), so nothing of the batch may land.
    if (batchDepth_ > 0 && batchError_ == kRegOk) batchError_ = result;
    return result;
}

void SqliteRegistry::Store::Open() {
    CheckedStore checked;
    problem_ = PrepareStore(path_, &checked);
    if (!problem_.empty()) return;
    sqlite3* db = nullptr;
    // The library's calls never overlap (see the README): no mutex for each SQLite call.
    const int rc = sqlite3_open_v2(
        checked.openPath.c_str(), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
        options_.vfsName.empty() ? nullptr : options_.vfsName.c_str());
    db_.reset(db);
    if (rc != SQLITE_OK) {
        if (db != nullptr && sqlite3_extended_errcode(db) == SQLITE_CANTOPEN_SYMLINK) {
            problem_ = kLinkedFileProblem;  // made a link after it was checked
        } else {
            problem_ = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        }
        return;
    }
    problem_ = CheckStoreUnchanged(path_, checked);
    if (!problem_.empty()) return;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, options_.busyTimeoutMs);
    problem_ = CheckFormat(db);
    if (problem_.empty()) problem_ = PrepareConnection(db, &pending_, statements_);
}

}  // namespace tavix::platform
