// The tool's direct reads of the user's store, and what the store's answers mean.
#include "cli_store.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "cli.h"
#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "store/hash_key.h"
#include "store/stored_name.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <cerrno>
#endif

namespace cli {

namespace {

using tavix::platform::kCurrentUser;
using tavix::platform::kRegNotFound;
using tavix::platform::kRegOk;
using tavix::platform::RegKey;
using tavix::platform::SubkeyView;

// Keys of the older layout: "_VRConnN" holding the name as default value and "ConnString".
constexpr std::string_view kLegacyPrefix = "_VRConn";
// The library reads names and connection strings through buffers of 256 bytes.
constexpr size_t kMaxStoredText = 255;
// Large enough that a walk passes over a name longer than the library reads, and goes on.
constexpr uint32_t kWalkNameSize = 1u << 16;

std::string Fold(std::string_view name) {
    return tavix::platform::Fold(name, tavix::platform::SystemCodePage());
}

class OpenKey {
public:
    OpenKey(Registry& registry, RegKey parent, const char* path) : registry_(registry) {
        result_ = registry.OpenKey(parent, path, &key_);
        if (result_ != kRegOk) key_ = 0;
    }
    ~OpenKey() {
        if (key_ != 0) registry_.CloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    RegKey get() const { return key_; }
    long result() const { return result_; }

private:
    Registry& registry_;
    RegKey key_ = 0;
    long result_ = kRegOk;
};

// A key's values, whether a walk shows it or it was opened.
class Values {
public:
    virtual ~Values() = default;
    virtual long Query(const char* name, uint32_t* type, void* data, uint32_t* size) = 0;
    virtual long Open(const char* subKey, RegKey* key) = 0;

    // A string value (REG_SZ or REG_EXPAND_SZ) up to its first zero; kRegNotFound when missing
    // or not a string.
    long Text(const char* name, std::string& value) {
        // One query for the common case: a value that fits the buffer the library reads with.
        char buffer[kMaxStoredText + 1];
        uint32_t type = 0, size = sizeof buffer;
        long result = Query(name, &type, buffer, &size);
        if (result == tavix::platform::kRegMoreData) {
            if ((result = Query(name, &type, nullptr, &size)) != kRegOk) return result;
            if (!IsText(type)) return kRegNotFound;
            std::string data(size, '\0');
            if (size > 0 && (result = Query(name, &type, data.data(), &size)) != kRegOk) return result;
            data.resize(std::min<size_t>(size, data.size()));
            value.assign(data, 0, data.find('\0'));
            return kRegOk;
        }
        if (result != kRegOk) return result;
        if (!IsText(type)) return kRegNotFound;
        value.assign(buffer, std::find(buffer, buffer + size, '\0'));
        return kRegOk;
    }

    static bool IsText(uint32_t type) {
        return type == tavix::platform::kRegSz || type == tavix::platform::kRegExpandSz;
    }

