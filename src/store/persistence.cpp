// Reading the connection table from the registry and writing back what changed.
//
// Layout under HKEY_CURRENT_USER\Software\Vantorin\Connections: the key's default value names
// the default connection; each connection is a subkey named by the connection's name whose
// default value is its connection string, with the values "IconIndex" (REG_DWORD) and
// "IconFilename" (REG_EXPAND_SZ) when it has an icon file. Older installations kept each
// connection in a subkey "_VRConnN" holding the name as default value and "ConnString"; a store
// with such keys is read whole, and its connections are saved again in the current layout.
#include <climits>
#include <cstdlib>

#include <unordered_set>

#include "frame/context/library_context.h"
#include "platform/name_fold.h"
#include "resources/strings.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"
#include "store/registry_store.h"

namespace tavix {

using platform::kCurrentUser;
using platform::UserRegistry;

namespace {

constexpr const char kLegacyPrefix[] = "_VRConn";
constexpr size_t kLegacyPrefixLength = sizeof kLegacyPrefix - 1;
constexpr uint32_t kNameLimit = 256;          // names and connection strings, with the zero
constexpr uint32_t kLegacyIconFileLimit = 512;
// The walk over every connection takes names of any length the store may hold, so that a name
// too long for a connection is passed over instead of ending the walk.
constexpr uint32_t kWalkNameSize = 4096;

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


// A key opened by name, read as a subkey that a walk visits.
class OpenedKey final : public platform::SubkeyView {
public:
    OpenedKey(platform::RegKey key, std::string_view name) : key_(key), name_(name) {}
    std::string_view Name() const override { return name_; }
    long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return UserRegistry().QueryValue(key_, name, type, data, size);
    }
    long OpenKey(const char* subKey, platform::RegKey* key) override {
        return UserRegistry().OpenKey(key_, subKey, key);
    }

private:
    platform::RegKey key_;
    std::string_view name_;
};

// One entry of the connections key, read.
struct Entry {
    std::unique_ptr<ConnectionRecord> record;
    bool legacy = false;
    // Why the entry cannot be used: "" when it can. A connection whose string cannot be read
    // or does not parse is dropped (with the duplicate-entry warning); an entry that is not a
    // connection at all is passed over.
    std::string dropped;
    std::string passedOver;
};

Entry ReadEntry(platform::SubkeyView& subkey, const std::string& iconKeyName) {
    Entry entry;
    const std::string_view name = subkey.Name();
    if (name.size() > 255) {
        entry.passedOver = "its name is longer than 255 bytes";
        return entry;
    }
    auto record = std::make_unique<ConnectionRecord>();
    const ParseDefaults defaults = CurrentParseDefaults();
    std::string connectionString;
    if (name.starts_with(kLegacyPrefix)) {
        entry.legacy = true;
        std::string legacyName;
        if (!store::ReadLimitedString(subkey, nullptr, kNameLimit, legacyName) ||
            !store::ReadLimitedString(subkey, "ConnString", kNameLimit, connectionString)) {
            entry.passedOver = "an entry of the older layout without a readable name or connection string";
            return entry;
        }
        if (!record->Parse(legacyName.c_str(), connectionString.c_str(), defaults) || record->name.empty()) {
            entry.dropped = "its connection string is not understood";
            return entry;
        }
        record->keyNumber = LegacyKeyNumber(std::string(name.substr(kLegacyPrefixLength)).c_str());
        ReadLegacyIcon(subkey, *record);
    } else {
        const std::string keyName(name);
        if (!store::ReadLimitedString(subkey, nullptr, kNameLimit, connectionString)) {
            entry.dropped = "it has no connection string of up to 255 bytes";
            return entry;
        }
        if (!record->Parse(keyName.c_str(), connectionString.c_str(), defaults) || record->name.empty()) {
            entry.dropped = "its connection string is not understood";
            return entry;
        }
        ReadCurrentIcon(subkey, iconKeyName, *record);
    }
    entry.record = std::move(record);
    return entry;
}

bool MayBeLegacy(std::string_view fold) {
    static const std::string legacyFold = platform::Fold(kLegacyPrefix, platform::SystemCodePage());
    return fold.starts_with(legacyFold);
}

}  // namespace

