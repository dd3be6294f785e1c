// The current user's hive is the Windows registry: each operation is one ADVAPI32 call on
// HKEY_CURRENT_USER or on a key opened below it. Each call lands on its own, so batches do
// nothing here.
#include <windows.h>

#include "platform/registry.h"

namespace tavix::platform {

namespace {

HKEY ToHkey(RegKey key) {
    return key == kCurrentUser ? HKEY_CURRENT_USER : reinterpret_cast<HKEY>(key);
}

class Win32Registry final : public Registry {
public:
    // Without a place for the handle Windows answers ERROR_INVALID_PARAMETER (Wine crashes).
    long OpenKey(RegKey parent, const char* subKey, RegKey* key) override {
        if (key == nullptr) return ERROR_INVALID_PARAMETER;
        HKEY opened = nullptr;
        const LONG result = RegOpenKeyExA(ToHkey(parent), subKey, 0, KEY_ALL_ACCESS, &opened);
        *key = reinterpret_cast<RegKey>(opened);
        return result;
    }

    long CreateKey(RegKey parent, const char* subKey, RegKey* key) override {
        if (key == nullptr) return ERROR_INVALID_PARAMETER;
        HKEY created = nullptr;
        const LONG result =
            RegCreateKeyExA(ToHkey(parent), subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &created, nullptr);
        *key = reinterpret_cast<RegKey>(created);
        return result;
    }

    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                    uint32_t* size) override {
        DWORD valueType = 0;
        DWORD valueSize = size != nullptr ? *size : 0;
        const LONG result =
            RegQueryValueExA(ToHkey(key), name, nullptr, type != nullptr ? &valueType : nullptr,
                             static_cast<BYTE*>(data), size != nullptr ? &valueSize : nullptr);
        if (type != nullptr) *type = valueType;
        if (size != nullptr) *size = valueSize;
        return result;
    }

    long SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                  uint32_t size) override {
        return RegSetValueExA(ToHkey(key), name, 0, type, static_cast<const BYTE*>(data), size);
    }

    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) override {
        return RegEnumKeyA(ToHkey(key), index, name, nameSize);
    }

    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) override {
        // Names have at most 16,383 characters, two bytes each at most in a code page.
        char nameBuffer[32768];
        for (;;) {
            DWORD nameSize = sizeof nameBuffer;
            DWORD valueType = 0;
            DWORD dataSize = 0;
            LONG result = RegEnumValueA(ToHkey(key), index, nameBuffer, &nameSize, nullptr,
                                        &valueType, nullptr, data != nullptr ? &dataSize : nullptr);
            if (result == ERROR_SUCCESS && data != nullptr) {
                data->resize(dataSize);
                nameSize = sizeof nameBuffer;
                result = RegEnumValueA(ToHkey(key), index, nameBuffer, &nameSize, nullptr,
                                       &valueType, data->data(), &dataSize);
                // The value grew between the two calls: ask again.
                if (result == ERROR_MORE_DATA) continue;
                data->resize(dataSize);
            }
            if (result != ERROR_SUCCESS) return result;
            name.assign(nameBuffer, nameSize);
            if (type != nullptr) *type = valueType;
            return ERROR_SUCCESS;
        }
    }

    long DeleteKey(RegKey parent, const char* subKey) override {
        return RegDeleteKeyA(ToHkey(parent), subKey);
    }

    long DeleteValue(RegKey key, const char* name) override {
        return RegDeleteValueA(ToHkey(key), name);
    }

    // The predefined root stays open.
    long CloseKey(RegKey key) override {
        return key == kCurrentUser ? ERROR_SUCCESS : RegCloseKey(ToHkey(key));
    }
};

}  // namespace

Registry& UserRegistry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace tavix::platform
