// Enumerating subkeys: by index outside a batch, by one stepped statement inside one.
#include "platform/posix/sqlite_store.h"

#include <cstring>

namespace tavix::platform {

using namespace hive;

long SqliteRegistry::Store::EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) {
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    if (name == nullptr) nameSize = 0;
    const auto put = [&](std::string_view text) {
        if (text.size() >= nameSize) return static_cast<long>(kRegMoreData);
        if (!text.empty()) std::memcpy(name, text.data(), text.size());
        name[text.size()] = '\0';
        return static_cast<long>(kRegOk);
    };
    if (batchDepth_ > 0) {
        if (!Flush()) return batchError_;
        if (const long error = StreamSubkey(*handle, index)) return error;
        return put(stream_.key.name);
    }

    int64_t dataVersion = 0;
    if (const long error = DataVersion(&dataVersion)) return error;
    // Enumerating index after index walks the index from the previous name instead of
    // counting from the first one, as long as nothing has changed the keys meanwhile.
    Cursor& cursor = handle->cursor;
    const bool next = cursor.valid && index == cursor.index + 1 &&
                      cursor.keyChanges == keyChanges_ && cursor.dataVersion == dataVersion;
    cursor.valid = false;
    Query query(statements_[next ? kSubkeyAfter : kSubkeyAt].get());
    query.Int(1, handle->id);
    if (next) {
        query.Bytes(2, cursor.fold);
    } else {
        query.Int(2, index);
    }
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return Missing(handle->Where(), kRegNoMoreItems);
    if (rc != SQLITE_ROW) return Fail(rc);
    KeyData found;
    if (!ParseKeyData(query.ColumnBytes(0), found)) return kRegIoFailed;
    cursor.fold.assign(query.ColumnBytes(1));
    cursor.index = index;
    cursor.keyChanges = keyChanges_;
    cursor.dataVersion = dataVersion;
    cursor.valid = true;
    return put(found.name);
}

long SqliteRegistry::Store::ForEachSubkey(RegKey key, uint32_t nameSize,
                                          const std::function<bool(SubkeyView&)>& visit) {
    if (const long error = Usable()) return error;
    Handle* found = FindHandle(key);
    if (found == nullptr) return kRegInvalidHandle;
    if (!Flush()) return batchError_;
    // A copy: opening keys during a visit may move the open handles.
    Handle parent = *found;
    StreamView view(*this);
    for (uint32_t index = 0;; ++index) {
        if (const long error = StreamSubkey(parent, index)) {
            return error == kRegNoMoreItems ? kRegOk : error;
        }
        if (stream_.key.name.size() >= nameSize) return kRegMoreData;
        view.Show(parent.id, stream_.key);
        if (!visit(view)) return kRegOk;
    }
}

long SqliteRegistry::Store::StreamSubkey(Handle& handle, uint32_t index) {
    const bool same = stream_.statement != nullptr && stream_.parent == handle.id;
    if (same && stream_.onRow && index == stream_.index) return kRegOk;
    if (!(same && stream_.onRow && index == stream_.index + 1)) {
        ResetStream();
        stream_.statement = statements_[index == 0 ? kSubkeysFrom : kSubkeysFromIndex].get();
        stream_.parent = handle.id;
        sqlite3_bind_int64(stream_.statement, 1, handle.id);
        if (index != 0) sqlite3_bind_int64(stream_.statement, 2, index);
    }
    const int rc = sqlite3_step(stream_.statement);
    if (rc != SQLITE_ROW) {
        ResetStream();
        if (rc != SQLITE_DONE) return Fail(rc);
        return KnownToExist(handle.id) ? kRegNoMoreItems
                                       : Missing(handle.Where(), kRegNoMoreItems);
    }
    if (!ParseKeyData(StatementBytes(stream_.statement, 0), stream_.key)) {
        ResetStream();
        return kRegIoFailed;
    }
    stream_.index = index;
    stream_.onRow = true;
    return kRegOk;
}

long SqliteRegistry::Store::DataVersion(int64_t* version) {
    Query query(statements_[kDataVersion].get());
    const int rc = query.Step();
    if (rc != SQLITE_ROW) return Fail(rc);
    *version = query.ColumnInt(0);
    return kRegOk;
}

long SqliteRegistry::Store::StreamView::QueryValue(const char* name, uint32_t* type, void* data,
                                                  uint32_t* size) {
    if (data != nullptr && size == nullptr) return kRegInvalidParameter;
    if (const long error = store_.Usable()) return error;
    return store_.QueryValueOf(handle_, name, type, data, size);
}

long SqliteRegistry::Store::StreamView::EnumValue(uint32_t index, std::string& name,
                                                  uint32_t* type, std::vector<uint8_t>* data) {
    if (const long error = store_.Usable()) return error;
    return store_.EnumValueOf(handle_, index, name, type, data);
}

bool SqliteRegistry::Store::StreamView::MayHaveSubkeys() {
    return !store_.StreamRowIs(handle_.id) || store_.stream_.key.mayHaveSubkeys;
}

long SqliteRegistry::Store::StreamView::OpenKey(const char* subKey, RegKey* key) {
    if (key == nullptr) return kRegInvalidParameter;
    *key = 0;
    if (const long error = store_.Usable()) return error;
    if (const long error = store_.SplitPath(subKey)) return error;
    Address found;
    if (const long error = store_.Resolve(handle_.Where(), false, &found)) return error;
    *key = store_.NewHandle(found);
    return kRegOk;
}

}  // namespace tavix::platform
