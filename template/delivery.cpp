// The Application Manager's way and the connection's way, over the desktop's interfaces.
#include "template/delivery.h"

#include "device/app_manager_ini.h"
#include "device/cabinet_file.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/destination.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/replacement.h"
#include "platform/text.h"

#include <algorithm>
#include <vector>

namespace installer_template {
namespace {

// Large enough that the connection's cost per call is small beside the bytes, small enough that
// the progress bar moves for a cabinet of a few hundred kilobytes.
constexpr std::uint32_t kCopyBlock = 64 * 1024;

std::string FamilyText(const device::CpuChoice& family) { return platform::ToUtf8(family.name); }

bool WriteText(std::u16string_view path, const std::string& bytes, Error& error) {
    if (!platform::ReplaceWith(path, bytes)) {
        error = SystemError(ErrorCode::CannotWrite, platform::ToUtf8(path), "cannot be written");
        return false;
    }
    return true;
}

// Removes the cabinet written on its way to the device, and the folder made for it.
class Scratch {
public:
    ~Scratch() {
        if (!path.empty()) {
            platform::RemoveFile(path);
        }
    }
    std::u16string path;
    platform::Destination folder;
};

} // namespace

Way FirstWay(Desktop* desktop, unsigned probeMilliseconds) {
    if (!desktop) {
        return Way::Cabinet;
    }
    if (!desktop->AppManager().empty()) {
        return Way::AppManager;
    }
    DeviceLink* link = desktop->Link();
    if (!link) {
        return Way::Cabinet;
    }
    if (probeMilliseconds == 0) {
        return Way::Device;
    }
    std::unique_ptr<DeviceSession> session;
    Error ignored;
    return link->Connect(probeMilliseconds, session, ignored) == Connection::Connected ? Way::Device : Way::Cabinet;
}

std::u16string ProgramStem(const Package& package, std::u16string_view installerPath) {
    return device::OutputStem(device::OutputAppName(package.GetHeader(), installerPath));
}

bool PlanAppManager(const Package& package, std::u16string_view installerPath, std::u16string_view folder,
                    const device::DeviceOptions& options, AppManagerJob& job, Error& error) {
    job = AppManagerJob{};
    if (folder.empty()) {
        error = Refusal("no folder was given");
        return false;
    }
    // The Application Manager is given the .ini's whole path, whatever folder it was started from.
    std::error_code failed;
    std::filesystem::path whole = std::filesystem::absolute(platform::FsPath(folder), failed);
    std::u16string absolute = failed ? std::u16string(folder) : platform::FromFsPath(whole);
    folder = absolute;
    std::vector<std::u16string> names;
    for (const device::CpuChoice& family : device::kCpuChoices) {
        device::InstallPlan plan;
        if (!device::PlanInstall(package, family.flag, plan, error)) {
            return false;
        }
        if (plan.files.empty()) {
            continue;
        }
        CabinetJob cabinet;
        if (!PlanCabinet(package, installerPath, family.flag, folder, options, cabinet, error)) {
            return false;
        }
        names.push_back(platform::FromFsPath(platform::FsPath(cabinet.path).filename()));
        job.cabinets.push_back(std::move(cabinet));
    }
    if (job.cabinets.empty()) {
        error = Refusal("this package holds no file for any processor");
        return false;
    }
    std::u16string appName = device::OutputAppName(package.GetHeader(), installerPath);
    if (!device::MakeAppManagerIni(appName, names, job.iniBytes, error)) {
        return false;
    }
    job.folder = folder;
    job.ini = platform::JoinHostPath(folder, device::AppManagerIniName(appName));
    return true;
}

bool WriteAppManagerJob(Package& package, const AppManagerJob& job, Error& error) {
    platform::Destination made;
    if (!made.Make(job.folder, error)) {
        error.subject = platform::ToUtf8(job.folder);
        return false;
    }
    // All or nothing: the Application Manager must never be left a list naming a missing file.
    std::vector<std::u16string> written;
    auto undo = [&written] {
        platform::KeepSystemReason keep;
        for (const std::u16string& path : written) {
            platform::RemoveFile(path);
        }
    };
    for (const CabinetJob& cabinet : job.cabinets) {
        if (!WriteCabinetJob(package, cabinet, error)) {
            undo();
            return false;
        }
        written.push_back(cabinet.path);
    }
    if (!WriteText(job.ini, job.iniBytes, error)) {
        undo();
        return false;
    }
    made.Keep();
    return true;
}

bool HandToAppManager(Package& package, const AppManagerJob& job, Desktop& desktop, std::u16string_view appManager,
                      Error& error) {
    if (!WriteAppManagerJob(package, job, error)) {
        return false;
    }
    std::uint32_t exitCode = 0;
    if (!desktop.RunAppManager(appManager, job.ini, exitCode, error)) {
        return false;
    }
    if (exitCode != 0) {
        error = Refusal("the Application Manager (" + platform::ToUtf8(appManager) + ") ended with exit status " +
                        std::to_string(exitCode));
        return false;
    }
    return true;
}

const device::CpuChoice* FamilyOfArchitecture(std::uint16_t architecture) {
    // PROCESSOR_ARCHITECTURE_INTEL, _MIPS, _SHX and _ARM, as a device reports them.
    switch (architecture) {
    case 0:
        return device::CpuChoiceOf(FLAG_INTEL);
    case 1:
        return device::CpuChoiceOf(FLAG_MIPS);
    case 4:
        return device::CpuChoiceOf(FLAG_SHX);
    case 5:
        return device::CpuChoiceOf(FLAG_ARM);
    default:
        return nullptr;
    }
}

bool SendToDevice(Package& package, std::u16string_view installerPath, const device::DeviceOptions& options,
                  Desktop& desktop, CopyObserver* observer, DeviceDelivery& delivered, Error& error) {
    delivered = DeviceDelivery{};
    DeviceLink* link = desktop.Link();
    if (!link) {
        error = Refusal("the desktop's connection software for devices (ActiveSync or Windows Mobile Device Center) "
                        "is not installed on this PC");
        return false;
    }
    std::unique_ptr<DeviceSession> device;
    switch (link->Connect(kConnectWaitMilliseconds, device, error)) {
    case Connection::Connected:
        break;
    case Connection::NoDevice:
        error = Refusal("no device answered within " + std::to_string(kConnectWaitMilliseconds / 1000) +
                        " seconds; connect the device, wait until the desktop shows it as connected, and try again");
        return false;
    case Connection::Failed:
        return false;
    }
    std::uint16_t architecture = 0;
    std::uint32_t type = 0;
    if (!device->Processor(architecture, type, error)) {
        return false;
    }
    delivered.family = FamilyOfArchitecture(architecture);
    if (!delivered.family) {
        error = Refusal("the connected device has a processor no Pocket PC family stands for (architecture " +
                        std::to_string(architecture) + ", type " + std::to_string(type) + ")");
        return false;
    }

    Scratch scratch;
    std::u16string folder = platform::JoinHostPath(desktop.TemporaryFolder(), ProgramStem(package, installerPath) +
                                                                                   u" for the device");
    CabinetJob job;
    if (!PlanCabinet(package, installerPath, delivered.family->flag, folder, options, job, error)) {
        if (error.code == ErrorCode::Refused && error.message.find("holds no file") != std::string::npos) {
            error.message = "the connected device has the " + FamilyText(*delivered.family) + " processor (type " +
                            std::to_string(type) + "), and " + error.message;
        }
        return false;
    }
    if (!scratch.folder.Make(folder, error)) {
        error.subject = platform::ToUtf8(folder);
        return false;
    }
    if (!WriteCabinetJob(package, job, error)) {
        return false;
    }
    scratch.path = job.path;

    platform::File cabinet = platform::File::OpenRead(job.path, platform::Share::Read);
    std::uint64_t total = 0;
    if (!cabinet.IsOpen() || !cabinet.Size(total)) {
        error = SystemError(ErrorCode::CannotOpen, platform::ToUtf8(job.path), "cannot be read");
        return false;
    }
    std::u16string name = platform::FromFsPath(platform::FsPath(job.path).filename());
    delivered.devicePath = std::u16string(kDeviceCabinetFolder) + u"\\" + name;
    if (!device->MakeFolder(kDeviceCabinetFolder, error) || !device->MakeFile(delivered.devicePath, error)) {
        return false;
    }
    // A copy that stops half way leaves a cabinet no installer will open taking the device's
    // little storage, and one whose installer did not start is never removed by it.
    auto removeCopy = [&device, &delivered] {
        Error ignored;
        device->CloseFile(ignored);
        device->RemoveFile(delivered.devicePath);
    };
    std::vector<std::uint8_t> block(kCopyBlock);
    std::uint64_t done = 0;
    if (observer) {
        observer->Copied(0, total);
    }
    while (done < total) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(kCopyBlock, total - done));
        if (!platform::ReadExactly(cabinet, block.data(), want)) {
            error = SystemError(ErrorCode::CannotRead, platform::ToUtf8(job.path), "cannot be read");
            removeCopy();
            return false;
        }
        for (std::uint32_t sent = 0; sent < want;) {
            std::uint32_t taken = 0;
            if (!device->Write(std::span<const std::uint8_t>(block.data() + sent, want - sent), taken, error)) {
                removeCopy();
                return false;
            }
            if (taken == 0) {
                error = Refusal("the device took none of the file's bytes after " + std::to_string(done + sent) +
                                " of " + std::to_string(total));
                error.subject = platform::ToUtf8(delivered.devicePath);
                removeCopy();
                return false;
            }
            sent += std::min(taken, want - sent);
        }
        done += want;
        if (observer) {
            observer->Copied(done, total);
        }
    }
    if (!device->CloseFile(error)) {
        device->RemoveFile(delivered.devicePath);
        return false;
    }
    if (!device->StartProgram(kDeviceInstaller, u"\"" + delivered.devicePath + u"\"", error)) {
        device->RemoveFile(delivered.devicePath);
        return false;
    }
    return true;
}

