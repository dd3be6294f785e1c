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
        Save(name);
        if (value) setenv(name, value, 1); else unsetenv(name);
    }
    ~Environment() {
        for (auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
        }
    }

private:
    void Save(const char* name) {
        for (auto& saved : saved_) if (saved.first == name) return;
        const char* value = std::getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tavix::test
#endif
