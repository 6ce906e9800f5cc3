// What both fuzz targets need: an invariant check that names itself before aborting, and a scratch
// file of the process's own.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fuzz_support {

inline void Check(bool condition, const char* what, int line) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
        std::abort();
    }
}

// One scratch file per process, in the system's temporary folder; the name must differ between
// processes, since the fuzzer and the corpus replay of a test run may be running at once.
inline std::u16string ScratchFile(const char* extension) {
    std::string name = "tarvelo-fuzz-" + std::to_string(std::random_device{}()) + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + extension;
    return (std::filesystem::temp_directory_path() / name).u16string();
}

} // namespace fuzz_support

#define Require(condition) fuzz_support::Check((condition), #condition, __LINE__)