std::u16string WrapLines(std::u16string_view text, int width, int (*measure)(std::u16string_view, void*),
                         void* context) {
    std::u16string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u"\r\n", start);
        std::u16string_view line = text.substr(start, end == std::u16string_view::npos ? end : end - start);
        // Greedy: the longest piece that fits, ended after its last blank or separator, else at the
        // last character that fits (at least one, so that it ends).
        while (!line.empty() && measure(line, context) > width) {
            std::size_t fits = 1;
            while (fits < line.size() && measure(line.substr(0, fits + 1), context) <= width) {
                ++fits;
            }
            // A blank may fall just past what fits (it is dropped); a separator stays on its line.
            std::size_t cut = 0;
            std::size_t blank = line.substr(0, fits + 1).find_last_of(u' ');
            std::size_t separator = line.substr(0, fits).find_last_of(u"\\/");
            if (blank != std::u16string_view::npos && blank > 0) {
                cut = blank + 1;
            }
            if (separator != std::u16string_view::npos) {
                cut = std::max(cut, separator + 1);
            }
            if (cut == 0) {
                cut = fits;
            }
            std::u16string_view piece = line.substr(0, cut);
            // A blank at the break would only push the next line along.
            while (piece.size() > 1 && piece.back() == u' ') {
                piece.remove_suffix(1);
            }
            out.append(piece).append(u"\r\n");
            line.remove_prefix(std::min(cut, line.size()));
        }
        out.append(line);
        if (end == std::u16string_view::npos) {
            break;
        }
        out.append(u"\r\n");
        start = end + 2;
    }
    return out;
}

} // namespace installer_template
