// Parsing and loading the device options of cab, inf -d and installer.
#include "cli/device_options_args.h"

#include "building/build_checks.h"
#include "cli/console.h"
#include "device/cabinet_file.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "device/reg_file.h"
#include "package/installer_write.h"
#include "package/pe_resources.h"
#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace cli {
namespace {

// A whole number of at most 32 bits, decimal or hexadecimal after 0x.
bool Number(std::u16string_view text, std::uint32_t& value) {
    std::string digits = Utf8(std::u16string(text));
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty() || digits.size() > (base == 16 ? 8u : 10u) ||
        digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        return false;
    }
    std::uint64_t v = std::stoull(digits, nullptr, base);
    if (v > 0xFFFFFFFFu) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

// MAJOR.MINOR, as the CAB wizard reads VersionMin: two whole numbers.
bool Version(std::u16string_view text, std::uint32_t (&version)[2]) {
    std::size_t dot = text.find(u'.');
    if (dot == std::u16string_view::npos) {
        return Number(text, version[0]) && text.find(u'x') == std::u16string_view::npos && (version[1] = 0, true);
    }
    std::u16string_view major = text.substr(0, dot), minor = text.substr(dot + 1);
    return !major.empty() && !minor.empty() && major.find(u'x') == std::u16string_view::npos &&
           minor.find(u'x') == std::u16string_view::npos && Number(major, version[0]) && Number(minor, version[1]);
}

} // namespace

bool ReadBoundedFile(const std::u16string& path, std::size_t longest, std::vector<std::uint8_t>& bytes, Error& error) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    std::uint64_t size = 0;
    if (!file.IsOpen() || !file.Size(size)) {
        error = SystemError(file.IsOpen() ? ErrorCode::CannotRead : ErrorCode::CannotOpen, {}, "cannot be read");
        return false;
    }
    if (size > longest) {
        error = Refusal("takes " + std::to_string(size) + " bytes; at most " + std::to_string(longest) + " are read");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::uint32_t got = 0;
    if (size > 0 && (!file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) || got != size)) {
        error = SystemError(ErrorCode::CannotRead, {}, "cannot be read");
        return false;
    }
    return true;
}

bool HasDeviceOptions(const Args& args) {
    for (const OptionSpec& spec : kDeviceOptionSpecs) {
        if (args.Has(spec.name)) {
            return true;
        }
    }
    return false;
}

bool ParseDeviceOptions(const Args& args, device::DeviceOptions& options, std::string& problem) {
    device::DeviceLimits& limits = options.limits;
    if (args.Has("--codepage")) {
        std::uint32_t page = 0;
        if (!Number(args.Value("--codepage"), page) || !platform::KnownCodePage(page)) {
            problem = "--codepage \"" + Utf8(args.Value("--codepage")) +
                      "\" is not a Windows code page a device uses (874, 932, 936, 949, 950, 1250 to 1258)";
            return false;
        }
        options.codePage = page;
    }
    if (args.Has("--os-version")) {
        std::u16string text = args.Value("--os-version");
        std::size_t dash = text.find(u'-');
        if (!Version(text.substr(0, dash), limits.versionMin) ||
            (dash != std::u16string::npos && !Version(text.substr(dash + 1), limits.versionMax))) {
            problem = "--os-version \"" + Utf8(text) + "\" is not MIN or MIN-MAX, each MAJOR.MINOR (4.20-6.99)";
            return false;
        }
        if (dash != std::u16string::npos &&
            (limits.versionMax[0] < limits.versionMin[0] ||
             (limits.versionMax[0] == limits.versionMin[0] && limits.versionMax[1] < limits.versionMin[1]))) {
            problem = "--os-version \"" + Utf8(text) + "\": the maximum is below the minimum";
            return false;
        }
    }
    for (auto [option, value] : {std::pair{"--build-min", &limits.buildMin}, {"--build-max", &limits.buildMax}}) {
        if (args.Has(option) && !Number(args.Value(option), *value)) {
            problem = std::string(option) + " \"" + Utf8(args.Value(option)) +
                      "\" is not a build number (decimal, or hexadecimal with 0x)";
            return false;
        }
    }
    if (limits.buildMax != 0 && limits.buildMax < limits.buildMin) {
        problem = "--build-max is below --build-min";
        return false;
    }
    if (args.Has("--unsupported")) {
        std::u16string list = args.Value("--unsupported");
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t comma = std::min(list.find(u',', start), list.size());
            std::u16string name = list.substr(start, comma - start);
            while (!name.empty() && (name.front() == u' ' || name.front() == u'\t')) {
                name.erase(0, 1);
            }
            while (!name.empty() && (name.back() == u' ' || name.back() == u'\t')) {
                name.pop_back();
            }
            std::string text;
            if (name.empty() || !device::ToCabinetText(name, text, options.codePage)) {
                problem = "--unsupported \"" + Utf8(list) + "\" names " +
                          (name.empty() ? std::string("an empty platform")
                                        : "\"" + Utf8(name) + "\", which the device's code page (" +
                                              std::to_string(options.codePage) + ") cannot hold");
                return false;
            }
            options.unsupported.push_back(name);
            start = comma + 1;
        }
    }
    for (const char* option : {"--setup-dll", "--registry"}) {
        if (args.Has(option) && args.Value(option).empty()) {
            problem = std::string(option) + " needs a file";
            return false;
        }
    }
    return true;
}

