// One level of a folder's listing: the walk that gathers an application's files goes through here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct FolderItem {
    std::u16string name; // without its folder
    bool isFolder = false;
    // Set only where the host's name is not text (on POSIX, bytes that are not UTF-8): `name` then
    // has U+FFFD where the bytes broke and opens nothing, and this is the name fit to show, the
    // bytes that broke written as \xNN.
    std::string brokenName;
};

// Lists the names in `folder`, "." and ".." included where the host reports them. Win32 gives the
// platform's own order; POSIX hosts, whose order is arbitrary, sort as NTFS lists (by the names
// upper-cased), so that a folder gathers in the same order on every host. False when the folder cannot be listed.
bool ListFolder(std::u16string_view folder, std::vector<FolderItem>& items);

// Whether the path names a folder. Like the platform's attribute test, a path that cannot be
// examined counts as a folder.
bool IsFolderOrUnknown(std::u16string_view path);

} // namespace platform
