// Win32 files, with the share modes the package core asks for.
#include "platform/file.h"
#include "platform/handle_win.h"
#include "platform/names.h"

#include <windows.h>

namespace platform {
namespace {

// char16_t and wchar_t are both UTF-16 units on Windows; the copy adds the terminator.
std::wstring Wide(std::u16string_view path) { return std::wstring(path.begin(), path.end()); }

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::uint64_t Join(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileStamp stamp;
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.modified =
        static_cast<std::int64_t>(Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    stamp.id = {info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
    return stamp;
}

// The last component of a path, after either separator.
std::u16string_view LastComponent(std::u16string_view path) {
    std::size_t at = path.find_last_of(u"\\/");
    return at == std::u16string_view::npos ? path : path.substr(at + 1);
}

} // namespace

File File::OpenRead(std::u16string_view path, Share share) {
    if (path.empty()) {
        return File();
    }
    DWORD mode = share == Share::Read ? FILE_SHARE_READ : 0;
    UniqueHandle h(
        CreateFileW(Wide(path).c_str(), GENERIC_READ, mode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A name such as "NUL" or "COM1" opens a device, and "\\.\pipe\x" a pipe: not files.
    if (!h || GetFileType(h.Get()) != FILE_TYPE_DISK) {
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(h.Release()));
}

File File::OpenRead(std::u16string_view path, Share share, FileStamp& stamp) {
    File file = OpenRead(path, share);
    if (file.IsOpen() && !file.Stamp(stamp)) {
        file.Close();
    }
    return file;
}

File File::CreateNew(std::u16string_view path, bool* nameTaken) {
    if (nameTaken) {
        *nameTaken = false;
    }
    if (path.empty()) {
        return File();
    }
    // CREATE_NEW refuses an existing name; with FILE_FLAG_OPEN_REPARSE_POINT a link of that name
    // counts as existing instead of being followed to create its target.
    UniqueHandle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) {
        DWORD error = GetLastError();
        if (nameTaken) {
            *nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        }
        return File();
    }
    if (GetFileType(h.Get()) != FILE_TYPE_DISK) {
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(h.Release()));
}

bool File::Read(void* buffer, std::uint32_t want, std::uint32_t& got) {
    got = 0;
    DWORD n = 0;
    if (!IsOpen() || !ReadFile(AsHandle(handle_), buffer, want, &n, nullptr)) {
        return false;
    }
    got = n;
    return true;
}

bool File::Write(const void* buffer, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    if (!IsOpen()) {
        return false;
    }
    // A disk that fills up takes part of a write and succeeds (Wine does so for a Unix write cut
    // short); the next write is the one that fails and says why.
    const char* p = static_cast<const char*>(buffer);
    while (written < length) {
        DWORD n = 0;
        if (!WriteFile(AsHandle(handle_), p + written, length - written, &n, nullptr)) {
            return false;
        }
        if (n == 0) {
            // Nothing taken and no failure told: no room is the only cause a disk file has.
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        written += n;
    }
    return true;
}

bool File::Size(std::uint64_t& size) const {
    LARGE_INTEGER li;
    if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &li)) {
        return false;
    }
    size = static_cast<std::uint64_t>(li.QuadPart);
    return true;
}

bool File::Stamp(FileStamp& stamp) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsOpen() || !GetFileInformationByHandle(AsHandle(handle_), &info)) {
        return false;
    }
    stamp = StampOf(info);
    return true;
}

bool File::Seek(std::uint64_t position) {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(position);
    return IsOpen() && position <= static_cast<std::uint64_t>(INT64_MAX) &&
           SetFilePointerEx(AsHandle(handle_), li, nullptr, FILE_BEGIN);
}

void File::Close() {
    if (IsOpen()) {
        CloseHandle(AsHandle(handle_));
        handle_ = kNone;
    }
}

bool RemoveFile(std::u16string_view path) { return !path.empty() && DeleteFileW(Wide(path).c_str()) != 0; }

bool MeasureFile(std::u16string_view path, FileStamp& stamp) {
    File file = File::OpenRead(path, Share::Read);
    return file.IsOpen() && file.Stamp(stamp);
}

bool MeasureFile(std::u16string_view path, std::uint64_t& size) {
    File file = File::OpenRead(path, Share::Read);
    return file.IsOpen() && file.Size(size);
}

bool IdentifyFile(std::u16string_view path, FileId& id) {
    if (path.empty()) {
        return false;
    }
    // No access asked for: the file's identity can be read whoever else has it open.
    UniqueHandle h(CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = h && GetFileInformationByHandle(h.Get(), &info) != 0;
    if (ok) {
        id = StampOf(info).id;
    }
    return ok;
}

PathKind Examine(std::u16string_view path) {
    if (path.empty()) {
        return PathKind::Missing;
    }
    // "CON:" names the device as "CON" does.
    std::u16string_view last = LastComponent(path);
    while (!last.empty() && last.back() == u':') {
        last.remove_suffix(1);
    }
    if (NamesDevice(last)) {
        return PathKind::Other;
    }
    std::wstring wide = Wide(path);
    // The attributes of the name itself: a link's own, not its target's.
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Other;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Symbolic links and junctions lead elsewhere; Microsoft's other reparse points (files kept
        // in the cloud, deduplicated files) are ordinary files and folders to their users. A tag
        // the system does not tell (Wine shows a Unix link to a folder this way) counts as a link.
        WIN32_FIND_DATAW found{};
        HANDLE find = FindFirstFileW(wide.c_str(), &found);
        DWORD tag = 0;
        if (find != INVALID_HANDLE_VALUE) {
            tag = found.dwReserved0;
            FindClose(find);
        }
        if (!IsReparseTagMicrosoft(tag) || IsReparseTagNameSurrogate(tag)) {
            return PathKind::Link;
        }
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool RenameFile(std::u16string_view from, std::u16string_view to) {
    return !from.empty() && !to.empty() &&
           MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FileExists(std::u16string_view path) {
    if (path.empty()) {
        return false;
    }
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string NativePath(std::u16string_view path) { return std::u16string(path); }

char16_t NativeSeparator() { return u'\\'; }

} // namespace platform
