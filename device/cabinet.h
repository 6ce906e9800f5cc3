// Windows CE installation cabinets: the Microsoft cabinet a device's installer opens, holding the
// application's files under numbered names and a manifest (file number 000) that says where each
// goes, which shortcuts to make and for which processor. Written from an install plan, and read
// back for info and verify. The framing is our own, so that every host writes the same bytes.
#pragma once

#include "device/cabinet_design.h"
#include "device/install_plan.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace device {

// A cabinet's texts (names, folders, the application's name, registry data) are 8-bit, in the
// device's code page (platform/code_page.h; Western, 1252, unless told otherwise), as the CAB
// wizard on a PC of the device's language writes them. Fails for a text with a character that
// code page cannot hold exactly, or with a NUL, which would end it early on the device. Reading,
// bytes without a character give U+FFFD.
bool ToCabinetText(std::u16string_view text, std::string& out, unsigned codePage = platform::kWesternCodePage);
std::u16string FromCabinetText(std::string_view text, unsigned codePage = platform::kWesternCodePage);

// The cabinet format's data block checksum: the block's 32-bit little-endian words XORed into
// `seed`, a last partial word taken with its first byte highest.
std::uint32_t BlockChecksum(const std::uint8_t* bytes, std::size_t size, std::uint32_t seed);

// The members' bytes, read in the plan's order of writing.
class MemberSource {
public:
    virtual ~MemberSource() = default;
    // Makes member `index` the one Read reads, from its start; `size` is its size in the package.
    virtual bool Open(std::int32_t index, std::uint32_t size, Error& error) = 0;
    // Reads exactly `size` more bytes of it.
    virtual bool Read(void* buffer, std::uint32_t size, Error& error) = 0;
};

struct CabinetSettings {
    std::u16string appName;
    std::u16string provider;
    std::uint32_t processorType = 0;
    bool compress = false; // MSZIP
    // Leaves the header reserve a signing tool needs (signtool and osslsigncode write where the
    // signature lies there, and the signature after the cabinet).
    bool reserveSignature = false;
    std::int64_t time = 0; // the files' date, seconds since 1970 in UTC
};

// A device knows a file by the number ending its name in the cabinet, three digits in the
// cabinets the CAB wizard makes, 999 being a setup DLL's. Beyond this many files the numbers have
// four digits, which not every device may read.
inline constexpr std::size_t kThreeDigitFiles = 998;

// Limits the writer keeps to and the reader holds every cabinet to, so that whatever cab writes
// info and verify read back, and what they refuse cab never writes.
//
// Uncompressed bytes of one data block, and the most a compressed one may take.
inline constexpr std::uint32_t kCabinetBlock = 32768;
inline constexpr std::uint32_t kLongestPackedBlock = kCabinetBlock + 6144;
// Files besides the manifest: their numbers are 16 bits, 0 is the manifest's and 999 a setup DLL's.
inline constexpr std::size_t kMostCabinetFiles = 0xFFFF - 2;
// The manifest (file 000) is read whole. Real ones take a few KiB; 65,533 files with names of
// about 18 characters come to 2 MiB, and a reader that believed a larger claim would set aside
// whatever a cabinet said.
inline constexpr std::uint32_t kLongestManifest = 2u << 20;
// What the listing a manifest makes (its folders, files and shortcuts, with their paths on the
// device) may take: an entry counts kListingEntry bytes and each character of its paths two.
// Paths are built from texts the manifest names by number, so without this a manifest of a few
// hundred KiB could list a hundred megabytes of paths. 40,000 files with paths of 44 characters
// take 5.8 MiB; 65,533 files fit with paths of up to 16.
inline constexpr std::uint64_t kLongestListing = 6u << 20;
inline constexpr std::uint64_t kListingEntry = 64;
inline constexpr std::uint64_t ListingCost(std::size_t characters) {
    return kListingEntry + 2 * std::uint64_t{characters};
}
// A block of deflate data unpacks to at most this many times its own bytes (258 bytes from a
// match coded in two bits): a compressed block claiming more is damaged, which bounds the work of
// unpacking a cabinet by its own length.
inline constexpr std::uint32_t kMostDeflateRatio = 1032;

// A design can be put in a cabinet: every text it names has an 8-bit form, and the numbers fit.
// Fails with the error.message.
bool CheckCabinet(const CabinetDesign& design, Error& error);

// Writes the cabinet of `design` to `out`, an empty file open for writing, the members' bytes
// read from `members` by DesignFile::member; of `settings` only the compression and the date
// count. Fails with the error.message, leaving `out` to be discarded.
bool WriteCabinet(const CabinetDesign& design, const CabinetSettings& settings, MemberSource& members,
                  platform::File& out, Error& error);

// The same for a workspace's plan, through its design (DesignCabinet).
bool CheckCabinet(const InstallPlan& plan, const CabinetSettings& settings, Error& error);
bool WriteCabinet(const InstallPlan& plan, const CabinetSettings& settings, MemberSource& members, platform::File& out,
                  Error& error);

// Where the files' date comes from: SOURCE_DATE_EPOCH when it is set (the reproducible-builds
// convention), the clock otherwise; a date outside 1980 to 2107, which a cabinet cannot hold,
// becomes the nearest it can. Fails with the error.message for a value that is not a number of seconds.
bool CabinetTime(std::int64_t& time, Error& error);

// A cabinet read back.
struct CabinetFile {
    std::u16string relative; // on the device, from its root ("" for none: a file the manifest does not name)
    std::uint16_t number = 0;
    std::uint16_t source = 0; // its source's place in the INF it was made from
    std::uint32_t flags = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0; // in the uncompressed data of its cabinet folder
    std::uint16_t folder = 0;
    std::uint16_t date = 0, time = 0;
    std::size_t raw = 0; // its place in the cabinet's own file table
};

