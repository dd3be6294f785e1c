#include "frame/context/boundary.h"

#include <limits>

#include "frame/context/library_context.h"
#include "platform/automation.h"

namespace tavix {

NarrowArg::NarrowArg(const WChar* text) : null_(text == nullptr) {
    if (text != nullptr) text_ = ActiveCodePage().ToNarrow(WideView(text));
}

UniqueBstr& UniqueBstr::operator=(UniqueBstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

UniqueBstr::~UniqueBstr() { platform::FreeString(text_); }

void UniqueBstr::reset(BSTR text) noexcept {
    if (text_ != text) platform::FreeString(text_);
    text_ = text;
}

WStringView UniqueBstr::view() const noexcept {
    return text_ ? WStringView{text_, platform::StringLength(text_)} : WStringView{};
}

BSTR NewBstr(WStringView text) noexcept {
    if (text.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
    return platform::AllocString(text.data(), static_cast<uint32_t>(text.size()));
}

BSTR NewBstrFromNarrow(std::string_view text) {
    return NewBstr(ActiveCodePage().ToWide(text));
}

}  // namespace tavix
