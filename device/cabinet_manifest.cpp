// The manifest of a device cabinet (its file 000), made from a cabinet design section by section,
// laid out as the CAB wizard lays it out: string 1 is the install folder whole, folders inside it
// start with that string, folder ids start at 2, every text is padded to four bytes, a
// shortcut's list of strings has no closing 0. And a workspace's install plan as a design.
#include "device/cabinet_manifest.h"

#include "device/cabinet_format.h"
#include "device/inf_text.h"
#include "device/layout.h"
#include "platform/little_endian.h"
#include "platform/text.h"

#include <map>

namespace device {
namespace {

using namespace cabfmt;
using platform::AppendLe16;
using platform::AppendLe32;
using platform::SetLe16;
using platform::SetLe32;

std::vector<std::u16string> Components(std::u16string_view path) {
    std::vector<std::u16string> parts;
    while (!path.empty()) {
        std::size_t slash = path.find(u'\\');
        parts.emplace_back(path.substr(0, slash));
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    }
    return parts;
}

// A text's stored length: with its NUL, rounded up as the wizard rounds it.
std::size_t PaddedLength(std::size_t text) { return (text + 1 + kTextAlignment - 1) / kTextAlignment * kTextAlignment; }

void AppendPadded(std::string& out, const std::string& text) {
    out += text;
    out.append(PaddedLength(text.size()) - text.size(), '\0');
}

// Whether the device is to expand folder macros in a registry value's data: it holds %InstallDir%
// or a %CEn%.
bool HasDeviceMacro(std::u16string_view text) {
    for (std::size_t at = text.find(u'%'); at != std::u16string_view::npos;) {
        std::size_t end = text.find(u'%', at + 1);
        if (end == std::u16string_view::npos) {
            return false;
        }
        std::u16string_view macro = text.substr(at, end - at + 1);
        if (MacroNumber(macro) > 0 || inf::SameName(macro, u"%InstallDir%")) {
            return true;
        }
        at = end;
    }
    return false;
}

class ManifestMaker {
public:
    ManifestMaker(const CabinetDesign& design, Error& error) : d_(design), error_(error) {}

    bool Make(std::string& out) {
        return Convert() && Number() && Check() && Assemble(out);
    }

private:
    // Every text in the device's 8-bit form, and the ids of the strings, in the order the wizard
    // gives them: the install folder, the folders, the registry keys, the shortcuts.
    bool Convert() {
        if (!Text(d_.appName, appName_, "the program name") || !Text(d_.provider, provider_, "the provider") ||
            !Text(d_.installDir, installDir_, "the install folder")) {
            return false;
        }
        strings_.push_back(installDir_);
        for (const std::u16string& name : d_.unsupported) {
            std::string text;
            if (!Text(name, text, "the unsupported platform")) {
                return false;
            }
            unsupported_.push_back(std::move(text));
        }
        for (const DesignFolder& folder : d_.folders) {
            std::vector<std::uint16_t> ids;
            if (folder.inInstallDir) {
                ids.push_back(kInstallDirString);
            }
            for (const std::u16string& part : folder.parts) {
                if (!Id(part, "the folder " + platform::ToUtf8(part), ids)) {
                    return false;
                }
            }
            if (ids.empty() && !Id(u"\\", "the device's root", ids)) {
                return false;
            }
            dirs_.push_back(std::move(ids));
        }
        for (const DesignFile& file : d_.files) {
            std::string name;
            if (!Text(file.name, name, "the file")) {
                return false;
            }
            fileNames_.push_back(std::move(name));
        }
        if (d_.setupDll && !Text(d_.setupDll->name, setupName_, "the setup DLL")) {
            return false;
        }
        std::map<std::pair<RegistryRoot, std::u16string>, std::uint16_t> hiveIds;
        for (const RegistryValue& value : d_.registry) {
            auto [at, added] =
                hiveIds.try_emplace({value.root, value.key}, static_cast<std::uint16_t>(hives_.size() + 1));
            if (added) {
                Hive hive{value.root, {}};
                // Named once, not once for each of its names: a key may have thousands of them.
                const std::string what = "the registry key " + platform::ToUtf8(value.key);
                for (const std::u16string& part : Components(value.key)) {
                    if (!Id(part, what, hive.ids)) {
                        return false;
                    }
                }
                hives_.push_back(std::move(hive));
            }
            std::string data;
            if (!RegistryData(value, data)) {
                return false;
            }
            keys_.push_back({at->second, std::move(data)});
        }
        for (const DesignLink& link : d_.links) {
            std::vector<std::uint16_t> ids;
            for (const std::u16string& part : link.parts) {
                if (!Id(part, "the shortcut " + platform::ToUtf8(part), ids)) {
                    return false;
                }
            }
            links_.push_back(std::move(ids));
        }
        return true;
    }

