// Connection-string throughput: the exported wide functions, the 8-bit record parser, and
// libpq's conninfo parser on the equivalent libpq string as the peer baseline.
//
// Bytes processed are the input's bytes as the function reads them (two per character for
// wide text, both strings for a comparison); one item is one call.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "TavixConnect.h"
#include "connstring/connection_record.h"
#include "store/record_defaults.h"
#include "frame/context/library_context.h"

namespace {

constexpr const OLECHAR* kWide = u"cn_iptcp:db1[1972]:NS1";
constexpr const char* kNarrow = "cn_iptcp:db1[1972]:NS1";
constexpr const char* kLibpq = "host=db1 port=1972 dbname=NS1";

// Equivalent but not identical pairs, so that the comparison splits both strings.
constexpr const OLECHAR* kQuotedName = u"\"Production\" cn_iptcp:db1[1972]:NS1";
constexpr const OLECHAR* kWithUser = u"cn_iptcp:db1[1972]:USER";
constexpr const OLECHAR* kWithoutUser = u"cn_iptcp:db1[1972]";

int64_t WideBytes(const OLECHAR* text) {
    return static_cast<int64_t>(std::u16string_view{text}.size() * sizeof(OLECHAR));
}

void Count(benchmark::State& state, int64_t bytesPerCall) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * bytesPerCall);
}

void SplitBothOut(benchmark::State& state) {
    for (auto _ : state) {
        BSTR server, space;
        benchmark::DoNotOptimize(SplitConnectionString(kWide, &server, &space));
        benchmark::DoNotOptimize(server);
        benchmark::DoNotOptimize(space);
        SysFreeString(server);
        SysFreeString(space);
    }
    Count(state, WideBytes(kWide));
}

void SplitNullOut(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(SplitConnectionString(kWide, nullptr, nullptr));
    }
    Count(state, WideBytes(kWide));
}

void Equivalent(benchmark::State& state, const OLECHAR* first, const OLECHAR* second) {
    if (ConnectionStringsEquivalent(first, second) != 1) state.SkipWithError("not equivalent");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConnectionStringsEquivalent(first, second));
    }
    Count(state, WideBytes(first) + WideBytes(second));
}

void EquivalentQuotedName(benchmark::State& state) { Equivalent(state, kQuotedName, kWide); }

void EquivalentDefaultNamespace(benchmark::State& state) {
    Equivalent(state, kWithUser, kWithoutUser);
}

void RecordParse(benchmark::State& state) {
    tavix::ContextGuard guard;
    const tavix::ParseDefaults defaults = tavix::CurrentParseDefaults();
    tavix::ConnectionRecord record;
    if (!record.Parse("Production", kNarrow, defaults)) state.SkipWithError("not parsed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(record.Parse("Production", kNarrow, defaults));
        benchmark::ClobberMemory();
    }
    Count(state, static_cast<int64_t>(std::strlen(kNarrow)));
}

void LibpqConninfoParse(benchmark::State& state) {
    for (auto _ : state) {
        char* error = nullptr;
        PQconninfoOption* options = PQconninfoParse(kLibpq, &error);
        benchmark::DoNotOptimize(options);
        if (options == nullptr) {
            state.SkipWithError("not parsed");
            PQfreemem(error);
            break;
        }
        PQconninfoFree(options);
    }
    Count(state, static_cast<int64_t>(std::strlen(kLibpq)));
}

// With repetitions, the fastest repetition's time as well (NAME_min): on a shared machine it is
// the figure least disturbed by other load. The rate counters of that row are the lowest rates.
double Fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

}  // namespace

#define TAVIX_BENCHMARK(function) BENCHMARK(function)->ComputeStatistics("min", Fastest)

TAVIX_BENCHMARK(SplitBothOut);
TAVIX_BENCHMARK(SplitNullOut);
TAVIX_BENCHMARK(EquivalentQuotedName);
TAVIX_BENCHMARK(EquivalentDefaultNamespace);
TAVIX_BENCHMARK(RecordParse);
TAVIX_BENCHMARK(LibpqConninfoParse);

BENCHMARK_MAIN();
