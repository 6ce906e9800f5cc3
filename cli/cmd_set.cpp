// tarvelo-build set: changes the fields and per-file options of an existing workspace.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/package_input.h"
#include "cli/workspace_build.h"
#include "cli/workspace_options.h"

#include <vector>

namespace cli {
namespace {

const std::string kHelp = "Usage: tarvelo-build set WORKSPACE.orb [options] [--strip-data]\n\n"
                          "Changes the workspace file in place with the options below. A package data file\n"
                          "is refused, as saving it as a workspace would drop the files' data.\n\n" +
                          std::string(kWorkspaceOptionsHelp) +
                          "  --strip-data                accept a package data file and save it as a workspace\n"
                          "                              (header and table only)\n" +
                          std::string(kWorkspaceOptionsNotes);

// A package data file opens as a workspace too, but saving it again as one would drop every
// member's bytes: only when asked.
bool RefuseFileData(std::u16string_view path, bool strip) {
    PackageInput input;
    std::string cause;
    if (strip || !LoadInput(path, input, cause) || input.kind == InputKind::Workspace) {
        return true;
    }
    PrintError(Utf8(path), "is a package data file: it carries the files' data, which set would drop; give the "
                           "workspace file, or --strip-data to turn it into a workspace");
    return false;
}

int RunSet(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kSetCommand, args.Positional().empty() ? "missing WORKSPACE.orb" : "more than one workspace");
    }
    if (args.Has("-o")) {
        return UsageError(kSetCommand, "set changes the workspace in place; -o is not used");
    }
    std::string problem;
    if (!CheckWorkspaceOptions(args, problem)) {
        return UsageError(kSetCommand, problem);
    }
    const std::u16string& path = args.Positional()[0];
    Package package;
    if (!OpenWorkspace(path, package) || !RefuseFileData(path, args.Has("--strip-data"))) {
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

std::vector<OptionSpec> SetOptions() {
    std::vector<OptionSpec> options(kWorkspaceOptions.begin(), kWorkspaceOptions.end());
    options.push_back({"--strip-data", "", false});
    return options;
}

const std::vector<OptionSpec> kOptions = SetOptions();

} // namespace

const Command kSetCommand{"set", "change the fields and file options of a workspace", kHelp, kOptions, RunSet};

} // namespace cli
