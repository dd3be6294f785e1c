// The SQLite store's file as the file system holds it: looking at it creates and changes
// nothing, a file that is not a usable store (not a database, damaged, another program's, a
// format this build does not know) or a symbolic link at the file or its directory is refused
// and never changed, and modes that let other users reach the store are reported with their fix.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../store_test_support.h"
#include "platform/posix/registry_sqlite.h"

namespace tavix::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry below dir, links not followed: its kind, mode, and content or target.
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const fs::file_status status = entry.symlink_status();
        entries.push_back(entry.path().string() + " " + std::to_string(static_cast<int>(status.permissions())) + " " +
                          (fs::is_symlink(status)        ? "-> " + fs::read_symlink(entry.path()).string()
                           : fs::is_regular_file(status) ? ReadFile(entry.path().string())
                                                         : "dir"));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

class SqliteStoreFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 300 connections: a store of several pages.
        SqliteRegistry reg(source);
        for (int i = 0; i < 300; ++i) {
            RegKey key = 0;
            const std::string name = "Connections\\Connection " + std::to_string(i);
            ASSERT_EQ(reg.CreateKey(kCurrentUser, name.c_str(), &key), kRegOk) << reg.Problem();
            ASSERT_EQ(reg.SetValue(key, nullptr, kRegSz, "cn_iptcp:db[1972]", 18), kRegOk);
            reg.CloseKey(key);
        }
    }
    testing::ScratchDir scratch{"tavix-store-file-test"};
    const std::string dir = scratch.path(), source = scratch / "source.db";
};

// What a case puts in a directory of its own, in order: a directory ('d'), a file of `data` ('f'),
// a copy of the store ('s') or a symbolic link to `data` ('l'). A parent made for it is 0700;
// `mode` (-1: 0700 for a directory, 0600 for a file) is set last.
struct Entry { std::string path; char kind; std::string data = ""; int mode = -1; };

