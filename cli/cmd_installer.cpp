// tarvelo-build installer: a copy of the installer template carrying the workspace's package as
// its ORBDATA resource and, when the workspace names one, the sidebar bitmap as bitmap 251. The
// project's own resource editor writes it on every host, so that the same workspace gives the same
// installer on Linux and on Windows.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/installable.h"
#include "cli/installer_resources.h"
#include "cli/member_lookup.h"
#include "cli/workspace_build.h"
#include "device/member_paths.h"

#include "building/build_command.h"
#include "package/installer.h"
#include "package/installer_write.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/replacement.h"
#include "platform/text.h"
#include "workspace/bitmap.h"

#include <array>
#include <filesystem>
#include <functional>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 7> kOptions{{{"-o", "--output", true},
                                              {"--template", "", true},
                                              {"--force", "-f", false},
                                              {"--run-build-command", "", false},
                                              {"--source-folder", "", true},
                                              {"--icon", "", true},
                                              {"--version-info", "", true}}};

constexpr std::string_view kHelp =
    "Usage: tarvelo-build installer WORKSPACE.orb -o OUT.exe [--template PATH] [--force]\n"
    "                                [--run-build-command] [--source-folder DIR] [--icon FILE.ico]\n"
    "                                [--version-info KEY=VALUE]... [--quiet]\n\n"
    "Makes an installer: a copy of the installer template with the workspace's package stored as\n"
    "its ORBDATA resource and, when the workspace names a sidebar picture (a 128 x 280 bitmap),\n"
    "that picture as bitmap 251. A workspace the installer would refuse to install (see \"verify\")\n"
    "is refused before anything is written.\n\n"
    "  -o, --output OUT.exe   the installer to write\n"
    "  --template PATH        the template (default: Template.exe beside tarvelo-build)\n"
    "  -f, --force            replace an existing OUT.exe (never a folder, link, device or pipe,\n"
    "                         nor the workspace, the template, the picture, the icon or a file\n"
    "                         of the workspace)\n"
    "  --run-build-command    then run the workspace's build command, <filename> replaced by the\n"
    "                         installer's path in quotes, in the folder of tarvelo-build, and fail\n"
    "                         when it cannot be started or exits with a status other than 0\n"
    "  --source-folder DIR    read the files below DIR, each at its path relative to the\n"
    "                         workspace's source folder (for a workspace saved on another\n"
    "                         computer), and the sidebar picture too when it lies in that folder\n"
    "  --icon FILE.ico        the installer's icon: every image of FILE.ico (256 x 256 PNG images\n"
    "                         too) replaces the images of the template's first icon group\n"
    "  --version-info KEY=VALUE\n"
    "                         a string of the installer's version information, as Explorer's\n"
    "                         Properties show it; may be given again for each key. KEY is one of\n"
    "                         ProductName, ProductVersion, FileVersion, CompanyName,\n"
    "                         FileDescription, LegalCopyright, OriginalFilename. The versions are\n"
    "                         a.b.c.d (each number below 65536) and also set the fixed file and\n"
    "                         product versions. Once given, ProductName defaults to the program's\n"
    "                         name, FileDescription to \"NAME Setup\" and OriginalFilename to\n"
    "                         OUT.exe's file name; the versions and everything else stay the\n"
    "                         template's. Without it the version information is all the\n"
    "                         template's, which names Template.exe\n"
    "  --quiet                no progress bar and no summary\n";

// The GUI ignores a sidebar setting this short, as no real path is.
constexpr std::size_t kShortestSidebarPath = 5;

