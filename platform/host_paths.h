// Paths of the file system this program runs on: the package core's UTF-16 paths converted for
// std::filesystem and back, a relative path in stored form joined to a folder, and why a path
// does not open as a file. About this host only; where a file goes on the device is device/'s.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// `folder` joined with a relative path in stored form (either separator), in the host's own form.
std::u16string JoinHostPath(std::u16string_view folder, std::u16string_view relative);

// Exact conversions: on Windows UTF-16 both ways, on POSIX through UTF-8. A name that does not
// convert gives an empty path.
std::filesystem::path FsPath(std::u16string_view path);
std::u16string FromFsPath(const std::filesystem::path& path);

// Why a path cannot be opened as a file for reading: missing, a folder, or unreadable.
std::string CannotOpenCause(std::u16string_view path);

} // namespace platform
