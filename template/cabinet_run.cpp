// Planning and writing the installer's cabinet.
#include "template/cabinet_run.h"

#include "device/cabinet_file.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/destination.h"
#include "platform/host_paths.h"
#include "platform/text.h"

namespace installer_template {

bool PlanCabinet(const Package& package, std::u16string_view installerPath, std::uint32_t cpuFlag,
                 std::u16string_view folder, const device::DeviceOptions& options, CabinetJob& job, Error& error) {
    job = CabinetJob{};
    const device::CpuChoice* family = device::CpuChoiceOf(cpuFlag);
    if (!family || folder.empty()) {
        error = Refusal("no processor or no folder was given");
        return false;
    }
    if (!device::PlanInstall(package, cpuFlag, job.plan, error)) {
        return false;
    }
    if (job.plan.files.empty()) {
        std::string message = "this package holds no file for devices with the ";
        message.append(platform::ToUtf8(family->name)).append(" processor");
        error = Refusal(message);
        return false;
    }
    std::int64_t time = 0;
    if (!device::CabinetTime(time, error)) {
        error.subject = "SOURCE_DATE_EPOCH";
        return false;
    }
    std::u16string appName = device::OutputAppName(package.GetHeader(), installerPath);
    if (!device::PlanFamilyCabinet(job.plan, appName, {}, *family, options, time, job.cabinet, error)) {
        return false;
    }
    job.options = &options;
    job.folder = folder;
    job.path = platform::JoinHostPath(folder, device::FamilyOutputName(appName, *family, device::kCabinetExtension));
    return true;
}

bool WriteCabinetJob(Package& package, const CabinetJob& job, Error& error) {
    // The folder may be reached through links or be a mounted volume, as the folder install's may;
    // a failed write leaves no folder it made.
    platform::Destination made;
    if (!made.Make(job.folder, error)) {
        error.subject = platform::ToUtf8(job.folder);
        return false;
    }
    device::PackageMemberSource files(package);
    const device::DeviceOptions none;
    device::WithSetupDll members(files, job.options ? *job.options : none);
    if (!device::WriteCabinetFile(job.cabinet.design, job.cabinet.settings, members, job.path, error)) {
        error.subject = platform::ToUtf8(job.path);
        return false;
    }
    made.Keep();
    return true;
}

} // namespace installer_template