ConnectionTable::StoredState ConnectionTable::StateOf(const ConnectionRecord& record) {
    StoredState state;
    state.keyName = record.name;
    record.Format(state.connectionString);
    if (!record.iconFilename.view().empty()) {
        state.iconFile = ActiveCodePage().ToNarrow(record.iconFilename.view());
        state.iconIndex = record.iconIndex;
    }
    return state;
}

long ConnectionTable::Load() {
    // A table that holds no connection reads the store again, as a new one would: connections
    // another process saved meanwhile are then found.
    if (attached_ && count_ == 0 && storedEntries_.empty()) Detach();
    if (attached_ || count_ > 0) return platform::kRegOk;
    // A save that a killed process left unfinished is finished before anything is read.
    if (const long error = store::FinishPendingSave(UserRegistry())) return error;
    platform::Registry& registry = UserRegistry();
    RegistryKey key;
    long result = registry.OpenKey(kCurrentUser, store::kConnectionsKeyPath, key.receive());
    if (result == platform::kRegNotFound) {
        result = registry.CreateKey(kCurrentUser, store::kConnectionsKeyPath, key.receive());
    }
    if (result != platform::kRegOk) return result;

    std::string defaultName;
    if (!store::ReadLimitedString(key.get(), nullptr, kNameLimit, defaultName)) defaultName.clear();
    std::string first;
    result = registry.SubkeyAtOrAfter(key.get(), kLegacyPrefix, first);
    if (result != platform::kRegOk && result != platform::kRegNoMoreItems) return result;
    const bool legacy = result == platform::kRegOk && MayBeLegacy(FoldOf(first));
    key.reset();

    attached_ = true;
    complete_ = false;
    storedDefault_ = defaultName;
    defaultRecord_ = nullptr;
    defaultPending_ = !defaultName.empty();
    modified_ = false;
    // Entries of the older layout are not found by their connection's name: read them all.
    if (legacy) return ReadRest();
    if (defaultPending_) {
        defaultRecord_ = Find(defaultName);
        if (const long error = TakeStoreError()) {
            Clear();
            return error;
        }
        defaultPending_ = false;
    }
    return platform::kRegOk;
}

long ConnectionTable::LoadAll() {
    if (const long error = Load()) return error;
    return ReadRest();
}

long ConnectionTable::ReadRest() {
    if (!attached_ || complete_) return platform::kRegOk;

    // The whole read is one batch: one consistent view of the store, even while another
    // process saves. The warnings are kept for the caller, who shows them after the read: no
    // message waits for the user while the store is held.
    platform::Registry& registry = UserRegistry();
    if (const long error = registry.BeginBatch()) return error;
    // A save that a killed process left unfinished is finished before the walk reads.
    if (const long error = store::FinishPendingSave(registry)) {
        registry.AbortBatch();
        return error;
    }
    std::vector<std::string> dropped, passedOver;
    bool legacySeen = false;
    const long result = ReadAll(dropped, passedOver, legacySeen);
    const long committed = registry.CommitBatch();
    if (result != platform::kRegOk) return result;
    if (committed != platform::kRegOk) return committed;
    complete_ = true;
    defaultPending_ = false;
    using Kind = StoreWarning::Kind;
    for (std::string& what : dropped) {
        warnings_.push_back({Kind::kDropped, std::string(LoadString(resources::kStrDuplicateWarning)), std::move(what)});
    }
    for (std::string& what : passedOver) {
        std::string text = "Warning - a connection entry in the registry cannot be read and is left as it is: " + what + ".";
        warnings_.push_back({Kind::kPassedOver, std::move(text), std::move(what)});
    }
    if (legacySeen) Save();  // the connections of the older layout, in the current one
    return platform::kRegOk;
}

