// Showing the user what a read of the connection store passed over.
#pragma once

#include "platform/message_box.h"
#include "resources/resource.h"
#include "store/connection_table.h"

namespace tavix {

// Shows the warnings the table kept since they were last taken, oldest first: one message box
// each, without an owner window, with the library's name as caption and an OK button. The
// exports and the Connections dialog call it right after each table operation that may read
// the whole store, so that the user sees the warnings when the read happens.
inline void ShowStoreWarnings(ConnectionTable& table) {
    for (const StoreWarning& warning : table.TakeWarnings()) {
        platform::ShowMessageBox(warning.text, TAVIX_PRODUCT_NAME, platform::kMbOk);
    }
}

}  // namespace tavix
