// Putting a connection's icon into the table's image list.
#include "frame/library_context.h"
#include "resources/resource.h"
#include "store/connection_table.h"

namespace tavix {

bool ConnectionTable::LoadRecordIcon(platform::ModuleHandle moduleInstance, ConnectionRecord& record,
                                     platform::IconHandle* iconOut) {
    platform::IconSystem& icons = platform::Icons();
    platform::IconHandle icon = nullptr;
    bool ownIcon = true;

    if (record.iconFilename.view().empty() || record.iconIndex < 0) {
        // The default icon: image 0 when the list has it.
        if (images && images->ImageCount() > 0) {
            record.imageIndex = 0;
            if (iconOut) icon = images->GetIcon(0);
        } else {
            record.imageIndex = -1;
            if (iconOut) icon = icons.LoadResourceIcon(moduleInstance, IDI_CONNECTION);
        }
    } else {
        const std::string file = ActiveCodePage().ToNarrow(record.iconFilename.view());
        icon = icons.ExtractIcon(moduleInstance, file, record.iconIndex);
        if (!platform::IsRealIcon(icon)) {
            std::string path = file;  // the platform may rewrite its copy
            auto index = static_cast<uint16_t>(record.iconIndex & 0xFFFF);
            icon = icons.ExtractAssociatedIcon(moduleInstance, path, index);
        }
        if (platform::IsRealIcon(icon)) {
            // A slot of the record's own is replaced; the shared image 0 never is.
            const int slot = record.imageIndex > 0 ? record.imageIndex : -1;
            record.imageIndex = images ? images->ReplaceIcon(slot, icon) : -1;
        } else {
            icon = icons.LoadResourceIcon(moduleInstance, IDI_MISSING);
            record.imageIndex = images ? images->ReplaceIcon(-1, icon) : -1;
            ownIcon = false;
        }
    }

    if (iconOut) {
        *iconOut = icon;
    } else if (platform::IsRealIcon(icon)) {
        icons.DestroyIcon(icon);
    }
    return ownIcon;
}

}  // namespace tavix