    bool RegistryData(const RegistryValue& value, std::string& data) {
        const std::string what = "the registry value " + platform::ToUtf8(value.name) + " of " +
                                 platform::ToUtf8(value.key);
        if (!Text(value.name, data, what + ": its name")) {
            return false;
        }
        data += '\0';
        std::string text;
        switch (value.type & kRegTypeMask) {
        case kRegString:
            if (!Text(value.texts.empty() ? u"" : value.texts.front(), text, what)) {
                return false;
            }
            data += text + '\0';
            break;
        case kRegMultiString:
            for (const std::u16string& one : value.texts) {
                if (!Text(one, text, what)) {
                    return false;
                }
                data += text + '\0';
            }
            data += '\0';
            break;
        case kRegBinary:
            data.append(value.bytes.begin(), value.bytes.end());
            break;
        default:
            AppendLe32(data, value.number);
            break;
        }
        return true;
    }

    bool Number() {
        for (std::size_t i = 0; i < d_.files.size(); ++i) {
            fileNumbers_.push_back(CabinetFileNumber(i));
        }
        return true;
    }

    // Every count, offset and length the manifest keeps in 16 bits is checked before any is
    // written: one that wrapped would name the wrong text, or make a cabinet that no reader, ours
    // included, takes.
    bool Check() {
        if (!Fits(PaddedLength(appName_.size()), "the program name is too long for a device cabinet: its length") ||
            !Fits(PaddedLength(provider_.size()), "the provider is too long for a device cabinet: its length") ||
            !Fits(kManHeaderSize + PaddedLength(appName_.size()),
                  "the program name is too long for a device cabinet: the provider would begin at byte") ||
            !Fits(kManHeaderSize + PaddedLength(appName_.size()) + PaddedLength(provider_.size()),
                  "the program name and provider are too long for a device cabinet: the unsupported platforms "
                  "would begin at byte") ||
            !Fits(UnsupportedLength(), "the unsupported platforms are too many for a device cabinet: their length") ||
            !Fits(strings_.size(), "the files' folders, registry keys and shortcuts use too many different names") ||
            !Fits(dirs_.size() + kFirstDirId - 1, "the files lie in too many folders") ||
            !Fits(hives_.size(), "the registry values lie in too many keys") ||
            !Fits(keys_.size(), "there are too many registry values") ||
            !Fits(links_.size(), "there are too many shortcuts")) {
            return false;
        }
        for (const std::string& text : strings_) {
            if (!Fits(PaddedLength(text.size()), "a folder's, key's or shortcut's name is too long: its length")) {
                return false;
            }
        }
        for (std::size_t i = 0; i < fileNames_.size(); ++i) {
            if (!Fits(PaddedLength(fileNames_[i].size()),
                      "the name of " + platform::ToUtf8(d_.files[i].name) + " is too long: its length")) {
                return false;
            }
        }
        for (const std::vector<std::uint16_t>& ids : dirs_) {
            if (!Fits(2 * (ids.size() + 1), "a folder has too many names in its path: its length in bytes")) {
                return false;
            }
        }
        for (const Hive& hive : hives_) {
            if (!Fits(2 * (hive.ids.size() + 1), "a registry key has too many names in its path: its length in bytes")) {
                return false;
            }
        }
        for (const Key& key : keys_) {
            if (!Fits(key.data.size(), "a registry value's name and data are too long: their length")) {
                return false;
            }
        }
        for (const std::vector<std::uint16_t>& ids : links_) {
            if (!Fits(2 * ids.size(), "a shortcut has too many names in its path: its length in bytes")) {
                return false;
            }
        }
        return true;
    }

