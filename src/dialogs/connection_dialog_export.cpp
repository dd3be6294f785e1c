// ConnectionDialog: runs the Connections manager and hands the chosen connection to the caller.
//
// Ownership at the boundary: the strings and the icon handed back are new and the caller's. A
// string the caller passed in through name or connectionString is freed when, and only when,
// it is replaced after Connect; a previous icon in *icon is destroyed then too, unless it is 0
// or 1. After Cancel, or when no dialog window could be created at all, the result is 0 and
// the caller's variables are left exactly as they were. The thread's last error tells whether
// the store could be read and the user's changes saved.
#include <string>
#include <utility>

#include "TavixConnect.h"
#include "dialogs/connections_dialog.h"
#include "frame/context/boundary.h"
#include "frame/app/call_frame.h"
#include "frame/context/library_context.h"
#include "platform/automation.h"
#include "platform/last_error.h"

using namespace tavix;

namespace {

constexpr int kNoWindow = -1;

std::string Narrow(const OLECHAR* text) { return ActiveCodePage().ToNarrow(WideView(text)); }

// A new BSTR holding text; null for empty text.
UniqueBstr NewText(const std::string& text) {
    return UniqueBstr(text.empty() ? nullptr : NewBstrFromNarrow(text));
}

// Frees what *variable holds and stores text in it.
void Replace(BSTR* variable, UniqueBstr text) {
    platform::FreeString(*variable);
    *variable = text.release();
}

}  // namespace

extern "C" {

TAVIXCONNECT_EXPORT int TAVIXAPI ConnectionDialog(BSTR* name, BSTR* connectionString,
                                                  const OLECHAR* title, HICON* icon) {
    return RunStoreExport(0, [&](StoreOutcome& outcome) {
        ConnectionsDialog dialog;
        if (connectionString != nullptr && *connectionString != nullptr) {
            dialog.requestedConnectionString = Narrow(*connectionString);
        }
        if (name != nullptr && *name != nullptr) dialog.requestedName = Narrow(*name);
        if (icon == nullptr) dialog.resultIcon.reset(kNoIconWanted);
        if (title != nullptr) dialog.title = Narrow(title);

        const int code = dialog.DoModal();
        // Why the connections could not be read or saved, if they could not; or that no
        // dialog could be shown at all.
        outcome.Fail(dialog.storeError);
        if (code == kNoWindow) outcome.Fail(platform::kNoWindowSystem);
        if (code == platform::kIdCancel || code == kNoWindow) return 0;

        // The new strings are made before any of the caller's variables changes.
        UniqueBstr newConnectionString, newName;
        if (connectionString != nullptr) newConnectionString = NewText(dialog.current.Format());
        if (name != nullptr) newName = NewText(dialog.current.name);
        if (connectionString != nullptr) Replace(connectionString, std::move(newConnectionString));
        if (name != nullptr) Replace(name, std::move(newName));
        if (icon != nullptr) {
            if (IsOwnedIcon(*icon)) platform::Icons().DestroyIcon(*icon);
            *icon = static_cast<HICON>(dialog.resultIcon.release());
        }
        return 1;
    });
}

}  // extern "C"
