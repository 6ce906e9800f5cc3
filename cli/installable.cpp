// The install plan tried for each processor family.
#include "cli/installable.h"

#include "cli/console.h"
#include "device/install_plan.h"
#include "device/layout.h"
#include "platform/text.h"

#include <utility>

namespace cli {

std::vector<std::string> InstallProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries) {
    // What one family installs is a part of what all of them do, and every check of a plan (names,
    // lengths, clashes) that holds for the whole holds for each part: one plan
    // (the members of every family, to the device) answers the usual case; the families are tried
    // one by one only to tell which fail.
    {
        device::InstallPlan plan;
        Error error;
        if (device::PlanInstall(header, entries, FLAG_ALL_PLATFORMS, plan, error)) {
            return {};
        }
    }
    // The same cause usually holds for every family (a refused install folder); it is told once.
    std::vector<std::pair<std::string, std::string>> causes; // cause, families
    for (const device::CpuChoice& cpu : device::kCpuChoices) {
        device::InstallPlan plan;
        Error error;
        if (device::PlanInstall(header, entries, cpu.flag, plan, error)) {
            continue;
        }
        std::string name = platform::ToUtf8(cpu.name);
        bool known = false;
        for (auto& [text, families] : causes) {
            if (text == error.message) {
                families += ", " + name;
                known = true;
            }
        }
        if (!known) {
            causes.emplace_back(error.message, name);
        }
    }
    std::vector<std::string> lines;
    for (const auto& [text, families] : causes) {
        lines.push_back("would not install (" + families + "): " + text);
    }
    return lines;
}

std::vector<std::string> InstallProblems(const Package& package) {
    return InstallProblems(package.GetHeader(), package.Entries());
}

bool ReportInstallProblems(const Package& package, std::u16string_view subject) {
    std::vector<std::string> problems = InstallProblems(package);
    for (const std::string& problem : problems) {
        PrintError(platform::ToUtf8(subject), problem);
    }
    return problems.empty();
}

} // namespace cli
