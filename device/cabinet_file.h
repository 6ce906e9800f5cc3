// A device cabinet as a file on the PC: the name it is given, the settings it is written with
// unless told otherwise, its members read from an opened package, and its writing. tarvelo-build
// cab and the installer's "installation file for the device" both come through here, so that the
// same package gives the same file, name and bytes, from either.
#pragma once

#include "device/cabinet.h"
#include "device/device_options.h"
#include "device/layout.h"

#include <string>
#include <string_view>

class Package;

namespace device {

inline constexpr std::u16string_view kCabinetExtension = u".CAB";

// The application's name in its outputs: the program name, or where the package has none the name
// of the file it came in without its extension, control characters as '_' ("Setup" when that is
// empty too).
std::u16string OutputAppName(const PackageHeader& header, std::u16string_view inputPath);

// The application's name made a file name that Windows takes: characters it refuses become '_',
// trailing dots and blanks go, and a device name gets a '_' where Windows looks for one ("CON_",
// "NUL_.x"), so that no output named after it opens a device.
std::u16string OutputStem(std::u16string_view appName);

// "STEM.FAMILY<extension>", as "Notes.ARM.CAB".
std::u16string FamilyOutputName(std::u16string_view appName, const CpuChoice& family, std::u16string_view extension);

// The application's name, the program name as provider, the family's processor, stored.
CabinetSettings DefaultCabinetSettings(std::u16string_view appName, const CpuChoice& family, std::int64_t time);

// One family's cabinet, planned: what tarvelo-build cab and the installer's installation file for
// the device both write.
struct FamilyCabinet {
    CabinetSettings settings;
    CabinetDesign design;
};

// The design of `plan` for `family`, with the default settings (the provider given, or the
// program name), the options put in, checked as the writer checks it. Fails with the error.message.
bool PlanFamilyCabinet(const InstallPlan& plan, std::u16string_view appName, std::u16string_view provider,
                       const CpuChoice& family, const DeviceOptions& options, std::int64_t time, FamilyCabinet& out,
                       Error& error);

// The members of an opened package, read in pieces where they lie.
class PackageMemberSource : public MemberSource {
public:
    explicit PackageMemberSource(Package& package) : package_(package) {}
    bool Open(std::int32_t index, std::uint32_t size, Error& error) override;
    bool Read(void* buffer, std::uint32_t size, Error& error) override;

private:
    Package& package_;
    std::int32_t index_ = -1;
    std::uint32_t offset_ = 0;
};

// Writes the cabinet to `path` through a platform::Replacement: the file appears whole or not at
// all, an existing regular file of that name is replaced, anything else there is refused. Fails
// with the error (its subject empty: the caller names the path).
bool WriteCabinetFile(const CabinetDesign& design, const CabinetSettings& settings, MemberSource& members,
                      std::u16string_view path, Error& error);

} // namespace device
