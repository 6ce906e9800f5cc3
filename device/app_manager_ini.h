// The desktop Application Manager's .ini: the file CEAppMgr.exe is started with, naming the
// application and one cabinet per processor family, from which it installs the one that fits the
// connected device (now, or at the next connection) and lists the application for removal. The
// installer writes it beside the cabinets it hands over; tarvelo-build cab --appmgr writes it for
// installers of other makes that start the Application Manager themselves.
#pragma once

#include "platform/error.h"

#include <span>
#include <string>
#include <string_view>

namespace device {

// "<stem>.ini", the stem the cabinets are named with.
std::u16string AppManagerIniName(std::u16string_view appName);

// The name the Application Manager keeps the application under (its Component, section and
// Uninstall): the file-name stem, with the characters an .ini line gives a meaning to ('[', ']',
// '=', ';') and those the Western code page lacks as '_', without blanks at either end.
std::u16string AppManagerComponent(std::u16string_view appName);

// The .ini's bytes: 8-bit text in the Western code page (CP1252, which the Application Manager
// reads), CRLF. `cabinetNames` are the cabinets' file names relative to the .ini's folder, in the
// order given. Fails for no cabinet and for a name the list cannot carry as it is: one the Western
// code page lacks a character of, or with a comma, a blank at either end or a control character,
// since the Application Manager would look for another file.
bool MakeAppManagerIni(std::u16string_view appName, std::span<const std::u16string> cabinetNames, std::string& bytes,
                       Error& error);

} // namespace device
