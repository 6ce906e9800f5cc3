// tarvelo-build verify of a device cabinet: that every file reads whole with good checksums and,
// with the sources and the workspace it was made from, that it installs exactly what the install
// plan of its processor family installs.
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/cab_inf.h"
#include "cli/console.h"
#include "cli/device_options_args.h"
#include "cli/device_input.h"
#include "cli/member_lookup.h"
#include "cli/package_input.h"

#include "device/cabinet.h"
#include "device/cabinet_manifest.h"
#include "device/inf_text.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "platform/host_paths.h"
#include "platform/names.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

namespace cli {
namespace {

std::string U8(std::u16string_view text) { return platform::ToUtf8(text); }

std::string Upper(std::u16string_view text) {
    std::string out = U8(text);
    for (char& c : out) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

// The processor family the cabinet is checked for: the one named; else the one whose processor
// the cabinet declares, when only one declares it (SHX and INTEL both declare "any"); else the
// one the cabinet's name carries, as cab names them ("MyApp.SHX.CAB"). Null, with the problem,
// when none can be told.
const device::CpuChoice* FamilyOf(const Args& args, const device::Cabinet& cabinet, std::u16string_view path,
                                  std::string& problem) {
    if (args.Has("--cpu")) {
        const device::CpuChoice* named = device::CpuChoiceOf(device::CpuFlagByName(args.Value("--cpu")));
        if (!named) {
            problem =
                "--cpu: unknown processor family \"" + U8(args.Value("--cpu")) + "\" (one of arm, mips, shx, intel)";
        }
        return named;
    }
    const device::CpuChoice* found = nullptr;
    int declaring = 0;
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        if (choice.processorType == cabinet.processorType) {
            found = &choice;
            ++declaring;
        }
    }
    if (declaring == 1) {
        return found;
    }
    std::string name = Upper(path.substr(path.find_last_of(u"/\\") + 1));
    found = nullptr;
    int named = 0;
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        // Built by appending: GCC 12 at -O3 takes "." + a temporary for an overlapping copy
        // (-Wrestrict), which fails the optimised build.
        std::string marker(1, '.');
        marker += U8(choice.name);
        marker += '.';
        if (name.find(marker) != std::string::npos) {
            found = &choice;
            ++named;
        }
    }
    if (named == 1) {
        return found;
    }
    problem = "cannot tell the cabinet's processor family (it declares processor " +
              std::to_string(cabinet.processorType) + " and its name carries no one family); name it with --cpu";
    return nullptr;
}

// A cabinet file's bytes as they arrive, compared with its source a block at a time: a member may
// be 2 GiB, and neither it nor its source is held whole.
class SourceComparison {
public:
    // Opens the source; false, with the problem, when it cannot be compared at all.
    bool Open(const std::u16string& path, std::uint32_t cabinetSize, std::string& problem) {
        file_ = platform::File::OpenRead(path, platform::Share::Read);
        std::uint64_t size = 0;
        if (!file_.IsOpen() || !file_.Size(size)) {
            problem = "its source " + U8(path) + " " + platform::CannotOpenCause(path);
            return false;
        }
        if (size != cabinetSize) {
            problem = "the cabinet holds " + std::to_string(cabinetSize) + " bytes, its source " + U8(path) + " has " +
                      std::to_string(size);
            return false;
        }
        path_ = path;
        return true;
    }
    void Take(const std::uint8_t* bytes, std::size_t n) {
        if (!problem_.empty()) {
            return;
        }
        buffer_.resize(n);
        platform::ForgetSystemReason();
        if (!ReadFully(file_, buffer_.data(), static_cast<std::uint32_t>(n))) {
            Error read = SystemError(ErrorCode::CannotRead, {}, "cannot be read");
            problem_ = "its source " + U8(path_) + " " + read.Text();
            return;
        }
        if (std::memcmp(bytes, buffer_.data(), n) != 0) {
            std::size_t at = static_cast<std::size_t>(std::mismatch(bytes, bytes + n, buffer_.data()).first - bytes);
            problem_ = "differs from its source " + U8(path_) + " from byte " + std::to_string(done_ + at);
        }
        done_ += n;
    }
    const std::string& Problem() const { return problem_; }

private:
    platform::File file_;
    std::u16string path_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t done_ = 0;
    std::string problem_;
};

// What the cabinet is compared with: the plan of one family, its files and shortcuts found by
// the name the device finds them by.
struct Expected {
    std::u16string appName;
    const device::CpuChoice* family = nullptr;
    device::InstallPlan plan;
    std::u16string sources;
    std::map<std::u16string, std::size_t> files, shortcuts; // by NameKey of the device path
};

bool Plan(const Args& args, Expected& expected) {
    DeviceInput from;
    from.path = args.Value("--workspace");
    if (!LoadInputOrReport(from.path, from.input)) {
        return false;
    }
    Error error;
    if (!device::PlanInstall(from.input.header, from.input.entries, expected.family->flag, expected.plan, error)) {
        PrintError(U8(from.path), error);
        return false;
    }
    expected.appName = from.AppName();
    expected.sources = args.Value("--src");
    for (std::size_t i = 0; i < expected.plan.files.size(); ++i) {
        expected.files.emplace(platform::NameKey(expected.plan.files[i].relative), i);
    }
    for (std::size_t i = 0; i < expected.plan.shortcuts.size(); ++i) {
        expected.shortcuts.emplace(platform::NameKey(expected.plan.shortcuts[i].relative), i);
    }
    return true;
}

// Reads the cabinet's file, comparing it with its source when one is planned for it. A fault of
// the cabinet's data is told before a difference from the source, which it would explain.
void CheckFile(device::CabinetReader& reader, std::size_t index, const device::PlannedFile* planned,
               const std::u16string& sources, Findings& findings) {
    const device::CabinetFile& file = reader.Contents().files[index];
    const std::string what = U8(file.relative) + ": ";
    SourceComparison comparison;
    bool comparing = false;
    std::string problem;
    if (planned) {
        std::u16string source;
        Error error;
        if (!FindBelow(sources, planned->below, source, error)) {
            problem = "its source " + error.message;
        } else {
            comparing = comparison.Open(source, file.size, problem);
        }
    }
    Error error;
    const bool read = reader.ReadFile(
        index,
        [&](const std::uint8_t* bytes, std::size_t n) {
            if (comparing) {
                comparison.Take(bytes, n);
            }
        },
        error);
    if (!read) {
        findings.Fail(what + error.Text());
    } else if (!problem.empty() || !comparison.Problem().empty()) {
        findings.Fail(what + (problem.empty() ? comparison.Problem() : problem));
    }
}

void CompareShortcuts(const device::Cabinet& cabinet, const Expected& expected, Findings& findings) {
    const std::string family = U8(expected.family->name);
    std::vector<bool> seen(expected.plan.shortcuts.size());
    for (const device::CabinetLink& link : cabinet.links) {
        auto found = expected.shortcuts.find(platform::NameKey(link.relative));
        if (found == expected.shortcuts.end()) {
            findings.Fail("shortcut " + U8(link.relative) + ": the workspace makes no such shortcut for " + family);
            continue;
        }
        seen[found->second] = true;
        const std::u16string& target = expected.plan.files[expected.plan.shortcuts[found->second].file].relative;
        if (!link.toFile || platform::NameKey(link.targetPath) != platform::NameKey(target)) {
            findings.Fail("shortcut " + U8(link.relative) + " leads to " + U8(link.targetPath) +
                          (link.toFile ? "" : " (a folder)") + ", the workspace's to " + U8(target));
        }
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (!seen[i]) {
            findings.Fail("shortcut " + U8(expected.plan.shortcuts[i].relative) +
                          " is missing: the workspace makes it for " + family);
        }
    }
}

// Compares the bytes the cabinet's reader hands over with the source's file.
std::string CompareWithSource(device::CabinetReader& reader, std::size_t index, bool setupDll,
                              const std::u16string& source) {
    const device::Cabinet& cabinet = reader.Contents();
    const std::uint32_t size = setupDll ? cabinet.setupDll->size : cabinet.files[index].size;
    SourceComparison comparison;
    std::string problem;
    if (!comparison.Open(source, size, problem)) {
        return problem;
    }
    Error error;
    auto take = [&](const std::uint8_t* bytes, std::size_t n) { comparison.Take(bytes, n); };
    if (!(setupDll ? reader.ReadSetupDll(take, error) : reader.ReadFile(index, take, error))) {
        return error.Text();
    }
    return comparison.Problem();
}

// The INF's label for the cabinet: --cpu's; else the one the cabinet's name carries
// ("NAME.LABEL.CAB"); else the INF's only one; else none.
bool InfLabel(const Args& args, const std::u16string& path, const std::vector<std::u16string>& labels,
              std::u16string& label, std::string& problem) {
    auto known = [&](std::u16string_view name) {
        return std::find_if(labels.begin(), labels.end(),
                            [&](const std::u16string& l) { return device::inf::SameName(l, name); });
    };
    if (args.Has("--cpu")) {
        auto found = known(args.Value("--cpu"));
        if (found == labels.end()) {
            problem = "--cpu: the INF defines no label \"" + U8(args.Value("--cpu")) + "\"";
            return false;
        }
        label = *found;
        return true;
    }
    std::u16string name = platform::FromFsPath(platform::FsPath(path).stem());
    std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos) {
        auto found = known(std::u16string_view(name).substr(dot + 1));
        if (found != labels.end()) {
            label = *found;
            return true;
        }
    }
    if (labels.size() > 1) {
        problem = "the INF defines several labels and the cabinet's name carries none of them: name one with --cpu";
        return false;
    }
    label = labels.empty() ? u"" : labels.front();
    return true;
}

