// Applying workspace options from the command line.
#include "cli/workspace_options.h"

#include "cli/console.h"
#include "cli/installable.h"
#include "cli/nearest.h"
#include "cli/workspace_build.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/names.h"
#include "platform/text.h"
#include "workspace/bitmap.h"
#include "workspace/gather.h"
#include "workspace/paths.h"
#include "workspace/target_folder.h"
#include "workspace/workspace_file.h"

#include <array>
#include <filesystem>
#include <optional>
#include <vector>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 9> kOptions{{
    {"--name", "", true},
    {"--path", "", true},
    {"--target", "", true},
    {"--image", "", true},
    {"--build-command", "", true},
    {"--eula", "", true, true},
    {"--shortcut", "", true, true},
    {"--platforms", "", true, true},
    {"-o", "--output", true},
}};

// The main window keeps at most 254 characters of a field.
constexpr std::size_t kFieldLength = 254;

// A member's path below the source folder as the workspace spells it, backslashes between names.
std::u16string RowOf(const PackageEntry& entry, std::u16string_view folder) {
    std::u16string row = workspace::RowForEntry(entry, folder);
    if (!row.empty() && row[0] == u'\\') {
        row.erase(0, 1); // a folder stored without its trailing backslash
    }
    return row;
}

// The entry FILE names: its path relative to the source folder (either separator), compared as
// Windows compares names (whatever the case, trailing dots and blanks dropped), since the
// workspace's files are Windows files. A path spelt exactly as the workspace spells it wins; of
// several that differ only in case, none is guessed.
std::optional<std::uint32_t> FindEntry(const Package& package, std::u16string_view relative) {
    std::u16string wanted = workspace::StoredPath(relative);
    std::u16string key = platform::NameKey(wanted);
    std::u16string_view folder = FieldText(package.GetHeader().sourceFolder);
    std::vector<std::u16string> rows;
    std::vector<std::uint32_t> matches;
    for (const PackageEntry& entry : package.Entries()) {
        rows.push_back(RowOf(entry, folder));
        if (rows.back() == wanted) {
            return static_cast<std::uint32_t>(rows.size() - 1);
        }
        if (!key.empty() && platform::NameKey(rows.back()) == key) {
            matches.push_back(static_cast<std::uint32_t>(rows.size() - 1));
        }
    }
    if (matches.size() == 1) {
        return matches.front();
    }
    if (matches.size() > 1) {
        std::string names;
        for (std::uint32_t i : matches) {
            names += (names.empty() ? "" : ", ") + Utf8(rows[i]);
        }
        PrintError(Utf8(relative), "names more than one file of this workspace, which differ only in case (" + names +
                                       "); give one exactly as it is spelt");
        return std::nullopt;
    }
    std::optional<std::size_t> meant = Nearest(wanted, rows);
    PrintError(Utf8(relative), "is not a file of this workspace" +
                                   (meant ? "; did you mean " + Utf8(rows[*meant]) + "?" : std::string()));
    return std::nullopt;
}

// "FILE=VALUE" split at its last '='; fails with the problem.
bool SplitPair(const std::u16string& text, std::u16string& file, std::u16string& value, std::string_view option,
               std::string& problem) {
    std::size_t at = text.rfind(u'=');
    if (at == std::u16string::npos || at == 0) {
        problem = std::string(option) + " takes FILE=VALUE, not \"" + Utf8(text) + "\"";
        return false;
    }
    file = text.substr(0, at);
    value = text.substr(at + 1);
    return true;
}

// The processor families of a comma-separated list, named in any case ("ARM,Mips"); an empty
// list is no family at all. Fails with the problem for an unknown name.
bool ParsePlatforms(std::u16string_view list, std::uint32_t& bits, std::string& problem) {
    bits = 0;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = std::min(list.find(u',', start), list.size());
        std::u16string_view name = list.substr(start, end - start);
        std::uint32_t flag = device::CpuFlagByName(name);
        if (flag == 0 && !name.empty()) {
            problem = "--platforms: unknown processor family \"" + Utf8(name) + "\" (arm, mips, shx, intel)";
            return false;
        }
        bits |= flag;
        start = end + 1;
    }
    return true;
}

const TargetFolder* TargetByOption(std::u16string_view given, std::string& problem) {
    std::string target = Utf8(given);
    std::vector<std::string_view> options;
    for (const workspace::TargetFolderChoice& choice : workspace::kTargetFolderChoices) {
        if (choice.option == target) {
            return &choice;
        }
        options.push_back(choice.option);
    }
    problem = "--target: unknown target \"" + target + "\" (personal, program-files, programs, root)";
    if (std::optional<std::string> meant = NearestName(target, options)) {
        problem += "; did you mean \"" + *meant + "\"?";
    }
    return nullptr;
}

