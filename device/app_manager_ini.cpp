// Writing the Application Manager's .ini.
#include "device/app_manager_ini.h"

#include "device/cabinet_file.h"
#include "platform/code_page.h"
#include "platform/text.h"

namespace device {
namespace {

// A text the Western code page holds; any character it lacks, or one an .ini line reads as its
// own ('[', ']', '=', ';', a line break), as '_'.
std::string WesternText(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        std::string bytes;
        if (c < 0x20 || c == u'[' || c == u']' || c == u'=' || c == u';' ||
            !platform::ToCodePage(platform::kWesternCodePage, std::u16string_view(&c, 1), bytes)) {
            bytes = "_";
        }
        out += bytes;
    }
    return out;
}

} // namespace

std::u16string AppManagerIniName(std::u16string_view appName) { return OutputStem(appName) + u".ini"; }

std::u16string AppManagerComponent(std::u16string_view appName) {
    std::u16string component = platform::FromCodePage(platform::kWesternCodePage, WesternText(OutputStem(appName)));
    // An .ini reader trims the blanks around a value but not inside a section's brackets, so a
    // component with a blank at either end would not find its own section.
    auto blank = [](char16_t c) { return c == u' ' || c == u'\u00A0'; };
    while (!component.empty() && blank(component.back())) {
        component.pop_back();
    }
    std::size_t first = 0;
    while (first < component.size() && blank(component[first])) {
        ++first;
    }
    component.erase(0, first);
    return component.empty() ? std::u16string(u"Setup") : component;
}

bool MakeAppManagerIni(std::u16string_view appName, std::span<const std::u16string> cabinetNames, std::string& bytes,
                       Error& error) {
    bytes.clear();
    if (cabinetNames.empty()) {
        error = Refusal("the Application Manager is given no installation file");
        return false;
    }
    std::string list;
    for (const std::u16string& name : cabinetNames) {
        std::string western;
        bool controls = false;
        for (char16_t c : name) {
            controls = controls || c < 0x20 || c == 0x7F;
        }
        if (name.empty() || controls || name.find(u',') != std::u16string::npos || name.front() == u' ' ||
            name.back() == u' ' || !platform::ToCodePage(platform::kWesternCodePage, name, western)) {
            error = Refusal("the installation file name \"" + platform::ToUtf8(name) +
                            "\" cannot be listed for the Application Manager, which reads Western (1252) text "
                            "without commas or blanks around the names");
            return false;
        }
        list += list.empty() ? "" : ",";
        list += western;
    }
    std::string component = WesternText(AppManagerComponent(appName));
    std::string description = WesternText(appName);
    bytes = "[CEAppManager]\r\n"
            "Version = 1.0\r\n"
            "Component = " + component + "\r\n"
            "\r\n"
            "[" + component + "]\r\n"
            "Description = " + description + "\r\n"
            "Uninstall = " + component + "\r\n"
            "CabFiles = " + list + "\r\n";
    return true;
}

} // namespace device
