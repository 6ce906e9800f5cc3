// The records of packages and workspace files: a fixed header, one fixed record per member file.
//
// The records are written to and read from files exactly as they lie in memory, so their layout is
// the file format. The static_asserts below pin every offset; the build refuses big-endian targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Per-file option bits of PackageEntry::flags.
inline constexpr std::uint32_t FLAG_SHORTCUT = 1;
inline constexpr std::uint32_t FLAG_ARM = 2;
inline constexpr std::uint32_t FLAG_MIPS = 4;
inline constexpr std::uint32_t FLAG_SHX = 8;
inline constexpr std::uint32_t FLAG_INTEL = 16;
inline constexpr std::uint32_t FLAG_EULA = 64;
// What a newly gathered file gets: every processor family, nothing else.
inline constexpr std::uint32_t FLAG_ALL_PLATFORMS = FLAG_ARM | FLAG_MIPS | FLAG_SHX | FLAG_INTEL;

// Each processor family once: its flag, its name as the installer lists it, as tarvelo-build
// takes it, and the processor type a device cabinet declares for it. A device refuses (or warns
// about) a cabinet declaring another processor than its own, so a family whose devices report
// different types declares 0, "any": SH3 devices report 10003 and SH4 ones 10005; x86 boards and
// emulators 386, 486 or 586. ARM devices, StrongARM and XScale alike, report 2577 (StrongARM), and
// MIPS ones 4000 (R4000).
struct ProcessorFamily {
    std::u16string_view name;
    std::uint32_t flag;
    std::uint32_t processorType;
    std::string_view option;
};
inline constexpr ProcessorFamily kProcessorFamilies[4] = {
    {u"ARM", FLAG_ARM, 2577, "arm"},
    {u"MIPS", FLAG_MIPS, 4000, "mips"},
    {u"SHX", FLAG_SHX, 0, "shx"},
    {u"INTEL", FLAG_INTEL, 0, "intel"},
};

// Every text in a record: 260 UTF-16 units, at most 259 of text and a terminator.
inline constexpr std::size_t kTextUnits = 260;
inline constexpr std::size_t kMaxTextLength = kTextUnits - 1;
using TextField = char16_t[kTextUnits];

// The magic value "orb " a freshly made package carries; readers never check it.
inline constexpr std::uint32_t kPackageMagic = 0x6F726220;

// Device shell folders the installation can be based on (Windows CE CSIDL numbers).
inline constexpr std::int32_t kTargetPrograms = 2;
inline constexpr std::int32_t kTargetPersonal = 5;
inline constexpr std::int32_t kTargetProgramFiles = 38;
inline constexpr std::int32_t kTargetRoot = 255;

// Each target folder once: as the main window's Target Folder list shows it (the list sorts them
// by name, and this is its order), as tarvelo-build takes it, where it is on the device (from its
// root), and the CE folder macro number (%CEn%) cabinets and the CAB wizard name it by (0 for the
// root, which has none).
struct TargetFolder {
    std::string_view listText;
    std::string_view option;
    std::int32_t code;
    std::u16string_view deviceFolder;
    std::uint16_t macro;
};
inline constexpr TargetFolder kTargetFolders[4] = {
    {"CSIDL_PERSONAL", "personal", kTargetPersonal, u"My Documents", 5},
    {"CSIDL_PROGRAM_FILES", "program-files", kTargetProgramFiles, u"Program Files", 1},
    {"CSIDL_PROGRAMS", "programs", kTargetPrograms, u"Windows\\Start Menu\\Programs", 11},
    {"CSIDL_ROOT", "root", kTargetRoot, u"", 0},
};

struct PackageHeader {
    std::uint32_t magic;
    TextField sourceFolder;
    TextField installFolder;
    TextField programName;
    TextField imageFile;
    TextField buildCommand;
    std::int32_t targetFolder;
    std::uint32_t count;
    std::uint32_t dataOffset;
    std::uint32_t totalSize;
};

struct PackageEntry {
    TextField filename;
    TextField shortcutName;
    std::uint32_t size;
    std::uint32_t offset;
    std::uint32_t flags;
};

inline constexpr std::uint32_t kHeaderSize = 2620;
inline constexpr std::uint32_t kEntrySize = 1052;
// Sizes and positions in a package are 31-bit: a package, and so each member, stays below 2 GiB.
inline constexpr std::uint64_t kFormatLimit = std::uint64_t{1} << 31;

static_assert(sizeof(char16_t) == 2);
static_assert(sizeof(PackageHeader) == kHeaderSize);
static_assert(offsetof(PackageHeader, magic) == 0);
static_assert(offsetof(PackageHeader, sourceFolder) == 4);
static_assert(offsetof(PackageHeader, installFolder) == 524);
static_assert(offsetof(PackageHeader, programName) == 1044);
static_assert(offsetof(PackageHeader, imageFile) == 1564);
static_assert(offsetof(PackageHeader, buildCommand) == 2084);
static_assert(offsetof(PackageHeader, targetFolder) == 2604);
static_assert(offsetof(PackageHeader, count) == 2608);
static_assert(offsetof(PackageHeader, dataOffset) == 2612);
static_assert(offsetof(PackageHeader, totalSize) == 2616);

static_assert(sizeof(PackageEntry) == kEntrySize);
static_assert(offsetof(PackageEntry, filename) == 0);
static_assert(offsetof(PackageEntry, shortcutName) == 520);
static_assert(offsetof(PackageEntry, size) == 1040);
static_assert(offsetof(PackageEntry, offset) == 1044);
static_assert(offsetof(PackageEntry, flags) == 1048);

// The text of a field: up to its first NUL, or all 260 units when a field read from outside has none.
std::u16string_view FieldText(const TextField& field);

// Stores at most the first 259 units of `text` and zero-fills the rest, so that equal texts give
// equal bytes in a file.
void SetFieldText(TextField& field, std::u16string_view text);
