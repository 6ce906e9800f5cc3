// What an installation will write, decided from the package before anything is written: each
// member for the chosen processor at its place below the destination, and the start-menu
// shortcuts. A package comes from outside, so one refused path refuses the whole installation.
#pragma once

#include "package/records.h"

#include <cstdint>
#include <string>
#include <vector>

class Package;

namespace setup {

struct PlannedFile {
    std::int32_t index = 0;  // the member
    std::u16string relative; // below the destination folder, with backslashes
    std::uint32_t size = 0;
};

struct PlannedShortcut {
    std::u16string relative; // below the destination folder, with backslashes
    std::string text;        // the file's whole content
};

struct InstallPlan {
    std::u16string deviceFolder; // relative to the device's root
    std::vector<PlannedFile> files;
    std::vector<PlannedShortcut> shortcuts;
    std::uint64_t totalBytes = 0;
};

// A shortcut name as the package gives it, checked as the installer checks it: a plain file name
// Windows accepts. Fails with the cause.
bool CheckShortcutName(std::u16string_view given, std::u16string& name, std::string& cause);

// Plans the members flagged for `cpuFlag`. Fails with a one-line cause (and an empty plan) when
// a member's path or shortcut name is not a plain place below the destination.
bool PlanInstall(const Package& package, std::uint32_t cpuFlag, InstallPlan& plan, std::string& cause);
// The same from a header and table as stored, for checking a package that is not opened.
bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, std::string& cause);

} // namespace setup
