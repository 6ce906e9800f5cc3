// Replays the saved fuzz corpus and the sample executables through the fuzz targets, so every
// input that once found a fault keeps being checked without a fuzzer.
#include "tests/fuzz/fuzz_targets.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;

namespace {

std::size_t ReplayFolder(std::u16string_view relative, int (*target)(const std::uint8_t*, std::size_t)) {
    std::size_t count = 0;
    for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(SourceFile(relative)))) {
        if (item.is_regular_file()) {
            Bytes bytes = ReadBytes(item.path().u16string());
            SCOPED_TRACE(item.path().string());
            target(bytes.data(), bytes.size());
            ++count;
        }
    }
    return count;
}

TEST(FuzzReplay, PackageCorpus) { EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/package", FuzzPackageReader), 0u); }

TEST(FuzzReplay, PeCorpusAndSamples) {
    EXPECT_GT(ReplayFolder(u"tests/data/pe", FuzzPeResources), 0u);
    ReplayFolder(u"tests/fuzz/corpus/pe", FuzzPeResources);
}

TEST(FuzzReplay, InputCorpusAndSamples) {
    EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/input", FuzzPackageInput), 0u);
    ReplayFolder(u"tests/fuzz/corpus/package", FuzzPackageInput);
    ReplayFolder(u"tests/data/pe", FuzzPackageInput);
}

TEST(FuzzReplay, CabinetCorpus) { EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/cabinet", FuzzCabinetReader), 0u); }

TEST(FuzzReplay, RegCorpus) { EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/reg", FuzzRegFile), 0u); }

TEST(FuzzReplay, InfCorpus) {
    EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/inf", FuzzInfText), 0u);
    EXPECT_GT(ReplayFolder(u"tests/fuzz/corpus/inf", FuzzInfCompiler), 0u);
}

} // namespace
