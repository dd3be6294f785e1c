// The current user's hive kept in an SQLite database file, with the Windows registry's
// semantics: names compare case-insensitively (upper-cased UTF-16 code units) and keep their
// case, subkeys enumerate in the order of those upper-cased names, every operation is atomic,
// and a batch lands whole or not at all, also when the process is killed at any instant.
//
// A file that cannot be opened, is not a database, belongs to another program or is corrupt is
// never written to: every operation then answers kRegBadStore, and Problem() says why. A store
// of the first format is converted when first opened, in one transaction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace tavix::platform {

// The upper-case form of one UTF-16 code unit, as the Windows registry folds names (the
// simple mappings of its case table; surrogates and caseless units map to themselves).
char16_t UpcaseCodeUnit(char16_t unit);

class SqliteRegistry final : public Registry {
public:
    // The store at path, opened (and created with its directories when missing) at the first
    // operation. An empty path is a store that cannot be located.
    explicit SqliteRegistry(std::string path);
    ~SqliteRegistry() override;
    SqliteRegistry(const SqliteRegistry&) = delete;
    SqliteRegistry& operator=(const SqliteRegistry&) = delete;

    // $XDG_CONFIG_HOME/tavixconnect/registry.db, XDG_CONFIG_HOME defaulting to ~/.config (the
    // home directory from HOME, or the password database when HOME is unset); "" when there is
    // no home directory.
    static std::string DefaultPath();

    long OpenKey(RegKey parent, const char* subKey, RegKey* key) override;
    long CreateKey(RegKey parent, const char* subKey, RegKey* key) override;
    long QueryValue(RegKey key, const char* name, uint32_t* type, void* data,
                    uint32_t* size) override;
    long SetValue(RegKey key, const char* name, uint32_t type, const void* data,
                  uint32_t size) override;
    long EnumKey(RegKey key, uint32_t index, char* name, uint32_t nameSize) override;
    long EnumValue(RegKey key, uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) override;
    // Inside a batch the visited subkeys' reads are answered by the row the enumeration
    // stands on.
    long ForEachSubkey(RegKey key, uint32_t nameSize,
                       const std::function<bool(SubkeyView&)>& visit) override;
    long DeleteKey(RegKey parent, const char* subKey) override;
    // The tree in one change: a statement for each key that has subkeys, none for a leaf.
    long DeleteTree(RegKey parent, const char* subKey) override;
    long DeleteValue(RegKey key, const char* name) override;
    long CloseKey(RegKey key) override;

    // The outermost batch is one write transaction (it waits for other writers, up to the busy
    // timeout); inner ones are savepoints. When the outermost batch cannot begin, or a failure
    // of the store undoes it, its operations fail and nothing of it lands.
    long BeginBatch() override;
    long CommitBatch() override;
    void AbortBatch() override;
    bool AtomicBatches() const override { return true; }

    // The file's path, and "" or the reason it cannot be used ("file is not a database",
    // "Permission denied", ...). Problem() opens the store when that has not happened yet.
    std::string Location() const override;
    std::string Problem() const override;

private:
    class Store;
    std::unique_ptr<Store> store_;
};

}  // namespace tavix::platform