long ConnectionTable::ReadAll(std::vector<std::string>& dropped, std::vector<std::string>& passedOver,
                              bool& legacySeen) {
    platform::Registry& registry = UserRegistry();
    RegistryKey key;
    if (const long error = registry.OpenKey(kCurrentUser, store::kConnectionsKeyPath, key.receive())) {
        return error == platform::kRegNotFound ? platform::kRegOk : error;
    }
    const std::string iconKeyName(LoadOwnString(resources::kStrIconKey));
    const std::string defaultFold = FoldOf(storedDefault_);
    std::vector<Binding*> storeOrder;
    const long result = registry.ForEachSubkey(key.get(), kWalkNameSize, [&](platform::SubkeyView& subkey) {
        const std::string_view keyName = subkey.Name();
        const std::string fold = FoldOf(keyName);
        if (const auto known = storedEntries_.find(fold); known != storedEntries_.end()) {
            // Read before: in memory under its own name, renamed, or removed.
            Binding* binding = known->second.binding;
            if (binding != nullptr && binding->fold == fold) storeOrder.push_back(binding);
            return true;
        }
        Entry entry = ReadEntry(subkey, iconKeyName);
        std::string shown = "\"";
        shown.append(keyName.substr(0, 64));
        shown.append(keyName.size() > 64 ? "...\"" : "\"");
        if (!entry.passedOver.empty()) {
            passedOver.push_back(shown + " (" + entry.passedOver + ")");
            return true;
        }
        if (!entry.record) {
            dropped.push_back(shown + " (" + entry.dropped + ")");
            return true;
        }
        legacySeen = legacySeen || entry.legacy;
        StoredState state = StateOf(*entry.record);
        state.keyName.assign(keyName);
        // A name bound already (by this process, or by an entry met earlier) is dropped.
        Binding* binding = Bind(std::move(entry.record), std::make_unique<StoredState>(std::move(state)));
        if (binding == nullptr) {
            dropped.push_back(shown + " (its name is taken)");
            return true;
        }
        absent_.erase(binding->fold);
        if (defaultPending_ && defaultRecord_ == nullptr && binding->fold == defaultFold) {
            defaultRecord_ = binding->record.get();
        }
        storeOrder.push_back(binding);
        return true;
    });
    if (result != platform::kRegOk) return result;
    OrderAsStore(storeOrder);
    return platform::kRegOk;
}

void ConnectionTable::OrderAsStore(const std::vector<Binding*>& storeOrder) {
    if (!buckets_) return;
    // A load binds each entry at the head of its bucket in the store's order; the bindings this
    // process made since (or read on their own, but gone from the store meanwhile) stay ahead.
    std::unordered_set<const Binding*> fromStore(storeOrder.begin(), storeOrder.end());
    std::vector<Binding*> tails(kBucketCount, nullptr);
    std::vector<Binding*> heads(kBucketCount, nullptr);
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
            if (fromStore.contains(binding)) continue;
            (tails[b] ? tails[b]->next : heads[b]) = binding;
            tails[b] = binding;
        }
    }
    for (auto it = storeOrder.rbegin(); it != storeOrder.rend(); ++it) {
        const uint32_t b = HashKey((*it)->key) % kBucketCount;
        (tails[b] ? tails[b]->next : heads[b]) = *it;
        tails[b] = *it;
    }
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        if (tails[b]) tails[b]->next = nullptr;
        buckets_[b] = heads[b];
    }
}

