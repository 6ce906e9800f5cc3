# Compiler settings every target of the project shares: warnings as errors in both builds, the
# sanitizers in the native test build, and the Windows API's Unicode flavour.

add_library(tarvelo_options INTERFACE)
target_compile_options(tarvelo_options INTERFACE -Wall -Wextra -Werror)

if(TARVELO_SANITIZE)
    target_compile_options(tarvelo_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                     -fno-omit-frame-pointer)
    target_link_options(tarvelo_options INTERFACE -fsanitize=address,undefined)
endif()

if(TARVELO_FUZZ)
    target_compile_options(tarvelo_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                     -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tarvelo_options INTERFACE -fsanitize=address,undefined)
endif()

if(WIN32)
    target_compile_definitions(tarvelo_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                         _WIN32_WINNT=0x0601)
endif()

# The package records are written to files as they lie in memory; the format is little-endian.
include(TestBigEndian)
test_big_endian(TARVELO_BIG_ENDIAN)
if(TARVELO_BIG_ENDIAN)
    message(FATAL_ERROR "The package format is written from memory and needs a little-endian target")
endif()
