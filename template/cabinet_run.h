// The installation file for the device: the cabinet of the installer's own package for one
// processor, written into a folder on this PC, to be copied to the device and opened there. The
// same file, name and bytes, as tarvelo-build cab makes of the same package. Portable: the silent
// mode and the wizard drive it on Windows, the native tests on this host.
#pragma once

#include "device/cabinet.h"
#include "device/cabinet_file.h"
#include "device/device_options.h"
#include "device/install_plan.h"
#include "platform/error.h"

#include <cstdint>
#include <string>

class Package;

namespace installer_template {

struct CabinetJob {
    device::InstallPlan plan;
    device::FamilyCabinet cabinet;
    const device::DeviceOptions* options = nullptr; // the setup DLL's bytes
    std::u16string folder;
    std::u16string path; // the cabinet's whole path: FOLDER\PROGRAM.FAMILY.CAB
};

// Plans the cabinet for `cpuFlag` in `folder`, before anything is written. `installerPath` names
// the program where the package gives no program name, as tarvelo-build names it after its
// input. Fails with a one-line error for a refused plan, a processor without files, a plan a
// cabinet cannot hold and a SOURCE_DATE_EPOCH that is not a date.
bool PlanCabinet(const Package& package, std::u16string_view installerPath, std::uint32_t cpuFlag,
                 std::u16string_view folder, const device::DeviceOptions& options, CabinetJob& job, Error& error);

// Makes the folder when missing and writes the cabinet, replacing a file of that name. Fails with
// the error, its subject the folder or the cabinet.
bool WriteCabinetJob(Package& package, const CabinetJob& job, Error& error);

} // namespace installer_template
