# Cross-compiling for Windows (x86) with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under 32-bit Wine (wine32, which scripts/install-wine32.sh installs). Only its own
# loader is taken: without wine32, wine64 "runs" a 32-bit program by exiting 0 with no output.
find_program(TAVIX_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(TAVIX_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVIX_WINE32})
else()
  message(STATUS "32-bit Wine (wine32) not found: only the export table is checked")
endif()