    // A REG_DWORD value; kRegNotFound when missing or of another type.
    long Number(const char* name, uint32_t& value) {
        uint32_t type = 0, size = sizeof value;
        const long result = Query(name, &type, &value, &size);
        if (result != kRegOk) return result == tavix::platform::kRegMoreData ? kRegNotFound : result;
        return type == tavix::platform::kRegDword && size == sizeof value ? kRegOk : kRegNotFound;
    }
};

class ViewValues final : public Values {
public:
    explicit ViewValues(SubkeyView& view) : view_(view) {}
    long Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return view_.QueryValue(name, type, data, size);
    }
    long Open(const char* subKey, RegKey* key) override { return view_.OpenKey(subKey, key); }

private:
    SubkeyView& view_;
};

class KeyValues final : public Values {
public:
    KeyValues(Registry& registry, RegKey key) : registry_(registry), key_(key) {}
    long Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return registry_.QueryValue(key_, name, type, data, size);
    }
    long Open(const char* subKey, RegKey* key) override { return registry_.OpenKey(key_, subKey, key); }

private:
    Registry& registry_;
    RegKey key_;
};

// A read that fails on a missing value goes on; any other failure of the store ends it.
bool Missing(long result) { return result == kRegNotFound; }

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

// Whether splitting and joining leave the stored string as it is, which holds for what the
// library itself writes: "cn_iptcp:" first (no blank, quote or colon in front to pass over),
// then the first "[" and the first "]" after it, then nothing, or a colon and a namespace that
// does not begin with a blank. ASCII only, so that the text reads the same in every code page.
bool AlreadyNormal(std::string_view stored) {
    constexpr std::string_view kLead = "cn_iptcp:";
    if (!stored.starts_with(kLead) || !IsAscii(stored)) return false;
    const size_t open = stored.find('[', kLead.size());
    if (open == std::string_view::npos) return false;
    const size_t close = stored.find(']', open + 1);
    if (close == std::string_view::npos) return false;
    const std::string_view rest = stored.substr(close + 1);
    if (rest.empty()) return true;
    const auto blank = [](char c) { return c == ' ' || (c >= 9 && c <= 13); };
    return rest.size() >= 2 && rest[0] == ':' && !blank(rest[1]);
}

// The connection string as the exports split and join it again. A name written in front of
// the protocol ("Name:cn_iptcp:...") is passed over, as the library's own reading does.
// AlreadyNormal(stored) tells when joined would be stored itself.
bool Joined(const std::string& stored, std::string& joined) {
    for (size_t from = 0;;) {
        const WideString wide = WideFromNarrow(stored.substr(from));
        Bstr server, space;
        if (SplitConnectionString(wide.c_str(), &server.text, &space.text)) {
            // What MakeConnectionString makes of the two parts, without a second call.
            joined = Utf8(server.text);
            if (space.text != nullptr && *space.text != 0) {
                joined.push_back(':');  // appended in two steps: gcc 12 misreads ":" + text at -O3
                joined += Utf8(space.text);
            }
            return true;
        }
        if (from != 0) return false;
        from = stored.find(':');
        if (from == std::string::npos) return false;
        ++from;
    }
}

// Reads one entry of the connections key: the connection, or why the library cannot use it.
// kRegOk, or the registry's code when the store failed.
long ReadEntry(Registry& registry, std::string_view keyName, Values& values, bool withIcon,
               StoredConnection& out, std::string& why) {
    why.clear();
    out.isDefault = out.hasIcon = false;
    out.iconFile.clear();
    out.iconIndex = 0;
    // Read into out's own strings: a walk that passes the same out keeps their room.
    std::string& name = out.name;
    std::string& connectionString = out.connectionString;
    name.assign(keyName);
    const bool legacy = keyName.starts_with(kLegacyPrefix);
    long result = kRegOk;
    if (legacy) {
        if ((result = values.Text(nullptr, name)) != kRegOk ||
            (result = values.Text("ConnString", connectionString)) != kRegOk) {
            if (!Missing(result)) return result;
            why = "an entry of the older layout without a name or a connection string";
            return kRegOk;
        }
    } else if ((result = values.Text(nullptr, connectionString)) != kRegOk) {
        if (!Missing(result)) return result;
        why = "it has no connection string";
        return kRegOk;
    }
    if (const char* problem = tavix::store::StoredNameProblem(name)) {
        why = std::string("its name ") + problem;
        return kRegOk;
    }
    if (connectionString.size() > kMaxStoredText) {
        why = "its connection string is longer than 255 bytes";
        return kRegOk;
    }
    if (!AlreadyNormal(connectionString)) {
        const std::string stored = std::move(connectionString);
        if (!Joined(stored, connectionString)) {
            why = "not a connection string: \"" + Utf8FromNarrow(stored) + "\"";
            return kRegOk;
        }
    }
    if (!withIcon) return kRegOk;

    // The icon: "IconIndex" and "IconFilename" on the key, else (not in the older layout) the
    // "Icon" subkey with "Index" and "FileName".
    const auto take = [&out](Values& from, const char* indexName, const char* fileName) {
        uint32_t index = 0;
        std::string file;
        long read = from.Number(indexName, index);
        if (read == kRegOk) read = from.Text(fileName, file);
        if (read == kRegOk && !file.empty()) {
            out.hasIcon = true;
            out.iconFile = std::move(file);
            out.iconIndex = static_cast<int32_t>(index);
        }
        return Missing(read) ? kRegOk : read;
    };
    if ((result = take(values, "IconIndex", "IconFilename")) != kRegOk || out.hasIcon || legacy) return result;
    RegKey icon = 0;
    result = values.Open("Icon", &icon);
    if (result != kRegOk) return Missing(result) ? kRegOk : result;
    KeyValues iconValues(registry, icon);
    result = take(iconValues, "Index", "FileName");
    registry.CloseKey(icon);
    return result;
}

// Runs read inside one batch of the store: one consistent view, and no other process's save
// landing in between. The batch's failures count as the read's.
template <typename Read>
long InBatch(Registry& registry, Read read) {
    if (const long begun = registry.BeginBatch(); begun != kRegOk) return begun;
    const long result = read();
    if (result != kRegOk && result != kRegNotFound) {
        registry.AbortBatch();
        return result;
    }
    const long committed = registry.CommitBatch();
    return committed != kRegOk ? committed : result;
}

// The name of the subkey of `key` that is `name` to the registry, as the store writes it;
// kRegNotFound when there is none. An entry of the older layout is not found by its name here.
long StoredKeyName(Registry& registry, RegKey key, std::string_view name, std::string& stored) {
    const long result = registry.SubkeyAtOrAfter(key, name, stored);
    if (result == tavix::platform::kRegNoMoreItems) return kRegNotFound;
    if (result != kRegOk) return result;
    return Fold(stored) == Fold(name) && !stored.starts_with(kLegacyPrefix) ? kRegOk : kRegNotFound;
}

// The first usable connection named `name`: its key by name, else the entries of the older
// layout (only when there are some). kRegOk, kRegNotFound, or the registry's code.
long FindConnection(Registry& registry, RegKey connections, std::string_view name, bool withIcon,
                    StoredConnection& out, std::string& unusable) {
    std::string keyName;
    long result = StoredKeyName(registry, connections, name, keyName);
    if (result == kRegOk) {
        OpenKey key(registry, connections, keyName.c_str());
        if (key.result() != kRegOk) return key.result();
        KeyValues values(registry, key.get());
        return ReadEntry(registry, keyName, values, withIcon, out, unusable);
    }
    if (result != kRegNotFound) return result;
    std::string first;
    result = registry.SubkeyAtOrAfter(connections, kLegacyPrefix, first);
    // The first name that sorts at or after the prefix tells whether any name begins with it.
    if (result == tavix::platform::kRegNoMoreItems ||
        (result == kRegOk && !Fold(first).starts_with(Fold(kLegacyPrefix)))) {
        return kRegNotFound;
    }
    if (result != kRegOk) return result;
    const std::string wanted = Fold(name);
    long found = kRegNotFound, failure = kRegOk;
    result = registry.ForEachSubkey(connections, kWalkNameSize, [&](SubkeyView& view) {
        if (!view.Name().starts_with(kLegacyPrefix)) return true;
        ViewValues values(view);
        StoredConnection entry;
        std::string why;
        if ((failure = ReadEntry(registry, view.Name(), values, withIcon, entry, why)) != kRegOk) return false;
        if (!why.empty() || Fold(entry.name) != wanted) return true;
        out = std::move(entry);
        found = kRegOk;
        return false;
    });
    if (result != kRegOk) return result;
    return failure != kRegOk ? failure : found;
}

}  // namespace

