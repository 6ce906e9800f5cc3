// Carrying out an installation plan: members extracted below the destination folder with their
// subfolders, then the shortcut files. Portable: the wizard and the silent mode drive it on
// Windows, the native tests on this host.
#pragma once

#include "device/install_plan.h"

#include "platform/error.h"

#include <cstdint>
#include <string>

class Package;

namespace setup {

// Told before each file is written, so that a window can show what is happening.
class InstallObserver {
public:
    virtual ~InstallObserver() = default;
    virtual void FileStarting(const std::u16string& relative, std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
};

struct InstallOutcome {
    std::size_t filesWritten = 0; // members and shortcuts
    std::size_t filesPlanned = 0;
    Error error; // the file that could not be written, and why
    bool Complete() const { return !error && filesWritten == filesPlanned; }
};

// Writes the plan below `destination` (made when missing). Stops at the first file that cannot
// be written; a file left half-written is removed. Nothing is written outside the destination,
// not even through a link planted inside it.
InstallOutcome RunInstall(Package& package, const device::InstallPlan& plan, const std::u16string& destination,
                          InstallObserver* observer);

} // namespace setup
