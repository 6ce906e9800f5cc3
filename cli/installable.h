// Whether a package could ever install: the installer's own plan, tried for every processor
// family before a build is made or a package is called good, so that a name the device would
// refuse (a device name, a path out of its folder, two files that are one on Windows) is found on
// the PC that made it rather than by every user who runs the installer.
#pragma once

#include "package/package.h"
#include "package/records.h"

#include <string>
#include <string_view>
#include <vector>

namespace cli {

// One line per reason the installer would refuse the package, with the processor families it
// concerns ("for ARM, MIPS: ..."); empty when it installs for every family it has files for.
std::vector<std::string> InstallProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries);
std::vector<std::string> InstallProblems(const Package& package);

// Prints each reason as an error line about `subject` (the workspace); true when there is none.
bool ReportInstallProblems(const Package& package, std::u16string_view subject);

} // namespace cli
