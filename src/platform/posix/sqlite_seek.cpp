// Finding a subkey by its place in the enumeration order, from the index.
#include "platform/posix/sqlite_store.h"

namespace tavix::platform {

using namespace hive;

long SqliteRegistry::Store::SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found) {
    if (const long error = Usable()) return error;
    Handle* handle = FindHandle(key);
    if (handle == nullptr) return kRegInvalidHandle;
    if (batchDepth_ > 0 && !Flush()) return batchError_;
    std::string fold;
    AppendFold(name, fold);
    // The subkey of that very name, else the first after it: two probes of the index.
    for (const StatementId statement : {kFindKey, kSubkeyAfter}) {
        Query query(statements_[statement].get());
        query.Int(1, handle->id).Bytes(2, fold);
        const int rc = query.Step();
        if (rc == SQLITE_DONE) continue;
        if (rc != SQLITE_ROW) return Fail(rc);
        KeyData data;
        if (!ParseKeyData(query.ColumnBytes(0), data)) return kRegIoFailed;
        found.assign(data.name);
        return kRegOk;
    }
    return Missing(handle->Where(), kRegNoMoreItems);
}

}  // namespace tavix::platform
