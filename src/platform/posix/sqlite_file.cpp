#include "platform/posix/sqlite_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavix::platform::hive {

const char kLinkedFileProblem[] = "is a symbolic link; the store must be a regular file";

namespace {

constexpr char kNoHome[] = "no home directory to keep the registry in";

std::string ErrnoText(int error) { return std::strerror(error); }

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LinkedDirectoryProblem(const std::string& dir) {
    return dir + " is a symbolic link; the store's directory must be a real directory";
}

// "" or why the store's directory (from lstat) cannot hold the store.
std::string DirectoryProblem(const std::string& dir, const struct stat& info) {
    if (S_ISLNK(info.st_mode)) return LinkedDirectoryProblem(dir);
    if (!S_ISDIR(info.st_mode)) return dir + ": " + ErrnoText(ENOTDIR);
    return {};
}

// "" or why an existing entry at the store's path (from lstat) cannot be the store.
std::string FileProblem(const std::string& path, const struct stat& info) {
    if (S_ISLNK(info.st_mode)) return kLinkedFileProblem;
    if (S_ISDIR(info.st_mode)) return ErrnoText(EISDIR);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) return ErrnoText(errno);
    return {};
}

// Creates dir and its missing parents, each 0700 whatever the umask; "" or the reason it
// cannot be done. Existing directories are followed where they are links; the caller checks
// the last one.
std::string MakeDirectories(const std::string& dir) {
    for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string prefix = dir.substr(0, end);
        struct stat info {};
        if (!prefix.empty() && prefix.back() != '/') {
            if (stat(prefix.c_str(), &info) != 0) {
                if (errno != ENOENT) return prefix + ": " + ErrnoText(errno);
                // A dangling link is not replaced: mkdir answers EEXIST.
                if (mkdir(prefix.c_str(), 0700) == 0) {
                    chmod(prefix.c_str(), 0700);
                } else if (errno != EEXIST) {
                    return "cannot create directory " + prefix + ": " + ErrnoText(errno);
                }
            } else if (!S_ISDIR(info.st_mode)) {
                return prefix + ": " + ErrnoText(ENOTDIR);
            }
        }
        if (end == std::string::npos) return {};
    }
}

// A path as one word of a shell command.
std::string ShellWord(const std::string& text) {
    if (text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_./-+,:@") == std::string::npos) {
        return text;
    }
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What other users may do with the store's file, by its mode.
const char* FileReach(mode_t mode) {
    if ((mode & 044) != 0) {
        return (mode & 022) != 0 ? "can be read and changed by other users"
                                 : "can be read by other users";
    }
    return (mode & 022) != 0 ? "can be changed by other users" : "is open to other users";
}

}  // namespace

StoreLook LookAtStore(const std::string& path) {
    if (path.empty()) return {kNoHome, false};
    const std::string dir = DirectoryOf(path);
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0) {
        return {errno == ENOENT ? std::string() : dir + ": " + ErrnoText(errno), false};
    }
    if (std::string problem = DirectoryProblem(dir, info); !problem.empty()) {
        return {problem, false};
    }
    if (lstat(path.c_str(), &info) != 0) {
        return {errno == ENOENT ? std::string() : ErrnoText(errno), false};
    }
    StoreLook look{FileProblem(path, info), false};
    look.holdsData = look.problem.empty() && info.st_size > 0;
    return look;
}

std::string PermissionWarning(const std::string& path) {
    if (path.empty()) return {};
    std::string what, fix;
    const auto add = [&](const std::string& item, mode_t mode, const char* reach,
                         const char* wanted) {
        what += (what.empty() ? "" : " and ") + item + " " + reach + " (mode " + ModeText(mode) +
                ")";
        fix += (fix.empty() ? "" : " && ") + std::string("chmod ") + wanted + " " + ShellWord(item);
    };
    const std::string dir = DirectoryOf(path);
    struct stat info {};
    if (lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & 077) != 0) {
        add(dir, info.st_mode, "is open to other users", "700");
    }
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 077) != 0) {
        add(path, info.st_mode, FileReach(info.st_mode), "600");
    }
    return what.empty() ? what : what + "; fix with: " + fix;
}

std::string PrepareStore(const std::string& path, CheckedStore* checked) {
    if (path.empty()) return kNoHome;
    const std::string dir = DirectoryOf(path);
    if (std::string problem = MakeDirectories(dir); !problem.empty()) return problem;
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0) return dir + ": " + ErrnoText(errno);
    if (std::string problem = DirectoryProblem(dir, info); !problem.empty()) return problem;
    checked->device = info.st_dev;
    checked->inode = info.st_ino;
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) return dir + ": " + ErrnoText(errno);
    checked->openPath = real;
    free(real);
    if (checked->openPath.back() != '/') checked->openPath += '/';
    checked->openPath += path.substr(path.rfind('/') + 1);
    // O_EXCL never follows a link: one planted at the path makes it fail with EEXIST.
    const int created =
        open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (created >= 0) {
        fchmod(created, 0600);
        close(created);
        return {};
    }
    if (errno != EEXIST) return ErrnoText(errno);
    if (lstat(path.c_str(), &info) != 0) return ErrnoText(errno);
    return FileProblem(path, info);
}

std::string CheckStoreUnchanged(const std::string& path, const CheckedStore& checked) {
    const std::string dir = DirectoryOf(path);
    struct stat info {}, opened {};
    if (lstat(dir.c_str(), &info) != 0) return dir + ": " + ErrnoText(errno);
    if (std::string problem = DirectoryProblem(dir, info); !problem.empty()) return problem;
    const std::string openedDir = DirectoryOf(checked.openPath);
    if (stat(openedDir.c_str(), &opened) != 0) return openedDir + ": " + ErrnoText(errno);
    for (const struct stat* seen : {&info, &opened}) {
        if (seen->st_dev != checked.device || seen->st_ino != checked.inode) {
            return dir + " was replaced while the store was being opened";
        }
    }
    return {};
}

}  // namespace tavix::platform::hive
