// The install plan tried for each processor family, as error lines.
#include "cli/installable.h"

#include "building/build_checks.h"
#include "cli/console.h"
#include "platform/text.h"

namespace cli {

std::vector<std::string> InstallProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries) {
    std::vector<std::string> lines;
    for (const building::InstallProblem& problem : building::InstallProblems(header, entries)) {
        lines.push_back(problem.families.empty() ? "would not install: " + problem.cause
                                                 : "would not install (" + problem.families + "): " + problem.cause);
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
