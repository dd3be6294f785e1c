# Writes a C++ source that holds the icons of an .rc file as byte arrays, with
# tavix::resources::EmbeddedIcon (resources/icons.h) to find them by id:
#   cmake -DRC=icons.rc -DOUT=embedded_icons.cpp -P icons_embed.cmake
# Only lines of the form `ID ICON "file.ico"` are read; files are relative to the .rc file.
cmake_minimum_required(VERSION 3.25)
get_filename_component(rc_dir "${RC}" DIRECTORY)
file(STRINGS "${RC}" lines REGEX "^[ \t]*[0-9]+[ \t]+ICON[ \t]+\"[^\"]+\"")

string(REPEAT "[0-9a-f][0-9a-f]" 16 sixteen_bytes)
set(arrays "")
set(table "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[ \t]*([0-9]+)[ \t]+ICON[ \t]+\"([^\"]+)\"" _ "${line}")
  set(id "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  file(READ "${rc_dir}/${name}" hex HEX)
  if(hex STREQUAL "")
    message(FATAL_ERROR "${rc_dir}/${name} is empty")
  endif()
  # 16 bytes a line.
  string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(STRIP "${bytes}" bytes)
  string(APPEND arrays "// ${name}\nconst uint8_t kIcon${id}[] = {\n    ${bytes}\n};\n\n")
  string(APPEND table "    {${id}, kIcon${id}},\n")
endforeach()

file(CONFIGURE OUTPUT "${OUT}" @ONLY CONTENT "// Generated from @RC@ by icons_embed.cmake: do not edit.
#include \"resources/icons.h\"

namespace tavix::resources {

namespace {

@arrays@struct Icon {
    uint32_t id;
    std::span<const uint8_t> bytes;
};

const Icon kIcons[] = {
@table@};

}  // namespace

std::span<const uint8_t> EmbeddedIcon(uint32_t id) {
    for (const Icon& icon : kIcons) {
        if (icon.id == id) return icon.bytes;
    }
    return {};
}

}  // namespace tavix::resources
")
