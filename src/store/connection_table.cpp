#include "store/connection_table.h"

#include <cstring>

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

namespace {

// The index's hash of a name: eight bytes at a time, each word mixed in by a multiplication.
uint64_t IndexHash(std::string_view name) noexcept {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t hash = name.size() * kMultiplier;
    size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, name.data() + at, 8);
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    }
    if (at < name.size()) {
        uint64_t word = 0;
        std::memcpy(&word, name.data() + at, name.size() - at);
        hash = (hash ^ word) * kMultiplier;
    }
    hash ^= hash >> 32;
    hash *= kMultiplier;
    return hash ^ (hash >> 29);
}

}  // namespace

// A slot's place is taken from the high bits of the 32-bit hash it keeps, so that growing the
// index moves slots without reading their bindings.
size_t ConnectionTable::Home(uint32_t hash32) const { return hash32 >> shift_; }

ConnectionTable::IndexSlot* ConnectionTable::Probe(std::string_view name, uint64_t hash) const {
    // The first 16 bytes of the slot that holds name: its hash, length and first bytes, the
    // rest zero. A slot is compared as two words, with no call and few branches.
    const bool fits = name.size() <= IndexSlot::kInline;
    unsigned char head[16] = {};
    const auto hash32 = static_cast<uint32_t>(hash >> 32);
    std::memcpy(head, &hash32, sizeof hash32);
    head[4] = static_cast<unsigned char>(fits ? name.size() : IndexSlot::kLong);
    std::memcpy(head + 5, name.data(), fits ? name.size() : IndexSlot::kInline);
    uint64_t low, high;
    std::memcpy(&low, head, 8);
    std::memcpy(&high, head + 8, 8);
    for (size_t i = Home(hash32);; i = (i + 1) & mask_) {
        IndexSlot& slot = slots_[i];
        if (slot.binding == nullptr) return &slot;
        uint64_t slotLow, slotHigh;
        std::memcpy(&slotLow, &slot, 8);
        std::memcpy(&slotHigh, reinterpret_cast<const unsigned char*>(&slot) + 8, 8);
        if (slotLow == low && slotHigh == high && (fits || slot.binding->key == name)) return &slot;
    }
}

void ConnectionTable::IndexInsert(IndexSlot* slot, Binding* binding, uint64_t hash) {
    const std::string& name = binding->key;
    const bool fits = name.size() <= IndexSlot::kInline;
    slot->hash = static_cast<uint32_t>(hash >> 32);
    slot->length = static_cast<uint8_t>(fits ? name.size() : IndexSlot::kLong);
    std::memset(slot->prefix, 0, IndexSlot::kInline);
    std::memcpy(slot->prefix, name.data(), fits ? name.size() : IndexSlot::kInline);
    slot->record = binding->record.get();
    slot->binding = binding;
    ++count_;
}

void ConnectionTable::IndexGrow() {
    const size_t size = slots_ ? (mask_ + 1) * 2 : 16;
    std::unique_ptr<IndexSlot[]> old = std::move(slots_);
    const size_t oldSize = old ? mask_ + 1 : 0;
    slots_ = std::make_unique<IndexSlot[]>(size);  // value-initialized: every slot empty
    mask_ = size - 1;
    shift_ = 32;
    for (size_t bits = size; bits > 1; bits >>= 1) --shift_;
    for (size_t i = 0; i < oldSize; ++i) {
        if (old[i].binding == nullptr) continue;
        size_t at = Home(old[i].hash);
        while (slots_[at].binding != nullptr) at = (at + 1) & mask_;
        slots_[at] = old[i];
    }
}

// Linear probing without tombstones: the slots after the erased one that would no longer be
// reached move back into the gap.
void ConnectionTable::IndexErase(Binding* binding) {
    size_t gap = Home(static_cast<uint32_t>(IndexHash(binding->key) >> 32));
    while (slots_[gap].binding != binding) gap = (gap + 1) & mask_;
    for (size_t i = (gap + 1) & mask_; slots_[i].binding != nullptr; i = (i + 1) & mask_) {
        const size_t home = Home(slots_[i].hash);
        // Movable when its home is not in the cyclic range (gap, i].
        if (((i - home) & mask_) >= ((i - gap) & mask_)) {
            slots_[gap] = slots_[i];
            gap = i;
        }
    }
    slots_[gap].binding = nullptr;
    --count_;
}

void ConnectionTable::Bind(std::unique_ptr<ConnectionRecord> record) {
    if (BindNew(record) != nullptr) return;
    // The name is bound: only Add's takeover gets here, after unbinding it.
}

ConnectionRecord* ConnectionTable::BindNew(std::unique_ptr<ConnectionRecord>& record) {
    // At most 13/16 of the slots used: a small array (fewer cache and TLB misses at 100,000
    // names) with short probe runs.
    if (!slots_ || (count_ + 1) * 16 > (mask_ + 1) * 13) IndexGrow();
    const uint64_t hash = IndexHash(record->name);
    IndexSlot* slot = Probe(record->name, hash);
    if (slot->binding != nullptr) return nullptr;
    if (!buckets_) buckets_ = std::make_unique<Binding*[]>(kBucketCount);
    auto* binding = new Binding{record->name, std::move(record), nullptr};
    Binding*& head = buckets_[HashKey(binding->key) % kBucketCount];
    binding->next = head;
    head = binding;
    IndexInsert(slot, binding, hash);
    return binding->record.get();
}

std::unique_ptr<ConnectionRecord> ConnectionTable::Unbind(Binding* binding) {
    Binding** link = &buckets_[HashKey(binding->key) % kBucketCount];
    while (*link != binding) link = &(*link)->next;
    *link = binding->next;
    IndexErase(binding);
    std::unique_ptr<ConnectionRecord> record = std::move(binding->record);
    delete binding;
    if (count_ == 0) buckets_.reset();
    return record;
}

ConnectionTable::Binding* ConnectionTable::FindBinding(const ConnectionRecord* record) const {
    if (record == nullptr) return nullptr;
    // Bindings are keyed by their record's name; a record renamed behind the table's back is
    // still found by walking the chains.
    if (count_ != 0) {
        const IndexSlot* slot = Probe(record->name, IndexHash(record->name));
        if (slot->binding != nullptr && slot->record == record) return slot->binding;
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
    records.reserve(count_);
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
    slots_.reset();
    mask_ = 0;
    shift_ = 32;
    count_ = 0;
    buckets_.reset();
    return deleted;
}

void ConnectionTable::Add(std::unique_ptr<ConnectionRecord> record) {
    if (!record) return;
    if (count_ == 0) defaultRecord = record.get();
    ConnectionRecord* const added = record.get();
    if (BindNew(record) == nullptr) {
        // The name is bound: the new record takes it over.
        Binding* bound = Probe(added->name, IndexHash(added->name))->binding;
        const bool wasDefault = defaultRecord == bound->record.get();
        Unbind(bound);
        if (wasDefault) defaultRecord = added;
        BindNew(record);
    }
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
    if (count_ == 0) return nullptr;
    const IndexSlot* slot = Probe(name, IndexHash(name));
    return slot->binding == nullptr ? nullptr : slot->record;
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
