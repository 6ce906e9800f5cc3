// POSIX folder listing.
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Whether the file is this process's own and its owner may read it. For the owner the kernel
// looks at the owner's bits alone (access control lists do not narrow them), so the answer is
// access()'s without the call; a file of someone else's is left to access() itself.
bool OwnReadable(const struct stat& st) {
    static const uid_t self = ::getuid(); // access() asks for the real user, as this does
    return st.st_uid == self && (st.st_mode & S_IRUSR) != 0;
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
        // cost a stat (a link to a folder counts as a folder, as on Windows it would be one). A
        // file is measured here, from the open folder: a gather of thousands of files is mostly
        // this, and a name looked up below an open folder costs far less than a whole path.
        if (d->d_type == DT_DIR) {
            item.isFolder = true;
        } else {
            struct stat st;
            if (::fstatat(::dirfd(dir), d->d_name, &st, 0) == 0) {
                item.isFolder = S_ISDIR(st.st_mode);
                if (S_ISREG(st.st_mode) && (OwnReadable(st) || ::faccessat(::dirfd(dir), d->d_name, R_OK, 0) == 0)) {
                    item.readableLength = static_cast<std::int64_t>(st.st_size);
                }
            }
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

// Open folders, with the *at functions relative to their descriptors.
namespace platform {
namespace {

// A single name below a folder in host form; a separator, "." or ".." would lead elsewhere.
bool HostName(std::u16string_view name, std::string& out) {
    return !name.empty() && name != u"." && name != u".." && name.find_first_of(u"/\\") == std::u16string_view::npos &&
           Utf16ToUtf8(name, out);
}

PathKind KindOf(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return PathKind::Link;
    }
    if (S_ISDIR(st.st_mode)) {
        return PathKind::Folder;
    }
    return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
}

} // namespace

FolderHandle FolderHandle::Open(std::u16string_view path) {
    FolderHandle folder;
    std::string host;
    if (path.empty() || !Utf16ToUtf8(NativePath(path), host)) {
        return folder;
    }
    int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        folder.handle_ = fd;
        folder.path_ = std::u16string(path);
    }
    return folder;
}

FolderHandle FolderHandle::Child(std::u16string_view name, bool make, PathKind& found) const {
    FolderHandle child;
    std::string host;
    found = PathKind::Other;
    if (!IsOpen() || !HostName(name, host)) {
        return child;
    }
    const int dir = static_cast<int>(handle_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // O_NOFOLLOW with O_DIRECTORY opens the folder itself or nothing: a link is not followed.
        int fd = ::openat(dir, host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            found = PathKind::Folder;
            child.handle_ = fd;
            child.path_ = PathOf(name);
            return child;
        }
        found = Examine(name);
        if (found != PathKind::Missing || !make || (::mkdirat(dir, host.c_str(), 0777) != 0 && errno != EEXIST)) {
            return child;
        }
    }
    return child;
}

PathKind FolderHandle::Examine(std::u16string_view name, FileId* id) const {
    std::string host;
    struct stat st;
    if (!IsOpen() || !HostName(name, host)) {
        return PathKind::Other;
    }
    if (::fstatat(static_cast<int>(handle_), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    }
    if (id) {
        *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }
    return KindOf(st);
}

bool FolderHandle::Identify(std::u16string_view name, FileId& id) const {
    std::string host;
    struct stat st;
    if (!IsOpen() || !HostName(name, host) ||
        ::fstatat(static_cast<int>(handle_), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

File FolderHandle::CreateNew(std::u16string_view name, bool* nameTaken) const {
    if (nameTaken) {
        *nameTaken = false;
    }
    std::string host;
    if (!IsOpen() || !HostName(name, host)) {
        return File();
    }
    // O_EXCL refuses any existing name, a link included, and never follows one. Readable by its
    // owner alone until it is given its final permissions.
    int fd =
        ::openat(static_cast<int>(handle_), host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && nameTaken) {
        *nameTaken = errno == EEXIST;
    }
    return fd < 0 ? File() : File(fd);
}

bool FolderHandle::GivePermissions(File& file, std::u16string_view target, PathKind* found) const {
    // The mask is read by setting it, so it is read once: a program writing thousands of files
    // would otherwise pay two calls for each.
    static const mode_t mask = [] {
        mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    std::string host;
    struct stat st;
    PathKind kind = PathKind::Other;
    if (IsOpen() && HostName(target, host)) {
        if (::fstatat(static_cast<int>(handle_), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            kind = KindOf(st);
        } else if (errno == ENOENT) {
            kind = PathKind::Missing;
        }
    }
    if (found) {
        *found = kind;
    }
    mode_t mode = kind == PathKind::File ? (st.st_mode & 0775) : (0666 & ~mask);
    return file.IsOpen() && ::fchmod(static_cast<int>(file.handle_), mode) == 0;
}

bool FolderHandle::Rename(std::u16string_view from, std::u16string_view to) const {
    std::string a, b;
    const int dir = static_cast<int>(handle_);
    return IsOpen() && HostName(from, a) && HostName(to, b) && ::renameat(dir, a.c_str(), dir, b.c_str()) == 0;
}

bool FolderHandle::Remove(std::u16string_view name) const {
    std::string host;
    return IsOpen() && HostName(name, host) && ::unlinkat(static_cast<int>(handle_), host.c_str(), 0) == 0;
}

void FolderHandle::Close() {
    if (IsOpen()) {
        ::close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

} // namespace platform