Outcome FromRegistry(long code) {
    using namespace tavix::platform;
    switch (code) {
        case kRegOk: return Outcome::kDone;
        case kRegNotFound:
        case kRegKeyDeleted: return Outcome::kNotFound;
        case kRegInvalidParameter:
        case kRegBadPathname: return Outcome::kRefused;
        case kRegBusy: return Outcome::kBusy;
        case kRegDiskFull: return Outcome::kFull;
        case kRegIoFailed: return Outcome::kIoError;
        case kRegBadStore: return Outcome::kUnusable;
        case kRegAccessDenied: return Outcome::kDenied;
        case kRegOutOfMemory: return Outcome::kNoMemory;
        default: return Outcome::kFailed;
    }
}

#if defined(_WIN32)
// The exports leave the registry's own codes, which are Windows error codes.
Outcome FromLastError(unsigned long code) { return FromRegistry(static_cast<long>(code)); }
unsigned long LastError() { return GetLastError(); }
bool IsNoWindowSystem(unsigned long code) { return code == ERROR_NOT_SUPPORTED; }
void ClearLastError() { SetLastError(0); }
#else
Outcome FromLastError(unsigned long code) {
    switch (code) {
        case 0: return Outcome::kDone;
        case ENOENT: return Outcome::kNotFound;
        case EINVAL: return Outcome::kRefused;
        case EBUSY: return Outcome::kBusy;
        case ENOSPC: return Outcome::kFull;
        case EIO: return Outcome::kIoError;
        case ENOTRECOVERABLE: return Outcome::kUnusable;
        case EACCES:
        case EPERM: return Outcome::kDenied;
        case ENOMEM: return Outcome::kNoMemory;
        default: return Outcome::kFailed;
    }
}
unsigned long LastError() { return static_cast<unsigned long>(errno); }
bool IsNoWindowSystem(unsigned long code) { return code == ENXIO; }
void ClearLastError() { errno = 0; }
#endif

