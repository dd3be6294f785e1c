// The current user's registry hive: keys holding typed, named values.
//
// The operations and their result codes are those of the Windows registry's ANSI functions
// (RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA, RegSetValueExA, RegEnumKeyA,
// RegDeleteKeyA, RegDeleteValueA, RegCloseKey) on HKEY_CURRENT_USER. Names are 8-bit text of
// the process's code page; key and value names compare case-insensitively and keep their case;
// a key's default value has the null (or empty) name.
//
// Key paths are "\"-separated; a run of separators counts as one and a trailing one is ignored,
// but a path may not begin with one (kRegBadPathname). A key name has at most 255 characters.
// A handle whose key has been deleted (through any handle, or by another process) stays valid
// until closed, and every operation on it answers kRegKeyDeleted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavix::platform {

// Win32 error codes that the registry reports.
enum RegistryError : long {
    kRegOk = 0,                // ERROR_SUCCESS
    kRegNotFound = 2,          // ERROR_FILE_NOT_FOUND
    kRegAccessDenied = 5,      // ERROR_ACCESS_DENIED
    kRegInvalidHandle = 6,     // ERROR_INVALID_HANDLE
    kRegDiskFull = 112,        // ERROR_DISK_FULL: the store's file system has no space left
    kRegOutOfMemory = 14,      // ERROR_OUTOFMEMORY
    kRegInvalidParameter = 87, // ERROR_INVALID_PARAMETER
    kRegBadPathname = 161,     // ERROR_BAD_PATHNAME: a key path that begins with "\"
    kRegBusy = 170,            // ERROR_BUSY: another process kept the store locked too long
    kRegMoreData = 234,        // ERROR_MORE_DATA
    kRegNoMoreItems = 259,     // ERROR_NO_MORE_ITEMS
    kRegNoAccess = 998,        // ERROR_NOACCESS: data null with a non-zero size
    kRegBadStore = 1009,       // ERROR_BADDB: the store cannot be opened or is corrupt
    kRegIoFailed = 1016,       // ERROR_REGISTRY_IO_FAILED: reading or writing the store failed
    kRegKeyDeleted = 1018,     // ERROR_KEY_DELETED
};

// Value types.
enum RegistryType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// An open key. kCurrentUser stands for the hive's root and is never closed.
using RegKey = uintptr_t;
inline constexpr RegKey kCurrentUser = 1;

// A subkey met by Registry::ForEachSubkey, usable during that visit only.
class SubkeyView {
public:
    // The subkey's name as the store keeps it.
    virtual std::string_view Name() const = 0;
    // One of the subkey's values, as QueryValue on the subkey reports it.
    virtual long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) = 0;
    // Opens a key below the subkey (subKey as for OpenKey, "" the subkey itself); the handle
    // is the caller's to close.
    virtual long OpenKey(const char* subKey, RegKey* key) = 0;
    // The subkey's value at index, as Registry::EnumValue on the subkey reports it. The
    // default opens the subkey (OpenKey("")) and asks UserRegistry(), whose keys a view that
    // does not override it must show.
    virtual long EnumValue(uint32_t index, std::string& name, uint32_t* type,
                           std::vector<uint8_t>* data);
    // false only when the subkey surely has no subkeys of its own; true when it may have some
    // (enumerating them then tells). The default answers true.
    virtual bool MayHaveSubkeys() { return true; }

