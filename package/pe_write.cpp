// Placing the rebuilt resource section and writing the new executable.
//
// The section is rewritten where it is when it is the last one, or when only the relocation
// section follows it: relocations hold no pointers into themselves, so that section can move, as
// the platform's own update moves it. Any other section after it may be referred to by code, so
// then the new section is appended and the old one left unused. Bytes after the last section (an
// overlay, such as a symbol table or appended data) keep their content and move behind.
#include "package/pe_write.h"

#include "package/byte_sink.h"
#include "package/pe_layout.h"
#include "platform/file.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace pe {
namespace {

constexpr std::uint64_t kMaxSection = 0x80000000ull;
constexpr std::uint32_t kCopyChunk = 1u << 20;

std::uint64_t AlignUp(std::uint64_t v, std::uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

// Where everything goes in the new file.
struct Placement {
    std::optional<std::size_t> rewritten; // the old resource section, rewritten in place
    std::optional<std::size_t> relocs;    // the relocation section moved behind it
    std::uint32_t sectionRva = 0;
    std::uint32_t sectionPointer = 0;
    std::uint32_t relocRva = 0;
    std::uint32_t relocPointer = 0;
    std::uint64_t keepUntil = 0;    // source bytes copied unchanged: [0, keepUntil)
    std::uint64_t overlayStart = 0; // source bytes [overlayStart, fileSize) go at the end
    std::uint64_t newOverlayStart = 0;
};

bool IsRelocationSection(const Image& image, const Section& s) {
    DataDirectory relocs = image.Directory(kDirectoryRelocations);
    bool holdsDirectory =
        relocs.size != 0 && relocs.rva >= s.virtualAddress && relocs.rva - s.virtualAddress < s.VirtualSpan();
    return holdsDirectory || std::memcmp(s.name, ".reloc\0\0", 8) == 0;
}

// The resource section, when it may be rewritten where it lies: the tree starts it, and only a
// relocation section follows it, in memory and in the file.
bool FindRewritable(const Image& image, Placement& p) {
    DataDirectory dir = image.Directory(kDirectoryResources);
    if (dir.rva == 0) {
        return false;
    }
    int found = image.SectionContaining(dir.rva);
    if (found < 0 || image.sections[static_cast<std::size_t>(found)].virtualAddress != dir.rva) {
        return false;
    }
    auto index = static_cast<std::size_t>(found);
    std::size_t after = image.sections.size() - index - 1;
    if (after > 1 || (after == 1 && !IsRelocationSection(image, image.sections[index + 1]))) {
        return false;
    }
    const Section& rsrc = image.sections[index];
    for (std::size_t i = 0; i < index; ++i) {
        const Section& s = image.sections[i];
        if (s.sizeOfRawData != 0 && std::uint64_t{s.pointerToRawData} + s.sizeOfRawData > rsrc.pointerToRawData) {
            return false;
        }
    }
    if (after == 1) {
        const Section& reloc = image.sections[index + 1];
        if (reloc.sizeOfRawData != 0 && reloc.pointerToRawData < rsrc.pointerToRawData) {
            return false;
        }
        p.relocs = index + 1;
    }
    p.rewritten = index;
    return true;
}

bool HeaderRoomForSection(const Image& image, const std::vector<std::uint8_t>& headers) {
    std::uint64_t at = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
    std::uint64_t firstData = image.sizeOfHeaders;
    for (const Section& s : image.sections) {
        if (s.sizeOfRawData != 0) {
            firstData = std::min<std::uint64_t>(firstData, s.pointerToRawData);
        }
    }
    if (at + kSectionHeaderSize > firstData) {
        return false;
    }
    return std::all_of(headers.begin() + static_cast<std::ptrdiff_t>(at),
                       headers.begin() + static_cast<std::ptrdiff_t>(at + kSectionHeaderSize),
                       [](std::uint8_t b) { return b == 0; });
}

bool Place(const Image& image, const std::vector<std::uint8_t>& headers, std::uint64_t size, Placement& p,
           Error& error) {
    std::uint64_t rawSize = AlignUp(size, image.fileAlignment);
    std::uint64_t va = 0, raw = 0;
    p.overlayStart = image.EndOfSectionData();
    if (FindRewritable(image, p)) {
        const Section& rsrc = image.sections[*p.rewritten];
        va = rsrc.virtualAddress;
        raw = rsrc.pointerToRawData;
    } else {
        if (image.sections.size() >= kMaxSections) {
            error = Refusal("The executable already has " + std::to_string(image.sections.size()) +
                            " sections; a resource section would make more than " + std::to_string(kMaxSections) + ".");
            return false;
        }
        if (!HeaderRoomForSection(image, headers)) {
            error = Refusal("The executable's headers have no room for a new resource section.");
            return false;
        }
        const Section& last = image.sections.back();
        va = AlignUp(std::uint64_t{last.virtualAddress} + last.VirtualSpan(), image.sectionAlignment);
        raw = AlignUp(p.overlayStart, image.fileAlignment);
    }
    p.keepUntil = p.rewritten ? raw : p.overlayStart;
    std::uint64_t end = raw + rawSize;
    std::uint64_t vaEnd = AlignUp(va + size, image.sectionAlignment);
    if (p.relocs) {
        const Section& reloc = image.sections[*p.relocs];
        p.relocRva = static_cast<std::uint32_t>(vaEnd);
        p.relocPointer = static_cast<std::uint32_t>(end);
        end += AlignUp(reloc.sizeOfRawData, image.fileAlignment);
        vaEnd = AlignUp(vaEnd + reloc.VirtualSpan(), image.sectionAlignment);
    }
    p.newOverlayStart = end;
    if (end + (image.fileSize - p.overlayStart) > 0xFFFFFFFFull || vaEnd > 0xFFFFFFFFull) {
        error = Refusal("The executable would grow beyond 4 GB.");
        return false;
    }
    p.sectionRva = static_cast<std::uint32_t>(va);
    p.sectionPointer = static_cast<std::uint32_t>(raw);
    return true;
}

// The new file, written in order through one buffer, keeping the sum the header checksum needs
// as bytes pass. It is also the sink a produced resource (a package streamed from its members)
// writes into, so those bytes land in the buffer they are written from.
class Output final : public FileSink {
public:
    explicit Output(platform::File& file) : FileSink(file, kCopyChunk) {}
    std::uint64_t Position() const { return position_; }
    bool Write(const std::uint8_t* bytes, std::size_t length);
    bool PadTo(std::uint64_t position);
    bool Copy(ByteSource& source, std::uint64_t offset, std::uint64_t length);
    bool CopyUpdate(const ResourceData& data, std::uint32_t length);
    bool Patch(std::uint64_t offset, std::uint32_t value);
    // The standard image checksum: 16-bit words summed with end-around carry, plus the length.
    std::uint32_t CheckSum() const;
    // A resource file (an icon, a picture) the system failed to read, with its reason; empty while
    // none has.
    const Error& ReadFailure() const { return readFailure_; }

private:
    void Committed(const std::uint8_t* bytes, std::uint32_t length) override {
        Sum(bytes, length);
        position_ += length;
    }
    void Sum(const std::uint8_t* bytes, std::size_t length);

    std::uint64_t position_ = 0;
    std::uint64_t sum_ = 0;
    Error readFailure_;
};

// Adds bytes that start at position_ to the sum, a 32-bit little-endian word at a time. As
// 2^16 is 1 modulo 0xFFFF, the folded sum of 32-bit words equals the folded sum of 16-bit words,
// provided each byte is weighted by its place in its word: a byte at position p counts
// byte << 8 * (p % 4).
void Output::Sum(const std::uint8_t* bytes, std::size_t length) {
    std::uint64_t at = position_;
    std::size_t i = 0;
    for (; i < length && at % 4 != 0; ++i, ++at) {
        sum_ += std::uint64_t{bytes[i]} << (8 * (at % 4));
    }
    // Two 32-bit words per 64-bit load, in two sums that the compiler keeps in vector registers.
    std::uint64_t low = 0, high = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t pair;
        std::memcpy(&pair, bytes + i, 8); // little-endian hosts only (records.h)
        low += pair & 0xFFFFFFFFu;
        high += pair >> 32;
    }
    if (i + 4 <= length) {
        low += Le32(bytes + i);
        i += 4;
    }
    sum_ += low + high;
    for (std::uint32_t shift = 0; i < length; ++i, shift += 8) {
        sum_ += std::uint64_t{bytes[i]} << shift;
    }
}

bool Output::Write(const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        auto part = static_cast<std::uint32_t>(std::min<std::size_t>(length, kCopyChunk));
        if (!Put(bytes, part)) {
            return false;
        }
        bytes += part;
        length -= part;
    }
    return true;
}

