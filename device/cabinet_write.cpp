// Writing a device cabinet: the manifest from the plan, then the Microsoft cabinet around it and
// the members, in one pass over the members' bytes.
#include "device/cabinet.h"

#include "device/cabinet_format.h"
#include "device/cabinet_manifest.h"
#include "device/layout.h"
#include "platform/little_endian.h"
#include "platform/text.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

namespace device {
namespace {

using namespace cabfmt;
using platform::AppendLe16;
using platform::AppendLe32;

constexpr std::uint32_t kBlock = kCabinetBlock;
constexpr std::uint32_t kLongestBlock = kLongestPackedBlock;
constexpr std::size_t kOutputBuffer = 1 << 20;

// The cabinet's own name of a file: eight characters from its real name (letters and digits,
// padded on the left with '0'), a dot and the file number in three digits (four beyond 998 files).
// Only the number matters to the device.
std::string StoredName(std::u16string_view realName, std::uint16_t number) {
    std::u16string_view stem = realName.substr(0, std::min(realName.find_last_of(u'.'), realName.size()));
    std::string eight;
    for (char16_t c : stem) {
        bool plain = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        if (plain && eight.size() < 8) {
            eight += static_cast<char>(c);
        }
    }
    std::string digits = std::to_string(number);
    return std::string(8 - eight.size(), '0') + eight + "." +
           std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
}

// DOS date and time of a wall-clock time in seconds since 1970.
void DosDateTime(std::int64_t seconds, std::uint16_t& date, std::uint16_t& time) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970 (the proleptic Gregorian calendar).
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t doe = days - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<std::uint16_t>(((rest / 3600) << 11) | (((rest / 60) % 60) << 5) | ((rest % 60) / 2));
}

// The data blocks of the cabinet's one folder, written as the members' bytes arrive.
class BlockWriter {
public:
    BlockWriter(platform::File& out, bool compress) : out_(out), compress_(compress) {
        block_.resize(kBlock);
        buffer_.reserve(kOutputBuffer + kLongestBlock + 8);
        if (compress_) {
            packed_.resize(kLongestBlock);
            ready_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        }
    }
    ~BlockWriter() {
        if (compress_ && ready_) {
            deflateEnd(&z_);
        }
    }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Where the next bytes go, and how many fit before the block is full.
    std::uint8_t* Space() { return block_.data() + fill_; }
    std::uint32_t Room() const { return kBlock - fill_; }
    bool Added(std::uint32_t n) {
        fill_ += n;
        return fill_ < kBlock || Seal();
    }
    bool Add(const void* bytes, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        while (n > 0) {
            std::uint32_t take = static_cast<std::uint32_t>(std::min<std::size_t>(n, Room()));
            std::memcpy(Space(), p, take);
            p += take;
            n -= take;
            if (!Added(take)) {
                return false;
            }
        }
        return true;
    }
    bool Finish() { return (fill_ == 0 || Seal()) && Drain(); }
    std::uint64_t Written() const { return written_; }

private:
    bool Seal() {
        const std::uint8_t* data = block_.data();
        std::uint32_t size = fill_;
        if (compress_) {
            if (!ready_ || !Deflate(size)) {
                return false;
            }
            data = packed_.data();
            size = packedSize_;
        }
        std::uint8_t sizes[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                 static_cast<std::uint8_t>(fill_), static_cast<std::uint8_t>(fill_ >> 8)};
        std::uint32_t sum = BlockChecksum(sizes, 4, BlockChecksum(data, size, 0));
        std::uint8_t head[4] = {static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8),
                                static_cast<std::uint8_t>(sum >> 16), static_cast<std::uint8_t>(sum >> 24)};
        buffer_.insert(buffer_.end(), head, head + 4);
        buffer_.insert(buffer_.end(), sizes, sizes + 4);
        buffer_.insert(buffer_.end(), data, data + size);
        if (compress_) {
            // The next block's history: MSZIP carries the previous block's bytes into the next.
            history_.assign(block_.begin(), block_.begin() + fill_);
        }
        fill_ = 0;
        return buffer_.size() < kOutputBuffer || Drain();
    }

    // One block as its own deflate stream after "CK", primed with the block before it.
    bool Deflate(std::uint32_t size) {
        if (deflateReset(&z_) != Z_OK ||
            (!history_.empty() &&
             deflateSetDictionary(&z_, history_.data(), static_cast<uInt>(history_.size())) != Z_OK)) {
            return false;
        }
        packed_[0] = 'C';
        packed_[1] = 'K';
        z_.next_in = block_.data();
        z_.avail_in = size;
        z_.next_out = packed_.data() + 2;
        z_.avail_out = static_cast<uInt>(packed_.size() - 2);
        if (deflate(&z_, Z_FINISH) != Z_STREAM_END) {
            return false;
        }
        packedSize_ = static_cast<std::uint32_t>(packed_.size() - 2 - z_.avail_out + 2);
        return true;
    }

    bool Drain() {
        std::uint32_t done = 0;
        bool ok = buffer_.empty() || (out_.Write(buffer_.data(), static_cast<std::uint32_t>(buffer_.size()), done) &&
                                      done == buffer_.size());
        written_ += buffer_.size();
        buffer_.clear();
        return ok;
    }

