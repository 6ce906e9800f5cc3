// Conversions and joins of this host's paths.
#include "platform/host_paths.h"

#include "platform/file.h"
#include "platform/text.h"

#include <system_error>

namespace platform {

std::u16string JoinHostPath(std::u16string_view folder, std::u16string_view relative) {
    auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
    std::u16string path(folder);
    if (!path.empty() && !separator(path.back())) {
        path += NativeSeparator();
    }
    for (char16_t c : relative) {
        path += separator(c) ? NativeSeparator() : c;
    }
    return path;
}

std::filesystem::path FsPath(std::u16string_view path) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
    std::string utf8;
    if (!Utf16ToUtf8(NativePath(path), utf8)) {
        return {};
    }
    return std::filesystem::path(utf8);
#endif
}

std::u16string FromFsPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& wide = path.native();
    return std::u16string(wide.begin(), wide.end());
#else
    std::u16string text;
    Utf8ToUtf16(path.native(), text);
    return text;
#endif
}

std::string CannotOpenCause(std::u16string_view path) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(FsPath(path), ec);
    switch (status.type()) {
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none:
        return "no such file";
    case std::filesystem::file_type::directory:
        return "is a folder, not a file";
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::unknown:
        break;
    default:
        return "is not a regular file (a device, a pipe or a socket)";
    }
#ifdef _WIN32
    // Windows opens a device for such a name ("NUL", "COM1.txt") in any folder.
    if (Examine(path) == PathKind::Other) {
        return "is not a regular file (a device, a pipe or a socket)";
    }
#endif
    return "cannot be opened for reading";
}

} // namespace platform
