#include "store/connection_table.h"

#include <bitset>
#include <cstring>

#include "frame/context/library_context.h"
#include "platform/name_fold.h"
#include "resources/strings.h"
#include "store/record_defaults.h"
#include "store/registry_store.h"
#include "store/stored_name.h"

namespace tavix {

ConnectionTable::ConnectionTable() = default;

ConnectionTable::~ConnectionTable() { Clear(); }

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
    // name is a fold. The first 16 bytes of the slot that holds it: its hash, length and first
    // bytes, the rest zero. A slot is compared as two words, with no call and few branches.
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
        if (slotLow == low && slotHigh == high && (fits || slot.binding->fold == name)) return &slot;
    }
}

void ConnectionTable::IndexInsert(IndexSlot* slot, Binding* binding, uint64_t hash) {
    const std::string& name = binding->fold;
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
    size_t gap = Home(static_cast<uint32_t>(IndexHash(binding->fold) >> 32));
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

std::string ConnectionTable::FoldOf(std::string_view name) const {
    return platform::Fold(name, ActiveCodePage());
}

ConnectionTable::Binding* ConnectionTable::Bind(std::unique_ptr<ConnectionRecord> record,
                                                std::unique_ptr<StoredState> stored) {
    Binding* binding = BindNew(record);
    if (binding == nullptr) return nullptr;  // only Add's takeover gets here, after unbinding
    if (stored) {
        const std::string fold = FoldOf(stored->keyName);
        storedEntries_[fold] = StoredEntry{binding, stored->keyName};
        absent_.erase(fold);
        binding->stored = std::move(stored);
    }
    return binding;
}

ConnectionTable::Binding* ConnectionTable::BindNew(std::unique_ptr<ConnectionRecord>& record) {
    // At most 13/16 of the slots used: a small array (fewer cache and TLB misses at 100,000
    // names) with short probe runs.
    if (!slots_ || (count_ + 1) * 16 > (mask_ + 1) * 13) IndexGrow();
    std::string fold = FoldOf(record->name);
    const uint64_t hash = IndexHash(fold);
    IndexSlot* slot = Probe(fold, hash);
    if (slot->binding != nullptr) return nullptr;
    if (!buckets_) buckets_ = std::make_unique<Binding*[]>(kBucketCount);
    auto* binding = new Binding{record->name, std::move(fold), std::move(record), nullptr, nullptr};
    Binding*& head = buckets_[HashKey(binding->key) % kBucketCount];
    binding->next = head;
    head = binding;
    IndexInsert(slot, binding, hash);
    return binding;
}

std::unique_ptr<ConnectionRecord> ConnectionTable::Unbind(Binding* binding) {
    Binding** link = &buckets_[HashKey(binding->key) % kBucketCount];
    while (*link != binding) link = &(*link)->next;
    *link = binding->next;
    IndexErase(binding);
    if (binding->stored) {
        // The store's entry goes with the next save.
        storedEntries_[FoldOf(binding->stored->keyName)].binding = nullptr;
    }
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
        const std::string fold = FoldOf(record->name);
        const IndexSlot* slot = Probe(fold, IndexHash(fold));
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
    defaultRecord_ = nullptr;
    slots_.reset();
    mask_ = 0;
    shift_ = 32;
    count_ = 0;
    buckets_.reset();
    Detach();
    return deleted;
}

void ConnectionTable::Detach() {
    attached_ = false;
    complete_ = false;
    storedDefault_.clear();
    storedEntries_.clear();
    absent_.clear();
}

void ConnectionTable::Add(std::unique_ptr<ConnectionRecord> record) {
    if (!record) return;
    if (Empty()) defaultRecord_ = record.get();
    ConnectionRecord* const added = record.get();
    if (BindNew(record) == nullptr) {
        // The name is bound: the new record takes it over.
        const std::string fold = FoldOf(added->name);
        Binding* bound = Probe(fold, IndexHash(fold))->binding;
        const bool wasDefault = defaultRecord_ == bound->record.get();
        Unbind(bound);
        if (wasDefault) defaultRecord_ = added;
        BindNew(record);
    }
    modified_ = true;
}

bool ConnectionTable::Remove(ConnectionRecord* record) {
    Binding* binding = FindBinding(record);
    if (binding == nullptr) return false;
    if (defaultRecord_ == record) defaultRecord_ = nullptr;
    Unbind(binding);  // the record is deleted here
    modified_ = true;
    return true;
}

bool ConnectionTable::RemoveByName(const char* key) { return Remove(Lookup(key)); }

ConnectionRecord* ConnectionTable::FindInMemory(std::string_view fold) const {
    if (count_ == 0) return nullptr;
    const IndexSlot* slot = Probe(fold, IndexHash(fold));
    return slot->binding == nullptr ? nullptr : slot->record;
}

ConnectionRecord* ConnectionTable::Find(std::string_view name) {
    if (name.empty()) return nullptr;
    // A short ASCII name folds on the stack: a lookup in memory then allocates nothing.
    char ascii[64];
    bool folded = name.size() <= sizeof ascii;
    for (size_t i = 0; folded && i < name.size(); ++i) {
        const char c = name[i];
        folded = static_cast<unsigned char>(c) < 0x80;
        ascii[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (folded) {
        if (ConnectionRecord* found = FindInMemory(std::string_view(ascii, name.size()))) return found;
    }
    const std::string fold = folded ? std::string(ascii, name.size()) : FoldOf(name);
    if (!folded) {
        if (ConnectionRecord* found = FindInMemory(fold)) return found;
    }
    // Not in memory: the store may hold it, unless the table stands for that entry already
    // (removed, or renamed, in memory) or the store was found not to hold it.
    if (!attached_ || complete_ || storedEntries_.contains(fold) || absent_.contains(fold)) {
        return nullptr;
    }
    return Fetch(name);
}

ConnectionRecord* ConnectionTable::Lookup(const char* key) {
    if (key == nullptr || *key == 0) return nullptr;
    const std::string_view text(key);
    if (text.find(':') == std::string_view::npos) return Find(text);

    ConnectionRecord scratch;
    if (!scratch.Parse(nullptr, key, CurrentParseDefaults())) return nullptr;
    ConnectionRecord* bound = Find(scratch.name);
    if (bound == nullptr) return nullptr;
    // The name as bound: names that differ only in case are one name.
    scratch.name = bound->name;
    return bound->Equals(scratch) ? bound : nullptr;
}

ConnectionRecord* ConnectionTable::FindSameTarget(const ConnectionRecord& candidate) {
    if (attached_ && !complete_ && LoadAll() != 0) return nullptr;
    if (!buckets_) return nullptr;
    const std::string_view defaultNamespace = LoadString(resources::kStrDefaultNamespace);
    for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Binding* binding = buckets_[b]; binding; binding = binding->next) {
            if (binding->record->SameTarget(candidate, defaultNamespace)) return binding->record.get();
        }
    }
    return nullptr;
}

ConnectionRecord* ConnectionTable::FindOrAdd(const char* name, const char* connectionString) {
    const ParseDefaults defaults = CurrentParseDefaults();
    auto candidate = std::make_unique<ConnectionRecord>();
    candidate->Parse(name, connectionString, defaults);
    std::string base;
    if (candidate->name.empty()) {
        candidate.reset();
        base = name ? name : "";
    } else {
        if (candidate->name == defaults.nameless) candidate->name.clear();
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
        added->Parse(name, std::string(kDefaultConnectionString).c_str(), defaults);
        if (added->name.empty()) added.reset();
    }
    // A name the store cannot hold is never added.
    if (!added || store::StoredNameProblem(added->name) != nullptr) return nullptr;
    ConnectionRecord* result = added.get();
    Add(std::move(added));
    return result;
}

namespace {

// The longest start of text that has at most `limit` bytes and ends on a character boundary.
std::string_view Clipped(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    if (const std::bitset<256>* leadBytes = ActiveCodePage().LeadBytes()) {
        size_t end = 0;
        while (end < text.size()) {
            const size_t step = (*leadBytes)[static_cast<unsigned char>(text[end])] ? 2 : 1;
            if (end + step > limit) break;
            end += step;
        }
        return text.substr(0, end);
    }
    size_t end = limit;  // UTF-8 (or a single-byte code page, where no byte continues another)
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// name without the characters the store cannot hold in a name, at most 255 bytes long.
std::string StorableForm(std::string_view name) {
    std::string kept;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F && c != '\\') kept.push_back(c);
    }
    return std::string(Clipped(kept, store::kMaxStoredName));
}

}  // namespace

