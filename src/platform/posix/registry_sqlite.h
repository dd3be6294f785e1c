// The current user's hive kept in an SQLite database file, with the Windows registry's
// semantics: names compare case-insensitively (upper-cased UTF-16 code units) and keep their
// case, subkeys enumerate in the order of those upper-cased names, every operation is atomic,
// and a batch lands whole or not at all, also when the process is killed at any instant.
//
// A file that cannot be opened, is not a database, belongs to another program or is corrupt is
// never written to, and a symbolic link at the file's path or at its directory's is never
// followed: every operation then answers kRegBadStore, and Problem() says why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace tavix::platform {

class SqliteRegistry final : public Registry {
public:
    struct Options {
        // How long an operation waits for another process's write to end.
        int busyTimeoutMs = 10000;
        // The SQLite VFS the database is opened through ("": the default one).
        std::string vfsName;
    };

    // The store at path, opened (and created with its directories when missing) at the first
    // operation. An empty path is a store that cannot be located.
    explicit SqliteRegistry(std::string path);
    SqliteRegistry(std::string path, Options options);
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
    long SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found) override;
    long ForEachSubkey(RegKey key, uint32_t nameSize,
                       const std::function<bool(SubkeyView&)>& visit) override;
    long DeleteKey(RegKey parent, const char* subKey) override;
    // The tree in one change: a statement for each key that has subkeys, none for a leaf.
    long DeleteTree(RegKey parent, const char* subKey) override;
    long DeleteValue(RegKey key, const char* name) override;
    long CloseKey(RegKey key) override;

    // The outermost batch is one write transaction, which waits for another process's write
    // up to the busy timeout and else answers kRegBusy, with no batch open; inner ones are
    // savepoints. Any failure inside a batch fails it: no inner batch opens in it any more,
    // each CommitBatch up to the outermost answers the failure, and nothing of it lands.
    long BeginBatch() override;
    long CommitBatch() override;
    void AbortBatch() override;
    bool AtomicBatches() const override { return true; }

    // The file's path; "" or the reason it cannot be used ("file is not a database",
    // "Permission denied", "is a symbolic link; ..."); "" or a line about a directory or file
    // that other users can reach, with the chmod command that fixes it. None of them creates
    // anything: Problem() opens only an existing file with data in it, to check it.
    std::string Location() const override;
    std::string Problem() const override;
    std::string Warning() const override;

private:
    class Store;
    std::unique_ptr<Store> store_;
};

}  // namespace tavix::platform
