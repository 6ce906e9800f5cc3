// Gathering files into the workspace, as a drop onto the main window does: every file of a folder,
// at any depth, becomes one entry with all four processor families; a file dropped on its own
// becomes one entry. The window (or the command-line builder) learns of each file through a sink.
#pragma once

#include "package/package.h"

#include <string>
#include <string_view>
#include <vector>

namespace workspace {

class GatherSink {
public:
    virtual ~GatherSink() = default;
    // A file became an entry; `row` is its path relative to the gathered folder ("sub\readme.txt").
    virtual void FileAdded(std::u16string_view row) = 0;
    // A file found by a walk could not be added (cannot be opened, too large, path too long).
    virtual void FileRefused(std::u16string_view fullPath) = 0;
};

// Walks `folder` depth first and appends every file found, in the host's listing order, with a
// folder's content added where the folder's name comes up. Leaves the header alone.
void WalkAndAdd(Package& package, std::u16string_view folder, GatherSink& sink);

// Replaces the workspace's files with the dropped items. A folder sets the source folder to
// itself with a trailing backslash; a file to its parent folder without one. With several items
// the last one's source folder stays. A dropped file that cannot be added is skipped silently.
void DropItems(Package& package, const std::vector<std::u16string>& items, GatherSink& sink);

// A path as a package stores it: with backslashes.
std::u16string StoredPath(std::u16string_view path);

} // namespace workspace
