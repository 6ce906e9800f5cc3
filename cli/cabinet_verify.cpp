// tarvelo-build verify of a device cabinet: that every file reads whole with good checksums and,
// with the sources and the workspace it was made from, that it installs exactly what the install
// plan of its processor family installs.
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_input.h"
#include "cli/member_lookup.h"

#include "device/cabinet.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "platform/host_paths.h"
#include "platform/names.h"
#include "platform/text.h"

#include <algorithm>
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

bool ReadSource(const std::u16string& path, std::vector<std::uint8_t>& bytes, Error& error) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    std::uint64_t size = 0;
    if (!file.IsOpen() || !file.Size(size)) {
        error = Refusal(platform::CannotOpenCause(path));
        return false;
    }
    if (size >= (std::uint64_t{1} << 32)) {
        error = Refusal("is 4 GiB or larger, more than a cabinet holds");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && !ReadFully(file, bytes.data(), static_cast<std::uint32_t>(size))) {
        error = Error{ErrorCode::CannotRead, {}, "cannot be read", platform::SystemReason()};
        return false;
    }
    return true;
}

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

void CompareBytes(const device::CabinetFile& file, const std::vector<std::uint8_t>& bytes,
                  const device::PlannedFile& planned, const std::u16string& sources, Findings& findings) {
    std::u16string source;
    std::vector<std::uint8_t> original;
    Error error;
    std::string what = U8(file.relative) + ": ";
    if (!FindBelow(sources, planned.below, source, error)) {
        findings.Fail(what + "its source " + error.message);
    } else if (!ReadSource(source, original, error)) {
        findings.Fail(what + "its source " + U8(source) + " " + error.Text());
    } else if (original.size() != bytes.size()) {
        findings.Fail(what + "the cabinet holds " + std::to_string(bytes.size()) + " bytes, its source " + U8(source) +
                      " has " + std::to_string(original.size()));
    } else if (bytes != original) {
        auto at = std::mismatch(bytes.begin(), bytes.end(), original.begin()).first - bytes.begin();
        findings.Fail(what + "differs from its source " + U8(source) + " from byte " + std::to_string(at));
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

} // namespace

int VerifyCabinet(const Args& args) {
    const std::u16string& path = args.Positional()[0];
    if (args.Has("--src") != args.Has("--workspace")) {
        return UsageError(kVerifyCommand, "a cabinet is compared with its sources through --src and --workspace "
                                          "together: the folder and the workspace it was made from");
    }
    // A family that does not exist is a command line to correct, whatever the cabinet holds.
    if (args.Has("--cpu") && device::CpuFlagByName(args.Value("--cpu")) == 0) {
        std::string problem;
        FamilyOf(args, {}, path, problem);
        return UsageError(kVerifyCommand, problem);
    }
    device::CabinetReader reader;
    Error error;
    if (!reader.Open(path, error)) {
        PrintError(U8(path), error);
        return kExitFailure;
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
    // In the order the data is stored, so that each data block is unpacked once.
    std::vector<std::size_t> order(cabinet.files.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const device::CabinetFile &x = cabinet.files[a], &y = cabinet.files[b];
        return x.folder != y.folder ? x.folder < y.folder : x.offset < y.offset;
    });
    std::vector<bool> seen(expected.plan.files.size());
    std::vector<std::uint8_t> bytes;
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
        if (!reader.ReadFile(i, bytes, error)) {
            findings.Fail(U8(file.relative) + ": " + error.message);
        } else if (planned) {
            CompareBytes(file, bytes, *planned, expected.sources, findings);
        }
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
