#include "frame/library_context.h"

#include "resources/strings.h"

namespace tavix {

namespace {

thread_local const LibraryContext* t_current = nullptr;

struct LibraryState {
    StringTable ownStrings;
    LibraryContext context;

    LibraryState()
        : ownStrings(resources::LibraryStrings(), platform::SystemCodePage()) {
        context.module = platform::OwnModule();
        context.ownStrings = &ownStrings;
        context.resourceStrings = &ownStrings;
        context.codePage = &platform::SystemCodePage();
    }
};

LibraryState& State() {
    static LibraryState state;
    return state;
}

const LibraryContext& CallerContext() noexcept {
    static const LibraryContext caller{platform::ProgramModule(), nullptr, nullptr,
                                       &platform::SystemCodePage()};
    return caller;
}

}  // namespace

LibraryContext& Library() { return State().context; }

const LibraryContext& CurrentContext() noexcept {
    return t_current != nullptr ? *t_current : CallerContext();
}

ContextGuard::ContextGuard() : ContextGuard(Library()) {}

ContextGuard::ContextGuard(const LibraryContext& context) noexcept : saved_(t_current) {
    t_current = &context;
}

ContextGuard::~ContextGuard() { t_current = saved_; }

std::string_view LoadString(uint32_t id) noexcept {
    const StringTable* strings = CurrentContext().resourceStrings;
    return strings ? strings->Narrow(id) : std::string_view{};
}

WStringView LoadWideString(uint32_t id) noexcept {
    const StringTable* strings = CurrentContext().resourceStrings;
    return strings ? strings->Wide(id) : WStringView{};
}

std::string_view LoadOwnString(uint32_t id) { return State().ownStrings.Narrow(id); }

const platform::CodePage& ActiveCodePage() noexcept { return *CurrentContext().codePage; }

}  // namespace tavix
