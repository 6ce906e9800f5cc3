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

bool MakeSetupInf(const InstallPlan& plan, const InfSettings& settings, std::string& text, Error& error) {
    auto convert = [&](std::u16string_view from, std::string& to, std::string_view what) {
        // Quoting keeps every other character inside its field; a line break would still end the line.
        if (platform::HasControlCharacter(from)) {
            error = Refusal(std::string(what) + " " + platform::Printable(platform::ToUtf8(from)) +
                            " holds a control character (a line break, a tab), which an INF file cannot hold");
            return false;
        }
        if (!ToCabinetText(from, to)) {
            error =
                Refusal(std::string(what) + " " + platform::ToUtf8(from) +
                        " has a character the CAB wizard cannot take (it reads Western Windows text, code page 1252)");
            return false;
        }
        return true;
    };
    std::string appName, provider, installFolder, sourceFolder;
    if (!convert(settings.appName, appName, "the program name") ||
        !convert(settings.provider, provider, "the provider") ||
        !convert(plan.installFolder, installFolder, "the program's folder") ||
        !convert(settings.sourceFolder, sourceFolder, "the source folder")) {
        return false;
    }
    // The wizard finds a source file by its name alone, in the folder its disk names.
    std::map<std::u16string, std::size_t> byName;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        auto [at, added] = byName.emplace(platform::NameKey(NameOf(plan.files[i].below)), i);
        if (!added) {
            error = Refusal(
                "the CAB wizard cannot take two files of one name: " + platform::ToUtf8(plan.files[at->second].below) +
                " and " + platform::ToUtf8(plan.files[i].below) + " (tarvelo-build cab can)");
            return false;
        }
    }

    std::vector<std::string> lines = InfOpeningLines(provider);
    lines.push_back("AppName = " + Quoted(appName));
    lines.push_back("InstallDir = " + DestinationOf(plan, installFolder));
    lines.push_back("");
    lines.push_back("[CEDevice]");
    if (settings.processorType != 0) {
        lines.push_back("ProcessorType = " + std::to_string(settings.processorType));
    }

    // One disk and one copy list per folder the files come from.
    std::vector<std::u16string> folders;
    std::map<std::u16string, std::size_t> folderOf;
    std::vector<std::size_t> listOf;
    for (const PlannedFile& file : plan.files) {
        std::u16string folder(FolderOf(file.below));
        auto [at, added] = folderOf.emplace(folder, folders.size());
        if (added) {
            folders.push_back(folder);
        }
        listOf.push_back(at->second);
    }
    std::string copyLists;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i > 0) {
            copyLists += ',';
        }
        copyLists += "Files." + std::to_string(i + 1);
    }
    lines.push_back("");
    lines.push_back("[DefaultInstall]");
    lines.push_back("CopyFiles = " + copyLists);
    if (!plan.shortcuts.empty()) {
        lines.push_back("CEShortcuts = Shortcuts");
    }

    std::vector<std::string> below(folders.size());
    lines.push_back("");
    lines.push_back("[SourceDisksNames]");
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::string source;
        if (!convert(folders[i], below[i], "the folder") ||
            !convert(JoinDevicePath(settings.sourceFolder, folders[i]), source, "the folder")) {
            return false;
        }
        lines.push_back(std::to_string(i + 1) + " = ," + Quoted("Files " + std::to_string(i + 1)) + ",," +
                        Quoted(source));
    }
    std::vector<std::string> names(plan.files.size());
    lines.push_back("");
    lines.push_back("[SourceDisksFiles]");
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        if (!convert(NameOf(plan.files[i].below), names[i], "the file")) {
            return false;
        }
        lines.push_back(Quoted(names[i]) + " = " + std::to_string(listOf[i] + 1));
    }
    lines.push_back("");
    lines.push_back("[DestinationDirs]");
    for (std::size_t i = 0; i < folders.size(); ++i) {
        // Below %InstallDir%, so that the folders move with the install folder, as the device's
        // installer lets the user choose it.
        lines.push_back("Files." + std::to_string(i + 1) + " = 0,\"%InstallDir%" +
                        (below[i].empty() ? "" : "\\" + Escaped(below[i])) + "\"");
    }
    if (!plan.shortcuts.empty()) {
        lines.push_back("Shortcuts = 0,%CE" + std::to_string(kStartMenuMacro) + "%");
    }
    for (std::size_t list = 0; list < folders.size(); ++list) {
        lines.push_back("");
        lines.push_back("[Files." + std::to_string(list + 1) + "]");
        for (std::size_t i = 0; i < plan.files.size(); ++i) {
            if (listOf[i] == list) {
                lines.push_back(Quoted(names[i]) + "," + Quoted(names[i]) + ",," + std::string(kAlwaysOverwrite));
            }
        }
    }
    if (!plan.shortcuts.empty()) {
        lines.push_back("");
        lines.push_back("[Shortcuts]");
        for (const PlannedShortcut& shortcut : plan.shortcuts) {
            std::string name;
            if (!convert(shortcut.name, name, "the shortcut")) {
                return false;
            }
            // The name keeps its ".lnk": the wizard adds one only to a name without it.
            lines.push_back(Quoted(name) + ",0," + Quoted(names[shortcut.file]));
        }
    }
    text.clear();
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return true;
}

} // namespace device
