// Parsing the installer's command line.
#include "template/options.h"

#include "device/layout.h"
#include "package/records.h"
#include "platform/text.h"

namespace installer_template {
namespace {

bool StartsWithOption(std::u16string_view argument, std::u16string_view option) {
    if (argument.size() < option.size()) {
        return false;
    }
    for (std::size_t i = 0; i < option.size(); ++i) {
        char16_t c = argument[i] >= u'a' && argument[i] <= u'z' ? static_cast<char16_t>(argument[i] - 32) : argument[i];
        if (c != option[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseOptions(const std::vector<std::u16string>& arguments, Options& options, std::string& cause) {
    options = Options{};
    std::u16string* inFolder = nullptr;
    // Each way once: a second would silently win over the first.
    auto chooseWay = [&](Way way, std::string_view option) {
        if (options.wayGiven) {
            cause = options.way == way ? std::string(option) + " is given twice; give it once"
                                       : "/APPMGR, /DEVICE, /CAB= and /D= cannot be used together: choose one way";
            return false;
        }
        options.wayGiven = true;
        options.way = way;
        return true;
    };
    // A folder option: the folder, which must not be empty.
    auto takeFolder = [&](const std::u16string& argument, std::size_t length, std::u16string& folder) {
        folder = argument.substr(length);
        if (folder.empty()) {
            cause = platform::ToUtf8(argument) + " names no folder";
            return false;
        }
        inFolder = &folder;
        return true;
    };
    for (const std::u16string& argument : arguments) {
        // Installers take the folder unquoted, blanks and all ("/D=C:\My Device"): what follows
        // a folder option up to the next option is the folder.
        if (inFolder && !argument.starts_with(u"/")) {
            inFolder->append(u" ").append(argument);
            continue;
        }
        inFolder = nullptr;
        if (argument.size() == 2 && StartsWithOption(argument, u"/S")) {
            options.silent = true;
        } else if (StartsWithOption(argument, u"/D=")) {
            if (!chooseWay(Way::Folder, "/D=") || !takeFolder(argument, 3, options.destination)) {
                return false;
            }
        } else if (StartsWithOption(argument, u"/CAB=")) {
            if (!chooseWay(Way::Cabinet, "/CAB=") || !takeFolder(argument, 5, options.cabinetFolder)) {
                return false;
            }
        } else if (argument.size() == 7 && StartsWithOption(argument, u"/APPMGR")) {
            if (!chooseWay(Way::AppManager, "/APPMGR")) {
                return false;
            }
        } else if (StartsWithOption(argument, u"/APPMGR=")) {
            if (!chooseWay(Way::AppManager, "/APPMGR") || !takeFolder(argument, 8, options.appManagerFolder)) {
                return false;
            }
        } else if (argument.size() == 7 && StartsWithOption(argument, u"/DEVICE")) {
            if (!chooseWay(Way::Device, "/DEVICE")) {
                return false;
            }
        } else if (StartsWithOption(argument, u"/CPU=")) {
            // One installation is for one processor; a second would silently win.
            if (options.cpuGiven) {
                cause = "/CPU= is given twice; give one processor family (ARM, MIPS, SHX or INTEL)";
                return false;
            }
            options.cpuGiven = true;
            options.cpuFlag = device::CpuFlagByName(std::u16string_view(argument).substr(5));
            if (options.cpuFlag == 0) {
                cause = "unknown processor family in " + platform::ToUtf8(argument) + " (ARM, MIPS, SHX or INTEL)";
                return false;
            }
        } else {
            cause = "unknown option " + platform::ToUtf8(argument) +
                    " (use /S with /APPMGR[=FOLDER], /DEVICE, /CAB=FOLDER or /D=FOLDER, /CPU=ARM|MIPS|SHX|INTEL)";
            return false;
        }
    }
    // The Application Manager takes every family's file and picks the device's; the device
    // itself tells its processor.
    if (options.cpuGiven && options.wayGiven && (options.way == Way::AppManager || options.way == Way::Device)) {
        cause = std::string(options.way == Way::AppManager ? "/APPMGR hands over the file of every processor"
                                                           : "/DEVICE asks the connected device its processor") +
                "; leave out /CPU=";
        return false;
    }
    if (options.cpuFlag == 0) {
        options.cpuFlag = FLAG_ARM;
    }
    return true;
}

} // namespace installer_template
