// Icon files and icon groups. An icon file's directory entry is 16 bytes and ends with the image's
// offset in the file; a group's entry is 14 bytes and ends with the image's RT_ICON id instead, the
// fields before it being the same. The shell and LoadImage pick an image by the group's fields, so
// planes and bit count left 0 in the file are taken from the image itself.
#include "package/pe_icons.h"

#include "package/pe_source.h"
#include "platform/file.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <set>
#include <string>

namespace pe {
namespace {

constexpr std::size_t kIconDirSize = 6;
constexpr std::size_t kIconEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
// Far above any real icon (a full set with 256 x 256 images is a few hundred kilobytes), and
// small enough to hold in memory while the installer is planned.
constexpr std::uint64_t kMaxIconFile = 64ull * 1024 * 1024;

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// The signature, the IHDR chunk's length and type, and its 13 bytes of data.
constexpr std::size_t kPngHeaderSize = 8 + 8 + 13;

Error Numbered(const char* before, std::size_t index, const char* after) {
    std::string text(before);
    text.append(std::to_string(index + 1)).append(after);
    return Malformed(std::move(text));
}

bool IsPng(std::span<const std::uint8_t> data) {
    return data.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin());
}

// The bits per pixel of a PNG, from its colour type and bit depth: what Windows' own tools put in
// a group entry whose file entry says 0.
std::uint16_t PngBitCount(std::span<const std::uint8_t> data) {
    std::uint16_t depth = data[24];
    switch (data[25]) {
    case 2:
        return static_cast<std::uint16_t>(3 * depth);
    case 4:
        return static_cast<std::uint16_t>(2 * depth);
    case 6:
        return static_cast<std::uint16_t>(4 * depth);
    default:
        return depth;
    }
}

// Checks one image's bytes and fills in planes and bit count the file left 0.
bool CheckImage(IconImage& image, std::size_t index, Error& error) {
    std::span<const std::uint8_t> data = image.data;
    if (IsPng(data)) {
        if (data.size() < kPngHeaderSize || !std::equal(data.begin() + 12, data.begin() + 16, "IHDR")) {
            error = Numbered("Image ", index, " of the icon file is a PNG image cut short.");
            return false;
        }
        if (image.planes == 0) {
            image.planes = 1;
        }
        if (image.bitCount == 0) {
            image.bitCount = PngBitCount(data);
        }
        return true;
    }
    // BITMAPINFOHEADER and its later, longer forms (V4, V5).
    std::uint32_t headerSize = data.size() >= 4 ? Le32(data.data()) : 0;
    if ((headerSize != 40 && headerSize != 108 && headerSize != 124) || data.size() < headerSize) {
        error = Numbered("Image ", index, " of the icon file is neither a bitmap (DIB) nor a PNG image.");
        return false;
    }
    auto width = static_cast<std::int32_t>(Le32(data.data() + 4));
    auto height = static_cast<std::int32_t>(Le32(data.data() + 8));
    if (width <= 0 || height == 0) {
        error = Numbered("Image ", index, " of the icon file is a bitmap of no size.");
        return false;
    }
    if (image.planes == 0) {
        image.planes = Le16(data.data() + 12);
    }
    if (image.bitCount == 0) {
        image.bitCount = Le16(data.data() + 14);
    }
    return true;
}

bool ReadWhole(std::u16string_view path, std::vector<std::uint8_t>& bytes, Error& error) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    std::uint64_t size = 0;
    if (!file.IsOpen() || !file.Size(size)) {
        error = SystemError(ErrorCode::CannotOpen, {}, "The icon file could not be opened.");
        return false;
    }
    if (size > kMaxIconFile) {
        error = Malformed("The icon file is larger than 64 MB; no icon is.");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::uint32_t got = 0;
        bool read = file.Read(bytes.data() + done, static_cast<std::uint32_t>(bytes.size() - done), got);
        if (!read || got == 0) {
            // A file that shrank since it was measured left no system error behind.
            constexpr const char* kCannotRead = "The icon file could not be read.";
            error = read ? Error{ErrorCode::CannotRead, {}, kCannotRead, {}}
                         : SystemError(ErrorCode::CannotRead, {}, kCannotRead);
            return false;
        }
        done += got;
    }
    return true;
}

