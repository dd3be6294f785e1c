// The start-up probe that startup_bench runs as a fresh process: it loads the library by path
// as a client does, then times with the monotonic clock the load (which runs the library's
// start-up on Linux), the first export call and a second, identical call, and prints the three durations in
// nanoseconds on one line: "load first second".
//
//   startup_probe LIBRARY
#include <dlfcn.h>
#include <time.h>

#include <cstdio>

#include "TavixConnect.h"

namespace {

long long Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: startup_probe LIBRARY\n");
        return 2;
    }
    const long long beforeLoad = Now();
    void* library = dlopen(argv[1], RTLD_LAZY | RTLD_LOCAL);
    const long long loaded = Now();
    if (library == nullptr) {
        std::fprintf(stderr, "startup_probe: %s\n", dlerror());
        return 1;
    }
    const auto split = reinterpret_cast<decltype(&SplitConnectionString)>(
        dlsym(library, "SplitConnectionString"));
    if (split == nullptr) {
        std::fprintf(stderr, "startup_probe: no SplitConnectionString\n");
        return 1;
    }
    const OLECHAR* const text = u"cn_iptcp:db1[1972]:NS1";
    const long long beforeFirst = Now();
    const int first = split(text, nullptr, nullptr);
    const long long afterFirst = Now();
    const int second = split(text, nullptr, nullptr);
    const long long afterSecond = Now();
    if (first != 1 || second != 1) {
        std::fprintf(stderr, "startup_probe: the string did not split\n");
        return 1;
    }
    std::printf("%lld %lld %lld\n", loaded - beforeLoad, afterFirst - beforeFirst,
                afterSecond - afterFirst);
    return 0;
}
