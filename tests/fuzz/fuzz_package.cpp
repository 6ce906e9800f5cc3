// Fuzz target for reading packages: whatever is accepted must be readable member by member within
// the input, whatever is refused must leave the object empty.
#include "package/package.h"
#include "platform/file.h"
#include "platform/replacement.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

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

std::u16string ScratchFile() {
    static const std::u16string path = fuzz_support::ScratchFile(".DAT");
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
        platform::Replacement out(path);
        std::uint32_t written = 0;
        Require(out.Open() && (size == 0 || out.Out().Write(data, static_cast<std::uint32_t>(size), written)) &&
                out.Commit());
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
