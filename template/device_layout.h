// Where things go on the device, and so below the folder that stands for the device's root on
// this PC: the shell folders a package can name, the start menu, the processor families and the
// device's own shortcut files. Plain logic, shared by the wizard, the silent mode and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace setup {

// The start menu's program folder on the device, where shortcuts go.
inline constexpr std::u16string_view kStartMenuFolder = u"Windows\\Start Menu\\Programs";

// The four processor families in the order the wizard lists them, ARM first.
struct CpuChoice {
    std::u16string_view name;
    std::uint32_t flag;
};
extern const CpuChoice kCpuChoices[4];

// The flag of a family named case-insensitively ("arm", "MIPS"); 0 for any other name.
std::uint32_t CpuFlagByName(std::u16string_view name);

// The device folder of a package: its shell folder (targetFolder) followed by its installFolder,
// relative to the device's root, with backslashes ("Program Files\MyApp"; empty for the root
// itself). Fails with the cause when installFolder is absolute, names a drive or climbs out.
bool DeviceFolder(std::int32_t targetFolder, std::u16string_view installFolder, std::u16string& folder,
                  std::string& cause);

// `a` and `b` joined by one backslash; either may be empty.
std::u16string JoinDevicePath(std::u16string_view a, std::u16string_view b);

// A device shortcut to `target`, a path relative to the device's root: the number of characters
// after the '#', then '#', then the target's absolute device path in double quotes, as the
// device's shell reads it. The text is UTF-8 and the count is of characters, not bytes.
std::string ShortcutText(std::u16string_view target);

} // namespace setup
