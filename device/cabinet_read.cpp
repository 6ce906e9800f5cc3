// Reading a device cabinet back: the Microsoft cabinet's framing, its data blocks (stored or
// MSZIP) and the manifest. A cabinet comes from outside, so every count, offset and length is
// checked against what is there before it is used, and the file is read in pieces: what is held
// at once is bounded by the format's own limits, never by a size the cabinet declares.
#include "device/cabinet.h"

#include "device/cabinet_format.h"
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

using namespace cabfmt;

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
    std::uint64_t at = 0, filesEnd = 0;
    std::uint16_t folderCount = 0, fileCount = 0;
    std::uint32_t filesAt = 0;
    std::uint8_t folderReserve = 0;
    if (!ReadHeader(at, folderCount, fileCount, filesAt, folderReserve, error) ||
        !ReadFolders(at, folderCount, folderReserve, error) || !ReadFileTable(filesAt, fileCount, filesEnd, error) ||
        !MeasureFolders(std::max(at, filesEnd), error) || !CheckFileData(error)) {
        return false;
    }
    std::vector<std::int32_t> byNumber;
    return NumberFiles(byNumber, error) && ReadManifest(byNumber, error) && PlaceFiles(byNumber, error);
}

// The cabinet's header (CFHEADER) and any reserve after it; `at` ends where the folder records begin.
bool CabinetReader::ReadHeader(std::uint64_t& at, std::uint16_t& folderCount, std::uint16_t& fileCount,
                               std::uint32_t& filesAt, std::uint8_t& folderReserve, Error& error) {
    Source& source = *source_;
    Window w(source, kTableSpan);
    if (!source.Has(0, kHeaderSize) || !w.Load(0, kHeaderSize, error) || w.U32(kHeaderSignature) != kSignature) {
        if (error.code != ErrorCode::CannotRead) {
            error = Malformed("it does not start as a Microsoft cabinet (\"MSCF\")");
        }
        return false;
    }
    cabinet_.length = source.Size();
    if (w.U8(kHeaderMajor) != kVersionMajor) {
        error = Malformed("cabinet format version " + std::to_string(w.U8(kHeaderMajor)) + "." +
                          std::to_string(w.U8(kHeaderMinor)));
        return false;
    }
    folderCount = w.U16(kHeaderFolders);
    fileCount = w.U16(kHeaderFiles);
    filesAt = w.U32(kHeaderFilesAt);
    const std::uint16_t flags = w.U16(kHeaderFlags);
    if (flags & (kFlagPrevious | kFlagNext)) {
        error = Malformed("it is one of a set of cabinets; a device installs from one");
        return false;
    }
    at = kHeaderSize;
    if (flags & kFlagReserve) {
        if (!source.Has(at, kReserveSizes) || !w.Load(at, kReserveSizes, error)) {
            error = error.code == ErrorCode::CannotRead ? error : Malformed("its header ends early");
            return false;
        }
        const std::uint16_t headerReserve = w.U16(at + kReserveHeader);
        folderReserve = w.U8(at + kReserveFolder);
        blockReserve_ = w.U8(at + kReserveBlock);
        cabinet_.headerReserve = headerReserve;
        at += kReserveSizes;
        if (!ReadSignaturePlace(at, headerReserve, w.U32(kHeaderLength), error)) {
            return false;
        }
        at += headerReserve;
    }
    // A signature lies after the cabinet, which its header's length does not count.
    const std::uint64_t length = source.Size() - cabinet_.signatureSize;
    if (w.U32(kHeaderLength) != length) {
        error = Malformed("its header gives a length of " + std::to_string(w.U32(kHeaderLength)) +
                          " bytes, the file has " + std::to_string(length) +
                          (cabinet_.signatureSize ? " before its signature" : ""));
        return false;
    }
    if (folderCount == 0 || fileCount == 0) {
        error = Malformed("it holds no files");
        return false;
    }
    if (fileCount > kMostCabinetFiles + 2) {
        error = Malformed("it holds " + std::to_string(fileCount) + " files; a device cabinet holds at most " +
                          std::to_string(kMostCabinetFiles) + ", its manifest and a setup DLL");
        return false;
    }
    return true;
}

