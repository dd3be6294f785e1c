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
#include <functional>
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
        std::string line = entry.path().string() + " " +
                           std::to_string(static_cast<int>(status.permissions())) + " ";
        if (fs::is_symlink(status)) {
            line += "-> " + fs::read_symlink(entry.path()).string();
        } else if (fs::is_regular_file(status)) {
            line += ReadFile(entry.path().string());
        } else {
            line += "dir";
        }
        entries.push_back(line);
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

// Each case arranges the store's surroundings in a directory of its own, the store being
// config/tavixconnect/registry.db there ({dir} its directory and {file} the file in the texts).
TEST_F(SqliteStoreFileTest, LookingCreatesNothingUnusableFilesAndLinksAreRefusedLooseModesAreReported) {
    const auto makeDir = [](const std::string& path, mode_t mode) {
        fs::create_directories(path);
        chmod(path.c_str(), mode);
    };
    // The directory (mode dirMode) with a copy of a store (mode fileMode) in it.
    const auto store = [&](mode_t dirMode, mode_t fileMode) {
        return [&, dirMode, fileMode](const std::string& tavix) {
            makeDir(tavix, dirMode);
            fs::copy_file(source, tavix + "/registry.db");
            chmod((tavix + "/registry.db").c_str(), fileMode);
        };
    };
    const auto file = [&](const std::string& bytes) {
        return [&, bytes](const std::string& tavix) {
            makeDir(tavix, 0700);
            std::ofstream(tavix + "/registry.db", std::ios::binary) << bytes;
            chmod((tavix + "/registry.db").c_str(), 0600);
        };
    };
    const auto link = [&](const std::string& at, const std::string& target) {
        makeDir(fs::path(at).parent_path(), 0700);
        fs::create_symlink(target, at);
    };
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
        std::function<void(const std::string& config)> make;  // the store's directory's parent
        std::string problem;
        std::string warning;
        // Damage that shows only where it is read: the problem is the report of the check of
        // the whole file that looking at the store runs (it starts with `problem`), and the
        // operations come after that look.
        bool damagedPage = false;
    };
    const auto inTavix = [](std::function<void(const std::string&)> make) {
        return [make](const std::string& config) { make(config + "/tavixconnect"); };
    };
    std::vector<Case> cases = {
        {"nothing yet", [](const std::string&) {}, "", ""},
        {"the directory without the file", inTavix([&](const std::string& tavix) { makeDir(tavix, 0700); }), "", ""},
        {"an empty file", inTavix(file("")), "", ""},
        {"a store", inTavix(store(0700, 0600)), "", ""},
        {"random bytes", inTavix(file(std::string(4096, '\x5A'))), "file is not a database", ""},
        {"a store cut to half its size", inTavix(file(real.substr(0, real.size() / 2))),
         "database disk image is malformed", ""},
        {"a store with a damaged last page", inTavix(file(damaged)), "database disk image is malformed", "",
         true},
        {"another program's database", inTavix(file(foreign)),
         "not a registry store (another program's database)", ""},
        {"a format this build does not know", inTavix(file(older)), "registry store format 1 is not supported",
         ""},
        {"a directory at the file's path", inTavix([&](const std::string& tavix) {
             makeDir(tavix, 0700);
             makeDir(tavix + "/registry.db", 0700);
         }),
         "Is a directory", ""},
        {"a file at the directory's path",
         [&](const std::string& config) {
             makeDir(config, 0700);
             std::ofstream(config + "/tavixconnect") << "x";
         },
         "{dir}: Not a directory", ""},
        {"the file a link to a store",
         [&](const std::string& config) {
             store(0700, 0600)(config + "/elsewhere");
             link(config + "/tavixconnect/registry.db", "../elsewhere/registry.db");
         },
         fileLink, ""},
        {"the file a link to nothing",
         [&](const std::string& config) { link(config + "/tavixconnect/registry.db", config + "/nowhere.db"); },
         fileLink, ""},
        {"the directory a link to one with a store",
         [&](const std::string& config) {
             store(0700, 0600)(config + "/elsewhere");
             link(config + "/tavixconnect", "elsewhere");
         },
         dirLink, ""},
        {"the directory a link to nothing",
         [&](const std::string& config) { link(config + "/tavixconnect", "nowhere"); }, dirLink, ""},
        {"a directory above it a link",
         [&](const std::string& config) {
             store(0700, 0600)(fs::path(config).parent_path() / "real-config/tavixconnect");
             link(config, "real-config");
         },
         "", ""},
        {"the directory open to others", inTavix(store(0755, 0600)), "",
         "{dir} is open to other users (mode 0755); fix with: chmod 700 {dir}"},
        {"the file readable by others", inTavix(store(0700, 0644)), "",
         "{file} can be read by other users (mode 0644); fix with: chmod 600 {file}"},
        {"both, the file writable by the group", inTavix(store(0750, 0660)), "",
         "{dir} is open to other users (mode 0750) and {file} can be read and changed by other users "
         "(mode 0660); fix with: chmod 700 {dir} && chmod 600 {file}"},
    };
    // root reads and writes whatever the mode says.
    if (geteuid() != 0) cases.push_back({"unreadable", inTavix(store(0700, 0)), "Permission denied", ""});
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = dir + "/case" + std::to_string(n++);
        const std::string tavix = in + "/config/tavixconnect", path = tavix + "/registry.db";
        makeDir(in, 0700);
        c.make(in + "/config");
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
                                  reg.QueryValue(key, "v", nullptr, nullptr, nullptr), reg.EnumKey(key, 0, name, sizeof name),
                                  reg.DeleteValue(key, "v"), reg.CloseKey(key), reg.DeleteKey(kCurrentUser, "Changed"),
                                  reg.BeginBatch(), reg.CommitBatch()}) {
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
