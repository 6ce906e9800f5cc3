// The installer's command line: /S installs without any window, /CAB=FOLDER makes the installation
// file (cabinet) for the device in FOLDER, /D=FOLDER instead copies the files below a folder that
// stands for the device's root, /CPU=ARM|MIPS|SHX|INTEL the processor family, /? lists them (the
// setup flow answers it before the others are parsed). Without /S, /CAB=, /D= and /CPU= only
// preset the wizard's choices. As with other installers, a folder may follow /CAB= or /D=
// unquoted, blanks and all.
#pragma once

#include "device/device_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace installer_template {

struct Options {
    bool silent = false;
    std::u16string destination;   // empty: the default folder
    std::u16string cabinetFolder; // where /CAB= puts the cabinet; empty: no cabinet asked for
    std::uint32_t cpuFlag = 0;    // 0: ARM
    // Not from the command line: what the installer keeps beside its package for the cabinet.
    device::DeviceOptions device;
};

// Options are matched without regard to case, as Windows programs do. Fails with the cause for an
// unknown option, an empty /D= or /CAB=, both of them at once and an unknown processor family.
bool ParseOptions(const std::vector<std::u16string>& arguments, Options& options, std::string& cause);

} // namespace installer_template
