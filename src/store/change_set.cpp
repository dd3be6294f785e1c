#include "store/change_set.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "store/registry_store.h"

namespace tavix::store {

using platform::kRegKeyDeleted;
using platform::kRegNotFound;
using platform::kRegOk;

namespace {

constexpr uint8_t kJournalMagic[4] = {'T', 'V', 'X', 'J'};
constexpr uint32_t kJournalVersion = 1;
constexpr size_t kJournalHeader = 12;  // magic, version, body length
constexpr size_t kJournalTrailer = 4;  // CRC-32
// Far beyond any save (10,000 connections take about 1 MB); a larger value is not a journal.
constexpr uint32_t kJournalLimit = 256u << 20;

// CRC-32 (IEEE 802.3, reflected, as zlib's).
uint32_t Crc32(std::span<const uint8_t> bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void PutNumber(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutString(std::vector<uint8_t>& out, const std::string& text) {
    PutNumber(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

uint32_t NumberAt(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Reads the body front to back; every read checks what is left.
class BodyReader {
public:
    explicit BodyReader(std::span<const uint8_t> body) : body_(body) {}
    bool Number(uint32_t& value) {
        if (body_.size() - at_ < 4) return false;
        value = NumberAt(body_, at_);
        at_ += 4;
        return true;
    }
    bool String(std::string& text) {
        uint32_t length = 0;
        if (!Number(length) || body_.size() - at_ < length) return false;
        text.assign(reinterpret_cast<const char*>(body_.data() + at_), length);
        at_ += length;
        return true;
    }
    // A count of items that take at least `each` bytes: no more than the rest can hold.
    bool Count(size_t each, uint32_t& count) {
        return Number(count) && count <= (body_.size() - at_) / each;
    }
    bool AtEnd() const { return at_ == body_.size(); }

private:
    std::span<const uint8_t> body_;
    size_t at_ = 0;
};

bool DecodeBody(std::span<const uint8_t> body, ChangeSet& changes) {
    BodyReader reader(body);
    uint32_t count = 0;
    if (!reader.Count(4, count)) return false;
    changes.deletions.assign(count, {});
    for (std::string& name : changes.deletions) {
        if (!reader.String(name)) return false;
    }
    if (!reader.Count(16, count)) return false;
    changes.writes.assign(count, {});
    for (StoredConnection& entry : changes.writes) {
        uint32_t index = 0;
        if (!reader.String(entry.keyName) || !reader.String(entry.connectionString) ||
            !reader.String(entry.iconFile) || !reader.Number(index)) {
            return false;
        }
        entry.iconIndex = static_cast<int32_t>(index);
    }
    uint32_t writeDefault = 0;
    if (!reader.Number(writeDefault) || writeDefault > 1 || !reader.String(changes.defaultName)) return false;
    changes.writeDefault = writeDefault == 1;
    return reader.AtEnd();
}

long DeleteIfThere(platform::Registry& registry, platform::RegKey parent, const std::string& name) {
    const long result = registry.DeleteTree(parent, name.c_str());
    return result == kRegNotFound || result == kRegKeyDeleted ? kRegOk : result;
}

long Write(platform::Registry& registry, platform::RegKey connections, const StoredConnection& entry) {
    // Delete first: the key then takes this name's case, and nothing of an older entry stays.
    if (const long error = DeleteIfThere(registry, connections, entry.keyName)) return error;
    platform::RegKey key = 0;
    if (const long error = registry.CreateKey(connections, entry.keyName.c_str(), &key)) return error;
    long result = registry.SetValue(key, nullptr, platform::kRegSz, entry.connectionString.c_str(),
                                    static_cast<uint32_t>(entry.connectionString.size() + 1));
    if (result == kRegOk && !entry.iconFile.empty()) {
        const auto index = static_cast<uint32_t>(entry.iconIndex);
        result = registry.SetValue(key, "IconIndex", platform::kRegDword, &index, sizeof index);
        if (result == kRegOk) {
            result = registry.SetValue(key, "IconFilename", platform::kRegExpandSz, entry.iconFile.c_str(),
                                       static_cast<uint32_t>(entry.iconFile.size() + 1));
        }
    }
    registry.CloseKey(key);
    return result;
}

// ApplyChanges without a journal.
long Apply(platform::Registry& registry, platform::RegKey connections, const ChangeSet& changes) {
    for (const std::string& name : changes.deletions) {
        if (const long error = DeleteIfThere(registry, connections, name)) return error;
    }
    for (const StoredConnection& entry : changes.writes) {
        if (const long error = Write(registry, connections, entry)) return error;
    }
    if (!changes.writeDefault) return kRegOk;
    if (changes.defaultName.empty()) {
        const long result = registry.DeleteValue(connections, nullptr);
        return result == kRegNotFound ? kRegOk : result;
    }
    return registry.SetValue(connections, nullptr, platform::kRegSz, changes.defaultName.c_str(),
                             static_cast<uint32_t>(changes.defaultName.size() + 1));
}

long DeleteJournal(platform::Registry& registry, platform::RegKey connections) {
    const long result = registry.DeleteValue(connections, kPendingSaveValue);
    return result == kRegNotFound ? kRegOk : result;
}

}  // namespace

std::vector<uint8_t> EncodeChangeSet(const ChangeSet& changes) {
    std::vector<uint8_t> out(std::begin(kJournalMagic), std::end(kJournalMagic));
    PutNumber(out, kJournalVersion);
    PutNumber(out, 0);  // the body's length, set below
    PutNumber(out, static_cast<uint32_t>(changes.deletions.size()));
    for (const std::string& name : changes.deletions) PutString(out, name);
    PutNumber(out, static_cast<uint32_t>(changes.writes.size()));
    for (const StoredConnection& entry : changes.writes) {
        PutString(out, entry.keyName);
        PutString(out, entry.connectionString);
        PutString(out, entry.iconFile);
        PutNumber(out, static_cast<uint32_t>(entry.iconIndex));
    }
    PutNumber(out, changes.writeDefault ? 1 : 0);
    PutString(out, changes.defaultName);
    const auto bodyLength = static_cast<uint32_t>(out.size() - kJournalHeader);
    for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(bodyLength >> (8 * i));
    PutNumber(out, Crc32(out));
    return out;
}

bool DecodeChangeSet(std::span<const uint8_t> bytes, ChangeSet& changes) {
    if (bytes.size() < kJournalHeader + kJournalTrailer ||
        !std::equal(std::begin(kJournalMagic), std::end(kJournalMagic), bytes.begin()) ||
        NumberAt(bytes, 4) != kJournalVersion ||
        NumberAt(bytes, 8) != bytes.size() - kJournalHeader - kJournalTrailer) {
        return false;
    }
    const size_t checked = bytes.size() - kJournalTrailer;
    if (Crc32(bytes.first(checked)) != NumberAt(bytes, checked)) return false;
    return DecodeBody(bytes.subspan(kJournalHeader, checked - kJournalHeader), changes);
}

long ApplyChanges(platform::Registry& registry, platform::RegKey connections, const ChangeSet& changes) {
    if (registry.AtomicBatches()) return Apply(registry, connections, changes);
    // The journal is one slot: a save left unfinished is finished before it is overwritten.
    if (const long error = FinishPendingSave(registry, connections)) return error;
    if (changes.Empty()) return kRegOk;
    const std::vector<uint8_t> journal = EncodeChangeSet(changes);
    if (journal.size() > kJournalLimit) return platform::kRegOutOfMemory;
    if (const long error = registry.SetValue(connections, kPendingSaveValue, platform::kRegBinary,
                                             journal.data(), static_cast<uint32_t>(journal.size()))) {
        return error;
    }
    if (const long error = Apply(registry, connections, changes)) return error;
    return DeleteJournal(registry, connections);
}

long FinishPendingSave(platform::Registry& registry, platform::RegKey connections) {
    uint32_t type = 0;
    uint32_t size = 0;
    long result = registry.QueryValue(connections, kPendingSaveValue, &type, nullptr, &size);
    if (result == kRegNotFound) return kRegOk;
    if (result != kRegOk) return result;
    std::vector<uint8_t> journal;
    if (type == platform::kRegBinary && size <= kJournalLimit) {
        journal.resize(size);
        result = registry.QueryValue(connections, kPendingSaveValue, &type, journal.data(), &size);
        if (result != kRegOk) return result;
        journal.resize(size);
    }
    ChangeSet changes;
    if (type == platform::kRegBinary && DecodeChangeSet(journal, changes)) {
        if (const long error = Apply(registry, connections, changes)) return error;
    }
    return DeleteJournal(registry, connections);
}

long FinishPendingSave(platform::Registry& registry) {
    if (registry.AtomicBatches()) return kRegOk;
    if (const long error = registry.BeginBatch()) return error;
    platform::RegKey connections = 0;
    long result = registry.OpenKey(platform::kCurrentUser, kConnectionsKeyPath, &connections);
    if (result == kRegOk) {
        result = FinishPendingSave(registry, connections);
        registry.CloseKey(connections);
    } else if (result == kRegNotFound) {
        result = kRegOk;
    }
    if (result != kRegOk) {
        registry.AbortBatch();
        return result;
    }
    return registry.CommitBatch();
}

}  // namespace tavix::store
