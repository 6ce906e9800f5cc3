// tarvelo-build set: changes the fields and per-file options of an existing workspace.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/workspace_build.h"
#include "cli/workspace_options.h"

#include <vector>

namespace cli {
namespace {

const std::string kHelp = "Usage: tarvelo-build set WORKSPACE.orb [options]\n\n"
                          "Changes the workspace file in place with the options below.\n\n" +
                          std::string(kWorkspaceOptionsHelp);

int RunSet(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kSetCommand, args.Positional().empty() ? "missing WORKSPACE.orb" : "more than one workspace");
    }
    if (args.Has("-o")) {
        return UsageError(kSetCommand, "set changes the workspace in place; -o is not used");
    }
    const std::u16string& path = args.Positional()[0];
    Package package;
    if (!OpenWorkspace(path, package)) {
        return kExitFailure;
    }
    std::u16string imageFile(FieldText(package.GetHeader().imageFile));
    std::u16string buildCommand(FieldText(package.GetHeader().buildCommand));
    if (!ApplyWorkspaceOptions(args, package, imageFile, buildCommand) ||
        !SaveWorkspaceFile(package, path, imageFile, buildCommand)) {
        return kExitFailure;
    }
    return kExitSuccess;
}

const std::vector<OptionSpec> kOptions(kWorkspaceOptions.begin(), kWorkspaceOptions.end());

} // namespace

const Command kSetCommand{"set", "change the fields and file options of a workspace", kHelp, kOptions, RunSet};

} // namespace cli
