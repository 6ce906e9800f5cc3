// tarvelo-build installer: a copy of the installer template carrying the workspace's package as
// its ORBDATA resource and, when the workspace names one, the sidebar bitmap as bitmap 251. The
// project's own resource editor writes it on every host, so that the same workspace gives the same
// installer on Linux and on Windows.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_options_args.h"
#include "cli/installable.h"
#include "cli/installer_resources.h"
#include "cli/member_lookup.h"
#include "cli/source_prefix.h"
#include "cli/workspace_build.h"
#include "device/cabinet_file.h"
#include "device/member_paths.h"

#include "building/build_checks.h"
#include "building/build_command.h"
#include "building/installer_build.h"
#include "package/installer.h"
#include "package/installer_write.h"
#include "package/pe_resources.h"
#include "platform/host_paths.h"
#include "platform/process.h"
#include "platform/replacement.h"
#include "platform/standard_io.h"
#include "platform/text.h"
#include "workspace/bitmap.h"

#include <array>
#include <filesystem>
#include <utility>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 8> kOwnOptions{{{"-o", "--output", true},
                                                 {"--template", "", true},
                                                 {"--force", "-f", false},
                                                 {"--run-build-command", "", false},
                                                 {"--source-folder", "", true},
                                                 {"--source-prefix", "", true},
                                                 {"--icon", "", true},
                                                 {"--version-info", "", true, true}}};
constexpr auto kOptions = WithDeviceOptions(kOwnOptions);

constexpr std::string_view kHelpUsage =
    "Usage: tarvelo-build installer WORKSPACE.orb -o OUT.exe [--template PATH] [--force]\n"
    "                                [--run-build-command] [--source-folder DIR]\n"
    "                                [--source-prefix WINPATH] [--icon FILE.ico]\n"
    "                                [--version-info KEY=VALUE]... [--quiet]\n"
    "                                [--codepage N] [--os-version MIN[-MAX]] [--build-min N]\n"
    "                                [--build-max N] [--unsupported LIST] [--setup-dll FILE]\n"
    "                                [--registry FILE.reg]\n\n"
    "Makes an installer: a copy of the installer template with the workspace's package stored as\n"
    "its ORBDATA resource and, when the workspace names a sidebar picture (a 128 x 280 bitmap),\n"
    "that picture as bitmap 251. A workspace the installer would refuse to install (see \"verify\")\n"
    "is refused before anything is written.\n\n"
    "With the device's options below, the installer keeps them beside its package (resource\n"
    "DEVOPTS), and the installation file for the device its end user makes carries them: the\n"
    "cabinet \"tarvelo-build cab\" makes with the same options. A cabinet the installer could not\n"
    "make (a name the code page cannot hold) is refused before anything is written.\n\n"
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
    "                         OUT.exe's file name, and a version given alone stands for both;\n"
    "                         everything else stays the template's. Without it the version\n"
    "                         information is all the template's, which names Template.exe\n";
constexpr std::string_view kHelpEnd =
    "  --quiet                no progress bar and no summary\n";
const std::string kHelp = std::string(kHelpUsage) + std::string(kDeviceOptionsHelp) + std::string(kHelpEnd);

// The workspace's sidebar picture where this build finds it: a picture kept with the
// application's files travels with them; one elsewhere is taken where the workspace names it.
bool LocateSidebar(const Package& package, std::u16string_view sourceFolder, std::u16string& sidebar) {
    std::u16string_view image = FieldText(package.GetHeader().imageFile);
    sidebar = image;
    std::u16string relative, found;
    Error error;
    if (image.size() < building::kShortestSidebarPath || sourceFolder.empty() ||
        !device::RelativeMemberPath(FieldText(package.GetHeader().sourceFolder), image, relative, error)) {
        return true;
    }
    if (!FindBelow(sourceFolder, relative, found, error)) {
        PrintError(platform::ToUtf8(image), "cannot find the sidebar picture: " + error.message);
        return false;
    }
    sidebar = found;
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
    // Checked before the build, so that a wrong template leaves nothing behind.
    Error error = building::CheckTemplate(path);
    if (error.code == ErrorCode::Refused) {
        error.message += " Signing comes last: sign the installer after building it, with the build command (see "
                         "\"Signing the installer\" in the help)";
    }
    if (error) {
        PrintError(error.subject, error.message);
        return false;
    }
    return true;
}

// The command line's road: the installer written in one pass (the template read where it lies,
// every member read once into its place, no intermediate file), with a progress bar; the build
// command runs where the main window runs it, in the program's own folder. At the end the output
// is looked at once more, as it may have appeared, or changed into something else, meanwhile.
class CommandLineRoad final : public building::InstallerRoad {
public:
    CommandLineRoad(Package& package, const std::u16string& workspace, const std::u16string& templatePath,
                    const std::u16string& output, const Args& args, const InstallerResources& resources,
                    std::vector<std::uint8_t> deviceOptions)
        : package_(package), workspace_(workspace), templatePath_(templatePath), output_(output), args_(args),
          resources_(resources), deviceOptions_(std::move(deviceOptions)) {}

    bool GoesOnAfterFailure() const override { return false; }

    Error SidebarSize(const std::u16string& path, std::int32_t& width, std::int32_t& height) override {
        if (!platform::File::OpenRead(path, platform::Share::Read).IsOpen()) {
            return {ErrorCode::SidebarUnusable,
                    platform::ToUtf8(path),
                    "cannot open the sidebar picture (" + platform::CannotOpenCause(path) + ")",
                    {}};
        }
        // A failing disk is not a file of the wrong kind.
        platform::ForgetSystemReason();
        if (!workspace::ReadBitmapSize(path.c_str(), width, height)) {
            std::string reason = platform::SystemReason();
            return {ErrorCode::SidebarUnusable, platform::ToUtf8(path),
                    reason.empty() ? "sidebar picture is not a bitmap (.bmp) file" : "cannot read the sidebar picture",
                    reason};
        }
        return {};
    }