// The workspace's sidebar picture, checked before anything is written; empty when it names none.
bool CheckSidebar(const Package& package, std::u16string_view sourceFolder, std::u16string& sidebar) {
    std::u16string_view image = FieldText(package.GetHeader().imageFile);
    if (image.size() < kShortestSidebarPath) {
        return true;
    }
    std::u16string path(image);
    // A picture kept with the application's files travels with them; one elsewhere is taken where
    // the workspace names it.
    std::u16string relative, found;
    std::string cause;
    if (!sourceFolder.empty() &&
        device::RelativeMemberPath(FieldText(package.GetHeader().sourceFolder), image, relative, cause)) {
        if (!FindBelow(sourceFolder, relative, found, cause)) {
            PrintError(platform::ToUtf8(image), "cannot find the sidebar picture: " + cause);
            return false;
        }
        path = found;
        image = path;
    }
    std::int32_t width = 0, height = 0;
    if (!platform::File::OpenRead(path, platform::Share::Read).IsOpen()) {
        PrintError(platform::ToUtf8(image), "cannot open the sidebar picture (" + device::CannotOpenCause(path) + ")");
        return false;
    }
    if (!workspace::ReadBitmapSize(path.c_str(), width, height)) {
        PrintError(platform::ToUtf8(image), "sidebar picture is not a bitmap (.bmp) file");
        return false;
    }
    if (width != workspace::kSidebarWidth || height != workspace::kSidebarHeight) {
        PrintError(platform::ToUtf8(image), "sidebar picture is " + std::to_string(width) + " x " +
                                                std::to_string(height) + " pixels; it must be 128 x 280");
        return false;
    }
    sidebar = image;
    return true;
}

bool FindTemplate(const Args& args, std::u16string& path) {
    path = args.Value("--template");
    if (path.empty()) {
        std::u16string folder;
        if (!platform::ProgramFolder(folder)) {
            PrintError("Template.exe", "cannot find the folder of tarvelo-build; give --template PATH");
            return false;
        }
        path = folder + u"Template.exe";
    }
    std::vector<pe::ResourceInfo> resources;
    std::u16string error;
    if (!platform::File::OpenRead(path, platform::Share::Read).IsOpen()) {
        PrintError(platform::ToUtf8(path),
                   "cannot open the installer template (" + device::CannotOpenCause(path) + ")");
        return false;
    }
    // Checked before the build, so that a wrong template leaves nothing behind.
    if (!pe::ListResources(path, resources, error)) {
        PrintError(platform::ToUtf8(path), "not a usable installer template: " + platform::ToUtf8(error));
        return false;
    }
    return true;
}

// The workspace's build command, expanded as the main window expands it, run where the main window
// runs it: in the program's own folder. On POSIX hosts the line goes to a shell, so the installer's
// path is quoted for it, so that nothing in the name is taken for shell syntax.
int RunBuildCommand(const Package& package, const std::u16string& installer) {
    std::error_code ignored;
    std::u16string absolute = std::filesystem::absolute(std::filesystem::path(installer), ignored).u16string();
    std::string written = platform::ToUtf8(FieldText(package.GetHeader().buildCommand));
#ifdef _WIN32
    std::string command = building::ExpandBuildCommand(written, platform::ToUtf8(absolute));
#else
    std::string command = building::ExpandBuildCommandForShell(written, platform::ToUtf8(absolute));
#endif
    std::u16string folder;
    if (!platform::ProgramFolder(folder)) {
        PrintError("build command", "cannot find the folder of tarvelo-build to run it in");
        return kExitFailure;
    }
    int status = 0;
    if (platform::RunAndWait(platform::ToUtf16(command), folder, status) != platform::RunResult::Finished) {
        PrintError("build command", "cannot be started: " + command);
        return kExitFailure;
    }
    if (status != 0) {
        PrintError("build command", "exited with status " + std::to_string(status) + ": " + command);
        return kExitFailure;
    }
    return kExitSuccess;
}

