// Reading a device cabinet back: the Microsoft cabinet's framing, its data blocks (stored or
// MSZIP) and the manifest. A cabinet comes from outside, so every count, offset and length is
// checked against what is there before it is used.
#include "device/cabinet.h"

#include "device/layout.h"
#include "platform/text.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace device {
namespace {

constexpr std::uint32_t kBlock = 32768;
constexpr std::uint32_t kLongestBlock = kBlock + 6144;
constexpr std::uint64_t kLongestCabinet = std::uint64_t{1} << 32;
// A device's paths hold at most 259 characters with the leading backslash. Bounding the paths the
// manifest builds also bounds their memory: one long text named 30000 times in a folder would
// otherwise make a path of gigabytes from a small manifest.
constexpr std::size_t kLongestDevicePath = 259;
// Of a file's bytes, at most this much is set aside before its data is unpacked: its size comes
// from the cabinet, and a few bytes can claim two gigabytes.
constexpr std::size_t kFirstReserve = std::size_t{1} << 20;

// Bounds-checked little-endian reading of a byte range.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Has(std::size_t at, std::size_t n) const { return at <= size_ && n <= size_ - at; }
    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8); }
    std::uint32_t U32(std::size_t at) const {
        return std::uint32_t{data_[at]} | std::uint32_t{data_[at + 1]} << 8 | std::uint32_t{data_[at + 2]} << 16 |
               std::uint32_t{data_[at + 3]} << 24;
    }
    const std::uint8_t* At(std::size_t at) const { return data_ + at; }
    std::size_t Size() const { return size_; }
    // A NUL-terminated text of at most `longest` bytes starting at `at`; false without a NUL.
    bool Text(std::size_t at, std::size_t longest, std::string& text, std::size_t& end) const {
        for (std::size_t i = at; i < size_ && i - at <= longest; ++i) {
            if (data_[i] == 0) {
                text.assign(reinterpret_cast<const char*>(data_ + at), i - at);
                end = i + 1;
                return true;
            }
        }
        return false;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// The file number a cabinet name carries after its last dot; -1 when it carries none.
std::int32_t NumberOf(std::u16string_view name) {
    std::size_t dot = name.find_last_of(u'.');
    if (dot == std::u16string_view::npos || dot + 1 == name.size() || name.size() - dot - 1 > 5) {
        return -1;
    }
    std::int32_t number = 0;
    for (char16_t c : name.substr(dot + 1)) {
        if (c < u'0' || c > u'9') {
            return -1;
        }
        number = number * 10 + (c - u'0');
    }
    return number <= 0xFFFF ? number : -1;
}

} // namespace

std::u16string MacroFolder(std::uint16_t macro) {
    switch (macro) {
    case 0:
        return u"%InstallDir%";
    case 1:
        return u"Program Files";
    case 2:
        return u"Windows";
    case 4:
        return u"Windows\\StartUp";
    case 5:
        return u"My Documents";
    case kStartMenuMacro:
        return std::u16string(kStartMenuFolder);
    case 17:
        return u"Windows\\Start Menu";
    default:
        return u"%CE" + platform::ToUtf16(std::to_string(macro)) + u"%";
    }
}

bool CabinetReader::Open(std::u16string_view path, Error& error) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    std::uint64_t size = 0;
    if (!file.IsOpen() || !file.Size(size)) {
        error = SystemError(file.IsOpen() ? ErrorCode::CannotRead : ErrorCode::CannotOpen, {}, "cannot be read");
        return false;
    }
    if (size >= kLongestCabinet) {
        error = Malformed("is 4 GiB or longer, more than a cabinet can be");
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < bytes.size();) {
        std::uint32_t got = 0;
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1 << 24));
        if (!file.Read(bytes.data() + done, want, got) || got == 0) {
            error = SystemError(ErrorCode::CannotRead, {}, "cannot be read");
            return false;
        }
        done += got;
    }
    return Open(std::move(bytes), error);
}

bool CabinetReader::Open(std::vector<std::uint8_t> bytes, Error& error) {
    bytes_ = std::move(bytes);
    folders_.clear();
    raw_.clear();
    cabinet_ = Cabinet{};
    unpackedFolder_ = -1;
    if (!Parse(error)) {
        error = Malformed("is not a device cabinet we can read: " + error.message);
        return false;
    }
    return true;
}

