// tarvelo-build dat: the package data file of a workspace, the same bytes the GUI's Create Dat
// File command writes and an installer carries.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/source_prefix.h"
#include "cli/workspace_build.h"

#include "platform/text.h"

#include <array>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 3> kOptions{
    {{"-o", "--output", true}, {"--source-folder", "", true}, {"--source-prefix", "", true}}};

constexpr std::string_view kHelp =
    "Usage: tarvelo-build dat WORKSPACE.orb -o OUT.DAT [--source-folder DIR]\n"
    "                         [--source-prefix WINPATH] [--quiet]\n\n"
    "Writes the package data file of the workspace: header, table of files and every\n"
    "file's bytes. An existing OUT.DAT is replaced; an output that is a folder, a link, a\n"
    "device or a pipe, or that is the workspace or one of its files, is refused.\n\n"
    "  -o, --output OUT.DAT   the package data file to write\n"
    "  --source-folder DIR    read the files below DIR, each at its path relative to the\n"
    "                         workspace's source folder (for a workspace saved on another\n"
    "                         computer); the package still names them as the workspace does\n"
    "  --source-prefix WINPATH\n"
    "                         store the files' paths as if the workspace had been gathered\n"
    "                         below WINPATH, an absolute Windows path (C:\\Build\\App,\n"
    "                         \\\\server\\share\\App): each file at its path below the source\n"
    "                         folder, the source folder itself, and the sidebar picture's path\n"
    "                         (below WINPATH when it lies in the source folder, else its file\n"
    "                         name alone). The same tree built in any folder then gives the same\n"
    "                         bytes, and no folder of this computer is stored. The files are\n"
    "                         still read where they lie (or below --source-folder); the build\n"
    "                         command is stored as the workspace has it\n"
    "  --quiet                no progress bar and no summary\n";

int RunDat(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kDatCommand, args.Positional().empty() ? "missing WORKSPACE.orb" : "more than one workspace");
    }
    if (args.Value("-o").empty()) {
        return UsageError(kDatCommand, "missing -o OUT.DAT");
    }
    std::u16string prefix;
    std::string problem;
    if (args.Has("--source-prefix") && !ParseSourcePrefix(args.Value("--source-prefix"), prefix, problem)) {
        return UsageError(kDatCommand, problem);
    }
    const std::u16string& workspace = args.Positional()[0];
    const std::u16string output = args.Value("-o");
    Package package;
    if (!OpenWorkspace(workspace, package, args.Value("--source-folder")) ||
        (!prefix.empty() && !StoreBelowPrefix(package, prefix, workspace)) ||
        !CheckOutput(output, true, {{workspace, "the workspace"}}, &package)) {
        return kExitFailure;
    }
    // The package is written beside the output and takes its name only when complete, so that a
    // failed build leaves an older package of the same name as it was.
    if (!WritePackage(package, workspace, output, output, args.Quiet())) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(platform::ToUtf8(output) + ": package of " + std::to_string(package.GetCount()) + " files, " +
              std::to_string(package.GetHeader().dataOffset + std::uint64_t{package.GetHeader().totalSize}) +
              " bytes\n");
    }
    return kExitSuccess;
}

} // namespace

const Command kDatCommand{"dat", "write the package data file of a workspace", kHelp, kOptions, RunDat};

} // namespace cli
