// Reading a device cabinet back: the Microsoft cabinet's framing, its data blocks (stored or
// MSZIP) and the manifest. A cabinet comes from outside, so every count, offset and length is
// checked against what is there before it is used, and the file is read in pieces: what is held
// at once is bounded by the format's own limits, never by a size the cabinet declares.
#include "device/cabinet.h"

#include "device/layout.h"
#include "platform/text.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace device {

// Where the cabinet's bytes come from: its file, read where asked, or bytes in memory.
class CabinetReader::Source {
public:
    virtual ~Source() = default;
    std::uint64_t Size() const { return size_; }
    bool Has(std::uint64_t at, std::uint64_t n) const { return at <= size_ && n <= size_ - at; }
    // Reads [at, at + n), which the caller has checked lies within Size().
    virtual bool ReadAt(std::uint64_t at, void* out, std::size_t n, Error& error) = 0;

protected:
    std::uint64_t size_ = 0;
};

namespace {

// The cabinet format's own limit on the names in its file table.
constexpr std::size_t kLongestRawName = 256;
constexpr std::uint64_t kLongestCabinet = std::uint64_t{1} << 32;
// How much the tables are read ahead, and the data blocks' headers while their folders are measured
// (their data is not wanted then, and a 32 KiB block lies between two headers).
constexpr std::size_t kTableSpan = 1 << 16;
constexpr std::size_t kHeaderSpan = 512;

class MemorySource : public CabinetReader::Source {
public:
    explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { size_ = bytes_.size(); }
    bool ReadAt(std::uint64_t at, void* out, std::size_t n, Error&) override {
        std::memcpy(out, bytes_.data() + at, n);
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

class FileSource : public CabinetReader::Source {
public:
    FileSource(platform::File file, std::uint64_t size) : file_(std::move(file)) { size_ = size; }
    bool ReadAt(std::uint64_t at, void* out, std::size_t n, Error& error) override {
        if (!file_.Seek(at)) {
            error = SystemError(ErrorCode::CannotRead, {}, "cannot be read");
            return false;
        }
        auto* p = static_cast<std::uint8_t*>(out);
        for (std::size_t done = 0; done < n;) {
            std::uint32_t got = 0;
            std::uint32_t want = static_cast<std::uint32_t>(std::min<std::size_t>(n - done, 1 << 24));
            if (!file_.Read(p + done, want, got)) {
                error = SystemError(ErrorCode::CannotRead, {}, "cannot be read");
                return false;
            }
            if (got == 0) {
                error = {ErrorCode::CannotRead, {}, "became shorter while it was read", {}};
                return false;
            }
            done += got;
        }
        return true;
    }

private:
    platform::File file_;
};

// Bounds-checked little-endian reading of a byte range in memory.
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

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A piece of the source held in memory, moved along as the tables are read: the tables of a
// cabinet of 65,535 files take megabytes, and the source may be a file of gigabytes.
class Window {
public:
    Window(CabinetReader::Source& source, std::size_t span) : source_(source), span_(span) {}
    // Makes [at, at + n) readable, n at most the span; the caller has checked it lies within the source.
    bool Load(std::uint64_t at, std::size_t n, Error& error) {
        if (at >= start_ && at - start_ <= held_.size() && n <= held_.size() - (at - start_)) {
            return true;
        }
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(n, span_), source_.Size() - at));
        held_.resize(take);
        if (!source_.ReadAt(at, held_.data(), take, error)) {
            held_.clear();
            return false;
        }
        start_ = at;
        return true;
    }
    std::uint16_t U16(std::uint64_t at) const { return View().U16(Offset(at)); }
    std::uint32_t U32(std::uint64_t at) const { return View().U32(Offset(at)); }
    std::uint8_t U8(std::uint64_t at) const { return held_[Offset(at)]; }
    // A NUL-terminated text of at most `longest` bytes at `at`; false without a NUL, or when the
    // source cannot be read (the error then says so).
    bool Text(std::uint64_t at, std::size_t longest, std::string& text, std::uint64_t& end, Error& error) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(longest + 1, source_.Size() - at));
        if (!Load(at, n, error)) {
            return false;
        }
        const std::uint8_t* p = held_.data() + Offset(at);
        const void* nul = std::memchr(p, 0, n);
        if (!nul) {
            return false;
        }
        text.assign(reinterpret_cast<const char*>(p), static_cast<const std::uint8_t*>(nul) - p);
        end = at + text.size() + 1;
        return true;
    }