bool CabinetReader::Parse(Error& error) {
    Bytes b(bytes_.data(), bytes_.size());
    if (!b.Has(0, 36) || std::memcmp(b.At(0), "MSCF", 4) != 0) {
        error = Malformed("it does not start as a Microsoft cabinet (\"MSCF\")");
        return false;
    }
    cabinet_.length = bytes_.size();
    if (b.U32(8) != bytes_.size()) {
        error = Malformed("its header gives a length of " + std::to_string(b.U32(8)) + " bytes, the file has " +
                          std::to_string(bytes_.size()));
        return false;
    }
    if (b.At(25)[0] != 1) {
        error = Malformed("cabinet format version " + std::to_string(b.At(25)[0]) + "." + std::to_string(b.At(24)[0]));
        return false;
    }
    const std::uint16_t folderCount = b.U16(26), fileCount = b.U16(28), flags = b.U16(30);
    if (flags & 0x3) {
        error = Malformed("it is one of a set of cabinets; a device installs from one");
        return false;
    }
    std::size_t at = 36;
    std::uint8_t folderReserve = 0, blockReserve = 0;
    if (flags & 0x4) {
        if (!b.Has(at, 4)) {
            error = Malformed("its header ends early");
            return false;
        }
        std::uint16_t headerReserve = b.U16(at);
        folderReserve = b.At(at + 2)[0];
        blockReserve = b.At(at + 3)[0];
        at += 4 + headerReserve;
    }
    if (folderCount == 0 || fileCount == 0) {
        error = Malformed("it holds no files");
        return false;
    }
    for (std::uint16_t i = 0; i < folderCount; ++i, at += 8 + folderReserve) {
        if (!b.Has(at, 8 + std::size_t{folderReserve})) {
            error = Malformed("its folder table ends early");
            return false;
        }
        Folder folder{b.U32(at), b.U16(at + 4), static_cast<std::uint16_t>(b.U16(at + 6) & 0xF)};
        if (folder.compression > 1) {
            error = Malformed("folder " + std::to_string(i) + " uses compression " +
                              std::to_string(folder.compression) + "; device cabinets use none or MSZIP");
            return false;
        }
        if (folder.blocks > 0 && !b.Has(folder.firstBlock, 8)) {
            error = Malformed("folder " + std::to_string(i) + "'s data lies beyond the end");
            return false;
        }
        folders_.push_back(folder);
    }
    blockReserve_ = blockReserve;
    at = b.U32(16);
    for (std::uint16_t i = 0; i < fileCount; ++i) {
        if (!b.Has(at, 16)) {
            error = Malformed("its file table ends early");
            return false;
        }
        RawFile file;
        file.size = b.U32(at);
        file.offset = b.U32(at + 4);
        file.folder = b.U16(at + 8);
        file.date = b.U16(at + 10);
        file.time = b.U16(at + 12);
        std::uint16_t attributes = b.U16(at + 14);
        std::string name;
        std::size_t end = 0;
        if (!b.Text(at + 16, 256, name, end)) {
            error = Malformed("file " + std::to_string(i) + "'s name has no end");
            return false;
        }
        at = end;
        if (file.folder >= folders_.size()) {
            error = Malformed("file " + std::to_string(i) + " lies in folder " + std::to_string(file.folder) + ", of " +
                              std::to_string(folders_.size()));
            return false;
        }
        if (std::uint64_t{file.offset} + file.size > std::uint64_t{folders_[file.folder].blocks} * kBlock) {
            error = Malformed("file " + std::to_string(i) + " lies beyond its folder's data");
            return false;
        }
        std::u16string unicode;
        file.name = (attributes & 0x80) && platform::Utf8ToUtf16(name, unicode) ? unicode : FromCabinetText(name);
        raw_.push_back(std::move(file));
    }
    // Files lie one after another in their folder's data. Overlapping files would make reading
    // them all unpack the same data once for each, and a small cabinet could claim hours of work.
    std::vector<std::size_t> stored(raw_.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        stored[i] = i;
    }
    std::sort(stored.begin(), stored.end(), [&](std::size_t a, std::size_t b) {
        return raw_[a].folder != raw_[b].folder ? raw_[a].folder < raw_[b].folder : raw_[a].offset < raw_[b].offset;
    });
    const RawFile* before = nullptr;
    for (std::size_t i : stored) {
        const RawFile& file = raw_[i];
        if (file.size == 0) {
            continue;
        }
        if (before && before->folder == file.folder && std::uint64_t{before->offset} + before->size > file.offset) {
            error = Malformed("files " + platform::ToUtf8(before->name) + " and " + platform::ToUtf8(file.name) +
                              " overlap in their folder's data");
            return false;
        }
        before = &file;
    }

    // The manifest: the one file numbered 000.
    std::map<std::int32_t, std::size_t> byNumber;
    for (std::size_t i = 0; i < raw_.size(); ++i) {
        std::int32_t number = NumberOf(raw_[i].name);
        if (number >= 0 && !byNumber.emplace(number, i).second) {
            error = Malformed("two files are numbered " + std::to_string(number));
            return false;
        }
    }
    auto manifest = byNumber.find(0);
    if (manifest == byNumber.end()) {
        error = Malformed("it holds no manifest (a file numbered 000)");
        return false;
    }
    std::vector<std::uint8_t> manifestBytes;
    if (!ReadRaw(manifest->second, manifestBytes, error) || !ParseManifest(manifestBytes, error)) {
        return false;
    }
    for (CabinetFile& file : cabinet_.files) {
        auto found = byNumber.find(file.number);
        if (found == byNumber.end() || file.number == 0) {
            error = Malformed("the manifest names file " + std::to_string(file.number) +
                              ", which the cabinet does not hold");
            return false;
        }
        const RawFile& raw = raw_[found->second];
        file.raw = found->second;
        file.size = raw.size;
        file.offset = raw.offset;
        file.folder = raw.folder;
        file.date = raw.date;
        file.time = raw.time;
    }
    return true;
}