bool IsKey(const ResourceInfo& r, std::uint16_t type) { return r.type == ResourceKey::Id(type); }

// The lowest ids from 1 on that `taken` does not hold; false when too few are left.
bool FreeIds(const std::set<std::uint16_t>& taken, std::size_t count, std::vector<std::uint16_t>& ids) {
    for (std::uint32_t id = 1; id <= 0xFFFF && ids.size() < count; ++id) {
        if (taken.count(static_cast<std::uint16_t>(id)) == 0) {
            ids.push_back(static_cast<std::uint16_t>(id));
        }
    }
    return ids.size() == count;
}

} // namespace

bool ParseIconFile(std::span<const std::uint8_t> file, std::vector<IconImage>& images, Error& error) {
    images.clear();
    if (file.size() < kIconDirSize) {
        error = Malformed("The file is too short to be an icon file.");
        return false;
    }
    if (Le16(file.data()) != 0 || Le16(file.data() + 2) != 1) {
        error = Malformed("The file is not an icon file (its header does not say reserved 0, type 1).");
        return false;
    }
    std::size_t count = Le16(file.data() + 4);
    if (count == 0) {
        error = Malformed("The icon file holds no images.");
        return false;
    }
    std::size_t directoryEnd = kIconDirSize + kIconEntrySize * count;
    if (file.size() < directoryEnd) {
        error = Malformed("The icon file's directory is cut short.");
        return false;
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges; // offset, length
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = file.data() + kIconDirSize + kIconEntrySize * i;
        std::uint32_t length = Le32(entry + 8), offset = Le32(entry + 12);
        if (length == 0) {
            error = Numbered("Image ", i, " of the icon file is empty.");
            return false;
        }
        if (offset < directoryEnd) {
            error = Numbered("Image ", i, " of the icon file lies inside the file's directory.");
            return false;
        }
        if (!RangeInside(offset, length, file.size())) {
            error = Numbered("Image ", i, " of the icon file reaches beyond the end of the file.");
            return false;
        }
        IconImage image{entry[0], entry[1], entry[2], Le16(entry + 4), Le16(entry + 6), {}};
        image.data.assign(file.begin() + offset, file.begin() + offset + length);
        if (!CheckImage(image, i, error)) {
            return false;
        }
        images.push_back(std::move(image));
        ranges.emplace_back(offset, length);
    }
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ranges[a] < ranges[b]; });
    for (std::size_t k = 1; k < count; ++k) {
        const auto& before = ranges[order[k - 1]];
        if (before.first + before.second > ranges[order[k]].first) {
            error = Numbered("Image ", std::min(order[k - 1], order[k]), " of the icon file overlaps another.");
            images.clear();
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> IconGroupBytes(const std::vector<IconImage>& images, const std::vector<std::uint16_t>& ids) {
    std::vector<std::uint8_t> group(kIconDirSize + kGroupEntrySize * images.size());
    PutLe16(group.data() + 2, 1);
    PutLe16(group.data() + 4, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        std::uint8_t* entry = group.data() + kIconDirSize + kGroupEntrySize * i;
        entry[0] = image.width;
        entry[1] = image.height;
        entry[2] = image.colorCount;
        PutLe16(entry + 4, image.planes);
        PutLe16(entry + 6, image.bitCount);
        PutLe32(entry + 8, static_cast<std::uint32_t>(image.data.size()));
        PutLe16(entry + 12, ids[i]);
    }
    return group;
}

std::vector<std::uint16_t> IconGroupIds(std::span<const std::uint8_t> group) {
    std::vector<std::uint16_t> ids;
    if (group.size() < kIconDirSize) {
        return ids;
    }
    std::size_t count = Le16(group.data() + 4);
    for (std::size_t i = 0; i < count && kIconDirSize + kGroupEntrySize * (i + 1) <= group.size(); ++i) {
        ids.push_back(Le16(group.data() + kIconDirSize + kGroupEntrySize * i + 12));
    }
    return ids;
}

bool IconReplacement::Load(std::u16string_view icoPath, Error& error) {
    std::vector<std::uint8_t> bytes;
    return ReadWhole(icoPath, bytes, error) && ParseIconFile(bytes, images_, error);
}

bool IconReplacement::Plan(std::u16string_view exePath, const std::vector<ResourceInfo>& resources,
                           std::vector<ResourceUpdate>& updates, Error& error) const {
    auto firstGroup = std::find_if(resources.begin(), resources.end(),
                                   [](const ResourceInfo& r) { return IsKey(r, kTypeGroupIcon); });
    ResourceKey groupName = firstGroup != resources.end() ? firstGroup->name : ResourceKey::Id(1);
    std::vector<std::uint16_t> languages;
    std::set<std::uint16_t> replaced, stillNamed;
    for (const ResourceInfo& r : resources) {
        if (!IsKey(r, kTypeGroupIcon)) {
            continue;
        }
        std::vector<std::uint8_t> group;
        if (!ReadResource(exePath, r.type, r.name, r.language, group, error)) {
            return false;
        }
        std::vector<std::uint16_t> ids = IconGroupIds(group);
        (r.name == groupName ? replaced : stillNamed).insert(ids.begin(), ids.end());
        if (r.name == groupName) {
            languages.push_back(r.language);
        }
    }
    if (languages.empty()) {
        languages.push_back(kLanguageEnglishUS);
    }
    std::set<std::uint16_t> kept;
    for (const ResourceInfo& r : resources) {
        if (!IsKey(r, kTypeIcon) || r.name.IsName()) {
            continue;
        }
        if (replaced.count(r.name.id) != 0 && stillNamed.count(r.name.id) == 0) {
            updates.push_back({r.type, r.name, r.language, {}, true});
        } else {
            kept.insert(r.name.id);
        }
    }
    std::vector<std::uint16_t> ids;
    if (!FreeIds(kept, images_.size(), ids)) {
        error = Refusal("The executable has no free icon numbers left for the icon's images.");
        return false;
    }
    // The loader finds an image in whatever language it is stored, so one copy serves every
    // language of the group; it goes under the language a neutral lookup of the group finds.
    std::uint16_t imageLanguage = *std::min_element(languages.begin(), languages.end());
    for (std::uint16_t preferred : {std::uint16_t{0}, kLanguageEnglishUS}) {
        if (std::find(languages.begin(), languages.end(), preferred) != languages.end()) {
            imageLanguage = preferred;
            break;
        }
    }
    for (std::size_t i = 0; i < images_.size(); ++i) {
        ResourceUpdate& image = updates.emplace_back(
            ResourceUpdate{ResourceKey::Id(kTypeIcon), ResourceKey::Id(ids[i]), imageLanguage, {}});
        image.data.bytes = images_[i].data;
    }
    std::vector<std::uint8_t> group = IconGroupBytes(images_, ids);
    for (std::uint16_t language : languages) {
        // Removed first: a text name kept exactly as the template stored it would otherwise stay
        // beside the upper-cased one an update stores.
        if (firstGroup != resources.end()) {
            updates.push_back({ResourceKey::Id(kTypeGroupIcon), groupName, language, {}, true});
        }
        ResourceUpdate& stored =
            updates.emplace_back(ResourceUpdate{ResourceKey::Id(kTypeGroupIcon), groupName, language, {}});
        stored.data.bytes = group;
    }
    return true;
}

} // namespace pe