struct CabinetLink {
    std::u16string relative; // the shortcut on the device, from its root
    std::uint16_t base = 0;  // its folder macro, 0 for the install folder
    std::uint16_t target = 0;
    bool toFile = true;
    std::u16string targetPath; // from the device's root
};

struct CabinetRegistryValue {
    RegistryValue value;
    bool substitute = false; // the device expands the folder macros in its data
};

struct Cabinet {
    std::u16string appName;
    std::u16string provider;
    std::uint32_t processorType = 0;
    std::uint32_t versions[6] = {}; // minimum and maximum CE version and build
    std::vector<std::u16string> unsupported;
    std::u16string installDir;           // from the device's root; its macro as stored when unknown
    std::vector<std::u16string> folders; // the DIRS section, from the device's root
    std::vector<CabinetFile> files;      // the FILES section's files, in its order
    std::vector<CabinetRegistryValue> registry;
    std::vector<CabinetLink> links;
    std::optional<CabinetFile> setupDll; // file 999, which the manifest does not name
    std::uint16_t compression = 0; // of the first cabinet folder: 0 none, 1 MSZIP
    std::uint16_t headerReserve = 0; // bytes the header sets aside, as for a signature
    std::uint32_t signatureSize = 0; // of the signature after the cabinet; 0 for none
    std::uint64_t length = 0;
};

class CabinetReader {
public:
    CabinetReader();
    ~CabinetReader();
    CabinetReader(const CabinetReader&) = delete;
    CabinetReader& operator=(const CabinetReader&) = delete;

    // Reads the cabinet's framing and manifest; the file stays open and is read in pieces, never
    // whole, since a cabinet may be as long as 4 GiB. Refuses, with the error.message, whatever is
    // not a well-formed single-cabinet device installation file, and keeps the system's reason
    // when the file cannot be read.
    bool Open(std::u16string_view path, Error& error);
    bool Open(std::vector<std::uint8_t> bytes, Error& error);
    const Cabinet& Contents() const { return cabinet_; }
    // Hands the bytes of one of Contents().files to `take`, in order and a data block's worth at
    // most at a time; checks every data block's checksum on the way. Fails part way with the
    // error.message, after `take` has seen the bytes before the fault.
    using Piece = std::function<void(const std::uint8_t* bytes, std::size_t size)>;
    bool ReadFile(std::size_t index, const Piece& take, Error& error);
    // The same, whole: for files whose size the caller has bounded.
    bool ReadFile(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error);
    // A manifest alone, as a cabinet's would be read: its folders, files, registry values and
    // shortcuts (the files without sizes or data). Fails with the error.message as Open does.
    static bool ParseManifestOnly(const std::vector<std::uint8_t>& manifest, Cabinet& cabinet, Error& error,
                                  unsigned codePage = platform::kWesternCodePage);
    // The device's code page, in which the manifest's texts are read (Western, 1252, unless set
    // before Open).
    void SetCodePage(unsigned codePage) { codePage_ = codePage; }
    // The setup DLL's bytes, when Contents().setupDll says there is one.
    bool ReadSetupDll(const Piece& take, Error& error);

    class Source; // where the bytes come from: a file or memory

private:
    struct Folder {
        std::uint32_t firstBlock = 0;
        std::uint16_t blocks = 0;
        std::uint16_t compression = 0;
        std::uint64_t unpacked = 0; // the sum of its blocks' sizes
    };
    struct RawFile {
        std::uint32_t size = 0, offset = 0;
        std::uint16_t folder = 0, date = 0, time = 0;
        std::int32_t number = -1; // from its name, -1 for none
        std::uint32_t nameAt = 0; // its name is read again only for a message
        bool utf8 = false;
    };
    bool Start(std::unique_ptr<Source> source, Error& error);
    bool Parse(Error& error);
    bool ReadHeader(std::uint64_t& at, std::uint16_t& folderCount, std::uint16_t& fileCount, std::uint32_t& filesAt,
                    std::uint8_t& folderReserve, Error& error);
    bool ReadSignaturePlace(std::uint64_t at, std::uint16_t reserve, std::uint32_t length, Error& error);
    bool ReadFolders(std::uint64_t& at, std::uint16_t folderCount, std::uint8_t folderReserve, Error& error);
    bool ReadFileTable(std::uint64_t at, std::uint16_t fileCount, std::uint64_t& tablesEnd, Error& error);
    bool CheckFileData(Error& error);
    bool NumberFiles(std::vector<std::int32_t>& byNumber, Error& error);
    bool ReadManifest(const std::vector<std::int32_t>& byNumber, Error& error);
    bool PlaceFiles(const std::vector<std::int32_t>& byNumber, Error& error);
    bool MeasureFolders(std::uint64_t tablesEnd, Error& error);
    bool ParseManifest(const std::vector<std::uint8_t>& manifest, Error& error);
    class ManifestParser;
    std::string RawName(std::size_t index);
    bool ReadRaw(std::size_t index, const Piece& take, Error& error);
    bool NextBlock(Error& error);
    bool Inflate(const std::uint8_t* data, std::uint32_t packed, Error& error);

    std::unique_ptr<Source> source_;
    std::vector<Folder> folders_;
    std::vector<RawFile> raw_;
    std::uint8_t blockReserve_ = 0;
    unsigned codePage_ = platform::kWesternCodePage;
    Cabinet cabinet_;
    // Where unpacking a cabinet folder stands: its current block and what came before it.
    std::int32_t unpackedFolder_ = -1;
    std::uint32_t nextBlock_ = 0;
    std::uint64_t blockAt_ = 0;
    std::uint64_t blockStart_ = 0;
    std::vector<std::uint8_t> packed_, block_, history_;
};

} // namespace device
