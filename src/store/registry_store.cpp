#include "store/registry_store.h"

#include <cstring>
#include <string>
#include <vector>

#include "frame/context/library_context.h"
#include "resources/strings.h"
#include "store/change_set.h"

namespace tavix {

using platform::RegKey;
using platform::UserRegistry;

void RegistryKey::reset() noexcept {
    if (key_ != 0 && key_ != platform::kCurrentUser) UserRegistry().CloseKey(key_);
    key_ = 0;
}

namespace store {

// Names loaded from the library's own string table hold at most 255 characters.
bool OwnName(uint32_t id, std::string& name) {
    const std::string_view text = LoadOwnString(id);
    if (text.empty() || text.size() > 255) return false;
    name.assign(text);
    return true;
}

namespace {

// The values of an open key, read as a SubkeyView reads a visited subkey's.
struct KeyValues {
    RegKey key;
    long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const {
        return UserRegistry().QueryValue(key, name, type, data, size);
    }
};

template <typename Values>
long StringValue(Values&& values, const char* name, UniqueBstr& value) {
    uint32_t type = 0, size = 0;
    if (values.QueryValue(name, &type, nullptr, &size) != platform::kRegOk) return kErrReadString;
    if (type != platform::kRegSz && type != platform::kRegExpandSz) return kErrReadString;
    std::vector<char> bytes(size);
    if (size > 0 && values.QueryValue(name, &type, bytes.data(), &size) != platform::kRegOk) {
        return kErrReadString;
    }
    // The text ends at its terminating zero, or at the end of the data when it has none.
    std::string_view text(bytes.data(), size);
    text = text.substr(0, text.find('\0'));
    BSTR wide = NewBstrFromNarrow(text);
    if (wide == nullptr) return kErrOutOfMemory;
    value.reset(wide);
    return 0;
}

template <typename Values>
long NumberValue(Values&& values, const char* name, uint32_t& value) {
    uint32_t type = 0, size = sizeof value;
    uint32_t number = 0;
    if (values.QueryValue(name, &type, &number, &size) != platform::kRegOk ||
        type != platform::kRegDword || size != sizeof number) {
        return kErrReadNumber;
    }
    value = number;
    return 0;
}

template <typename Values>
bool LimitedString(Values&& values, const char* name, uint32_t limit, std::string& value) {
    // The limits the store uses (256 and 512 bytes) fit the buffer on the stack.
    char small[512];
    std::vector<char> large(limit > sizeof small ? limit : 0);
    char* buffer = limit > sizeof small ? large.data() : small;
    uint32_t type = 0, size = limit;
    if (values.QueryValue(name, &type, buffer, &size) != platform::kRegOk) return false;
    if (type != platform::kRegSz && type != platform::kRegExpandSz) return false;
    std::string_view text(buffer, size);
    value.assign(text.substr(0, text.find('\0')));
    return true;
}

}  // namespace

long OpenKey(RegKey parent, const char* path, RegistryKey& key) {
    return UserRegistry().OpenKey(parent, path, key.receive()) == platform::kRegOk ? 0 : kErrOpen;
}

long OpenOrCreateKey(RegKey parent, const char* path, RegistryKey& key) {
    return UserRegistry().CreateKey(parent, path, key.receive()) == platform::kRegOk ? 0 : kErrOpen;
}

long OpenOrCreateKeyById(RegKey parent, uint32_t id, RegistryKey& key) {
    std::string path;
    if (!OwnName(id, path)) return kErrOpen;
    return OpenOrCreateKey(parent, path.c_str(), key);
}

long ReadStringValue(RegKey key, const char* name, UniqueBstr& value) {
    return StringValue(KeyValues{key}, name, value);
}

long ReadStringValue(platform::SubkeyView& key, const char* name, UniqueBstr& value) {
    return StringValue(key, name, value);
}

long ReadStringValueById(RegKey key, uint32_t nameId, UniqueBstr& value) {
    std::string name;
    if (!OwnName(nameId, name)) return kErrReadString;
    return ReadStringValue(key, name.c_str(), value);
}

long ReadNumberValue(RegKey key, const char* name, uint32_t& value) {
    return NumberValue(KeyValues{key}, name, value);
}

long ReadNumberValue(platform::SubkeyView& key, const char* name, uint32_t& value) {
    return NumberValue(key, name, value);
}

long ReadNumberValueById(RegKey key, uint32_t nameId, uint32_t& value) {
    std::string name;
    if (!OwnName(nameId, name)) return kErrReadNumber;
    return ReadNumberValue(key, name.c_str(), value);
}

long WriteStringValue(RegKey key, const char* name, const WChar* value, bool expand) {
    const std::string text = ActiveCodePage().ToNarrow(WideView(value));
    const auto size = static_cast<uint32_t>(text.size() + 1);  // with the terminating zero
    return UserRegistry().SetValue(key, name, expand ? platform::kRegExpandSz : platform::kRegSz,
                                   text.c_str(), size) == platform::kRegOk
               ? 0
               : kErrWriteString;
}

long WriteNumberValue(RegKey key, const char* name, uint32_t value) {
    return UserRegistry().SetValue(key, name, platform::kRegDword, &value, sizeof value) ==
                   platform::kRegOk
               ? 0
               : kErrWriteNumber;
}

long DeleteKeyTree(RegKey parent, const char* name) {
    const long result = UserRegistry().DeleteTree(parent, name);
    return result == platform::kRegOk || result == platform::kRegNotFound ||
                   result == platform::kRegKeyDeleted
               ? 0
               : kErrDeleteKey;
}

bool ReadLimitedString(RegKey key, const char* name, uint32_t limit, std::string& value) {
    return LimitedString(KeyValues{key}, name, limit, value);
}

bool ReadLimitedString(platform::SubkeyView& key, const char* name, uint32_t limit,
                       std::string& value) {
    return LimitedString(key, name, limit, value);
}

}  // namespace store

long WriteDefaultConnectionName(std::string_view name) {
    std::string path;
    if (!store::OwnName(resources::kStrConnectionsKey, path)) return platform::kRegBadPathname;
    // In a batch, after any save a killed process left unfinished: finishing that one later
    // would write its default over this one.
    platform::Registry& registry = UserRegistry();
    if (const long error = registry.BeginBatch()) return error;
    long result = store::FinishPendingSave(registry);
    RegistryKey key;
    if (result == platform::kRegOk) {
        result = registry.CreateKey(platform::kCurrentUser, path.c_str(), key.receive());
    }
    if (result == platform::kRegOk) {
        const std::string text(name);
        result = registry.SetValue(key.get(), nullptr, platform::kRegSz, text.c_str(),
                                   static_cast<uint32_t>(text.size() + 1));
    }
    key.reset();
    if (result != platform::kRegOk) {
        registry.AbortBatch();
        return result;
    }
    return registry.CommitBatch();
}

}  // namespace tavix
