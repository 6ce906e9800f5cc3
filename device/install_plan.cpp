// Planning an installation from the package's header and table.
#include "device/install_plan.h"

#include "device/member_paths.h"
#include "package/package.h"
#include "platform/names.h"
#include "platform/text.h"

#include "device/layout.h"
#include <set>

namespace device {
namespace {

// The shortcut's file name: the one the package gives, which must be a plain name, or else the
// member's own name with ".lnk" in place of its extension.
bool ShortcutName(const PackageEntry& entry, std::u16string_view memberRelative, std::u16string& name, Error& error) {
    std::u16string_view given = FieldText(entry.shortcutName);
    if (given.empty()) {
        std::u16string_view file = memberRelative.substr(memberRelative.find_last_of(u'\\') + 1);
        name = std::u16string(file.substr(0, file.find_last_of(u'.'))) + u".lnk";
        return true;
    }
    return CheckShortcutName(given, name, error);
}

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

bool FitsTheDevice(const std::u16string& relative, Error& error) {
    if (relative.size() + 1 > kLongestDevicePath) {
        error = Refusal("its path on the device is longer than " + std::to_string(kLongestDevicePath) +
                        " characters: " + platform::ToUtf8(relative));
        return false;
    }
    std::size_t start = 0;
    for (std::size_t at = 0; at <= relative.size(); ++at) {
        if (at == relative.size() || relative[at] == u'\\') {
            if (at - start > kLongestDeviceName) {
                error = Refusal("a name in its path is longer than " + std::to_string(kLongestDeviceName) +
                                " characters: " + platform::ToUtf8(relative));
                return false;
            }
            start = at + 1;
        }
    }
    return true;
}

// Not one name but, where the volume makes short names, perhaps one file: the folder install on
// the PC writes one over the other, and the device's cards are FAT.
std::string ShortNameWhy(const platform::NameClash& c) {
    return " (" + platform::ToUtf8(c.shortName) + " may be the short name Windows gives " +
           platform::ToUtf8(c.longName) + ")";
}

} // namespace

std::string DeviceClash(const platform::NameClash& c, const std::vector<std::u16string>& places) {
    if (!c.shortName.empty()) {
        return "two files may be one on the device: " + platform::ToUtf8(places[c.file]) + " and " +
               platform::ToUtf8(places[c.other]) + ShortNameWhy(c);
    }
    return "two files would be one on the device: " + platform::ToUtf8(places[c.file]) +
           (c.otherIsBelow ? " and the folder of " : " and ") + platform::ToUtf8(places[c.other]);
}

bool CheckShortcutName(std::u16string_view given, std::u16string& name, Error& error) {
    std::u16string checked;
    if (!RelativeMemberPath(u"", given, checked, error) || checked.find(u'\\') != std::u16string::npos) {
        error = Refusal("the shortcut name " + platform::Printable(platform::ToUtf8(given)) +
                        " is not a plain file name" + (error.message.empty() ? "" : " (" + error.message + ")"));
        return false;
    }
    name = checked;
    return true;
}

bool PlanInstall(const Package& package, std::uint32_t cpuFlag, InstallPlan& plan, Error& error) {
    std::vector<PackageEntry> entries(package.GetCount());
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        package.GetEntry(i, &entries[i]);
    }
    return PlanInstall(package.GetHeader(), entries, cpuFlag, plan, error);
}

bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, Error& error) {
    std::vector<std::string> problems;
    if (!PlanInstall(header, entries, cpuFlag, plan, problems)) {
        error = Refusal(problems.front());
        return false;
    }
    return true;
}