bool LoadDeviceOptionFiles(const Args& args, device::DeviceOptions& options) {
    if (args.Has("--setup-dll")) {
        const std::u16string path = args.Value("--setup-dll");
        Error error;
        if (!ReadBoundedFile(path, device::kLongestSetupDll, options.setupDll, error)) {
            PrintError(Utf8(path), error);
            return false;
        }
        options.setupDllName = platform::FromFsPath(platform::FsPath(path).filename());
    }
    if (args.Has("--registry")) {
        const std::u16string path = args.Value("--registry");
        std::vector<std::uint8_t> bytes;
        Error error;
        if (!ReadBoundedFile(path, 16u << 20, bytes, error)) {
            PrintError(Utf8(path), error);
            return false;
        }
        std::vector<std::string> problems;
        if (!device::ReadRegFile(bytes, Utf8(platform::FromFsPath(platform::FsPath(path).filename())), options.registry,
                                 problems)) {
            for (const std::string& problem : problems) {
                PrintErrorLine(problem);
            }
            return false;
        }
    }
    return true;
}

} // namespace cli

namespace cli {

bool LoadInstallerDeviceOptions(const std::u16string& installer, device::DeviceOptions& options) {
    std::vector<pe::ResourceInfo> resources;
    Error error;
    if (!pe::ListResources(installer, resources, error)) {
        PrintError(Utf8(installer), error);
        return false;
    }
    const pe::ResourceKey type = pe::ResourceKey::Name(u"RT_RCDATA"), name = pe::ResourceKey::Name(kDeviceOptionsName);
    if (std::none_of(resources.begin(), resources.end(),
                     [&](const pe::ResourceInfo& r) { return r.type == type && r.name == name; })) {
        return true;
    }
    std::vector<std::uint8_t> bytes;
    if (!pe::ReadResource(installer, type, name, std::nullopt, bytes, error) ||
        !device::LoadOptions(bytes, options, error)) {
        PrintError(Utf8(installer), "its device options cannot be read: " + error.message);
        return false;
    }
    return true;
}

bool ReportCabinetProblems(const Package& package, std::u16string_view, const device::DeviceOptions& options,
                           std::u16string_view subject) {
    const std::vector<building::InstallProblem> problems =
        building::CabinetProblems(package.GetHeader(), package.Entries(), options);
    for (const building::InstallProblem& problem : problems) {
        PrintError(Utf8(std::u16string(subject)), "would not install (" + problem.families + "): " + problem.cause);
    }
    return problems.empty();
}

std::vector<std::string> DeviceOptionLines(const device::DeviceOptions& o) {
    std::vector<std::string> lines;
    const device::DeviceLimits& l = o.limits;
    if (l.versionMin[0] || l.versionMin[1] || l.versionMax[0] || l.versionMax[1]) {
        lines.push_back("CE versions: " + std::to_string(l.versionMin[0]) + "." + std::to_string(l.versionMin[1]) +
                        " to " +
                        (l.versionMax[0] || l.versionMax[1]
                             ? std::to_string(l.versionMax[0]) + "." + std::to_string(l.versionMax[1])
                             : std::string("any")));
    }
    if (l.buildMin || l.buildMax) {
        auto hex = [](std::uint32_t v) {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
            return std::string(text);
        };
        lines.push_back("CE builds: " + hex(l.buildMin) + " to " + (l.buildMax ? hex(l.buildMax) : std::string("any")));
    }
    if (!o.unsupported.empty()) {
        std::string list;
        for (const std::u16string& name : o.unsupported) {
            list += (list.empty() ? "" : ", ") + Utf8(name);
        }
        lines.push_back("Unsupported: " + list);
    }
    if (!o.setupDllName.empty()) {
        lines.push_back("Setup DLL: " + Utf8(o.setupDllName) + " (" + std::to_string(o.setupDll.size()) + " bytes)");
    }
    for (const device::RegistryValue& value : o.registry) {
        lines.push_back("Registry: " + device::RegistryLine(value));
    }
    return lines;
}

} // namespace cli
