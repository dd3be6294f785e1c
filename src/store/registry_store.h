// The registry helpers of the connection store. Each returns 0 on success and a small code
// of its own otherwise (callers test only for 0).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/context/boundary.h"
#include "platform/registry.h"

namespace tavix {

// An open registry key, closed when it goes.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { reset(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    platform::RegKey get() const noexcept { return key_; }
    platform::RegKey* receive() noexcept {
        reset();
        return &key_;
    }
    void reset() noexcept;
    explicit operator bool() const noexcept { return key_ != 0; }

private:
    platform::RegKey key_ = 0;
};

namespace store {

inline constexpr long kErrOpen = 1;           // a key cannot be opened or created
inline constexpr long kErrDeleteKey = 3;      // deleting a tree: the key (or part of it) stays
inline constexpr long kErrReadNumber = 4;
inline constexpr long kErrWriteNumber = 5;
inline constexpr long kErrReadString = 6;
inline constexpr long kErrWriteString = 7;
inline constexpr long kErrOutOfMemory = 0x8007000EL;

// The literal path of the connections key below HKEY_CURRENT_USER.
inline constexpr const char* kConnectionsKeyPath = "Software\\Vantorin\\Connections";

// String `id` of the library's own string table as a key or value name; false when it is
// empty or longer than a name can be.
bool OwnName(uint32_t id, std::string& name);

long OpenKey(platform::RegKey parent, const char* path, RegistryKey& key);
long OpenOrCreateKey(platform::RegKey parent, const char* path, RegistryKey& key);
// The path is string `id` of the library's own string table.
long OpenOrCreateKeyById(platform::RegKey parent, uint32_t id, RegistryKey& key);

// A REG_SZ or REG_EXPAND_SZ value as wide text.
long ReadStringValue(platform::RegKey key, const char* name, UniqueBstr& value);
long ReadStringValueById(platform::RegKey key, uint32_t nameId, UniqueBstr& value);
// A REG_DWORD value.
long ReadNumberValue(platform::RegKey key, const char* name, uint32_t& value);
long ReadNumberValueById(platform::RegKey key, uint32_t nameId, uint32_t& value);

// The same reads on a subkey that Registry::ForEachSubkey shows.
long ReadStringValue(platform::SubkeyView& key, const char* name, UniqueBstr& value);
long ReadNumberValue(platform::SubkeyView& key, const char* name, uint32_t& value);
bool ReadLimitedString(platform::SubkeyView& key, const char* name, uint32_t limit,
                       std::string& value);

// Writes wide text (null writes an empty string) as REG_EXPAND_SZ or REG_SZ.
long WriteStringValue(platform::RegKey key, const char* name, const WChar* value, bool expand);
long WriteNumberValue(platform::RegKey key, const char* name, uint32_t value);

// Deletes a key with all its subkeys (Registry::DeleteTree): 0 when it is gone or was never
// there.
long DeleteKeyTree(platform::RegKey parent, const char* name);

// Reads a string value into a buffer of `limit` bytes (terminating zero included), as 8-bit
// text; false when it is missing, not a string or longer than the buffer.
bool ReadLimitedString(platform::RegKey key, const char* name, uint32_t limit, std::string& value);

}  // namespace store

// Writes the default connection's name (empty for none) as the connections key's default
// value at once: kRegOk, or the registry's error.
long WriteDefaultConnectionName(std::string_view name);

}  // namespace tavix
