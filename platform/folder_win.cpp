// Win32 folder listing with the platform's enumeration.
#include "platform/folder.h"
#include "platform/handle_win.h"

#include <windows.h>

namespace platform {

bool ListFolder(std::u16string_view folder, std::vector<FolderItem>& items) {
    items.clear();
    std::wstring pattern(folder.begin(), folder.end());
    pattern += L"\\*.*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        FolderItem item;
        item.name.assign(found.cFileName, found.cFileName + wcslen(found.cFileName));
        item.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        items.push_back(std::move(item));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return true;
}

bool IsFolderOrUnknown(std::u16string_view path) {
    std::wstring wide(path.begin(), path.end());
    return (GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace platform

// Open folders. The *at functions of POSIX have no plain Win32 counterpart; instead every folder is
// held open without leave to delete it, which keeps anyone from moving, deleting or replacing it
// (with a junction, say) while names below it are used by path.
namespace platform {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

bool PlainName(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." && name.find_first_of(u"/\\") == std::u16string_view::npos;
}

// Opened for listing, so that the share modes count: others may read and write below it, but not
// delete or rename it. `itself`: a link or junction is opened as itself rather than followed.
HANDLE OpenFolder(std::u16string_view path, bool itself) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

} // namespace

FolderHandle FolderHandle::Open(std::u16string_view path) {
    FolderHandle folder;
    if (path.empty()) {
        return folder;
    }
    HANDLE h = OpenFolder(path, false);
    if (h != INVALID_HANDLE_VALUE) {
        folder.handle_ = reinterpret_cast<std::intptr_t>(h);
        folder.path_ = std::u16string(path);
    }
    return folder;
}

FolderHandle FolderHandle::Child(std::u16string_view name, bool make, PathKind& found) const {
    FolderHandle child;
    found = PathKind::Other;
    if (!IsOpen() || !PlainName(name)) {
        return child;
    }
    std::u16string path = PathOf(name);
    found = Examine(name);
    if (found == PathKind::Missing && make &&
        (CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)) {
        found = Examine(name);
    }
    if (found != PathKind::Folder) {
        return child;
    }
    // Opened as itself: should a link have taken the folder's place since it was examined, the
    // handle shows it.
    UniqueHandle h(OpenFolder(path, true));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h) {
        return child;
    }
    if (!GetFileInformationByHandle(h.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        found = PathKind::Link;
        return child;
    }
    child.handle_ = reinterpret_cast<std::intptr_t>(h.Release());
    child.path_ = std::move(path);
    return child;
}

PathKind FolderHandle::Examine(std::u16string_view name, FileId* id) const {
    PathKind kind = IsOpen() && PlainName(name) ? platform::Examine(PathOf(name)) : PathKind::Other;
    if (id && kind == PathKind::File && !IdentifyFile(PathOf(name), *id)) {
        *id = {};
    }
    return kind;
}

bool FolderHandle::Identify(std::u16string_view name, FileId& id) const {
    return IsOpen() && PlainName(name) && Examine(name) != PathKind::Link && IdentifyFile(PathOf(name), id);
}

File FolderHandle::CreateNew(std::u16string_view name, bool* nameTaken) const {
    if (nameTaken) {
        *nameTaken = false;
    }
    if (!IsOpen() || !PlainName(name)) {
        return File();
    }
    return File::CreateNew(PathOf(name), nameTaken);
}

// A new file takes the permissions its folder passes on, as a file written there in place would.
bool FolderHandle::GivePermissions(File& file, std::u16string_view target, PathKind* found) const {
    if (found) {
        *found = Examine(target);
    }
    return file.IsOpen();
}

bool FolderHandle::Rename(std::u16string_view from, std::u16string_view to) const {
    return IsOpen() && PlainName(from) && PlainName(to) && RenameFile(PathOf(from), PathOf(to));
}

bool FolderHandle::Remove(std::u16string_view name) const {
    return IsOpen() && PlainName(name) && RemoveFile(PathOf(name));
}

void FolderHandle::Close() {
    if (IsOpen()) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = kNone;
    }
}

} // namespace platform
