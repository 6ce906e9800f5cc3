#include "build/setup_inf.h"

namespace build {

std::vector<std::string> SetupInfLines(int choiceIndex) {
    const std::string rule = ";" + std::string(50, '=');
    std::vector<std::string> lines{rule,
                                   "; Etarvelo generated .inf",
                                   rule,
                                   "",
                                   "[Version]",
                                   "",
                                   "Signature = \"$Windows NT$\"",
                                   "Provider = \"Tarvelo Installer\"",
                                   "CESignature = \"$Windows CE$\"",
                                   "",
                                   "[CEStrings]"};
    if (choiceIndex == 1) { // CSIDL_PROGRAM_FILES
        lines.push_back("InstallDir = %CE1%\\%AppName%");
    } else if (choiceIndex == 2) { // CSIDL_PROGRAMS
        lines.push_back("InstallDir = %CE11%\\%AppName%");
    }
    return lines;
}

} // namespace build
