// Gathering files into the workspace, as a drop onto the main window does: every file of a folder,
// at any depth, becomes one entry with all four processor families; a file dropped on its own
// becomes one entry. The window (or the command-line builder) learns of each file through a sink.
#pragma once

#include "package/package.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace workspace {

class GatherSink {
public:
    virtual ~GatherSink() = default;
    // A file became an entry; `row` is its path relative to the gathered folder ("sub\readme.txt").
    virtual void FileAdded(std::u16string_view row) = 0;
    // Something the walk met was left out: a file that cannot be added, a folder that cannot be
    // listed or is reached a second time through a link, a name that is no name on Windows.
    // `path` is in the host's own form, a name that is not text shown with \xNN; `reason` (UTF-8)
    // reads after it: "PATH: REASON".
    virtual void Refused(std::u16string_view path, std::string_view reason) = 0;
    // The walk's refusals told apart, for a front end that treats a file it could not add unlike a
    // folder it could not walk. A file's `row` is what FileAdded would have been told. Both come to
    // Refused unless overridden.
    virtual void FileRefused(std::u16string_view /*row*/, std::u16string_view path, std::string_view reason) {
        Refused(path, reason);
    }
    virtual void FolderRefused(std::u16string_view path, std::string_view reason) { Refused(path, reason); }
    // Whether a file or folder name found may be gathered, and if not, why. Every name may unless
    // the front end holds names to the rules of the place the files go to.
    virtual bool NameAllowed(std::u16string_view /*name*/, std::string& /*cause*/) { return true; }
    // The walk goes into a subfolder, or back out of one: `subfolder` is where it is now, relative to
    // the gathered folder, empty or ending in a backslash as rows show it.
    virtual void InFolder(std::u16string_view /*subfolder*/) {}
    // The walk is done with one name of a listing, a folder's whole content included; also called for
    // the "." and ".." the host lists, which are never walked.
    virtual void ItemDone() {}
};

// Walks `folder` depth first and appends every file found, in the host's listing order, with a
// folder's content added where the folder's name comes up. Leaves the header alone. No folder is
// entered twice: a link back to a folder the walk is in, or a second way into one, is refused.
void WalkAndAdd(Package& package, std::u16string_view folder, GatherSink& sink);
// The same below `root`, a folder in stored form that ends in a backslash and is taken as it is:
// each file's path is `root` followed by its row.
void WalkBelow(Package& package, std::u16string_view root, GatherSink& sink);

// Replaces the workspace's files with the dropped items. A folder sets the source folder to
// itself with a trailing backslash; a file to its parent folder without one. With several items
// the last one's source folder stays. Whatever cannot be gathered is reported, a dropped file as
// much as a file found by the walk; folders are entered at most once across all the items.
void DropItems(Package& package, const std::vector<std::u16string>& items, GatherSink& sink);

// A path as a package stores it: with backslashes.
std::u16string StoredPath(std::u16string_view path);

} // namespace workspace
