// Applying workspace options from the command line.
#include "cli/workspace_options.h"

#include "cli/console.h"
#include "cli/installable.h"
#include "cli/workspace_build.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/text.h"
#include "workspace/bitmap.h"
#include "workspace/gather.h"
#include "workspace/paths.h"
#include "workspace/target_folder.h"
#include "workspace/workspace_file.h"

#include <array>
#include <filesystem>
#include <optional>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 9> kOptions{{
    {"--name", "", true},
    {"--path", "", true},
    {"--target", "", true},
    {"--image", "", true},
    {"--build-command", "", true},
    {"--eula", "", true},
    {"--shortcut", "", true},
    {"--platforms", "", true},
    {"-o", "--output", true},
}};

// The main window keeps at most 254 characters of a field.
constexpr std::size_t kFieldLength = 254;

// The entry whose path relative to the source folder is `relative` (either separator).
std::optional<std::uint32_t> FindEntry(const Package& package, std::u16string_view relative) {
    std::u16string wanted = workspace::StoredPath(relative);
    std::u16string_view folder = FieldText(package.GetHeader().sourceFolder);
    PackageEntry entry;
    for (std::uint32_t i = 0; package.GetEntry(i, &entry); ++i) {
        std::u16string row = workspace::RowForEntry(entry, folder);
        if (!row.empty() && row[0] == u'\\') {
            row.erase(0, 1); // a folder stored without its trailing backslash
        }
        if (row == wanted) {
            return i;
        }
    }
    PrintError(Utf8(relative), "is not a file of this workspace");
    return std::nullopt;
}

// "FILE=VALUE" split at its last '='.
bool SplitPair(const std::u16string& text, std::u16string& file, std::u16string& value, std::string_view option) {
    std::size_t at = text.rfind(u'=');
    if (at == std::u16string::npos || at == 0) {
        PrintErrorLine("tarvelo-build: " + std::string(option) + " takes FILE=VALUE, not " + Utf8(text));
        return false;
    }
    file = text.substr(0, at);
    value = text.substr(at + 1);
    return true;
}

bool ParsePlatforms(std::u16string_view list, std::uint32_t& bits) {
    bits = 0;
    std::string text = Utf8(list);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::uint32_t flag = 0;
        for (const ProcessorFamily& family : kProcessorFamilies) {
            flag = family.option == name ? family.flag : flag;
        }
        bits |= flag;
        if (flag == 0 && !name.empty()) {
            PrintErrorLine("tarvelo-build: unknown processor family '" + name + "' (arm, mips, shx, intel)");
            return false;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
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
    if (args.Has("--target")) {
        std::string target = Utf8(args.Value("--target"));
        bool known = false;
        for (const workspace::TargetFolderChoice& choice : workspace::kTargetFolderChoices) {
            if (choice.option == target) {
                package.SetTargetFolder(choice.code);
                known = true;
            }
        }
        if (!known) {
            PrintErrorLine("tarvelo-build: unknown target '" + target + "' (personal, program-files, programs, root)");
            return false;
        }
    }
    if (args.Has("--image") && args.Value("--image").empty()) {
        imageFile.clear();
    } else if (args.Has("--image")) {
        std::u16string image = args.Value("--image");
        std::int32_t width = 0, height = 0;
        if (!workspace::ReadBitmapSize(image.c_str(), width, height)) {
            PrintError(Utf8(image), "is not a readable bitmap (.bmp) file");
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
        buildCommand = args.Value("--build-command").substr(0, kMaxTextLength);
    }
    return true;
}

bool ApplyPerFile(const Args& args, Package& package) {
    for (const std::u16string& file : args.Values("--eula")) {
        std::optional<std::uint32_t> index = FindEntry(package, file);
        PackageEntry entry;
        if (!index || !package.GetEntry(*index, &entry)) {
            return false;
        }
        // The installer shows the first member whose flags are the agreement bit alone; with a
        // processor bit as well it would be installed instead of shown.
        package.SetEntryFlags(*index, FLAG_EULA);
    }
    for (const std::u16string& pair : args.Values("--shortcut")) {
        std::u16string file, label;
        std::optional<std::uint32_t> index;
        PackageEntry entry;
        if (!SplitPair(pair, file, label, "--shortcut") || !(index = FindEntry(package, file)) ||
            !package.GetEntry(*index, &entry)) {
            return false;
        }
        // The installer refuses a shortcut name that is no plain file name, so no build could ever
        // install: it is refused here, where it is typed.
        std::u16string name = workspace::ShortcutFileName<char16_t>(label.substr(0, kFieldLength));
        std::u16string checked;
        Error error;
        if (!device::CheckShortcutName(name, checked, error)) {
            PrintErrorLine("tarvelo-build: --shortcut " + Utf8(pair) + ": " + error.message);
            return false;
        }
        package.SetEntryFlags(*index, entry.flags | FLAG_SHORTCUT);
        package.SetShortcutName(*index, name.c_str());
    }
    for (const std::u16string& pair : args.Values("--platforms")) {
        std::u16string file, list;
        std::optional<std::uint32_t> index;
        PackageEntry entry;
        std::uint32_t bits = 0;
        if (!SplitPair(pair, file, list, "--platforms") || !ParsePlatforms(list, bits) ||
            !(index = FindEntry(package, file)) || !package.GetEntry(*index, &entry)) {
            return false;
        }
        package.SetEntryFlags(*index, (entry.flags & ~FLAG_ALL_PLATFORMS) | bits);
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
    "  --platforms FILE=LIST       the processor families FILE is installed for: arm,mips,shx,intel\n"
    "FILE is a path relative to the workspace's source folder, as `info` lists it. Options may be\n"
    "given more than once.\n";

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
    if (!workspace::SaveWorkspace(package, path.c_str(), imageFile, buildCommand)) {
        PrintError(Utf8(path), "cannot be written");
        return false;
    }
    return true;
}

} // namespace cli