private:
    Bytes View() const { return Bytes(held_.data(), held_.size()); }
    std::size_t Offset(std::uint64_t at) const { return static_cast<std::size_t>(at - start_); }

    CabinetReader::Source& source_;
    std::size_t span_;
    std::uint64_t start_ = 0;
    std::vector<std::uint8_t> held_;
};

// The file number a cabinet name carries after its last dot; -1 when it carries none.
std::int32_t NumberOf(std::string_view name) {
    std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot + 1 == name.size() || name.size() - dot - 1 > 5) {
        return -1;
    }
    std::int32_t number = 0;
    for (char c : name.substr(dot + 1)) {
        if (c < '0' || c > '9') {
            return -1;
        }
        number = number * 10 + (c - '0');
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

CabinetReader::CabinetReader() = default;
CabinetReader::~CabinetReader() = default;

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
    return Start(std::make_unique<FileSource>(std::move(file), size), error);
}

bool CabinetReader::Open(std::vector<std::uint8_t> bytes, Error& error) {
    if (bytes.size() >= kLongestCabinet) {
        error = Malformed("is 4 GiB or longer, more than a cabinet can be");
        return false;
    }
    return Start(std::make_unique<MemorySource>(std::move(bytes)), error);
}

bool CabinetReader::Start(std::unique_ptr<Source> source, Error& error) {
    source_ = std::move(source);
    folders_.clear();
    raw_.clear();
    cabinet_ = Cabinet{};
    unpackedFolder_ = -1;
    if (!Parse(error)) {
        // A read that failed is the system's to explain; anything else is the cabinet's fault.
        if (error.code != ErrorCode::CannotRead) {
            error = Malformed("is not a device cabinet we can read: " + error.message);
        }
        return false;
    }
    return true;
}

