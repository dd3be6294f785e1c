// Text crossing the library boundary: wide arguments read as 8-bit text, results handed out
// as new automation strings that the caller owns.
#pragma once

#include <string>
#include <string_view>

#include "TavixConnect.h"
#include "frame/context/wide.h"

namespace tavix {

// A wide argument converted to the current code page for the duration of a call.
// A null argument stays null: get() then returns null, not an empty string.
class NarrowArg {
public:
    explicit NarrowArg(const WChar* text);
    const char* get() const noexcept { return null_ ? nullptr : text_.c_str(); }
    std::string_view view() const noexcept { return text_; }
    bool IsNull() const noexcept { return null_; }

private:
    std::string text_;
    bool null_;
};

// Sole owner of a BSTR; frees it with the automation-string free.
class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    explicit UniqueBstr(BSTR text) noexcept : text_(text) {}
    UniqueBstr(UniqueBstr&& other) noexcept : text_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept;
    ~UniqueBstr();

    BSTR get() const noexcept { return text_; }
    BSTR release() noexcept {
        BSTR text = text_;
        text_ = nullptr;
        return text;
    }
    void reset(BSTR text = nullptr) noexcept;
    WStringView view() const noexcept;
    explicit operator bool() const noexcept { return text_ != nullptr; }

private:
    BSTR text_ = nullptr;
};

// A new BSTR holding text; null when the allocation fails.
BSTR NewBstr(WStringView text) noexcept;

// A new BSTR holding 8-bit text converted from the current code page.
BSTR NewBstrFromNarrow(std::string_view text);

}  // namespace tavix
