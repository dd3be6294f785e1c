#include "store/connection_table.h"

#include "frame/library_context.h"
#include "resources/strings.h"
#include "store/registry_store.h"

namespace tavix {

ConnectionTable::ConnectionTable() = default;

ConnectionTable::~ConnectionTable() {
    Clear();
    images.reset();
}

ConnectionTable& Connections() {
    static ConnectionTable table;
    return table;
}

void ConnectionTable::Bind(std::unique_ptr<ConnectionRecord> record) {
    if (!buckets_) buckets_ = std::make_unique<Binding*[]>(kBucketCount);
    auto* binding = new Binding{record->name, std::move(record), nullptr};
    Binding*& head = buckets_[HashKey(binding->key) % kBucketCount];
    binding->next = head;
    head = binding;
    index_.emplace(binding->key, binding);
}

std::unique_ptr<ConnectionRecord> ConnectionTable::Unbind(Binding* binding) {
    Binding** link = &buckets_[HashKey(binding->key) % kBucketCount];
    while (*link != binding) link = &(*link)->next;
    *link = binding->next;
    index_.erase(binding->key);
    std::unique_ptr<ConnectionRecord> record = std::move(binding->record);
    delete binding;
    if (index_.empty()) buckets_.reset();
    return record;
}

ConnectionTable::Binding* ConnectionTable::FindBinding(const ConnectionRecord* record) const {
    if (record == nullptr) return nullptr;
    // Bindings are keyed by their record's name; a record renamed behind the table's back is
    // still found by walking the chains.
    if (auto at = index_.find(record->name); at != index_.end() && at->second->record.get() == record) {
        return at->second;
    }
    if (!buckets_) return nullptr;
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
            if (binding->record.get() == record) return binding;
        }
    }
    return nullptr;
}

std::vector<ConnectionRecord*> ConnectionTable::Records() const {
    std::vector<ConnectionRecord*> records;
    records.reserve(index_.size());
    if (!buckets_) return records;
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
            records.push_back(binding->record.get());
        }
    }
    return records;
}

int ConnectionTable::Clear() {
    int deleted = 0;
    if (buckets_) {
        for (uint32_t b = 0; b < kBucketCount; ++b) {
            for (Binding* binding = buckets_[b]; binding;) {
                Binding* next = binding->next;
                delete binding;
                ++deleted;
                binding = next;
            }
        }
    }
    defaultRecord = nullptr;
    index_.clear();
    buckets_.reset();
    return deleted;
}

void ConnectionTable::Add(std::unique_ptr<ConnectionRecord> record) {
    if (!record) return;
    if (index_.empty()) defaultRecord = record.get();
    if (auto at = index_.find(record->name); at != index_.end()) {
        const bool wasDefault = defaultRecord == at->second->record.get();
        Unbind(at->second);
        if (wasDefault) defaultRecord = record.get();
    }
    Bind(std::move(record));
    modified = 1;
}

bool ConnectionTable::Remove(ConnectionRecord* record) {
    Binding* binding = FindBinding(record);
    if (binding == nullptr) return false;
    if (defaultRecord == record) defaultRecord = nullptr;
    Unbind(binding);  // the record is deleted here; its image stays in the list
    modified = 1;
    return true;
}

bool ConnectionTable::RemoveByName(const char* key) { return Remove(Lookup(key)); }

ConnectionRecord* ConnectionTable::Find(std::string_view name) const {
    auto at = index_.find(name);
    return at == index_.end() ? nullptr : at->second->record.get();
}

ConnectionRecord* ConnectionTable::Lookup(const char* key) const {
    if (key == nullptr || *key == 0) return nullptr;
    const std::string_view text(key);
    if (text.find(':') == std::string_view::npos) return Find(text);

    ConnectionRecord scratch;
    if (!scratch.Parse(nullptr, key)) return nullptr;
    ConnectionRecord* bound = Find(scratch.name);
    if (bound == nullptr) return nullptr;
    scratch.listItem = bound->listItem;
    scratch.imageIndex = bound->imageIndex;
    return bound->Equals(scratch) ? bound : nullptr;
}

ConnectionRecord* ConnectionTable::FindSameTarget(const ConnectionRecord& candidate) const {
    if (!buckets_) return nullptr;
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
            if (binding->record->SameTarget(candidate)) return binding->record.get();
        }
    }
    return nullptr;
}

ConnectionRecord* ConnectionTable::FindOrAdd(const char* name, const char* connectionString) {
    auto candidate = std::make_unique<ConnectionRecord>();
    candidate->Parse(name, connectionString);
    std::string base;
    if (candidate->name.empty()) {
        candidate.reset();
        base = name ? name : "";
    } else {
        if (candidate->name == LoadString(resources::kStrNameless)) candidate->name.clear();
        base = candidate->name;
    }

    // A name is looked up as Lookup reads it; a name with a colon, which Lookup takes for a
    // connection string, is also looked up as the name it is, so that it is never added twice.
    const auto probe = [this](const std::string& key) {
        ConnectionRecord* found = Lookup(key.c_str());
        return found != nullptr || key.find(':') == std::string::npos ? found : Find(key);
    };

    if (!base.empty()) {
        for (int counter = 1;; ++counter) {
            ConnectionRecord* found = probe(candidate ? candidate->name : base);
            if (found == nullptr) break;
            if (!candidate) return found;
            candidate->listItem = found->listItem;
            candidate->imageIndex = found->imageIndex;
            if (found->Equals(*candidate)) return found;
            candidate->name = base + std::to_string(counter);
        }
    } else if (candidate) {
        if (ConnectionRecord* found = FindSameTarget(*candidate)) return found;
    }

    std::unique_ptr<ConnectionRecord> added;
    if (candidate && !candidate->name.empty()) {
        added = std::move(candidate);
    } else if (!candidate && name != nullptr && *name != 0) {
        added = std::make_unique<ConnectionRecord>();
        added->Parse(name, std::string(kDefaultConnectionString).c_str());
        if (added->name.empty()) added.reset();
    }
    if (!added) return nullptr;
    added->imageIndex = 0;
    ConnectionRecord* result = added.get();
    Add(std::move(added));
    return result;
}

bool ConnectionTable::MakeUniqueName(const ConnectionRecord* record, std::string& name) const {
    bool accepted = true;
    if (name.empty()) {
        name = LoadString(resources::kStrNameless);
        accepted = false;
    }
    const std::string base = name;
    for (int counter = 1;; ++counter) {
        const ConnectionRecord* bound = Find(name);
        if (bound == nullptr || bound == record) return accepted;
        name = base + std::to_string(counter);
        accepted = false;
    }
}

bool ConnectionTable::Rename(ConnectionRecord* record, std::string& name) {
    const bool accepted = MakeUniqueName(record, name);
    if (record == nullptr || name == record->name) return accepted;
    Binding* binding = FindBinding(record);
    if (binding == nullptr) return accepted;
    std::unique_ptr<ConnectionRecord> owned = Unbind(binding);
    if (defaultRecord == record) defaultRecord = nullptr;
    owned->name = name;
    Bind(std::move(owned));
    return accepted;
}

bool ConnectionTable::SetDefault(const char* key) {
    ConnectionRecord* target = nullptr;
    if (key != nullptr && *key != 0) {
        target = Lookup(key);
        if (target == nullptr) return false;
    }
    if (target == defaultRecord) return true;
    if (!WriteDefaultConnectionName(target ? std::string_view{target->name} : std::string_view{})) {
        return false;
    }
    defaultRecord = target;
    modified = 1;
    return true;
}

}  // namespace tavix
