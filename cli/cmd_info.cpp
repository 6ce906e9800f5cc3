// tarvelo-build info: the header and table of a workspace file, package data file or installer,
// or a device cabinet's manifest, for people or, with --json, for scripts.
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_options_args.h"
#include "cli/package_input.h"

#include "package/installer_write.h"
#include "package/pe_resources.h"
#include "package/pe_version.h"
#include "platform/text.h"

#include <array>
#include <cstdio>

namespace cli {
namespace {

constexpr std::array<OptionSpec, 2> kOptions{{{"--json", "", false}, {"--codepage", "", true}}};

constexpr std::string_view kHelp = "Usage: tarvelo-build info FILE [--json] [--codepage N]\n\n"
                                   "Shows the header and the table of files of a workspace file (.orb), a package\n"
                                   "data file (.DAT) or an installer (found by its ORBDATA resource), and of an\n"
                                   "installer its version information and whether it carries an Authenticode\n"
                                   "signature. Of a Windows CE cabinet (.CAB), shows its manifest: application\n"
                                   "name, provider, processor, CE versions, compression, folders, each file with\n"
                                   "its number, place on the device, size and flags, the registry values, each\n"
                                   "shortcut with its target, the setup DLL and whether it is signed.\n\n"
                                   "  --json    one JSON object instead of the readable layout\n"
                                   "  --codepage N  (a cabinet) the device's code page its names are in (default\n"
                                   "            1252; 932, 936, 949, 950, 874, 1250 to 1258)\n"
                                   "  --quiet   accepted for symmetry; info prints only its result\n";

struct FlagName {
    std::uint32_t bit;
    std::string_view name;
};
constexpr std::array<FlagName, 6> kFlagNames{{{FLAG_SHORTCUT, "shortcut"},
                                              {kProcessorFamilies[0].flag, kProcessorFamilies[0].option},
                                              {kProcessorFamilies[1].flag, kProcessorFamilies[1].option},
                                              {kProcessorFamilies[2].flag, kProcessorFamilies[2].option},
                                              {kProcessorFamilies[3].flag, kProcessorFamilies[3].option},
                                              {FLAG_EULA, "eula"}}};

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// The names of the set bits; bits without a name show as numbers, so nothing stored is hidden.
std::vector<std::string> FlagNames(std::uint32_t flags) {
    std::vector<std::string> names;
    for (const FlagName& f : kFlagNames) {
        if (flags & f.bit) {
            names.emplace_back(f.name);
            flags &= ~f.bit;
        }
    }
    for (std::uint32_t bit = 1; flags != 0; bit <<= 1) {
        if (flags & bit) {
            names.push_back(Hex(bit));
            flags &= ~bit;
        }
    }
    return names;
}

std::string_view TargetName(std::int32_t target) {
    switch (target) {
    case kTargetPrograms:
        return "programs";
    case kTargetPersonal:
        return "personal";
    case kTargetProgramFiles:
        return "program-files";
    case kTargetRoot:
        return "root";
    default:
        return "unknown";
    }
}

std::string Raw(const TextField& field) { return platform::ToUtf8(FieldText(field)); }

// A field as the readable layout shows it: one line whatever the file holds, a terminal's escape
// included (the JSON escapes its own way).
std::string Text(const TextField& field) { return platform::Printable(Raw(field)); }

// What an installer says of itself as an executable: the version information Explorer's
// Properties show, and whether it was signed after it was made.
// A damaged version resource is shown as such, with the package still shown.
struct ExecutableIdentity {
    bool isSigned = false;
    bool hasVersion = false;
    pe::VersionInfo version;
    Error problem;
    // What its cabinet carries besides the files (resource DEVOPTS); lines of text.
    std::vector<std::string> deviceOptions;
    std::string deviceOptionsProblem;
};

void ReadIdentity(const std::u16string& path, ExecutableIdentity& identity) {
    if (!pe::IsSigned(path, identity.isSigned, identity.problem) ||
        !pe::ReadVersionInfo(path, identity.version, identity.hasVersion, identity.problem)) {
        identity.hasVersion = false;
    } else {
        identity.problem = {};
    }
    std::vector<std::uint8_t> bytes;
    Error error;
    if (pe::ReadResource(path, pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(kDeviceOptionsName),
                         std::nullopt, bytes, error)) {
        device::DeviceOptions options;
        if (device::LoadOptions(bytes, options, error)) {
            identity.deviceOptions = DeviceOptionLines(options);
            if (options.codePage != 1252) {
                identity.deviceOptions.insert(identity.deviceOptions.begin(),
                                              "Code page: " + std::to_string(options.codePage));
            }
        } else {
            identity.deviceOptionsProblem = error.message;
        }
    }
}

std::string JsonIdentity(const ExecutableIdentity& id) {
    std::string out = ", \"signed\": " + std::string(id.isSigned ? "true" : "false") + ", \"version\": ";
    if (!id.hasVersion) {
        return out + (!id.problem ? "null" : "{\"problem\": " + Json(id.problem.message) + "}");
    }
    const pe::VersionInfo& v = id.version;
    out += "{\"language\": " + std::to_string(v.language) + ", \"codePage\": " + std::to_string(v.codePage);
    if (v.hasFixed) {
        out += ", \"fileVersion\": " + Json(platform::ToUtf8(pe::VersionText(v.fileVersion))) +
               ", \"productVersion\": " + Json(platform::ToUtf8(pe::VersionText(v.productVersion)));
    }
    out += ", \"strings\": {";
    for (std::size_t i = 0; i < v.strings.size(); ++i) {
        out.append(i ? ", " : "")
            .append(Json(platform::ToUtf8(v.strings[i].key)))
            .append(": ")
            .append(Json(platform::ToUtf8(v.strings[i].value)));
    }
    out += "}}, \"deviceOptions\": [";
    for (std::size_t i = 0; i < id.deviceOptions.size(); ++i) {
        out += (i ? ", " : "") + Json(id.deviceOptions[i]);
    }
    return out + "]";
}

std::string TextIdentity(const ExecutableIdentity& id) {
    std::string out = "Signed:         " + std::string(id.isSigned ? "yes (Authenticode)" : "no") + "\n";
    if (!id.deviceOptionsProblem.empty()) {
        out += "Device options: " + platform::Printable(id.deviceOptionsProblem) + "\n";
    } else if (!id.deviceOptions.empty()) {
        out += "Device options: " + std::to_string(id.deviceOptions.size()) + "\n";
        for (const std::string& line : id.deviceOptions) {
            out += "  " + platform::Printable(line) + "\n";
        }
    }
    if (!id.hasVersion) {
        return out + "Version info:   " + (!id.problem ? "none" : id.problem.message) + "\n";
    }
    const pe::VersionInfo& v = id.version;
    char translation[48];
    std::snprintf(translation, sizeof translation, "language 0x%04X, code page %u", v.language, v.codePage);
    out += "Version info:   " + std::string(translation) + "\n";
    if (v.hasFixed) {
        out += "  (fixed)          file " + platform::ToUtf8(pe::VersionText(v.fileVersion)) + ", product " +
               platform::ToUtf8(pe::VersionText(v.productVersion)) + "\n";
    }
    for (const pe::VersionString& s : v.strings) {
        std::string key = platform::Printable(platform::ToUtf8(s.key));
        key.resize(std::max<std::size_t>(key.size(), 16), ' ');
        out += "  " + key + " " + platform::Printable(platform::ToUtf8(s.value)) + "\n";
    }
    return out;
}

std::string JsonReport(const std::u16string& path, const PackageInput& in, const ExecutableIdentity* identity) {
    const PackageHeader& h = in.header;
    std::string out =
        "{\"file\": " + Json(platform::ToUtf8(path)) + ", \"kind\": " + Json(KindName(in.kind)) +
        ", \"length\": " + std::to_string(in.length) + ", \"magic\": " + std::to_string(h.magic) +
        ", \"sourceFolder\": " + Json(Raw(h.sourceFolder)) + ", \"installFolder\": " + Json(Raw(h.installFolder)) +
        ", \"programName\": " + Json(Raw(h.programName)) + ", \"imageFile\": " + Json(Raw(h.imageFile)) +
        ", \"buildCommand\": " + Json(Raw(h.buildCommand)) + ", \"targetFolder\": " + std::to_string(h.targetFolder) +
        ", \"count\": " + std::to_string(h.count) + ", \"dataOffset\": " + std::to_string(h.dataOffset) +
        ", \"totalSize\": " + std::to_string(h.totalSize) + (identity ? JsonIdentity(*identity) : "") +
        ", \"entries\": [";
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        const PackageEntry& e = in.entries[i];
        std::string names;
        for (const std::string& n : FlagNames(e.flags)) {
            names += (names.empty() ? "" : ", ") + Json(n);
        }
        out += (i ? ", " : "") + std::string("{\"index\": ") + std::to_string(i) +
               ", \"filename\": " + Json(Raw(e.filename)) + ", \"shortcutName\": " + Json(Raw(e.shortcutName)) +
               ", \"size\": " + std::to_string(e.size) + ", \"offset\": " + std::to_string(e.offset) +
               ", \"flags\": " + std::to_string(e.flags) + ", \"flagNames\": [" + names + "]}";
    }
    return out + "]}\n";
}

// Wide enough for every named flag at once.
constexpr std::size_t kFlagsWidth = 28;

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    return text;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) {
        text += (text.empty() ? "" : ",") + n;
    }
    return text.empty() ? "-" : text;
}