bool CabinetReader::ParseManifest(const std::vector<std::uint8_t>& manifest, Error& error) {
    Bytes b(manifest.data(), manifest.size());
    if (!b.Has(0, 100) || std::memcmp(b.At(0), "MSCE", 4) != 0) {
        error = Malformed("its manifest does not start with \"MSCE\"");
        return false;
    }
    if (b.U32(8) != manifest.size()) {
        error = Malformed("its manifest gives a length of " + std::to_string(b.U32(8)) + " bytes, it has " +
                          std::to_string(manifest.size()));
        return false;
    }
    cabinet_.processorType = b.U32(20);
    for (int i = 0; i < 6; ++i) {
        cabinet_.versions[i] = b.U32(24 + 4 * i);
    }
    auto text = [&](std::size_t offsetAt, std::u16string& out, const char* what) {
        std::uint16_t offset = b.U16(offsetAt), length = b.U16(offsetAt + 2);
        if (length == 0 || !b.Has(offset, length) || b.At(offset)[length - 1] != 0) {
            error = Malformed(std::string("its manifest's ") + what + " is not a terminated text within it");
            return false;
        }
        out = FromCabinetText(std::string_view(reinterpret_cast<const char*>(b.At(offset)), length - 1));
        return true;
    };
    if (!text(84, cabinet_.appName, "application name") || !text(88, cabinet_.provider, "provider")) {
        return false;
    }
    if (b.U16(94) != 0) {
        std::uint16_t offset = b.U16(92), length = b.U16(94);
        if (!b.Has(offset, length) || b.At(offset)[length - 1] != 0) {
            error = Malformed("its manifest's list of unsupported platforms is not a terminated text within it");
            return false;
        }
        std::string all(reinterpret_cast<const char*>(b.At(offset)), length);
        for (std::size_t start = 0; start < all.size();) {
            std::size_t end = all.find('\0', start);
            if (end == start) {
                break;
            }
            cabinet_.unsupported.push_back(FromCabinetText(std::string_view(all).substr(start, end - start)));
            start = end + 1;
        }
    }

    std::map<std::uint16_t, std::u16string> strings;
    std::size_t at = b.U32(60);
    for (std::uint16_t i = 0; i < b.U16(48); ++i) {
        if (!b.Has(at, 4) || b.U16(at + 2) == 0 || !b.Has(at + 4, b.U16(at + 2)) ||
            b.At(at + 4)[b.U16(at + 2) - 1] != 0) {
            error = Malformed("its manifest's string " + std::to_string(i) + " is not a terminated text within it");
            return false;
        }
        strings[b.U16(at)] =
            FromCabinetText(std::string_view(reinterpret_cast<const char*>(b.At(at + 4)), b.U16(at + 2) - 1u));
        at += 4 + b.U16(at + 2);
    }
    // A list of string ids ending in 0, joined with backslashes into a path from the device's root.
    auto path = [&](std::size_t start, std::uint16_t length, std::u16string& out) {
        if (length < 2 || length % 2 != 0 || !b.Has(start, length) || b.U16(start + length - 2) != 0) {
            return false;
        }
        out.clear();
        for (std::size_t p = start; p + 2 < start + length; p += 2) {
            auto found = strings.find(b.U16(p));
            if (found == strings.end()) {
                return false;
            }
            std::u16string part = found->second;
            if (p == start && part.size() > 4 && part.rfind(u"%CE", 0) == 0 && part.back() == u'%') {
                std::string digits = platform::ToUtf8(part.substr(3, part.size() - 4));
                if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 2) {
                    part = MacroFolder(static_cast<std::uint16_t>(std::stoi(digits)));
                }
            }
            if (p == start && !part.empty() && part.front() == u'\\') {
                part.erase(0, 1); // the device's root
            }
            out = JoinDevicePath(out, part);
            if (out.size() + 1 > kLongestDevicePath) {
                return false;
            }
        }
        return true;
    };
    std::map<std::uint16_t, std::u16string> dirs;
    at = b.U32(64);
    for (std::uint16_t i = 0; i < b.U16(50); ++i) {
        std::u16string folder;
        if (!b.Has(at, 4) || !path(at + 4, b.U16(at + 2), folder)) {
            error = Malformed("its manifest's folder " + std::to_string(i) +
                              " is not a list of its strings making a path a device can hold");
            return false;
        }
        dirs[b.U16(at)] = folder;
        cabinet_.folders.push_back(folder);
        at += 4 + b.U16(at + 2);
    }
    at = b.U32(68);
    std::map<std::uint16_t, std::u16string> fileNames;
    for (std::uint16_t i = 0; i < b.U16(52); ++i) {
        std::string name;
        if (!b.Has(at, 12) || b.U16(at + 10) == 0 || !b.Has(at + 12, b.U16(at + 10)) ||
            b.At(at + 12)[b.U16(at + 10) - 1] != 0) {
            error = Malformed("its manifest's file " + std::to_string(i) + " ends early or has no terminated name");
            return false;
        }
        auto dir = dirs.find(b.U16(at + 2));
        if (dir == dirs.end()) {
            error = Malformed("its manifest's file " + std::to_string(i) + " names folder " +
                              std::to_string(b.U16(at + 2)) + ", which it does not list");
            return false;
        }
        CabinetFile file;
        file.number = b.U16(at);
        file.flags = b.U32(at + 6);
        std::u16string own =
            FromCabinetText(std::string_view(reinterpret_cast<const char*>(b.At(at + 12)), b.U16(at + 10) - 1u));
        file.relative = JoinDevicePath(dir->second, own);
        if (file.relative.size() + 1 > kLongestDevicePath) {
            error = Malformed("its manifest's file " + std::to_string(i) + " has a path longer than a device's (" +
                              std::to_string(kLongestDevicePath) + " characters)");
            return false;
        }
        if (!fileNames.emplace(file.number, file.relative).second) {
            error = Malformed("its manifest names file " + std::to_string(file.number) + " twice");
            return false;
        }
        cabinet_.files.push_back(std::move(file));
        at += 12 + b.U16(at + 10);
    }
    at = b.U32(80);
    for (std::uint16_t i = 0; i < b.U16(58); ++i) {
        CabinetLink link;
        if (!b.Has(at, 12) || !path(at + 12, b.U16(at + 10), link.relative)) {
            error = Malformed("its manifest's shortcut " + std::to_string(i) +
                              " is not a list of its strings making a path a device can hold");
            return false;
        }
        link.relative = JoinDevicePath(MacroFolder(b.U16(at + 4)), link.relative);
        link.target = b.U16(at + 6);
        link.toFile = b.U16(at + 8) == 1;
        auto target = link.toFile ? fileNames.find(link.target) : dirs.find(link.target);
        if (target != (link.toFile ? fileNames.end() : dirs.end())) {
            link.targetPath = target->second;
        } else if (link.toFile || link.target != 0) {
            error = Malformed("its manifest's shortcut " + std::to_string(i) + " leads to " +
                              (link.toFile ? "file " : "folder ") + std::to_string(link.target) +
                              ", which it does not list");
            return false;
        }
        cabinet_.links.push_back(std::move(link));
        at += 12 + b.U16(at + 10);
    }
    cabinet_.compression = folders_.empty() ? 0 : folders_.front().compression;
    return true;
}

