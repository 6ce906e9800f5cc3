# The same code as 64-bit Windows programs. The product is 32-bit; this build exists so that the
# Win32 code can still be tested under Wine on hosts that cannot execute 32-bit x86 code at all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVELO_MINGW_TRIPLE x86_64-w64-mingw32)
set(TARVELO_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
