// The sidebar picture rule: the installer shows a bitmap of exactly 128 by 280 pixels. This reads
// a .bmp file's dimensions without the platform's image loader, for hosts that have none.
#pragma once

#include <cstdint>

namespace workspace {

inline constexpr std::int32_t kSidebarWidth = 128;
inline constexpr std::int32_t kSidebarHeight = 280;

// The width and height of a Windows bitmap file (a top-down bitmap's negative height is given as
// positive). False when the file cannot be read or is not a bitmap.
bool ReadBitmapSize(const char16_t* path, std::int32_t& width, std::int32_t& height);

// Whether the file is a bitmap of the sidebar's size.
bool IsSidebarBitmap(const char16_t* path);

} // namespace workspace
