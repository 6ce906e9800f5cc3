// libFuzzer's entry for the PE resource reader and editor.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FuzzPeResources(data, size);
}
