// A connection's icon in a list of 32 x 32 icons.
#include "icons/record_icon.h"

#include <string>

#include "frame/context/library_context.h"
#include "resources/resource.h"

namespace tavix::icons {

std::unique_ptr<platform::ImageList> NewConnectionImageList(platform::ModuleHandle module) {
    platform::IconSystem& icons = platform::Icons();
    std::unique_ptr<platform::ImageList> images = icons.CreateImageList(32, 32, 10, 10);
    if (!images) return images;
    platform::IconHandle icon = icons.LoadResourceIcon(module, IDI_CONNECTION);
    images->ReplaceIcon(-1, icon);
    if (icon != nullptr) icons.DestroyIcon(icon);
    return images;
}

bool LoadRecordIcon(platform::ModuleHandle moduleInstance, const ConnectionRecord& record,
                    platform::ImageList* images, int32_t& imageIndex, platform::IconHandle* iconOut) {
    platform::IconSystem& icons = platform::Icons();
    platform::IconHandle icon = nullptr;
    bool ownIcon = true;

    if (record.iconFilename.view().empty() || record.iconIndex < 0) {
        // The default icon: image 0 when the list has it.
        if (images && images->ImageCount() > 0) {
            imageIndex = 0;
            if (iconOut) icon = images->GetIcon(0);
        } else {
            imageIndex = -1;
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
            const int slot = imageIndex > 0 ? imageIndex : -1;
            imageIndex = images ? images->ReplaceIcon(slot, icon) : -1;
        } else {
            icon = icons.LoadResourceIcon(moduleInstance, IDI_MISSING);
            imageIndex = images ? images->ReplaceIcon(-1, icon) : -1;
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

platform::IconHandle NewRecordIcon(platform::ModuleHandle moduleInstance, const ConnectionRecord& record) {
    // Through a list of its own, so that the icon has the list's size and look whatever size
    // the file's icon has.
    const std::unique_ptr<platform::ImageList> images = NewConnectionImageList(moduleInstance);
    int32_t imageIndex = -1;
    LoadRecordIcon(moduleInstance, record, images.get(), imageIndex);
    return images && imageIndex >= 0 ? images->GetIcon(imageIndex) : nullptr;
}

}  // namespace tavix::icons
