// Composing the CAB wizard's INF from an install plan.
#include "device/setup_inf.h"

#include "device/cabinet.h"
#include "device/layout.h"
#include "platform/names.h"
#include "platform/text.h"

#include <map>

namespace device {
namespace {

constexpr std::string_view kAlwaysOverwrite = "0x40000000";

// A text as it stands inside an INF's double quotes: quotes are doubled and '%', which opens a
// string substitution, is written twice. Inside the quotes a ',' or ';' is part of the text, not
// the end of a field or the start of a comment.
std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '"' || c == '%') {
            out += c;
        }
    }
    return out;
}

std::string Quoted(std::string_view text) { return "\"" + Escaped(text) + "\""; }

// The folder's place for InstallDir, quoted whole: below the wizard's %CEn%
// macro, which the wizard still replaces inside the quotes, or below the root.
std::string DestinationOf(const InstallPlan& plan, const std::string& folderBelowTarget) {
    std::uint16_t macro = TargetFolderPlaceOf(plan.targetFolder).macro;
    std::string base = macro == 0 ? "" : "%CE" + std::to_string(macro) + "%";
    std::string below = Escaped(folderBelowTarget);
    return "\"" + (below.empty() ? (base.empty() ? "\\" : base) : base + "\\" + below) + "\"";
}

} // namespace

std::vector<std::string> InfOpeningLines(std::string_view provider) {
    const std::string rule = ";" + std::string(50, '=');
    return {rule,
            "; Etarvelo generated .inf",
            rule,
            "",
            "[Version]",
            "",
            "Signature = \"$Windows NT$\"",
            "Provider = " + Quoted(provider),
            "CESignature = \"$Windows CE$\"",
            "",
            "[CEStrings]"};
}

namespace {

// The INF of one plan, section by section.
class InfMaker {
public:
    InfMaker(const InstallPlan& plan, const InfSettings& settings, Error& error)
        : plan_(plan), settings_(settings), error_(error) {}

    bool Make(std::string& text) {
        if (!Texts() || !SourceFolders()) {
            return false;
        }
        lines_ = InfOpeningLines(provider_);
        lines_.push_back("AppName = " + Quoted(appName_));
        lines_.push_back("InstallDir = " + DestinationOf(plan_, installFolder_));
        if (!Device() || !DefaultInstall() || !SourceDisks() || !DestinationDirs() || !CopyLists() || !Shortcuts() ||
            !Registry()) {
            return false;
        }
        text.clear();
        for (const std::string& line : lines_) {
            text += line + "\r\n";
        }
        return true;
    }

private:
    bool Convert(std::u16string_view from, std::string& to, std::string_view what) {
        // Quoting keeps every other character inside its field; a line break would still end the line.
        if (platform::HasControlCharacter(from)) {
            error_ = Refusal(std::string(what) + " " + platform::Printable(platform::ToUtf8(from)) +
                             " holds a control character (a line break, a tab), which an INF file cannot hold");
            return false;
        }
        if (!ToCabinetText(from, to, settings_.codePage)) {
            error_ = Refusal(std::string(what) + " " + platform::ToUtf8(from) +
                             " has a character the CAB wizard cannot take in code page " +
                             std::to_string(settings_.codePage));
            return false;
        }
        return true;
    }

    bool Texts() {
        if (!Convert(settings_.appName, appName_, "the program name") ||
            !Convert(settings_.provider, provider_, "the provider") ||
            !Convert(plan_.installFolder, installFolder_, "the program's folder") ||
            !Convert(settings_.sourceFolder, sourceFolder_, "the source folder")) {
            return false;
        }
        // The wizard finds a source file by its name alone, in the folder its disk names.
        std::map<std::u16string, std::size_t> byName;
        for (std::size_t i = 0; i < plan_.files.size(); ++i) {
            auto [at, added] = byName.emplace(platform::NameKey(NameOf(plan_.files[i].below)), i);
            if (!added) {
                error_ = Refusal("the CAB wizard cannot take two files of one name: " +
                                 platform::ToUtf8(plan_.files[at->second].below) + " and " +
                                 platform::ToUtf8(plan_.files[i].below) + " (tarvelo-build cab can)");
                return false;
            }
            names_.emplace_back();
            if (!Convert(NameOf(plan_.files[i].below), names_.back(), "the file")) {
                return false;
            }
        }
        return true;
    }

