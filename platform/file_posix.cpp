// POSIX files. Paths arrive as UTF-16 with either separator and are opened as UTF-8.
#include "platform/file.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool ToHostPath(std::u16string_view path, std::string& out) {
    return !path.empty() && Utf16ToUtf8(NativePath(path), out);
}

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return stamp;
}

} // namespace

File File::OpenRead(std::u16string_view path, Share share) {
    FileStamp ignored;
    return OpenRead(path, share, ignored);
}

File File::OpenRead(std::u16string_view path, Share, FileStamp& stamp) {
    std::string host;
    if (!ToHostPath(path, host)) {
        return File();
    }
    // Opening a pipe that has no writer waits for one; without delay the type can be checked first.
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return File();
    }
    // The only status flag set is O_NONBLOCK, so clearing all of them clears it.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return File();
    }
    stamp = StampOf(st);
    return File(fd);
}

File File::CreateNew(std::u16string_view path, bool* nameTaken) {
    if (nameTaken) {
        *nameTaken = false;
    }
    std::string host;
    if (!ToHostPath(path, host)) {
        return File();
    }
    // O_EXCL refuses any existing name, a link included, and never follows one.
    // Readable by its owner alone until it is given its final permissions: what is written into it
    // is nobody else's business before then.
    int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && nameTaken) {
        *nameTaken = errno == EEXIST;
    }
    return fd < 0 ? File() : File(fd);
}

bool File::Read(void* buffer, std::uint32_t want, std::uint32_t& got) {
    got = 0;
    if (!IsOpen()) {
        return false;
    }
    ssize_t n;
    do {
        n = ::read(static_cast<int>(handle_), buffer, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return false;
    }
    got = static_cast<std::uint32_t>(n);
    return true;
}

bool File::Write(const void* buffer, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    if (!IsOpen()) {
        return false;
    }
    const char* p = static_cast<const char*>(buffer);
    while (written < length) {
        ssize_t n = ::write(static_cast<int>(handle_), p + written, length - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            // Nothing taken and no failure told: no room is the only cause a file has.
            errno = ENOSPC;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool File::Size(std::uint64_t& size) const {
    struct stat st;
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::Stamp(FileStamp& stamp) const {
    struct stat st;
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) {
        return false;
    }
    stamp = StampOf(st);
    return true;
}

bool File::Seek(std::uint64_t position) {
    return IsOpen() && position <= static_cast<std::uint64_t>(INT64_MAX) &&
           ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

void File::Close() {
    if (IsOpen()) {
        ::close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

bool RemoveFile(std::u16string_view path) {
    std::string host;
    return ToHostPath(path, host) && ::unlink(host.c_str()) == 0;
}

bool MeasureFile(std::u16string_view path, FileStamp& stamp) {
    // Gathering thousands of files is mostly this call, so it asks the file system twice instead
    // of opening each file: is it a regular file, and may this process read it.
    std::string host;
    struct stat st;
    if (!ToHostPath(path, host) || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::access(host.c_str(), R_OK) != 0) {
        return false;
    }
    stamp = StampOf(st);
    return true;
}

bool MeasureFile(std::u16string_view path, std::uint64_t& size) {
    FileStamp stamp;
    if (!MeasureFile(path, stamp)) {
        return false;
    }
    size = stamp.size;
    return true;
}

bool IdentifyFile(std::u16string_view path, FileId& id) {
    std::string host;
    struct stat st;
    if (!ToHostPath(path, host) || ::stat(host.c_str(), &st) != 0) {
        return false;
    }
    id = StampOf(st).id;
    return true;
}

PathKind Examine(std::u16string_view path) {
    std::string host;
    struct stat st;
    if (!ToHostPath(path, host)) {
        return PathKind::Other;
    }
    if (::lstat(host.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Other;
    }
    if (S_ISLNK(st.st_mode)) {
        return PathKind::Link;
    }
    if (S_ISDIR(st.st_mode)) {
        return PathKind::Folder;
    }
    return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
}

bool RenameFile(std::u16string_view from, std::u16string_view to) {
    std::string a, b;
    return ToHostPath(from, a) && ToHostPath(to, b) && ::rename(a.c_str(), b.c_str()) == 0;
}

bool FileExists(std::u16string_view path) {
    std::string host;
    struct stat st;
    return ToHostPath(path, host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::u16string NativePath(std::u16string_view path) {
    std::u16string out(path);
    for (char16_t& c : out) {
        if (c == u'\\') {
            c = u'/';
        }
    }
    return out;
}

char16_t NativeSeparator() { return u'/'; }

} // namespace platform
