// Planning an installation from the package's header and table.
#include "template/install_plan.h"

#include "cli/member_paths.h"
#include "package/package.h"
#include "platform/names.h"
#include "platform/text.h"
#include "template/device_layout.h"

namespace setup {
namespace {

// The shortcut's file name: the one the package gives, which must be a plain name, or else the
// member's own name with ".lnk" in place of its extension.
bool ShortcutName(const PackageEntry& entry, std::u16string_view memberRelative, std::u16string& name,
                  std::string& cause) {
    std::u16string_view given = FieldText(entry.shortcutName);
    if (given.empty()) {
        std::u16string_view file = memberRelative.substr(memberRelative.find_last_of(u'\\') + 1);
        name = std::u16string(file.substr(0, file.find_last_of(u'.'))) + u".lnk";
        return true;
    }
    return CheckShortcutName(given, name, cause);
}

constexpr std::size_t kLongestDevicePath = 259;
constexpr std::size_t kLongestDeviceName = 255;

// Where every file of the plan goes: members, then shortcuts.
std::vector<std::u16string> PlacesOf(const InstallPlan& plan) {
    std::vector<std::u16string> places;
    for (const PlannedFile& file : plan.files) {
        places.push_back(file.relative);
    }
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        places.push_back(shortcut.relative);
    }
    return places;
}

bool FitsTheDevice(const std::u16string& relative, std::string& cause) {
    if (relative.size() + 1 > kLongestDevicePath) {
        cause = "its path on the device is longer than " + std::to_string(kLongestDevicePath) +
                " characters: " + platform::ToUtf8(relative);
        return false;
    }
    std::size_t start = 0;
    for (std::size_t at = 0; at <= relative.size(); ++at) {
        if (at == relative.size() || relative[at] == u'\\') {
            if (at - start > kLongestDeviceName) {
                cause = "a name in its path is longer than " + std::to_string(kLongestDeviceName) +
                        " characters: " + platform::ToUtf8(relative);
                return false;
            }
            start = at + 1;
        }
    }
    return true;
}

} // namespace

bool CheckShortcutName(std::u16string_view given, std::u16string& name, std::string& cause) {
    std::u16string checked;
    if (!cli::RelativeMemberPath(u"", given, checked, cause) || checked.find(u'\\') != std::u16string::npos) {
        cause = "the shortcut name " + platform::ToUtf8(given) + " is not a plain file name" +
                (cause.empty() ? "" : " (" + cause + ")");
        return false;
    }
    name = checked;
    return true;
}

bool PlanInstall(const Package& package, std::uint32_t cpuFlag, InstallPlan& plan, std::string& cause) {
    std::vector<PackageEntry> entries(package.GetCount());
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        package.GetEntry(i, &entries[i]);
    }
    return PlanInstall(package.GetHeader(), entries, cpuFlag, plan, cause);
}

bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, std::string& cause) {
    plan = InstallPlan{};
    if (!DeviceFolder(header.targetFolder, FieldText(header.installFolder), plan.deviceFolder, cause)) {
        return false;
    }
    std::u16string_view sourceFolder = FieldText(header.sourceFolder);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& entry = entries[i];
        if ((entry.flags & cpuFlag) == 0) {
            continue;
        }
        std::u16string below;
        std::string why;
        if (!cli::RelativeMemberPath(sourceFolder, FieldText(entry.filename), below, why)) {
            cause = "file " + platform::ToUtf8(FieldText(entry.filename)) + " refused: " + why;
            plan = InstallPlan{};
            return false;
        }
        PlannedFile file{static_cast<std::int32_t>(i), JoinDevicePath(plan.deviceFolder, below), entry.size};
        plan.totalBytes += entry.size;
        if (entry.flags & FLAG_SHORTCUT) {
            std::u16string name;
            if (!ShortcutName(entry, below, name, cause)) {
                plan = InstallPlan{};
                return false;
            }
            plan.shortcuts.push_back({JoinDevicePath(kStartMenuFolder, name), ShortcutText(file.relative)});
        }
        plan.files.push_back(std::move(file));
    }
    std::vector<std::u16string> places = PlacesOf(plan);
    // The device's paths, from its root, hold at most 259 characters and its names 255.
    for (const std::u16string& place : places) {
        if (!FitsTheDevice(place, cause)) {
            plan = InstallPlan{};
            return false;
        }
    }
    // Names that differ on this PC may be one file on the device, where the later would silently
    // replace the earlier: "a.txt" and "A.TXT", "x" and "x.", a shortcut and a member.
    std::vector<platform::NameClash> clashes = platform::NameClashes(places);
    if (!clashes.empty()) {
        const platform::NameClash& c = clashes.front();
        cause = "two files would be one on the device: " + platform::ToUtf8(places[c.file]) +
                (c.otherIsBelow ? " and the folder of " : " and ") + platform::ToUtf8(places[c.other]);
        plan = InstallPlan{};
        return false;
    }
    return true;
}

} // namespace setup
