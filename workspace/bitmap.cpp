// A bitmap file's size read from its headers, without the platform's loader, and whether it fits
// the installer's sidebar.
#include "workspace/bitmap.h"

#include "platform/file.h"
#include "platform/little_endian.h"

#include <cstring>

namespace workspace {
namespace {

std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(platform::Le32(p)); }

} // namespace

bool ReadBitmapSize(const char16_t* path, std::int32_t& width, std::int32_t& height) {
    if (!path) {
        return false;
    }
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    std::uint8_t head[26] = {};
    std::uint32_t done = 0;
    for (std::uint32_t got = 1; file.IsOpen() && done < sizeof head && got > 0;) {
        if (!file.Read(head + done, sizeof head - done, got)) {
            return false;
        }
        done += got;
    }
    if (done < sizeof head || head[0] != 'B' || head[1] != 'M') {
        return false;
    }
    std::int32_t infoSize = I32(head + 14);
    if (infoSize == 12) { // the old OS/2 header: 16-bit dimensions
        width = platform::Le16(head + 18);
        height = platform::Le16(head + 20);
        return true;
    }
    if (infoSize < 40) {
        return false;
    }
    width = I32(head + 18);
    height = I32(head + 22);
    if (height < 0 && height != INT32_MIN) {
        height = -height;
    }
    return width > 0 && height > 0;
}

bool IsSidebarBitmap(const char16_t* path) {
    std::int32_t width = 0, height = 0;
    return ReadBitmapSize(path, width, height) && width == kSidebarWidth && height == kSidebarHeight;
}

} // namespace workspace
