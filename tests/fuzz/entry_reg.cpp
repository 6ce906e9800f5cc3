// libFuzzer's entry for the registry editor export reader.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return FuzzRegFile(data, size); }
