// Windows resources read as data: from a compiled resource file (.res, what the resource
// compiler writes) or from the resource directory of a PE file, and the formats of the
// resources the library reads itself (string tables, version information).
//
// Where there is no Windows loader, the library's own resources are a .res file compiled into
// the library, and a localized resource library (a resource-only PE DLL) is read as a file,
// never executed. Every size and offset is checked against the bytes before it is used.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavix::resources {

// Resource types as Windows numbers them.
enum ResourceType : uint16_t {
    kRtIcon = 3,
    kRtDialog = 5,
    kRtString = 6,
    kRtGroupIcon = 14,
    kRtVersion = 16,
};

// The resources of a .res file or a PE file with a numeric type and a numeric id (the only
// kind the library asks for), over bytes that the owner keeps alive.
class ResourceSet {
public:
    struct Entry {
        uint16_t type;
        uint16_t id;
        uint16_t language;
        std::span<const uint8_t> data;
    };

    // nullopt when the bytes are not a whole .res file (a record running past the end, a header
    // size that does not hold its own fields).
    static std::optional<ResourceSet> FromRes(std::span<const uint8_t> bytes);

    // nullopt when the bytes are not a PE file a loader would map: a damaged header, or section
    // data past the end of the file (a truncated file). A PE file without resources is an empty
    // set. Resources whose data lies outside the file are left out.
    static std::optional<ResourceSet> FromPe(std::span<const uint8_t> bytes);

    // The data of resource (type, id): in language when the set has it in that language,
    // otherwise in the first language it has; nullopt when there is no such resource.
    std::optional<std::span<const uint8_t>> Find(uint16_t type, uint16_t id,
                                                 std::optional<uint16_t> language = {}) const;

    const std::vector<Entry>& Entries() const noexcept { return entries_; }

private:
    std::vector<Entry> entries_;  // in stored order
};

// The RT_STRING resource that holds string id, and the string's place in it.
constexpr uint16_t StringBlockId(uint32_t id) { return static_cast<uint16_t>(id / 16 + 1); }

// The 16 strings of an RT_STRING block (UTF-16, each a length and that many characters);
// an empty string where the block has none. nullopt when a length runs past the end.
std::optional<std::array<std::u16string, 16>> ReadStringBlock(std::span<const uint8_t> block);

// The value of a string in a VS_VERSIONINFO block by its path below the root, e.g.
// {"StringFileInfo", "040904B0", "ProductVersion"}: the text up to its first zero. Keys compare
// without regard to ASCII case. nullopt when the path is not there, or when a node on the way
// says it is longer than its parent, or shorter than its own header and key.
std::optional<std::u16string> QueryVersionString(std::span<const uint8_t> info,
                                                 std::span<const std::u16string_view> path);

// The product version of version information: "\StringFileInfo\040904B0\ProductVersion".
std::optional<std::u16string> ProductVersion(std::span<const uint8_t> info);

// The library's own resources, compiled in where there are no Windows resources: the bytes of
// the .res file (empty in builds that link the resources into the module instead).
std::span<const uint8_t> EmbeddedResourceBytes() noexcept;

// The library's own resources as a set (an empty set when there are none compiled in).
const ResourceSet& EmbeddedResources();

// An icon of a resource set (RT_GROUP_ICON id with the RT_ICON images it names) as the bytes of
// an .ico file; empty when the set has no such icon.
std::vector<uint8_t> IconFileFromResources(const ResourceSet& set, uint16_t id);

}  // namespace tavix::resources
