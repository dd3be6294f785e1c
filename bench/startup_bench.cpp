// The library's start-up: what the first export call of a process costs, and the load. Start-up
// runs once per process (on Linux inside dlopen, so its cost is part of load_ns), so every
// iteration runs startup_probe as a new process, which loads the shared library (the one built
// beside the German resource library) and times its first and second SplitConnectionString
// calls; the iteration's time is the first call's, as the probe measured it. The process's environment holds only the user's language:
//   English: no resource library exists for it; every candidate is looked for and missed;
//   German (Austria): DEA is missed, DEU is found, read and its version checked.
// Counters: the fastest first call of the repetition, the second call (the export without
// start-up) and the load (dlopen), each in nanoseconds, fastest of the repetition.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double load = 0, first = 0, second = 0;
};

// Runs the probe once with the given language; false when it did not run or answered nothing.
bool RunProbe(const char* language, Sample& sample) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    const std::string probe = TAVIX_STARTUP_PROBE;
    const std::string library = TAVIX_STARTUP_LIBRARY;
    const std::string lang = std::string("LANG=") + language;
    char* argv[] = {const_cast<char*>(probe.c_str()), const_cast<char*>(library.c_str()), nullptr};
    char* envp[] = {const_cast<char*>(lang.c_str()), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, probe.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (spawned != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    return std::sscanf(out.c_str(), "%lf %lf %lf", &sample.load, &sample.first, &sample.second) == 3;
}

void FirstExportCall(benchmark::State& state, const char* language) {
    constexpr double kNone = std::numeric_limits<double>::max();
    Sample fastest{kNone, kNone, kNone};
    for (auto _ : state) {
        Sample sample;
        if (!RunProbe(language, sample)) {
            state.SkipWithError("the probe did not run");
            break;
        }
        state.SetIterationTime(sample.first / 1e9);
        fastest.load = std::min(fastest.load, sample.load);
        fastest.first = std::min(fastest.first, sample.first);
        fastest.second = std::min(fastest.second, sample.second);
    }
    state.counters["first_ns"] = fastest.first;
    state.counters["second_ns"] = fastest.second;
    state.counters["load_ns"] = fastest.load;
}

void FirstCallEnglish(benchmark::State& state) { FirstExportCall(state, "en_US.UTF-8"); }
void FirstCallGerman(benchmark::State& state) { FirstExportCall(state, "de_AT.UTF-8"); }

// With repetitions, the fastest repetition as well (NAME_min), as in the other benchmarks.
double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

}  // namespace

// A process costs about a millisecond to start: a fixed number of them per repetition.
BENCHMARK(FirstCallEnglish)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(FirstCallGerman)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);

BENCHMARK_MAIN();
