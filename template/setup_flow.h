// What the installer does from its command line to its exit status, with the platform behind a
// small interface: the real program answers it with message boxes, standard error and the wizard,
// the tests with fakes, so that no test waits on a real window.
#pragma once

#include "platform/error.h"
#include "template/delivery.h"
#include "template/options.h"

#include <string>
#include <vector>

class Package;

namespace installer_template {

inline constexpr char kNoPackageMessage[] = "This installer holds no package.";
// What /? shows: one option a line, short enough that a message box need not wrap them.
inline constexpr char kUsageText[] = "Setup options:\n"
                                     "/S  install without any window\n"
                                     "/APPMGR[=FOLDER]  hand the installation files to the Application Manager,\n"
                                     "    keeping them in FOLDER\n"
                                     "/DEVICE  copy the installation file straight to the connected device\n"
                                     "/CAB=FOLDER  write the installation file for the device there\n"
                                     "/D=FOLDER  copy the files into a folder that stands for the device\n"
                                     "/CPU=ARM|MIPS|SHX|INTEL  the processor, for /CAB= and /D=\n"
                                     "/?  show these options\n"
                                     "\n"
                                     "With /S the licence counts as accepted; exit status 1 means a failure.\n"
                                     "/S alone takes the wizard's first way: the Application Manager when it is\n"
                                     "installed, else a connected device, else the installation file.\n"
                                     "Without /S, the options preset the wizard's choices.";

class SetupHost {
public:
    virtual ~SetupHost() = default;
    // A message for the user when a window may be shown.
    virtual void ShowError(const std::string& text) = 0;
    // One line on standard error, for the silent mode.
    virtual void PrintError(const std::string& line) = 0;
    // Information for the user when a window may be shown.
    virtual void ShowInformation(const std::string& text) = 0;
    // Text on standard output, its lines ended as the system ends them, for the silent mode.
    virtual void PrintOutput(const std::string& text) = 0;
    // The user's documents folder: where the installation file goes unless told otherwise, and
    // the folder standing for the device's root, named after the program, is made.
    virtual std::u16string DocumentsFolder() = 0;
    // The desktop's device software; null where there is none to be had.
    virtual Desktop* GetDesktop() { return nullptr; }
    // The installer's own file, whose name stands for the program where the package names none;
    // empty where it cannot be told.
    virtual std::u16string InstallerFile() { return {}; }
    // The device options the installer keeps beside its package (tarvelo-build installer's
    // --registry, --os-version and the like): none when it keeps none. Fails with the error for a
    // record that cannot be read.
    virtual bool LoadDeviceOptions(device::DeviceOptions& options, Error& error);
    // Runs the wizard to its end and answers the exit status.
    virtual int RunWizard(Package& package, const Options& options) = 0;
};

// The folder standing for the device's root when none is given: one named after the program in
// the user's documents.
std::u16string DefaultDeviceFolder(const Package& package, SetupHost& host);

// `packageOpened` tells whether the package was read from the program's own resource. Answers
// the exit status: 0 when everything was installed, 1 otherwise.
int RunSetup(const std::vector<std::u16string>& arguments, Package& package, bool packageOpened, SetupHost& host);

} // namespace installer_template
