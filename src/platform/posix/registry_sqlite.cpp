// The current user's hive in an SQLite database file: the registry's operations, each handed
// to the store (sqlite_store.h), and where the file is kept.
#include "platform/posix/registry_sqlite.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "platform/posix/sqlite_store.h"

namespace tavix::platform {

SqliteRegistry::SqliteRegistry(std::string path) : SqliteRegistry(std::move(path), Options{}) {}
SqliteRegistry::SqliteRegistry(std::string path, Options options)
    : store_(std::make_unique<Store>(std::move(path), std::move(options))) {}
SqliteRegistry::~SqliteRegistry() = default;

std::string SqliteRegistry::DefaultPath() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home != nullptr ? home : "";
        if (homeDir.empty()) {
            if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
                homeDir = entry->pw_dir;
            }
        }
        if (homeDir.empty()) return {};
        base = homeDir + "/.config";
    }
    return base + "/tavixconnect/registry.db";
}

long SqliteRegistry::OpenKey(RegKey parent, const char* subKey, RegKey* key) {
    return store_->OpenKey(parent, subKey, key);
}
long SqliteRegistry::CreateKey(RegKey parent, const char* subKey, RegKey* key) {
    return store_->CreateKey(parent, subKey, key);
}
long SqliteRegistry::QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                                uint32_t* size) {
    return store_->QueryValue(key, name, type, data, size);
}
long SqliteRegistry::SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                              uint32_t size) {
    return store_->SetValue(key, name, type, data, size);
}
long SqliteRegistry::EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) {
    return store_->EnumKey(key, index, name, nameSize);
}
long SqliteRegistry::EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                               std::vector<uint8_t>* data) {
    return store_->EnumValue(key, index, name, type, data);
}
long SqliteRegistry::SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found) {
    return store_->SubkeyAtOrAfter(key, name, found);
}

long SqliteRegistry::ForEachSubkey(RegKey key, uint32_t nameSize,
                                   const std::function<bool(SubkeyView&)>& visit) {
    // Outside a batch every operation stands alone, and so does each subkey's.
    return store_->InBatch() ? store_->ForEachSubkey(key, nameSize, visit)
                             : Registry::ForEachSubkey(key, nameSize, visit);
}
long SqliteRegistry::DeleteKey(RegKey parent, const char* subKey) {
    return store_->DeleteKey(parent, subKey);
}
long SqliteRegistry::DeleteTree(RegKey parent, const char* subKey) {
    return store_->DeleteTree(parent, subKey);
}
long SqliteRegistry::DeleteValue(RegKey key, const char* name) {
    return store_->DeleteValue(key, name);
}
long SqliteRegistry::CloseKey(RegKey key) { return store_->CloseKey(key); }
long SqliteRegistry::BeginBatch() { return store_->BeginBatch(); }
long SqliteRegistry::CommitBatch() { return store_->CommitBatch(); }
void SqliteRegistry::AbortBatch() { store_->AbortBatch(); }
std::string SqliteRegistry::Location() const { return store_->Location(); }
std::string SqliteRegistry::Problem() const { return store_->Problem(); }
std::string SqliteRegistry::Warning() const { return store_->Warning(); }

Registry& UserRegistry() {
    // Located at the first use, so that the environment of that moment decides.
    static SqliteRegistry registry(SqliteRegistry::DefaultPath());
    return registry;
}

}  // namespace tavix::platform
