// tarvelo-build cab: the Windows CE installation cabinets of a workspace, package data file or
// installer, one per processor family, that a device opens to install the application; with
// --appmgr, the desktop Application Manager's .ini that lists them.
#include "cli/app_manager_output.h"
#include "cli/cab_inf.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_input.h"
#include "cli/device_options_args.h"
#include "cli/source_prefix.h"
#include "cli/workspace_build.h"

#include "device/cabinet_file.h"
#include "device/install_plan.h"
#include "device/member_paths.h"
#include "platform/text.h"

#include <array>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 9> kOwnOptions{{{"-d", "--directory", true},
                                                 {"--cpu", "", true},
                                                 {"--provider", "", true},
                                                 {"--compress", "", false},
                                                 {"--reserve-signature", "", false},
                                                 {"--force", "-f", false},
                                                 {"--source-folder", "", true},
                                                 {"--source-prefix", "", true},
                                                 {"--appmgr", "", false}}};
constexpr auto kOptions = WithDeviceOptions(kOwnOptions);

constexpr std::string_view kHelpUsage =
    "Usage: tarvelo-build cab INPUT -d DIR [--cpu arm,mips,shx,intel] [--provider TEXT]\n"
    "                         [--compress] [--force] [--source-folder DIR]\n"
    "                         [--source-prefix WINPATH] [--reserve-signature] [--appmgr]\n"
    "                         [device options] [--quiet]\n"
    "       tarvelo-build cab FILE.inf [-d DIR] [--cpu LABEL,...] [--source-folder DIR]\n"
    "                         [--compress] [--force] [--reserve-signature] [--appmgr]\n"
    "                         [--codepage N] [--quiet]\n\n"
    "Makes the Windows CE installation cabinets (.CAB) of a workspace, package data file or\n"
    "installer: one for each processor family that has files, named \"PROGRAM.ARM.CAB\" (MIPS,\n"
    "SHX, INTEL) after the program name. Copied to the device and opened there, a cabinet\n"
    "installs the files in the program's folder below its target folder (My Documents, Program\n"
    "Files, the start menu's programs or the root), makes the start menu's shortcuts, and\n"
    "replaces files already there. The licence file is not shown (a device shows none without a\n"
    "setup DLL); it is installed only when it is flagged for the family. The cabinet declares the\n"
    "family's processor: 2577 (StrongARM, which ARM devices report) for ARM, 4000 for MIPS, and\n"
    "none for SHX and INTEL, whose devices report different processors (SH3 or SH4; 386 to 586).\n"
    "File dates are SOURCE_DATE_EPOCH when set, so that a build can be repeated byte for byte.\n\n"
    "Given an INF file of Microsoft's CAB wizard, does the wizard's work on this computer: one\n"
    "cabinet per processor label the INF defines ([CEDevice.LABEL], [DefaultInstall.LABEL],\n"
    "[SourceDisksNames.LABEL], [SourceDisksFiles.LABEL]), or those --cpu names, in any case;\n"
    "NAME.LABEL.CAB, or NAME.CAB when it defines none, NAME being the INF's own name, beside the\n"
    "INF or in DIR. Its files, folders, registry values, shortcuts, limits, setup DLL and\n"
    "self-registering DLLs go into the cabinet. Every mistake is told as FILE.inf:LINE: and then\n"
    "nothing is written; mistakes the wizard let through compile with \"FILE.inf:LINE: warning:\"\n"
    "unless they would leave something out. The decisions on each, and what is supported: the\n"
    "help's \"From a CAB-wizard INF\". Absolute Windows source folders (C:\\Build\\bin) are found\n"
    "below --source-folder DIR, their drive dropped, on a computer that is not Windows; names in\n"
    "any case. An 8-bit INF is read in --codepage (default 1252).\n\n"
    "  -d, --directory DIR   the folder to write the cabinets in (made when missing)\n"
    "  --cpu LIST            only these families (or, of an INF, these labels), named in any case;\n"
    "                        each must have files\n"
    "  --provider TEXT       the publisher the device shows (default: the program name)\n"
    "  --compress            MSZIP compression (default: none, as most device cabinets)\n"
    "  -f, --force           replace existing cabinets\n"
    "  --source-folder DIR   (a workspace) read its files below DIR, each at its path relative to\n"
    "                        the workspace's source folder (for a workspace saved on another\n"
    "                        computer); (an INF) where its absolute Windows source folders lie\n"
    "  --source-prefix WINPATH\n"
    "                        checked as dat and installer check it (an absolute Windows path),\n"
    "                        and otherwise without effect: a cabinet stores no path of this\n"
    "                        computer, only the files' places on the device, so a build script\n"
    "                        may pass the same options to every command\n"
    "  --reserve-signature   leave the 6,144-byte header reserve signtool needs to sign the\n"
    "                        cabinet (osslsigncode makes its own room: sign a cabinet made without)\n"
    "  --appmgr              also write PROGRAM.ini (of an INF: NAME.ini) beside the cabinets,\n"
    "                        listing those of this run, for the desktop's Application Manager:\n"
    "                        a desktop installer of your own starts CEAppMgr.exe with its full\n"
    "                        path, and the cabinet that fits the device is installed; keep the\n"
    "                        folder where it is, as the Application Manager installs from it\n"
    "                        again. --force replaces an existing one too\n";
