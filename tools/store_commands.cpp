// Commands on the user's connections. Those that find, set, delete and mark connections go
// through the library's exports; listing, export, import and the store's location read the
// registry (on Linux, the library's registry file) directly, as regedit would.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli.h"
#include "platform/registry.h"
#include "store/hash_key.h"
#include "store/reg_file.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <climits>
#  include <cstdlib>
#endif

namespace cli {

namespace {

using tavix::platform::RegKey;
using tavix::platform::Registry;
using tavix::platform::UserRegistry;

constexpr const char kConnectionsKey[] = "Software\\Vantorin\\Connections";
// Names and connection strings are read back from the store through 256-byte buffers.
constexpr size_t kMaxStored = 255;

class OpenKey {
public:
    OpenKey(RegKey parent, const char* path) {
        if (UserRegistry().OpenKey(parent, path, &key_) != tavix::platform::kRegOk) key_ = 0;
    }
    ~OpenKey() {
        if (key_ != 0) UserRegistry().CloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    RegKey get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }

private:
    RegKey key_ = 0;
};

bool ReadString(RegKey key, const char* name, std::string& value) {
    uint32_t type = 0, size = 0;
    Registry& registry = UserRegistry();
    if (registry.QueryValue(key, name, &type, nullptr, &size) != tavix::platform::kRegOk) return false;
    if (type != tavix::platform::kRegSz && type != tavix::platform::kRegExpandSz) return false;
    std::string data(size, '\0');
    if (size > 0 && registry.QueryValue(key, name, &type, data.data(), &size) != tavix::platform::kRegOk) {
        return false;
    }
    value = data.substr(0, data.find('\0'));
    return true;
}

// Fails with a line naming the store when it cannot be used (on Linux: the file and why).
bool StoreUsable(int& status) {
    const std::string problem = UserRegistry().Problem();
    if (problem.empty()) return true;
    status = Fail(kExitNo, "cannot use the connection store " + UserRegistry().Location() + ": " + problem);
    return false;
}

// The library's table is read from the registry when a lookup finds it empty.
void LoadConnections() { SysFreeString(FindConnection(nullptr, nullptr)); }

std::string DefaultName() {
    OpenKey key(tavix::platform::kCurrentUser, kConnectionsKey);
    std::string name;
    if (!key || !ReadString(key.get(), nullptr, name)) name.clear();
    return name;
}

struct Listed {
    std::string name;  // 8-bit, as the registry holds it
    std::string connectionString;
};

// The connections as the library holds them after a load, in its table order: by the bucket
// of the name's hash, and within a bucket the most recently read first.
std::vector<Listed> ListConnections() {
    LoadConnections();
    std::vector<Listed> listed;
    OpenKey key(tavix::platform::kCurrentUser, kConnectionsKey);
    if (!key) return listed;
    char name[256];
    for (uint32_t i = 0; UserRegistry().EnumKey(key.get(), i, name, sizeof name) == tavix::platform::kRegOk; ++i) {
        Bstr found(FindConnection(WideFromNarrow(name).c_str(), nullptr));
        if (found.text != nullptr) {
            listed.push_back({name, Utf8(found.text)});
        } else if (std::string_view(name).find(':') != std::string_view::npos) {
            // A name with a colon reads as a connection string in a lookup: show what is stored.
            OpenKey subkey(key.get(), name);
            std::string stored;
            if (subkey && ReadString(subkey.get(), nullptr, stored)) listed.push_back({name, Utf8FromNarrow(stored)});
        }
    }
    std::reverse(listed.begin(), listed.end());
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        return tavix::HashKey(a.name) % 17 < tavix::HashKey(b.name) % 17;
    });
    return listed;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string AbsolutePath(const std::string& path) {
#if defined(_WIN32)
    char full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
#else
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : path;
#endif
}

}  // namespace

int List(const Args&) {
    int status = kExitOk;
    const std::vector<Listed> listed = ListConnections();
    if (!StoreUsable(status)) return status;
    const std::string defaultName = DefaultName();
    size_t width = 0;
    for (const Listed& entry : listed) width = std::max(width, Utf8FromNarrow(entry.name).size());
    for (const Listed& entry : listed) {
        std::string name = Utf8FromNarrow(entry.name);
        name.resize(std::max(width, name.size()), ' ');
        Print((entry.name == defaultName ? "* " : "  ") + name + "  " + entry.connectionString + "\n");
    }
    return kExitOk;
}

int Show(const Args& args) {
    HICON icon = nullptr;
    Bstr found(FindConnection(args.Positional(0), &icon));
    if (icon != nullptr) DestroyIcon(icon);
    int status = kExitOk;
    if (!StoreUsable(status)) return status;
    if (found.text == nullptr) return Fail(kExitNo, "no connection named \"" + Utf8(args.positional[0]) + "\"");
    const std::string name = Narrow(args.positional[0]);
    std::string text = "name:       " + Utf8(args.positional[0]) + "\nconnection: " + Utf8(found.text) +
                       "\ndefault:    " + (name == DefaultName() ? "yes" : "no") + "\n";
    OpenKey key(tavix::platform::kCurrentUser, (std::string(kConnectionsKey) + "\\" + name).c_str());
    std::string file;
    uint32_t index = 0, type = 0, size = sizeof index;
    if (key && ReadString(key.get(), "IconFilename", file) && !file.empty() &&
        UserRegistry().QueryValue(key.get(), "IconIndex", &type, &index, &size) == tavix::platform::kRegOk &&
        type == tavix::platform::kRegDword) {
        text += "icon:       " + Utf8FromNarrow(file) + ", index " + std::to_string(static_cast<int32_t>(index)) + "\n";
    }
    Print(text);
    return kExitOk;
}