    std::size_t UnsupportedLength() const {
        if (unsupported_.empty()) {
            return 0;
        }
        std::size_t length = 1;
        for (const std::string& name : unsupported_) {
            length += name.size() + 1;
        }
        return (length + kTextAlignment - 1) / kTextAlignment * kTextAlignment;
    }

    bool Assemble(std::string& out) {
        out.assign(kManHeaderSize, '\0');
        SetLe32(out, kManSignature, kManifestSignature);
        SetLe32(out, kManUnknown16, 1);
        SetLe32(out, kManProcessor, d_.processorType);
        SetLe32(out, kManVersionMin, d_.limits.versionMin[0]);
        SetLe32(out, kManVersionMin + 4, d_.limits.versionMin[1]);
        SetLe32(out, kManVersionMax, d_.limits.versionMax[0]);
        SetLe32(out, kManVersionMax + 4, d_.limits.versionMax[1]);
        SetLe32(out, kManBuildMin, d_.limits.buildMin);
        SetLe32(out, kManBuildMax, d_.limits.buildMax);
        PutText(out, kManAppName, appName_);
        PutText(out, kManProvider, provider_);
        // With no platform refused the list is empty and points where the strings begin.
        SetLe16(out, kManUnsupported, static_cast<std::uint16_t>(out.size()));
        SetLe16(out, kManUnsupported + 2, static_cast<std::uint16_t>(UnsupportedLength()));
        if (!unsupported_.empty()) {
            std::size_t start = out.size();
            for (const std::string& name : unsupported_) {
                out += name + '\0';
            }
            out += '\0';
            out.resize(start + UnsupportedLength(), '\0');
        }

        Begin(out, kStrings, strings_.size());
        for (std::size_t i = 0; i < strings_.size(); ++i) {
            AppendLe16(out, static_cast<std::uint16_t>(i + 1));
            AppendLe16(out, static_cast<std::uint16_t>(PaddedLength(strings_[i].size())));
            AppendPadded(out, strings_[i]);
        }
        Begin(out, kDirs, dirs_.size());
        for (std::size_t i = 0; i < dirs_.size(); ++i) {
            AppendLe16(out, static_cast<std::uint16_t>(i + kFirstDirId));
            AppendIds(out, dirs_[i], true);
        }
        Begin(out, kFiles, d_.files.size());
        for (std::size_t i = 0; i < d_.files.size(); ++i) {
            const DesignFile& file = d_.files[i];
            AppendLe16(out, fileNumbers_[i]);
            AppendLe16(out, static_cast<std::uint16_t>(file.folder + kFirstDirId));
            AppendLe16(out, file.source);
            AppendLe32(out, file.flags);
            AppendLe16(out, static_cast<std::uint16_t>(PaddedLength(fileNames_[i].size())));
            AppendPadded(out, fileNames_[i]);
        }
        Begin(out, kRegHives, hives_.size());
        for (std::size_t i = 0; i < hives_.size(); ++i) {
            AppendLe16(out, static_cast<std::uint16_t>(i + 1));
            AppendLe16(out, static_cast<std::uint16_t>(hives_[i].root));
            AppendLe16(out, 0);
            AppendIds(out, hives_[i].ids, true);
        }
        Begin(out, kRegKeys, keys_.size());
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            const RegistryValue& value = d_.registry[i];
            bool substitute = false;
            for (const std::u16string& text : value.texts) {
                substitute = substitute || HasDeviceMacro(text);
            }
            AppendLe16(out, static_cast<std::uint16_t>(i + 1));
            AppendLe16(out, keys_[i].hive);
            AppendLe16(out, substitute ? 1 : 0);
            AppendLe32(out, value.type);
            AppendLe16(out, static_cast<std::uint16_t>(keys_[i].data.size()));
            out += keys_[i].data;
        }
        Begin(out, kLinks, links_.size());
        for (std::size_t i = 0; i < links_.size(); ++i) {
            const DesignLink& link = d_.links[i];
            std::uint16_t target = link.toFile                                  ? fileNumbers_[link.target]
                                   : link.target == kInstallFolderTarget ? 0
                                                                         : static_cast<std::uint16_t>(link.target + kFirstDirId);
            AppendLe16(out, static_cast<std::uint16_t>(i + 1));
            AppendLe16(out, 0);
            AppendLe16(out, link.base);
            AppendLe16(out, target);
            AppendLe16(out, link.toFile ? kLinkToFile : kLinkToFolder);
            AppendIds(out, links_[i], false);
        }
        SetLe32(out, kManLength, static_cast<std::uint32_t>(out.size()));
        return true;
    }

