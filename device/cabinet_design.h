// What a device cabinet says, before it is put in bytes: the install folder, the folders, files,
// registry values and shortcuts, the limits on the device, the setup DLL. A workspace's install
// plan and a CAB-wizard INF both become one of these, and the cabinet writer makes the same bytes
// from the same design whichever it came from: that is what lets `inf -d` followed by `cab
// FILE.inf` give the cabinet `cab WORKSPACE` gives. Texts are UTF-16 here; the writer puts them
// in the device's code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace device {

// Registry roots as a cabinet numbers them.
enum class RegistryRoot : std::uint16_t {
    ClassesRoot = 1,  // HKCR
    CurrentUser = 2,  // HKCU
    LocalMachine = 3, // HKLM
    Users = 4,        // HKU
};

// A registry value's type and flags, stored as the CAB wizard's AddReg line gives them.
inline constexpr std::uint32_t kRegString = 0x00000000;
inline constexpr std::uint32_t kRegMultiString = 0x00010000;
inline constexpr std::uint32_t kRegBinary = 0x00000001;
inline constexpr std::uint32_t kRegDword = 0x00010001;
inline constexpr std::uint32_t kRegNoClobber = 0x00000002; // keeps a value the device already has
inline constexpr std::uint32_t kRegTypeMask = 0x00010001;

struct RegistryValue {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::u16string key;  // below the root, names separated by one backslash, none leading or trailing
    std::u16string name; // "" for the key's default value
    std::uint32_t type = kRegString; // a type above, with kRegNoClobber or not
    // The data: one text for a string, one per value of a multi-string (the device's folder macros
    // %CEn% and %InstallDir% kept, for the device to expand); the bytes of a binary value; the
    // number of a DWORD.
    std::vector<std::u16string> texts;
    std::vector<std::uint8_t> bytes;
    std::uint32_t number = 0;

    bool operator==(const RegistryValue&) const = default;
};

// "HKLM" and the like.
std::string_view RootName(RegistryRoot root);
// A value as one line of text, for listings and messages: "HKLM\\Software\\Notes\\Size = dword:0x00000010",
// "... = \"text\"", "... = multi:\"a\",\"b\"", "... = hex:01,ff", "@" for the default value's name,
// " (kept if present)" for no-clobber. UTF-8.
std::string RegistryLine(const RegistryValue& value);

// Copy flags of a file, as the CAB wizard's copy lists give them.
inline constexpr std::uint32_t kCopyWarnIfSkip = 0x00000001;
inline constexpr std::uint32_t kCopyNoSkip = 0x00000002;
inline constexpr std::uint32_t kCopyNoOverwrite = 0x00000010;
inline constexpr std::uint32_t kCopyReplaceOnly = 0x00000400;
inline constexpr std::uint32_t kCopySelfRegister = 0x10000000; // set for CESelfRegister's DLLs
inline constexpr std::uint32_t kCopyNoDateDialog = 0x20000000;
inline constexpr std::uint32_t kCopyNoDateCheck = 0x40000000; // replaces whatever the device has
inline constexpr std::uint32_t kCopyShared = 0x80000000;
inline constexpr std::uint32_t kCopyKnownFlags = kCopyWarnIfSkip | kCopyNoSkip | kCopyNoOverwrite | kCopyReplaceOnly |
                                                  kCopySelfRegister | kCopyNoDateDialog | kCopyNoDateCheck |
                                                  kCopyShared;

// A folder on the device. One inside the install folder is that folder's string followed by the
// names below it; any other starts with a folder macro ("%CE2%") or a name from the root ("\Temp").
struct DesignFolder {
    bool inInstallDir = false;
    std::vector<std::u16string> parts; // cut at each backslash; none for the install folder itself

    bool operator==(const DesignFolder&) const = default;
};

struct DesignFile {
    std::u16string name;      // as installed
    std::size_t folder = 0;   // into CabinetDesign::folders
    std::uint16_t source = 0; // its source's place in the list of sources, from 1
    std::uint32_t flags = 0;  // copy flags above
    std::int32_t member = 0;  // what MemberSource::Open takes for its bytes
    std::uint32_t size = 0;

    bool operator==(const DesignFile&) const = default;
};

inline constexpr std::size_t kInstallFolderTarget = static_cast<std::size_t>(-1);

// A shortcut: below its base folder (0 = the install folder, n = %CEn%), the names of its path,
// the last being its file name with ".lnk"; it opens a file or a folder.
struct DesignLink {
    std::uint16_t base = 0;
    std::vector<std::u16string> parts;
    bool toFile = true;
    std::size_t target = 0; // into files or folders; kInstallFolderTarget for the install folder

    bool operator==(const DesignLink&) const = default;
};

// A CE version or build limit; 0 is none.
struct DeviceLimits {
    std::uint32_t versionMin[2] = {};  // major, minor
    std::uint32_t versionMax[2] = {};
    std::uint32_t buildMin = 0;
    std::uint32_t buildMax = 0;

    bool operator==(const DeviceLimits&) const = default;
};

struct CabinetDesign {
    std::u16string appName;
    std::u16string provider;
    std::uint32_t codePage = 1252; // the device's, in which the manifest's texts are written
    std::uint32_t processorType = 0;
    DeviceLimits limits;
    std::vector<std::u16string> unsupported; // platform names the cabinet refuses to install on
    // The install folder as the device knows it, its macro kept ("%CE1%\Notes").
    std::u16string installDir;
    std::vector<DesignFolder> folders; // in the order of their numbers, from 2
    std::vector<DesignFile> files;     // numbered 1 up in this order, 999 passed over
    std::vector<RegistryValue> registry;
    std::vector<DesignLink> links;
    // The setup DLL, stored as file 999: the device runs it before and after installing.
    std::optional<DesignFile> setupDll;

    bool operator==(const CabinetDesign&) const = default;
};

} // namespace device
