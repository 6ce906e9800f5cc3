// Setup information (INF) files for the CAB wizard of the Pocket PC SDK, which turns one into a
// device cabinet on Windows. The opening lines are the main window's; the whole file is made from
// the install plan of one processor family, so that the wizard's cabinet installs what ours does.
#pragma once

#include "device/device_options.h"
#include "device/install_plan.h"
#include "platform/error.h"

#include <string>
#include <vector>

namespace device {

// The opening lines every INF we compose starts with, up to and including "[CEStrings]", with
// `provider` quoted in the Provider line. No line ends.
std::vector<std::string> InfOpeningLines(std::string_view provider);

struct InfSettings {
    std::u16string appName;
    std::u16string provider;
    std::uint32_t processorType = 0;
    std::u16string sourceFolder; // where the wizard finds the files: the package's source folder
    const DeviceOptions* options = nullptr; // limits, platforms, registry values, setup DLL; not owned
    std::u16string setupDllFolder;          // where the wizard finds the setup DLL
    std::uint32_t codePage = 1252;          // the device's, in which the INF is written
};

// The whole INF of `plan`, lines ending in CR LF, in the Western Windows code page the wizard
// reads. Every field that carries a name is quoted ('"' doubled, '%' written "%%"), so that a ',',
// ';' or '%' in a name stays in its field. Fails with the error.message for a text that code page
// lacks or that holds a control character, and for two files of one name in different folders,
// which the wizard's source list cannot tell apart.
bool MakeSetupInf(const InstallPlan& plan, const InfSettings& settings, std::string& text, Error& error);

} // namespace device
