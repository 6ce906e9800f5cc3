// The file services the package core needs, with one Win32 and one POSIX implementation.
//
// Paths are UTF-16. The package format names files with backslash separators wherever the package
// was built; on POSIX hosts a backslash in a path given here is therefore taken as a separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Whether other openers may read the file while we hold it. Where the host has no share modes
// (POSIX) both behave alike.
enum class Share { Read, None };

// Which file a path leads to: the volume and the file's number on it. Two paths with equal ids
// are one file, whether by links or by hard links.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// What is known of a file at one moment: a change of any of it means the file was written.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // in the host's own units
    FileId id;
    bool operator==(const FileStamp&) const = default;
};

// An open file; closed when the object goes. Move-only, like every owner of a handle here.
class File {
public:
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = kNone;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing regular file for reading. A folder, a device or a pipe is not a file and
    // does not open (and a pipe with no writer does not hold the caller up).
    static File OpenRead(std::u16string_view path, Share share);
    // The same, and what the file is at the moment it is opened (as Stamp), in one step where the
    // host allows: a copy that must know its source is unchanged saves a call per file.
    static File OpenRead(std::u16string_view path, Share share, FileStamp& stamp);
    // Creates a new file for writing, only where the name is free: never over an existing file and
    // never through a link. Only its owner may read it (until it is given its final permissions),
    // others may not write it, and it may be deleted while open, so that an interrupted program can
    // still remove it.
    // `nameTaken` tells a failure because something has that name from any other.
    static File CreateNew(std::u16string_view path, bool* nameTaken = nullptr);
    // CreateNew for a file being written under a temporary name `name` below `folder`: from the
    // moment it exists it is removed should the program be interrupted, until ForgetOnInterrupt.
    static File CreateTemporary(const class FolderHandle& folder, std::u16string_view name, bool* nameTaken = nullptr);

    bool IsOpen() const { return handle_ != kNone; }
    // Reads up to `want` bytes; `got` is 0 at the end of the file.
    bool Read(void* buffer, std::uint32_t want, std::uint32_t& got);
    bool Write(const void* buffer, std::uint32_t length, std::uint32_t& written);
    // The full 64-bit length, so that callers can refuse files too large for them instead of
    // seeing the length wrap.
    bool Size(std::uint64_t& size) const;
    // Size, modification time and identity of the open file.
    bool Stamp(FileStamp& stamp) const;
    // Moves to an absolute position counted from the start of the file.
    bool Seek(std::uint64_t position);
    void Close();

private:
    friend class FolderHandle;
    // A Win32 HANDLE or a POSIX descriptor, widened to hold either.
    static constexpr std::intptr_t kNone = -1;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = kNone;
};

// Reads exactly `length` bytes from where the file stands. False when the file ends first, with
// SystemReason then empty, or when a read fails, with the system's reason kept: a caller tells a
// short file from a failing disk by the reason.
bool ReadExactly(File& file, void* buffer, std::uint32_t length);

// Takes a regular file's stamp (links followed) without reading it; false for anything else or
// a file this process may not read.
bool MeasureFile(std::u16string_view path, FileStamp& stamp);
bool MeasureFile(std::u16string_view path, std::uint64_t& size);

// The id of whatever the path leads to (links followed); false when nothing is there.
bool IdentifyFile(std::u16string_view path, FileId& id);

// What a path names, the last component itself examined: a link (a symbolic link, or on Windows
// a junction or other name-surrogate reparse point) is reported as a link, never followed.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind Examine(std::u16string_view path);

bool RemoveFile(std::u16string_view path);

// Renames a file, replacing `to` when it exists (atomically where the host allows).
bool RenameFile(std::u16string_view from, std::u16string_view to);

bool FileExists(std::u16string_view path);

// A free name beside `target` for a temporary file, no longer than the target's name where the
// name allows (so that it fits wherever the target does): its last characters replaced by '~'
// and, after the first attempt, a counter.
std::u16string TemporaryName(std::u16string_view target, unsigned attempt);

// Creates a new file under a temporary name beside `target`, the name `target` below `folder` (see
// TemporaryName), trying further names while they are taken, and has it removed should the
// program be interrupted. `name` is the temporary file's name below `folder`.
File CreateBeside(const class FolderHandle& folder, std::u16string_view target, std::u16string& name);

// Temporary files (File::CreateTemporary) are removed should the program be stopped by a signal
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) or, on Windows, by Ctrl+C, Ctrl+Break or the closing of its console;
// this ends that for one that has been renamed or removed.
void ForgetOnInterrupt(std::u16string_view path);
// Installs the handlers that do the removing; once, at the start of a program that wants it.
void CleanUpOnInterrupt();

// The path in the host's own form: on POSIX, backslashes become slashes.
std::u16string NativePath(std::u16string_view path);

// The separator of the host's own paths.
char16_t NativeSeparator();

} // namespace platform
