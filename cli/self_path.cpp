// The running program's own path: GetModuleFileNameW on Windows, /proc/self/exe on Linux.
#include "cli/self_path.h"

#include "platform/text.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cli {
namespace {

bool OwnPath(std::u16string& path) {
#ifdef _WIN32
    // Paths may be longer than MAX_PATH; grow until the name fits.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<wchar_t> buffer(size);
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return false;
        }
        if (length < size) {
            path.assign(buffer.begin(), buffer.begin() + length);
            return true;
        }
    }
    return false;
#else
    for (std::size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), size);
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < size) {
            return platform::Utf8ToUtf16(std::string_view(buffer.data(), static_cast<std::size_t>(length)), path);
        }
    }
    return false;
#endif
}

} // namespace

bool OwnFolder(std::u16string& folder) {
    std::u16string path;
    if (!OwnPath(path)) {
        return false;
    }
    std::size_t cut = path.find_last_of(u"\\/");
    if (cut == std::u16string::npos) {
        return false;
    }
    folder = path.substr(0, cut + 1);
    return true;
}

} // namespace cli
