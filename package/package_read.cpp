// Reading packages back: from package and workspace files, from the running program's resources,
// and the member operations an installer uses to unpack its files.
//
// Everything read here comes from outside and may be truncated or corrupt. Sizes are checked
// against the input before anything is allocated or copied, and a refused package leaves the
// object empty rather than half-filled.
#include "package/package.h"
#include "platform/module.h"
#include "platform/replacement.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace {

constexpr std::uint32_t kChunkSize = 4096;
constexpr std::uint32_t kCopyBlock = 32 * kChunkSize;

constexpr std::u16string_view kNoFile = kEmptyPackageMessage;
constexpr std::u16string_view kFindFailed = u"FindResource failed";
constexpr std::u16string_view kEmptyResource = u"Resource is empty failed";
constexpr std::u16string_view kLoadFailed = u"LoadResource failed";
constexpr std::u16string_view kNoPointer = u"Couldn't grab data pointer";
constexpr std::u16string_view kOutOfBounds = u"Index out of bounds";
constexpr std::u16string_view kNotOpened = u"No ORB file opened";
constexpr std::u16string_view kBadDestination = u"Invalid destination filename";
constexpr std::u16string_view kCannotCreate = u"Couldn't create destination file";
constexpr std::u16string_view kBadHandle = u"Invalid destination handle";

constexpr std::u16string_view kShortHeader = u"The package is shorter than its header";
constexpr std::u16string_view kShortTable = u"The package is too short for its table of files";
constexpr std::u16string_view kNoTerminator = u"A text in the package has no terminator";
constexpr std::u16string_view kBadOffsets = u"The offsets of the package's files do not follow one another";
constexpr std::u16string_view kTooLarge = u"The package is 2 GB or more, beyond what the format can address";
constexpr std::u16string_view kShortData = u"The package is too short for its files' data";
constexpr std::u16string_view kEndsEarly = u"The package ends inside a file's data";
constexpr std::u16string_view kWriteFailed = u"Couldn't write destination file";
// A read the system failed, told apart from a package that ends early: the disk, not the file, is
// at fault, and the person must learn which file it is.
constexpr std::u16string_view kReadFailed = u"Couldn't read the package:";

bool Terminated(const TextField& field) { return FieldText(field).size() < kTextUnits; }

bool HeaderTextsTerminated(const PackageHeader& h) {
    return Terminated(h.sourceFolder) && Terminated(h.installFolder) && Terminated(h.programName) &&
           Terminated(h.imageFile) && Terminated(h.buildCommand);
}

std::uint64_t TableEnd(std::uint32_t count) { return kHeaderSize + std::uint64_t{count} * kEntrySize; }

// Checks a table read from outside; answers the reason to refuse it, or an empty text. Where the
// members' data is to be read, their offsets must lay them out one after another within the
// input. A workspace file carries no data: its sizes and offsets are whatever the workspace held
// (a refused build can leave them stale) and are laid out afresh by the next build.
std::u16string_view CheckTable(const std::vector<PackageEntry>& entries, std::uint64_t inputLength, bool needData) {
    std::uint64_t next = 0;
    for (const PackageEntry& e : entries) {
        if (!Terminated(e.filename) || !Terminated(e.shortcutName)) {
            return kNoTerminator;
        }
        if (needData && e.offset != next) {
            return kBadOffsets;
        }
        next += e.size;
    }
    if (!needData) {
        return {};
    }
    // Every position in a package is 31-bit, the end of the last member's data included.
    if (TableEnd(static_cast<std::uint32_t>(entries.size())) + next >= kFormatLimit) {
        return kTooLarge;
    }
    if (TableEnd(static_cast<std::uint32_t>(entries.size())) + next > inputLength) {
        return kShortData;
    }
    return {};
}

// Reads until `length` bytes are in or the file ends.
bool ReadFully(platform::File& file, void* buffer, std::uint32_t length) {
    return platform::ReadExactly(file, buffer, length);
}

} // namespace

void Package::Refuse(std::u16string_view message) {
    Clear();
    image = nullptr;
    imageSize = 0;
    packageFile.Close();
    SetLastError(message);
}

void Package::RefuseRead(std::u16string_view shortMessage, std::u16string_view path) {
    std::string reason = platform::SystemReason();
    Refuse(shortMessage);
    if (!reason.empty()) {
        SetLastError(kReadFailed, std::u16string(path) + u" (" + platform::ToUtf16(reason) + u")");
    }
}

void Package::SetReadError(std::u16string_view shortMessage) {
    // The caller adds the system's reason, as for a destination that cannot be written.
    if (platform::SystemReason().empty()) {
        SetLastError(shortMessage);
    } else {
        SetLastError(kReadFailed, packagePath);
    }
}

bool Package::Open(const char16_t* path, std::uint8_t fromResource) {
    image = nullptr;
    imageSize = 0;
    if (fromResource == 1) {
        return OpenResource(path);
    }
    return LoadFromFile(path, false);
}

bool Package::OpenPackageFile(const char16_t* path) {
    image = nullptr;
    imageSize = 0;
    return LoadFromFile(path, true);
}

