// The installer's command line: /S installs without any window; the way: /APPMGR[=FOLDER] hands
// the cabinets to the desktop's Application Manager (FOLDER keeps them), /DEVICE copies the
// cabinet straight to the connected device, /CAB=FOLDER makes the installation file (cabinet) for
// the device in FOLDER, /D=FOLDER copies the files below a folder that stands for the device's
// root; /CPU=ARM|MIPS|SHX|INTEL the processor family of the last two; /? lists them (the setup
// flow answers it before the others are parsed). Without /S they only preset the wizard's
// choices. As with other installers, a folder may follow /APPMGR=, /CAB= or /D= unquoted, blanks
// and all.
#pragma once

#include "device/device_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace installer_template {

// The ways the Destination page offers, in its order; the options pick one of them.
enum class Way { AppManager, Device, Cabinet, Folder };

struct Options {
    bool silent = false;
    bool wayGiven = false; // false: the first way the desktop allows
    Way way = Way::Cabinet;
    std::u16string appManagerFolder; // /APPMGR='s; empty: the default folder
    std::u16string destination;   // empty: the default folder
    std::u16string cabinetFolder; // where /CAB= puts the cabinet; empty: no cabinet asked for
    std::uint32_t cpuFlag = 0;    // 0: ARM
    bool cpuGiven = false;
    // Not from the command line: what the installer keeps beside its package for the cabinet.
    device::DeviceOptions device;
};

// Options are matched without regard to case, as Windows programs do. Fails with the cause for an
// unknown option, an empty /D=, /CAB= or /APPMGR=, two ways at once, an unknown processor family
// and a processor family given to a way that does not take one.
bool ParseOptions(const std::vector<std::u16string>& arguments, Options& options, std::string& cause);

} // namespace installer_template