ConnectionRecord* ConnectionTable::Fetch(std::string_view name) {
    platform::Registry& registry = UserRegistry();
    const std::string fold = FoldOf(name);
    RegistryKey key;
    long result = registry.OpenKey(kCurrentUser, store::kConnectionsKeyPath, key.receive());
    std::string keyName;
    if (result == platform::kRegOk) {
        // Whether it is there at all is one probe; how its name is written may take more.
        RegistryKey probe;
        const std::string text(name);
        result = registry.OpenKey(key.get(), text.c_str(), probe.receive());
        if (result == platform::kRegOk) result = registry.SubkeyAtOrAfter(key.get(), name, keyName);
    }
    if (result == platform::kRegNotFound || result == platform::kRegNoMoreItems ||
        (result == platform::kRegOk && (FoldOf(keyName) != fold || MayBeLegacy(fold)))) {
        absent_.insert(fold);
        return nullptr;
    }
    if (result != platform::kRegOk) {
        storeError_ = result;
        return nullptr;
    }
    RegistryKey subkey;
    if (const long error = registry.OpenKey(key.get(), keyName.c_str(), subkey.receive())) {
        if (error == platform::kRegNotFound) {
            absent_.insert(fold);
        } else {
            storeError_ = error;
        }
        return nullptr;
    }
    OpenedKey view(subkey.get(), keyName);
    Entry entry = ReadEntry(view, std::string(LoadOwnString(resources::kStrIconKey)));
    if (!entry.record) {
        absent_.insert(fold);  // what a walk passes over or drops, a lookup does not find
        return nullptr;
    }
    StoredState state = StateOf(*entry.record);
    state.keyName = keyName;
    Binding* binding = Bind(std::move(entry.record), std::make_unique<StoredState>(std::move(state)));
    if (binding == nullptr) return nullptr;
    return binding->record.get();
}

ConnectionRecord* ConnectionTable::FetchFirst() {
    platform::Registry& registry = UserRegistry();
    RegistryKey key;
    long result = registry.OpenKey(kCurrentUser, store::kConnectionsKeyPath, key.receive());
    std::string after, found;
    while (result == platform::kRegOk) {
        result = registry.SubkeyAtOrAfter(key.get(), after, found);
        if (result != platform::kRegOk) break;
        const std::string fold = FoldOf(found);
        if (!storedEntries_.contains(fold) && !absent_.contains(fold) && !MayBeLegacy(fold)) {
            if (ConnectionRecord* record = Fetch(found)) return record;
            if (storeError_ != 0) return nullptr;
        }
        // The name just after this one: nothing sorts between a name and itself with a zero.
        after = found;
        after.push_back('\0');
    }
    if (result != platform::kRegNotFound && result != platform::kRegNoMoreItems) storeError_ = result;
    return nullptr;
}

long ConnectionTable::Save() {
    // The changes since the connections were read: entries removed, records this process made
    // or changed (a renamed one also removes the key it was read from), and the default.
    store::ChangeSet changes;
    for (const auto& [fold, entry] : storedEntries_) {
        if (entry.binding == nullptr) changes.deletions.push_back(entry.keyName);
    }
    std::vector<Binding*> written;
    if (buckets_) {
        for (uint32_t b = 0; b < kBucketCount; ++b) {
            for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
                StoredState state = StateOf(*binding->record);
                if (binding->stored && *binding->stored == state) continue;
                if (binding->stored && binding->stored->keyName != state.keyName) {
                    changes.deletions.push_back(binding->stored->keyName);
                }
                changes.writes.push_back(std::move(state));
                written.push_back(binding);
            }
        }
    }
    changes.defaultName = defaultRecord_ ? defaultRecord_->name : std::string();
    changes.writeDefault = changes.defaultName != storedDefault_ || (!attached_ && !changes.defaultName.empty());

    platform::Registry& registry = UserRegistry();
    if (const long error = registry.BeginBatch()) return error;
    RegistryKey key;
    long result = registry.CreateKey(kCurrentUser, store::kConnectionsKeyPath, key.receive());
    if (result == platform::kRegOk) result = store::ApplyChanges(registry, key.get(), changes);
    key.reset();
    if (result != platform::kRegOk) {
        registry.AbortBatch();
        return result;
    }
    if (const long error = registry.CommitBatch()) return error;

    // Landed: the store now holds what the table holds.
    for (const std::string& name : changes.deletions) storedEntries_.erase(FoldOf(name));
    for (size_t i = 0; i < written.size(); ++i) {
        Binding* binding = written[i];
        binding->stored = std::make_unique<StoredState>(std::move(changes.writes[i]));
        storedEntries_[binding->fold] = StoredEntry{binding, binding->stored->keyName};
        absent_.erase(binding->fold);
    }
    storedDefault_ = changes.defaultName;
    modified_ = false;
    return platform::kRegOk;
}

}  // namespace tavix
