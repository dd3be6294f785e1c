// The SQLite hive's file and its directory, as the file system shows them.
//
// The store is a regular file in a directory of its own ("tavixconnect"); neither may be a
// symbolic link, which would let whoever controls the link decide which file the store
// writes. Directories above that one may be links (a configuration directory often is).
#pragma once

#include <sys/types.h>

#include <string>

namespace tavix::platform::hive {

// What looking at the store's path found, without creating or changing anything.
struct StoreLook {
    std::string problem;  // "" or why the store cannot be used
    bool holdsData = false;  // the file exists and is not empty: only opening it tells more
};
StoreLook LookAtStore(const std::string& path);

// "" or one line about a usable store that other users can reach (a directory looser than
// 0700, a file looser than 0600), with the command that fixes it.
std::string PermissionWarning(const std::string& path);

// The store's directory as it was checked, and the path SQLite opens the file by: the
// directory's path with the links above it resolved, so that SQLite can be told to refuse a
// link at the file itself (it would refuse one anywhere in the path).
struct CheckedStore {
    std::string openPath;
    dev_t device = 0;
    ino_t inode = 0;
};

// Makes the store's directory and its missing parents, each 0700 whatever the umask, and
// checks that the file can be the store, creating it 0600 when it is missing. "" or the reason.
std::string PrepareStore(const std::string& path, CheckedStore* checked);

// "" when, once SQLite has opened the file, the store's directory is still the one checked
// (by its path and by the resolved one); otherwise the reason.
std::string CheckStoreUnchanged(const std::string& path, const CheckedStore& checked);

// The reason given for a store file that is a symbolic link.
extern const char kLinkedFileProblem[];

}  // namespace tavix::platform::hive
