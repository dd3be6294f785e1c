// Reading the connection table from the registry and writing it back.
//
// Layout under HKEY_CURRENT_USER\Software\Vantorin\Connections: the key's default value names
// the default connection; each connection is a subkey named by the connection's name whose
// default value is its connection string, with the values "IconIndex" (REG_DWORD) and
// "IconFilename" (REG_EXPAND_SZ) when it has an icon file. Older installations kept each
// connection in a subkey "_VRConnN" holding the name as default value and "ConnString"; such
// keys are read, and the whole key is then saved again in the current layout.
#include <climits>
#include <cstdlib>

#include "frame/library_context.h"
#include "platform/message_box.h"
#include "resources/strings.h"
#include "store/connection_table.h"
#include "store/registry_store.h"

namespace tavix {

using platform::kCurrentUser;
using platform::UserRegistry;

namespace {

constexpr const char kLegacyPrefix[] = "_VRConn";
constexpr size_t kLegacyPrefixLength = sizeof kLegacyPrefix - 1;
constexpr uint32_t kNameLimit = 256;          // names and connection strings, with the zero
constexpr uint32_t kLegacyIconFileLimit = 512;

// The caption of the library's own message boxes.
constexpr const char kCaption[] = "TavixConnect";

// The number after "_VRConn": leading blanks skipped, an optional sign, then digits up to the
// first other character; 0 when there are none.
int32_t LegacyKeyNumber(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The icon of a current-layout connection key: the values the save writes on the key itself,
// else the "Icon" subkey (iconKeyName, string 2004) with "Index" and "FileName".
bool ReadCurrentIcon(platform::SubkeyView& key, const std::string& iconKeyName,
                     ConnectionRecord& record) {
    uint32_t index = 0;
    UniqueBstr file;
    if (store::ReadNumberValue(key, "IconIndex", index) == 0 &&
        store::ReadStringValue(key, "IconFilename", file) == 0 && file.view().size() > 0) {
        record.iconIndex = static_cast<int32_t>(index);
        record.iconFilename = std::move(file);
        return true;
    }
    RegistryKey icon;
    if (iconKeyName.empty() ||
        key.OpenKey(iconKeyName.c_str(), icon.receive()) != platform::kRegOk) {
        return false;
    }
    if (store::ReadNumberValueById(icon.get(), resources::kStrIconIndexValue, index) != 0 ||
        store::ReadStringValueById(icon.get(), resources::kStrIconFileNameValue, file) != 0 ||
        file.view().empty()) {
        return false;
    }
    record.iconIndex = static_cast<int32_t>(index);
    record.iconFilename = std::move(file);
    return true;
}

// The icon of a legacy key: "IconIndex", then "IconFilename" through a 512-byte buffer.
bool ReadLegacyIcon(platform::SubkeyView& key, ConnectionRecord& record) {
    uint32_t index = 0;
    std::string file;
    if (store::ReadNumberValue(key, "IconIndex", index) != 0 ||
        !store::ReadLimitedString(key, "IconFilename", kLegacyIconFileLimit, file) || file.empty()) {
        return false;
    }
    UniqueBstr wide(NewBstrFromNarrow(file));
    if (!wide) return false;
    record.iconIndex = static_cast<int32_t>(index);
    record.iconFilename = std::move(wide);
    return true;
}

}  // namespace

void ConnectionTable::EnsureImages() {
    if (!images) images = platform::Icons().CreateImageList(32, 32, 10, 10);
    if (images && images->ImageCount() == 0) {
        platform::IconSystem& icons = platform::Icons();
        platform::IconHandle icon = icons.LoadResourceIcon(Library().module, 1011);
        images->ReplaceIcon(-1, icon);
        if (icon != nullptr) icons.DestroyIcon(icon);
    }
}

void ConnectionTable::Load() {
    if (!Empty()) return;
    EnsureImages();

    // The whole read is one batch: one consistent view of the store, even while another
    // process saves. The warnings for dropped entries are shown once it has ended, so that no
    // message waits for the user while the store is held.
    platform::Registry& registry = UserRegistry();
    registry.BeginBatch();
    int dropped = 0;
    const bool legacySeen = ReadConnections(dropped);
    registry.CommitBatch();
    for (int i = 0; i < dropped; ++i) {
        platform::ShowMessageBox(LoadString(resources::kStrDuplicateWarning), kCaption, platform::kMbOk);
    }
    if (legacySeen) Save();  // rewrites every connection in the current layout
}

bool ConnectionTable::ReadConnections(int& dropped) {
    RegistryKey key;
    if (store::OpenOrCreateKey(kCurrentUser, store::kConnectionsKeyPath, key) != 0) return false;
    std::string defaultName;
    if (!store::ReadLimitedString(key.get(), nullptr, kNameLimit, defaultName)) defaultName.clear();
    defaultRecord = nullptr;
    bool legacySeen = false;
    const std::string iconKeyName(LoadOwnString(resources::kStrIconKey));

    // Binds a record read from the registry without touching `modified`; a record whose
    // connection string did not parse, or whose name is taken, is dropped.
    const auto admit = [&](std::unique_ptr<ConnectionRecord> record) -> ConnectionRecord* {
        ConnectionRecord* bound = record->name.empty() ? nullptr : BindNew(record);
        if (bound == nullptr) {
            ++dropped;
            return nullptr;
        }
        if (bound->name == defaultName) defaultRecord = bound;
        return bound;
    };

    // An unreadable legacy entry ends the load, without a conversion.
    bool complete = true;
    std::string connectionString;
    UserRegistry().ForEachSubkey(key.get(), kNameLimit, [&](platform::SubkeyView& subkey) {
        const std::string name(subkey.Name());
        auto record = std::make_unique<ConnectionRecord>();
        if (name.starts_with(kLegacyPrefix)) {
            legacySeen = true;
            std::string legacyName;
            if (!store::ReadLimitedString(subkey, nullptr, kNameLimit, legacyName) ||
                !store::ReadLimitedString(subkey, "ConnString", kNameLimit, connectionString)) {
                complete = false;
                return false;
            }
            record->Parse(legacyName.c_str(), connectionString.c_str());
            record->keyNumber = LegacyKeyNumber(name.c_str() + kLegacyPrefixLength);
            if (ConnectionRecord* bound = admit(std::move(record))) {
                ReadLegacyIcon(subkey, *bound);
                bound->imageIndex = -1;
                LoadRecordIcon(Library().module, *bound);
            }
        } else {
            if (!store::ReadLimitedString(subkey, nullptr, kNameLimit, connectionString)) {
                connectionString.clear();
            }
            record->Parse(name.c_str(), connectionString.c_str());
            if (ConnectionRecord* bound = admit(std::move(record))) {
                ReadCurrentIcon(subkey, iconKeyName, *bound);
                bound->imageIndex = -1;
                LoadRecordIcon(Library().module, *bound);
            }
        }
        return true;
    });
    if (!complete) return false;
    modified = 0;
    return legacySeen;
}

void ConnectionTable::Save() {
    platform::Registry& registry = UserRegistry();
    // Where the store can, the whole rewrite lands at once or not at all.
    registry.BeginBatch();
    store::DeleteKeyTree(kCurrentUser, store::kConnectionsKeyPath);
    RegistryKey key;
    if (store::OpenOrCreateKey(kCurrentUser, store::kConnectionsKeyPath, key) != 0) {
        registry.AbortBatch();
        return;
    }
    if (defaultRecord != nullptr) {
        registry.SetValue(key.get(), nullptr, platform::kRegSz, defaultRecord->name.c_str(),
                          static_cast<uint32_t>(defaultRecord->name.size() + 1));
    }
    std::string connectionString;
    for (ConnectionRecord* record : Records()) {
        RegistryKey subkey;
        if (store::OpenOrCreateKey(key.get(), record->name.c_str(), subkey) != 0) continue;
        record->Format(connectionString);
        registry.SetValue(subkey.get(), nullptr, platform::kRegSz, connectionString.c_str(),
                          static_cast<uint32_t>(connectionString.size() + 1));
        if (!record->iconFilename.view().empty()) {
            store::WriteNumberValue(subkey.get(), "IconIndex", static_cast<uint32_t>(record->iconIndex));
            store::WriteStringValue(subkey.get(), "IconFilename", record->iconFilename.get(), true);
        } else {
            registry.DeleteValue(subkey.get(), "IconIndex");
            registry.DeleteValue(subkey.get(), "IconFilename");
        }
    }
    key.reset();
    registry.CommitBatch();
    modified = 0;
}

}  // namespace tavix