bool CabinetReader::Parse(Error& error) {
    Source& source = *source_;
    Window w(source, kTableSpan);
    if (!source.Has(0, 36) || !w.Load(0, 36, error) || w.U32(0) != 0x4643534Du) { // "MSCF"
        if (error.code != ErrorCode::CannotRead) {
            error = Malformed("it does not start as a Microsoft cabinet (\"MSCF\")");
        }
        return false;
    }
    cabinet_.length = source.Size();
    if (w.U32(8) != source.Size()) {
        error = Malformed("its header gives a length of " + std::to_string(w.U32(8)) + " bytes, the file has " +
                          std::to_string(source.Size()));
        return false;
    }
    if (w.U8(25) != 1) {
        error = Malformed("cabinet format version " + std::to_string(w.U8(25)) + "." + std::to_string(w.U8(24)));
        return false;
    }
    const std::uint16_t folderCount = w.U16(26), fileCount = w.U16(28), flags = w.U16(30);
    const std::uint32_t filesAt = w.U32(16);
    if (flags & 0x3) {
        error = Malformed("it is one of a set of cabinets; a device installs from one");
        return false;
    }
    std::uint64_t at = 36;
    std::uint8_t folderReserve = 0;
    if (flags & 0x4) {
        if (!source.Has(at, 4) || !w.Load(at, 4, error)) {
            error = error.code == ErrorCode::CannotRead ? error : Malformed("its header ends early");
            return false;
        }
        std::uint16_t headerReserve = w.U16(at);
        folderReserve = w.U8(at + 2);
        blockReserve_ = w.U8(at + 3);
        at += 4 + headerReserve;
    }
    if (folderCount == 0 || fileCount == 0) {
        error = Malformed("it holds no files");
        return false;
    }
    if (fileCount > kMostCabinetFiles + 1) {
        error = Malformed("it holds " + std::to_string(fileCount) + " files; a device cabinet holds at most " +
                          std::to_string(kMostCabinetFiles) + " and its manifest");
        return false;
    }
    folders_.reserve(folderCount);
    for (std::uint16_t i = 0; i < folderCount; ++i, at += 8 + folderReserve) {
        if (!source.Has(at, 8 + std::size_t{folderReserve})) {
            error = Malformed("its folder table ends early");
            return false;
        }
        if (!w.Load(at, 8, error)) {
            return false;
        }
        Folder folder{w.U32(at), w.U16(at + 4), static_cast<std::uint16_t>(w.U16(at + 6) & 0xF)};
        if (folder.compression > 1) {
            error = Malformed("folder " + std::to_string(i) + " uses compression " +
                              std::to_string(folder.compression) + "; device cabinets use none or MSZIP");
            return false;
        }
        folders_.push_back(folder);
    }
    std::uint64_t tablesEnd = at;
    at = filesAt;
    raw_.reserve(fileCount);
    for (std::uint16_t i = 0; i < fileCount; ++i) {
        if (!source.Has(at, 16)) {
            error = Malformed("its file table ends early");
            return false;
        }
        if (!w.Load(at, 16, error)) {
            return false;
        }
        RawFile file;
        file.size = w.U32(at);
        file.offset = w.U32(at + 4);
        file.folder = w.U16(at + 8);
        file.date = w.U16(at + 10);
        file.time = w.U16(at + 12);
        file.utf8 = (w.U16(at + 14) & 0x80) != 0;
        file.nameAt = static_cast<std::uint32_t>(at + 16);
        std::string name;
        if (!w.Text(at + 16, kLongestRawName, name, at, error)) {
            error = error.code == ErrorCode::CannotRead ? error
                                                        : Malformed("file " + std::to_string(i) + "'s name has no end");
            return false;
        }
        file.number = NumberOf(name);
        if (file.folder >= folders_.size()) {
            error = Malformed("file " + std::to_string(i) + " lies in folder " + std::to_string(file.folder) + ", of " +
                              std::to_string(folders_.size()));
            return false;
        }
        raw_.push_back(file);
    }
    tablesEnd = std::max(tablesEnd, at);
    if (!MeasureFolders(tablesEnd, error)) {
        return false;
    }
    for (std::size_t i = 0; i < raw_.size(); ++i) {
        const RawFile& file = raw_[i];
        if (std::uint64_t{file.offset} + file.size > folders_[file.folder].unpacked) {
            error = Malformed("file " + RawName(i) + " claims " + std::to_string(file.size) + " bytes at " +
                              std::to_string(file.offset) + " of its folder's data, which unpacks to " +
                              std::to_string(folders_[file.folder].unpacked));
            return false;
        }
    }
    // Files lie one after another in their folder's data. Overlapping files would make reading
    // them all unpack the same data once for each, and a small cabinet could claim hours of work.
    std::vector<std::uint32_t> stored(raw_.size());
    std::iota(stored.begin(), stored.end(), 0u);
    std::sort(stored.begin(), stored.end(), [&](std::uint32_t a, std::uint32_t b) {
        return raw_[a].folder != raw_[b].folder ? raw_[a].folder < raw_[b].folder : raw_[a].offset < raw_[b].offset;
    });
    std::int64_t before = -1;
    for (std::uint32_t i : stored) {
        const RawFile& file = raw_[i];
        if (file.size == 0) {
            continue;
        }
        if (before >= 0 && raw_[before].folder == file.folder &&
            std::uint64_t{raw_[before].offset} + raw_[before].size > file.offset) {
            error = Malformed("files " + RawName(static_cast<std::size_t>(before)) + " and " + RawName(i) +
                              " overlap in their folder's data");
            return false;
        }
        before = i;
    }

    // The manifest: the one file numbered 000.
    std::vector<std::int32_t> byNumber(0x10000, -1);
    for (std::size_t i = 0; i < raw_.size(); ++i) {
        std::int32_t number = raw_[i].number;
        if (number >= 0) {
            if (byNumber[number] >= 0) {
                error = Malformed("two files are numbered " + std::to_string(number));
                return false;
            }
            byNumber[number] = static_cast<std::int32_t>(i);
        }
    }
    if (byNumber[0] < 0) {
        error = Malformed("it holds no manifest (a file numbered 000)");
        return false;
    }
    const RawFile& manifestFile = raw_[byNumber[0]];
    if (manifestFile.size > kLongestManifest) {
        error = Malformed("its manifest (file " + RawName(byNumber[0]) + ") claims " +
                          std::to_string(manifestFile.size) + " bytes; a device cabinet's takes at most " +
                          std::to_string(kLongestManifest));
        return false;
    }
    std::vector<std::uint8_t> manifestBytes;
    manifestBytes.reserve(manifestFile.size);
    const Piece append = [&](const std::uint8_t* p, std::size_t n) {
        manifestBytes.insert(manifestBytes.end(), p, p + n);
    };
    if (!ReadRaw(static_cast<std::size_t>(byNumber[0]), append, error) ||
        !ParseManifest(manifestBytes, error)) {
        return false;
    }
    for (CabinetFile& file : cabinet_.files) {
        std::int32_t found = byNumber[file.number];
        if (found < 0 || file.number == 0) {
            error = Malformed("the manifest names file " + std::to_string(file.number) +
                              ", which the cabinet does not hold");
            return false;
        }
        const RawFile& raw = raw_[found];
        file.raw = static_cast<std::size_t>(found);
        file.size = raw.size;
        file.offset = raw.offset;
        file.folder = raw.folder;
        file.date = raw.date;
        file.time = raw.time;
    }
    return true;
}

