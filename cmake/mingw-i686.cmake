# Cross toolchain for the product: 32-bit Quorvel.dll built with mingw-w64 (posix thread model),
# with its tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under 32-bit Wine in a 32-bit prefix of their own inside the build tree.
set(QUORVEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEPREFIX=${QUORVEL_WINEPREFIX} WINEARCH=win32 WINEDEBUG=-all /usr/lib/wine/wine)
