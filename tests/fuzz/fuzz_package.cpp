// Fuzz target for reading packages: whatever is accepted must be readable member by member within
// the input, whatever is refused must leave the object empty.
#include "package/package.h"
#include "platform/file.h"
#include "tests/fuzz/fuzz_targets.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

// Names the broken invariant before aborting, so a crash found by the fuzzer explains itself.
void Check(bool condition, const char* what, int line) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
        std::abort();
    }
}

#define Require(condition) Check((condition), #condition, __LINE__)

void CheckMembers(Package& package) {
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        PackageEntry entry;
        Require(package.GetEntry(i, &entry));
        std::vector<std::uint8_t> buffer(std::size_t{entry.size} + 1);
        if (entry.size > 0) {
            Require(package.ReadMember(static_cast<std::int32_t>(i), buffer.data(),
                                       static_cast<std::int32_t>(buffer.size())));
        }
    }
}

void CheckRefused(const Package& package) {
    if (package.GetHeader().count != 0) { // "no file" keeps its header; every other refusal empties
        PackageHeader zero{};
        Require(package.GetCount() == 0);
        Require(std::memcmp(&package.GetHeader(), &zero, sizeof zero) == 0);
    }
}

// One scratch file per process, in the system's temporary folder; the name must differ between
// processes, since the fuzzer and the corpus replay of a test run may be running at once.
std::u16string ScratchFile() {
    static const std::u16string path =
        (std::filesystem::temp_directory_path() /
         ("tarvelo-fuzz-" + std::to_string(std::random_device{}()) + "-" +
          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".DAT"))
            .u16string();
    return path;
}

} // namespace

int FuzzPackageReader(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024 * 1024) {
        return 0;
    }
    {
        Package package;
        if (package.OpenImage(data, static_cast<std::uint32_t>(size))) {
            CheckMembers(package);
        } else {
            CheckRefused(package);
        }
    }
    std::u16string path = ScratchFile();
    {
        platform::File out = platform::File::Create(path);
        std::uint32_t written = 0;
        Require(out.IsOpen() && (size == 0 || out.Write(data, static_cast<std::uint32_t>(size), written)));
    }
    Package kept;
    if (kept.OpenPackageFile(path.c_str())) {
        CheckMembers(kept);
        kept.Close();
    } else {
        CheckRefused(kept);
    }
    Package workspace;
    if (!workspace.Open(path.c_str(), 0)) {
        CheckRefused(workspace);
    }
    platform::RemoveFile(path);
    return 0;
}
