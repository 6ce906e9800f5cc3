// The bytes of a Windows CE installation cabinet, named once for the writer and the reader: the
// Microsoft cabinet's header, folder, file and data-block records, and the device's manifest (the
// cabinet's file 000) with its header and its seven sections. Offsets are from the start of the
// record they belong to; every field is little-endian. Laid out after libmspack's cab.h and the
// Windows CE cabinet description published with cabextract.
#pragma once

#include <cstddef>
#include <cstdint>

namespace device::cabfmt {

// The Microsoft cabinet's header (CFHEADER).
inline constexpr std::uint32_t kSignature = 0x4643534D; // "MSCF"
inline constexpr std::size_t kHeaderSignature = 0;
inline constexpr std::size_t kHeaderLength = 8;       // of the whole cabinet
inline constexpr std::size_t kHeaderFilesAt = 16;     // the first file record
inline constexpr std::size_t kHeaderMinor = 24;       // the format's version: 3
inline constexpr std::size_t kHeaderMajor = 25;       // and 1
inline constexpr std::size_t kHeaderFolders = 26;
inline constexpr std::size_t kHeaderFiles = 28;
inline constexpr std::size_t kHeaderFlags = 30;
inline constexpr std::size_t kHeaderSetId = 32;
inline constexpr std::size_t kHeaderIndex = 34;       // in a set of cabinets
inline constexpr std::size_t kHeaderSize = 36;
inline constexpr std::uint8_t kVersionMinor = 3, kVersionMajor = 1;
// With kFlagReserve, four bytes follow the header: the header's reserve (16 bits), then the
// folder records' and the data blocks' (8 bits each), then the header's reserved bytes.
inline constexpr std::uint16_t kFlagPrevious = 0x1;
inline constexpr std::uint16_t kFlagNext = 0x2;
inline constexpr std::uint16_t kFlagReserve = 0x4;
inline constexpr std::size_t kReserveSizes = 4;
inline constexpr std::size_t kReserveHeader = 0;
inline constexpr std::size_t kReserveFolder = 2;
inline constexpr std::size_t kReserveBlock = 3;
// The header reserve a signing tool asks for: it writes its signature's place there and the
// signature after the cabinet's data.
inline constexpr std::uint16_t kSignatureReserve = 6144;
// What the signing tools write at the start of the header reserve: a mark, then where the
// signature lies and its size.
inline constexpr std::size_t kSignatureMagic = 0, kSignatureOffset = 4, kSignatureSize = 8;
inline constexpr std::size_t kSignaturePlaceSize = 20;
inline constexpr std::uint32_t kSignaturePlaceMagic = 0x00100000;

// A folder record (CFFOLDER): where its data blocks begin, how many, how packed.
inline constexpr std::size_t kFolderFirstBlock = 0;
inline constexpr std::size_t kFolderBlocks = 4;
inline constexpr std::size_t kFolderCompression = 6;
inline constexpr std::size_t kFolderSize = 8;
inline constexpr std::uint16_t kCompressionMask = 0xF;
inline constexpr std::uint16_t kStored = 0, kMszip = 1;

// A file record (CFFILE), its name ending in NUL after the fixed fields.
inline constexpr std::size_t kFileSize = 0;
inline constexpr std::size_t kFileOffset = 4; // in its folder's unpacked data
inline constexpr std::size_t kFileFolder = 8;
inline constexpr std::size_t kFileDate = 10;
inline constexpr std::size_t kFileTime = 12;
inline constexpr std::size_t kFileAttributes = 14;
inline constexpr std::size_t kFileName = 16;
inline constexpr std::uint16_t kAttributeArchive = 0x20;
inline constexpr std::uint16_t kAttributeUtf8Name = 0x80;
// The format's own limit on a stored name.
inline constexpr std::size_t kLongestStoredName = 256;

// A data block (CFDATA): checksum, packed and unpacked sizes, then any reserve and the data.
inline constexpr std::size_t kBlockChecksum = 0;
inline constexpr std::size_t kBlockPacked = 4;
inline constexpr std::size_t kBlockUnpacked = 6;
inline constexpr std::size_t kBlockHeader = 8;

// The manifest's header.
inline constexpr std::uint32_t kManifestSignature = 0x4543534D; // "MSCE"
inline constexpr std::size_t kManSignature = 0;
inline constexpr std::size_t kManUnknown4 = 4;   // 0
inline constexpr std::size_t kManLength = 8;
inline constexpr std::size_t kManUnknown12 = 12; // 0
inline constexpr std::size_t kManUnknown16 = 16; // 1
inline constexpr std::size_t kManProcessor = 20;
inline constexpr std::size_t kManVersionMin = 24; // major, then minor at +4
inline constexpr std::size_t kManVersionMax = 32;
inline constexpr std::size_t kManBuildMin = 40;
inline constexpr std::size_t kManBuildMax = 44;
// The sections' entry counts (16 bits each) and offsets (32 bits each), in this order.
enum Section : std::size_t { kStrings, kDirs, kFiles, kRegHives, kRegKeys, kLinks, kSections };
inline constexpr std::size_t kManCounts = 48;
inline constexpr std::size_t kManOffsets = 60;
inline constexpr std::size_t CountAt(Section s) { return kManCounts + 2 * s; }
inline constexpr std::size_t OffsetAt(Section s) { return kManOffsets + 4 * s; }
// Offset and length (16 bits each) of the application's name, the provider and the list of
// platforms the cabinet refuses (texts ending in NUL; the list ends with an empty one).
inline constexpr std::size_t kManAppName = 84;
inline constexpr std::size_t kManProvider = 88;
inline constexpr std::size_t kManUnsupported = 92;
inline constexpr std::size_t kManUnknown96 = 96; // 0, 16 bits
inline constexpr std::size_t kManUnknown98 = 98; // 0, 16 bits
inline constexpr std::size_t kManHeaderSize = 100;
// The CAB wizard stores every text with its NUL rounded up to this many bytes; readers take both
// that and the exact length.
inline constexpr std::size_t kTextAlignment = 4;

// STRINGS: id, length, the text and its NUL.
inline constexpr std::size_t kStringId = 0, kStringLength = 2, kStringText = 4;
// DIRS: id, length, string ids ending in 0. Id 1 is the install folder's string where a folder
// starts with it.
inline constexpr std::size_t kDirId = 0, kDirLength = 2, kDirSpec = 4;
inline constexpr std::uint16_t kInstallDirString = 1;
inline constexpr std::uint16_t kFirstDirId = 2;
// FILES: number, folder id, the source's place in the INF's [SourceDisksFiles], copy flags,
// length, the installed name and its NUL.
inline constexpr std::size_t kFileNumber = 0, kFileDir = 2, kFileSource = 4, kFileFlags = 6, kFileNameLength = 10,
                             kFileEntryName = 12;
// REGHIVES: id, root, 0, length, string ids ending in 0.
inline constexpr std::size_t kHiveId = 0, kHiveRoot = 2, kHiveUnknown = 4, kHiveLength = 6, kHiveSpec = 8;
// REGKEYS: id, hive id, whether the device expands its macros, type, length, the value's name
// with its NUL, then the data.
inline constexpr std::size_t kKeyId = 0, kKeyHive = 2, kKeySubstitute = 4, kKeyType = 6, kKeyLength = 10,
                             kKeyData = 12;
// LINKS: id, 0, base folder (0 the install folder, n %CEn%), target (a file number, or a folder
// id, 0 the install folder), kind, length, string ids (the wizard writes no closing 0).
inline constexpr std::size_t kLinkId = 0, kLinkUnknown = 2, kLinkBase = 4, kLinkTarget = 6, kLinkKind = 8,
                             kLinkLength = 10, kLinkSpec = 12;
inline constexpr std::uint16_t kLinkToFolder = 0, kLinkToFile = 1;

// The setup DLL's file number.
inline constexpr std::uint16_t kSetupDllNumber = 999;
// The device's folder macros are %CE1% to %CE17%.
inline constexpr std::uint16_t kLastMacro = 17;

} // namespace device::cabfmt
