// The opening lines of a setup information file for the CAB wizard of the Pocket PC SDK, composed
// from the Target Folder choice. The lines carry no line ends; nothing is written to a file here.
#pragma once

#include <string>
#include <vector>

namespace building {

// `choiceIndex` is the Target Folder list's selection (-1 for none). The InstallDir line follows
// the wizard's own folder macros: %CE1% is the device's program-files folder and %CE11% its
// Start-menu programs folder, so only those two choices get one.
std::vector<std::string> SetupInfLines(int choiceIndex);

} // namespace building
