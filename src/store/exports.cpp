// The exported store functions: thin layers over the connection table.
#include "TavixConnect.h"
#include "frame/boundary.h"
#include "frame/call_frame.h"
#include "store/connection_table.h"

using namespace tavix;

extern "C" {

TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnection(const OLECHAR* name, HICON* icon) {
    return RunExport<BSTR>(nullptr, [&]() -> BSTR {
        ConnectionTable& table = Connections();
        table.Load();
        const NarrowArg key(name);
        ConnectionRecord* record = table.Lookup(key.get());
        if (record == nullptr) return nullptr;
        if (icon != nullptr) {
            *icon = static_cast<HICON>(record->imageIndex >= 0 && table.images
                                           ? table.images->GetIcon(record->imageIndex)
                                           : nullptr);
        }
        return NewBstrFromNarrow(record->Format());
    });
}

TAVIXCONNECT_EXPORT BSTR TAVIXAPI FindConnectionName(const OLECHAR* connString) {
    return RunExport<BSTR>(nullptr, [&]() -> BSTR {
        ConnectionTable& table = Connections();
        table.Load();
        const NarrowArg text(connString);
        ConnectionRecord* record = table.FindOrAdd(nullptr, text.get());
        return record ? NewBstrFromNarrow(record->name) : nullptr;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI SetConnection(const OLECHAR* name, const OLECHAR* connString,
                                               const OLECHAR* iconFile, int iconIndex, int save) {
    return RunExport(0, [&] {
        ConnectionTable& table = Connections();
        table.Load();
        const NarrowArg nameText(name), connText(connString);
        if (nameText.view().empty() && connText.view().empty()) {
            if (save) table.Save();
            return 0;
        }
        auto candidate = std::make_unique<ConnectionRecord>();
        candidate->Parse(nameText.get(), connText.get());
        if (candidate->name.empty()) return 0;

        ConnectionRecord* target = candidate.get();
        if (ConnectionRecord* found = table.Lookup(candidate->name.c_str())) {
            candidate->listItem = found->listItem;
            candidate->imageIndex = found->imageIndex;
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
        table.LoadRecordIcon(Library().module, *target);
        if (save) table.Save();
        return 0;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI DeleteConnection(const OLECHAR* name) {
    return RunExport(0, [&] {
        const NarrowArg key(name);
        return Connections().RemoveByName(key.get()) ? 1 : 0;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI EnumConnections() {
    return RunExport(0, [] { return 0; });
}

TAVIXCONNECT_EXPORT int TAVIXAPI SetDefaultConnection(const OLECHAR* name) {
    return RunExport(0, [&] {
        const NarrowArg key(name);
        return Connections().SetDefault(key.get()) ? 1 : 0;
    });
}

}  // extern "C"
