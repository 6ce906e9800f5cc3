// Finding a workspace's files on this computer when it names them by another's paths: a workspace
// saved by the main window on Windows stores "C:\Work\App\..." and its source folder
// "C:\Work\App\", and --source-folder says where that folder's files lie here. Every command that
// reads a workspace's members, or compares a package with its sources, looks them up here.
#pragma once

#include "package/package.h"

#include <string>
#include <string_view>

namespace cli {

// The host path of `relative` (a member's path below its source folder, in stored form) below
// `folder`. Each component is taken as it is named when that name exists; else the one name in
// its folder that differs from it only in case is taken, as Windows, where the workspace was
// made, would have opened it. Fails with the cause, naming the path tried, when nothing matches
// and when two names match (both named). Whether the file can be read is left to its reader.
bool FindBelow(std::u16string_view folder, std::u16string_view relative, std::u16string& found, Error& error);

// The same for a member named by its stored path, relative to the header's source folder; a
// member outside that folder, or whose path climbs out of it or names a drive, is refused.
bool FindMember(std::u16string_view folder, std::u16string_view sourceFolder, std::u16string_view filename,
                std::u16string& found, Error& error);

// Makes the package read every member from its file below `folder` (the stored paths stay as they
// are, so the package written is the one a build on the workspace's own computer writes). Nothing
// is done for an empty folder: members are then read from their stored paths. Prints one error
// line, naming the workspace and the member, and answers false when a member is not found.
bool LocateMembers(Package& package, std::u16string_view folder, std::u16string_view workspace);

} // namespace cli
