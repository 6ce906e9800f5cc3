// tarvelo-build inf: setup information files for the CAB wizard of the Pocket PC SDK. With -d, a
// whole INF per processor family from the install plan, so that the wizard's cabinet installs what
// ours does; without, the opening lines the main window composes from its Target Folder choice.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_input.h"
#include "cli/device_options_args.h"
#include "cli/source_prefix.h"
#include "cli/workspace_build.h"

#include "building/setup_inf.h"
#include "device/member_paths.h"
#include "device/setup_inf.h"
#include "platform/host_paths.h"
#include "platform/replacement.h"
#include "workspace/target_folder.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 6> kOwnOptions{{{"-d", "--directory", true},
                                                 {"--cpu", "", true},
                                                 {"--provider", "", true},
                                                 {"--force", "-f", false},
                                                 {"--source-folder", "", true},
                                                 {"--source-prefix", "", true}}};
constexpr auto kOptions = WithDeviceOptions(kOwnOptions);

constexpr std::string_view kHelpUsage =
    "Usage: tarvelo-build inf INPUT -d DIR [--cpu arm,mips,shx,intel] [--provider TEXT] [--force]\n"
    "                                      [--source-folder DIR] [--source-prefix WINPATH]\n"
    "                                      [--codepage N] [--os-version MIN[-MAX]] [--build-min N]\n"
    "                                      [--build-max N] [--unsupported LIST] [--setup-dll FILE]\n"
    "                                      [--registry FILE.reg]\n"
    "       tarvelo-build inf WORKSPACE.orb\n\n"
    "With -d, writes a complete setup information file for the CAB wizard of the Pocket PC SDK\n"
    "(cabwiz) for each processor family that has files, named \"PROGRAM.ARM.inf\" (MIPS, SHX,\n"
    "INTEL): the files, their folders on the device, the start menu's shortcuts and the processor,\n"
    "as \"tarvelo-build cab\" puts them in its cabinets. INPUT is a workspace, package data file or\n"
    "installer; the wizard reads the files from the package's source folder. Without -d, prints\n"
    "the opening lines the main window composes for the workspace's target folder.\n\n"
    "With the device's options below, the INF carries them too ([CEDevice] limits and platforms,\n"
    "AddReg, CESetupDLL), in the device's code page; \"tarvelo-build cab\" of the INF makes the\n"
    "cabinets \"tarvelo-build cab\" of the input makes with the same options, byte for byte.\n\n"
    "  -d, --directory DIR   the folder to write the INF files in (made when missing)\n"
    "  --cpu LIST            only these families, named in any case; each must have files\n"
    "  --provider TEXT       the publisher the device shows (default: the program name)\n"
    "  -f, --force           replace existing INF files\n"
    "  --source-folder DIR   (a workspace) find its files below DIR, each at its path relative to\n"
    "                        the workspace's source folder; the INF still names the source folder\n"
    "                        the workspace stores, where the wizard runs\n"
    "  --source-prefix WINPATH\n"
    "                        name WINPATH, an absolute Windows path (C:\\Build\\App), as the\n"
    "                        source folder instead: where the files lie on the computer that\n"
    "                        runs the wizard\n";
constexpr std::string_view kHelpEnd =
    "  --quiet               print nothing but errors\n"
    "A value the command cannot take (an unknown family, a WINPATH that is not one) is a usage\n"
    "error, exit status 2.\n";
const std::string kHelp = std::string(kHelpUsage) + std::string(kDeviceOptionsHelp) + std::string(kHelpEnd);

int PrintOpeningLines(const Args& args) {
    if (args.Has("--cpu") || args.Has("--provider") || args.Has("--force") || args.Has("--source-folder") ||
        args.Has("--source-prefix") || HasDeviceOptions(args)) {
        return UsageError(kInfCommand, "--cpu, --provider, --force, --source-folder, --source-prefix and the "
                                       "device's options go with -d DIR");
    }
    Package package;
    if (!OpenWorkspace(args.Positional()[0], package)) {
        return kExitFailure;
    }
    int choice = workspace::TargetFolderIndex(package.GetHeader().targetFolder);
    for (const std::string& line : building::SetupInfLines(choice)) {
        Print(line + "\n");
    }
    return kExitSuccess;
}

