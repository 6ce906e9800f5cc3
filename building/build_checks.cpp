// The checks made before a build writes anything.
#include "building/build_checks.h"

#include "device/cabinet_file.h"

#include "device/install_plan.h"
#include "device/layout.h"
#include "package/pe_resources.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/text.h"
#include "workspace/workspace_file.h"

#include <algorithm>

namespace building {
namespace {
constexpr std::size_t kMostProblemsTold = 50;
} // namespace

std::vector<InstallProblem> InstallProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries) {
    // What one family installs is a part of what all of them do, and every check of a plan (names,
    // lengths, clashes) that holds for the whole holds for each part: one plan (the members of
    // every family, to the device) answers the usual case; the families are tried one by one only
    // to tell which fail.
    {
        device::InstallPlan plan;
        std::vector<std::string> problems;
        if (device::PlanInstall(header, entries, FLAG_ALL_PLATFORMS, plan, problems)) {
            return {};
        }
    }
    // The same cause usually holds for every family (a refused install folder); it is told once.
    std::vector<InstallProblem> found;
    for (const device::CpuChoice& cpu : device::kCpuChoices) {
        device::InstallPlan plan;
        std::vector<std::string> problems;
        if (device::PlanInstall(header, entries, cpu.flag, plan, problems)) {
            continue;
        }
        const std::string name = platform::ToUtf8(cpu.name);
        for (const std::string& cause : problems) {
            auto known = std::find_if(found.begin(), found.end(), [&](const InstallProblem& p) { return p.cause == cause; });
            if (known == found.end()) {
                found.push_back({name, cause});
            } else {
                known->families += ", " + name;
            }
        }
    }
    // A folder name too long for the device makes every file's path too long: the first few tell
    // the person what to change, thousands would hide it.
    if (found.size() > kMostProblemsTold) {
        const std::size_t more = found.size() - kMostProblemsTold;
        found.resize(kMostProblemsTold);
        found.push_back({{}, std::to_string(more) + " more problems of the kind above"});
    }
    return found;
}

std::vector<InstallProblem> InstallProblems(const Package& package) {
    return InstallProblems(package.GetHeader(), package.Entries());
}

std::vector<InstallProblem> CabinetProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries,
                                            const device::DeviceOptions& options) {
    std::vector<InstallProblem> found;
    const std::u16string appName = device::OutputAppName(header, u"Setup.exe");
    for (const device::CpuChoice& cpu : device::kCpuChoices) {
        device::InstallPlan plan;
        device::FamilyCabinet cabinet;
        Error error;
        if (!device::PlanInstall(header, entries, cpu.flag, plan, error) || plan.files.empty() ||
            device::PlanFamilyCabinet(plan, appName, {}, cpu, options, 0, cabinet, error)) {
            continue;
        }
        const std::string name = platform::ToUtf8(cpu.name);
        const std::string cause = "the installation file for the device cannot be made: " + error.message;
        auto known = std::find_if(found.begin(), found.end(), [&](const InstallProblem& p) { return p.cause == cause; });
        if (known == found.end()) {
            found.push_back({name, cause});
        } else {
            known->families += ", " + name;
        }
    }
    return found;
}

Error CheckTemplate(std::u16string_view path) {
    const std::string subject = platform::ToUtf8(path);
    if (!platform::File::OpenRead(std::u16string(path), platform::Share::Read).IsOpen()) {
        return {ErrorCode::CannotOpen, subject,
                "cannot open the installer template (" + platform::CannotOpenCause(path) + ")", {}};
    }
    std::vector<pe::ResourceInfo> resources;
    Error error;
    bool isSigned = false;
    if (!pe::ListResources(path, resources, error) || !pe::IsSigned(path, isSigned, error)) {
        return {ErrorCode::Malformed, subject, "not a usable installer template: " + error.Text(), {}};
    }
    // Whoever signed the template meant to sign the installers; that has to happen after the build.
    if (isSigned) {
        return {ErrorCode::Refused, subject, std::string("cannot make the installer: ") + pe::kSignedExecutableRefusal,
                {}};
    }
    return {};
}

Error CheckOutput(std::u16string_view output, bool replace, std::initializer_list<BuildInput> inputs,
                  const Package* package) {
    const std::string subject = platform::ToUtf8(output);
    auto refused = [&](std::string message) { return Error{ErrorCode::Refused, subject, std::move(message), {}}; };
    switch (platform::Examine(output)) {
    case platform::PathKind::Missing:
        return {};
    case platform::PathKind::File:
        break;
    case platform::PathKind::Folder:
        return {ErrorCode::NotRegular, subject, "is a folder; give the name of the file to write", {}};
    case platform::PathKind::Link:
        return {ErrorCode::NotRegular, subject,
                "is a link; give the path of a regular file, which is replaced, or a new name", {}};
    case platform::PathKind::Other:
        return {ErrorCode::NotRegular, subject,
                "is not a regular file (a device, a pipe or a socket); it is never replaced", {}};
    }
    platform::FileId existing;
    if (platform::IdentifyFile(output, existing)) {
        for (const BuildInput& input : inputs) {
            platform::FileId id;
            if (!input.path.empty() && platform::IdentifyFile(input.path, id) && id == existing) {
                return refused("is " + std::string(input.what) + " this build reads; choose another output");
            }
        }
        if (package && workspace::IsMemberFile(*package, output)) {
            return refused("is one of the workspace's files; choose another output");
        }
    }
    if (!replace) {
        return refused("already exists; use --force to replace it");
    }
    return {};
}

} // namespace building