// The cabinet against what the CAB wizard's INF says it holds: its header's texts and limits,
// every file at its place with its flags and its source's bytes, every registry value, shortcut
// and the setup DLL; nothing more.
void CompareWithInf(device::CabinetReader& reader, const device::inf::CompiledInf& compiled,
                    const device::Cabinet& expected, Findings& findings) {
    const device::Cabinet& c = reader.Contents();
    auto differs = [&](const std::string& what, const std::string& has, const std::string& says) {
        findings.Fail("its " + what + " is " + has + ", the INF's is " + says);
    };
    if (c.appName != expected.appName) {
        differs("application name", "\"" + U8(c.appName) + "\"", "\"" + U8(expected.appName) + "\"");
    }
    if (c.provider != expected.provider) {
        differs("provider", "\"" + U8(c.provider) + "\"", "\"" + U8(expected.provider) + "\"");
    }
    if (c.processorType != expected.processorType) {
        differs("processor", std::to_string(c.processorType), std::to_string(expected.processorType));
    }
    const char* limits[6] = {"minimum version", "minimum version's minor number", "maximum version",
                             "maximum version's minor number", "minimum build", "maximum build"};
    for (int i = 0; i < 6; ++i) {
        if (c.versions[i] != expected.versions[i]) {
            differs(limits[i], std::to_string(c.versions[i]), std::to_string(expected.versions[i]));
        }
    }
    if (c.unsupported != expected.unsupported) {
        differs("list of unsupported platforms", std::to_string(c.unsupported.size()) + " long",
                std::to_string(expected.unsupported.size()) + " long or other");
    }
    if (c.installDir != expected.installDir) {
        differs("install folder", U8(c.installDir), U8(expected.installDir));
    }
    std::map<std::u16string, std::size_t> files;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
        files.emplace(platform::NameKey(c.files[i].relative), i);
    }
    for (std::size_t i = 0; i < expected.files.size(); ++i) {
        const device::CabinetFile& want = expected.files[i];
        auto found = files.find(platform::NameKey(want.relative));
        if (found == files.end()) {
            findings.Fail(U8(want.relative) + " is missing: the INF installs it");
            continue;
        }
        const device::CabinetFile& file = c.files[found->second];
        files.erase(found);
        if (file.flags != want.flags) {
            findings.Fail(U8(want.relative) + ": its flags are " + std::to_string(file.flags) + ", the INF's " +
                          std::to_string(want.flags));
        }
        const std::u16string& source =
            compiled.sources[static_cast<std::size_t>(compiled.design.files[i].member)];
        if (std::string problem = CompareWithSource(reader, &file - c.files.data(), false, source); !problem.empty()) {
            findings.Fail(U8(want.relative) + ": " + problem);
        }
    }
    for (const auto& [key, index] : files) {
        findings.Fail(U8(c.files[index].relative) + ": the INF does not install this file");
    }
    std::vector<bool> used(c.registry.size());
    for (const device::CabinetRegistryValue& want : expected.registry) {
        bool found = false;
        for (std::size_t i = 0; i < c.registry.size() && !found; ++i) {
            found = !used[i] && c.registry[i].value == want.value && c.registry[i].substitute == want.substitute;
            used[i] = used[i] || found;
        }
        if (!found) {
            findings.Fail("registry value " + device::RegistryLine(want.value) + " is missing or other");
        }
    }
    for (std::size_t i = 0; i < used.size(); ++i) {
        if (!used[i]) {
            findings.Fail("registry value " + device::RegistryLine(c.registry[i].value) + ": the INF writes no such value");
        }
    }
    std::map<std::u16string, const device::CabinetLink*> links;
    for (const device::CabinetLink& link : c.links) {
        links.emplace(platform::NameKey(link.relative), &link);
    }
    for (const device::CabinetLink& want : expected.links) {
        auto found = links.find(platform::NameKey(want.relative));
        if (found == links.end()) {
            findings.Fail("shortcut " + U8(want.relative) + " is missing: the INF makes it");
            continue;
        }
        if (found->second->toFile != want.toFile ||
            platform::NameKey(found->second->targetPath) != platform::NameKey(want.targetPath)) {
            findings.Fail("shortcut " + U8(want.relative) + " leads to " + U8(found->second->targetPath) +
                          ", the INF's to " + U8(want.targetPath));
        }
        links.erase(found);
    }
    for (const auto& [key, link] : links) {
        findings.Fail("shortcut " + U8(link->relative) + ": the INF makes no such shortcut");
    }
    if (compiled.design.setupDll.has_value() != c.setupDll.has_value()) {
        findings.Fail(c.setupDll ? "it holds a setup DLL; the INF names none" : "its setup DLL is missing: the INF names one");
    } else if (c.setupDll) {
        const std::u16string& source = compiled.sources[static_cast<std::size_t>(compiled.design.setupDll->member)];
        if (std::string problem = CompareWithSource(reader, 0, true, source); !problem.empty()) {
            findings.Fail("its setup DLL: " + problem);
        }
    }
}