int RunInf(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kInfCommand, args.Positional().empty() ? "missing INPUT" : "more than one INPUT");
    }
    if (!args.Has("-d")) {
        return PrintOpeningLines(args);
    }
    std::vector<const device::CpuChoice*> families;
    std::string problem;
    if (args.Value("-d").empty()) {
        return UsageError(kInfCommand, "-d needs a folder");
    }
    std::u16string prefix;
    if (!ParseCpuList(args, families, problem) || !CheckProvider(args, problem) ||
        (args.Has("--source-prefix") && !ParseSourcePrefix(args.Value("--source-prefix"), prefix, problem))) {
        return UsageError(kInfCommand, problem);
    }
    std::string text;
    if (!device::ToCabinetText(prefix, text)) {
        return UsageError(kInfCommand, "--source-prefix \"" + Utf8(prefix) +
                                           "\" has a character the CAB wizard cannot take (it reads Western Windows "
                                           "text, code page 1252)");
    }
    device::DeviceOptions options;
    if (!ParseDeviceOptions(args, options, problem)) {
        return UsageError(kInfCommand, problem);
    }
    DeviceInput in;
    if (!in.Load(args.Positional()[0], args.Value("--source-folder")) || !LoadDeviceOptionFiles(args, options)) {
        return kExitFailure;
    }
    device::InfSettings settings;
    settings.options = &options;
    settings.codePage = options.codePage;
    if (args.Has("--setup-dll")) {
        // The wizard reads the setup DLL where it lies now: its folder, whole.
        // written as Windows writes paths, so that another host finds it below --source-folder.
        std::error_code ignored;
        settings.setupDllFolder = platform::FromFsPath(
            std::filesystem::absolute(platform::FsPath(args.Value("--setup-dll")), ignored).parent_path());
        std::replace(settings.setupDllFolder.begin(), settings.setupDllFolder.end(), u'/', u'\\');
    }
    settings.appName = in.AppName();
    settings.provider = args.Has("--provider") ? args.Value("--provider") : settings.appName;
    std::u16string source(FieldText(in.input.header.sourceFolder));
    while (!source.empty() && (source.back() == u'\\' || source.back() == u'/')) {
        source.pop_back();
    }
    settings.sourceFolder = args.Has("--source-prefix") ? prefix : source;

    std::vector<FamilyOutput> outputs;
    std::vector<std::string> texts;
    if (!PlanFamilies(args, in, families, "INF", u".inf", outputs)) {
        return kExitFailure;
    }
    for (const FamilyOutput& out : outputs) {
        settings.processorType = out.family->processorType;
        Error error;
        texts.emplace_back();
        if (!device::MakeSetupInf(out.plan, settings, texts.back(), error)) {
            PrintError(Utf8(in.path), error);
            return kExitFailure;
        }
    }
    platform::Destination made;
    if (!PrepareOutputs(args, in, outputs, made)) {
        return kExitFailure;
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const FamilyOutput& out = outputs[i];
        const std::string& text = texts[i];
        if (!platform::ReplaceWith(out.path, text)) {
            PrintError(Utf8(out.path), SystemError(ErrorCode::CannotWrite, {}, "cannot be written"));
            return kExitFailure;
        }
        if (!args.Quiet()) {
            Print(Utf8(out.path) + "\n");
        }
    }
    made.Keep();
    return kExitSuccess;
}

} // namespace

const Command kInfCommand{"inf", "write the CAB wizard's setup files (.inf) of a workspace", kHelp, kOptions, RunInf};

} // namespace cli
