// Test helper: environment variables set for the life of a test and restored afterwards.
#pragma once

#if !defined(_WIN32)
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavix::test {

// Sets environment variables for the life of a test, restoring them afterwards.
class Environment {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Put(name, value);
    }
    // In reverse order, so that a variable set twice gets its first value back.
    ~Environment() {
        for (auto at = saved_.rbegin(); at != saved_.rend(); ++at) {
            Put(at->first.c_str(), at->second ? at->second->c_str() : nullptr);
        }
    }

private:
    static void Put(const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tavix::test
#endif
