// --source-prefix WINPATH of dat, installer, cab and inf: the output names the workspace's files
// as if it had been gathered below WINPATH on a Windows computer, as a compiler's
// -ffile-prefix-map does for source paths. Builds of one tree in different folders, or on
// different build servers, then give the same bytes, and no folder of the build machine ships
// inside an installer. The files are still read from where they lie.
#pragma once

#include "package/package.h"

#include <string>
#include <string_view>

namespace cli {

// WINPATH checked and put in stored form, without a closing backslash: "C:\Build\App", "C:" for
// a drive's root, "\\server\share\App". Slashes count as backslashes. Fails with the problem (a
// usage error) for anything but an absolute Windows path whose names Windows accepts.
bool ParseSourcePrefix(std::u16string_view given, std::u16string& folder, std::string& problem);

// Stores every member of the workspace `package` at its path below its source folder, below
// `folder` (from ParseSourcePrefix) instead, and the source folder as `folder` with a closing
// backslash. The sidebar picture is stored below `folder` too when it lies in the source folder,
// else by its file name alone. Each member keeps being read from its own file. Prints one error
// line naming the workspace and answers false for a member outside the source folder or a path
// that would be too long.
bool StoreBelowPrefix(Package& package, std::u16string_view folder, std::u16string_view workspace);

} // namespace cli
