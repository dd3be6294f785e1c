// A writer killed with SIGKILL at random instants while it saves, again and again: every store
// it leaves holds one complete save, the last one it reported committed or the one after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "platform/posix/registry_sqlite.h"
#include "registry_saves.h"

namespace tavix::platform {
namespace {

constexpr int kConnections = 1000;
constexpr int kKills = 60;

TEST(RegistryCrash, AKilledSaveLeavesTheOldOrTheNewSetWhole) {
    char pattern[] = "/tmp/tavix-crash-test-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string path = dir + "/registry.db";
    {
        SqliteRegistry reg(path);
        ASSERT_TRUE(test::SaveGeneration(reg, kConnections, 0)) << reg.Problem();
    }
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 50'000);
    SCOPED_TRACE("seed " + std::to_string(seed));

    uint32_t stored = 0;
    int killedMidSave = 0;
    for (int round = 0; round < kKills; ++round) {
        int reports[2];
        ASSERT_EQ(pipe(reports), 0);
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            close(reports[0]);
            SqliteRegistry reg(path);
            for (uint32_t generation = stored + 1;; ++generation) {
                if (!test::SaveGeneration(reg, kConnections, generation)) _exit(1);
                if (write(reports[1], &generation, sizeof generation) != sizeof generation)
                    _exit(1);
            }
        }
        close(reports[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << status;
        uint32_t committed = stored, generation = 0;
        while (read(reports[0], &generation, sizeof generation) == sizeof generation)
            committed = generation;
        close(reports[0]);

        SqliteRegistry reg(path);
        reg.BeginBatch();  // one snapshot, and fast
        const test::Saved saved = test::ReadGeneration(reg);
        reg.CommitBatch();
        ASSERT_EQ(reg.Problem(), "") << "round " << round;
        ASSERT_EQ(saved.count, kConnections) << "round " << round;
        ASSERT_TRUE(saved.consistent) << "round " << round;
        ASSERT_TRUE(saved.generation == committed || saved.generation == committed + 1)
            << "round " << round << ": found " << saved.generation << ", committed " << committed;
        killedMidSave += saved.generation == committed;
        stored = saved.generation;
    }
    std::filesystem::remove_all(dir);
    // How many kills found a save under way (most of them, unless saving got very fast).
    RecordProperty("KilledMidSave", killedMidSave);
}

}  // namespace
}  // namespace tavix::platform
