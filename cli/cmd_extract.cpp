// tarvelo-build extract: unpacks the members of a package data file or installer below a folder,
// each at its path relative to the package's source folder. Packages come from outside, so every
// member's path is checked first and nothing is ever written outside the folder.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/package_input.h"
#include "device/install_plan.h"
#include "device/install_write.h"
#include "device/layout.h"

#include "package/package.h"
#include "platform/file.h"
#include "platform/text.h"

#include <array>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 2> kOptions{{{"-d", "--directory", true}, {"--cpu", "", true}}};

constexpr std::string_view kHelp =
    "Usage: tarvelo-build extract FILE -d DIR [--cpu arm|mips|shx|intel] [--quiet]\n\n"
    "Writes the files of a package data file or installer below DIR, each at its path relative\n"
    "to the package's source folder; subfolders are made as needed. With --cpu, DIR stands for the\n"
    "device's root and gets what the installer puts on a device with that processor: the files in\n"
    "the program's folder (\\Program Files\\NAME...) and the start menu's shortcut files. A file whose path is "
    "absolute,\n"
    "climbs out of DIR, names a device or holds a character Windows refuses, or two files that are\n"
    "one on Windows, are refused, and then nothing is extracted. Nothing is written through a link\n"
    "or junction below DIR, nor into a file another name leads to.\n\n"
    "  -d, --directory DIR   the folder to extract into (made when missing)\n"
    "  --cpu NAME            the device's tree for this processor family\n"
    "  --quiet               no summary\n";

// What is written, and where below DIR: without a processor every member at its place below the
// source folder; with one, the device's own tree as the installer lays it out.
bool Plan(const Package& package, std::uint32_t cpu, const std::string& subject, device::InstallPlan& plan) {
    std::vector<PackageEntry> entries(package.GetCount());
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        package.GetEntry(i, &entries[i]);
    }
    std::vector<std::string> problems;
    if (!device::PlanInstall(package.GetHeader(), entries, cpu == 0 ? device::kEveryMember : cpu, plan, problems)) {
        for (const std::string& problem : problems) {
            PrintError(subject, problem + "; nothing extracted");
        }
        return false;
    }
    return true;
}

// The line for the file or folder the extraction stopped at, in extract's own words.
void ReportStop(const device::InstallOutcome& outcome, const device::InstallPlan& plan, std::u16string_view dir) {
    const Error& error = outcome.error;
    if (outcome.file.empty()) {
        PrintError(platform::ToUtf8(dir), error.reason.empty() ? error.message : error.message + ": " + error.reason);
    } else if (error.code == ErrorCode::Refused || outcome.filesWritten >= plan.files.size()) {
        PrintError(platform::ToUtf8(outcome.file), error.Text());
    } else {
        PrintError(platform::ToUtf8(outcome.file), "cannot be extracted: " + error.Text());
    }
}

bool OpenForMembers(const std::u16string& path, PackageInput& input, Package& package) {
    std::string cause;
    if (!LoadInput(path, input, cause)) {
        PrintError(platform::ToUtf8(path), cause);
        return false;
    }
    if (input.kind == InputKind::Workspace) {
        PrintError(platform::ToUtf8(path), "a workspace file holds no file data; give a package data file or an "
                                           "installer");
        return false;
    }
    input.file.Close();
    bool opened = input.kind == InputKind::Installer ? package.OpenPackageAt(path.c_str(), input.start, input.length)
                                                     : package.OpenPackageFile(path.c_str());
    if (!opened) {
        PrintError(platform::ToUtf8(path), "cannot be unpacked: " + platform::ToUtf8(package.LastError()));
    }
    return opened;
}

bool ParseCpu(const Args& args, std::uint32_t& cpu) {
    cpu = args.Has("--cpu") ? device::CpuFlagByName(args.Value("--cpu")) : 0;
    return cpu != 0 || !args.Has("--cpu");
}

int RunExtract(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kExtractCommand, args.Positional().empty() ? "missing FILE" : "more than one FILE");
    }
    std::uint32_t cpu = 0;
    if (args.Value("-d").empty()) {
        return UsageError(kExtractCommand, "missing -d DIR");
    }
    if (!ParseCpu(args, cpu)) {
        return UsageError(kExtractCommand, "--cpu: unknown processor family \"" +
                                               platform::ToUtf8(args.Value("--cpu")) +
                                               "\" (one of arm, mips, shx, intel)");
    }
    const std::u16string& path = args.Positional()[0];
    const std::u16string dir = args.Value("-d");
    PackageInput input;
    Package package;
    device::InstallPlan plan;
    if (!OpenForMembers(path, input, package) || !Plan(package, cpu, platform::ToUtf8(path), plan)) {
        return kExitFailure;
    }
    // The package is read from its file while members are written: none may take its place.
    platform::FileId inputId;
    const bool identified = platform::IdentifyFile(path, inputId);
    device::InstallOutcome outcome = device::WriteInstall(package, plan, dir, nullptr, identified ? &inputId : nullptr);
    if (!outcome.Complete()) {
        ReportStop(outcome, plan, dir);
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print("extracted " + std::to_string(outcome.filesWritten) + " files to " + platform::ToUtf8(dir) + "\n");
    }
    return kExitSuccess;
}

} // namespace

const Command kExtractCommand{"extract", "unpack the files of a package or installer into a folder", kHelp, kOptions,
                              RunExtract};

} // namespace cli
