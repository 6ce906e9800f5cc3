# Shared part of the MinGW toolchain files: compilers, search roots, static runtime, Wine as the
# emulator that lets ctest run the test programs on a Linux host.
if(CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
    set(CMAKE_C_COMPILER ${TARVELO_MINGW_TRIPLE}-gcc-posix)
    set(CMAKE_CXX_COMPILER ${TARVELO_MINGW_TRIPLE}-g++-posix)
    set(CMAKE_RC_COMPILER ${TARVELO_MINGW_TRIPLE}-windres)
    set(CMAKE_FIND_ROOT_PATH /usr/${TARVELO_MINGW_TRIPLE})
    set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
    set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-exec;${TARVELO_WINE_ARCH})
endif()

# Without the static runtime an .exe needs libwinpthread-1.dll and friends beside it, and
# silently exits with 53 where they are missing.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
