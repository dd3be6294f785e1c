#include "platform/registry.h"

#include "platform/name_fold.h"

namespace tavix::platform {

namespace {

// A subkey opened by its name for the visit.
class OpenedSubkey final : public SubkeyView {
public:
    OpenedSubkey(Registry& registry, RegKey key, std::string_view name)
        : registry_(registry), key_(key), name_(name) {}

    std::string_view Name() const override { return name_; }
    long QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) override {
        return registry_.QueryValue(key_, name, type, data, size);
    }
    long OpenKey(const char* subKey, RegKey* key) override {
        return registry_.OpenKey(key_, subKey, key);
    }
    long EnumValue(uint32_t index, std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) override {
        return registry_.EnumValue(key_, index, name, type, data);
    }
    bool MayHaveSubkeys() override {
        char first[256];
        return registry_.EnumKey(key_, 0, first, sizeof first) != kRegNoMoreItems;
    }

private:
    Registry& registry_;
    RegKey key_;
    std::string_view name_;
};

}  // namespace

long SubkeyView::EnumValue(uint32_t index, std::string& name, uint32_t* type,
                           std::vector<uint8_t>* data) {
    RegKey self = 0;
    if (const long opened = OpenKey("", &self); opened != kRegOk) return opened;
    Registry& registry = UserRegistry();
    const long result = registry.EnumValue(self, index, name, type, data);
    registry.CloseKey(self);
    return result;
}

long Registry::ForEachSubkey(RegKey key, uint32_t nameSize,
                             const std::function<bool(SubkeyView&)>& visit) {
    std::string name(nameSize, '\0');
    for (uint32_t index = 0;; ++index) {
        const long enumerated = EnumKey(key, index, name.data(), nameSize);
        if (enumerated == kRegNoMoreItems) return kRegOk;
        if (enumerated != kRegOk) return enumerated;
        RegKey subkey = 0;
        if (OpenKey(key, name.c_str(), &subkey) != kRegOk) continue;
        OpenedSubkey view(*this, subkey, name.c_str());
        const bool more = visit(view);
        CloseKey(subkey);
        if (!more) return kRegOk;
    }
}

long Registry::SubkeyAtOrAfter(RegKey key, std::string_view name, std::string& found) {
    const CodePage& codePage = SystemCodePage();
    const std::string wanted = Fold(name, codePage);
    // Long enough for a name of 255 characters in any code page the registry's names come in.
    std::string child(1024, '\0');
    std::string fold, best;
    bool any = false;
    for (uint32_t index = 0;; ++index) {
        const long enumerated = EnumKey(key, index, child.data(), static_cast<uint32_t>(child.size()));
        if (enumerated == kRegNoMoreItems) break;
        if (enumerated != kRegOk) return enumerated;
        const std::string_view childName(child.c_str());
        fold.clear();
        AppendFold(childName, codePage, fold);
        if (fold < wanted || (any && fold >= best)) continue;
        found.assign(childName);
        if (fold == wanted) return kRegOk;
        best = fold;
        any = true;
    }
    return any ? kRegOk : kRegNoMoreItems;
}

}  // namespace tavix::platform
