// Key and value names in the SQLite hive: the bytes as the caller gave them, and the fold they
// are compared and sorted by (platform/name_fold.h).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tavix::platform::hive {

// A key name has at most this many UTF-16 code units.
inline constexpr size_t kMaxKeyNameLength = 255;

inline bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Appends the fold of text (8-bit text of the system code page) to fold.
void AppendFold(std::string_view text, std::string& fold);

// The number of UTF-16 code units a fold stands for: each unit is one lead byte and up to two
// continuation bytes.
inline size_t FoldLength(std::string_view fold) {
    size_t units = 0;
    for (const char c : fold) units += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return units;
}

// Whether a stored name has this fold (an ASCII name is compared without folding it).
bool HasFold(std::string_view stored, std::string_view fold, std::string& scratch);

// A key or value name: the bytes as given (which must outlive it), and the fold that it is
// compared and sorted by, made when first asked for.
class Name {
public:
    void Assign(std::string_view bytes) {
        text_ = bytes;
        folded_ = false;
        if (IsAscii(bytes)) {
            length_ = bytes.size();
        } else {
            fold_.clear();
            AppendFold(bytes, fold_);
            length_ = FoldLength(fold_);
            folded_ = true;
        }
    }
    std::string_view Text() const { return text_; }
    size_t Length() const { return length_; }  // in UTF-16 code units
    bool Folded() const { return folded_; }
    std::string_view Fold() const {
        if (!folded_) {
            fold_.clear();
            AppendFold(text_, fold_);
            folded_ = true;
        }
        return fold_;
    }

private:
    std::string_view text_;
    size_t length_ = 0;
    mutable std::string fold_;
    mutable bool folded_ = false;
};

// Folds to key ids, with lookups by string_view.
struct FoldHash {
    using is_transparent = void;
    size_t operator()(std::string_view fold) const noexcept {
        return std::hash<std::string_view>{}(fold);
    }
};
using FoldMap = std::unordered_map<std::string, int64_t, FoldHash, std::equal_to<>>;

}  // namespace tavix::platform::hive