    bool MakeInstaller(const std::u16string& sidebar) override {
        sidebar_ = sidebar;
        if (!MayReplaceOutput()) {
            return false;
        }
        ProgressBar bar(!args_.Quiet() && platform::StandardErrorIsTerminal());
        Members members(package_, bar.WriteCallback(package_), *this);
        InstallerParts parts{templatePath_, sidebar};
        parts.edits = resources_.Edits();
        parts.deviceOptions = deviceOptions_;
        Error error = WriteInstaller(parts, output_, members);
        bar.Finish();
        if (error.code == ErrorCode::PackageFailed && !package_.LastError().empty()) {
            // A member that cannot be read keeps a message; without one, the output itself failed.
            PrintError(platform::ToUtf8(workspace_),
                       "cannot write the package: " + platform::ToUtf8(package_.LastError()));
        } else if (error.code == ErrorCode::Malformed) {
            PrintError(error.subject, "cannot make the installer: " + error.Text());
        } else if (error && error.code != ErrorCode::Refused) { // a refusal has said why
            PrintError(error.subject, "cannot be written (" + error.Text() + ")");
        }
        if (!error && !args_.Quiet()) {
            Print(platform::ToUtf8(output_) + ": installer with " + std::to_string(package_.GetCount()) + " files" +
                  (sidebar.empty() ? "" : " and a sidebar picture") + "\n");
        }
        return !error;
    }

    std::string BuildCommand() override { return platform::ToUtf8(FieldText(package_.GetHeader().buildCommand)); }

    void NothingToRun() override {
        if (!args_.Quiet()) {
            Print("build command: the workspace has none; nothing was run\n");
        }
    }

    // On POSIX hosts the line goes to a shell, so the installer's path is quoted for it, so that
    // nothing in the name is taken for shell syntax.
    std::string BuildCommandLine() override {
        std::error_code ignored;
        std::u16string absolute = std::filesystem::absolute(std::filesystem::path(output_), ignored).u16string();
        std::string written = platform::ToUtf8(FieldText(package_.GetHeader().buildCommand));
#ifdef _WIN32
        return building::ExpandBuildCommand(written, platform::ToUtf8(absolute));
#else
        return building::ExpandBuildCommandForShell(written, platform::ToUtf8(absolute));
#endif
    }

    platform::RunResult RunBuildCommand(const std::string& commandLine, int& status) override {
        std::u16string folder;
        if (!platform::ProgramFolder(folder)) {
            PrintError("build command", "cannot find the folder of tarvelo-build to run it in");
            return platform::RunResult::NotStarted;
        }
        return platform::RunAndWait(platform::ToUtf16(commandLine), folder, status);
    }

    void Report(const Error& error) override { PrintError(error.subject, error.Text()); }

private:
    // The package's bytes from the workspace's members, the output checked again before it is replaced.
    class Members final : public PackageMembersHost {
    public:
        Members(Package& package, ProgressCallback progress, CommandLineRoad& road)
            : PackageMembersHost(package, std::move(progress)), road_(road) {}
        bool MayReplaceOutput() override { return road_.MayReplaceOutput(); }

    private:
        CommandLineRoad& road_;
    };

    bool MayReplaceOutput() {
        return CheckOutput(output_, args_.Has("--force"),
                           {{workspace_, "the workspace"},
                            {templatePath_, "the installer template"},
                            {sidebar_, "the sidebar picture"},
                            {resources_.IconPath(), "the icon"}},
                           &package_);
    }

    Package& package_;
    const std::u16string& workspace_;
    const std::u16string& templatePath_;
    const std::u16string& output_;
    const Args& args_;
    const InstallerResources& resources_;
    std::vector<std::uint8_t> deviceOptions_;
    std::u16string sidebar_;
};

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
    std::u16string prefix;
    if (args.Has("--source-prefix") && !ParseSourcePrefix(args.Value("--source-prefix"), prefix, problem)) {
        return UsageError(kInstallerCommand, problem);
    }
    device::DeviceOptions deviceOptions;
    if (!ParseDeviceOptions(args, deviceOptions, problem)) {
        return UsageError(kInstallerCommand, problem);
    }
    const std::u16string& workspace = args.Positional()[0];
    const std::u16string output = args.Value("-o");
    Package package;
    std::u16string templatePath, sidebar;
    const std::u16string sourceFolder = args.Value("--source-folder");
    if (!OpenWorkspace(workspace, package, sourceFolder) || !FindTemplate(args, templatePath) ||
        !LocateSidebar(package, sourceFolder, sidebar) ||
        (!prefix.empty() && !StoreBelowPrefix(package, prefix, workspace)) ||
        !ReportInstallProblems(package, workspace) || !LoadDeviceOptionFiles(args, deviceOptions) ||
        !ReportCabinetProblems(package, device::OutputAppName(package.GetHeader(), output), deviceOptions,
                               workspace)) {
        return kExitFailure;
    }
    InstallerResources resources;
    if (!resources.Prepare(args, version, package, output)) {
        return kExitFailure;
    }
    CommandLineRoad road(package, workspace, templatePath, output, args, resources,
                         deviceOptions.Empty() ? std::vector<std::uint8_t>{} : device::StoreOptions(deviceOptions));
    bool built = building::BuildInstaller({sidebar, args.Has("--run-build-command")}, road);
    return built ? kExitSuccess : kExitFailure;
}
} // namespace

const Command kInstallerCommand{"installer", "make an installer from a workspace and the installer template", kHelp,
                                kOptions, RunInstaller};

} // namespace cli
