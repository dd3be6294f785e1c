// The current user's hive is the Windows registry: each operation is one ADVAPI32 call on
// HKEY_CURRENT_USER or on a key opened below it. Each call lands on its own; a batch holds a
// named mutex of the user's, so that the batches of the library's processes never overlap.
#include <windows.h>

#include <sddl.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/name_fold.h"
#include "platform/registry.h"
#include "platform/win32/registry_win32.h"

namespace tavix::platform {

namespace {

// How long BeginBatch waits for another process's batch before it answers kRegBusy.
constexpr DWORD kBatchWaitMilliseconds = 10000;

std::string UserSid() {
    std::string text;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return text;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    char* sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

HKEY ToHkey(RegKey key) {
    return key == kCurrentUser ? HKEY_CURRENT_USER : reinterpret_cast<HKEY>(key);
}

// NtQueryKey with KeyBasicInformation (0): the key's own name as the hive keeps it.
using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
struct KeyBasicInformation {
    LARGE_INTEGER lastWriteTime;
    ULONG titleIndex;
    ULONG nameLength;  // bytes
    WCHAR name[256];
};

NtQueryKeyFunction NtQueryKeyEntry() {
    static const auto entry = [] {
        const FARPROC proc = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryKey");
        return reinterpret_cast<NtQueryKeyFunction>(reinterpret_cast<void (*)()>(proc));
    }();
    return entry;
}

class Win32Registry final : public Registry {
public:
    ~Win32Registry() override {
        if (mutex_ != nullptr) CloseHandle(mutex_);
    }

    // The outermost batch takes the mutex; one whose owner ended without releasing it
    // (abandoned) is taken as well: that process's save is finished by the store's journal.
    long BeginBatch() override {
        if (depth_ > 0) {
            ++depth_;
            return ERROR_SUCCESS;
        }
        if (mutex_ == nullptr) {
            mutex_ = CreateMutexA(nullptr, FALSE, StoreMutexName().c_str());
            if (mutex_ == nullptr) return static_cast<long>(GetLastError());
        }
        switch (WaitForSingleObject(mutex_, kBatchWaitMilliseconds)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            depth_ = 1;
            return ERROR_SUCCESS;
        case WAIT_TIMEOUT:
            return ERROR_BUSY;
        default:
            return static_cast<long>(GetLastError());
        }
    }

    long CommitBatch() override { return EndBatch(); }
    void AbortBatch() override { EndBatch(); }

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

    // A subkey of the very name asked for is the answer: opening it and asking the hive for its
    // name takes three calls, where the walk enumerates every subkey (50 ms at 10,000 under
    // Wine). Any other name, and a subkey that cannot be opened, take the walk.
    long SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found) override {
        if (ExactSubkey(key, name, found)) return ERROR_SUCCESS;
        return Registry::SubkeyAtOrAfter(key, name, found);
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

private:
    // The name of key's subkey `name` as the hive keeps it; false when there is none or it
    // cannot be told. A path or an empty name opens some other key, so those are never asked.
    bool ExactSubkey(RegKey key, std::string_view name, std::string& found) {
        const NtQueryKeyFunction query = NtQueryKeyEntry();
        if (query == nullptr || name.empty() || name.size() > 255 ||
            name.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos) {
            return false;
        }
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(ToHkey(key), std::string(name).c_str(), 0, KEY_QUERY_VALUE, &subkey) != ERROR_SUCCESS) {
            return false;
        }
        KeyBasicInformation information{};
        ULONG length = 0;
        const LONG status = query(subkey, 0, &information, sizeof information, &length);
        RegCloseKey(subkey);
        if (status != 0 || information.nameLength > sizeof information.name) return false;
        std::wstring_view wide(information.name, information.nameLength / sizeof(WCHAR));
        // The last part of a path, where a hive names the key by its path.
        if (const size_t slash = wide.rfind(L'\\'); slash != std::wstring_view::npos) wide.remove_prefix(slash + 1);
        char narrow[1024];
        const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow,
                                             sizeof narrow, nullptr, nullptr);
        if (size <= 0) return false;
        const std::string_view stored(narrow, static_cast<size_t>(size));
        // The registry's own comparison and the fold agree; where they would not, the walk
        // answers by the fold.
        const CodePage& codePage = SystemCodePage();
        if (Fold(stored, codePage) != Fold(name, codePage)) return false;
        found.assign(stored);
        return true;
    }

    long EndBatch() {
        if (depth_ == 0) return ERROR_INVALID_PARAMETER;  // no batch is open
        if (--depth_ == 0) ReleaseMutex(mutex_);
        return ERROR_SUCCESS;
    }

    HANDLE mutex_ = nullptr;  // made at the first batch, kept
    int depth_ = 0;           // batches open
};

}  // namespace

std::string StoreMutexName() {
    std::string user = UserSid();
    if (user.empty()) {
        char name[257];
        DWORD size = sizeof name;
        if (GetUserNameA(name, &size)) user = name;
    }
    // A kernel object's name holds no backslash after its namespace.
    for (char& c : user) {
        if (c == '\\') c = '_';
    }
    return "Local\\TavixConnect.Connections." + user;
}

Registry& UserRegistry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace tavix::platform
