// An icon file (.ico) stored as an executable's icon: the file's images become RT_ICON resources
// and its directory becomes the RT_GROUP_ICON the shell shows. The file comes from a user, so it is
// checked whole before anything is planned, and refused with a sentence saying what is wrong.
#pragma once

#include "package/pe_resources.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

inline constexpr std::uint16_t kTypeIcon = 3;
inline constexpr std::uint16_t kTypeGroupIcon = 14;

// One image of an icon file, with the fields of its directory entry. A width or height of 0
// means 256, as the format says.
struct IconImage {
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data; // a DIB (from its BITMAPINFOHEADER on) or a whole PNG file
};

// Reads the images of an icon file's bytes. False, with the reason, for anything that is not a
// well-formed icon file.
bool ParseIconFile(std::span<const std::uint8_t> file, std::vector<IconImage>& images, Error& error);

// The RT_GROUP_ICON resource naming `images` as the RT_ICON resources `ids`.
std::vector<std::uint8_t> IconGroupBytes(const std::vector<IconImage>& images, const std::vector<std::uint16_t>& ids);

// The RT_ICON ids a group names; entries cut off by the group's end are not counted.
std::vector<std::uint16_t> IconGroupIds(std::span<const std::uint8_t> group);

// Makes an icon file the executable's icon: the group the shell shows (the first RT_GROUP_ICON in
// the resource directory's order, which is the order the shell enumerates them in: names before
// numbers, numbers ascending) names the file's images instead, in every language it has. Its old
// images go unless another group still names them, and the new ones take the lowest ids no
// remaining image holds. An executable without a group gets one as group 1, in U.S. English.
class IconReplacement final : public ResourceEdit {
public:
    // Reads and checks the icon file; false with the reason.
    bool Load(std::u16string_view icoPath, Error& error);

    bool Plan(std::u16string_view exePath, const std::vector<ResourceInfo>& resources,
              std::vector<ResourceUpdate>& updates, Error& error) const override;

private:
    std::vector<IconImage> images_;
};

} // namespace pe
