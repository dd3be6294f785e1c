// Saving the connection table in the Windows registry, which lands each call on its own: a
// save killed at any instant leaves the old or the new set whole once the next process has
// loaded, and a read in a batch never sees half a save. (Processes saving at once lose nothing:
// the CLI's concurrency test runs its processes under Wine too.)
//
// The test program starts copies of itself as writers. A writer fills a table with 2,000
// connections whose connection strings carry a generation number and saves it again and again,
// telling the test on its standard output each generation that landed; the test kills it with
// TerminateProcess at random instants and then loads what the store holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/win32/registry_win32.h"
#include "store/registry_store.h"
#include "save_crash_writer.h"

namespace tavix {
namespace {

using Clock = std::chrono::steady_clock;
using platform::kRegOk;

constexpr int kConnections = 2000;

// The writer process: its reports go to its standard output, unbuffered.
int Writer(long first) {
    return save_crash::WriteGenerations(kConnections, first, [](const std::string& line) {
        DWORD written = 0;
        const std::string text = line + "\n";
        return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) != 0;
    });
}

// A copy of this program, with its standard output read by the test.
class Child {
public:
    explicit Child(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&reports_, &write, &inherit, 0)) return;
        SetHandleInformation(reports_, HANDLE_FLAG_INHERIT, 0);
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string command = "\"" + std::string(self) + "\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION info{};
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            process_ = info.hProcess;
            CloseHandle(info.hThread);
        }
        CloseHandle(write);
    }
    ~Child() {
        if (process_ != nullptr) {
            Kill();
            CloseHandle(process_);
        }
        if (reports_ != nullptr) CloseHandle(reports_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return process_ != nullptr; }
    void Kill() {
        TerminateProcess(process_, 9);
        WaitForSingleObject(process_, INFINITE);
    }
    // Reads the reports: with `wait`, until one whole line has come or the writer has ended;
    // without, up to the end of the pipe (the writer has ended).
    void Read(bool wait) {
        char buffer[4096];
        DWORD got = 0;
        while ((!wait || text_.find('\n') == std::string::npos) &&
               ReadFile(reports_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            text_.append(buffer, got);
        }
    }
    // The last generation reported, -1 for none.
    long LastGeneration() const { return save_crash::LastGeneration(text_); }

private:
    HANDLE process_ = nullptr;
    HANDLE reports_ = nullptr;
    std::string text_;
};

bool JournalPresent() {
    platform::Registry& registry = platform::UserRegistry();
    platform::RegKey key = 0;
    if (registry.OpenKey(platform::kCurrentUser, store::kConnectionsKeyPath, &key) != kRegOk) return false;
    const bool present = registry.QueryValue(key, store::kPendingSaveValue, nullptr, nullptr, nullptr) == kRegOk;
    registry.CloseKey(key);
    return present;
}

long StoredGeneration() { return save_crash::StoredGeneration(kConnections); }

class SaveCrash : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(store::DeleteKeyTree(platform::kCurrentUser, store::kConnectionsKeyPath), 0); }
    void TearDown() override { store::DeleteKeyTree(platform::kCurrentUser, store::kConnectionsKeyPath); }
};

