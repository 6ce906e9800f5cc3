// Building the package: the member list, the header fields and the package writer.
#include "package/package.h"

#include "platform/error.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kLastErrorUnits = 515;
constexpr std::size_t kTakenErrorUnits = 1024;

std::u16string_view TextOrEmpty(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

// Length of a file, or -1 when it cannot be opened as a file for reading.
std::int64_t MeasureFile(std::u16string_view path) {
    std::uint64_t size = 0;
    if (!platform::MeasureFile(path, size)) {
        return -1;
    }
    return static_cast<std::int64_t>(std::min<std::uint64_t>(size, INT64_MAX));
}

} // namespace

Package::Package() {
    image = nullptr;
    imageSize = 0;
    Clear();
    header.magic = kPackageMagic;
    header.count = GetCount();
    header.dataOffset = kHeaderSize;
    SetFieldText(header.installFolder, u"c:\\program files\\");
    packageFile.Close();
    lastError.clear();
}

Package::~Package() { Clear(); }

namespace {
constexpr std::size_t kFirstTableRoom = 8192;
} // namespace

bool Package::AddFile(const char16_t* path, std::uint32_t flags) { return AddListedFile(path, flags, -1); }

bool Package::AddListedFile(const char16_t* path, std::uint32_t flags, std::int64_t readableLength) {
    if (!path) {
        return false;
    }
    std::u16string stored(path);
    // A longer path would have to be cut, and a cut path names some other file.
    if (stored.size() > kMaxTextLength) {
        return false;
    }
    // Packages name their files with backslashes wherever they were built. On a host whose own
    // separator is the slash, a backslash inside a name could not be told from a separator later;
    // on Windows a slash is a separator too, written the package's way.
    if (platform::NativeSeparator() != u'\\' && stored.find(u'\\') != std::u16string::npos) {
        return false;
    }
    std::replace(stored.begin(), stored.end(), u'/', u'\\');
    std::int32_t length = readableLength < 0 ? GetFileLength(path)
                          : static_cast<std::uint64_t>(readableLength) >= kFormatLimit
                              ? -1
                              : static_cast<std::int32_t>(readableLength);
    if (length < 0) {
        return false;
    }
    PackageEntry entry{};
    SetFieldText(entry.filename, stored);
    entry.size = static_cast<std::uint32_t>(length);
    entry.offset = 0;
    entry.flags = flags;
    // A table of a kilobyte per file outgrows its room again and again while a folder is gathered,
    // and each move touches fresh pages for all it held. Room reserved is only address space until
    // it is written, so the first reservation is made for thousands of files at once.
    if (entries.size() == entries.capacity()) {
        entries.reserve(std::max<std::size_t>(entries.capacity() * 2, kFirstTableRoom));
    }
    // Gathering adds thousands of files one by one: when the offsets already run on, the new one
    // is all that needs placing. A table read from a workspace file may not, and is laid out anew.
    if (offsetsRunOn) {
        entry.offset = entries.empty() ? 0 : entries.back().offset + entries.back().size;
        entries.push_back(entry);
    } else {
        entries.push_back(entry);
        RecomputeOffsets();
    }
    return true;
}

bool Package::GetEntry(std::uint32_t index, PackageEntry* destination) const {
    if (!destination || index >= GetCount()) {
        return false;
    }
    const PackageEntry& entry = entries[index];
    std::memcpy(destination->filename, entry.filename, sizeof entry.filename);
    std::memcpy(destination->shortcutName, entry.shortcutName, sizeof entry.shortcutName);
    destination->flags = entry.flags;
    destination->size = entry.size;
    destination->offset = entry.offset;
    return true;
}

bool Package::SetEntryFlags(std::uint32_t index, std::uint32_t flags) {
    if (index >= GetCount()) {
        return false;
    }
    entries[index].flags = flags;
    return true;
}