bool Output::PadTo(std::uint64_t position) {
    if (position < position_) {
        return false;
    }
    while (position_ < position) {
        std::span<std::uint8_t> room =
            Reserve(static_cast<std::uint32_t>(std::min<std::uint64_t>(position - position_, kCopyChunk)));
        if (room.empty()) {
            return false;
        }
        std::memset(room.data(), 0, room.size());
        if (!Commit(static_cast<std::uint32_t>(room.size()))) {
            return false;
        }
    }
    return true;
}

bool Output::Copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) {
    while (length > 0) {
        std::span<std::uint8_t> room = Reserve(static_cast<std::uint32_t>(std::min<std::uint64_t>(length, kCopyChunk)));
        if (room.empty() || !source.ReadAt(offset, room.data(), room.size()) ||
            !Commit(static_cast<std::uint32_t>(room.size()))) {
            return false;
        }
        offset += room.size();
        length -= room.size();
    }
    return true;
}

bool Output::CopyUpdate(const ResourceData& data, std::uint32_t length) {
    if (data.producer != nullptr) {
        // The producer promised exactly `length` bytes; more or fewer would shift every later part.
        std::uint64_t start = position_;
        return data.producer->Produce(*this) && position_ - start == length;
    }
    if (data.path.empty()) {
        return data.bytes.size() == length && Write(data.bytes.data(), length);
    }
    platform::File in = platform::File::OpenRead(data.path, platform::Share::Read);
    if (!in.IsOpen() || !in.Seek(data.offset)) {
        return false;
    }
    while (length > 0) {
        std::span<std::uint8_t> room = Reserve(std::min(length, kCopyChunk));
        std::uint32_t got = 0;
        if (room.empty()) {
            return false;
        }
        if (!in.Read(room.data(), static_cast<std::uint32_t>(room.size()), got)) {
            readFailure_ = SystemError(ErrorCode::CannotRead, {},
                                       "The resource file could not be read: " + platform::ToUtf8(data.path));
            return false;
        }
        if (got == 0 || !Commit(got)) {
            return false;
        }
        length -= got;
    }
    return true;
}

