// Win32 files, with the share modes the package core asks for.
#include "platform/file.h"

#include <windows.h>

namespace platform {
namespace {

// char16_t and wchar_t are both UTF-16 units on Windows; the copy adds the terminator.
std::wstring Wide(std::u16string_view path) { return std::wstring(path.begin(), path.end()); }

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

} // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kNone;
    }
    return *this;
}

File File::OpenRead(std::u16string_view path, Share share) {
    if (path.empty()) {
        return File();
    }
    DWORD mode = share == Share::Read ? FILE_SHARE_READ : 0;
    HANDLE h =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, mode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(h));
}

File File::Create(std::u16string_view path) {
    if (path.empty()) {
        return File();
    }
    HANDLE h =
        CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(h));
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
    DWORD n = 0;
    if (!IsOpen() || !WriteFile(AsHandle(handle_), buffer, length, &n, nullptr)) {
        return false;
    }
    written = n;
    return n == length;
}

bool File::Size(std::uint64_t& size) const {
    LARGE_INTEGER li;
    if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &li)) {
        return false;
    }
    size = static_cast<std::uint64_t>(li.QuadPart);
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

bool MeasureFile(std::u16string_view path, std::uint64_t& size) {
    File file = File::OpenRead(path, Share::Read);
    return file.IsOpen() && file.Size(size);
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