bool Package::SetShortcutName(std::uint32_t index, const char16_t* text) {
    if (index >= GetCount() || !text) {
        return false;
    }
    SetFieldText(entries[index].shortcutName, text);
    return true;
}

bool Package::SetMemberSource(std::uint32_t index, std::u16string_view path) {
    if (index >= GetCount()) {
        return false;
    }
    sources.resize(entries.size());
    sources[index] = path;
    return true;
}

bool Package::SetStoredPath(std::uint32_t index, std::u16string_view path) {
    if (index >= GetCount() || path.size() > kMaxTextLength) {
        return false;
    }
    sources.resize(entries.size());
    if (sources[index].empty()) {
        sources[index] = FieldText(entries[index].filename);
    }
    SetFieldText(entries[index].filename, path);
    return true;
}

std::u16string_view Package::MemberSource(std::uint32_t index) const {
    if (index < sources.size() && !sources[index].empty()) {
        return sources[index];
    }
    return index < GetCount() ? FieldText(entries[index].filename) : std::u16string_view();
}

void Package::Clear() {
    entries.clear();
    sources.clear();
    std::memset(&header, 0, sizeof header);
    RecomputeOffsets();
    ComputeTotalSize();
}

void Package::RecomputeOffsets() {
    std::uint32_t offset = 0;
    for (PackageEntry& entry : entries) {
        entry.offset = offset;
        offset += entry.size;
    }
    offsetsRunOn = true;
}

std::uint32_t Package::ComputeTotalSize() {
    std::uint32_t total = 0;
    for (const PackageEntry& entry : entries) {
        total += entry.size;
    }
    header.totalSize = total;
    return total;
}

void Package::SetSourceFolder(const char16_t* text) { SetFieldText(header.sourceFolder, TextOrEmpty(text)); }

void Package::SetInstallFolder(const char16_t* text) { SetFieldText(header.installFolder, TextOrEmpty(text)); }

void Package::GetProgramName(char16_t* destination) const {
    if (destination) {
        std::memcpy(destination, header.programName, sizeof header.programName);
    }
}

void Package::SetProgramName(const char16_t* text) {
    if (text) {
        SetFieldText(header.programName, text);
    }
}

std::int32_t Package::GetFileLength(const char16_t* path) {
    if (!path) {
        return -1;
    }
    std::int64_t length = MeasureFile(path);
    return length < 0 || static_cast<std::uint64_t>(length) >= kFormatLimit ? -1 : static_cast<std::int32_t>(length);
}

bool Package::ReadWholeFile(const char16_t* path, void* buffer, std::int32_t length) {
    if (!path || !buffer || length <= 0) {
        return false;
    }
    platform::File file = platform::File::OpenRead(path, platform::Share::None);
    if (!file.IsOpen()) {
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t wanted = static_cast<std::uint32_t>(length);
    std::uint32_t done = 0;
    while (done < wanted) {
        std::uint32_t got = 0;
        if (!file.Read(bytes + done, wanted - done, got) || got == 0) {
            break;
        }
        done += got;
    }
    return done == wanted;
}

const char16_t* Package::TakeLastError() {
    static char16_t taken[kTakenErrorUnits];
    std::size_t n = std::min(lastError.size(), kTakenErrorUnits - 1);
    std::copy_n(lastError.data(), n, taken);
    taken[n] = u'\0';
    lastError.clear();
    return taken;
}

void Package::SetSystemError(std::u16string_view message, std::u16string_view subject) {
    std::string reason = platform::SystemReason();
    std::u16string text(subject);
    if (!reason.empty()) {
        text.append(u" (").append(platform::ToUtf16(reason)).append(u")");
    }
    SetLastError(message, text);
}

void Package::SetLastError(std::u16string_view message, std::u16string_view subject) {
    lastError.assign(message);
    lastError.append(subject);
    if (lastError.size() > kLastErrorUnits) {
        lastError.resize(kLastErrorUnits);
    }
}
