// Reading, writing, deleting and enumerating values.
#include "platform/posix/sqlite_store.h"

#include <cstring>

namespace tavix::platform {

using namespace hive;

template <typename Use>
long SqliteRegistry::Store::WithKey(Handle& handle, Use use) {
    KeyData key;
    if (const PendingRow* row = pending_.Find(handle.id)) {
        if (!ParseKeyData(pending_.Data(*row), key)) return kRegIoFailed;
        return use(key);
    }
    if (StreamRowIs(handle.id)) return use(stream_.key);
    Query query(statements_[kFindKey].get());
    const Address address = handle.Where();
    query.Int(1, address.parent).Bytes(2, address.Fold());
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return kRegKeyDeleted;
    if (rc != SQLITE_ROW) return Fail(rc);
    if (!ParseKeyData(query.ColumnBytes(0), key)) return kRegIoFailed;
    if (key.id != handle.id) return kRegKeyDeleted;
    return use(key);
}

template <typename Change>
long SqliteRegistry::Store::ChangePending(PendingRow& row, Change change) {
    KeyData key;
    const std::string_view data = pending_.Data(row);
    if (!ParseKeyData(data, key)) return kRegIoFailed;
    values_.assign(key.values);
    if (const long result = change(values_); result != kRegOk) return result;
    rowData_.assign(data.substr(0, key.valuesAt));
    rowData_ += values_;
    pending_.SetData(row, rowData_);
    return kRegOk;
}

long SqliteRegistry::Store::QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                                       uint32_t* size) {
    if (data != nullptr && size == nullptr) return kRegInvalidParameter;
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    return QueryValueOf(*handle, name, type, data, size);
}

long SqliteRegistry::Store::SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                                     uint32_t size) {
    if (data == nullptr && size != 0) return kRegNoAccess;
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    const std::string_view text = name == nullptr ? "" : name;
    const std::string_view bytes(static_cast<const char*>(data), data == nullptr ? 0 : size);
    if (PendingRow* row = pending_.Find(handle->id)) {
        valueName_.Assign(text);
        return ChangePending(*row, [&](std::string& list) {
            return SetValueIn(list, valueName_, type, bytes, scratch_);
        });
    }
    BeforeWrite();
    {
        Query query(statements_[kSetValue].get());
        BindAddress(query, handle->Where()).Bytes(4, text).Int(5, type).Bytes(6, bytes);
        if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
    }
    return sqlite3_changes(db_.get()) == 0 ? kRegKeyDeleted : kRegOk;
}

long SqliteRegistry::Store::DeleteValue(RegKey key, const char* name) {
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    const std::string_view text = name == nullptr ? "" : name;
    if (PendingRow* row = pending_.Find(handle->id)) {
        valueName_.Assign(text);
        KeyData found;
        ValueEntry entry;
        if (!ParseKeyData(pending_.Data(*row), found)) return kRegIoFailed;
        if (const long error = FindValue(found.values, valueName_, entry, scratch_)) return error;
        return ChangePending(*row, [&](std::string& list) {
            return DeleteValueIn(list, valueName_, scratch_);
        });
    }
    BeforeWrite();
    {
        Query query(statements_[kDeleteValue].get());
        BindAddress(query, handle->Where()).Bytes(4, text);
        if (const int rc = query.Step(); rc != SQLITE_DONE) return Fail(rc);
    }
    return sqlite3_changes(db_.get()) == 0 ? Missing(handle->Where(), kRegNotFound) : kRegOk;
}

long SqliteRegistry::Store::EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
               std::vector<uint8_t>* data) {
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    return EnumValueOf(*handle, index, name, type, data);
}

long SqliteRegistry::Store::EnumValueOf(Handle& handle, uint32_t index, std::string& name,
                                        uint32_t* type, std::vector<uint8_t>* data) {
    return WithKey(handle, [&](const KeyData& found) {
        ValueList values(found.values);
        ValueEntry entry;
        for (uint32_t i = 0;; ++i) {
            if (!values.Next(entry)) {
                return static_cast<long>(values.Malformed() ? kRegIoFailed : kRegNoMoreItems);
            }
            if (i == index) break;
        }
        name.assign(entry.name);
        if (type != nullptr) *type = entry.type;
        if (data != nullptr) data->assign(entry.data.begin(), entry.data.end());
        return static_cast<long>(kRegOk);
    });
}

long SqliteRegistry::Store::QueryValueOf(Handle& handle, const char* name, uint32_t* type,
                                         void* data, uint32_t* size) {
    valueName_.Assign(name == nullptr ? "" : name);
    return WithKey(handle, [&](const KeyData& found) {
        ValueEntry entry;
        if (const long error = FindValue(found.values, valueName_, entry, scratch_)) return error;
        if (type != nullptr) *type = entry.type;
        if (data != nullptr && *size < entry.data.size()) {
            *size = static_cast<uint32_t>(entry.data.size());
            return static_cast<long>(kRegMoreData);
        }
        if (data != nullptr && !entry.data.empty()) {
            std::memcpy(data, entry.data.data(), entry.data.size());
        }
        if (size != nullptr) *size = static_cast<uint32_t>(entry.data.size());
        return static_cast<long>(kRegOk);
    });
}

}  // namespace tavix::platform
