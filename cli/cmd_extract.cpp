// tarvelo-build extract: unpacks the members of a package data file or installer below a folder,
// each at its path relative to the package's source folder. Packages come from outside, so every
// member's path is checked first and nothing is ever written outside the folder.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/package_input.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "device/member_paths.h"

#include "package/package.h"
#include "platform/file.h"
#include "platform/names.h"
#include "platform/replacement.h"
#include "platform/text.h"

#include <array>
#include <system_error>

namespace cli {
namespace {

namespace fs = std::filesystem;

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
struct Placed {
    std::int32_t index = -1; // the member, or -1 for a shortcut file
    std::u16string relative;
    std::string text; // a shortcut file's content
};

bool Plan(const Package& package, std::uint32_t cpu, const std::string& subject, std::vector<Placed>& placed) {
    std::vector<PackageEntry> entries(package.GetCount());
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        package.GetEntry(i, &entries[i]);
    }
    device::InstallPlan plan;
    std::vector<std::string> problems;
    if (!device::PlanInstall(package.GetHeader(), entries, cpu == 0 ? device::kEveryMember : cpu, plan, problems)) {
        for (const std::string& problem : problems) {
            PrintError(subject, problem + "; nothing extracted");
        }
        return false;
    }
    for (const device::PlannedFile& file : plan.files) {
        placed.push_back({file.index, cpu == 0 ? file.below : file.relative, {}});
    }
    for (const device::PlannedShortcut& shortcut : plan.shortcuts) {
        if (cpu != 0) {
            placed.push_back({-1, shortcut.relative, shortcut.text});
        }
    }
    return true;
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

bool WriteShortcut(platform::Replacement& out, const std::string& text, Error& error) {
    std::uint32_t written = 0;
    if (out.Open() && out.Out().Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
        written == text.size() && out.Commit()) {
        return true;
    }
    error = Refusal("cannot be written");
    return false;
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
    std::vector<Placed> plan;
    if (!OpenForMembers(path, input, package) || !Plan(package, cpu, platform::ToUtf8(path), plan)) {
        return kExitFailure;
    }
    std::error_code ec;
    fs::create_directories(device::FsPath(dir), ec);
    fs::path root = fs::canonical(device::FsPath(dir), ec);
    if (ec) {
        PrintError(platform::ToUtf8(dir), "cannot make the destination folder: " + ec.message());
        return kExitFailure;
    }
    platform::FolderHandle destination = platform::FolderHandle::Open(device::FromFsPath(root));
    platform::FileId inputId;
    bool identified = platform::IdentifyFile(path, inputId);
    // Files of one folder follow one another in a package, so its folders are opened once.
    device::TargetFolders folders(destination);
    for (const Placed& p : plan) {
        std::u16string target = device::JoinHostPath(device::FromFsPath(root), p.relative);
        std::u16string name;
        Error error;
        platform::FileId targetId;
        platform::PathKind found = platform::PathKind::Other;
        const platform::FolderHandle* placed = folders.Prepare(p.relative, name, error, &found, &targetId);
        const platform::FolderHandle& folder = placed != nullptr ? *placed : destination;
        if (placed != nullptr && identified && found == platform::PathKind::File && targetId == inputId) {
            error = Refusal("is the file being extracted");
        }
        platform::Replacement out(folder, name);
        if (placed != nullptr) {
            out.TakeExamined(found);
        }
        if (error.message.empty() && p.index < 0) {
            if (!WriteShortcut(out, p.text, error)) {
                PrintError(platform::ToUtf8(target), error);
                return kExitFailure;
            }
            continue;
        }
        if (!error.message.empty() || !package.ExtractToFile(p.index, out)) {
            PrintError(platform::ToUtf8(target), error.message.empty()
                                                     ? "cannot be extracted: " + platform::ToUtf8(package.LastError())
                                                     : error.message);
            return kExitFailure;
        }
    }
    if (!args.Quiet()) {
        Print("extracted " + std::to_string(plan.size()) + " files to " + platform::ToUtf8(dir) + "\n");
    }
    return kExitSuccess;
}

} // namespace

const Command kExtractCommand{"extract", "unpack the files of a package or installer into a folder", kHelp, kOptions,
                              RunExtract};

} // namespace cli