bool Output::Patch(std::uint64_t offset, std::uint32_t value) {
    std::uint8_t bytes[4];
    PutLe32(bytes, value);
    std::uint32_t written = 0;
    return Flush() && File().Seek(offset) && File().Write(bytes, 4, written) && written == 4;
}

std::uint32_t Output::CheckSum() const {
    std::uint64_t sum = sum_;
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + position_);
}

void PutSection(std::vector<std::uint8_t>& headers, std::uint64_t at, const Section& s) {
    std::uint8_t* h = headers.data() + at;
    std::memcpy(h, s.name, 8);
    PutLe32(h + 8, s.virtualSize);
    PutLe32(h + 12, s.virtualAddress);
    PutLe32(h + 16, s.sizeOfRawData);
    PutLe32(h + 20, s.pointerToRawData);
    PutLe32(h + 36, s.characteristics);
}

// The section table as it will be: the resource section rewritten or added, relocations moved.
std::vector<Section> NewSections(const Image& image, const Placement& p, std::uint64_t size) {
    std::vector<Section> sections = image.sections;
    Section* rsrc = nullptr;
    if (p.rewritten) {
        rsrc = &sections[*p.rewritten];
    } else {
        bool taken = std::any_of(sections.begin(), sections.end(),
                                 [](const Section& s) { return std::memcmp(s.name, ".rsrc\0\0\0", 8) == 0; });
        Section added;
        std::memcpy(added.name, taken ? ".rsrc2\0\0" : ".rsrc\0\0\0", 8);
        added.characteristics = kScnInitializedData | kScnMemRead;
        rsrc = &sections.emplace_back(added);
    }
    rsrc->virtualSize = static_cast<std::uint32_t>(size);
    rsrc->virtualAddress = p.sectionRva;
    rsrc->sizeOfRawData = static_cast<std::uint32_t>(AlignUp(size, image.fileAlignment));
    rsrc->pointerToRawData = p.sectionPointer;
    if (p.relocs) {
        Section& reloc = sections[*p.relocs];
        reloc.virtualAddress = p.relocRva;
        reloc.pointerToRawData = reloc.sizeOfRawData != 0 ? p.relocPointer : 0;
    }
    return sections;
}

void PatchOptionalHeader(const Image& image, const std::vector<Section>& sections, std::vector<std::uint8_t>& h) {
    std::uint64_t imageEnd = 0, initialized = 0;
    for (const Section& s : sections) {
        imageEnd = std::max<std::uint64_t>(imageEnd, std::uint64_t{s.virtualAddress} + s.VirtualSpan());
        if (s.characteristics & kScnInitializedData) {
            initialized += s.sizeOfRawData;
        }
    }
    PutLe32(h.data() + image.SizeOfImageOffset(),
            static_cast<std::uint32_t>(AlignUp(imageEnd, image.sectionAlignment)));
    PutLe32(h.data() + image.SizeOfInitializedDataOffset(), static_cast<std::uint32_t>(initialized));
    PutLe32(h.data() + image.CheckSumOffset(), 0);
}

