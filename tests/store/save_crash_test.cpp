// Saving the connection table is all or nothing. (Processes saving at once lose nothing: the
// CLI's concurrency test.)
//
// The test program starts copies of itself as writers (a fresh process each, so that no
// store connection crosses a fork). A writer fills a table with 1,000 connections whose
// connection strings carry a generation number and saves it again and again, telling the
// test each generation that landed; the test kills it with SIGKILL at random moments and then
// loads what the store holds.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "save_crash_writer.h"

extern char** environ;

namespace tavix {
namespace {

using save_crash::LastGeneration;
constexpr int kConnections = 1000;

// The writer process: its reports go to fd.
int Writer(long first, int fd) {
    return save_crash::WriteGenerations(kConnections, first, [fd](const std::string& generation) {
        const std::string line = generation + "\n";
        return write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    });
}

// Starts a writer process; its reports arrive on *reports.
pid_t StartWriter(long first, int* reports) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string firstText = std::to_string(first), fdText = std::to_string(fds[1]);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, const_cast<char*>("--writer"), const_cast<char*>(firstText.c_str()),
                    const_cast<char*>(fdText.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) pid = -1;
    close(fds[1]);
    *reports = fds[0];
    return pid;
}

// Appends a writer's reports to text: with `wait`, until one whole line has come or the writer
// has ended; without, everything up to the end of the pipe (the writer has ended).
void ReadReports(int fd, std::string& text, bool wait) {
    char buffer[4096];
    ssize_t n = 0;
    while ((!wait || text.find('\n') == std::string::npos) && (n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
}

long StoredGeneration() { return save_crash::StoredGeneration(kConnections); }

TEST(SaveCrash, AKilledSaveLeavesTheOldOrTheNewSetWhole) {
    std::mt19937 random(20261205);
    long committed = -1;
    for (int kill = 0; kill < 50; ++kill) {
        int reports = -1;
        const pid_t writer = StartWriter(committed + 1, &reports);
        ASSERT_GT(writer, 0);
        // Once the writer's first save has landed, the kill falls at a random moment of the
        // saves that follow (one takes some tens of milliseconds).
        std::string text;
        ReadReports(reports, text, true);
        ASSERT_GE(LastGeneration(text), 0) << "the writer saved nothing";
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 50));
        ::kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        ReadReports(reports, text, false);
        close(reports);
        const long reported = LastGeneration(text);
        if (reported >= 0) committed = reported;
        const long stored = StoredGeneration();
        ASSERT_NE(stored, -2) << "kill " << kill << ": a mixed or partial set of connections";
        if (committed >= 0) {
            // The last save reported, or the one after it if it landed before the kill.
            ASSERT_TRUE(stored == committed || stored == committed + 1)
                << "kill " << kill << ": stored " << stored << ", reported " << committed;
        }
        committed = std::max(committed, stored);
    }
}

// Two processes saving the whole table at once: what the store holds is one of their sets,
// whole, and no older than either one's last reported save.
TEST(SaveCrash, TwoProcessesSavingAtOnceLeaveOneWholeSet) {
    int reports[2] = {-1, -1};
    const pid_t writers[2] = {StartWriter(1000, &reports[0]), StartWriter(2000, &reports[1])};
    // Writers never end by themselves: stopped here, and on a failed assertion's way out too.
    bool stopped = false;  // once reaped, their ids may belong to another process
    const auto stop = [&] {
        if (std::exchange(stopped, true)) return;
        for (const pid_t writer : writers) {
            if (writer > 0 && ::kill(writer, SIGKILL) == 0) waitpid(writer, nullptr, 0);
        }
    };
    const struct AtExit {
        const decltype(stop)& run;
        ~AtExit() { run(); }
    } stopAtExit{stop};
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {  // both have saved a few times, and go on
        ASSERT_GT(writers[i], 0);
        char buffer[256];
        ssize_t n = 0;
        while (LastGeneration(texts[i]) < 1003 + 1000 * i && (n = read(reports[i], buffer, sizeof buffer)) > 0) {
            texts[i].append(buffer, static_cast<size_t>(n));
        }
        ASSERT_GE(LastGeneration(texts[i]), 1003 + 1000 * i) << "writer " << i << " ended";
    }
    stop();
    long last[2];
    for (int i = 0; i < 2; ++i) {
        ReadReports(reports[i], texts[i], false);
        close(reports[i]);
        last[i] = LastGeneration(texts[i]);
    }
    const long stored = StoredGeneration();
    EXPECT_TRUE(stored == last[0] || stored == last[0] + 1 || stored == last[1] || stored == last[1] + 1)
        << "stored " << stored << ", last saves " << last[0] << " and " << last[1];
}

}  // namespace
}  // namespace tavix

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--writer") return tavix::Writer(std::atol(argv[2]), std::atoi(argv[3]));
    // The store of this run, in a configuration directory of its own; writers inherit it.
    char pattern[] = "/tmp/tavix-save-crash-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (home == nullptr) return 2;
    setenv("XDG_CONFIG_HOME", home, 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