int VerifyWithInf(const Args& args, device::CabinetReader& reader, const std::u16string& path) {
    device::DeviceOptions options;
    std::string problem;
    if (!ParseDeviceOptions(args, options, problem)) {
        return UsageError(kVerifyCommand, problem);
    }
    const std::u16string inf = args.Value("--inf");
    std::vector<std::u16string> labels;
    std::u16string label;
    if (!InfFileLabels(inf, options.codePage, labels)) {
        return kExitFailure;
    }
    if (!InfLabel(args, path, labels, label, problem)) {
        return UsageError(kVerifyCommand, problem);
    }
    device::inf::CompiledInf compiled;
    if (!CompileInfFile(inf, label, args.Value("--src"), options.codePage, compiled)) {
        return kExitFailure;
    }
    std::string manifest;
    Error error;
    device::Cabinet expected;
    if (!device::MakeManifest(compiled.design, manifest, error) ||
        !device::CabinetReader::ParseManifestOnly(std::vector<std::uint8_t>(manifest.begin(), manifest.end()),
                                                  expected, error, options.codePage)) {
        PrintError(U8(inf), error);
        return kExitFailure;
    }
    Findings findings(U8(path));
    CompareWithInf(reader, compiled, expected, findings);
    findings.Summarise();
    if (findings.Count() > 0) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(U8(path) + ": ok (device cabinet, " + std::to_string(reader.Contents().files.size()) + " files" +
              (label.empty() ? "" : ", " + U8(label)) +
              "; files, registry values, shortcuts and limits match the INF and its sources)\n");
    }
    return kExitSuccess;
}

} // namespace