// Where a signing tool put the signature, in the header's reserve at `at`: after the cabinet's
// bytes, to the end of the file. A reserve that says nothing of one (a cabinet left ready to be
// signed) is fine; one that places a signature anywhere else is not.
bool CabinetReader::ReadSignaturePlace(std::uint64_t at, std::uint16_t reserve, std::uint32_t length,
                                       Error& error) {
    Source& source = *source_;
    Window w(source, kSignaturePlaceSize);
    if (reserve < kSignaturePlaceSize || !source.Has(at, kSignaturePlaceSize)) {
        return true;
    }
    if (!w.Load(at, kSignaturePlaceSize, error)) {
        return false;
    }
    if (w.U32(at + kSignatureMagic) != kSignaturePlaceMagic) {
        return true;
    }
    const std::uint32_t offset = w.U32(at + kSignatureOffset), size = w.U32(at + kSignatureSize);
    if (size == 0 || offset != length || std::uint64_t{offset} + size != source.Size()) {
        error = Malformed("its header places a signature of " + std::to_string(size) + " bytes at " +
                          std::to_string(offset) + ", not from the cabinet's end to the file's");
        return false;
    }
    cabinet_.signatureSize = size;
    return true;
}

// The folder records (CFFOLDER).
bool CabinetReader::ReadFolders(std::uint64_t& at, std::uint16_t folderCount, std::uint8_t folderReserve,
                                Error& error) {
    Source& source = *source_;
    Window w(source, kTableSpan);
    folders_.reserve(folderCount);
    for (std::uint16_t i = 0; i < folderCount; ++i, at += kFolderSize + folderReserve) {
        if (!source.Has(at, kFolderSize + std::size_t{folderReserve})) {
            error = Malformed("its folder table ends early");
            return false;
        }
        if (!w.Load(at, kFolderSize, error)) {
            return false;
        }
        Folder folder{w.U32(at + kFolderFirstBlock), w.U16(at + kFolderBlocks),
                      static_cast<std::uint16_t>(w.U16(at + kFolderCompression) & kCompressionMask)};
        if (folder.compression > kMszip) {
            error = Malformed("folder " + std::to_string(i) + " uses compression " +
                              std::to_string(folder.compression) + "; device cabinets use none or MSZIP");
            return false;
        }
        folders_.push_back(folder);
    }
    return true;
}