bool IsStoreFailure(Outcome outcome) {
    return outcome != Outcome::kDone && outcome != Outcome::kNotFound && outcome != Outcome::kRefused;
}

std::string StoreName(Registry& registry) {
    const std::string location = registry.Location();
    return location.empty() ? "the registry (HKEY_CURRENT_USER\\" + std::string(kConnectionsKey) + ")"
                            : Utf8FromNarrow(location);
}

std::string StoreFailureText(Outcome outcome, unsigned long code, Registry& registry) {
    switch (outcome) {
        case Outcome::kBusy: return "the store is locked by another process";
        case Outcome::kFull: return "no space left on device: " + StoreName(registry);
        case Outcome::kIoError: return "I/O error reading or writing " + StoreName(registry);
        case Outcome::kUnusable: {
            const std::string problem = registry.Problem();
            return "cannot use the connection store " + StoreName(registry) +
                   (problem.empty() ? "" : ": " + Utf8FromNarrow(problem));
        }
        case Outcome::kDenied: return "permission denied: " + StoreName(registry);
        case Outcome::kNoMemory: return "out of memory reading or writing " + StoreName(registry);
        default: return "the store failed (error " + std::to_string(code) + "): " + StoreName(registry);
    }
}

namespace {

// The steps of ReadConnectionList. Rows is the list's row array (ConnectionList's rows, which
// only the list and its reader use).

// An entry of the older layout among the usable ones: its row and its key's name.
using LegacyKey = std::pair<size_t, std::string>;
// An entry passed over, with its place in the store's order.
using PassedEntry = std::pair<size_t, SkippedEntry>;

// The walk, in the store's order: each usable entry appended to text and rows, each entry
// counted for its place in that order, each one that cannot be used kept in passed.
template <typename Text, typename Rows>
long WalkConnections(Registry& registry, RegKey key, bool withIcons, Text& text, Rows& rows,
                     std::vector<LegacyKey>& legacyKeys, std::vector<PassedEntry>& passed) {
    uint32_t place = 0;
    long failure = kRegOk;
    StoredConnection entry;
    std::string why;
    const long walked = registry.ForEachSubkey(key, kWalkNameSize, [&](SubkeyView& view) {
        ViewValues values(view);
        if ((failure = ReadEntry(registry, view.Name(), values, withIcons, entry, why)) != kRegOk) return false;
        if (!why.empty()) {
            passed.push_back({place++, {std::string(view.Name()), std::move(why)}});
            return true;
        }
        if (view.Name().starts_with(kLegacyPrefix)) legacyKeys.emplace_back(rows.size(), view.Name());
        const size_t at = text.size();
        char* bytes = text.Extend(entry.name.size() + entry.connectionString.size() + entry.iconFile.size());
        auto* row = rows.Extend(1);
        if (bytes == nullptr || row == nullptr) {
            failure = tavix::platform::kRegOutOfMemory;
            return false;
        }
        std::memcpy(bytes, entry.name.data(), entry.name.size());
        bytes += entry.name.size();
        std::memcpy(bytes, entry.connectionString.data(), entry.connectionString.size());
        bytes += entry.connectionString.size();
        std::memcpy(bytes, entry.iconFile.data(), entry.iconFile.size());
        *row = {at, place++, static_cast<uint32_t>(entry.iconFile.size()), entry.iconIndex,
                static_cast<uint8_t>(entry.name.size()), static_cast<uint8_t>(entry.connectionString.size()),
                false, entry.hasIcon};
        return true;
    });
    return failure != kRegOk ? failure : walked;
}

// Names of the current layout are distinct registry names; only an entry of the older layout
// can repeat a name, so only then are the names compared. A repeated name is passed over, and
// passed is put back into the store's order.
template <typename Rows>
void PassOverRepeatedNames(const ConnectionList& connections, Rows& rows,
                           const std::vector<LegacyKey>& legacyKeys, std::vector<PassedEntry>& passed) {
    if (legacyKeys.empty()) return;
    std::unordered_set<std::string> seen;
    size_t kept = 0;
    auto legacy = legacyKeys.begin();
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool isLegacy = legacy != legacyKeys.end() && legacy->first == i;
        if (seen.insert(Fold(connections.Name(i))).second) {
            rows[kept++] = rows[i];
        } else {
            std::string keyName(isLegacy ? std::string_view(legacy->second) : connections.Name(i));
            passed.push_back({rows[i].place, {std::move(keyName), "the same name as an entry before it"}});
        }
        if (isLegacy) ++legacy;
    }
    rows.Shrink(kept);
    std::stable_sort(passed.begin(), passed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

template <typename Rows>
void MarkDefault(const ConnectionList& connections, Rows& rows, const std::string& defaultName) {
    const bool defaultAscii = IsAscii(defaultName);
    const std::string defaultFold = defaultName.empty() ? std::string() : Fold(defaultName);
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string_view name = connections.Name(i);
        rows[i].isDefault = !defaultName.empty() && (defaultAscii && IsAscii(name)
                                                         ? EqualsAsciiNoCase(name, defaultName)
                                                         : Fold(name) == defaultFold);
    }
}

// A load binds each entry at the head of its hash bucket in the store's order: the buckets in
// turn, each in the store's order reversed. Each row's place is counted out first, then the
// rows are swapped into their places.
template <typename Rows>
void OrderAsTheTableBinds(const ConnectionList& connections, Rows& rows) {
    constexpr uint32_t kBuckets = 17;
    std::vector<uint32_t> target(rows.size());
    uint32_t start[kBuckets + 1] = {};
    for (size_t i = 0; i < rows.size(); ++i) {
        target[i] = tavix::HashKey(connections.Name(i)) % kBuckets;
        ++start[target[i] + 1];
    }
    for (uint32_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
    for (size_t i = rows.size(); i-- > 0;) target[i] = start[target[i]]++;
    for (size_t i = 0; i < rows.size(); ++i) {
        while (target[i] != i) {
            const uint32_t to = target[i];
            std::swap(rows[i], rows[to]);
            std::swap(target[i], target[to]);
        }
    }
}

}  // namespace

long ReadConnectionList(Registry& registry, ConnectionList& connections, std::vector<SkippedEntry>& skipped,
                        bool withIcons) {
    connections = ConnectionList();
    skipped.clear();
    auto& text = connections.text_;
    auto& rows = connections.rows_;
    return InBatch(registry, [&]() -> long {
        OpenKey key(registry, kCurrentUser, kConnectionsKey);
        if (key.result() == kRegNotFound) return kRegOk;
        if (key.result() != kRegOk) return key.result();
        KeyValues keyValues(registry, key.get());
        std::string defaultName;
        if (const long read = keyValues.Text(nullptr, defaultName); read != kRegOk && !Missing(read)) return read;

        std::vector<LegacyKey> legacyKeys;
        std::vector<PassedEntry> passed;
        if (const long walked = WalkConnections(registry, key.get(), withIcons, text, rows, legacyKeys, passed);
            walked != kRegOk) {
            return walked;
        }
        PassOverRepeatedNames(connections, rows, legacyKeys, passed);
        for (auto& passedEntry : passed) skipped.push_back(std::move(passedEntry.second));
        MarkDefault(connections, rows, defaultName);
        OrderAsTheTableBinds(connections, rows);
        return kRegOk;
    });
}

long ReadConnection(Registry& registry, std::string_view name, StoredConnection& connection,
                    std::string& unusable) {
    unusable.clear();
    return InBatch(registry, [&]() -> long {
        OpenKey key(registry, kCurrentUser, kConnectionsKey);
        if (key.result() != kRegOk) return key.result();
        const long found = FindConnection(registry, key.get(), name, true, connection, unusable);
        if (found != kRegOk || !unusable.empty()) return found;
        KeyValues keyValues(registry, key.get());
        std::string defaultName;
        if (const long read = keyValues.Text(nullptr, defaultName); read != kRegOk && !Missing(read)) return read;
        connection.isDefault = !defaultName.empty() && Fold(defaultName) == Fold(connection.name);
        return kRegOk;
    });
}

long ReadDefaultConnection(Registry& registry, std::string& name, std::string& dangling) {
    name.clear();
    dangling.clear();
    const long result = InBatch(registry, [&]() -> long {
        OpenKey key(registry, kCurrentUser, kConnectionsKey);
        if (key.result() != kRegOk) return key.result();
        KeyValues keyValues(registry, key.get());
        std::string stored;
        if (const long read = keyValues.Text(nullptr, stored); read != kRegOk) return read;
        if (stored.empty()) return kRegOk;
        StoredConnection connection;
        std::string unusable;
        const long found = FindConnection(registry, key.get(), stored, false, connection, unusable);
        if (found == kRegNotFound || (found == kRegOk && !unusable.empty())) {
            dangling = stored;
            return kRegOk;
        }
        if (found == kRegOk) name = connection.name;
        return found;
    });
    return result == kRegNotFound ? kRegOk : result;
}

}  // namespace cli
