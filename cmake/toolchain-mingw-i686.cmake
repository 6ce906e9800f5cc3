# Cross-compiles the 32-bit Windows program with the MinGW-w64 posix-thread compilers.
# On a Windows host (an MSYS2 MINGW32 shell) the compilers on PATH are used as they are.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVELO_MINGW_TRIPLE i686-w64-mingw32)
set(TARVELO_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