int Name(const Args& args) {
    Bstr name(FindConnectionName(args.Positional(0)));
    int status = kExitOk;
    if (!StoreUsable(status)) return status;
    if (name.text == nullptr) {
        return Fail(kExitNo, "no connection matches \"" + Utf8(args.positional[0]) + "\"");
    }
    Print(Utf8(name.text) + "\n");
    return kExitOk;
}

int Set(const Args& args) {
    const OLECHAR* name = args.Positional(0);
    const OLECHAR* connString = args.Positional(1);
    WideString iconFile;
    int iconIndex = 0;
    if (args.Has("--index") && !args.Has("--icon")) return UsageError("--index goes with --icon");
    if (args.Has("--icon")) {
        iconFile = WideFromUtf8(AbsolutePath(Utf8(args.options.at("--icon"))));
        if (args.Has("--index")) {
            const std::string text = Utf8(args.options.at("--index"));
            char* end = nullptr;
            const long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != 0 || value < INT32_MIN || value > INT32_MAX) {
                return UsageError("--index takes a whole number, not \"" + text + "\"");
            }
            iconIndex = static_cast<int>(value);
        }
    }
    // A name the registry cannot hold as one key would not come back from the store.
    const std::string nameText = Utf8(args.positional[0]);
    const std::string storedName = Narrow(args.positional[0]);
    if (storedName.size() > kMaxStored || storedName.find('\\') != std::string::npos) {
        return Fail(kExitNo, "not stored: a connection name holds at most " + std::to_string(kMaxStored) +
                                 " bytes and no \"\\\": \"" + nameText + "\"");
    }
    // The change is made in memory first, checked, and only then saved.
    SetConnection(name, connString, iconFile.empty() ? nullptr : iconFile.c_str(), iconIndex, 0);
    int status = kExitOk;
    if (!StoreUsable(status)) return status;
    // The library reports nothing: check that the connection is there now, under the name
    // given or, without one, under the name the connection string carries. (A name with a
    // colon reads as a connection string in a lookup, so it cannot be checked by name.)
    const bool byName = !nameText.empty() && nameText.find(':') == std::string::npos;
    Bstr check(byName ? FindConnection(name, nullptr) : FindConnectionName(connString));
    if (check.text == nullptr) {
        return Fail(kExitNo, "not stored: not a connection string: \"" + Utf8(args.positional[1]) + "\"");
    }
    if (byName && Narrow(WideString(check.text, SysStringLen(check.text))).size() > kMaxStored) {
        return Fail(kExitNo, "not stored: its connection string would be over " + std::to_string(kMaxStored) +
                                 " bytes, longer than the store reads back");
    }
    const bool save = !args.Has("--no-save");
    if (save) SetConnection(nullptr, nullptr, nullptr, 0, 1);  // saves the table
    if (!save) Print("not saved (--no-save): the change ends with this process\n");
    return kExitOk;
}

int Delete(const Args& args) {
    LoadConnections();
    int status = kExitOk;
    if (!StoreUsable(status)) return status;
    if (!DeleteConnection(args.Positional(0))) {
        return Fail(kExitNo, "no connection named \"" + Utf8(args.positional[0]) + "\"");
    }
    SetConnection(nullptr, nullptr, nullptr, 0, 1);  // saves the table
    return kExitOk;
}

int Default(const Args& args) {
    int status = kExitOk;
    if (args.positional.empty()) {
        LoadConnections();
        if (!StoreUsable(status)) return status;
        const std::string name = DefaultName();
        if (name.empty()) return Fail(kExitNo, "no default connection");
        Print(Utf8FromNarrow(name) + "\n");
        return kExitOk;
    }
    LoadConnections();
    if (!SetDefaultConnection(args.Positional(0))) {
        if (!StoreUsable(status)) return status;
        return Fail(kExitNo, "no connection named \"" + Utf8(args.positional[0]) + "\"");
    }
    return kExitOk;
}

int Export(const Args& args) {
    std::string error;
    const std::string bytes = tavix::store::ExportRegFile(UserRegistry(), kConnectionsKey, &error);
    if (bytes.empty()) {
        int status = kExitNo;
        if (!StoreUsable(status)) return status;
        return Fail(kExitNo, error);
    }
    if (!args.Has("-o")) {
        Print(bytes);
        return kExitOk;
    }
    const std::string path = Utf8(args.options.at("-o"));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
        return Fail(kExitNo, "cannot write " + path);
    }
    return kExitOk;
}

int Import(const Args& args) {
    const std::string path = Utf8(args.positional[0]);
    std::string bytes, error;
    if (!ReadFile(path, bytes)) return Fail(kExitNo, "cannot read " + path);
    int status = kExitOk;
    if (!StoreUsable(status)) return status;
    if (!tavix::store::ImportRegFile(UserRegistry(), bytes, path, error)) return Fail(kExitNo, error);
    return kExitOk;
}

int Where(const Args&) {
    Registry& registry = UserRegistry();
    const std::string location = registry.Location();
    if (location.empty()) {
        Print("store: HKEY_CURRENT_USER\\" + std::string(kConnectionsKey) + " (the Windows registry)\n");
        return kExitOk;
    }
    OpenKey key(tavix::platform::kCurrentUser, kConnectionsKey);
    const std::string problem = registry.Problem();
    Print("store: " + location + "\nstate: " +
          (problem.empty() ? (key ? "ok" : "ok, no connections saved yet") : "unusable: " + problem) + "\n");
    return problem.empty() ? kExitOk : kExitNo;
}

}  // namespace cli