    platform::File& out_;
    bool compress_;
    bool ready_ = false;
    z_stream z_{};
    std::vector<std::uint8_t> block_, packed_, history_, buffer_;
    std::uint32_t fill_ = 0, packedSize_ = 0;
    std::uint64_t written_ = 0;
};

bool WriteAll(platform::File& out, const std::string& bytes) {
    std::uint32_t done = 0;
    return out.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), done) && done == bytes.size();
}

// What can be told of a design before its manifest is made: the files' count and bytes fit a
// cabinet.
bool DesignFits(const CabinetDesign& design, Error& error) {
    if (design.files.size() > kMostCabinetFiles) {
        error = Refusal("a device cabinet holds at most " + std::to_string(kMostCabinetFiles) + " files, the plan has " +
                        std::to_string(design.files.size()));
        return false;
    }
    std::uint64_t bytes = design.setupDll ? design.setupDll->size : 0;
    for (const DesignFile& file : design.files) {
        bytes += file.size;
    }
    if ((bytes + kBlock - 1) / kBlock + 1 > 0xFFFF) {
        error = Refusal("the files are too large for one device cabinet (at most 2 GiB)");
        return false;
    }
    return true;
}

// The listing a reader makes of it fits what a reader takes, and so does its manifest.
bool ReadersTake(const CabinetDesign& design, const std::string& manifest, Error& error) {
    std::uint64_t listing = DesignListing(design);
    if (listing > kLongestListing) {
        error = Refusal("the listing of " + std::to_string(design.files.size()) + " files, " +
                        std::to_string(design.registry.size()) + " registry values and " +
                        std::to_string(design.links.size()) + " shortcuts with their device paths would take " +
                        std::to_string(listing) + " bytes; a device cabinet's takes at most " +
                        std::to_string(kLongestListing) + " (use fewer files or shorter paths)");
        return false;
    }
    if (manifest.size() > kLongestManifest) {
        error = Refusal("the manifest of " + std::to_string(design.files.size()) + " files would take " +
                        std::to_string(manifest.size()) + " bytes; a device cabinet's takes at most " +
                        std::to_string(kLongestManifest) + " (use fewer files or shorter names)");
        return false;
    }
    return true;
}

} // namespace

std::uint32_t BlockChecksum(const std::uint8_t* p, std::size_t n, std::uint32_t seed) {
    std::uint32_t sum = seed;
    for (std::size_t words = n / 4; words > 0; --words, p += 4) {
        sum ^= std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    }
    std::uint32_t last = 0;
    switch (n % 4) {
    case 3:
        last |= std::uint32_t{*p++} << 16;
        [[fallthrough]];
    case 2:
        last |= std::uint32_t{*p++} << 8;
        [[fallthrough]];
    case 1:
        last |= *p;
        break;
    default:
        break;
    }
    return sum ^ last;
}

bool CheckCabinet(const CabinetDesign& design, Error& error) {
    // The manifest's own limits are found by making it.
    std::string manifest;
    return DesignFits(design, error) && MakeManifest(design, manifest, error) && ReadersTake(design, manifest, error);
}

bool CheckCabinet(const InstallPlan& plan, const CabinetSettings& settings, Error& error) {
    return CheckCabinet(DesignCabinet(plan, settings), error);
}

namespace {

// The cabinet's own record of one stored file.
struct Stored {
    std::string name;
    std::uint32_t size;
    std::int32_t member;
    bool manifest = false; // written before the members
};

// The header, the one folder and the file table, up to where the data blocks begin.
std::string CabinetTables(const std::vector<Stored>& stored, const CabinetSettings& settings, std::uint32_t blocks) {
    std::uint16_t date = 0, time = 0;
    DosDateTime(settings.time, date, time);
    std::uint32_t tableSize = 0;
    for (const Stored& s : stored) {
        tableSize += static_cast<std::uint32_t>(kFileName + s.name.size() + 1);
    }
    const std::uint32_t reserve = settings.reserveSignature ? kReserveSizes + kSignatureReserve : 0;
    const std::uint32_t filesAt = static_cast<std::uint32_t>(kHeaderSize + reserve + kFolderSize);
    std::string head;
    AppendLe32(head, kSignature);
    AppendLe32(head, 0);
    AppendLe32(head, 0); // the cabinet's length, known once the blocks are written
    AppendLe32(head, 0);
    AppendLe32(head, filesAt);
    AppendLe32(head, 0);
    head += static_cast<char>(kVersionMinor);
    head += static_cast<char>(kVersionMajor);
    AppendLe16(head, 1);
    AppendLe16(head, static_cast<std::uint16_t>(stored.size()));
    AppendLe16(head, reserve ? kFlagReserve : 0); // no previous or next cabinet
    AppendLe16(head, 0);
    AppendLe16(head, 0);
    if (reserve) {
        AppendLe16(head, kSignatureReserve);
        head += '\0'; // no reserve in the folder records or the data blocks
        head += '\0';
        head.append(kSignatureReserve, '\0');
    }
    AppendLe32(head, filesAt + tableSize);
    AppendLe16(head, static_cast<std::uint16_t>(blocks));
    AppendLe16(head, settings.compress ? kMszip : kStored);
    std::uint32_t offset = 0;
    for (const Stored& s : stored) {
        AppendLe32(head, s.size);
        AppendLe32(head, offset);
        AppendLe16(head, 0);
        AppendLe16(head, date);
        AppendLe16(head, time);
        AppendLe16(head, kAttributeArchive);
        head += s.name + '\0';
        offset += s.size;
    }
    return head;
}

bool WriteMembers(const std::vector<Stored>& stored, MemberSource& members, BlockWriter& writer, Error& error) {
    for (const Stored& s : stored) {
        if (s.manifest) {
            continue;
        }
        if (!members.Open(s.member, s.size, error)) {
            return false;
        }
        for (std::uint32_t left = s.size; left > 0;) {
            std::uint32_t n = std::min(left, writer.Room());
            if (!members.Read(writer.Space(), n, error)) {
                return false;
            }
            if (!writer.Added(n)) {
                error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
                return false;
            }
            left -= n;
        }
    }
    return true;
}

} // namespace