std::string TextReport(const std::u16string& path, const PackageInput& in, const ExecutableIdentity* identity) {
    const PackageHeader& h = in.header;
    std::string out = "File:           " + platform::ToUtf8(path) + " (" + std::string(KindName(in.kind)) + ", " +
                      std::to_string(in.length) + " bytes" +
                      (in.kind == InputKind::Installer ? " of package in resource ORBDATA" : "") + ")\n";
    out += "Program name:   " + Text(h.programName) + "\n";
    out += "Install folder: " + Text(h.installFolder) + "\n";
    out += "Target folder:  " + std::to_string(h.targetFolder) + " (" + std::string(TargetName(h.targetFolder)) + ")\n";
    out += "Source folder:  " + Text(h.sourceFolder) + "\n";
    out += "Sidebar image:  " + Text(h.imageFile) + "\n";
    out += "Build command:  " + Text(h.buildCommand) + "\n";
    out += "Magic:          " + Hex(h.magic) + "\n";
    out += "Files:          " + std::to_string(h.count) + "\n";
    out += "Data offset:    " + std::to_string(h.dataOffset) + "\n";
    out += "Total size:     " + std::to_string(h.totalSize) + "\n";
    out += (identity ? TextIdentity(*identity) : "") + "\n";
    out += Padded("#", 5) + "  " + std::string("flags").append(kFlagsWidth - 5, ' ') + Padded("size", 11) +
           Padded("offset", 12) + "  file  [shortcut]\n";
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        const PackageEntry& e = in.entries[i];
        std::string flags = Joined(FlagNames(e.flags));
        flags.resize(std::max(flags.size(), kFlagsWidth), ' ');
        out += Padded(std::to_string(i), 5) + "  " + flags + Padded(std::to_string(e.size), 11) +
               Padded(std::to_string(e.offset), 12) + "  " + Text(e.filename);
        std::string shortcut = Text(e.shortcutName);
        out += shortcut.empty() ? "\n" : "  [" + shortcut + "]\n";
    }
    return out;
}

int RunInfo(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kInfoCommand, args.Positional().empty() ? "missing FILE" : "more than one FILE");
    }
    const std::u16string& path = args.Positional()[0];
    if (LooksLikeCabinet(path)) {
        device::DeviceOptions options;
        std::string problem;
        if (!ParseDeviceOptions(args, options, problem)) {
            return UsageError(kInfoCommand, problem);
        }
        return ShowCabinet(path, args.Has("--json"), options.codePage);
    }
    PackageInput input;
    if (!LoadInputOrReport(path, input)) {
        return kExitFailure;
    }
    ExecutableIdentity identity;
    if (input.kind == InputKind::Installer) {
        ReadIdentity(path, identity);
    }
    const ExecutableIdentity* shown = input.kind == InputKind::Installer ? &identity : nullptr;
    Print(args.Has("--json") ? JsonReport(path, input, shown) : TextReport(path, input, shown));
    return kExitSuccess;
}

} // namespace

const Command kInfoCommand{"info", "show the header and files of a workspace, package, installer or cabinet", kHelp,
                           kOptions, RunInfo};

} // namespace cli
