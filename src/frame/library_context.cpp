#include "frame/library_context.h"

#include <memory>

#include "resources/resource_reader.h"
#include "resources/strings.h"

namespace tavix {

namespace {

thread_local const LibraryContext* t_current = nullptr;

struct LibraryState {
    StringTable ownStrings;
    std::unique_ptr<StringTable> localizedStrings;  // of a resource module not the library's
    LibraryContext context;

    LibraryState()
        : ownStrings(StringTable::FromModule(platform::OwnModule(), resources::kFirstStringId,
                                             resources::kLastStringId, platform::SystemCodePage())) {
        context.module = platform::OwnModule();
        context.ownStrings = &ownStrings;
        context.resourceStrings = &ownStrings;
        context.codePage = &platform::SystemCodePage();
        context.resourceModule = context.module;
    }
};

LibraryState& State() {
    static LibraryState state;
    return state;
}

const LibraryContext& CallerContext() noexcept {
    static const LibraryContext caller{platform::ProgramModule(), nullptr, nullptr,
                                       &platform::SystemCodePage(), platform::ProgramModule()};
    return caller;
}

// The table a string comes from in the current context.
const StringTable* SourceTable(uint32_t id) noexcept {
    const LibraryContext& context = CurrentContext();
    if (resources::SourceOf(id) == resources::StringSource::Own && context.ownStrings != nullptr) {
        return context.ownStrings;
    }
    return context.resourceStrings;
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
    const StringTable* strings = SourceTable(id);
    return strings ? strings->Narrow(id) : std::string_view{};
}

WStringView LoadWideString(uint32_t id) noexcept {
    const StringTable* strings = SourceTable(id);
    return strings ? strings->Wide(id) : WStringView{};
}

std::string_view LoadOwnString(uint32_t id) { return State().ownStrings.Narrow(id); }

void SetLibraryResourceModule(platform::ModuleHandle module) {
    LibraryState& state = State();
    if (module == nullptr || module == state.context.module) {
        state.context.resourceModule = state.context.module;
        state.context.resourceStrings = &state.ownStrings;
        state.localizedStrings.reset();
        return;
    }
    auto strings = std::make_unique<StringTable>(StringTable::FromModule(
        module, resources::kFirstStringId, resources::kLastStringId, *state.context.codePage));
    state.context.resourceModule = module;
    state.context.resourceStrings = strings.get();
    state.localizedStrings = std::move(strings);
}

std::optional<resources::DialogTemplate> LoadDialogTemplate(uint32_t id) {
    if (id > 0xFFFF) return std::nullopt;
    const auto data = platform::FindResourceData(CurrentContext().resourceModule,
                                                 resources::kRtDialog, static_cast<uint16_t>(id));
    if (!data) return std::nullopt;
    return resources::ParseDialogTemplate(*data);
}

const platform::CodePage& ActiveCodePage() noexcept { return *CurrentContext().codePage; }

}  // namespace tavix
