// Parsing and checking the headers of an executable. Every later offset the resource code uses is
// derived from fields checked here, so the checks are strict: a file that a linker would not
// produce is refused rather than guessed at.
#include "package/pe_image.h"

#include <algorithm>
#include <cstring>

namespace pe {
namespace {

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool ReadDosAndPeHeaders(ByteSource& source, Image& image, std::uint16_t& sectionCount, std::uint16_t& optionalSize,
                         Error& error) {
    std::uint8_t dos[64];
    if (!source.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        error = Malformed("The file is not a Windows executable (no MZ header).");
        return false;
    }
    image.peOffset = Le32(dos + 0x3C);
    std::uint8_t pe[24];
    if (image.peOffset % 4 != 0 || !source.ReadAt(image.peOffset, pe, sizeof pe)) {
        error = Malformed("The executable's PE header offset lies outside the file.");
        return false;
    }
    if (std::memcmp(pe, "PE\0\0", 4) != 0) {
        error = Malformed("The file is not a Windows PE executable (no PE signature).");
        return false;
    }
    sectionCount = Le16(pe + 6);
    image.pointerToSymbolTable = Le32(pe + 12);
    optionalSize = Le16(pe + 20);
    image.optionalHeaderOffset = image.peOffset + 24ull;
    return true;
}

bool ReadOptionalHeader(ByteSource& source, Image& image, std::uint16_t optionalSize, Error& error) {
    std::vector<std::uint8_t> opt(optionalSize);
    std::uint16_t magic = 0;
    if (optionalSize < 2 || !source.ReadAt(image.optionalHeaderOffset, opt.data(), opt.size())) {
        error = Malformed("The executable's optional header is truncated.");
        return false;
    }
    magic = Le16(opt.data());
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        error = Malformed("The executable's optional header has an unknown format.");
        return false;
    }
    image.pe32Plus = magic == kMagicPe32Plus;
    std::size_t countAt = image.pe32Plus ? 108 : 92;
    std::size_t dirsAt = countAt + 4;
    if (opt.size() < dirsAt) {
        error = Malformed("The executable's optional header is truncated.");
        return false;
    }
    std::uint32_t count = Le32(opt.data() + countAt);
    if (count < 3 || count > 16 || opt.size() < dirsAt + 8ull * count) {
        error = Malformed("The executable's data directory count is invalid.");
        return false;
    }
    image.sectionAlignment = Le32(opt.data() + 32);
    image.fileAlignment = Le32(opt.data() + 36);
    image.sizeOfHeaders = Le32(opt.data() + 60);
    image.checkSum = Le32(opt.data() + 64);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* d = opt.data() + dirsAt + 8 * i;
        image.directories.push_back({Le32(d), Le32(d + 4)});
    }
    if (!IsPowerOfTwo(image.sectionAlignment) || !IsPowerOfTwo(image.fileAlignment) ||
        image.sectionAlignment < image.fileAlignment) {
        error = Malformed("The executable's section or file alignment is invalid.");
        return false;
    }
    return true;
}

bool ReadSectionTable(ByteSource& source, Image& image, std::uint16_t count, Error& error) {
    if (count < 1 || count > kMaxSections) {
        error = Malformed("The executable's section count is invalid.");
        return false;
    }
    std::uint64_t tableSize = std::uint64_t{count} * kSectionHeaderSize;
    std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize));
    if (image.sectionTableOffset + tableSize > image.sizeOfHeaders || image.sizeOfHeaders > image.fileSize ||
        !source.ReadAt(image.sectionTableOffset, table.data(), table.size())) {
        error = Malformed("The executable's section table lies outside its headers.");
        return false;
    }
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* h = table.data() + i * kSectionHeaderSize;
        Section s;
        std::memcpy(s.name, h, 8);
        s.virtualSize = Le32(h + 8);
        s.virtualAddress = Le32(h + 12);
        s.sizeOfRawData = Le32(h + 16);
        s.pointerToRawData = Le32(h + 20);
        s.characteristics = Le32(h + 36);
        image.sections.push_back(s);
    }
    return true;
}

bool CheckSections(const Image& image, Error& error) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> raw;
    std::uint64_t previousEnd = 0;
    for (const Section& s : image.sections) {
        if (s.virtualAddress < previousEnd) {
            error = Malformed("The executable's sections overlap or are out of order in memory.");
            return false;
        }
        previousEnd = std::uint64_t{s.virtualAddress} + s.VirtualSpan();
        if (previousEnd > 0xFFFFFFFFull) {
            error = Malformed("A section of the executable reaches beyond the 4 GB address space.");
            return false;
        }
        if (s.sizeOfRawData == 0) {
            continue;
        }
        if (!RangeInside(s.pointerToRawData, s.sizeOfRawData, image.fileSize) ||
            s.pointerToRawData < image.sizeOfHeaders) {
            error = Malformed("A section's data lies outside the executable file (is it truncated?).");
            return false;
        }
        // The loader rounds an unaligned start down, and section data that moves during an update
        // is placed by the alignment: an unaligned start would leave the headers pointing beside it.
        if (s.pointerToRawData % image.fileAlignment != 0) {
            error = Malformed("A section's data does not start at a multiple of the executable's file alignment.");
            return false;
        }
        raw.emplace_back(s.pointerToRawData, std::uint64_t{s.pointerToRawData} + s.sizeOfRawData);
    }
    std::sort(raw.begin(), raw.end());
    for (std::size_t i = 1; i < raw.size(); ++i) {
        if (raw[i].first < raw[i - 1].second) {
            error = Malformed("The executable's sections overlap in the file.");
            return false;
        }
    }
    return true;
}

} // namespace

std::uint32_t Section::FileBackedSize() const {
    return virtualSize != 0 ? std::min(virtualSize, sizeOfRawData) : sizeOfRawData;
}

std::uint64_t Image::EndOfSectionData() const {
    std::uint64_t end = sizeOfHeaders;
    for (const Section& s : sections) {
        if (s.sizeOfRawData != 0) {
            end = std::max<std::uint64_t>(end, std::uint64_t{s.pointerToRawData} + s.sizeOfRawData);
        }
    }
    return end;
}

int Image::SectionContaining(std::uint32_t rva) const {
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.VirtualSpan()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Image::RvaToOffset(std::uint32_t rva, std::uint32_t size, std::uint64_t& offset) const {
    // Checked against every section, not just the one containing `rva`: empty data may sit
    // right at a section's end.
    for (const Section& s : sections) {
        if (rva >= s.virtualAddress && RangeInside(rva - s.virtualAddress, size, s.FileBackedSize())) {
            offset = std::uint64_t{s.pointerToRawData} + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

bool ParseImage(ByteSource& source, Image& image, Error& error) {
    image = Image{};
    image.fileSize = source.Size();
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    if (!ReadDosAndPeHeaders(source, image, sectionCount, optionalSize, error) ||
        !ReadOptionalHeader(source, image, optionalSize, error)) {
        return false;
    }
    image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
    return ReadSectionTable(source, image, sectionCount, error) && CheckSections(image, error);
}

} // namespace pe
