// The installer's way from its command line to its exit status.
#include "template/setup_flow.h"

#include "device/install_plan.h"
#include "device/layout.h"
#include "device/install_write.h"
#include "package/installer_write.h"
#include "package/package.h"
#include "platform/host_paths.h"
#include "platform/module.h"
#include "platform/text.h"
#include "template/cabinet_run.h"

namespace installer_template {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// Whether /S is among the arguments, so that even a command line with another mistake in it
// fails without a window: a script waiting for the installer must never meet a message box.
bool AsksForSilence(const std::vector<std::u16string>& arguments) {
    for (const std::u16string& a : arguments) {
        if (a == u"/S" || a == u"/s") {
            return true;
        }
    }
    return false;
}

// Whether /? is among the arguments: asked for, the options are shown whatever else the line holds.
bool AsksForUsage(const std::vector<std::u16string>& arguments) {
    for (const std::u16string& a : arguments) {
        if (a == u"/?") {
            return true;
        }
    }
    return false;
}

int InstallInFolder(Package& package, const Options& options, SetupHost& host) {
    std::u16string destination = options.destination.empty() ? DefaultDeviceFolder(package, host) : options.destination;
    device::InstallPlan plan;
    Error error;
    if (!device::PlanInstall(package, options.cpuFlag, plan, error)) {
        host.PrintError("Nothing was installed: " + error.message);
        return kFailure;
    }
    // As for the installation file and the wizard: an install that would write nothing is a
    // mistake of the processor chosen, not a success, and leaves no empty folder behind.
    if (plan.files.empty()) {
        const device::CpuChoice* family = device::CpuChoiceOf(options.cpuFlag);
        host.PrintError("Nothing was installed: this package holds no file for devices with the " +
                        platform::ToUtf8(family ? family->name : u"chosen") + " processor");
        return kFailure;
    }
    device::InstallOutcome outcome = device::WriteInstall(package, plan, destination, nullptr);
    if (!outcome.Complete()) {
        host.PrintError("Installation failed after " + std::to_string(outcome.filesWritten) + " of " +
                        std::to_string(outcome.filesPlanned) + " files: " + outcome.error.Line());
        return kFailure;
    }
    return kSuccess;
}

int HandOverSilently(Package& package, const Options& options, SetupHost& host) {
    Desktop* desktop = host.GetDesktop();
    std::u16string appManager = desktop ? desktop->AppManager() : std::u16string();
    // Nothing is written for a program that is not there to take it.
    if (appManager.empty()) {
        host.PrintError("Nothing was installed: the Application Manager (part of ActiveSync and of Windows Mobile "
                        "Device Center) is not installed on this PC");
        return kFailure;
    }
    std::u16string folder = options.appManagerFolder.empty()
                                ? desktop->AppManagerFolder(appManager, ProgramStem(package, host.InstallerFile()))
                                : options.appManagerFolder;
    AppManagerJob job;
    Error error;
    if (!PlanAppManager(package, host.InstallerFile(), folder, options.device, job, error) ||
        !HandToAppManager(package, job, *desktop, appManager, error)) {
        host.PrintError("The application was not handed to the Application Manager: " + error.Line());
        return kFailure;
    }
    return kSuccess;
}

int SendSilently(Package& package, const Options& options, SetupHost& host) {
    Desktop* desktop = host.GetDesktop();
    DeviceDelivery delivered;
    Error error;
    if (!desktop) {
        error = Refusal("the desktop's connection software for devices is not installed on this PC");
    } else if (SendToDevice(package, host.InstallerFile(), options.device, *desktop, nullptr, delivered, error)) {
        return kSuccess;
    }
    host.PrintError("Nothing was installed on the device: " + error.Line());
    return kFailure;
}

// Whoever asks for silence accepts the agreement for the user, as with other installers' silent
// modes: there is no one to show it to. Without a way given, the wizard's first way is taken.
int InstallSilently(Package& package, const Options& options, SetupHost& host) {
    Way way = options.wayGiven ? options.way : FirstWay(host.GetDesktop(), kConnectWaitMilliseconds);
    switch (way) {
    case Way::AppManager:
        return HandOverSilently(package, options, host);
    case Way::Device:
        return SendSilently(package, options, host);
    case Way::Folder:
        return InstallInFolder(package, options, host);
    case Way::Cabinet:
        break;
    }
    // The file for the device is written whole or not at all, so there is no count to report.
    CabinetJob job;
    Error error;
    std::u16string folder = options.cabinetFolder.empty() ? host.DocumentsFolder() : options.cabinetFolder;
    if (!PlanCabinet(package, host.InstallerFile(), options.cpuFlag, folder, options.device, job, error) ||
        !WriteCabinetJob(package, job, error)) {
        host.PrintError("No installation file was written: " + error.Line());
        return kFailure;
    }
    return kSuccess;
}

} // namespace

std::u16string DefaultDeviceFolder(const Package& package, SetupHost& host) {
    return platform::JoinHostPath(host.DocumentsFolder(), ProgramStem(package, host.InstallerFile()));
}

bool SetupHost::LoadDeviceOptions(device::DeviceOptions& options, Error& error) {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (platform::FindOwnResource(kDeviceOptionsName, u"RT_RCDATA", data, size) != platform::ResourceStep::Found) {
        options = device::DeviceOptions{};
        return true;
    }
    return device::LoadOptions(std::span<const std::uint8_t>(data, size), options, error);
}

int RunSetup(const std::vector<std::u16string>& arguments, Package& package, bool packageOpened, SetupHost& host) {
    bool silent = AsksForSilence(arguments);
    if (AsksForUsage(arguments)) {
        silent ? host.PrintOutput(kUsageText) : host.ShowInformation(kUsageText);
        return kSuccess;
    }
    Options options;
    std::string cause;
    if (!ParseOptions(arguments, options, cause)) {
        silent ? host.PrintError(cause) : host.ShowError(cause);
        return kFailure;
    }
    if (!packageOpened) {
        // An installer carrying several packages is refused, as the tool's readers refuse it: the
        // one the system would pick cannot be told in advance.
        std::string message =
            package.LastError() == kSeveralPackages ? platform::ToUtf8(kSeveralPackages) : kNoPackageMessage;
        silent ? host.PrintError(message) : host.ShowError(message);
        return kFailure;
    }
    Error error;
    if (!host.LoadDeviceOptions(options.device, error)) {
        std::string message = "This installer is damaged: " + error.message + ".";
        silent ? host.PrintError(message) : host.ShowError(message);
        return kFailure;
    }
    return silent ? InstallSilently(package, options, host) : host.RunWizard(package, options);
}

} // namespace installer_template
