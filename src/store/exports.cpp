// The exported store functions: thin layers over the connection table. Each leaves its outcome
// in the thread's last error (see the header): 0, not found, refused, or the store's failure.
#include "TavixConnect.h"
#include "dialogs/store_warnings.h"
#include "frame/context/boundary.h"
#include "frame/app/call_frame.h"
#include "icons/record_icon.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"
#include "store/stored_name.h"

using namespace tavix;

namespace {

// The table read from the store (as far as the call needs it); false, with the reason in the
// outcome, when the store cannot be read. What the read passed over is shown to the user.
bool Loaded(ConnectionTable& table, StoreOutcome& outcome) {
    const long error = table.Load();
    ShowStoreWarnings(table);
    outcome.Fail(error);
    return error == 0;
}

// A lookup's answer: a record, or not found, or the store's failure.
ConnectionRecord* Found(ConnectionTable& table, ConnectionRecord* record, StoreOutcome& outcome) {
    if (const long error = table.TakeStoreError()) {
        outcome.Fail(error);
        return nullptr;
    }
    if (record == nullptr) outcome.Fail(platform::kRegNotFound);
    return record;
}

// The longest connection string that a load reads back (through a 256-byte buffer).
constexpr size_t kMaxStoredConnectionString = 255;

}  // namespace

extern "C" {

TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnection(const OLECHAR* name, HICON* icon) {
    return RunStoreExport<BSTR>(nullptr, [&](StoreOutcome& outcome) -> BSTR {
        ConnectionTable& table = Connections();
        if (!Loaded(table, outcome)) return nullptr;
        const NarrowArg key(name);
        ConnectionRecord* record = Found(table, table.Lookup(key.get()), outcome);
        if (record == nullptr) return nullptr;
        // The icon as the Connections dialog shows it: the file's, the default, or the marker.
        if (icon != nullptr) *icon = static_cast<HICON>(icons::NewRecordIcon(Library().module, *record));
        return NewBstrFromNarrow(record->Format());
    });
}

TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnectionName(const OLECHAR* connString) {
    return RunStoreExport<BSTR>(nullptr, [&](StoreOutcome& outcome) -> BSTR {
        ConnectionTable& table = Connections();
        if (!Loaded(table, outcome)) return nullptr;
        const NarrowArg text(connString);
        ConnectionRecord* found = table.FindOrAdd(nullptr, text.get());
        ShowStoreWarnings(table);  // a string without a name reads every connection
        ConnectionRecord* record = Found(table, found, outcome);
        return record ? NewBstrFromNarrow(record->name) : nullptr;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI SetConnection(const OLECHAR* name, const OLECHAR* connString,
                                               const OLECHAR* iconFile, int iconIndex, int save) {
    return RunStoreExport(0, [&](StoreOutcome& outcome) {
        ConnectionTable& table = Connections();
        // A store that cannot be read is never written over: nothing changes.
        if (!Loaded(table, outcome)) return 0;
        const NarrowArg nameText(name), connText(connString);
        if (nameText.view().empty() && connText.view().empty()) {
            if (save) outcome.Fail(table.Save());
            return 0;
        }
        auto candidate = std::make_unique<ConnectionRecord>();
        candidate->Parse(nameText.get(), connText.get(), CurrentParseDefaults());
        // Refused where it enters: what does not parse, a name the store cannot hold as one
        // key, a connection string longer than a load reads back.
        if (candidate->name.empty() || store::StoredNameProblem(candidate->name) != nullptr ||
            candidate->Format().size() > kMaxStoredConnectionString) {
            outcome.Fail(platform::kRegInvalidParameter);
            return 0;
        }

        ConnectionRecord* target = candidate.get();
        ConnectionRecord* found = table.Lookup(candidate->name.c_str());
        if (const long error = table.TakeStoreError()) {
            outcome.Fail(error);
            return 0;
        }
        if (found != nullptr) {
            // One name is one connection, however it is written: the bound name's case stays
            // unless the caller writes it otherwise.
            if (found->Equals(*candidate)) {
                target = found;
                candidate.reset();
            } else {
                table.Remove(found);
            }
        }
        if (candidate) table.Add(std::move(candidate));

        if (iconFile != nullptr && *iconFile != 0) {
            UniqueBstr copy(NewBstr(WideView(iconFile)));
            if (copy) {
                target->iconFilename = std::move(copy);
                target->iconIndex = iconIndex;
            }
        }
        if (save) outcome.Fail(table.Save());
        return 0;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI DeleteConnection(const OLECHAR* name) {
    return RunStoreExport(0, [&](StoreOutcome& outcome) {
        ConnectionTable& table = Connections();
        const NarrowArg key(name);
        ConnectionRecord* record = Found(table, table.Lookup(key.get()), outcome);
        return record != nullptr && table.Remove(record) ? 1 : 0;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI EnumConnections() {
    return RunStoreExport(0, [](StoreOutcome&) { return 0; });
}

TAVIXCONNECT_EXPORT int TAVIXAPI SetDefaultConnection(const OLECHAR* name) {
    return RunStoreExport(0, [&](StoreOutcome& outcome) {
        ConnectionTable& table = Connections();
        const NarrowArg key(name);
        if (table.SetDefault(key.get())) return 1;
        outcome.Fail(table.TakeStoreError());
        outcome.Fail(platform::kRegNotFound);
        return 0;
    });
}

}  // extern "C"