bool Package::OpenPackageAt(const char16_t* path, std::uint64_t offset, std::uint64_t length) {
    image = nullptr;
    imageSize = 0;
    return LoadFromFile(path, true, offset, length);
}

// Checks the header just read against the length of its input. A count of 0 keeps the header
// with its message; anything else refused leaves the object empty.
bool Package::AcceptHeader(std::uint64_t inputLength) {
    if (header.count == 0) {
        packageFile.Close();
        openedEmpty = true;
        SetLastError(kNoFile);
        return false;
    }
    // Positions in a package are 31-bit, so no real table reaches that far; capping here also
    // keeps the table's size within what one allocation and one read can take.
    if (TableEnd(header.count) > inputLength || TableEnd(header.count) >= kFormatLimit) {
        Refuse(kShortTable);
        return false;
    }
    if (!HeaderTextsTerminated(header)) {
        Refuse(kNoTerminator);
        return false;
    }
    return true;
}

// The first step of a resource lookup that failed, as the package's message.
bool Package::AcceptResourceStep(platform::ResourceStep step) {
    switch (step) {
    case platform::ResourceStep::Found:
        return true;
    case platform::ResourceStep::NotFound:
        SetLastError(kFindFailed);
        break;
    case platform::ResourceStep::Empty:
        SetLastError(kEmptyResource);
        break;
    case platform::ResourceStep::NotLoaded:
        SetLastError(kLoadFailed);
        break;
    case platform::ResourceStep::NoPointer:
        SetLastError(kNoPointer);
        break;
    case platform::ResourceStep::Several:
        SetLastError(kSeveralPackages);
        break;
    }
    return false;
}

bool Package::LoadFromFile(const char16_t* path, bool keepOpen, std::uint64_t offset, std::uint64_t length) {
    // A file kept open earlier no longer matches whatever this call reads.
    packageFile.Close();
    openedEmpty = false;
    packageStart = 0;
    if (!path) {
        return false;
    }
    platform::File file = platform::File::OpenRead(path, platform::Share::None);
    std::uint64_t fileLength = 0;
    if (!file.IsOpen() || !file.Size(fileLength) || offset > fileLength || !file.Seek(offset)) {
        return false;
    }
    // The package ends where the file does, or sooner when it is part of a larger file.
    length = std::min(length, fileLength - offset);
    Clear();
    // A reason left by an earlier call must not make a short file read as a failing disk.
    platform::ForgetSystemReason();
    if (length < kHeaderSize || !ReadFully(file, &header, kHeaderSize)) {
        RefuseRead(kShortHeader, path);
        return false;
    }
    if (!AcceptHeader(length)) {
        return false;
    }
    std::vector<PackageEntry> table(header.count);
    if (!ReadFully(file, table.data(), static_cast<std::uint32_t>(TableEnd(header.count) - kHeaderSize))) {
        RefuseRead(kShortTable, path);
        return false;
    }
    // A workspace file is a header and table with no data area; only a package file kept open
    // for reading members must hold them.
    if (std::u16string_view reason = CheckTable(table, length, keepOpen); !reason.empty()) {
        Refuse(reason);
        return false;
    }
    entries = std::move(table);
    offsetsRunOn = keepOpen; // only checked where the members' data is read
    sourceFolderLength = static_cast<std::uint32_t>(FieldText(header.sourceFolder).size());
    if (keepOpen) {
        packageFile = std::move(file);
        packageStart = offset;
        packagePath = path;
    }
    return true;
}

void Package::TakeContents(Package& other) {
    if (&other == this) {
        return;
    }
    packageFile.Close();
    packageStart = 0;
    image = nullptr;
    imageSize = 0;
    header = other.header;
    entries = std::move(other.entries);
    sources = std::move(other.sources);
    offsetsRunOn = other.offsetsRunOn;
    sourceFolderLength = other.sourceFolderLength;
    other.Clear();
    other.packageFile.Close();
    other.image = nullptr;
    other.imageSize = 0;
    other.sourceFolderLength = 0;
}

bool Package::LoadFromImage(const std::uint8_t* bytes, std::uint32_t size, const EntryFilter* filter) {
    Clear();
    openedEmpty = false;
    if (size < kHeaderSize) {
        Refuse(kShortHeader);
        return false;
    }
    std::memcpy(&header, bytes, kHeaderSize);
    if (!AcceptHeader(size)) {
        return false;
    }
    std::vector<PackageEntry> table(header.count);
    std::memcpy(table.data(), bytes + kHeaderSize, std::size_t{header.count} * kEntrySize);
    if (std::u16string_view reason = CheckTable(table, size, true); !reason.empty()) {
        Refuse(reason);
        return false;
    }
    sourceFolderLength = static_cast<std::uint32_t>(FieldText(header.sourceFolder).size());
    for (const PackageEntry& e : table) {
        if (filter && *filter && (*filter)(e) != 0) {
            break;
        }
        entries.push_back(e);
    }
    return true;
}

