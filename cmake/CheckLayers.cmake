# The layers of src/, bottom up, and the check that every include points down or sideways:
#   cmake -DSOURCE_DIR=src -DSTAMP=file -P CheckLayers.cmake
# A file of src/ belongs to the first layer whose pattern matches its path (relative to src/);
# it may include files of its own layer and of the layers listed before it, never of a layer
# listed after it. The build runs this before compiling, so a backward include fails the build
# with one line naming the file, the line and both layers.
set(TAVIX_LAYERS
  "text and platform interfaces|frame/context/wide\\.h|platform/(automation|codepage|last_error|locale|message_box|module|registry|case_table|name_fold)\\.(h|cpp)"
  "formats|resources/.*|icons/icon_reader\\.(h|cpp)|locale/locale_table\\.(h|cpp)|platform/icons\\.h"
  "context|frame/context/.*"
  "connection strings|connstring/(connection_record|wide_split)\\.(h|cpp)"
  "store|store/.*"
  "window systems|platform/(window_system|dialog_manager)\\.(h|cpp)|platform/(win32|posix|headless|gtk)/.*"
  "dialog framework|frame/window/.*|locale/help\\.(h|cpp)"
  "dialogs|dialogs/.*|icons/.*"
  "app and exports|.*exports?\\.cpp|locale/.*|frame/app/.*|platform/(win32/dll_main|posix/library_main)\\.cpp")

# Includes the order allows but the layer may not make: "layer|pattern of the included file".
# The window systems are handed the resource module and code page, and the connection-string
# parsers their defaults, by their callers: neither reads the library context or its strings.
set(TAVIX_FORBIDDEN_INCLUDES
  "window systems|frame/context/(library_context|string_table)\\.h"
  "connection strings|frame/context/(library_context|string_table)\\.h")

# Exports live beside their subsystem but belong to the top layer: they are matched first.
set(TAVIX_TOP_FIRST ".*exports?\\.cpp|dialogs/connection_dialog_export\\.cpp|platform/(win32/dll_main|posix/library_main)\\.cpp")

function(tavix_layer_of path out_index out_name)
  if(path MATCHES "^(${TAVIX_TOP_FIRST})$")
    list(LENGTH TAVIX_LAYERS count)
    math(EXPR top "${count} - 1")
    list(GET TAVIX_LAYERS ${top} entry)
    string(FIND "${entry}" "|" bar)
    string(SUBSTRING "${entry}" 0 ${bar} name)
    set(${out_index} ${top} PARENT_SCOPE)
    set(${out_name} "${name}" PARENT_SCOPE)
    return()
  endif()
  set(index 0)
  foreach(entry IN LISTS TAVIX_LAYERS)
    # The name up to the first "|", the pattern after it (REGEX REPLACE would replace every
    # match, not only the first).
    string(FIND "${entry}" "|" bar)
    string(SUBSTRING "${entry}" 0 ${bar} name)
    math(EXPR after "${bar} + 1")
    string(SUBSTRING "${entry}" ${after} -1 pattern)
    if(path MATCHES "^(${pattern})$")
      set(${out_index} ${index} PARENT_SCOPE)
      set(${out_name} "${name}" PARENT_SCOPE)
      return()
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  set(${out_index} -1 PARENT_SCOPE)
  set(${out_name} "" PARENT_SCOPE)
endfunction()

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers.cmake: SOURCE_DIR not given")
endif()
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(problems "")
foreach(file IN LISTS files)
  tavix_layer_of("${file}" layer layer_name)
  if(layer EQUAL -1)
    string(APPEND problems "src/${file}: in no layer (add it to cmake/CheckLayers.cmake)\n")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" included "${line}")
    if(NOT EXISTS "${SOURCE_DIR}/${included}")
      continue()  # not a file of src/ (the public header, a generated file)
    endif()
    tavix_layer_of("${included}" included_layer included_name)
    if(included_layer GREATER layer)
      string(APPEND problems
             "src/${file}: includes ${included}, of the layer \"${included_name}\" above its own, \"${layer_name}\"\n")
    endif()
    foreach(rule IN LISTS TAVIX_FORBIDDEN_INCLUDES)
      string(FIND "${rule}" "|" bar)
      string(SUBSTRING "${rule}" 0 ${bar} rule_layer)
      math(EXPR after "${bar} + 1")
      string(SUBSTRING "${rule}" ${after} -1 rule_pattern)
      if(layer_name STREQUAL rule_layer AND included MATCHES "^(${rule_pattern})$")
        string(APPEND problems
               "src/${file}: includes ${included}, which the layer \"${layer_name}\" may not include\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "backward includes (layers: cmake/CheckLayers.cmake, ARCHITECTURE.md):\n${problems}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
