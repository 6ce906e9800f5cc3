// POSIX folder listing.
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/text.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace platform {
namespace {

// NTFS lists a folder in the order of its names upper-cased unit by unit; sorting the same way
// makes a folder gather in the same order here as on Windows.
bool ListsBefore(const FolderItem& a, const FolderItem& b) {
    std::size_t common = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < common; ++i) {
        char16_t x = UpperCaseUnit(a.name[i]);
        char16_t y = UpperCaseUnit(b.name[i]);
        if (x != y) {
            return x < y;
        }
    }
    if (a.name.size() != b.name.size()) {
        return a.name.size() < b.name.size();
    }
    return a.name < b.name; // names differing only in case: a fixed order all the same
}

} // namespace

bool ListFolder(std::u16string_view folder, std::vector<FolderItem>& items) {
    items.clear();
    std::string host;
    if (!Utf16ToUtf8(NativePath(folder), host)) {
        return false;
    }
    DIR* dir = ::opendir(host.c_str());
    if (!dir) {
        return false;
    }
    while (const dirent* d = ::readdir(dir)) {
        FolderItem item;
        if (!Utf8ToUtf16(d->d_name, item.name)) {
            item.brokenName = Printable(d->d_name);
        }
        // The listing usually says what an entry is; only links and file systems that do not say
        // cost a stat (a link to a folder counts as a folder, as on Windows it would be one).
        if (d->d_type == DT_DIR || d->d_type == DT_REG) {
            item.isFolder = d->d_type == DT_DIR;
        } else {
            struct stat st;
            std::string full = host + "/" + d->d_name;
            item.isFolder = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        items.push_back(std::move(item));
    }
    ::closedir(dir);
    std::sort(items.begin(), items.end(), ListsBefore);
    return true;
}

bool IsFolderOrUnknown(std::u16string_view path) {
    std::string host;
    struct stat st;
    if (!Utf16ToUtf8(NativePath(path), host) || ::stat(host.c_str(), &st) != 0) {
        return true;
    }
    return S_ISDIR(st.st_mode);
}

} // namespace platform
