// Helpers the POSIX store tests share: a scratch directory and registry value bytes.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavix::testing {

// A directory of its own under the temporary directory, removed with all it holds.
class ScratchDir {
public:
    explicit ScratchDir(std::string_view prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~ScratchDir() { std::error_code ignored; if (!path_.empty()) std::filesystem::remove_all(path_, ignored); }
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// A REG_SZ value's bytes (with the zero) and a REG_DWORD's (little-endian).
inline std::string Sz(std::string_view text) { return std::string(text) + '\0'; }
inline std::string Dword(uint32_t n) { return {char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24)}; }

}  // namespace tavix::testing
