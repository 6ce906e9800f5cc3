// What both front ends look at before a build writes anything: whether the package could ever
// install on a device, whether the template can become an installer, and whether the output may
// be replaced. A problem found here costs the developer one message; found on the device, it costs
// every user a failed install.
#pragma once

#include "device/device_options.h"
#include "package/package.h"
#include "package/records.h"
#include "platform/error.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace building {

// One reason the installer would refuse the package, with the processor families it concerns.
struct InstallProblem {
    std::string families; // "ARM, MIPS, SHX, INTEL"; empty for the line that says how many more there are
    std::string cause;    // naming the file or files, UTF-8
};

// Every reason the installer would refuse the package, each once with every family it holds for
// (the first fifty, then a line saying how many more); empty when it installs for every family it
// has files for.
std::vector<InstallProblem> InstallProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries);
std::vector<InstallProblem> InstallProblems(const Package& package);

// What the installer's installation file for the device (its cabinet, with `options`) could not
// be made of, for each family whose install plan holds: a name the device's code page lacks, a
// manifest past its limits. Found on the PC that builds, not by every end user.
std::vector<InstallProblem> CabinetProblems(const PackageHeader& header, const std::vector<PackageEntry>& entries,
                                            const device::DeviceOptions& options);

// Whether the file can be the template of an installer: an executable whose resources this
// program can rewrite, and not signed (the signature would break; signing comes after the build).
// The error's message says why not, without the path.
Error CheckTemplate(std::u16string_view path);

// A file the build reads, named for the messages: "the workspace", "the template".
struct BuildInput {
    std::u16string_view path;
    std::string_view what;
};

// Whether the build may write `output`: not when it exists and is not a regular file (a folder, a
// link, a device, a pipe), nor when it exists and `replace` is false, nor when it is the same file
// as an input or as a member of `package`, which the build would destroy while reading it. The
// error's subject is the output, its message what is wrong with it.
Error CheckOutput(std::u16string_view output, bool replace, std::initializer_list<BuildInput> inputs,
                  const Package* package);

} // namespace building
