// Helpers for the PE resource tests (see pe_test_support.h).
#include "tests/pe_test_support.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pe_test {

std::u16string SamplePath(const std::string& name) {
    return platform::ToUtf16(std::string(TARVELO_PE_SAMPLES) + "/" + name);
}

std::u16string CopySample(const testing_support::TempDir& dir, const std::string& name) {
    std::u16string path = dir.File(platform::ToUtf16(name));
    testing_support::WriteBytes(path, testing_support::ReadBytes(SamplePath(name)));
    return path;
}

std::vector<Resource> ReadAll(const std::u16string& path) {
    std::vector<pe::ResourceInfo> infos;
    Error error;
    EXPECT_TRUE(pe::ListResources(path, infos, error)) << error.message;
    std::vector<Resource> all;
    for (const pe::ResourceInfo& info : infos) {
        Resource r{info, {}};
        EXPECT_TRUE(pe::ReadResource(path, info.type, info.name, info.language, r.bytes, error)) << error.message;
        EXPECT_EQ(r.bytes.size(), info.size);
        all.push_back(std::move(r));
    }
    return all;
}

std::uint32_t U32(const Bytes& file, std::size_t offset) { return testing_support::ReadU32(file, offset); }
std::uint16_t U16(const Bytes& file, std::size_t offset) {
    return static_cast<std::uint16_t>(file.at(offset) | (file.at(offset + 1) << 8));
}
void PutU32(Bytes& file, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        file.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}
void PutU16(Bytes& file, std::size_t offset, std::uint16_t value) {
    file.at(offset) = static_cast<std::uint8_t>(value);
    file.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

Headers ReadHeaders(const Bytes& file) {
    Headers h;
    h.peOffset = U32(file, 0x3C);
    h.optionalOffset = h.peOffset + 24;
    h.pe32Plus = U16(file, h.optionalOffset) == 0x20B;
    h.sectionAlignment = U32(file, h.optionalOffset + 32);
    h.fileAlignment = U32(file, h.optionalOffset + 36);
    h.sizeOfInitializedData = U32(file, h.optionalOffset + 8);
    h.sizeOfImage = U32(file, h.optionalOffset + 56);
    h.sizeOfHeaders = U32(file, h.optionalOffset + 60);
    h.checkSum = U32(file, h.optionalOffset + 64);
    h.sectionTable = h.optionalOffset + U16(file, h.peOffset + 20);
    for (std::uint32_t i = 0; i < U16(file, h.peOffset + 6); ++i) {
        std::size_t at = h.sectionTable + 40 * i;
        std::string name(reinterpret_cast<const char*>(&file.at(at)), 8);
        name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
        h.sections.push_back(
            {name, U32(file, at + 8), U32(file, at + 12), U32(file, at + 16), U32(file, at + 20), U32(file, at + 36)});
    }
    return h;
}

std::size_t FileOffsetOf(const Headers& h, std::uint32_t rva) {
    for (const SectionHeader& s : h.sections) {
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.sizeOfRawData) {
            return s.pointerToRawData + (rva - s.virtualAddress);
        }
    }
    ADD_FAILURE() << "address " << rva << " is in no section";
    return 0;
}

std::uint32_t ImageCheckSum(const Bytes& file, const Headers& h) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        std::uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        if (i == h.optionalOffset + 64 || i == h.optionalOffset + 66) {
            word = 0;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + file.size());
}

namespace {

void Walk(const Bytes& file, std::size_t base, std::uint32_t offset, int level, std::vector<Directory>& out) {
    Directory d;
    d.offset = base + offset;
    d.level = level;
    d.major = U16(file, d.offset + 8);
    d.minor = U16(file, d.offset + 10);
    d.named = U16(file, d.offset + 12);
    d.ids = U16(file, d.offset + 14);
    std::vector<std::uint32_t> children;
    for (std::size_t i = 0; i < std::size_t{d.named} + d.ids; ++i) {
        std::size_t entry = d.offset + 16 + 8 * i;
        std::uint32_t key = U32(file, entry);
        std::uint32_t target = U32(file, entry + 4);
        d.entryOffsets.push_back(entry);
        if (key & 0x80000000u) {
            std::size_t at = base + (key & 0x7FFFFFFF);
            std::u16string name;
            for (std::size_t k = 0; k < U16(file, at); ++k) {
                name += static_cast<char16_t>(U16(file, at + 2 + 2 * k));
            }
            d.names.push_back(name);
            d.nameOffsets.push_back(at);
        } else {
            d.idKeys.push_back(key);
        }
        if (level == 2) {
            d.dataRvas.push_back(U32(file, base + target));
        } else {
            children.push_back(target & 0x7FFFFFFF);
        }
    }
    out.push_back(d);
    for (std::uint32_t child : children) {
        Walk(file, base, child, level + 1, out);
    }
}

} // namespace

std::vector<Directory> WalkDirectories(const Bytes& file) {
    Headers h = ReadHeaders(file);
    std::uint32_t rva = U32(file, h.DirectoryAt(2));
    std::vector<Directory> out;
    if (rva != 0) {
        Walk(file, FileOffsetOf(h, rva), 0, 0, out);
    }
    return out;
}

void WritePatternFile(const std::u16string& path, std::uint64_t size) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    Bytes chunk = testing_support::Pattern(251 * 4096);
    for (std::uint64_t done = 0; done < size; done += chunk.size()) {
        auto part = static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), size - done));
        out.write(reinterpret_cast<const char*>(chunk.data()), part);
    }
    ASSERT_TRUE(out.good());
}

} // namespace pe_test
