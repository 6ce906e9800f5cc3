// What a workspace's cabinet carries besides its files, given on the command line: CE version and
// build limits, platforms refused, registry values, a setup DLL. `cab`, `inf -d` and `installer`
// take the same options; the installer keeps them beside its package, so that the cabinet its
// end user makes is the cabinet `cab` makes.
#pragma once

#include "device/cabinet.h"
#include "device/cabinet_design.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace device {

struct DeviceOptions {
    std::uint32_t codePage = 1252; // the device's, in which names are written
    DeviceLimits limits;
    std::vector<std::u16string> unsupported;
    std::vector<RegistryValue> registry;
    std::u16string setupDllName; // as installed; empty for none
    std::vector<std::uint8_t> setupDll;

    bool Empty() const {
        return codePage == 1252 && limits == DeviceLimits{} && unsupported.empty() && registry.empty() &&
               setupDllName.empty();
    }
    bool operator==(const DeviceOptions&) const = default;
};

// A setup DLL is read whole: the device loads it into memory too, and real ones take tens of KiB.
inline constexpr std::size_t kLongestSetupDll = 16u << 20;

// The member number the setup DLL of a design made with ApplyOptions is read by.
inline constexpr std::int32_t kSetupDllMember = -2;

// The options put into a workspace's design: its limits, platforms, registry values and setup DLL.
void ApplyOptions(const DeviceOptions& options, CabinetDesign& design);

// The members of `members`, and the setup DLL of `options` as kSetupDllMember.
class WithSetupDll : public MemberSource {
public:
    WithSetupDll(MemberSource& members, const DeviceOptions& options) : members_(members), options_(options) {}
    bool Open(std::int32_t index, std::uint32_t size, Error& error) override;
    bool Read(void* buffer, std::uint32_t size, Error& error) override;

private:
    MemberSource& members_;
    const DeviceOptions& options_;
    bool setup_ = false;
    std::size_t offset_ = 0;
};

// The options as the installer stores them (a resource of its own), and read back from there;
// reading refuses, with the error.message, bytes that are not such a record whole.
std::vector<std::uint8_t> StoreOptions(const DeviceOptions& options);
bool LoadOptions(std::span<const std::uint8_t> bytes, DeviceOptions& options, Error& error);

} // namespace device
