# Cross build for Windows (x86_64) with Debian's mingw-w64 (POSIX thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under wine in a win64 prefix that scripts/setup.sh creates.
if(NOT DEFINED ENV{WINE_PREFIX_BASE})
  set(WINE_PREFIX_BASE "$ENV{HOME}/.cache/project-wine")
else()
  set(WINE_PREFIX_BASE "$ENV{WINE_PREFIX_BASE}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${WINE_PREFIX_BASE}/win64 WINEDEBUG=-all /usr/lib/wine/wine64)
