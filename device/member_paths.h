// Where a member of a package belongs below a folder: its path relative to the header's
// sourceFolder, checked so that no member can name a place outside that folder. Also the
// conversions between the package core's UTF-16 paths and std::filesystem's.
#pragma once

#include "platform/error.h"
#include "platform/folder.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace device {

// The member's path below the source folder, components joined by backslashes as packages store
// them. Fails with the error.message for a member outside the source folder, and for a relative path that
// is absolute, names a drive or stream, or climbs out with "..".
bool RelativeMemberPath(std::u16string_view sourceFolder, std::u16string_view filename, std::u16string& relative,
                        Error& error);

// `folder` joined with a relative path in stored form, in the host's own form.
std::u16string JoinHostPath(std::u16string_view folder, std::u16string_view relative);

// Exact conversions: on Windows UTF-16 both ways, on POSIX through UTF-8. A name that does not
// convert gives an empty path.
std::filesystem::path FsPath(std::u16string_view path);
std::u16string FromFsPath(const std::filesystem::path& path);

// The place of a file below `root` (the destination, open): the folders on the way, made where
// missing and opened one below the other into `chain` (its last is the file's folder; empty for a
// file right in `root`), and the file's `name` there. Refuses, with the error.message, a link or junction anywhere
// below `root` (examined itself, never followed), a file or device where a folder belongs, and anything but a regular
// file at the file's own name, so that nothing can be written outside `root` or into something that is not a plain
// file. The chain must stay open while the file is written.
bool PrepareTarget(const platform::FolderHandle& root, std::u16string_view relative,
                   std::vector<platform::FolderHandle>& chain, std::u16string& name, Error& error);

// PrepareTarget for one file after another: the folders the next file shares with the last stay
// open and are used again, so a folder of many files is made and opened once, not once per file.
// A folder held open is the one that was examined, so using it again follows no link.
class TargetFolders {
public:
    explicit TargetFolders(const platform::FolderHandle& root) : root_(root) {}
    // The folder to write the file `name` in, or nullptr with the error.message; valid until the next call.
    // `found` says whether a file of that name is there already (Missing or File), with its
    // identity in `id`: what the caller would otherwise have to look up again.
    const platform::FolderHandle* Prepare(std::u16string_view relative, std::u16string& name, Error& error,
                                          platform::PathKind* found = nullptr, platform::FileId* id = nullptr);

private:
    const platform::FolderHandle& root_;
    std::vector<platform::FolderHandle> chain_;
    std::vector<std::u16string> names_; // the component each folder of chain_ was opened by
};

// Why a path cannot be opened as a file for reading: missing, a folder, or unreadable.
std::string CannotOpenCause(std::u16string_view path);

} // namespace device
