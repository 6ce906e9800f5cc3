// The workspace file: the package header and its table of files, with no data. It names the
// application's files by their paths on this PC and keeps their options, the workspace fields,
// the sidebar picture and the build command.
#pragma once

#include "package/package.h"

#include <string_view>

namespace workspace {

// Sets the header's count, sidebar picture and build command (they stay set whatever happens
// next), then writes header and table. False when the file cannot be created or written, or the
// path is a folder, a link, a device or one of the workspace's own files; the previous file of
// that name is then left as it was. `reason`, when given, receives the system's words for a call
// that failed (a full disk, a missing folder), and stays empty where none did.
bool SaveWorkspace(Package& package, const char16_t* path, std::u16string_view imageFile,
                   std::u16string_view buildCommand, std::string* reason = nullptr);

// Whether the path leads to the file of one of the package's members.
bool IsMemberFile(const Package& package, std::u16string_view path);

// The text of a row for an entry of an opened workspace: its path less as many leading
// characters as the source folder has (nothing is checked beyond the length). An entry shorter
// than that shows its whole path.
std::u16string RowForEntry(const PackageEntry& entry, std::u16string_view sourceFolder);

} // namespace workspace