bool ConnectionTable::MakeUniqueName(const ConnectionRecord* record, std::string& name) {
    bool accepted = true;
    // A name the store cannot hold as one key is refused: the nearest name it can hold is
    // proposed instead.
    if (store::StoredNameProblem(name) != nullptr && !name.empty()) {
        name = StorableForm(name);
        accepted = false;
    }
    if (name.empty()) {
        name = LoadString(resources::kStrNameless);
        accepted = false;
    }
    const std::string base = name;
    for (int counter = 1;; ++counter) {
        const ConnectionRecord* bound = Find(name);
        if (bound == nullptr || bound == record) return accepted;
        const std::string number = std::to_string(counter);
        name = std::string(Clipped(base, store::kMaxStoredName - number.size())) + number;
        accepted = false;
    }
}

bool ConnectionTable::Rename(ConnectionRecord* record, std::string& name) {
    const bool accepted = MakeUniqueName(record, name);
    if (record == nullptr || name == record->name) return accepted;
    Binding* binding = FindBinding(record);
    if (binding == nullptr) return accepted;
    // The record keeps the store entry it was read from: the next save moves it.
    std::unique_ptr<StoredState> stored = std::move(binding->stored);
    std::unique_ptr<ConnectionRecord> owned = Unbind(binding);
    if (defaultRecord_ == record) defaultRecord_ = nullptr;
    owned->name = name;
    Bind(std::move(owned), std::move(stored));
    return accepted;
}

bool ConnectionTable::Empty() {
    if (count_ > 0) return false;
    if (!attached_ || complete_) return true;
    // Nothing in memory, and the store not read whole: read until a connection turns up.
    return FetchFirst() == nullptr;
}

bool ConnectionTable::SetDefault(const char* key) {
    ConnectionRecord* target = nullptr;
    if (key != nullptr && *key != 0) {
        target = Lookup(key);
        if (target == nullptr) return false;
    }
    if (target == defaultRecord_) return true;
    const std::string_view name = target ? std::string_view{target->name} : std::string_view{};
    if (const long error = WriteDefaultConnectionName(name)) {
        storeError_ = error;
        return false;
    }
    storedDefault_.assign(name);
    defaultRecord_ = target;
    modified_ = true;
    return true;
}

}  // namespace tavix
