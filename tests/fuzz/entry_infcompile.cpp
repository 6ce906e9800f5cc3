// libFuzzer's entry for the CAB-wizard INF compiler.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FuzzInfCompiler(data, size);
}
