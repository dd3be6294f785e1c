# Writes a C++ source that holds the bytes of a compiled resource file (.res) as an array, for
# tavix::resources::EmbeddedResourceBytes (resources/resource_reader.h):
#   cmake -DRES=TavixConnect.res -DOUT=embedded_resource_bytes.cpp -P res_embed.cmake
cmake_minimum_required(VERSION 3.25)
file(READ "${RES}" hex HEX)
if(hex STREQUAL "")
  message(FATAL_ERROR "${RES} is empty")
endif()
# 16 bytes a line.
string(REPEAT "[0-9a-f][0-9a-f]" 16 sixteen_bytes)
string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n    " hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(STRIP "${bytes}" bytes)
get_filename_component(name "${RES}" NAME)
file(CONFIGURE OUTPUT "${OUT}" @ONLY CONTENT "// Generated from @name@ by res_embed.cmake: do not edit.
#include \"resources/resource_reader.h\"

namespace tavix::resources {

namespace {

alignas(4) const uint8_t kResourceBytes[] = {
    @bytes@
};

}  // namespace

std::span<const uint8_t> EmbeddedResourceBytes() noexcept { return kResourceBytes; }

}  // namespace tavix::resources
")