// The shortcut file name stored for a label; fails with the problem for one the installer would
// refuse, so that no build could ever install.
bool ShortcutFile(const std::u16string& pair, std::u16string& file, std::u16string& name, std::string& problem) {
    std::u16string label;
    if (!SplitPair(pair, file, label, "--shortcut", problem)) {
        return false;
    }
    name = workspace::ShortcutFileName<char16_t>(label.substr(0, kFieldLength));
    std::u16string checked;
    Error error;
    if (!device::CheckShortcutName(name, checked, error)) {
        problem = "--shortcut " + Utf8(pair) + ": " + error.message;
        return false;
    }
    return true;
}

// The path from the root, in the host's form, without the "." components a relative path brings.
// ".." is kept: below a link it leads elsewhere than where dropping the component before it would.
std::u16string AbsolutePath(const std::u16string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(platform::FsPath(path), ec);
    if (ec) {
        return {};
    }
    std::filesystem::path kept;
    for (const std::filesystem::path& part : full) {
        if (part != ".") {
            kept /= part;
        }
    }
    return platform::FromFsPath(kept);
}

bool ApplyFields(const Args& args, Package& package, std::u16string& imageFile, std::u16string& buildCommand) {
    if (args.Has("--name")) {
        package.SetProgramName(args.Value("--name").substr(0, kFieldLength).c_str());
    }
    if (args.Has("--path")) {
        std::u16string path = workspace::StoredPath(args.Value("--path").substr(0, kFieldLength));
        package.SetInstallFolder(workspace::LastPathComponent<char16_t>(path).c_str());
    }
    std::string problem;
    if (args.Has("--target")) {
        const TargetFolder* target = TargetByOption(args.Value("--target"), problem);
        if (!target) { // CheckWorkspaceOptions refuses it first
            PrintErrorLine("tarvelo-build: " + problem);
            return false;
        }
        package.SetTargetFolder(target->code);
    }
    if (args.Has("--image") && args.Value("--image").empty()) {
        imageFile.clear();
    } else if (args.Has("--image")) {
        std::u16string image = args.Value("--image");
        std::int32_t width = 0, height = 0;
        platform::ForgetSystemReason();
        if (!workspace::ReadBitmapSize(image.c_str(), width, height)) {
            PrintError(
                Utf8(image),
                Error{ErrorCode::CannotRead, {}, "is not a readable bitmap (.bmp) file", platform::SystemReason()});
            return false;
        }
        if (width != workspace::kSidebarWidth || height != workspace::kSidebarHeight) {
            PrintError(Utf8(image), "is " + std::to_string(width) + " x " + std::to_string(height) +
                                        " pixels; the sidebar picture must be 128 x 280");
            return false;
        }
        // The installer is built from wherever the workspace is, not from where set ran.
        std::u16string absolute = AbsolutePath(image);
        if (absolute.empty() || absolute.size() > kMaxTextLength) {
            PrintError(Utf8(image), "cannot be stored: its full path is longer than " + std::to_string(kMaxTextLength) +
                                        " characters");
            return false;
        }
        imageFile = absolute;
    }
    if (args.Has("--build-command")) {
        buildCommand = args.Value("--build-command");
    }
    return true;
}

// Per-file options whose values CheckWorkspaceOptions has accepted; what is left to refuse is a
// FILE that names no one file of the workspace.
bool ApplyPerFile(const Args& args, Package& package) {
    std::string unused;
    for (const std::u16string& file : args.Values("--eula")) {
        std::optional<std::uint32_t> index = FindEntry(package, file);
        if (!index) {
            return false;
        }
        // The installer shows the first member whose flags are the agreement bit alone; with a
        // processor bit as well it would be installed instead of shown.
        package.SetEntryFlags(*index, FLAG_EULA);
    }
    for (const std::u16string& pair : args.Values("--shortcut")) {
        std::u16string file, name;
        ShortcutFile(pair, file, name, unused);
        std::optional<std::uint32_t> index = FindEntry(package, file);
        if (!index) {
            return false;
        }
        package.SetEntryFlags(*index, package.Entries()[*index].flags | FLAG_SHORTCUT);
        package.SetShortcutName(*index, name.c_str());
    }
    for (const std::u16string& pair : args.Values("--platforms")) {
        std::u16string file, list;
        std::uint32_t bits = 0;
        SplitPair(pair, file, list, "--platforms", unused);
        ParsePlatforms(list, bits, unused);
        std::optional<std::uint32_t> index = FindEntry(package, file);
        if (!index) {
            return false;
        }
        package.SetEntryFlags(*index, (package.Entries()[*index].flags & ~FLAG_ALL_PLATFORMS) | bits);
    }
    return true;
}

} // namespace

const std::span<const OptionSpec> kWorkspaceOptions{kOptions};

