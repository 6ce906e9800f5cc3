// libFuzzer's entry for the device cabinet reader.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FuzzCabinetReader(data, size);
}
