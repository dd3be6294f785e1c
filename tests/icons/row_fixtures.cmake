# Builds resource-only libraries for the icon row's tests:
#   cmake -DOUT=dir -DICON_EVEN=a.ico -DICON_ODD=b.ico -DWINDRES=... -DLD=... -P row_fixtures.cmake
#
# OUT/iconsN.dll  N icons (3 and 25): icon i is ICON_EVEN for even i, ICON_ODD for odd i
# OUT/notes.txt   a file with no icons
# Without the MinGW resource compiler and linker only notes.txt is made.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
file(WRITE "${OUT}/notes.txt" "no icons here\n")
if(NOT WINDRES OR NOT LD)
  return()
endif()
foreach(count 3 25)
  set(rc "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last})
    math(EXPR id "${i} + 1")
    math(EXPR odd "${i} % 2")
    if(odd)
      string(APPEND rc "${id} ICON \"${ICON_ODD}\"\n")
    else()
      string(APPEND rc "${id} ICON \"${ICON_EVEN}\"\n")
    endif()
  endforeach()
  file(WRITE "${OUT}/icons${count}.rc" "${rc}")
  foreach(step
      "${WINDRES};-O;coff;-o;icons${count}.o;icons${count}.rc"
      "${LD};-shared;--no-insert-timestamp;-e;0;-o;icons${count}.dll;icons${count}.o")
    execute_process(COMMAND ${step} WORKING_DIRECTORY "${OUT}" RESULT_VARIABLE result
                    ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${step}: ${result}\n${error}")
    endif()
  endforeach()
endforeach()