    void PutText(std::string& out, std::size_t field, const std::string& text) {
        SetLe16(out, field, static_cast<std::uint16_t>(out.size()));
        SetLe16(out, field + 2, static_cast<std::uint16_t>(PaddedLength(text.size())));
        AppendPadded(out, text);
    }

    static void Begin(std::string& out, Section section, std::size_t count) {
        SetLe16(out, CountAt(section), static_cast<std::uint16_t>(count));
        SetLe32(out, OffsetAt(section), static_cast<std::uint32_t>(out.size()));
    }

    static void AppendIds(std::string& out, const std::vector<std::uint16_t>& ids, bool closed) {
        AppendLe16(out, static_cast<std::uint16_t>(2 * (ids.size() + (closed ? 1 : 0))));
        for (std::uint16_t id : ids) {
            AppendLe16(out, id);
        }
        if (closed) {
            AppendLe16(out, 0);
        }
    }

    bool Text(std::u16string_view text, std::string& out, const std::string& role) {
        if (ToCabinetText(text, out, d_.codePage)) {
            return true;
        }
        error_ = Refusal(role + " " + platform::ToUtf8(text) +
                         (d_.codePage == 1252
                              ? std::string(" has a character a device cabinet cannot hold (its names are Western "
                                            "Windows text, code page 1252)")
                              : " has a character the device's code page (" + std::to_string(d_.codePage) +
                                    ") cannot hold"));
        return false;
    }

    bool Id(std::u16string_view text, const std::string& role, std::vector<std::uint16_t>& ids) {
        std::string converted;
        if (!Text(text, converted, role)) {
            return false;
        }
        auto [at, added] = ids_.try_emplace(converted, strings_.size() + 1);
        if (added) {
            strings_.push_back(std::move(converted));
        }
        // Ids past 16 bits are refused by Check before anything is written.
        ids.push_back(static_cast<std::uint16_t>(at->second));
        return true;
    }

    bool Fits(std::size_t value, const std::string& what) {
        if (value <= 0xFFFF) {
            return true;
        }
        error_ = Refusal(what + " (" + std::to_string(value) + "); a device cabinet's manifest holds at most 65535");
        return false;
    }

    struct Hive {
        RegistryRoot root;
        std::vector<std::uint16_t> ids;
    };
    struct Key {
        std::uint16_t hive;
        std::string data; // the name, its NUL, the data
    };

    const CabinetDesign& d_;
    Error& error_;
    std::string appName_, provider_, installDir_, setupName_;
    std::vector<std::string> unsupported_;
    // String 1, the install folder, stands alone: the other ids are shared among equal texts.
    std::vector<std::string> strings_;
    std::map<std::string, std::size_t> ids_;
    std::vector<std::vector<std::uint16_t>> dirs_, links_;
    std::vector<std::string> fileNames_;
    std::vector<std::uint16_t> fileNumbers_;
    std::vector<Hive> hives_;
    std::vector<Key> keys_;
};

} // namespace

std::uint16_t CabinetFileNumber(std::size_t i) {
    std::size_t n = i + 1;
    return static_cast<std::uint16_t>(n >= cabfmt::kSetupDllNumber ? n + 1 : n);
}

bool MakeManifest(const CabinetDesign& design, std::string& out, Error& error) {
    return ManifestMaker(design, error).Make(out);
}