// Walks each folder's chain of data blocks by their headers, to learn how much it unpacks to and
// where its data ends. Folders whose data overlap are refused: each would unpack the same blocks,
// and a few thousand folders naming one chain would make a small cabinet cost hours. With every
// block belonging to one folder, and a compressed block unpacking to at most kMostDeflateRatio
// times its bytes, what a cabinet unpacks to is bounded by its own length.
bool CabinetReader::MeasureFolders(std::uint64_t tablesEnd, Error& error) {
    Source& source = *source_;
    Window w(source, kHeaderSpan);
    std::vector<std::uint32_t> order(folders_.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return folders_[a].firstBlock < folders_[b].firstBlock; });
    const std::uint64_t headerSize = 8 + std::uint64_t{blockReserve_};
    for (std::size_t k = 0; k < order.size(); ++k) {
        Folder& folder = folders_[order[k]];
        const std::string name = "folder " + std::to_string(order[k]);
        if (folder.blocks == 0) {
            continue;
        }
        if (folder.firstBlock < tablesEnd) {
            error = Malformed(name + "'s data begins inside the cabinet's tables");
            return false;
        }
        // Where the next folder's data begins: this one's must end before.
        std::uint64_t limit = source.Size();
        std::uint32_t limitFolder = 0;
        for (std::size_t next = k + 1; next < order.size(); ++next) {
            if (folders_[order[next]].blocks > 0) {
                limit = folders_[order[next]].firstBlock;
                limitFolder = order[next];
                break;
            }
        }
        std::uint64_t at = folder.firstBlock;
        for (std::uint32_t block = 0; block < folder.blocks; ++block) {
            const std::string which = name + "'s data block " + std::to_string(block);
            if (!source.Has(at, headerSize)) {
                error = Malformed(which + " lies beyond the end of the cabinet");
                return false;
            }
            if (!w.Load(at, 8, error)) {
                return false;
            }
            const std::uint16_t packed = w.U16(at + 4), size = w.U16(at + 6);
            if (size == 0 || size > kCabinetBlock || packed > kLongestPackedBlock ||
                (folder.compression == 0 && packed != size) ||
                (folder.compression == 1 && std::uint64_t{size} > std::uint64_t{kMostDeflateRatio} * packed)) {
                error = Malformed(which + " has impossible sizes (" + std::to_string(packed) + " bytes for " +
                                  std::to_string(size) + ")");
                return false;
            }
            at += headerSize + packed;
            if (at > limit) {
                error = Malformed(at > source.Size() ? which + " lies beyond the end of the cabinet"
                                                     : name + "'s data overlaps folder " +
                                                           std::to_string(limitFolder) + "'s");
                return false;
            }
            folder.unpacked += size;
        }
    }
    return true;
}

