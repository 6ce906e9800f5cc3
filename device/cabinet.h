// Windows CE installation cabinets: the Microsoft cabinet a device's installer opens, holding the
// application's files under numbered names and a manifest (file number 000) that says where each
// goes, which shortcuts to make and for which processor. Written from an install plan, and read
// back for info and verify. The framing is our own, so that every host writes the same bytes.
#pragma once

#include "device/install_plan.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace device {

// A cabinet's texts (names, folders, the application's name) are 8-bit, in the Western Windows
// code page (1252), as the CAB wizard on a Western PC writes them. Fails for a text with a
// character that code page lacks.
bool ToCabinetText(std::u16string_view text, std::string& out);
std::u16string FromCabinetText(std::string_view text);

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
    std::int64_t time = 0; // the files' date, seconds since 1970 in UTC
};

// A device knows a file by the number ending its name in the cabinet, three digits in the
// cabinets the CAB wizard makes, 999 being a setup DLL's. Beyond this many files the numbers have
// four digits, which not every device may read.
inline constexpr std::size_t kThreeDigitFiles = 998;

// A plan can be put in a cabinet: every text it names has an 8-bit form, and the numbers fit.
// Fails with the error.message.
bool CheckCabinet(const InstallPlan& plan, const CabinetSettings& settings, Error& error);

// Writes the cabinet of `plan` to `out`, an empty file open for writing. Fails with the error.message,
// leaving `out` to be discarded.
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
    std::uint32_t flags = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0; // in the uncompressed data of its cabinet folder
    std::uint16_t folder = 0;
    std::uint16_t date = 0, time = 0;
    std::size_t raw = 0; // its place in the cabinet's own file table
};

struct CabinetLink {
    std::u16string relative; // the shortcut on the device, from its root
    std::uint16_t target = 0;
    bool toFile = true;
    std::u16string targetPath; // from the device's root
};

struct Cabinet {
    std::u16string appName;
    std::u16string provider;
    std::uint32_t processorType = 0;
    std::uint32_t versions[6] = {}; // minimum and maximum CE version and build
    std::vector<std::u16string> unsupported;
    std::vector<std::u16string> folders; // the DIRS section, from the device's root
    std::vector<CabinetFile> files;      // the FILES section's files, in its order
    std::vector<CabinetLink> links;
    std::uint16_t compression = 0; // of the first cabinet folder: 0 none, 1 MSZIP
    std::uint64_t length = 0;
};

// A device path from a cabinet's folder macro number and the path below it.
std::u16string MacroFolder(std::uint16_t macro);

class CabinetReader {
public:
    // Reads the cabinet's framing and manifest. Refuses, with the error.message, whatever is not a
    // well-formed single-cabinet device installation file.
    bool Open(std::u16string_view path, Error& error);
    bool Open(std::vector<std::uint8_t> bytes, Error& error);
    const Cabinet& Contents() const { return cabinet_; }
    // The bytes of one of Contents().files, whole; checks every data block's checksum on the way.
    bool ReadFile(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error);

private:
    struct Folder {
        std::uint32_t firstBlock = 0;
        std::uint16_t blocks = 0;
        std::uint16_t compression = 0;
    };
    struct RawFile {
        std::u16string name; // as the cabinet names it
        std::uint32_t size = 0, offset = 0;
        std::uint16_t folder = 0, date = 0, time = 0;
    };
    bool Parse(Error& error);
    bool ParseManifest(const std::vector<std::uint8_t>& manifest, Error& error);
    bool ReadRaw(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error);
    bool NextBlock(Error& error);
    bool Inflate(const std::uint8_t* data, std::uint32_t packed, Error& error);

    std::vector<std::uint8_t> bytes_;
    std::vector<Folder> folders_;
    std::vector<RawFile> raw_;
    std::uint8_t blockReserve_ = 0;
    Cabinet cabinet_;
    // Where unpacking a cabinet folder stands: its current block and what came before it.
    std::int32_t unpackedFolder_ = -1;
    std::uint32_t nextBlock_ = 0;
    std::size_t blockAt_ = 0;
    std::uint64_t blockStart_ = 0;
    std::vector<std::uint8_t> block_, history_;
};

} // namespace device
