// Saving and loading 10,000 connections through the table on the Windows build, whose store
// is the platform's registry (Wine's, when run under Wine). Google Benchmark is not built for
// MinGW, so this is a plain timing program:
//
//   wine_store_timing [COUNT [ROUNDS]]     defaults 10000 and 3
//
// The table is first saved into an empty key (timed on its own: WineRegistrySaveEmpty); then
// each round saves it again over the connections saved before, as a save after an edit does,
// and clears it and loads it again. Prints every round and the fastest, in milliseconds of
// real time, and one line per figure for scripts:
//   WineRegistrySave/COUNT best_ms=... rounds_ms=...,...
// Exits non-zero when a load does not find every connection saved. The connections key is
// deleted at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_connections.h"
#include "frame/context/library_context.h"
#include "platform/registry.h"
#include "store/connection_table.h"
#include "store/registry_store.h"

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void Report(const char* what, int count, const std::vector<double>& rounds) {
    std::string list;
    for (const double ms : rounds) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%.1f", list.empty() ? "" : ",", ms);
        list += text;
    }
    std::printf("%s/%d best_ms=%.1f rounds_ms=%s\n", what, count,
                *std::min_element(rounds.begin(), rounds.end()), list.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (count <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: wine_store_timing [COUNT [ROUNDS]]\n");
        return 2;
    }

    tavix::ContextGuard guard;
    tavix::store::DeleteKeyTree(tavix::platform::kCurrentUser, tavix::store::kConnectionsKeyPath);
    tavix::ConnectionTable table;
    if (!tavix::bench::FillTable(table, count)) {
        std::fprintf(stderr, "connections not made\n");
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    table.Save();
    const std::vector<double> first{MillisecondsSince(start)};
    std::fprintf(stderr, "save into an empty key: %.1f ms\n", first.back());

    std::vector<double> saves, loads;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        start = std::chrono::steady_clock::now();
        table.Save();
        saves.push_back(MillisecondsSince(start));

        start = std::chrono::steady_clock::now();
        table.Clear();
        table.LoadAll();
        loads.push_back(MillisecondsSince(start));
        if (table.Count() != static_cast<size_t>(count)) {
            std::fprintf(stderr, "round %d: %zu of %d connections loaded\n", round + 1,
                         table.Count(), count);
            complete = false;
        }
        std::fprintf(stderr, "round %d: save %.1f ms, load %.1f ms\n", round + 1, saves.back(),
                     loads.back());
    }
    Report("WineRegistrySaveEmpty", count, first);
    Report("WineRegistrySave", count, saves);
    Report("WineRegistryLoad", count, loads);

    table.Clear();
    tavix::store::DeleteKeyTree(tavix::platform::kCurrentUser, tavix::store::kConnectionsKeyPath);
    return complete ? 0 : 1;
}
