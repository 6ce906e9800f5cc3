// libFuzzer's entry for what tarvelo-build's reading commands load.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FuzzPackageInput(data, size);
}
