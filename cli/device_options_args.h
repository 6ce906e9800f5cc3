// The options that give a workspace's cabinet what its files do not: --os-version, --build-min,
// --build-max, --unsupported, --setup-dll and --registry, taken alike by cab, inf -d and installer.
#pragma once

#include "cli/args.h"
#include "cli/command.h"
#include "device/device_options.h"
#include "package/package.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

inline constexpr std::array<OptionSpec, 7> kDeviceOptionSpecs{{{"--codepage", "", true},
                                                               {"--os-version", "", true},
                                                               {"--build-min", "", true},
                                                               {"--build-max", "", true},
                                                               {"--unsupported", "", true},
                                                               {"--setup-dll", "", true},
                                                               {"--registry", "", true}}};

// A command's own options followed by the device options.
template <std::size_t N>
constexpr std::array<OptionSpec, N + kDeviceOptionSpecs.size()> WithDeviceOptions(const std::array<OptionSpec, N>& own) {
    std::array<OptionSpec, N + kDeviceOptionSpecs.size()> all{};
    for (std::size_t i = 0; i < N; ++i) {
        all[i] = own[i];
    }
    for (std::size_t i = 0; i < kDeviceOptionSpecs.size(); ++i) {
        all[N + i] = kDeviceOptionSpecs[i];
    }
    return all;
}

// Their lines of a command's help.
inline constexpr std::string_view kDeviceOptionsHelp =
    "  --codepage N          the device's code page, in which names and texts are written (default\n"
    "                        1252, Western; 932 Japanese, 936 Simplified Chinese, 949 Korean, 950\n"
    "                        Traditional Chinese, 874 Thai, 1250-1258 the other Windows code pages);\n"
    "                        a name it cannot hold is refused\n"
    "  --os-version MIN[-MAX]\n"
    "                        the Windows CE versions the cabinet installs on, MAJOR.MINOR each\n"
    "                        (\"4.20-6.99\"; the minor number is a whole number: 4.2 is 4.2, not 4.20)\n"
    "  --build-min N, --build-max N\n"
    "                        the CE builds it installs on (decimal, or hexadecimal with 0x)\n"
    "  --unsupported \"NAME,NAME\"\n"
    "                        platforms it refuses to install on, as the devices name themselves\n"
    "  --setup-dll FILE      a setup DLL the device runs before and after installing (file 999)\n"
    "  --registry FILE.reg   registry values to write on the device, from a registry editor export\n"
    "                        (REGEDIT4 or version 5.00: strings, dword:, hex:, hex(7):); %InstallDir%\n"
    "                        and %CEn% stay in the data for the device to expand\n";

// The whole file at `path`, refused when longer than `longest`: for the small files the options
// and an INF name. Fails with the error (its subject empty: the caller names the file).
bool ReadBoundedFile(const std::u16string& path, std::size_t longest, std::vector<std::uint8_t>& bytes, Error& error);

// Whether any of them is given.
bool HasDeviceOptions(const Args& args);

// Their values, checked: false with a usage problem for one the command cannot take.
bool ParseDeviceOptions(const Args& args, device::DeviceOptions& options, std::string& problem);

// Reads the files they name (the setup DLL, the .reg file) into `options`: false, after printing
// the error, when one cannot be read or is not what it should be.
bool LoadDeviceOptionFiles(const Args& args, device::DeviceOptions& options);

} // namespace cli

namespace cli {

// An installer's own device options (resource DEVOPTS), which cab and inf -d of an installer use
// when the command line gives none; false after printing why they cannot be read. None for an
// installer that keeps none.
bool LoadInstallerDeviceOptions(const std::u16string& installer, device::DeviceOptions& options);

// Whether the installer's cabinet way can write the cabinet of every family the package has files
// for, with `options`: prints one error line about `subject` per family that cannot ("would not
// make the cabinet for ARM: ...") and answers false when one cannot.
bool ReportCabinetProblems(const Package& package, std::u16string_view appName, const device::DeviceOptions& options,
                           std::u16string_view subject);

// The options as lines for info ("  CE versions: ..."), none when there are none.
std::vector<std::string> DeviceOptionLines(const device::DeviceOptions& options);

} // namespace cli
