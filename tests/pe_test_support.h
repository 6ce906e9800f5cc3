// Helpers for the PE resource tests: the sample executables, reading every resource of a file,
// and a small header and directory reader written independently of the editor, so that the tests
// check the editor's output against the format rather than against itself.
#pragma once

#include "package/pe_resources.h"
#include "tests/test_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pe_test {

using testing_support::Bytes;

// A sample from tests/data/pe, e.g. "rsrc-reloc64.exe".
std::u16string SamplePath(const std::string& name);
// A private copy of a sample, to be patched.
std::u16string CopySample(const testing_support::TempDir& dir, const std::string& name);

// The bit widths the samples come in, as the file-name suffix.
inline const char* const kBits[] = {"32", "64"};

struct Resource {
    pe::ResourceInfo info;
    Bytes bytes;
    bool operator==(const Resource& o) const {
        return info.type == o.info.type && info.name == o.info.name && info.language == o.info.language &&
               info.codePage == o.info.codePage && bytes == o.bytes;
    }
};
// Every resource of the file with its bytes, in directory order; fails the test on an error.
std::vector<Resource> ReadAll(const std::u16string& path);

// Section and directory fields read straight from the bytes.
struct SectionHeader {
    std::string name;
    std::uint32_t virtualSize, virtualAddress, sizeOfRawData, pointerToRawData, characteristics;
};
struct Headers {
    std::uint32_t peOffset = 0;
    std::uint32_t optionalOffset = 0;
    bool pe32Plus = false;
    std::uint32_t sectionTable = 0;
    std::uint32_t sizeOfImage = 0, sizeOfHeaders = 0, checkSum = 0, sizeOfInitializedData = 0;
    std::uint32_t sectionAlignment = 0, fileAlignment = 0;
    std::vector<SectionHeader> sections;
    std::uint32_t DirectoryAt(std::uint32_t index) const { return optionalOffset + (pe32Plus ? 112 : 96) + 8 * index; }
};
Headers ReadHeaders(const Bytes& file);
std::uint32_t U32(const Bytes& file, std::size_t offset);
std::uint16_t U16(const Bytes& file, std::size_t offset);
void PutU32(Bytes& file, std::size_t offset, std::uint32_t value);
void PutU16(Bytes& file, std::size_t offset, std::uint16_t value);
// The file offset of an address, through the section table.
std::size_t FileOffsetOf(const Headers& h, std::uint32_t rva);
// The standard image checksum of the file as it is (its own field read as 0).
std::uint32_t ImageCheckSum(const Bytes& file, const Headers& h);

// One resource directory as found in the bytes, with file offsets of what the tests patch.
struct Directory {
    std::size_t offset = 0; // in the file
    int level = 0;
    std::uint16_t named = 0, ids = 0;
    std::uint16_t major = 0, minor = 0;
    std::vector<std::u16string> names;     // text keys, in order
    std::vector<std::uint32_t> idKeys;     // number keys, in order
    std::vector<std::size_t> nameOffsets;  // file offsets of the text keys' length words
    std::vector<std::size_t> entryOffsets; // file offsets of the 8-byte entries
    std::vector<std::uint32_t> dataRvas;   // for the language level: the data entries' addresses
};
// Walks the tree that data directory 2 points to (the file must be sound).
std::vector<Directory> WalkDirectories(const Bytes& file);

void WritePatternFile(const std::u16string& path, std::uint64_t size);

} // namespace pe_test