bool Package::OpenImage(const std::uint8_t* bytes, std::uint32_t size) {
    image = nullptr;
    imageSize = 0;
    packageFile.Close();
    packageStart = 0;
    if (!bytes || !LoadFromImage(bytes, size, nullptr)) {
        return false;
    }
    image = bytes;
    imageSize = size;
    return true;
}

bool Package::OpenResource(const char16_t* name) {
    image = nullptr;
    imageSize = 0;
    packageFile.Close();
    packageStart = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!AcceptResourceStep(platform::FindOwnResource(name ? name : u"", u"RT_RCDATA", data, size))) {
        return false;
    }
    image = data;
    imageSize = size;
    if (!LoadFromImage(data, size, nullptr)) {
        return false;
    }
    image = data;
    imageSize = size;
    return true;
}

std::uint64_t Package::MemberPosition(const PackageEntry& entry) const {
    return packageStart + TableEnd(GetCount()) + entry.offset;
}

bool Package::CheckMember(std::int32_t index) {
    if (index < 0 || static_cast<std::uint32_t>(index) >= GetCount()) {
        SetLastError(kOutOfBounds);
        return false;
    }
    if (!image && !packageFile.IsOpen()) {
        SetLastError(kNotOpened);
        return false;
    }
    return true;
}

bool Package::ReadMember(std::int32_t index, void* buffer, std::int32_t maximum) {
    if (!buffer || maximum < 1 || !CheckMember(index)) {
        return false;
    }
    const PackageEntry& entry = entries[static_cast<std::uint32_t>(index)];
    std::uint32_t n = std::min(static_cast<std::uint32_t>(maximum), entry.size);
    std::uint64_t position = MemberPosition(entry);
    if (image) {
        if (position + n > imageSize) {
            SetLastError(kShortData);
            return false;
        }
        std::memcpy(buffer, image + position, n);
        return true;
    }
    return packageFile.Seek(position) && ReadFully(packageFile, buffer, n);
}

bool Package::ReadMemberAt(std::int32_t index, std::uint32_t offset, void* buffer, std::uint32_t size) {
    if (!CheckMember(index)) {
        return false;
    }
    const PackageEntry& entry = entries[static_cast<std::uint32_t>(index)];
    if (std::uint64_t{offset} + size > entry.size || (size > 0 && !buffer)) {
        SetLastError(kOutOfBounds);
        return false;
    }
    std::uint64_t position = MemberPosition(entry) + offset;
    if (image) {
        if (position + size > imageSize) {
            SetLastError(kShortData);
            return false;
        }
        if (size > 0) {
            std::memcpy(buffer, image + position, size);
        }
        return true;
    }
    if (!packageFile.Seek(position) || !ReadFully(packageFile, buffer, size)) {
        SetReadError(kEndsEarly);
        return false;
    }
    return true;
}

bool Package::ExtractToFile(std::int32_t index, const char16_t* destination) {
    if (!destination) {
        SetLastError(kBadDestination);
        return false;
    }
    if (!CheckMember(index)) {
        return false;
    }
    platform::Replacement out(destination);
    return ExtractToFile(index, out);
}

bool Package::ExtractToFile(std::int32_t index, platform::Replacement& out) {
    if (!CheckMember(index)) {
        return false;
    }
    // The member is written beside the destination and moved over it once complete: half a file
    // would pass for the real one on the device, and an existing destination may be a link or a
    // second name of a file elsewhere, which must not be written through.
    if (!out.Open()) {
        SetLastError(kCannotCreate);
        return false;
    }
    if (!ExtractToHandle(index, out.Out())) {
        return false;
    }
    if (!out.Commit()) {
        SetLastError(kCannotCreate);
        return false;
    }
    return true;
}

bool Package::ExtractToHandle(std::int32_t index, platform::File& destination) {
    if (!destination.IsOpen()) {
        SetLastError(kBadHandle);
        return false;
    }
    if (!CheckMember(index)) {
        return false;
    }
    const PackageEntry& entry = entries[static_cast<std::uint32_t>(index)];
    std::uint64_t position = MemberPosition(entry);
    std::uint32_t written = 0;
    if (entry.size == 0) {
        return true;
    }
    if (image) {
        if (position + entry.size > imageSize) {
            SetLastError(kShortData);
            return false;
        }
        if (!destination.Write(image + position, entry.size, written) || written != entry.size) {
            SetLastError(kWriteFailed);
            return false;
        }
        return true;
    }
    if (!packageFile.Seek(position)) {
        SetReadError(kEndsEarly);
        return false;
    }
    // Large pieces keep the calls few; the buffer is the package's, so extracting many small
    // members costs no allocation each.
    copyBuffer.resize(kCopyBlock);
    std::span<std::uint8_t> buffer(copyBuffer);
    for (std::uint32_t left = entry.size; left > 0;) {
        std::uint32_t got = 0;
        bool read = packageFile.Read(buffer.data(), std::min(kCopyBlock, left), got);
        if (!read || got == 0) {
            if (read) {
                platform::ForgetSystemReason();
            }
            SetReadError(kEndsEarly);
            return false;
        }
        if (!destination.Write(buffer.data(), got, written) || written != got) {
            SetLastError(kWriteFailed);
            return false;
        }
        left -= got;
    }
    return true;
}