std::uint64_t DesignListing(const CabinetDesign& design) {
    const std::u16string installDir = ExpandDeviceMacro(design.installDir);
    std::vector<std::size_t> folderLengths;
    std::uint64_t listing = 0;
    for (const DesignFolder& folder : design.folders) {
        std::size_t length = folder.inInstallDir ? installDir.size() : 0;
        for (std::size_t i = 0; i < folder.parts.size(); ++i) {
            length += 1 + (i == 0 && !folder.inInstallDir ? ExpandDeviceMacro(folder.parts[i]).size()
                                                          : folder.parts[i].size());
        }
        folderLengths.push_back(length);
        listing += ListingCost(length);
    }
    for (const DesignFile& file : design.files) {
        listing += ListingCost(folderLengths[file.folder] + 1 + file.name.size());
    }
    for (const RegistryValue& value : design.registry) {
        std::size_t length = value.key.size() + value.name.size() + value.bytes.size() * 3;
        for (const std::u16string& text : value.texts) {
            length += text.size() + 1;
        }
        listing += ListingCost(length);
    }
    for (const DesignLink& link : design.links) {
        std::size_t length = ExpandDeviceMacro(link.base == 0 ? design.installDir : MacroText(link.base)).size();
        for (const std::u16string& part : link.parts) {
            length += 1 + part.size();
        }
        if (link.toFile) {
            length += folderLengths[design.files[link.target].folder] + 1 + design.files[link.target].name.size();
        } else {
            length += link.target == kInstallFolderTarget ? installDir.size() : folderLengths[link.target];
        }
        listing += ListingCost(length);
    }
    return listing;
}

CabinetDesign DesignCabinet(const InstallPlan& plan, const CabinetSettings& settings) {
    CabinetDesign design;
    design.appName = settings.appName;
    design.provider = settings.provider;
    design.processorType = settings.processorType;
    const TargetFolderPlace place = TargetFolderPlaceOf(plan.targetFolder);
    const std::u16string base = place.macro == 0 ? u"" : MacroText(place.macro);
    // As `inf -d` writes it: InstallDir = %CEn%\FOLDER, one copy list per folder the files come from,
    // each installed to %InstallDir%\FOLDER-BELOW, the shortcuts from a list installed to %CE11%.
    design.installDir = plan.installFolder.empty() ? (base.empty() ? u"\\" : base)
                        : base.empty()             ? u"\\" + plan.installFolder
                                                   : base + u"\\" + plan.installFolder;
    // One copy list per folder, in the order the files first need them; the files numbered list by
    // list, each list's in the plan's order, and each file's source its line in [SourceDisksFiles],
    // which follows the plan.
    std::map<std::u16string, std::size_t> folderOf;
    std::vector<std::size_t> listOf;
    for (const PlannedFile& file : plan.files) {
        // The file's folder below the install folder, as the plan places it.
        std::u16string_view folder = FolderOf(file.relative);
        std::u16string below(plan.deviceFolder.empty() ? folder
                                                       : folder.substr(std::min(folder.size(), plan.deviceFolder.size() + 1)));
        auto [at, added] = folderOf.try_emplace(below, design.folders.size());
        if (added) {
            design.folders.push_back({true, Components(below)});
        }
        listOf.push_back(at->second);
    }
    std::vector<std::vector<std::size_t>> lists(design.folders.size());
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        lists[listOf[i]].push_back(i);
    }
    std::vector<std::size_t> numberOf(plan.files.size());
    for (std::size_t list = 0; list < lists.size(); ++list) {
        for (std::size_t i : lists[list]) {
            const PlannedFile& file = plan.files[i];
            DesignFile designed;
            designed.name = NameOf(file.relative);
            designed.folder = list;
            designed.source = static_cast<std::uint16_t>(i + 1);
            designed.flags = kCopyNoDateCheck;
            designed.member = file.index;
            designed.size = file.size;
            numberOf[i] = design.files.size();
            design.files.push_back(std::move(designed));
        }
    }
    if (!plan.shortcuts.empty()) {
        design.folders.push_back({false, {MacroText(kStartMenuMacro)}});
    }
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        design.links.push_back({kStartMenuMacro, {shortcut.name}, true, numberOf[shortcut.file]});
    }
    return design;
}

} // namespace device