    // One disk and one copy list per folder the files come from.
    bool SourceFolders() {
        std::map<std::u16string, std::size_t> folderOf;
        for (const PlannedFile& file : plan_.files) {
            std::u16string folder(FolderOf(file.below));
            auto [at, added] = folderOf.emplace(folder, folders_.size());
            if (added) {
                folders_.push_back(folder);
            }
            listOf_.push_back(at->second);
        }
        below_.resize(folders_.size());
        for (std::size_t i = 0; i < folders_.size(); ++i) {
            if (!Convert(folders_[i], below_[i], "the folder")) {
                return false;
            }
        }
        return true;
    }

    bool Device() {
        const DeviceOptions& o = Options();
        const DeviceLimits& l = o.limits;
        lines_.push_back("");
        lines_.push_back("[CEDevice]");
        if (settings_.processorType != 0) {
            lines_.push_back("ProcessorType = " + std::to_string(settings_.processorType));
        }
        if (l.versionMin[0] || l.versionMin[1]) {
            lines_.push_back("VersionMin = " + std::to_string(l.versionMin[0]) + "." + std::to_string(l.versionMin[1]));
        }
        if (l.versionMax[0] || l.versionMax[1]) {
            lines_.push_back("VersionMax = " + std::to_string(l.versionMax[0]) + "." + std::to_string(l.versionMax[1]));
        }
        if (l.buildMin) {
            lines_.push_back("BuildMin = " + Hex(l.buildMin));
        }
        if (l.buildMax) {
            lines_.push_back("BuildMax = " + Hex(l.buildMax));
        }
        if (!o.unsupported.empty()) {
            std::string list;
            for (const std::u16string& name : o.unsupported) {
                std::string text;
                if (!Convert(name, text, "the unsupported platform")) {
                    return false;
                }
                list += (list.empty() ? "" : ",") + Quoted(text);
            }
            lines_.push_back("UnsupportedPlatforms = " + list);
        }
        return true;
    }

    bool DefaultInstall() {
        std::string copyLists;
        for (std::size_t i = 0; i < folders_.size(); ++i) {
            copyLists += (i > 0 ? "," : "") + std::string("Files.") + std::to_string(i + 1);
        }
        lines_.push_back("");
        lines_.push_back("[DefaultInstall]");
        lines_.push_back("CopyFiles = " + copyLists);
        if (!plan_.shortcuts.empty()) {
            lines_.push_back("CEShortcuts = Shortcuts");
        }
        if (!Options().registry.empty()) {
            lines_.push_back("AddReg = RegKeys");
        }
        if (!Options().setupDllName.empty()) {
            if (!Convert(Options().setupDllName, setupName_, "the setup DLL")) {
                return false;
            }
            lines_.push_back("CESetupDLL = " + Quoted(setupName_));
        }
        return true;
    }

    bool SourceDisks() {
        lines_.push_back("");
        lines_.push_back("[SourceDisksNames]");
        for (std::size_t i = 0; i < folders_.size(); ++i) {
            std::string source;
            if (!Convert(JoinDevicePath(settings_.sourceFolder, folders_[i]), source, "the folder")) {
                return false;
            }
            lines_.push_back(std::to_string(i + 1) + " = ," + Quoted("Files " + std::to_string(i + 1)) + ",," +
                             Quoted(source));
        }
        if (!setupName_.empty()) {
            std::string source;
            if (!Convert(settings_.setupDllFolder, source, "the setup DLL's folder")) {
                return false;
            }
            lines_.push_back(std::to_string(folders_.size() + 1) + " = ," + Quoted("Setup") + ",," + Quoted(source));
        }
        lines_.push_back("");
        lines_.push_back("[SourceDisksFiles]");
        for (std::size_t i = 0; i < plan_.files.size(); ++i) {
            lines_.push_back(Quoted(names_[i]) + " = " + std::to_string(listOf_[i] + 1));
        }
        if (!setupName_.empty()) {
            lines_.push_back(Quoted(setupName_) + " = " + std::to_string(folders_.size() + 1));
        }
        return true;
    }

