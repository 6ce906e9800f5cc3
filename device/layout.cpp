// Device folders, processor families and the device's shortcut files.
#include "device/layout.h"

#include "device/member_paths.h"
#include "package/records.h"
#include "platform/text.h"

namespace device {

const CpuChoice* CpuChoiceOf(std::uint32_t flag) {
    for (const CpuChoice& choice : kCpuChoices) {
        if (choice.flag == flag) {
            return &choice;
        }
    }
    return nullptr;
}

TargetFolderPlace TargetFolderPlaceOf(std::int32_t targetFolder) {
    for (const TargetFolder& folder : kTargetFolders) {
        if (folder.code == targetFolder) {
            return {folder.deviceFolder, folder.macro};
        }
    }
    // Any number the tool never sets (a package made before the target folder was chosen
    // carries 0) is the root: the one place every device has.
    return {u"", 0};
}

std::u16string MacroText(std::uint16_t macro) { return u"%CE" + platform::ToUtf16(std::to_string(macro)) + u"%"; }

std::uint16_t MacroNumber(std::u16string_view text) {
    if (text.size() < 5 || text.size() > 6 || text.front() != u'%' || text.back() != u'%' ||
        (text[1] != u'C' && text[1] != u'c') || (text[2] != u'E' && text[2] != u'e')) {
        return 0;
    }
    std::uint16_t n = 0;
    for (char16_t c : text.substr(3, text.size() - 4)) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
        n = static_cast<std::uint16_t>(n * 10 + (c - u'0'));
    }
    return n >= 1 && n <= 17 ? n : 0;
}

std::u16string_view MacroFolderPath(std::uint16_t macro) {
    // The folders of a Pocket PC, as the CAB wizard's documentation lists them.
    static constexpr std::u16string_view kFolders[] = {u"",
                                                       u"Program Files",
                                                       u"Windows",
                                                       u"Windows\\Desktop",
                                                       u"Windows\\StartUp",
                                                       u"My Documents",
                                                       u"Program Files\\Accessories",
                                                       u"Program Files\\Communication",
                                                       u"Program Files\\Games",
                                                       u"Program Files\\Pocket Outlook",
                                                       u"Program Files\\Office",
                                                       u"Windows\\Start Menu\\Programs",
                                                       u"Windows\\Start Menu\\Programs\\Accessories",
                                                       u"Windows\\Start Menu\\Programs\\Communications",
                                                       u"Windows\\Start Menu\\Programs\\Games",
                                                       u"Windows\\Fonts",
                                                       u"Windows\\Recent",
                                                       u"Windows\\Start Menu"};
    return macro < std::size(kFolders) ? kFolders[macro] : std::u16string_view();
}

std::u16string ExpandDeviceMacro(std::u16string_view text) {
    if (!text.empty() && text.front() == u'\\') {
        return std::u16string(text.substr(1));
    }
    std::size_t end = text.find(u'\\');
    std::uint16_t macro = MacroNumber(text.substr(0, end));
    if (macro == 0) {
        return std::u16string(text);
    }
    return JoinDevicePath(MacroFolderPath(macro), end == std::u16string_view::npos ? u"" : text.substr(end + 1));
}

std::uint32_t CpuFlagByName(std::u16string_view name) {
    for (const CpuChoice& choice : kCpuChoices) {
        if (name.size() != choice.name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            char16_t c = name[i] >= u'a' && name[i] <= u'z' ? static_cast<char16_t>(name[i] - u'a' + u'A') : name[i];
            same = c == choice.name[i];
        }
        if (same) {
            return choice.flag;
        }
    }
    return 0;
}

std::u16string JoinDevicePath(std::u16string_view a, std::u16string_view b) {
    std::u16string path(a);
    if (!path.empty() && !b.empty()) {
        path += u'\\';
    }
    return path += b;
}

bool CheckInstallFolder(std::u16string_view installFolder, std::u16string& below, Error& error) {
    below.clear();
    // The install folder comes from the package and so from outside: it is checked exactly as a
    // member's path is, so that it cannot lead out of the destination either.
    if (!installFolder.empty() && !RelativeMemberPath(u"", installFolder, below, error)) {
        error = Refusal("the program's folder on the device (" + platform::Printable(platform::ToUtf8(installFolder)) +
                        ") is refused: " + error.message);
        return false;
    }
    return true;
}

bool DeviceFolder(std::int32_t targetFolder, std::u16string_view installFolder, std::u16string& folder, Error& error) {
    std::u16string below;
    if (!CheckInstallFolder(installFolder, below, error)) {
        return false;
    }
    folder = JoinDevicePath(TargetFolderPlaceOf(targetFolder).folder, below);
    return true;
}

std::string ShortcutText(std::u16string_view target) {
    std::u16string quoted = u"\"\\" + std::u16string(target) + u"\"";
    std::size_t characters = 0;
    for (char16_t c : quoted) {
        // A surrogate pair is one character.
        characters += (c >= 0xDC00 && c <= 0xDFFF) ? 0 : 1;
    }
    return std::to_string(characters) + "#" + platform::ToUtf8(quoted);
}

} // namespace device
