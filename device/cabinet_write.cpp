// Writing a device cabinet: the manifest from the plan, then the Microsoft cabinet around it and
// the members, in one pass over the members' bytes.
#include "device/cabinet.h"

#include "device/layout.h"
#include "platform/text.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

namespace device {
namespace {

constexpr std::uint32_t kBlock = kCabinetBlock;
constexpr std::uint32_t kLongestBlock = kLongestPackedBlock;
constexpr std::uint32_t kAlwaysOverwrite = 0x40000000;
constexpr std::uint16_t kArchive = 0x20;
constexpr std::uint16_t kReservedNumber = 999; // a setup DLL's, which we never ship
constexpr std::size_t kOutputBuffer = 1 << 20;

void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Set16(std::string& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Set32(std::string& out, std::size_t at, std::uint32_t v) {
    Set16(out, at, v & 0xFFFF);
    Set16(out, at + 2, v >> 16);
}

// File numbers in the order of the plan's files: 1 up, passing over the setup DLL's.
std::uint16_t FileNumber(std::size_t i) {
    std::size_t n = i + 1;
    return static_cast<std::uint16_t>(n >= kReservedNumber ? n + 1 : n);
}

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

// The manifest's texts, each once.
class Strings {
public:
    std::uint16_t Id(const std::string& text) {
        auto [at, added] = ids_.try_emplace(text, static_cast<std::uint16_t>(order_.size() + 1));
        if (added) {
            order_.push_back(text);
        }
        return at->second;
    }
    const std::vector<std::string>& Order() const { return order_; }

private:
    std::map<std::string, std::uint16_t> ids_;
    std::vector<std::string> order_;
};

std::vector<std::u16string_view> Components(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    while (!path.empty()) {
        std::size_t slash = path.find(u'\\');
        parts.push_back(path.substr(0, slash));
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    }
    return parts;
}

// A folder below the target folder as the manifest's DIRS section gives it: the target folder's
// macro, then one text per name. The device's root has no macro: its first name carries the
// leading backslash, or the folder is the root itself.
bool FolderSpec(std::uint16_t macro, std::u16string_view below, Strings& strings, std::vector<std::uint16_t>& ids) {
    ids.clear();
    std::vector<std::u16string_view> parts = Components(below);
    if (macro != 0) {
        ids.push_back(strings.Id("%CE" + std::to_string(macro) + "%"));
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string text;
        if (!ToCabinetText(parts[i], text)) {
            return false;
        }
        ids.push_back(strings.Id(macro == 0 && i == 0 ? "\\" + text : text));
    }
    if (ids.empty()) {
        ids.push_back(strings.Id("\\"));
    }
    return true;
}

std::string TextOf(std::u16string_view text) {
    std::string out;
    ToCabinetText(text, out);
    return out;
}

// The part of a file's device path below the target folder.
std::u16string_view BelowTarget(const InstallPlan& plan, std::u16string_view relative) {
    std::u16string_view base = TargetFolderPlaceOf(plan.targetFolder).folder;
    return base.empty() ? relative : relative.substr(std::min(relative.size(), base.size() + 1));
}

bool MakeManifest(const InstallPlan& plan, const CabinetSettings& settings, std::string& out, Error& error) {
    const std::uint16_t macro = TargetFolderPlaceOf(plan.targetFolder).macro;
    Strings strings;
    std::vector<std::vector<std::uint16_t>> dirs;
    std::map<std::u16string, std::uint16_t> dirIds;
    std::vector<std::uint16_t> fileDirs;
    for (const PlannedFile& file : plan.files) {
        std::u16string folder(FolderOf(BelowTarget(plan, file.relative)));
        auto [at, added] = dirIds.try_emplace(folder, static_cast<std::uint16_t>(dirs.size() + 1));
        if (added) {
            std::vector<std::uint16_t> ids;
            if (!FolderSpec(macro, folder, strings, ids)) {
                error = Refusal("the folder " + platform::ToUtf8(folder) + " cannot be named in a device cabinet");
                return false;
            }
            dirs.push_back(std::move(ids));
        }
        fileDirs.push_back(at->second);
    }
    std::vector<std::uint16_t> linkNames;
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        linkNames.push_back(strings.Id(TextOf(shortcut.name)));
    }

    // Every count, offset and length the manifest keeps in 16 bits is checked before any is written:
    // one that wrapped would name the wrong text, or make a cabinet that no reader, ours included, takes.
    auto fits = [&](std::size_t value, const std::string& what) {
        if (value <= 0xFFFF) {
            return true;
        }
        error = Refusal(what + " (" + std::to_string(value) + "); a device cabinet's manifest holds at most 65535");
        return false;
    };
    std::string appName = TextOf(settings.appName), provider = TextOf(settings.provider);
    if (!fits(appName.size() + 1, "the program name is too long for a device cabinet: its length with its end") ||
        !fits(provider.size() + 1, "the provider is too long for a device cabinet: its length with its end") ||
        !fits(100 + appName.size() + 1,
              "the program name is too long for a device cabinet: the provider would begin at byte") ||
        !fits(strings.Order().size(), "the files' folders and shortcuts use too many different names") ||
        !fits(dirs.size(), "the files lie in too many folders") ||
        !fits(plan.shortcuts.size(), "the plan makes too many shortcuts")) {
        return false;
    }
    for (const std::string& text : strings.Order()) {
        if (!fits(text.size() + 1, "a folder's or shortcut's name is too long: its length with its end")) {
            return false;
        }
    }

    out.assign(100, '\0');
    out.replace(0, 4, "MSCE");
    Set32(out, 16, 1);
    Set32(out, 20, settings.processorType);
    Set16(out, 84, static_cast<std::uint32_t>(out.size()));
    Set16(out, 86, static_cast<std::uint32_t>(appName.size() + 1));
    out += appName + '\0';
    Set16(out, 88, static_cast<std::uint32_t>(out.size()));
    Set16(out, 90, static_cast<std::uint32_t>(provider.size() + 1));
    out += provider + '\0';

    Set32(out, 60, static_cast<std::uint32_t>(out.size()));
    for (std::size_t i = 0; i < strings.Order().size(); ++i) {
        const std::string& text = strings.Order()[i];
        Put16(out, static_cast<std::uint32_t>(i + 1));
        Put16(out, static_cast<std::uint32_t>(text.size() + 1));
        out += text + '\0';
    }
    Set32(out, 64, static_cast<std::uint32_t>(out.size()));
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (!fits(2 * (dirs[i].size() + 1), "a folder has too many names in its path: its length in bytes")) {
            return false;
        }
        Put16(out, static_cast<std::uint32_t>(i + 1));
        Put16(out, static_cast<std::uint32_t>(2 * (dirs[i].size() + 1)));
        for (std::uint16_t id : dirs[i]) {
            Put16(out, id);
        }
        Put16(out, 0);
    }
    Set32(out, 68, static_cast<std::uint32_t>(out.size()));
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        std::string name = TextOf(NameOf(plan.files[i].relative));
        if (!fits(name.size() + 1, "the name of " + platform::ToUtf8(plan.files[i].relative) +
                                       " is too long: its length with its end")) {
            return false;
        }
        Put16(out, FileNumber(i));
        Put16(out, fileDirs[i]);
        Put16(out, FileNumber(i));
        Put32(out, kAlwaysOverwrite);
        Put16(out, static_cast<std::uint32_t>(name.size() + 1));
        out += name + '\0';
    }
    // No registry hives or keys: both sections are empty, where the links begin.
    Set32(out, 72, static_cast<std::uint32_t>(out.size()));
    Set32(out, 76, static_cast<std::uint32_t>(out.size()));
    Set32(out, 80, static_cast<std::uint32_t>(out.size()));
    for (std::size_t i = 0; i < plan.shortcuts.size(); ++i) {
        Put16(out, static_cast<std::uint32_t>(i + 1));
        Put16(out, 0);
        Put16(out, kStartMenuMacro);
        Put16(out, FileNumber(plan.shortcuts[i].file));
        Put16(out, 1); // to a file
        Put16(out, 4);
        Put16(out, linkNames[i]);
        Put16(out, 0);
    }
    Set16(out, 48, static_cast<std::uint32_t>(strings.Order().size()));
    Set16(out, 50, static_cast<std::uint32_t>(dirs.size()));
    Set16(out, 52, static_cast<std::uint32_t>(plan.files.size()));
    Set16(out, 58, static_cast<std::uint32_t>(plan.shortcuts.size()));
    // The listing the reader makes of it: every folder, file and shortcut with its device paths.
    std::uint64_t listing = 0;
    std::map<std::u16string_view, bool> folders;
    for (const PlannedFile& file : plan.files) {
        listing += ListingCost(file.relative.size());
        if (folders.emplace(FolderOf(file.relative), true).second) {
            listing += ListingCost(FolderOf(file.relative).size());
        }
    }
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        listing += ListingCost(shortcut.relative.size() + plan.files[shortcut.file].relative.size());
    }
    if (listing > kLongestListing) {
        error = Refusal("the listing of " + std::to_string(plan.files.size()) + " files and " +
                        std::to_string(plan.shortcuts.size()) + " shortcuts with their device paths would take " +
                        std::to_string(listing) + " bytes; a device cabinet's takes at most " +
                        std::to_string(kLongestListing) + " (use fewer files or shorter paths)");
        return false;
    }
    if (out.size() > kLongestManifest) {
        error = Refusal("the manifest of " + std::to_string(plan.files.size()) + " files would take " +
                        std::to_string(out.size()) + " bytes; a device cabinet's takes at most " +
                        std::to_string(kLongestManifest) + " (use fewer files or shorter names)");
        return false;
    }
    Set32(out, 8, static_cast<std::uint32_t>(out.size()));
    return true;
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