// Each case arranges the store's surroundings in a directory of its own, the store being
// config/tavixconnect/registry.db there ({dir} its directory and {file} the file in the texts).
TEST_F(SqliteStoreFileTest, LookingCreatesNothingUnusableFilesAndLinksAreRefusedLooseModesAreReported) {
    const std::string T = "config/tavixconnect", F = T + "/registry.db", elsewhere = "config/elsewhere/registry.db";
    const std::string fileLink = "is a symbolic link; the store must be a regular file";
    const std::string dirLink = "{dir} is a symbolic link; the store's directory must be a real directory";
    const std::string real = ReadFile(source);
    ASSERT_GT(real.size(), 16384u);
    std::string foreign = real, damaged = real, older = real;
    foreign.replace(68, 4, 4, '\0');  // the application id of the header
    older.replace(60, 4, std::string("\0\0\0\1", 4));  // the format version (user_version) 1
    std::mt19937 random(7);
    for (size_t i = damaged.size() - 4096; i < damaged.size(); ++i) damaged[i] = static_cast<char>(random());
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        std::string problem;
        std::string warning;
        // Damage that shows only where it is read: the problem is the report of the check of
        // the whole file that looking at the store runs (it starts with `problem`), and the
        // operations come after that look.
        bool damagedPage = false;
    };
    std::vector<Case> cases = {
        {"nothing yet", {}, "", ""},
        {"the directory without the file", {{T, 'd'}}, "", ""},
        {"an empty file", {{F, 'f', ""}}, "", ""},
        {"a store", {{F, 's'}}, "", ""},
        {"random bytes", {{F, 'f', std::string(4096, '\x5A')}}, "file is not a database", ""},
        {"a store with a damaged last page", {{F, 'f', damaged}}, "database disk image is malformed", "", true},
        {"another program's database", {{F, 'f', foreign}}, "not a registry store (another program's database)", ""},
        {"a format this build does not know", {{F, 'f', older}}, "registry store format 1 is not supported", ""},
        {"a directory at the file's path", {{F, 'd'}}, "Is a directory", ""},
        {"a file at the directory's path", {{T, 'f', "x"}}, "{dir}: Not a directory", ""},
        {"the file a link to a store", {{elsewhere, 's'}, {F, 'l', "../elsewhere/registry.db"}}, fileLink, ""},
        {"the directory a link to one with a store", {{elsewhere, 's'}, {T, 'l', "elsewhere"}}, dirLink, ""},
        {"a directory above it a link", {{"real-config/tavixconnect/registry.db", 's'}, {"config", 'l', "real-config"}},
         "", ""},
        {"the file readable by others", {{F, 's', "", 0644}}, "",
         "{file} can be read by other users (mode 0644); fix with: chmod 600 {file}"},
        {"both, the file writable by the group", {{T, 'd', "", 0750}, {F, 's', "", 0660}}, "",
         "{dir} is open to other users (mode 0750) and {file} can be read and changed by other users "
         "(mode 0660); fix with: chmod 700 {dir} && chmod 600 {file}"},
    };
    // root reads and writes whatever the mode says.
    if (geteuid() != 0) cases.push_back({"unreadable", {{F, 's', "", 0}}, "Permission denied", ""});
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = dir + "/case" + std::to_string(n++);
        const std::string tavix = in + "/" + T, path = in + "/" + F;
        fs::create_directories(in);
        for (const Entry& e : c.entries) {
            const fs::path at = in + "/" + e.path;
            if (fs::create_directories(at.parent_path())) chmod(at.parent_path().c_str(), 0700);
            if (e.kind == 'd') fs::create_directory(at);
            if (e.kind == 'f') std::ofstream(at, std::ios::binary) << e.data;
            if (e.kind == 's') fs::copy_file(source, at);
            if (e.kind == 'l') fs::create_symlink(e.data, at);
            if (e.kind != 'l') chmod(at.c_str(), mode_t(e.mode >= 0 ? e.mode : e.kind == 'd' ? 0700 : 0600));
        }
        const auto text = [&](const std::string& pattern) {
            return Replace(Replace(pattern, "{dir}", tavix), "{file}", path);
        };
        const auto expectProblem = [&](const std::string& problem) {
            if (c.damagedPage) {
                EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem) << problem;
            } else {
                EXPECT_EQ(problem, text(c.problem));
            }
        };
        const std::vector<std::string> before = Listing(in);
        {
            const SqliteRegistry reg(path);
            EXPECT_EQ(reg.Location(), path);
            expectProblem(reg.Problem());
            EXPECT_EQ(reg.Warning(), text(c.warning));
        }
        EXPECT_EQ(Listing(in), before) << "looking changed something";

        // The store works exactly when it has no problem; otherwise every operation is refused,
        // and once the store is closed nothing has changed.
        {
            SqliteRegistry reg(path);
            if (c.damagedPage) expectProblem(reg.Problem());
            RegKey key = 0;
            char name[8];
            std::string results;
            for (const long rc : {reg.CreateKey(kCurrentUser, "Changed", &key), reg.SetValue(key, "v", kRegSz, "", 1),
                                  reg.QueryValue(key, "v", nullptr, nullptr, nullptr),
                                  reg.EnumKey(key, 0, name, sizeof name), reg.DeleteValue(key, "v"),
                                  reg.CloseKey(key), reg.DeleteKey(kCurrentUser, "Changed"), reg.BeginBatch(),
                                  reg.CommitBatch()}) {
                results += std::to_string(rc) + " ";
            }
            EXPECT_EQ(results, c.problem.empty() ? "0 0 0 259 0 0 0 0 0 " : "1009 1009 1009 1009 1009 6 1009 1009 87 ");
            expectProblem(reg.Problem());
            EXPECT_EQ(reg.Warning(), text(c.warning));
        }
        if (!c.problem.empty()) {
            EXPECT_TRUE(Listing(in) == before) << "a refused store changed";
        }
    }
}

}  // namespace
}  // namespace tavix::platform