// The installer's package comes from the workspace's members, with a progress bar; at the end
// the output is looked at once more, as it may have appeared, or changed into something else,
// during the build.
class CommandLineHost final : public PackageMembersHost {
public:
    CommandLineHost(Package& package, ProgressBar& bar, std::function<bool()> outputAllowed)
        : PackageMembersHost(package, bar.WriteCallback(package)), outputAllowed_(std::move(outputAllowed)) {}
    bool MayReplaceOutput() override { return outputAllowed_(); }

private:
    std::function<bool()> outputAllowed_;
};

// Writes the installer to `output` in one pass: the template read where it lies, every member
// read once into its place, no intermediate file.
bool Build(Package& package, const std::u16string& workspace, const std::u16string& templatePath,
           const std::u16string& sidebar, const InstallerResources& resources, const std::u16string& output, bool force,
           bool quiet) {
    auto outputAllowed = [&] {
        return CheckOutput(output, force,
                           {{workspace, "the workspace"},
                            {templatePath, "the installer template"},
                            {sidebar, "the sidebar picture"},
                            {resources.IconPath(), "the icon"}},
                           &package);
    };
    if (!outputAllowed()) {
        return false;
    }
    ProgressBar bar(!quiet && platform::StandardErrorIsTerminal());
    CommandLineHost host(package, bar, outputAllowed);
    std::u16string detail;
    InstallerParts parts{templatePath, sidebar};
    parts.edits = resources.Edits();
    InstallerOutcome outcome = WriteInstaller(parts, output, host, detail);
    bar.Finish();
    switch (outcome) {
    case InstallerOutcome::Made:
        return true;
    case InstallerOutcome::PackageFailed:
        // A member that cannot be read keeps a message; without one, the output itself failed.
        if (!package.LastError().empty()) {
            PrintError(platform::ToUtf8(workspace),
                       "cannot write the package: " + platform::ToUtf8(package.LastError()));
        } else {
            PrintError(platform::ToUtf8(output), "cannot be written (" + platform::ToUtf8(detail) + ")");
        }
        return false;
    case InstallerOutcome::NotMade:
        PrintError(platform::ToUtf8(output), "cannot make the installer: " + platform::ToUtf8(detail));
        return false;
    case InstallerOutcome::CannotCreate:
        PrintError(platform::ToUtf8(output), "cannot be written (" + platform::ToUtf8(detail) + ")");
        return false;
    case InstallerOutcome::OutputRefused:
        return false; // CheckOutput has said why
    }
    return false;
}

int RunInstaller(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kInstallerCommand,
                          args.Positional().empty() ? "missing WORKSPACE.orb" : "more than one workspace");
    }
    if (args.Value("-o").empty()) {
        return UsageError(kInstallerCommand, "missing -o OUT.exe");
    }
    pe::VersionChanges version;
    std::string problem;
    if (!ParseVersionSettings(args.Values("--version-info"), version, problem)) {
        return UsageError(kInstallerCommand, problem);
    }
    const std::u16string& workspace = args.Positional()[0];
    const std::u16string output = args.Value("-o");
    bool force = args.Has("--force");
    Package package;
    std::u16string templatePath, sidebar;
    const std::u16string sourceFolder = args.Value("--source-folder");
    if (!OpenWorkspace(workspace, package, sourceFolder) || !FindTemplate(args, templatePath) ||
        !CheckSidebar(package, sourceFolder, sidebar) || !ReportInstallProblems(package, workspace)) {
        return kExitFailure;
    }
    InstallerResources resources;
    if (!resources.Prepare(args, version, package, output) ||
        !Build(package, workspace, templatePath, sidebar, resources, output, force, args.Quiet())) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(platform::ToUtf8(output) + ": installer with " + std::to_string(package.GetCount()) + " files" +
              (sidebar.empty() ? "" : " and a sidebar picture") + "\n");
    }
    return args.Has("--run-build-command") ? RunBuildCommand(package, output) : kExitSuccess;
}

} // namespace

const Command kInstallerCommand{"installer", "make an installer from a workspace and the installer template", kHelp,
                                kOptions, RunInstaller};

} // namespace cli