// What can be told of a plan before its manifest is made: every text has an 8-bit form, and the
// files' count and bytes fit a cabinet.
bool PlanFits(const InstallPlan& plan, const CabinetSettings& settings, Error& error) {
    std::string text;
    auto check = [&](std::u16string_view what, const std::string& role) {
        if (!ToCabinetText(what, text)) {
            error = Refusal(
                role + " " + platform::ToUtf8(what) +
                " has a character a device cabinet cannot hold (its names are Western Windows text, code page 1252)");
            return false;
        }
        return true;
    };
    if (!check(settings.appName, "the program name") || !check(settings.provider, "the provider")) {
        return false;
    }
    for (const PlannedFile& file : plan.files) {
        if (!check(file.relative, "the path")) {
            return false;
        }
    }
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        if (!check(shortcut.name, "the shortcut")) {
            return false;
        }
    }
    // Numbers are 16 bits in the manifest; 999 is a setup DLL's.
    if (plan.files.size() > kMostCabinetFiles) {
        error = Refusal("a device cabinet holds at most " + std::to_string(kMostCabinetFiles) + " files, the plan has " +
                        std::to_string(plan.files.size()));
        return false;
    }
    if ((plan.totalBytes + kBlock - 1) / kBlock + 1 > 0xFFFF) {
        error = Refusal("the files are too large for one device cabinet (at most 2 GiB)");
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

bool CheckCabinet(const InstallPlan& plan, const CabinetSettings& settings, Error& error) {
    // The manifest's own limits are found by making it.
    std::string manifest;
    return PlanFits(plan, settings, error) && MakeManifest(plan, settings, manifest, error);
}

bool WriteCabinet(const InstallPlan& plan, const CabinetSettings& settings, MemberSource& members, platform::File& out,
                  Error& error) {
    std::string manifest;
    if (!PlanFits(plan, settings, error) || !MakeManifest(plan, settings, manifest, error)) {
        return false;
    }
    std::uint16_t date = 0, time = 0;
    DosDateTime(settings.time, date, time);

    // The manifest first, then the files in descending file number: the last planned file first.
    struct Stored {
        std::string name;
        std::uint32_t size;
    };
    std::vector<Stored> stored;
    stored.push_back({StoredName(settings.appName, 0), static_cast<std::uint32_t>(manifest.size())});
    for (std::size_t i = plan.files.size(); i-- > 0;) {
        stored.push_back({StoredName(NameOf(plan.files[i].relative), FileNumber(i)), plan.files[i].size});
    }
    std::uint64_t dataSize = 0;
    std::uint32_t tableSize = 0;
    for (const Stored& s : stored) {
        dataSize += s.size;
        tableSize += static_cast<std::uint32_t>(16 + s.name.size() + 1);
    }
    const std::uint32_t blocks = static_cast<std::uint32_t>((dataSize + kBlock - 1) / kBlock);
    if (blocks > 0xFFFF) {
        error = Refusal("the files are too large for one device cabinet (at most 2 GiB)");
        return false;
    }
    constexpr std::uint32_t kHeader = 36, kFolder = 8;
    const std::uint32_t dataStart = kHeader + kFolder + tableSize;

    std::string head;
    head += "MSCF";
    Put32(head, 0);
    Put32(head, 0); // the cabinet's length, known once the blocks are written
    Put32(head, 0);
    Put32(head, kHeader + kFolder);
    Put32(head, 0);
    head += '\x03';
    head += '\x01';
    Put16(head, 1);
    Put16(head, static_cast<std::uint32_t>(stored.size()));
    Put16(head, 0); // no reserved fields, no previous or next cabinet
    Put16(head, 0);
    Put16(head, 0);
    Put32(head, dataStart);
    Put16(head, blocks);
    Put16(head, settings.compress ? 1 : 0);
    std::uint32_t offset = 0;
    for (const Stored& s : stored) {
        Put32(head, s.size);
        Put32(head, offset);
        Put16(head, 0);
        Put16(head, date);
        Put16(head, time);
        Put16(head, kArchive);
        head += s.name + '\0';
        offset += s.size;
    }
    if (!WriteAll(out, head)) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }

    BlockWriter writer(out, settings.compress);
    if (!writer.Add(manifest.data(), manifest.size())) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    for (std::size_t i = plan.files.size(); i-- > 0;) {
        const PlannedFile& file = plan.files[i];
        if (!members.Open(file.index, file.size, error)) {
            return false;
        }
        for (std::uint32_t left = file.size; left > 0;) {
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
    if (!writer.Finish()) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    std::uint64_t length = head.size() + writer.Written();
    std::string total;
    Put32(total, static_cast<std::uint32_t>(length));
    if (length > 0xFFFFFFFFu || !out.Seek(8) || !WriteAll(out, total)) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    return true;
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
