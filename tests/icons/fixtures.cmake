# Builds the files that the icon tests read, with the tools that are there:
#   cmake -DOUT=dir -DPYTHON=... -DLIBRARY_ICONS=dir
#         [-DWINDRES64=... -DLD64=...] [-DWINDRES32=... -DLD32=...] -P fixtures.cmake
#
# OUT/            .ico files with known images and the .raw images they decode to
#                 (make_test_icons.py)
# OUT/icons64.dll a resource-only PE32+ DLL and OUT/icons32.exe a resource-only PE32 program,
#                 linked by the MinGW tools from test.rc
# A tool that is missing leaves its files out; the tests that need them are skipped.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${OUT}" RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}\n${out}${err}")
  endif()
endfunction()

run("${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/make_test_icons.py" "${OUT}" "${LIBRARY_ICONS}")

if(WINDRES64 AND LD64)
  run("${WINDRES64}" -O coff -o icons64.o test.rc)
  run("${LD64}" -shared --no-insert-timestamp -e 0 -o icons64.dll icons64.o)
endif()
if(WINDRES32 AND LD32)
  run("${WINDRES32}" -O coff -o icons32.o test.rc)
  run("${LD32}" --no-insert-timestamp -e 0 --subsystem windows -o icons32.exe icons32.o)
endif()