protected:
    ~SubkeyView() = default;
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens an existing key below parent (subKey may name a path with "\"); kRegNotFound when
    // it does not exist.
    virtual long OpenKey(RegKey parent, const char* subKey, RegKey* key) = 0;

    // Opens a key, creating it and any missing parents; a name over 255 characters fails
    // with kRegInvalidParameter.
    virtual long CreateKey(RegKey parent, const char* subKey, RegKey* key) = 0;

    // Reads a value (name null or empty: the default value). type and size may be null; with
    // data null only the type and size are reported; a buffer too small for the data gives
    // kRegMoreData with *size set to the size needed.
    virtual long QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                            uint32_t* size) = 0;

    // Writes a value (name null or empty: the default value). The bytes are stored as given
    // and read back with the same size: a string keeps the terminating zero that was written.
    // A value written again keeps the case of its name as first written.
    virtual long SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                          uint32_t size) = 0;

    // The name of the subkey at index in the hive's order (names compared case-insensitively
    // in upper case); kRegNoMoreItems past the last; kRegMoreData when nameSize bytes cannot
    // hold the name and its terminating zero.
    virtual long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) = 0;

    // The value at index in the order the store keeps a key's values (RegEnumValueA's order on
    // Windows; creation order elsewhere): its name ("" for the default value), and, where the
    // pointers are not null, its type and its data, as QueryValue would report them.
    // kRegNoMoreItems past the last value.
    virtual long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                           std::vector<uint8_t>* data) = 0;

    // Deletes a key that has no subkeys (kRegAccessDenied when it has some); an empty subKey
    // deletes parent itself.
    virtual long DeleteKey(RegKey parent, const char* subKey) = 0;

    // Deletes a key with all its subkeys and values (an empty subKey: parent itself; a null one
    // is kRegInvalidParameter, as for DeleteKey); OpenKey's answer when the key cannot be
    // opened (kRegNotFound when there is none). Where the store can, the whole tree goes at
    // once. Otherwise (the Windows registry) the tree is walked with the operations above: a
    // subkey that exists but cannot be opened stays and is passed over, never asked for again,
    // so that the key itself stays too (DeleteKey's answer is returned); a subkey that cannot be
    // deleted ends the walk.
    virtual long DeleteTree(RegKey parent, const char* subKey) {
        if (subKey == nullptr) return kRegInvalidParameter;  // as DeleteKey
        bool opened = false;
        return WalkDeleteTree(parent, subKey, opened);
    }

    // Visits the subkeys of key in EnumKey's order until visit answers false; a subkey that
    // cannot be opened is passed over. The enumeration ends as EnumKey with a buffer of
    // nameSize bytes would: at a name that does not fit (kRegMoreData) or at any other
    // failure, which is returned; kRegOk when every subkey was visited or the visitor stopped.
    // Inside a batch a store may answer a visited subkey's reads from the enumeration itself,
    // which makes reading every subkey of a key much cheaper than opening each.
    virtual long ForEachSubkey(RegKey key, uint32_t nameSize,
                               const std::function<bool(SubkeyView&)>& visit);

    // The subkey of key whose upper-cased name (the registry's comparison, platform/name_fold.h)
    // is the smallest not below that of `name` (the empty name: the first of all), with its name
    // as the store keeps it; kRegNoMoreItems when there is none. With it a caller learns in one
    // step whether a subkey exists and how its name is written, whether any subkey begins with
    // a prefix, or which subkey follows another. Stores that keep subkeys in that order answer
    // from their index; the default walks every subkey (Wine enumerates in another order).
    virtual long SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found);

    // Deletes a named value.
    virtual long DeleteValue(RegKey key, const char* name) = 0;

    virtual long CloseKey(RegKey key) = 0;

    // Groups the operations up to the matching CommitBatch into one change that lands whole
    // or not at all, where the store can do so; batches nest. AbortBatch drops the group (an
    // inner one only its own operations). The reads of a batch all see the store as of one
    // moment, with no other process's change landing in between (and cost much less than
    // reads on their own): a load should run in one too.
    //
    // BeginBatch answers kRegOk or why the batch cannot begin (kRegBusy: another process holds
    // the store past the busy timeout; kRegBadStore); the batch is then not open and the
    // caller must not commit or abort it. CommitBatch answers kRegOk when the outermost batch
    // has landed (an inner one: when it was folded into its parent), or why it did not
    // (kRegDiskFull, kRegIoFailed, kRegBusy, ...): the whole batch is then undone.
    //
    // AtomicBatches() tells whether a committed batch lands whole even when the process is
    // killed during it. Where it does not (the platform's own registry), a batch only keeps
    // other processes of this library out (BeginBatch waits for them), and each operation
    // lands on its own.
    virtual long BeginBatch() { return kRegOk; }
    virtual long CommitBatch() { return kRegOk; }
    virtual void AbortBatch() {}
    virtual bool AtomicBatches() const { return false; }

    // Where the hive is kept and whether it can be used, for the user ("" when it is the
    // platform's own registry and always available). Neither creates anything: a store that
    // does not exist yet has no problem. Warning() is "" or one line about a usable store
    // that should be fixed, saying how (a file that other users can read).
    virtual std::string Location() const { return {}; }
    virtual std::string Problem() const { return {}; }
    virtual std::string Warning() const { return {}; }

private:
    // DeleteTree by walking the tree; opened tells whether the key could be opened.
    long WalkDeleteTree(RegKey parent, const char* subKey, bool& opened) {
        RegKey key = 0;
        const long openResult = OpenKey(parent, subKey, &key);
        opened = openResult == kRegOk;
        if (!opened) return openResult;
        long result = kRegOk;
        std::string previous;  // the subkey deleted last, or passed over
        for (uint32_t index = 0;;) {
            char child[256];
            const long enumerated = EnumKey(key, index, child, sizeof child);
            if (enumerated != kRegOk) {
                if (enumerated != kRegNoMoreItems) result = enumerated;
                break;
            }
            if (!previous.empty() && previous == child) {
                ++index;  // still there: it could not be opened
                previous.clear();
                continue;
            }
            bool childOpened = false;
            const long deleted = WalkDeleteTree(key, child, childOpened);
            if (childOpened && deleted != kRegOk) {
                result = deleted;
                break;
            }
            previous = child;
        }
        CloseKey(key);
        const long removed = DeleteKey(parent, subKey);
        return removed != kRegOk ? removed : result;
    }
};

// The current user's hive.
Registry& UserRegistry();

}  // namespace tavix::platform
