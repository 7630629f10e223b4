# Cross build for Windows (i686) with Debian's mingw-w64 (POSIX thread model).
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

# Tests run under wine in a win32 prefix that scripts/setup.sh creates.
if(NOT DEFINED ENV{WINE_PREFIX_BASE})
  set(WINE_PREFIX_BASE "$ENV{HOME}/.cache/project-wine")
else()
  set(WINE_PREFIX_BASE "$ENV{WINE_PREFIX_BASE}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${WINE_PREFIX_BASE}/win32 WINEDEBUG=-all /usr/lib/wine/wine)
