// tarvelo-build verify of a device cabinet: that every file reads whole with good checksums and,
// with the sources and the workspace it was made from, that it installs exactly what the install
// plan of its processor family installs.
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/device_input.h"
#include "cli/member_lookup.h"
#include "cli/package_input.h"

#include "device/cabinet.h"
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
