// tarvelo-build gather: a new workspace from folders and files, gathered exactly as a drop onto the
// main window gathers them.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/workspace_options.h"

#include "build/build_command.h"
#include "platform/text.h"
#include "workspace/gather.h"

#include <filesystem>
#include <vector>

namespace cli {
namespace {

std::string HelpText() {
    return "Usage: tarvelo-build gather PATH... -o WORKSPACE.orb [options]\n\n"
           "Gathers every file of the folders (at any depth) and the files given, as dropping them on\n"
           "the main window does: each file is installed for all four processor families, and the\n"
           "source folder is the last folder given (or the last file's folder). Then applies the\n"
           "options and writes the workspace file.\n\n"
           "  -o, --output WORKSPACE.orb  the workspace file to write (replaced when it exists)\n" +
           std::string(kWorkspaceOptionsHelp);
}

const std::string kHelp = HelpText();

struct Reporter : workspace::GatherSink {
    void FileAdded(std::u16string_view) override { ++added; }
    void FileRefused(std::u16string_view path) override {
        PrintError(Utf8(path), "cannot be added (it cannot be opened, is 2 GB or more, or its path is longer than "
                               "259 characters)");
        ++refused;
    }
    int added = 0;
    int refused = 0;
};

int RunGather(const Args& args) {
    if (args.Positional().empty()) {
        return UsageError(kGatherCommand, "missing PATH");
    }
    if (args.Value("-o").empty()) {
        return UsageError(kGatherCommand, "missing -o WORKSPACE.orb");
    }
    // A drop names files by full paths; so does the workspace, whatever folder it is built from.
    std::vector<std::u16string> items;
    for (const std::u16string& path : args.Positional()) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
        if (error || !std::filesystem::exists(absolute, error)) {
            PrintError(Utf8(path), "does not exist");
            return kExitFailure;
        }
        items.push_back(absolute.lexically_normal().u16string());
    }
    Package package;
    Reporter reporter;
    workspace::DropItems(package, items, reporter);
    // What the main window sets when it opens, and what a drop leaves in place.
    package.SetTargetFolder(5);
    std::u16string imageFile;
    std::u16string buildCommand = platform::ToUtf16(build::kDefaultBuildCommand);
    if (!ApplyWorkspaceOptions(args, package, imageFile, buildCommand) ||
        !SaveWorkspaceFile(package, args.Value("-o"), imageFile, buildCommand)) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(Utf8(args.Value("-o")) + ": " + std::to_string(reporter.added) + " files gathered\n");
    }
    return reporter.refused == 0 ? kExitSuccess : kExitFailure;
}

const std::vector<OptionSpec> kOptions(kWorkspaceOptions.begin(), kWorkspaceOptions.end());

} // namespace

const Command kGatherCommand{"gather", "gather folders and files into a new workspace", kHelp, kOptions, RunGather};

} // namespace cli