constexpr std::string_view kHelpEnd =
    "  --quiet               print nothing but errors\n"
    "A value the command cannot take (an unknown family, a WINPATH that is not one) is a usage\n"
    "error, exit status 2.\n";
const std::string kHelp = std::string(kHelpUsage) + std::string(kDeviceOptionsHelp) + std::string(kHelpEnd);

int RunCab(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kCabCommand, args.Positional().empty() ? "missing INPUT" : "more than one INPUT");
    }
    if (IsInfInput(args.Positional()[0])) {
        return RunCabInf(args, kCabCommand);
    }
    if (args.Value("-d").empty()) {
        return UsageError(kCabCommand, "missing -d DIR");
    }
    std::vector<const device::CpuChoice*> families;
    std::string problem;
    std::u16string prefix;
    if (!ParseCpuList(args, families, problem) || !CheckProvider(args, problem) ||
        (args.Has("--source-prefix") && !ParseSourcePrefix(args.Value("--source-prefix"), prefix, problem))) {
        return UsageError(kCabCommand, problem);
    }
    device::DeviceOptions options;
    if (!ParseDeviceOptions(args, options, problem)) {
        return UsageError(kCabCommand, problem);
    }
    DeviceInput in;
    if (!in.Load(args.Positional()[0], args.Value("--source-folder")) || !LoadDeviceOptionFiles(args, options)) {
        return kExitFailure;
    }
    // An installer's cabinet is the one its end user makes: with the options it keeps.
    if (in.input.kind == InputKind::Installer && !HasDeviceOptions(args) &&
        !LoadInstallerDeviceOptions(in.path, options)) {
        return kExitFailure;
    }
    const std::u16string appName = in.AppName();

    // Every cabinet is planned and checked before the first is written.
    std::vector<FamilyOutput> outputs;
    if (!PlanFamilies(args, in, families, "cabinet", u".CAB", outputs)) {
        return kExitFailure;
    }
    // The installer's own cabinet is the default one: the program name as provider, stored.
    std::vector<device::FamilyCabinet> cabinets;
    for (const FamilyOutput& out : outputs) {
        Error error;
        cabinets.emplace_back();
        if (!device::PlanFamilyCabinet(out.plan, appName, args.Value("--provider"), *out.family, options, in.time,
                                       cabinets.back(), error)) {
            PrintError(Utf8(in.path), error);
            return kExitFailure;
        }
        cabinets.back().settings.compress = args.Has("--compress");
        cabinets.back().settings.reserveSignature = args.Has("--reserve-signature");
    }
    // The .ini lists the cabinets by name beside it; one it cannot list is refused now.
    AppManagerOutput ini;
    if (args.Has("--appmgr")) {
        std::vector<std::u16string> names;
        for (const FamilyOutput& out : outputs) {
            names.push_back(device::FamilyOutputName(appName, *out.family, u".CAB"));
        }
        if (!PlanAppManagerIni(args.Value("-d"), appName, appName, names, Utf8(in.path), ini)) {
            return kExitFailure;
        }
    }
    platform::Destination made;
    if (!PrepareOutputs(args, in, outputs, made) ||
        (args.Has("--appmgr") && !CheckOutput(ini.path, args.Has("--force"), {{in.path, "the input"}}, &in.package))) {
        return kExitFailure;
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const FamilyOutput& out = outputs[i];
        Error error;
        std::unique_ptr<device::MemberSource> files = in.Members();
        device::WithSetupDll members(*files, options);
        if (!device::WriteCabinetFile(cabinets[i].design, cabinets[i].settings, members, out.path, error)) {
            PrintError(Utf8(out.path), error);
            return kExitFailure;
        }
        if (!args.Quiet()) {
            Print(Utf8(out.path) + "\n");
            if (out.plan.files.size() > device::kThreeDigitFiles) {
                PrintErrorLine("note: " + Utf8(out.path) + " holds " + std::to_string(out.plan.files.size()) +
                               " files; beyond the 998th their numbers have four digits, which not every device"
                               " reads: keep a cabinet to 998 files where you can");
            }
        }
    }
    // Written last, so that it never names a cabinet that is not there.
    if (args.Has("--appmgr") && !WriteAppManagerIni(ini, args.Quiet())) {
        return kExitFailure;
    }
    made.Keep();
    return kExitSuccess;
}

} // namespace

const Command kCabCommand{"cab", "make the Windows CE cabinets (.CAB) a device installs", kHelp, kOptions, RunCab};

} // namespace cli
