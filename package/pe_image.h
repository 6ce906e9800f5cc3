// The headers of a PE32 or PE32+ executable as far as the resource editor needs them: where the
// fields it rewrites lie, the section table, and the checks that make every later read safe.
#pragma once

#include "package/pe_source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

inline constexpr std::uint32_t kDirectoryResources = 2;
inline constexpr std::uint32_t kDirectoryCertificates = 4;
inline constexpr std::uint32_t kDirectoryRelocations = 5;
inline constexpr std::uint32_t kSectionHeaderSize = 40;

// Bounds the readers keep to, so that a hostile file cannot make them loop or allocate without
// end. The writers keep to the same ones: an executable we write must read back with our own
// `info` and `verify`.
inline constexpr std::uint32_t kMaxSections = 96;
inline constexpr std::uint32_t kMaxEntriesPerDirectory = 4096;
// Directories may share bytes and leaves may share data entries, so a small section could
// otherwise describe millions of resources; no real executable comes near this.
inline constexpr std::uint32_t kMaxEntriesInTree = 65536;
// A version resource's blocks, counted from its root, and how deep they may nest.
inline constexpr std::size_t kMaxVersionBlocks = 4096;
inline constexpr int kMaxVersionDepth = 8;
inline constexpr std::uint32_t kScnInitializedData = 0x00000040;
inline constexpr std::uint32_t kScnMemRead = 0x40000000;

struct Section {
    char name[8] = {};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;

    // The bytes of the section that come from the file: the loader maps no more than the raw
    // size, and nothing past the virtual size.
    std::uint32_t FileBackedSize() const;
    // How far the section reaches in memory.
    std::uint32_t VirtualSpan() const { return virtualSize != 0 ? virtualSize : sizeOfRawData; }
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct Image {
    std::uint64_t fileSize = 0;
    std::uint32_t peOffset = 0;
    bool pe32Plus = false;
    std::uint64_t optionalHeaderOffset = 0;
    std::uint64_t sectionTableOffset = 0;
    std::uint32_t pointerToSymbolTable = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t checkSum = 0;
    std::vector<DataDirectory> directories;
    std::vector<Section> sections;

    // Field offsets inside the file, for patching the headers.
    std::uint64_t NumberOfSectionsOffset() const { return peOffset + 6u; }
    std::uint64_t PointerToSymbolTableOffset() const { return peOffset + 12u; }
    std::uint64_t SizeOfInitializedDataOffset() const { return optionalHeaderOffset + 8; }
    std::uint64_t SizeOfImageOffset() const { return optionalHeaderOffset + 56; }
    std::uint64_t SizeOfHeadersOffset() const { return optionalHeaderOffset + 60; }
    std::uint64_t CheckSumOffset() const { return optionalHeaderOffset + 64; }
    std::uint64_t DirectoryOffset(std::uint32_t index) const {
        return optionalHeaderOffset + (pe32Plus ? 112 : 96) + 8ull * index;
    }

    DataDirectory Directory(std::uint32_t index) const {
        return index < directories.size() ? directories[index] : DataDirectory{};
    }
    // The end of the last section's raw data: what lies beyond is an overlay.
    std::uint64_t EndOfSectionData() const;
    // Maps [rva, rva + size) to a file offset when it lies wholly inside one section's
    // file-backed bytes.
    bool RvaToOffset(std::uint32_t rva, std::uint32_t size, std::uint64_t& offset) const;
    // The section holding `rva`, or -1.
    int SectionContaining(std::uint32_t rva) const;
};

// Reads and checks the headers and section table. Refuses anything the editor could not handle
// safely, with a sentence saying why.
bool ParseImage(ByteSource& source, Image& image, Error& error);

} // namespace pe