bool WriteCabinet(const CabinetDesign& design, const CabinetSettings& settings, MemberSource& members,
                  platform::File& out, Error& error) {
    std::string manifest;
    if (!DesignFits(design, error) || !MakeManifest(design, manifest, error) || !ReadersTake(design, manifest, error)) {
        return false;
    }
    // The manifest first, then the setup DLL and the files in descending file number, as the
    // wizard stores them.
    std::vector<Stored> stored;
    stored.push_back({StoredName(design.appName, 0), static_cast<std::uint32_t>(manifest.size()), 0, true});
    bool setupStored = !design.setupDll;
    for (std::size_t i = design.files.size(); i-- > 0;) {
        const DesignFile& file = design.files[i];
        const std::uint16_t number = CabinetFileNumber(i);
        if (!setupStored && number < kSetupDllNumber) {
            stored.push_back({StoredName(design.setupDll->name, kSetupDllNumber), design.setupDll->size,
                              design.setupDll->member});
            setupStored = true;
        }
        stored.push_back({StoredName(file.name, number), file.size, file.member});
    }
    if (!setupStored) {
        stored.push_back(
            {StoredName(design.setupDll->name, kSetupDllNumber), design.setupDll->size, design.setupDll->member});
    }
    std::uint64_t dataSize = 0;
    for (const Stored& s : stored) {
        dataSize += s.size;
    }
    const std::uint32_t blocks = static_cast<std::uint32_t>((dataSize + kBlock - 1) / kBlock);
    if (blocks > 0xFFFF) {
        error = Refusal("the files are too large for one device cabinet (at most 2 GiB)");
        return false;
    }
    const std::string head = CabinetTables(stored, settings, blocks);
    if (!WriteAll(out, head)) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    BlockWriter writer(out, settings.compress);
    if (!writer.Add(manifest.data(), manifest.size())) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    if (!WriteMembers(stored, members, writer, error)) {
        return false;
    }
    if (!writer.Finish()) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    std::uint64_t length = head.size() + writer.Written();
    std::string total;
    AppendLe32(total, static_cast<std::uint32_t>(length));
    if (length > 0xFFFFFFFFu || !out.Seek(kHeaderLength) || !WriteAll(out, total)) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    return true;
}

bool WriteCabinet(const InstallPlan& plan, const CabinetSettings& settings, MemberSource& members, platform::File& out,
                  Error& error) {
    return WriteCabinet(DesignCabinet(plan, settings), settings, members, out, error);
}

bool CabinetTime(std::int64_t& time, Error& error) {
    constexpr std::int64_t kFirst = 315532800;      // 1980-01-01
    constexpr std::int64_t kAfterLast = 4354819200; // 2108-01-01
    const char* given = std::getenv("SOURCE_DATE_EPOCH");
    if (given && *given) {
        // Digits and nothing else, as the reproducible-builds convention defines it: no blanks on
        // either side, no sign. The caller names the variable.
        std::string_view text(given);
        if (text.find_first_not_of("0123456789") != std::string_view::npos) {
            error = Refusal("\"" + std::string(given) + "\" is not a number of seconds since 1970 (digits only)");
            return false;
        }
        // More digits than that are long past the last date a cabinet holds, and past what stoll takes.
        std::int64_t value = text.size() > 18 ? kAfterLast : std::stoll(std::string(text));
        // Build systems that want no date at all give 0 or 1; a cabinet's dates begin in 1980, as
        // a zip file's do, and end in 2107.
        time = std::clamp<std::int64_t>(value, kFirst, kAfterLast - 1);
        return true;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    // The clock's wall time, as dates in cabinets are.
    std::int64_t y = local.tm_year + 1900, m = local.tm_mon + 1, d = local.tm_mday;
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    std::int64_t days = era * 146097 + doe - 719468;
    time = std::clamp<std::int64_t>(days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec, kFirst,
                                    kAfterLast - 1);
    return true;
}

} // namespace device
