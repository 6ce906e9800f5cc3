// tarvelo-build gather: a new workspace from folders and files, gathered exactly as a drop onto the
// main window gathers them.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/workspace_options.h"
#include "device/member_paths.h"

#include "building/build_command.h"
#include "platform/file.h"
#include "platform/names.h"
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
           "options and writes the workspace file. Writes nothing when a file is left out, a name\n"
           "is one Windows refuses, or two files would be one file on Windows.\n\n"
           "  -o, --output WORKSPACE.orb  the workspace file to write (replaced when it exists)\n" +
           std::string(kWorkspaceOptionsHelp) + std::string(kWorkspaceOptionsNotes);
}

const std::string kHelp = HelpText();

// Every problem is one line, its path and its cause made printable: names found on disk may hold
// anything, a line break or a terminal's escape included.
struct Reporter : workspace::GatherSink {
    void FileAdded(std::u16string_view) override { ++added; }
    void Refused(std::u16string_view path, std::string_view reason) override { Report(path, reason); }
    // The installer's own rules for the path of a member, one name at a time, so that a folder
    // with a name Windows refuses is reported once and not for each of its files.
    bool NameAllowed(std::u16string_view name, std::string& cause) override {
        std::u16string checked;
        Error error;
        bool allowed = device::RelativeMemberPath(u"", name, checked, error);
        cause = error.message;
        return allowed;
    }
    void Report(std::u16string_view path, std::string_view cause) {
        PrintError(platform::Printable(Utf8(path)), platform::Printable(cause));
        ++refused;
    }
    int added = 0;
    int refused = 0;
};

// What the walk cannot see on its own: where each file lands below the source folder, which
// decides only once every item is in, and which files land on one name there.
void CheckPlaces(const Package& package, Reporter& reporter) {
    std::u16string_view source = FieldText(package.GetHeader().sourceFolder);
    std::vector<std::u16string> shown;
    std::vector<std::u16string> relatives;
    for (const PackageEntry& entry : package.Entries()) {
        std::u16string_view filename = FieldText(entry.filename);
        std::u16string relative;
        Error error;
        if (!device::RelativeMemberPath(source, filename, relative, error)) {
            reporter.Report(platform::NativePath(filename), error.message);
            continue;
        }
        shown.push_back(platform::NativePath(filename));
        relatives.push_back(std::move(relative));
    }
    for (const platform::NameClash& clash : platform::NameClashes(relatives)) {
        const std::u16string& file = shown[clash.file];
        const std::u16string& other = shown[clash.other];
        if (!clash.shortName.empty()) {
            reporter.Report(file, "may be the same file on Windows as " + Utf8(other) + " (" + Utf8(clash.shortName) +
                                      " may be the short name Windows gives " + Utf8(clash.longName) + ")");
        } else if (clash.otherIsBelow) {
            reporter.Report(file, "on Windows has the name of the folder holding " + Utf8(other));
        } else if (file == other) {
            reporter.Report(file, "is gathered twice");
        } else {
            reporter.Report(file, "is the same file on Windows as " + Utf8(other) +
                                      " (Windows ignores case and trailing dots and blanks in names)");
        }
    }
}

int RunGather(const Args& args) {
    if (args.Positional().empty()) {
        return UsageError(kGatherCommand, "missing PATH");
    }
    if (args.Value("-o").empty()) {
        return UsageError(kGatherCommand, "missing -o WORKSPACE.orb");
    }
    std::string problem;
    if (!CheckWorkspaceOptions(args, problem)) {
        return UsageError(kGatherCommand, problem);
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
    CheckPlaces(package, reporter);
    // A workspace missing some files, or holding two that install as one, would build an installer
    // that does not install what the folder holds: nothing is written.
    if (reporter.refused > 0) {
        return kExitFailure;
    }
    // What the main window sets when it opens, and what a drop leaves in place.
    package.SetTargetFolder(5);
    std::u16string imageFile;
    std::u16string buildCommand = platform::ToUtf16(building::kDefaultBuildCommand);
    if (!ApplyWorkspaceOptions(args, package, imageFile, buildCommand) ||
        !SaveWorkspaceFile(package, args.Value("-o"), imageFile, buildCommand)) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(Utf8(args.Value("-o")) + ": " + std::to_string(reporter.added) + " files gathered\n");
    }
    return kExitSuccess;
}

const std::vector<OptionSpec> kOptions(kWorkspaceOptions.begin(), kWorkspaceOptions.end());

} // namespace

const Command kGatherCommand{"gather", "gather folders and files into a new workspace", kHelp, kOptions, RunGather};

} // namespace cli
