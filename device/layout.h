// Where things go on the device, and so below the folder that stands for the device's root on
// this PC: the shell folders a package can name, the start menu, the processor families and the
// device's own shortcut files. Plain logic, shared by the installer, extract, the INF and the
// cabinet writer.
#pragma once

#include "package/records.h"
#include "platform/error.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace device {

// The start menu's program folder on the device, where shortcuts go.
inline constexpr std::u16string_view kStartMenuFolder = u"Windows\\Start Menu\\Programs";

// The start menu's program folder as a device cabinet names it.
inline constexpr std::uint16_t kStartMenuMacro = 11;

// The device's folder macros %CE1% to %CE17%: the text, the number of a text that is exactly one
// (any case; 0 for anything else), and the Pocket PC folder each stands for, from the device's
// root (empty for a number that is none).
std::u16string MacroText(std::uint16_t macro);
std::uint16_t MacroNumber(std::u16string_view text);
std::u16string_view MacroFolderPath(std::uint16_t macro);
// A device path as a cabinet gives it, from the device's root: a leading %CEn% becomes its
// folder and a leading backslash (the root) goes ("%CE1%\Notes" is "Program Files\Notes").
std::u16string ExpandDeviceMacro(std::u16string_view text);

// The four processor families in the order the wizard lists them, ARM first.
using CpuChoice = ::ProcessorFamily;
inline constexpr std::span<const CpuChoice, 4> kCpuChoices{kProcessorFamilies};

// The family of one processor flag; nullptr for anything else.
const CpuChoice* CpuChoiceOf(std::uint32_t flag);

// A target folder code's place on the device: the folder from the device's root and the cabinet's
// folder macro number (%CEn%; 0 for the root, which has none).
struct TargetFolderPlace {
    std::u16string_view folder;
    std::uint16_t macro;
};
TargetFolderPlace TargetFolderPlaceOf(std::int32_t targetFolder);

// The flag of a family named case-insensitively ("arm", "MIPS"); 0 for any other name.
std::uint32_t CpuFlagByName(std::u16string_view name);

// The device folder of a package: its shell folder (targetFolder) followed by its installFolder,
// relative to the device's root, with backslashes ("Program Files\MyApp"; empty for the root
// itself). Fails with the error.message when installFolder is absolute, names a drive or climbs out.
// The package's installFolder checked as a member's path is, with backslashes ("" for none).
bool CheckInstallFolder(std::u16string_view installFolder, std::u16string& below, Error& error);
bool DeviceFolder(std::int32_t targetFolder, std::u16string_view installFolder, std::u16string& folder, Error& error);

// `a` and `b` joined by one backslash; either may be empty.
std::u16string JoinDevicePath(std::u16string_view a, std::u16string_view b);

// A device shortcut to `target`, a path relative to the device's root: the number of characters
// after the '#', then '#', then the target's absolute device path in double quotes, as the
// device's shell reads it. The text is UTF-8 and the count is of characters, not bytes.
std::string ShortcutText(std::u16string_view target);

} // namespace device