TEST_F(SaveCrash, AKilledSaveLeavesTheOldOrTheNewSetWholeForTheNextProcess) {
    std::mt19937 random(20261205);
    long committed = -1;
    int kills = 0, interrupted = 0;
    const auto start = Clock::now();
    // At most 24 kills, and none begun after 70 s.
    for (; kills < 24 && Clock::now() - start < std::chrono::seconds(70); ++kills) {
        Child writer("--writer " + std::to_string(committed + 1));
        ASSERT_TRUE(writer.Started());
        // Once the writer's first save has landed, the kill falls at a random instant of the
        // saves that follow (one takes about a second under Wine).
        writer.Read(true);
        ASSERT_GE(writer.LastGeneration(), 0) << "the writer saved nothing";
        Sleep(random() % 1200);
        writer.Kill();
        writer.Read(false);
        const long reported = writer.LastGeneration();
        if (reported >= 0) committed = reported;
        if (JournalPresent()) ++interrupted;
        const long stored = StoredGeneration();
        ASSERT_GE(stored, 0) << "kill " << kills << ": a mixed or partial set of connections (" << stored << ")";
        ASSERT_FALSE(JournalPresent()) << "kill " << kills << ": the load left the journal";
        // The last save reported, or the one after it if it landed before the kill.
        ASSERT_TRUE(stored == committed || stored == committed + 1)
            << "kill " << kills << ": stored " << stored << ", reported " << committed;
        committed = stored;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d kills in %.1f s, %d of them during a save's changes\n", kills, seconds, interrupted);
    EXPECT_GE(kills, 8);
    EXPECT_GT(interrupted, 0) << "no kill fell into a save: the test proved nothing";
}

TEST_F(SaveCrash, AReadInABatchSeesOneWholeGenerationWhileAnotherProcessSaves) {
    Child writer("--writer 0");
    ASSERT_TRUE(writer.Started());
    writer.Read(true);
    ASSERT_GE(writer.LastGeneration(), 0) << "the writer saved nothing";
    platform::Registry& registry = platform::UserRegistry();
    std::vector<long> seen;
    for (int read = 0; read < 6; ++read) {
        ASSERT_EQ(registry.BeginBatch(), kRegOk);
        seen.push_back(StoredGeneration());
        ASSERT_EQ(registry.CommitBatch(), kRegOk);
        Sleep(150);
    }
    writer.Kill();
    // Each read a whole generation (none negative: mixed or partial), never one older than the last.
    EXPECT_TRUE(seen.front() >= 0 && std::is_sorted(seen.begin(), seen.end())) << ::testing::PrintToString(seen);
    EXPECT_GT(seen.back(), seen.front()) << "the writer saved nothing between the reads";
}

// Whether a thread other than this one can take the store's mutex now.
bool MutexFree() {
    bool free = false;
    std::thread([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, platform::StoreMutexName().c_str());
        if (mutex == nullptr) {
            free = true;  // no process has it
            return;
        }
        const DWORD waited = WaitForSingleObject(mutex, 0);
        free = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        if (free) ReleaseMutex(mutex);
        CloseHandle(mutex);
    }).join();
    return free;
}

TEST(StoreMutex, TheOutermostBatchHoldsItAndAnotherOwnersTurnIsAwaitedTenSeconds) {
    platform::Registry& registry = platform::UserRegistry();
    EXPECT_EQ(registry.BeginBatch(), kRegOk);
    EXPECT_EQ(registry.BeginBatch(), kRegOk);
    EXPECT_EQ(registry.CommitBatch(), kRegOk);
    EXPECT_FALSE(MutexFree()) << "an inner batch's end releases nothing";
    EXPECT_EQ(registry.CommitBatch(), kRegOk);
    EXPECT_TRUE(MutexFree());
    EXPECT_EQ(registry.BeginBatch(), kRegOk);
    registry.AbortBatch();
    EXPECT_TRUE(MutexFree());

    // Another owner that keeps it, then ends without releasing it.
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE end = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, platform::StoreMutexName().c_str());
        if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
        SetEvent(taken);
        WaitForSingleObject(end, INFINITE);
        if (mutex != nullptr) CloseHandle(mutex);
    });
    WaitForSingleObject(taken, INFINITE);
    const auto before = Clock::now();
    EXPECT_EQ(registry.BeginBatch(), platform::kRegBusy);
    const double waited = std::chrono::duration<double>(Clock::now() - before).count();
    EXPECT_TRUE(waited > 9.5 && waited < 15) << waited << " s";
    EXPECT_EQ(registry.CommitBatch(), platform::kRegInvalidParameter) << "a batch that did not begin is not open";
    SetEvent(end);
    owner.join();
    EXPECT_EQ(registry.BeginBatch(), kRegOk) << "abandoned, taken";
    EXPECT_EQ(registry.CommitBatch(), kRegOk);
    CloseHandle(taken);
    CloseHandle(end);
}

}  // namespace
}  // namespace tavix

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--writer") return tavix::Writer(std::atol(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
