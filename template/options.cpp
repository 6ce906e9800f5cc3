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
    for (const std::u16string& argument : arguments) {
        // Installers take the folder unquoted, blanks and all ("/D=C:\My Device"): what follows
        // /D= or /CAB= up to the next option is the folder.
        if (inFolder && !argument.starts_with(u"/")) {
            inFolder->append(u" ").append(argument);
            continue;
        }
        inFolder = nullptr;
        if (argument.size() == 2 && StartsWithOption(argument, u"/S")) {
            options.silent = true;
        } else if (StartsWithOption(argument, u"/D=")) {
            if (!options.destination.empty()) {
                cause = "/D= is given twice; give one folder";
                return false;
            }
            options.destination = argument.substr(3);
            if (options.destination.empty()) {
                cause = "/D= names no folder";
                return false;
            }
            inFolder = &options.destination;
        } else if (StartsWithOption(argument, u"/CAB=")) {
            if (!options.cabinetFolder.empty()) {
                cause = "/CAB= is given twice; give one folder";
                return false;
            }
            options.cabinetFolder = argument.substr(5);
            if (options.cabinetFolder.empty()) {
                cause = "/CAB= names no folder";
                return false;
            }
            inFolder = &options.cabinetFolder;
        } else if (StartsWithOption(argument, u"/CPU=")) {
            // One installation is for one processor; a second would silently win.
            if (options.cpuFlag != 0) {
                cause = "/CPU= is given twice; give one processor family (ARM, MIPS, SHX or INTEL)";
                return false;
            }
            options.cpuFlag = device::CpuFlagByName(std::u16string_view(argument).substr(5));
            if (options.cpuFlag == 0) {
                cause = "unknown processor family in " + platform::ToUtf8(argument) + " (ARM, MIPS, SHX or INTEL)";
                return false;
            }
        } else {
            cause = "unknown option " + platform::ToUtf8(argument) +
                    " (use /S /CAB=FOLDER or /D=FOLDER, /CPU=ARM|MIPS|SHX|INTEL)";
            return false;
        }
    }
    // One installation, one way: the cabinet for the device or the files in a folder.
    if (!options.destination.empty() && !options.cabinetFolder.empty()) {
        cause = "/CAB= and /D= cannot be used together: choose the installation file or the folder";
        return false;
    }
    if (options.cpuFlag == 0) {
        options.cpuFlag = FLAG_ARM;
    }
    return true;
}

} // namespace installer_template
