// The library's own resources where they are compiled into the library as a .res file.
#include <map>
#include <mutex>
#include <vector>

#include "resources/icons.h"
#include "resources/resource_reader.h"

namespace tavix::resources {

const ResourceSet& EmbeddedResources() {
    // The bytes are the build's own resource compiler output: they always read.
    static const ResourceSet set = ResourceSet::FromRes(EmbeddedResourceBytes()).value_or(ResourceSet{});
    return set;
}

std::span<const uint8_t> EmbeddedIcon(uint32_t id) {
    static std::mutex lock;
    static std::map<uint32_t, std::vector<uint8_t>> files;
    if (id > 0xFFFF) return {};
    std::lock_guard guard(lock);
    auto found = files.find(id);
    if (found == files.end()) {
        found = files.emplace(id, IconFileFromResources(EmbeddedResources(), static_cast<uint16_t>(id))).first;
    }
    return found->second;
}

}  // namespace tavix::resources