std::string CabinetReader::RawName(std::size_t index) {
    const RawFile& file = raw_[index];
    Window w(*source_, kLongestRawName + 1);
    std::string name;
    std::uint64_t end = 0;
    Error ignored;
    if (!w.Text(file.nameAt, kLongestRawName, name, end, ignored)) {
        return std::to_string(index);
    }
    std::u16string unicode;
    return platform::ToUtf8(file.utf8 && platform::Utf8ToUtf16(name, unicode) ? unicode : FromCabinetText(name));
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

    // What the listing takes, refused once past what a cabinet may list.
    std::uint64_t listing = 0;
    auto list = [&](std::size_t characters, const std::string& what) {
        listing += ListingCost(characters);
        if (listing > kLongestListing) {
            error = Malformed("its manifest lists more than a device cabinet may (" + what + " takes the listing past " +
                              std::to_string(kLongestListing) + " bytes)");
            return false;
        }
        return true;
    };
    // By id; the ids are 16 bits, so tables of every id cost less than maps of those a manifest uses.
    std::vector<std::u16string> strings(0x10000);
    std::vector<bool> named(0x10000);
    std::size_t at = b.U32(60);
    for (std::uint16_t i = 0; i < b.U16(48); ++i) {
        if (!b.Has(at, 4) || b.U16(at + 2) == 0 || !b.Has(at + 4, b.U16(at + 2)) ||
            b.At(at + 4)[b.U16(at + 2) - 1] != 0) {
            error = Malformed("its manifest's string " + std::to_string(i) + " is not a terminated text within it");
            return false;
        }
        named[b.U16(at)] = true;
        strings[b.U16(at)] =
            FromCabinetText(std::string_view(reinterpret_cast<const char*>(b.At(at + 4)), b.U16(at + 2) - 1u));
        at += 4 + b.U16(at + 2);
    }
    // A list of string ids ending in 0, joined with backslashes into a path from the device's root.
    // Bounding it to a device's (kLongestDevicePath) also bounds its memory: one long text named
    // 30000 times in a folder would otherwise make a path of gigabytes from a small manifest.
    auto path = [&](std::size_t start, std::uint16_t length, std::u16string& out) {
        if (length < 2 || length % 2 != 0 || !b.Has(start, length) || b.U16(start + length - 2) != 0) {
            return false;
        }
        out.clear();
        for (std::size_t p = start; p + 2 < start + length; p += 2) {
            if (!named[b.U16(p)]) {
                return false;
            }
            std::u16string part = strings[b.U16(p)];
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
    std::vector<std::int32_t> dirs(0x10000, -1); // places in cabinet_.folders
    at = b.U32(64);
    for (std::uint16_t i = 0; i < b.U16(50); ++i) {
        std::u16string folder;
        if (!b.Has(at, 4) || !path(at + 4, b.U16(at + 2), folder)) {
            error = Malformed("its manifest's folder " + std::to_string(i) +
                              " is not a list of its strings making a path a device can hold");
            return false;
        }
        if (!list(folder.size(), "folder " + std::to_string(i))) {
            return false;
        }
        dirs[b.U16(at)] = static_cast<std::int32_t>(cabinet_.folders.size());
        cabinet_.folders.push_back(std::move(folder));
        at += 4 + b.U16(at + 2);
    }
    at = b.U32(68);
    std::vector<std::int32_t> fileNames(0x10000, -1); // places in cabinet_.files
    for (std::uint16_t i = 0; i < b.U16(52); ++i) {
        std::string name;
        if (!b.Has(at, 12) || b.U16(at + 10) == 0 || !b.Has(at + 12, b.U16(at + 10)) ||
            b.At(at + 12)[b.U16(at + 10) - 1] != 0) {
            error = Malformed("its manifest's file " + std::to_string(i) + " ends early or has no terminated name");
            return false;
        }
        const std::int32_t dir = dirs[b.U16(at + 2)];
        if (dir < 0) {
            error = Malformed("its manifest's file " + std::to_string(i) + " names folder " +
                              std::to_string(b.U16(at + 2)) + ", which it does not list");
            return false;
        }
        CabinetFile file;
        file.number = b.U16(at);
        file.flags = b.U32(at + 6);
        std::u16string own =
            FromCabinetText(std::string_view(reinterpret_cast<const char*>(b.At(at + 12)), b.U16(at + 10) - 1u));
        file.relative = JoinDevicePath(cabinet_.folders[dir], own);
        if (file.relative.size() + 1 > kLongestDevicePath) {
            error = Malformed("its manifest's file " + std::to_string(i) + " has a path longer than a device's (" +
                              std::to_string(kLongestDevicePath) + " characters)");
            return false;
        }
        if (fileNames[file.number] >= 0) {
            error = Malformed("its manifest names file " + std::to_string(file.number) + " twice");
            return false;
        }
        if (!list(file.relative.size(), "file " + std::to_string(i))) {
            return false;
        }
        fileNames[file.number] = static_cast<std::int32_t>(cabinet_.files.size());
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
        if (link.relative.size() + 1 > kLongestDevicePath) {
            error = Malformed("its manifest's shortcut " + std::to_string(i) + " has a path longer than a device's (" +
                              std::to_string(kLongestDevicePath) + " characters)");
            return false;
        }
        link.target = b.U16(at + 6);
        link.toFile = b.U16(at + 8) == 1;
        const std::int32_t target = link.toFile ? fileNames[link.target] : dirs[link.target];
        if (target >= 0) {
            link.targetPath = link.toFile ? cabinet_.files[target].relative : cabinet_.folders[target];
        } else if (link.toFile || link.target != 0) {
            error = Malformed("its manifest's shortcut " + std::to_string(i) + " leads to " +
                              (link.toFile ? "file " : "folder ") + std::to_string(link.target) +
                              ", which it does not list");
            return false;
        }
        if (!list(link.relative.size() + link.targetPath.size(), "shortcut " + std::to_string(i))) {
            return false;
        }
        cabinet_.links.push_back(std::move(link));
        at += 12 + b.U16(at + 10);
    }
    cabinet_.compression = folders_.empty() ? 0 : folders_.front().compression;
    return true;
}

bool CabinetReader::ReadFile(std::size_t index, const Piece& take, Error& error) {
    if (index >= cabinet_.files.size()) {
        error = Malformed("no such file");
        return false;
    }
    return ReadRaw(cabinet_.files[index].raw, take, error);
}

bool CabinetReader::ReadFile(std::size_t index, std::vector<std::uint8_t>& bytes, Error& error) {
    bytes.clear();
    if (index < cabinet_.files.size()) {
        bytes.reserve(std::min<std::size_t>(cabinet_.files[index].size, kLongestManifest));
    }
    return ReadFile(index, [&](const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }, error);
}

// The stored files' data, block by block from the start of their folder. Files are mostly read in
// the order they are stored, so the blocks already passed are not read again.
bool CabinetReader::ReadRaw(std::size_t index, const Piece& take, Error& error) {
    const RawFile& file = raw_[index];
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
                if (error.code != ErrorCode::CannotRead) {
                    error = Malformed("file " + RawName(index) + ": " + error.message);
                }
                return false;
            }
            continue;
        }
        std::size_t from = static_cast<std::size_t>(want - blockStart_);
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(block_.size() - from, file.size - done));
        take(block_.data() + from, n);
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
    Source& source = *source_;
    const std::uint64_t at = blockAt_;
    const std::size_t headerSize = 8 + std::size_t{blockReserve_};
    std::uint8_t head[8];
    if (!source.Has(at, headerSize)) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " lies beyond the end of the cabinet");
        return false;
    }
    if (!source.ReadAt(at, head, sizeof head, error)) {
        return false;
    }
    Bytes h(head, sizeof head);
    const std::uint32_t sum = h.U32(0);
    const std::uint16_t packed = h.U16(4), size = h.U16(6);
    const std::uint64_t data = at + headerSize;
    // Checked again, not taken from the folder's measure: the file may have changed since.
    if (!source.Has(data, packed) || packed > kLongestPackedBlock || size > kCabinetBlock || size == 0) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " has impossible sizes");
        return false;
    }
    packed_.resize(packed);
    if (packed > 0 && !source.ReadAt(data, packed_.data(), packed, error)) {
        return false;
    }
    if (sum != 0 && BlockChecksum(head + 4, 4, BlockChecksum(packed_.data(), packed, 0)) != sum) {
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
        std::memcpy(block_.data(), packed_.data(), size);
    } else if (!Inflate(packed_.data(), packed, error)) {
        error = Malformed("data block " + std::to_string(nextBlock_) + " " + error.message);
        return false;
    }
    // MSZIP carries the last 32 KiB of what came before into each block.
    history_.insert(history_.end(), block_.begin(), block_.end());
    if (history_.size() > kCabinetBlock) {
        history_.erase(history_.begin(), history_.end() - kCabinetBlock);
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