// The file records (CFFILE); `tablesEnd` is where the last one ends.
bool CabinetReader::ReadFileTable(std::uint64_t at, std::uint16_t fileCount, std::uint64_t& tablesEnd,
                                  Error& error) {
    Source& source = *source_;
    Window w(source, kTableSpan);
    raw_.reserve(fileCount);
    for (std::uint16_t i = 0; i < fileCount; ++i) {
        if (!source.Has(at, kFileName)) {
            error = Malformed("its file table ends early");
            return false;
        }
        if (!w.Load(at, kFileName, error)) {
            return false;
        }
        RawFile file;
        file.size = w.U32(at + kFileSize);
        file.offset = w.U32(at + kFileOffset);
        file.folder = w.U16(at + kFileFolder);
        file.date = w.U16(at + kFileDate);
        file.time = w.U16(at + kFileTime);
        file.utf8 = (w.U16(at + kFileAttributes) & kAttributeUtf8Name) != 0;
        file.nameAt = static_cast<std::uint32_t>(at + kFileName);
        std::string name;
        if (!w.Text(at + kFileName, kLongestRawName, name, at, error)) {
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
    tablesEnd = at;
    return true;
}

// Every file lies within its folder's data, and files lie one after another there. Overlapping
// files would make reading them all unpack the same data once for each, and a small cabinet could
// claim hours of work.
bool CabinetReader::CheckFileData(Error& error) {
    for (std::size_t i = 0; i < raw_.size(); ++i) {
        const RawFile& file = raw_[i];
        if (std::uint64_t{file.offset} + file.size > folders_[file.folder].unpacked) {
            error = Malformed("file " + RawName(i) + " claims " + std::to_string(file.size) + " bytes at " +
                              std::to_string(file.offset) + " of its folder's data, which unpacks to " +
                              std::to_string(folders_[file.folder].unpacked));
            return false;
        }
    }
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
    return true;
}

// The stored files by the number their names end in, each number once.
bool CabinetReader::NumberFiles(std::vector<std::int32_t>& byNumber, Error& error) {
    byNumber.assign(0x10000, -1);
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
    return true;
}

// The manifest: the one file numbered 000.
bool CabinetReader::ReadManifest(const std::vector<std::int32_t>& byNumber, Error& error) {
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
    return ReadRaw(static_cast<std::size_t>(byNumber[0]), append, error) && ParseManifest(manifestBytes, error);
}

// The manifest's files found among the stored ones, and the setup DLL, which it does not name.
bool CabinetReader::PlaceFiles(const std::vector<std::int32_t>& byNumber, Error& error) {
    auto place = [&](CabinetFile& file, std::int32_t found) {
        const RawFile& raw = raw_[found];
        file.raw = static_cast<std::size_t>(found);
        file.size = raw.size;
        file.offset = raw.offset;
        file.folder = raw.folder;
        file.date = raw.date;
        file.time = raw.time;
    };
    bool setupNamed = false;
    for (CabinetFile& file : cabinet_.files) {
        std::int32_t found = byNumber[file.number];
        if (found < 0 || file.number == 0) {
            error = Malformed("the manifest names file " + std::to_string(file.number) +
                              ", which the cabinet does not hold");
            return false;
        }
        setupNamed = setupNamed || file.number == kSetupDllNumber;
        place(file, found);
    }
    if (!setupNamed && byNumber[kSetupDllNumber] >= 0) {
        CabinetFile setup;
        setup.number = kSetupDllNumber;
        place(setup, byNumber[kSetupDllNumber]);
        cabinet_.setupDll = setup;
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

// The manifest, section by section. Its ids are 16 bits, so tables of every id cost less than
// maps of those a manifest uses; ids are looked up, never taken as places, since the wizard
// writes some sections out of id order.
class CabinetReader::ManifestParser {
public:
    ManifestParser(const std::vector<std::uint8_t>& manifest, Cabinet& cabinet, Error& error, unsigned codePage)
        : b_(manifest.data(), manifest.size()), c_(cabinet), error_(error), codePage_(codePage) {}

    bool Parse() {
        return Header() && Strings() && Dirs() && Files() && Hives() && Keys() && Links();
    }

private:
    bool Header() {
        if (!b_.Has(0, kManHeaderSize) || b_.U32(kManSignature) != kManifestSignature) {
            return Fail("its manifest does not start with \"MSCE\"");
        }
        if (b_.U32(kManLength) != b_.Size()) {
            return Fail("its manifest gives a length of " + std::to_string(b_.U32(kManLength)) + " bytes, it has " +
                        std::to_string(b_.Size()));
        }
        c_.processorType = b_.U32(kManProcessor);
        for (int i = 0; i < 6; ++i) {
            c_.versions[i] = b_.U32(kManVersionMin + 4 * i);
        }
        if (!Text(kManAppName, c_.appName, "application name") || !Text(kManProvider, c_.provider, "provider")) {
            return false;
        }
        if (b_.U16(kManUnsupported + 2) != 0) {
            std::uint16_t offset = b_.U16(kManUnsupported), length = b_.U16(kManUnsupported + 2);
            if (!b_.Has(offset, length) || b_.At(offset)[length - 1] != 0) {
                return Fail("its manifest's list of unsupported platforms is not a terminated text within it");
            }
            std::string_view all(reinterpret_cast<const char*>(b_.At(offset)), length);
            for (std::size_t start = 0; start < all.size();) {
                std::size_t end = all.find('\0', start);
                if (end == start) {
                    break;
                }
                c_.unsupported.push_back(Decode(all.substr(start, end - start)));
                start = end + 1;
            }
        }
        return true;
    }

    // A text given by its offset and length; the length may count padding after the NUL.
    bool Text(std::size_t field, std::u16string& out, const char* what) {
        std::uint16_t offset = b_.U16(field), length = b_.U16(field + 2);
        if (length == 0 || !b_.Has(offset, length) || b_.At(offset)[length - 1] != 0) {
            return Fail(std::string("its manifest's ") + what + " is not a terminated text within it");
        }
        out = Decode(UpToNul(b_.At(offset), length));
        return true;
    }

    static std::string_view UpToNul(const std::uint8_t* p, std::size_t n) {
        const void* nul = std::memchr(p, 0, n);
        return {reinterpret_cast<const char*>(p),
                nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : n};
    }

    bool Strings() {
        std::size_t at = Start(kStrings);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kStrings)); ++i) {
            const std::uint16_t length = b_.Has(at, 4) ? b_.U16(at + kStringLength) : 0;
            if (length == 0 || !b_.Has(at + kStringText, length) || b_.At(at + kStringText)[length - 1] != 0) {
                return Fail("its manifest's string " + std::to_string(i) + " is not a terminated text within it");
            }
            named_[b_.U16(at + kStringId)] = true;
            strings_[b_.U16(at + kStringId)] = Decode(UpToNul(b_.At(at + kStringText), length));
            at += kStringText + length;
        }
        // String 1 is the install folder where folders start with it.
        if (named_[kInstallDirString]) {
            c_.installDir = ExpandDeviceMacro(strings_[kInstallDirString]);
        }
        return true;
    }

    // A list of string ids, joined with backslashes into a path from the device's root; `closed`
    // lists end in 0, links' lists may or may not. Bounding it to a device's (kLongestDevicePath)
    // also bounds its memory: one long text named 30000 times would otherwise make a path of
    // gigabytes from a small manifest.
    bool Path(std::size_t start, std::uint16_t length, bool closed, std::u16string& out) {
        if (length % 2 != 0 || !b_.Has(start, length) || (closed && (length < 2 || b_.U16(start + length - 2) != 0))) {
            return false;
        }
        std::size_t end = start + length;
        if (length >= 2 && b_.U16(end - 2) == 0) {
            end -= 2;
        }
        out.clear();
        for (std::size_t p = start; p < end; p += 2) {
            if (!named_[b_.U16(p)]) {
                return false;
            }
            const std::u16string& part = strings_[b_.U16(p)];
            out = p == start ? ExpandDeviceMacro(part) : JoinDevicePath(out, part);
            if (out.size() + 1 > kLongestDevicePath) {
                return false;
            }
        }
        return true;
    }

    bool Dirs() {
        std::size_t at = Start(kDirs);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kDirs)); ++i) {
            std::u16string folder;
            if (!b_.Has(at, kDirSpec) || !Path(at + kDirSpec, b_.U16(at + kDirLength), true, folder)) {
                return Fail("its manifest's folder " + std::to_string(i) +
                            " is not a list of its strings making a path a device can hold");
            }
            if (!List(folder.size(), "folder " + std::to_string(i))) {
                return false;
            }
            dirs_[b_.U16(at + kDirId)] = static_cast<std::int32_t>(c_.folders.size());
            c_.folders.push_back(std::move(folder));
            at += kDirSpec + b_.U16(at + kDirLength);
        }
        return true;
    }

    bool Files() {
        std::size_t at = Start(kFiles);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kFiles)); ++i) {
            const std::uint16_t length = b_.Has(at, kFileEntryName) ? b_.U16(at + kFileNameLength) : 0;
            if (length == 0 || !b_.Has(at + kFileEntryName, length) || b_.At(at + kFileEntryName)[length - 1] != 0) {
                return Fail("its manifest's file " + std::to_string(i) + " ends early or has no terminated name");
            }
            const std::int32_t dir = dirs_[b_.U16(at + kFileDir)];
            if (dir < 0) {
                return Fail("its manifest's file " + std::to_string(i) + " names folder " +
                            std::to_string(b_.U16(at + kFileDir)) + ", which it does not list");
            }
            CabinetFile file;
            file.number = b_.U16(at + kFileNumber);
            file.source = b_.U16(at + kFileSource);
            file.flags = b_.U32(at + kFileFlags);
            file.relative = JoinDevicePath(c_.folders[dir], Decode(UpToNul(b_.At(at + kFileEntryName), length)));
            if (file.relative.size() + 1 > kLongestDevicePath) {
                return Fail("its manifest's file " + std::to_string(i) + " has a path longer than a device's (" +
                            std::to_string(kLongestDevicePath) + " characters)");
            }
            if (files_[file.number] >= 0) {
                return Fail("its manifest names file " + std::to_string(file.number) + " twice");
            }
            if (!List(file.relative.size(), "file " + std::to_string(i))) {
                return false;
            }
            files_[file.number] = static_cast<std::int32_t>(c_.files.size());
            c_.files.push_back(std::move(file));
            at += kFileEntryName + length;
        }
        return true;
    }

    bool Hives() {
        std::size_t at = Start(kRegHives);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kRegHives)); ++i) {
            Hive hive;
            const std::uint16_t root = b_.Has(at, kHiveSpec) ? b_.U16(at + kHiveRoot) : 0;
            if (root < 1 || root > 4 || !Path(at + kHiveSpec, b_.U16(at + kHiveLength), true, hive.key)) {
                return Fail("its manifest's registry key " + std::to_string(i) +
                            " is not a root and a list of its strings");
            }
            hive.root = static_cast<RegistryRoot>(root);
            hives_[b_.U16(at + kHiveId)] = static_cast<std::int32_t>(hiveList_.size());
            hiveList_.push_back(std::move(hive));
            at += kHiveSpec + b_.U16(at + kHiveLength);
        }
        return true;
    }

    bool Keys() {
        std::size_t at = Start(kRegKeys);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kRegKeys)); ++i) {
            const std::string which = "its manifest's registry value " + std::to_string(i);
            const std::uint16_t length = b_.Has(at, kKeyData) ? b_.U16(at + kKeyLength) : 0;
            if (!b_.Has(at, kKeyData) || !b_.Has(at + kKeyData, length)) {
                return Fail(which + " ends early");
            }
            const std::int32_t hive = hives_[b_.U16(at + kKeyHive)];
            if (hive < 0) {
                return Fail(which + " names key " + std::to_string(b_.U16(at + kKeyHive)) + ", which it does not list");
            }
            CabinetRegistryValue entry;
            RegistryValue& value = entry.value;
            value.root = hiveList_[hive].root;
            value.key = hiveList_[hive].key;
            value.type = b_.U32(at + kKeyType);
            entry.substitute = b_.U16(at + kKeySubstitute) != 0;
            if (!Data(b_.At(at + kKeyData), length, value, [&](std::string_view t) { return Decode(t); })) {
                return Fail(which + " does not hold a name and data of its type (0x" + Hex(value.type) + ")");
            }
            std::size_t shown = value.key.size() + value.name.size() + 3 * value.bytes.size();
            for (const std::u16string& text : value.texts) {
                shown += text.size() + 1;
            }
            if (!List(shown, "registry value " + std::to_string(i))) {
                return false;
            }
            c_.registry.push_back(std::move(entry));
            at += kKeyData + length;
        }
        return true;
    }

    // A registry value's name, NUL, and data of its type.
    template <typename Decoder> static bool Data(const std::uint8_t* p, std::size_t n, RegistryValue& value, const Decoder& decode) {
        const void* nul = std::memchr(p, 0, n);
        if (!nul) {
            return false;
        }
        std::size_t name = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p);
        value.name = decode(std::string_view(reinterpret_cast<const char*>(p), name));
        p += name + 1;
        n -= name + 1;
        std::string_view data(reinterpret_cast<const char*>(p), n);
        switch (value.type & ~kRegNoClobber) {
        case kRegString:
            if (data.empty() || data.back() != '\0') {
                return false;
            }
            value.texts.push_back(decode(UpToNul(p, n)));
            return true;
        case kRegMultiString:
            if (data.empty() || data.back() != '\0') {
                return false;
            }
            data.remove_suffix(1);
            while (!data.empty()) {
                std::size_t end = data.find('\0');
                if (end == std::string_view::npos) {
                    return false;
                }
                value.texts.push_back(decode(data.substr(0, end)));
                data.remove_prefix(end + 1);
            }
            return true;
        case kRegBinary:
            value.bytes.assign(p, p + n);
            return true;
        case kRegDword:
            if (n != 4) {
                return false;
            }
            value.number = Bytes(p, n).U32(0);
            return true;
        default:
            return false;
        }
    }

    bool Links() {
        std::size_t at = Start(kLinks);
        for (std::uint16_t i = 0; i < b_.U16(CountAt(kLinks)); ++i) {
            const std::string which = "its manifest's shortcut " + std::to_string(i);
            CabinetLink link;
            if (!b_.Has(at, kLinkSpec) || !Path(at + kLinkSpec, b_.U16(at + kLinkLength), false, link.relative) ||
                link.relative.empty()) {
                return Fail(which + " is not a list of its strings making a path a device can hold");
            }
            link.base = b_.U16(at + kLinkBase);
            std::u16string base;
            if (link.base == 0) {
                if (!named_[kInstallDirString]) {
                    return Fail(which + " lies in the install folder, which the manifest does not name");
                }
                base = c_.installDir;
            } else if (link.base <= kLastMacro) {
                base = std::u16string(MacroFolderPath(link.base));
            } else {
                return Fail(which + " lies in folder macro " + std::to_string(link.base) +
                            ", which devices do not have");
            }
            link.relative = JoinDevicePath(base, link.relative);
            if (link.relative.size() + 1 > kLongestDevicePath) {
                return Fail(which + " has a path longer than a device's (" + std::to_string(kLongestDevicePath) +
                            " characters)");
            }
            link.target = b_.U16(at + kLinkTarget);
            link.toFile = b_.U16(at + kLinkKind) == kLinkToFile;
            const std::int32_t target = link.toFile ? files_[link.target] : dirs_[link.target];
            if (target >= 0) {
                link.targetPath = link.toFile ? c_.files[target].relative : c_.folders[target];
            } else if (!link.toFile && link.target == 0 && named_[kInstallDirString]) {
                link.targetPath = c_.installDir;
            } else {
                return Fail(which + " leads to " + (link.toFile ? "file " : "folder ") + std::to_string(link.target) +
                            ", which it does not list");
            }
            if (!List(link.relative.size() + link.targetPath.size(), "shortcut " + std::to_string(i))) {
                return false;
            }
            c_.links.push_back(std::move(link));
            at += kLinkSpec + b_.U16(at + kLinkLength);
        }
        return true;
    }

    std::size_t Start(Section section) const { return b_.U32(OffsetAt(section)); }

    // What the listing takes, refused once past what a cabinet may list.
    bool List(std::size_t characters, const std::string& what) {
        listing_ += ListingCost(characters);
        if (listing_ > kLongestListing) {
            return Fail("its manifest lists more than a device cabinet may (" + what + " takes the listing past " +
                        std::to_string(kLongestListing) + " bytes)");
        }
        return true;
    }

    static std::string Hex(std::uint32_t v) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string out(8, '0');
        for (int i = 7; i >= 0; --i, v >>= 4) {
            out[i] = kDigits[v & 0xF];
        }
        return out;
    }

    bool Fail(const std::string& message) {
        error_ = Malformed(message);
        return false;
    }

    struct Hive {
        RegistryRoot root = RegistryRoot::LocalMachine;
        std::u16string key;
    };

    std::u16string Decode(std::string_view text) const { return FromCabinetText(text, codePage_); }

    Bytes b_;
    Cabinet& c_;
    Error& error_;
    unsigned codePage_;
    std::uint64_t listing_ = 0;
    std::vector<std::u16string> strings_ = std::vector<std::u16string>(0x10000);
    std::vector<bool> named_ = std::vector<bool>(0x10000);
    std::vector<std::int32_t> dirs_ = std::vector<std::int32_t>(0x10000, -1);  // places in folders
    std::vector<std::int32_t> files_ = std::vector<std::int32_t>(0x10000, -1); // places in files
    std::vector<std::int32_t> hives_ = std::vector<std::int32_t>(0x10000, -1); // places in hiveList_
    std::vector<Hive> hiveList_;
};

bool CabinetReader::ParseManifestOnly(const std::vector<std::uint8_t>& manifest, Cabinet& cabinet, Error& error,
                                      unsigned codePage) {
    cabinet = Cabinet{};
    return ManifestParser(manifest, cabinet, error, codePage).Parse();
}

bool CabinetReader::ParseManifest(const std::vector<std::uint8_t>& manifest, Error& error) {
    if (!ManifestParser(manifest, cabinet_, error, codePage_).Parse()) {
        return false;
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

bool CabinetReader::ReadSetupDll(const Piece& take, Error& error) {
    if (!cabinet_.setupDll) {
        error = Malformed("no setup DLL");
        return false;
    }
    return ReadRaw(cabinet_.setupDll->raw, take, error);
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
