// What an installation puts on the device, decided from the package before anything is written:
// each member for the chosen processor at its place on the device, the folders they go into, the
// start-menu shortcuts and the licence. The installer's folder install, extract, the CAB wizard's
// INF and the device cabinet are all made from this one plan. A package comes from outside, so
// one refused name refuses the whole plan.
#pragma once

#include "package/records.h"
#include "platform/error.h"
#include "platform/names.h"

#include <cstdint>
#include <string>
#include <vector>

class Package;

namespace device {

// Plans every member whatever its processors: what extract writes without a processor family.
inline constexpr std::uint32_t kEveryMember = 0xFFFFFFFF;

struct PlannedFile {
    std::int32_t index = 0;  // the member
    std::u16string below;    // below the package's source folder, with backslashes
    std::u16string relative; // on the device, from its root, with backslashes
    std::uint32_t size = 0;
};

struct PlannedShortcut {
    std::u16string relative; // the shortcut file on the device, from its root
    std::u16string name;     // its file name in the start menu's program folder
    std::size_t file = 0;    // what it opens: an index into the plan's files
    std::string text;        // the shortcut file's whole content
};

struct InstallPlan {
    std::int32_t targetFolder = 0;
    std::u16string installFolder; // below the target folder, checked ("" for none)
    std::u16string deviceFolder;  // the target folder and installFolder, from the device's root
    std::vector<PlannedFile> files;
    // Every folder a file goes into, from the device's root, each once, in the order the files
    // first need them.
    std::vector<std::u16string> folders;
    std::vector<PlannedShortcut> shortcuts;
    // The licence: the first member carrying the agreement flag, or -1. It is shown before
    // installing, and installed only when it also carries the processor's flag.
    std::int32_t licence = -1;
    std::uint64_t totalBytes = 0;
};

// A shortcut name as the package gives it, checked as the installer checks it: a plain file name
// Windows accepts. Fails with the error.message.
bool CheckShortcutName(std::u16string_view given, std::u16string& name, Error& error);

// Plans the members flagged for `cpuFlag` (or every member, for kEveryMember). Fails with a
// one-line error.message (and an empty plan) when a member's path or shortcut name is not a plain place
// below the destination, when two places would be one file on Windows or the device, or when a
// device path is too long for the device.
bool PlanInstall(const Package& package, std::uint32_t cpuFlag, InstallPlan& plan, Error& error);

// The problem a clash among the device's paths `places` (platform::NameClashes) makes, told as the
// plan tells it: a cabinet's own files are held to the same rule.
std::string DeviceClash(const platform::NameClash& c, const std::vector<std::u16string>& places);
// The same from a header and table as stored, for checking a package that is not opened.
bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, Error& error);
// The same with every refused member named, one problem a line.
bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, std::vector<std::string>& problems);

// The licence of a package: the first member carrying the agreement flag, whatever its other
// flags; -1 for none.
std::int32_t LicenceMember(const Package& package);

// A device's paths hold at most 259 characters with the end of the text (MAX_PATH less the
// leading backslash): the plan refuses a longer one, and the cabinet reader a cabinet naming one.
inline constexpr std::size_t kLongestDevicePath = 259;

// The folder part of a device path ("" for a name at the root).
std::u16string_view FolderOf(std::u16string_view path);
// The last name of a device path.
std::u16string_view NameOf(std::u16string_view path);

} // namespace device