    bool DestinationDirs() {
        lines_.push_back("");
        lines_.push_back("[DestinationDirs]");
        for (std::size_t i = 0; i < folders_.size(); ++i) {
            // Below %InstallDir%, so that the folders move with the install folder, as the device's
            // installer lets the user choose it.
            lines_.push_back("Files." + std::to_string(i + 1) + " = 0,\"%InstallDir%" +
                             (below_[i].empty() ? "" : "\\" + Escaped(below_[i])) + "\"");
        }
        if (!plan_.shortcuts.empty()) {
            lines_.push_back("Shortcuts = 0,%CE" + std::to_string(kStartMenuMacro) + "%");
        }
        return true;
    }

    bool CopyLists() {
        for (std::size_t list = 0; list < folders_.size(); ++list) {
            lines_.push_back("");
            lines_.push_back("[Files." + std::to_string(list + 1) + "]");
            for (std::size_t i = 0; i < plan_.files.size(); ++i) {
                if (listOf_[i] == list) {
                    lines_.push_back(Quoted(names_[i]) + "," + Quoted(names_[i]) + ",," + std::string(kAlwaysOverwrite));
                }
            }
        }
        return true;
    }

    bool Shortcuts() {
        if (plan_.shortcuts.empty()) {
            return true;
        }
        lines_.push_back("");
        lines_.push_back("[Shortcuts]");
        for (const PlannedShortcut& shortcut : plan_.shortcuts) {
            std::string name;
            if (!Convert(shortcut.name, name, "the shortcut")) {
                return false;
            }
            // The name keeps its ".lnk": the wizard adds one only to a name without it.
            lines_.push_back(Quoted(name) + ",0," + Quoted(names_[shortcut.file]));
        }
        return true;
    }

    // AddReg lines: root, key, name (empty for the default value), flags, the data. Texts are
    // quoted with '%' doubled, so that %InstallDir% and %CEn% stay in the data for the device.
    bool Registry() {
        if (Options().registry.empty()) {
            return true;
        }
        lines_.push_back("");
        lines_.push_back("[RegKeys]");
        for (const RegistryValue& value : Options().registry) {
            std::string key, name;
            if (!Convert(value.key, key, "the registry key") || !Convert(value.name, name, "the registry value")) {
                return false;
            }
            std::string line = std::string(RootName(value.root)) + "," + Quoted(key) + "," +
                               (name.empty() ? std::string() : Quoted(name)) + "," + Hex(value.type);
            switch (value.type & kRegTypeMask) {
            case kRegDword:
                line += "," + std::to_string(value.number);
                break;
            case kRegBinary:
                for (std::uint8_t byte : value.bytes) {
                    const char digits[] = "0123456789abcdef";
                    line += std::string(",") + digits[byte >> 4] + digits[byte & 0xF];
                }
                break;
            default:
                for (const std::u16string& one : value.texts) {
                    std::string text;
                    if (!Convert(one, text, "the registry data")) {
                        return false;
                    }
                    line += "," + Quoted(text);
                }
                break;
            }
            lines_.push_back(line);
        }
        return true;
    }

    static std::string Hex(std::uint32_t value) {
        const char digits[] = "0123456789ABCDEF";
        std::string out = "0x";
        for (int shift = 28; shift >= 0; shift -= 4) {
            out += digits[(value >> shift) & 0xF];
        }
        return out;
    }

    const DeviceOptions& Options() const {
        static const DeviceOptions kNone;
        return settings_.options ? *settings_.options : kNone;
    }

    const InstallPlan& plan_;
    const InfSettings& settings_;
    Error& error_;
    std::string appName_, provider_, installFolder_, sourceFolder_, setupName_;
    std::vector<std::string> names_, below_, lines_;
    std::vector<std::u16string> folders_;
    std::vector<std::size_t> listOf_;
};

} // namespace

bool MakeSetupInf(const InstallPlan& plan, const InfSettings& settings, std::string& text, Error& error) {
    return InfMaker(plan, settings, error).Make(text);
}

} // namespace device
