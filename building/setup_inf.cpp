// The setup INF lines the hidden "Create Cabwiz ini File" command composes.
#include "building/setup_inf.h"

#include "device/setup_inf.h"

namespace building {

std::vector<std::string> SetupInfLines(int choiceIndex) {
    std::vector<std::string> lines = device::InfOpeningLines("Tarvelo Installer");
    if (choiceIndex == 1) { // CSIDL_PROGRAM_FILES
        lines.push_back("InstallDir = %CE1%\\%AppName%");
    } else if (choiceIndex == 2) { // CSIDL_PROGRAMS
        lines.push_back("InstallDir = %CE11%\\%AppName%");
    }
    return lines;
}

} // namespace building
