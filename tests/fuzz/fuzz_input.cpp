// Fuzz target for what tarvelo-build's reading commands are given: any bytes as a file, which may
// look like a workspace, a package or an executable carrying one. Whatever loads must describe only
// bytes that are there, and the installer's plan must judge any table it holds without fault.
#include "cli/installable.h"
#include "cli/package_input.h"
#include "platform/replacement.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::u16string ScratchFile() {
    static const std::u16string path = fuzz_support::ScratchFile(".DAT");
    return path;
}

} // namespace

int FuzzPackageInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16 * 1024 * 1024) {
        return 0;
    }
    std::u16string path = ScratchFile();
    {
        platform::Replacement out(path);
        std::uint32_t written = 0;
        Require(out.Open() && (size == 0 || out.Out().Write(data, static_cast<std::uint32_t>(size), written)) &&
                out.Commit());
    }
    cli::PackageInput input;
    std::string cause;
    if (cli::LoadInput(path, input, cause)) {
        Require(input.entries.size() == input.header.count);
        Require(input.TableEnd() <= input.length);
        std::vector<std::uint8_t> byte(1);
        for (const PackageEntry& e : input.entries) {
            std::uint64_t end = input.TableEnd() + e.offset + e.size;
            // A member's last byte reads back exactly when it lies within the package.
            if (e.size > 0) {
                Require(input.ReadAt(end - 1, byte.data(), 1) == (end <= input.length));
            }
        }
        cli::InstallProblems(input.header, input.entries);
    } else {
        Require(!cause.empty());
    }
    input.file.Close();
    platform::RemoveFile(path);
    return 0;
}