int VerifyCabinet(const Args& args) {
    const std::u16string& path = args.Positional()[0];
    if (args.Has("--inf") && args.Has("--workspace")) {
        return UsageError(kVerifyCommand, "a cabinet is compared with an INF (--inf) or a workspace (--workspace)");
    }
    if (!args.Has("--inf") && args.Has("--src") != args.Has("--workspace")) {
        return UsageError(kVerifyCommand, "a cabinet is compared with its sources through --src and --workspace "
                                          "together: the folder and the workspace it was made from");
    }
    // A family that does not exist is a command line to correct, whatever the cabinet holds.
    if (!args.Has("--inf") && args.Has("--cpu") && device::CpuFlagByName(args.Value("--cpu")) == 0) {
        std::string problem;
        FamilyOf(args, {}, path, problem);
        return UsageError(kVerifyCommand, problem);
    }
    device::DeviceOptions options;
    std::string problem;
    if (!ParseDeviceOptions(args, options, problem)) {
        return UsageError(kVerifyCommand, problem);
    }
    device::CabinetReader reader;
    reader.SetCodePage(options.codePage);
    Error error;
    if (!reader.Open(path, error)) {
        PrintError(U8(path), error);
        return kExitFailure;
    }
    if (args.Has("--inf")) {
        return VerifyWithInf(args, reader, path);
    }
    const device::Cabinet& cabinet = reader.Contents();
    Expected expected;
    if (args.Has("--src") || args.Has("--cpu")) {
        std::string problem;
        expected.family = FamilyOf(args, cabinet, path, problem);
        if (!expected.family) {
            return UsageError(kVerifyCommand, problem);
        }
    }
    const bool comparing = args.Has("--src");
    if (comparing && !Plan(args, expected)) {
        return kExitFailure;
    }

    Findings findings(U8(path));
    if (expected.family && cabinet.processorType != expected.family->processorType) {
        findings.Fail("it declares processor " + std::to_string(cabinet.processorType) + "; a cabinet for " +
                      U8(expected.family->name) + " declares " + std::to_string(expected.family->processorType));
    }
    if (comparing && cabinet.appName != expected.appName) {
        findings.Fail("its application name is \"" + U8(cabinet.appName) + "\", the workspace's is \"" +
                      U8(expected.appName) + "\"");
    }
    // Files and shortcuts that the device would take for one file, by case or by a short name: the
    // later would replace the earlier on install, whoever made the cabinet.
    std::vector<std::u16string> places;
    for (const device::CabinetFile& file : cabinet.files) {
        places.push_back(file.relative);
    }
    for (const device::CabinetLink& link : cabinet.links) {
        places.push_back(link.relative);
    }
    for (const platform::NameClash& clash : platform::NameClashes(places)) {
        findings.Fail(device::DeviceClash(clash, places));
    }
    // In the order the data is stored, so that each data block is unpacked once.
    std::vector<std::size_t> order(cabinet.files.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const device::CabinetFile &x = cabinet.files[a], &y = cabinet.files[b];
        return x.folder != y.folder ? x.folder < y.folder : x.offset < y.offset;
    });
    std::vector<bool> seen(expected.plan.files.size());
    for (std::size_t i : order) {
        const device::CabinetFile& file = cabinet.files[i];
        const device::PlannedFile* planned = nullptr;
        if (comparing) {
            auto found = expected.files.find(platform::NameKey(file.relative));
            if (found == expected.files.end()) {
                findings.Fail(U8(file.relative) + ": the workspace does not install this file for " +
                              U8(expected.family->name));
            } else {
                seen[found->second] = true;
                planned = &expected.plan.files[found->second];
            }
        }
        CheckFile(reader, i, planned, expected.sources, findings);
    }
    if (comparing) {
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (!seen[i]) {
                findings.Fail(U8(expected.plan.files[i].relative) + " is missing: the workspace installs it for " +
                              U8(expected.family->name));
            }
        }
        CompareShortcuts(cabinet, expected, findings);
    }
    findings.Summarise();
    if (findings.Count() > 0) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(U8(path) + ": ok (device cabinet, " + std::to_string(cabinet.files.size()) + " files" +
              (expected.family ? ", " + U8(expected.family->name) : "") +
              (comparing ? ", files and shortcuts match the workspace and its sources" : "") + ")\n");
    }
    return kExitSuccess;
}

} // namespace cli