bool CabinetReader::ReadFile(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error) {
    if (index >= cabinet_.files.size()) {
        error = Malformed("no such file");
        return false;
    }
    return ReadRaw(cabinet_.files[index].raw, bytes, error);
}

// The stored files' data, block by block from the start of their folder. Files are mostly read in
// the order they are stored, so the blocks already passed are not read again.
bool CabinetReader::ReadRaw(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error) {
    const RawFile& file = raw_[index];
    bytes.clear();
    bytes.reserve(std::min<std::size_t>(file.size, kFirstReserve));
    if (unpackedFolder_ != file.folder || file.offset < blockStart_) {
        unpackedFolder_ = file.folder;
        nextBlock_ = 0;
        blockAt_ = folders_[file.folder].firstBlock;
        blockStart_ = 0;
        block_.clear();
        history_.clear();
    }
    std::uint32_t done = 0;
    while (done < file.size) {
        std::uint64_t want = std::uint64_t{file.offset} + done;
        if (want >= blockStart_ + block_.size()) {
            if (!NextBlock(error)) {
                // A block that failed half-way leaves nothing to continue from: the next read
                // starts the folder again, and fails where this one did.
                unpackedFolder_ = -1;
                error = Malformed("file " + platform::ToUtf8(file.name) + ": " + error.message);
                return false;
            }
            continue;
        }
        std::size_t from = static_cast<std::size_t>(want - blockStart_);
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(block_.size() - from, file.size - done));
        bytes.insert(bytes.end(), block_.begin() + static_cast<std::ptrdiff_t>(from),
                     block_.begin() + static_cast<std::ptrdiff_t>(from + n));
        done += n;
    }
    return true;
}