void PatchHeaders(const Image& image, const Placement& p, std::uint64_t size, std::vector<std::uint8_t>& h) {
    std::vector<Section> sections = NewSections(image, p, size);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        PutSection(h, image.sectionTableOffset + kSectionHeaderSize * i, sections[i]);
    }
    PutLe16(h.data() + image.NumberOfSectionsOffset(), static_cast<std::uint16_t>(sections.size()));
    PutLe32(h.data() + image.DirectoryOffset(kDirectoryResources), p.sectionRva);
    PutLe32(h.data() + image.DirectoryOffset(kDirectoryResources) + 4, static_cast<std::uint32_t>(size));
    DataDirectory relocs = image.Directory(kDirectoryRelocations);
    if (p.relocs && relocs.size != 0) {
        std::uint32_t oldRva = image.sections[*p.relocs].virtualAddress;
        PutLe32(h.data() + image.DirectoryOffset(kDirectoryRelocations), p.relocRva + (relocs.rva - oldRva));
    }
    if (image.pointerToSymbolTable != 0 && image.pointerToSymbolTable >= p.overlayStart) {
        PutLe32(h.data() + image.PointerToSymbolTableOffset(),
                static_cast<std::uint32_t>(image.pointerToSymbolTable - p.overlayStart + p.newOverlayStart));
    }
    PatchOptionalHeader(image, sections, h);
}

bool WriteSection(Output& out, FileSource& source, const SectionPlan& plan, std::uint64_t start) {
    if (!out.Write(plan.head.data(), plan.head.size())) {
        return false;
    }
    for (const SectionBlob& blob : plan.blobs) {
        if (!out.PadTo(start + blob.offset)) {
            return false;
        }
        bool copied = blob.data.update != nullptr ? out.CopyUpdate(*blob.data.update, blob.data.size)
                                                  : out.Copy(source, blob.data.fileOffset, blob.data.size);
        if (!copied) {
            return false;
        }
    }
    return out.PadTo(start + plan.size);
}

bool WriteAll(Output& out, FileSource& source, const Image& image, const Placement& p, const SectionPlan& plan,
              const std::vector<std::uint8_t>& headers) {
    if (!out.Write(headers.data(), headers.size()) || !out.Copy(source, headers.size(), p.keepUntil - headers.size()) ||
        !out.PadTo(p.sectionPointer) || !WriteSection(out, source, plan, p.sectionPointer) ||
        !out.PadTo(AlignUp(out.Position(), image.fileAlignment))) {
        return false;
    }
    if (p.relocs) {
        const Section& reloc = image.sections[*p.relocs];
        if (!out.Copy(source, reloc.pointerToRawData, reloc.sizeOfRawData) || !out.PadTo(p.newOverlayStart)) {
            return false;
        }
    }
    if (!out.PadTo(p.newOverlayStart) || !out.Copy(source, p.overlayStart, image.fileSize - p.overlayStart)) {
        return false;
    }
    return out.Flush() && (image.checkSum == 0 || out.Patch(image.CheckSumOffset(), out.CheckSum()));
}

} // namespace

bool WriteWithResources(FileSource& source, const Image& image, const ResourceTree& tree, platform::File& target,
                        Error& error) {
    if (!CheckTreeLimits(tree, error)) {
        return false;
    }
    std::uint64_t size = PlanSection(tree, 0).size;
    if (size >= kMaxSection) {
        error = Refusal("The resources would need a section of 2 GB or more.");
        return false;
    }
    std::vector<std::uint8_t> headers(image.sizeOfHeaders);
    Placement placement;
    if (!source.ReadAt(0, headers.data(), headers.size())) {
        error = SystemError(ErrorCode::CannotRead, {}, "The executable could not be read.");
        return false;
    }
    if (!Place(image, headers, size, placement, error)) {
        return false;
    }
    PatchHeaders(image, placement, size, headers);
    SectionPlan plan = PlanSection(tree, placement.sectionRva);
    Output out(target);
    if (!WriteAll(out, source, image, placement, plan, headers)) {
        error = source.ReadFailure() ? source.ReadFailure()
                : out.ReadFailure()  ? out.ReadFailure()
                                     : SystemError(ErrorCode::CannotWrite, {},
                                                   "The new executable could not be written (a disk full, or a "
                                                    "resource file that changed?).");
        return false;
    }
    return true;
}

} // namespace pe