const std::string_view kWorkspaceOptionsHelp =
    "  --name TEXT                 the program's name\n"
    "  --path TEXT                 the program's folder on the device (its last component is kept;\n"
    "                              a name the installer refuses, such as \"..\", \"C:\" or \"NUL\", is\n"
    "                              refused)\n"
    "  --target personal|program-files|programs|root\n"
    "                              the device folder the program folder lies in\n"
    "  --image BMP                 the installer's sidebar picture, 128 x 280 pixels, stored by its\n"
    "                              full path; --image \"\" removes it\n"
    "  --build-command TEXT        run after an installer is built; <filename> becomes its path\n"
    "  --eula FILE                 FILE is the licence text the installer shows (not installed)\n"
    "  --shortcut FILE=LABEL       a start-menu shortcut to FILE named LABEL(.lnk), a plain file\n"
    "                              name Windows accepts\n"
    "  --platforms FILE=LIST       the processor families FILE is installed for: arm,mips,shx,intel\n";

const std::string_view kWorkspaceOptionsNotes =
    "\nFILE is a path relative to the workspace's source folder, as `info` lists it, either slash;\n"
    "it is compared as Windows compares names, whatever the case: a path spelt exactly as the\n"
    "workspace spells it is taken first, and several files that differ only in case are refused\n"
    "with every one named. Processor names may be in any case. Options may be given more than\n"
    "once.\n"
    "A value no workspace could take (an unknown target or processor, FILE=VALUE without its\n"
    "'=', a folder or shortcut name the installer would refuse) is a usage error (exit status 2)\n"
    "and nothing is read; a FILE that names no one file of the workspace, or a picture that\n"
    "cannot be used, is a failure (exit status 1). Either way the workspace file is not written.\n";

bool CheckWorkspaceOptions(const Args& args, std::string& problem) {
    if (platform::HasControlCharacter(args.Value("--name"))) {
        problem = "--name \"" + Utf8(args.Value("--name")) +
                  "\" holds a control character (a line break, a tab), which no name may hold";
        return false;
    }
    const TargetFolder* target = nullptr;
    if (args.Has("--target") && !(target = TargetByOption(args.Value("--target"), problem))) {
        return false;
    }
    // The folder's names as the installer takes them; without --target, its length with the
    // target folder is checked once the workspace's target is known.
    std::u16string folder;
    Error error;
    std::u16string path = workspace::StoredPath(args.Value("--path").substr(0, kFieldLength));
    if (args.Has("--path") && !device::DeviceFolder(target ? target->code : kTargetRoot,
                                                    workspace::LastPathComponent<char16_t>(path), folder, error)) {
        problem = "--path " + Utf8(args.Value("--path")) + ": " + error.message;
        return false;
    }
    if (args.Value("--build-command").size() > kMaxTextLength) {
        problem = "--build-command is longer than the " + std::to_string(kMaxTextLength) +
                  " characters a workspace can store";
        return false;
    }
    std::u16string file, value;
    for (const std::u16string& pair : args.Values("--shortcut")) {
        if (!ShortcutFile(pair, file, value, problem)) {
            return false;
        }
    }
    for (const std::u16string& pair : args.Values("--platforms")) {
        std::uint32_t bits = 0;
        if (!SplitPair(pair, file, value, "--platforms", problem) || !ParsePlatforms(value, bits, problem)) {
            return false;
        }
    }
    return true;
}

bool ApplyWorkspaceOptions(const Args& args, Package& package, std::u16string& imageFile,
                           std::u16string& buildCommand) {
    if (!ApplyFields(args, package, imageFile, buildCommand) || !ApplyPerFile(args, package)) {
        return false;
    }
    // The program's folder as the installer will take it, with the target folder it lies in.
    std::u16string folder;
    Error error;
    if (args.Has("--path") && !device::DeviceFolder(package.GetHeader().targetFolder,
                                                    FieldText(package.GetHeader().installFolder), folder, error)) {
        PrintErrorLine("tarvelo-build: --path " + Utf8(args.Value("--path")) + ": " + error.message);
        return false;
    }
    return true;
}

bool SaveWorkspaceFile(Package& package, const std::u16string& path, std::u16string_view imageFile,
                       std::u16string_view buildCommand) {
    // A workspace no installer could install is refused where it is made, not by its installer.
    if (!ReportInstallProblems(package, path) ||
        !CheckOutput(path, true, {{imageFile, "the sidebar picture"}}, &package)) {
        return false;
    }
    std::string reason;
    if (!workspace::SaveWorkspace(package, path.c_str(), imageFile, buildCommand, &reason)) {
        PrintError(Utf8(path), Error{ErrorCode::CannotWrite, {}, "cannot be written", reason});
        return false;
    }
    return true;
}

} // namespace cli
