// Where a member of a package belongs below a folder: its path relative to the header's
// sourceFolder, checked so that no member can name a place outside that folder. Also the
// conversions between the package core's UTF-16 paths and std::filesystem's.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cli {

// The member's path below the source folder, components joined by backslashes as packages store
// them. Fails with the cause for a member outside the source folder, and for a relative path that
// is absolute, names a drive or stream, or climbs out with "..".
bool RelativeMemberPath(std::u16string_view sourceFolder, std::u16string_view filename, std::u16string& relative,
                        std::string& cause);

// `folder` joined with a relative path in stored form, in the host's own form.
std::u16string JoinHostPath(std::u16string_view folder, std::u16string_view relative);

// Exact conversions: on Windows UTF-16 both ways, on POSIX through UTF-8. A name that does not
// convert gives an empty path.
std::filesystem::path FsPath(std::u16string_view path);
std::u16string FromFsPath(const std::filesystem::path& path);

// Makes the folder of `target` (a file to be written below `root`, a canonical path) and checks,
// once links are followed, that the folder is still inside `root`; a link in the way of the file
// itself is refused too, so that a link planted below `root` cannot carry a file elsewhere.
bool PrepareTarget(const std::filesystem::path& root, const std::u16string& target, std::string& cause);

// Why a path cannot be opened as a file for reading: missing, a folder, or unreadable.
std::string CannotOpenCause(std::u16string_view path);

} // namespace cli