bool PlanInstall(const PackageHeader& header, const std::vector<PackageEntry>& entries, std::uint32_t cpuFlag,
                 InstallPlan& plan, std::vector<std::string>& problems) {
    plan = InstallPlan{};
    problems.clear();
    const bool toDevice = cpuFlag != kEveryMember;
    plan.targetFolder = header.targetFolder;
    Error error;
    // Without a processor nothing goes to a device, and the files keep the places they had on the PC.
    if (toDevice && !CheckInstallFolder(FieldText(header.installFolder), plan.installFolder, error)) {
        problems.push_back(error.message);
        plan = InstallPlan{};
        return false;
    }
    // The program name reaches the device's cabinet, the CAB wizard's INF and the installer's
    // pages; a line break in it would start a line of its own in the INF.
    std::u16string_view programName = FieldText(header.programName);
    if (toDevice && platform::HasControlCharacter(programName)) {
        problems.push_back("the program name " + platform::Printable(platform::ToUtf8(programName)) +
                           " holds a control character (a line break, a tab), which no name may hold");
        plan = InstallPlan{};
        return false;
    }
    plan.deviceFolder =
        toDevice ? JoinDevicePath(TargetFolderPlaceOf(header.targetFolder).folder, plan.installFolder) : u"";
    std::u16string_view sourceFolder = FieldText(header.sourceFolder);
    std::set<std::u16string> folders;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& entry = entries[i];
        if (plan.licence < 0 && (entry.flags & FLAG_EULA)) {
            plan.licence = static_cast<std::int32_t>(i);
        }
        if ((entry.flags & cpuFlag) == 0) {
            continue;
        }
        PlannedFile file{static_cast<std::int32_t>(i), {}, {}, entry.size};
        Error why;
        if (!RelativeMemberPath(sourceFolder, FieldText(entry.filename), file.below, why)) {
            problems.push_back("file " + std::to_string(i) + " (" + platform::ToUtf8(FieldText(entry.filename)) +
                               ") refused: " + why.message);
            continue;
        }
        file.relative = JoinDevicePath(plan.deviceFolder, file.below);
        plan.totalBytes += entry.size;
        if (toDevice && (entry.flags & FLAG_SHORTCUT)) {
            PlannedShortcut shortcut;
            if (!ShortcutName(entry, file.below, shortcut.name, why)) {
                problems.push_back("file " + std::to_string(i) + ": " + why.message);
                continue;
            }
            shortcut.relative = JoinDevicePath(kStartMenuFolder, shortcut.name);
            shortcut.file = plan.files.size();
            shortcut.text = ShortcutText(file.relative);
            plan.shortcuts.push_back(std::move(shortcut));
        }
        std::u16string folder(FolderOf(file.relative));
        if (folders.insert(folder).second) {
            plan.folders.push_back(std::move(folder));
        }
        plan.files.push_back(std::move(file));
    }
    std::vector<std::u16string> places = PlacesOf(plan);
    // The device's paths, from its root, hold at most 259 characters and its names 255.
    for (const std::u16string& place : places) {
        if (toDevice && !FitsTheDevice(place, error)) {
            problems.push_back(error.message);
        }
    }
    // Names that differ on this PC may be one file on Windows and on the device, where the later
    // would silently replace the earlier: "a.txt" and "A.TXT", "x" and "x.", a shortcut and a member.
    // Every pair is told, so that one look at the list is enough to put them all right.
    for (const platform::NameClash& c : platform::NameClashes(places)) {
        if (toDevice) {
            problems.push_back(DeviceClash(c, places));
        } else if (!c.shortName.empty()) {
            problems.push_back("files " + std::to_string(plan.files[c.other].index) + " and " +
                               std::to_string(plan.files[c.file].index) + " (" + platform::ToUtf8(places[c.other]) +
                               ", " + platform::ToUtf8(places[c.file]) + ") may be one file on Windows" +
                               ShortNameWhy(c));
        } else {
            problems.push_back("files " + std::to_string(plan.files[c.other].index) + " and " +
                               std::to_string(plan.files[c.file].index) + " (" + platform::ToUtf8(places[c.other]) +
                               ", " + platform::ToUtf8(places[c.file]) + ") would be one file on Windows");
        }
    }
    if (!problems.empty()) {
        plan = InstallPlan{};
        return false;
    }
    return true;
}

std::int32_t LicenceMember(const Package& package) {
    PackageEntry entry{};
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        if (package.GetEntry(i, &entry) && (entry.flags & FLAG_EULA)) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

std::u16string_view FolderOf(std::u16string_view path) {
    std::size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string_view::npos ? std::u16string_view() : path.substr(0, slash);
}

std::u16string_view NameOf(std::u16string_view path) { return path.substr(path.find_last_of(u'\\') + 1); }

} // namespace device
