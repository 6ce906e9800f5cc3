// tarvelo-build extract: unpacks the members of a package data file or installer below a folder,
// each at its path relative to the package's source folder. Packages come from outside, so every
// member's path is checked first and nothing is ever written outside the folder.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/member_paths.h"
#include "cli/package_input.h"

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
    "to the package's source folder; subfolders are made as needed. A file whose path is absolute,\n"
    "climbs out of DIR, names a device or holds a character Windows refuses, or two files that are\n"
    "one on Windows, are refused, and then nothing is extracted. Nothing is written through a link\n"
    "or junction below DIR, nor into a file another name leads to.\n\n"
    "  -d, --directory DIR   the folder to extract into (made when missing)\n"
    "  --cpu NAME            only the files installed for this processor family\n"
    "  --quiet               no summary\n";

struct Cpu {
    std::u16string_view name;
    std::uint32_t flag;
};
constexpr std::array<Cpu, 4> kCpus{
    {{u"arm", FLAG_ARM}, {u"mips", FLAG_MIPS}, {u"shx", FLAG_SHX}, {u"intel", FLAG_INTEL}}};

struct Planned {
    std::int32_t index;
    std::u16string relative;
};

// Every member's place below DIR, decided before anything is written.
bool Plan(const Package& package, std::uint32_t cpu, const std::string& subject, std::vector<Planned>& plan) {
    bool ok = true;
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        PackageEntry entry{};
        package.GetEntry(i, &entry);
        if (cpu != 0 && (entry.flags & cpu) == 0) {
            continue;
        }
        Planned p{static_cast<std::int32_t>(i), {}};
        std::string cause;
        if (!RelativeMemberPath(FieldText(package.GetHeader().sourceFolder), FieldText(entry.filename), p.relative,
                                cause)) {
            PrintError(subject, "file " + std::to_string(i) + " (" + platform::ToUtf8(FieldText(entry.filename)) +
                                    ") refused: " + cause + "; nothing extracted");
            ok = false;
        }
        plan.push_back(std::move(p));
    }
    std::vector<std::u16string> relatives;
    for (const Planned& p : plan) {
        relatives.push_back(p.relative);
    }
    std::vector<platform::NameClash> clashes = platform::NameClashes(relatives);
    if (ok && !clashes.empty()) {
        const platform::NameClash& c = clashes.front();
        PrintError(subject, "files " + std::to_string(plan[c.other].index) + " and " +
                                std::to_string(plan[c.file].index) + " (" + platform::ToUtf8(relatives[c.other]) +
                                ", " + platform::ToUtf8(relatives[c.file]) +
                                ") would be one file on Windows; nothing extracted");
        ok = false;
    }
    return ok;
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
    bool opened = input.kind == InputKind::Installer
                      ? package.OpenImage(input.resource.data(), static_cast<std::uint32_t>(input.resource.size()))
                      : package.OpenPackageFile(path.c_str());
    if (!opened) {
        PrintError(platform::ToUtf8(path), "cannot be unpacked: " + platform::ToUtf8(package.LastError()));
    }
    return opened;
}

bool ParseCpu(const Args& args, std::uint32_t& cpu) {
    cpu = 0;
    if (!args.Has("--cpu")) {
        return true;
    }
    for (const Cpu& c : kCpus) {
        if (args.Value("--cpu") == c.name) {
            cpu = c.flag;
        }
    }
    return cpu != 0;
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
        return UsageError(kExtractCommand, "--cpu takes arm, mips, shx or intel");
    }
    const std::u16string& path = args.Positional()[0];
    const std::u16string dir = args.Value("-d");
    PackageInput input;
    Package package;
    std::vector<Planned> plan;
    if (!OpenForMembers(path, input, package) || !Plan(package, cpu, platform::ToUtf8(path), plan)) {
        return kExitFailure;
    }
    std::error_code ec;
    fs::create_directories(FsPath(dir), ec);
    fs::path root = fs::canonical(FsPath(dir), ec);
    if (ec) {
        PrintError(platform::ToUtf8(dir), "cannot make the destination folder: " + ec.message());
        return kExitFailure;
    }
    platform::FolderHandle destination = platform::FolderHandle::Open(FromFsPath(root));
    platform::FileId inputId;
    bool identified = platform::IdentifyFile(path, inputId);
    for (const Planned& p : plan) {
        std::u16string target = JoinHostPath(FromFsPath(root), p.relative);
        std::vector<platform::FolderHandle> chain;
        std::u16string name;
        std::string cause;
        platform::FileId targetId;
        bool placed = PrepareTarget(destination, p.relative, chain, name, cause);
        const platform::FolderHandle& folder = chain.empty() ? destination : chain.back();
        if (placed && identified && folder.Identify(name, targetId) && targetId == inputId) {
            cause = "is the file being extracted";
        }
        platform::Replacement out(folder, name);
        if (!cause.empty() || !package.ExtractToFile(p.index, out)) {
            PrintError(platform::ToUtf8(target),
                       cause.empty() ? "cannot be extracted: " + platform::ToUtf8(package.LastError()) : cause);
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
