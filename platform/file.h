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

// An open file; closed when the object goes. Move-only, like every owner of a handle here.
class File {
public:
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing regular file for reading. A folder is not a file and does not open.
    static File OpenRead(std::u16string_view path, Share share);
    // Creates a file for writing without sharing, replacing one of the same name.
    static File Create(std::u16string_view path);

    bool IsOpen() const { return handle_ != kNone; }
    // Reads up to `want` bytes; `got` is 0 at the end of the file.
    bool Read(void* buffer, std::uint32_t want, std::uint32_t& got);
    bool Write(const void* buffer, std::uint32_t length, std::uint32_t& written);
    // The full 64-bit length, so that callers can refuse files too large for them instead of
    // seeing the length wrap.
    bool Size(std::uint64_t& size) const;
    // Moves to an absolute position counted from the start of the file.
    bool Seek(std::uint64_t position);
    void Close();

private:
    // A Win32 HANDLE or a POSIX descriptor, widened to hold either.
    static constexpr std::intptr_t kNone = -1;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = kNone;
};

// Opens an existing regular file for reading (others may read it too) just to take its length.
bool MeasureFile(std::u16string_view path, std::uint64_t& size);

bool RemoveFile(std::u16string_view path);

// Renames a file, replacing `to` when it exists (atomically where the host allows).
bool RenameFile(std::u16string_view from, std::u16string_view to);

bool FileExists(std::u16string_view path);

// The path in the host's own form: on POSIX, backslashes become slashes.
std::u16string NativePath(std::u16string_view path);

// The separator of the host's own paths.
char16_t NativeSeparator();

} // namespace platform
