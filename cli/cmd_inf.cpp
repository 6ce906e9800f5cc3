// tarvelo-build inf: the opening lines of a CAB wizard setup file for a workspace, as the main
// window composes them from its Target Folder choice.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/workspace_build.h"

#include "build/setup_inf.h"
#include "workspace/target_folder.h"

#include <span>

namespace cli {
namespace {

constexpr std::string_view kHelp = "Usage: tarvelo-build inf WORKSPACE.orb\n\n"
                                   "Prints the setup INF lines for the CAB wizard, one a line, for the workspace's\n"
                                   "target folder.\n";

int RunInf(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kInfCommand, args.Positional().empty() ? "missing WORKSPACE.orb" : "more than one workspace");
    }
    Package package;
    if (!OpenWorkspace(args.Positional()[0], package)) {
        return kExitFailure;
    }
    int choice = workspace::TargetFolderIndex(package.GetHeader().targetFolder);
    for (const std::string& line : build::SetupInfLines(choice)) {
        Print(line + "\n");
    }
    return kExitSuccess;
}

} // namespace

const Command kInfCommand{"inf", "print the CAB wizard setup lines of a workspace", kHelp, std::span<const OptionSpec>(),
                          RunInf};

} // namespace cli
