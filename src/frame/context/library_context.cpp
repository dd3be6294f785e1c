#include "frame/context/library_context.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "resources/resource_reader.h"
#include "resources/strings.h"

namespace tavix {

namespace {

thread_local const LibraryContext* t_current = nullptr;

// The library's own strings, read from its resources on first use: start-up does not need
// them, and an export that never reads a string never pays for them. The library's own module
// stays loaded as long as the code that reads it.
class OwnStrings {
public:
    // The table, filled. Throws std::bad_alloc when it cannot be filled; a later call tries
    // again.
    const StringTable& Filled() {
        if (!filled_.load(std::memory_order_acquire)) {
            std::lock_guard guard(lock_);
            if (!filled_.load(std::memory_order_relaxed)) {
                table_ = StringTable::FromModule(platform::OwnModule(), resources::kFirstStringId,
                                                 resources::kLastStringId, platform::SystemCodePage());
                filled_.store(true, std::memory_order_release);
            }
        }
        return table_;
    }

    // The table's address, for contexts to name it before it is filled.
    const StringTable* Address() const noexcept { return &table_; }

private:
    std::atomic<bool> filled_{false};
    std::mutex lock_;
    StringTable table_;
};

struct LibraryState {
    OwnStrings ownStrings;
    std::unique_ptr<StringTable> localizedStrings;  // of a resource module not the library's
    LibraryContext context;

    LibraryState() {
        context.module = platform::OwnModule();
        context.ownStrings = ownStrings.Address();
        context.resourceStrings = ownStrings.Address();
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

// A table of a context, ready to read: the library's own strings are filled on first use. Null
// when there is none, or when the library's could not be filled (no memory): its strings then
// read as empty, as a failed resource load leaves them.
const StringTable* Readable(const StringTable* table) noexcept {
    if (table == nullptr) return nullptr;
    try {
        OwnStrings& own = State().ownStrings;
        return table == own.Address() ? &own.Filled() : table;
    } catch (...) {
        return nullptr;
    }
}

// The table a string comes from in the current context.
const StringTable* SourceTable(uint32_t id) noexcept {
    const LibraryContext& context = CurrentContext();
    if (resources::SourceOf(id) == resources::StringSource::Own && context.ownStrings != nullptr) {
        return Readable(context.ownStrings);
    }
    return Readable(context.resourceStrings);
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

std::string_view LoadOwnString(uint32_t id) { return State().ownStrings.Filled().Narrow(id); }

void SetLibraryResourceModule(platform::ModuleHandle module) {
    LibraryState& state = State();
    if (module == nullptr || module == state.context.module) {
        state.context.resourceModule = state.context.module;
        state.context.resourceStrings = state.ownStrings.Address();
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