bool CabinetReader::NextBlock(Error& error) {
    const Folder& folder = folders_[unpackedFolder_];
    if (nextBlock_ >= folder.blocks) {
        error = Malformed("its data ends before the file does");
        return false;
    }
    Bytes b(bytes_.data(), bytes_.size());
    std::size_t at = blockAt_;
    if (!b.Has(at, 8 + std::size_t{blockReserve_})) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " lies beyond the end of the cabinet");
        return false;
    }
    const std::uint32_t sum = b.U32(at);
    const std::uint16_t packed = b.U16(at + 4), size = b.U16(at + 6);
    const std::size_t data = at + 8 + blockReserve_;
    if (!b.Has(data, packed) || packed > kLongestBlock || size > kBlock || size == 0) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " has impossible sizes");
        return false;
    }
    if (sum != 0 && BlockChecksum(b.At(at + 4), 4, BlockChecksum(b.At(data), packed, 0)) != sum) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " is damaged (its checksum does not match)");
        return false;
    }
    blockStart_ += block_.size();
    block_.assign(size, 0);
    if (folder.compression == 0) {
        if (packed != size) {
            error = Malformed("stored data block " + std::to_string(nextBlock_) + " holds " + std::to_string(packed) +
                              " bytes for " + std::to_string(size));
            return false;
        }
        std::memcpy(block_.data(), b.At(data), size);
    } else if (!Inflate(b.At(data), packed, error)) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " " + error.message);
        return false;
    }
    // MSZIP carries the last 32 KiB of what came before into each block.
    history_.insert(history_.end(), block_.begin(), block_.end());
    if (history_.size() > kBlock) {
        history_.erase(history_.begin(), history_.end() - kBlock);
    }
    blockAt_ = data + packed;
    ++nextBlock_;
    return true;
}

bool CabinetReader::Inflate(const std::uint8_t* data, std::uint32_t packed, Error& error) {
    if (packed < 2 || data[0] != 'C' || data[1] != 'K') {
        error = Malformed("does not start with MSZIP's \"CK\"");
        return false;
    }
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        error = Refusal("cannot be unpacked (out of memory)");
        return false;
    }
    bool ok = history_.empty() || inflateSetDictionary(&z, history_.data(), static_cast<uInt>(history_.size())) == Z_OK;
    z.next_in = const_cast<std::uint8_t*>(data + 2);
    z.avail_in = packed - 2;
    z.next_out = block_.data();
    z.avail_out = static_cast<uInt>(block_.size());
    ok = ok && inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_out == 0;
    inflateEnd(&z);
    if (!ok) {
        error = Malformed("is damaged (its MSZIP data does not unpack to its size)");
    }
    return ok;
}

} // namespace device
