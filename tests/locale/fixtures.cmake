# Builds the resource-only DLLs that the resource-library tests copy into directories of
# their own:
#   cmake -DOUT=dir -DRC=probe.rc "-DWINDRES=windres;args..." -DLD=ld -P fixtures.cmake
# OUT/Program.dll          product version 1.0.10.0          (string 2012 "Program")
# OUT/ProgramNoVersion.dll no version record                 (string 2012 "Program")
# OUT/Same.dll             product version 1.0.10.0          (string 2012 "DEU")
# OUT/Other.dll            product version 1.0.10.1          (string 2012 "DEU")
# OUT/NoVersion.dll        no version record                 (string 2012 "DEU")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

function(probe name text version)
  set(defines -D PROBE_TEXT=${text})
  if(version)
    list(APPEND defines -D PROBE_VERSION=${version})
  endif()
  execute_process(COMMAND ${WINDRES} ${defines} -O coff -o ${OUT}/${name}.o ${RC}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "windres ${name}: ${rc}\n${err}")
  endif()
  execute_process(COMMAND ${LD} -shared --no-insert-timestamp -e 0 -o ${OUT}/${name}.dll
                          ${OUT}/${name}.o RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ld ${name}: ${rc}\n${err}")
  endif()
  file(REMOVE ${OUT}/${name}.o)
endfunction()

probe(Program Program 1.0.10.0)
probe(ProgramNoVersion Program "")
probe(Same DEU 1.0.10.0)
probe(Other DEU 1.0.10.1)
probe(NoVersion DEU "")
