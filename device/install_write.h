// Carrying out an install plan below a folder on this host: the members with their subfolders,
// then the shortcut files. The installer's folder install (its wizard and silent mode) and
// extract write through this one function, so that both give the same tree at the same speed.
#pragma once

#include "device/install_plan.h"

#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <string_view>

class Package;

namespace device {

// Told before each file is written, so that a window can show what is happening.
class InstallObserver {
public:
    virtual ~InstallObserver() = default;
    virtual void FileStarting(const std::u16string& relative, std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
};

struct InstallOutcome {
    std::size_t filesWritten = 0; // members and shortcuts; the one it stopped at is the next
    std::size_t filesPlanned = 0;
    // The file that could not be written (its place in the plan as the subject), or the
    // destination folder (its path as given), and why, with the system's reason where a call failed.
    Error error;
    // The host's path of the file it stopped at; empty when the destination folder itself failed.
    std::u16string file;
    bool Complete() const { return !error && filesWritten == filesPlanned; }
};

// Writes the plan's files at their places below `destination` (made when missing). Stops at the
// first file that cannot be written; a file left half-written is removed, and an earlier file of
// that name stays as it was. Nothing is written outside the destination, not even through a link
// planted inside it. `source`, when given, is the file the package is read from, which no member
// may replace.
InstallOutcome WriteInstall(Package& package, const InstallPlan& plan, std::u16string_view destination,
                            InstallObserver* observer, const platform::FileId* source = nullptr);

} // namespace device
