// Malformed executables are refused with a message and never read past: truncated at every
// length, with broken headers, looping or oversized directories, and with data outside the file.
// The native build runs these under AddressSanitizer, which turns any stray read into a failure.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/pe_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

using namespace pe_test;
using pe::ResourceKey;
using testing_support::Bytes;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

const ResourceKey kRcData = ResourceKey::Id(10);

// Reads through memory, and through a file both for listing and for updating; answers the
// message when all three refuse, and fails the test when any of them accepts.
std::string Refusal(const Bytes& file) {
    Error error;
    Bytes data;
    bool read = pe::ReadResourceFromImage(file, kRcData, ResourceKey::Name(u"A"), {}, data, error);
    EXPECT_FALSE(read);
    EXPECT_FALSE(error.message.empty());
    std::string message = error.message;

    TempDir dir;
    std::u16string path = dir.File(u"bad.exe");
    testing_support::WriteBytes(path, file);
    std::vector<pe::ResourceInfo> infos;
    error = {};
    EXPECT_FALSE(pe::ListResources(path, infos, error));
    EXPECT_FALSE(error.message.empty());
    pe::ResourceUpdate u{kRcData, ResourceKey::Id(1), 1033, {}};
    u.data.bytes = {1, 2, 3};
    error = {};
    EXPECT_FALSE(pe::UpdateResources(path, {u}, error));
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(ReadBytes(path), file) << "a refused file is left as it was";
    return message;
}

struct Sample {
    Bytes file;
    Headers h;
    std::vector<Directory> dirs;
};

Sample Load(const std::string& name) {
    Sample s;
    s.file = ReadBytes(SamplePath(name));
    s.h = ReadHeaders(s.file);
    s.dirs = WalkDirectories(s.file);
    return s;
}

// Every proper prefix of a sample is refused: its last section always reaches the file's end.
TEST(PeMalformed, TruncatedAtEveryLength) {
    for (const char* bits : kBits) {
        Bytes file = ReadBytes(SamplePath(std::string("rsrc-reloc") + bits + ".exe"));
        for (std::size_t length = 0; length < file.size(); ++length) {
            Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
            Error error;
            Bytes data;
            ASSERT_FALSE(pe::ReadResourceFromImage(cut, kRcData, ResourceKey::Name(u"A"), {}, data, error))
                << bits << " bits, cut at " << length;
            ASSERT_FALSE(error.message.empty());
        }
    }
}

// The same at each header boundary, through files and the editor too.
TEST(PeMalformed, TruncatedAtHeaderBoundaries) {
    Sample s = Load("rsrc-reloc32.exe");
    std::vector<std::size_t> cuts = {0,
                                     2,
                                     0x40,
                                     s.h.peOffset,
                                     s.h.peOffset + 4,
                                     s.h.optionalOffset,
                                     s.h.DirectoryAt(2),
                                     s.h.sectionTable,
                                     s.h.sectionTable + 40,
                                     s.h.sizeOfHeaders,
                                     s.dirs.front().offset + 8,
                                     s.dirs.back().offset + 16};
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        Refusal(Bytes(s.file.begin(), s.file.begin() + static_cast<std::ptrdiff_t>(cut)));
    }
}

TEST(PeMalformed, BrokenHeaders) {
    Sample s = Load("rsrc-reloc64.exe");
    const std::size_t opt = s.h.optionalOffset;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"no MZ", [](Bytes& f) { f[1] = 'X'; }, "MZ"},
        {"PE offset past the end", [](Bytes& f) { PutU32(f, 0x3C, 0xFFFFFFF0u); }, "outside"},
        {"PE offset unaligned", [&](Bytes& f) { PutU32(f, 0x3C, s.h.peOffset + 2); }, "outside"},
        {"no PE signature", [&](Bytes& f) { f[s.h.peOffset + 1] = 'X'; }, "signature"},
        {"unknown magic", [&](Bytes& f) { PutU16(f, opt, 0x107); }, "unknown format"},
        {"PE32 magic on a PE32+ header", [&](Bytes& f) { PutU16(f, opt, 0x10B); }, ""},
        {"two data directories", [&](Bytes& f) { PutU32(f, opt + 108, 2); }, "directory count"},
        {"seventeen data directories", [&](Bytes& f) { PutU32(f, opt + 108, 17); }, "directory count"},
        {"optional header too small", [&](Bytes& f) { PutU16(f, s.h.peOffset + 20, 100); }, "truncated"},
        {"no sections", [&](Bytes& f) { PutU16(f, s.h.peOffset + 6, 0); }, "section count"},
        {"97 sections", [&](Bytes& f) { PutU16(f, s.h.peOffset + 6, 97); }, ""},
        {"file alignment 0", [&](Bytes& f) { PutU32(f, opt + 36, 0); }, "alignment"},
        {"file alignment 0x300", [&](Bytes& f) { PutU32(f, opt + 36, 0x300); }, "alignment"},
        {"section alignment below file alignment", [&](Bytes& f) { PutU32(f, opt + 32, 0x100); }, "alignment"},
        {"headers smaller than the section table", [&](Bytes& f) { PutU32(f, opt + 60, 0x100); }, "section table"},
        {"section data past the end", [&](Bytes& f) { PutU32(f, s.h.sectionTable + 16, 0x7FFFF000); }, "outside"},
        {"sections overlapping in the file",
         [&](Bytes& f) { PutU32(f, s.h.sectionTable + 40 + 20, s.h.sections[0].pointerToRawData); }, "overlap"},
        {"sections out of order in memory",
         [&](Bytes& f) { PutU32(f, s.h.sectionTable + 40 + 12, s.h.sections[0].virtualAddress); }, "order"},
        {"resource directory outside every section", [&](Bytes& f) { PutU32(f, s.h.DirectoryAt(2), 0x7FFF0000); },
         "outside"},
        // The last section's data moved off the alignment (shortened so it still ends in the file):
        // an update would move it by the alignment and leave its header pointing beside it.
        {"section data off the file alignment",
         [&](Bytes& f) {
             std::size_t last = s.h.sectionTable + 40 * (s.h.sections.size() - 1);
             PutU32(f, last + 20, s.h.sections.back().pointerToRawData + 0x10);
             PutU32(f, last + 16, s.h.sections.back().sizeOfRawData - 0x10);
         },
         "file alignment"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = s.file;
        c.damage(file);
        EXPECT_NE(Refusal(file).find(c.message), std::string::npos) << Refusal(file);
    }
}

// Entries that lead back to a directory already walked end the walk instead of looping.
TEST(PeMalformed, DirectoriesThatLoop) {
    Sample s = Load("rsrc-last32.exe");
    const std::size_t base = s.dirs.front().offset;
    const Directory& root = s.dirs.front();
    const Directory& type = s.dirs[1];
    const Directory& name = s.dirs[2];
    auto subdirectory = [&](std::size_t offset) { return 0x80000000u | static_cast<std::uint32_t>(offset - base); };
    const std::pair<std::size_t, std::uint32_t> loops[] = {
        {root.entryOffsets[0] + 4, subdirectory(root.offset)}, // the root's type is the root
        {type.entryOffsets[0] + 4, subdirectory(root.offset)}, // a name directory is the root
        {type.entryOffsets[0] + 4, subdirectory(type.offset)}, // a name directory is itself
        {root.entryOffsets[1] + 4, subdirectory(type.offset)}, // two types share a directory
        {name.entryOffsets[0] + 4, subdirectory(name.offset)}, // a fourth level
    };
    for (const auto& [at, value] : loops) {
        Bytes file = s.file;
        PutU32(file, at, value);
        std::string message = Refusal(file);
        EXPECT_TRUE(message.find("loop") != std::string::npos || message.find("three levels") != std::string::npos)
            << message;
    }
}

TEST(PeMalformed, DirectoryContents) {
    Sample s = Load("rsrc-last64.exe");
    const std::size_t base = s.dirs.front().offset;
    const Directory& root = s.dirs.front();
    const Directory& type = s.dirs[1];
    const Directory& language = s.dirs[2];
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"absurd entry count", [&](Bytes& f) { PutU16(f, root.offset + 14, 0xFFFF); }, "absurd"},
        {"entries past the section", [&](Bytes& f) { PutU16(f, root.offset + 14, 4000); }, "outside"},
        {"named count too large", [&](Bytes& f) { PutU16(f, root.offset + 12, 2); }, "named-entry count"},
        {"named count too small", [&](Bytes& f) { PutU16(f, root.offset + 12, 0); }, "named-entry count"},
        {"name past the section", [&](Bytes& f) { PutU32(f, root.entryOffsets[0], 0xFFFFFFF0u); }, "outside"},
        {"name longer than the section", [&](Bytes& f) { PutU16(f, root.nameOffsets[0], 0xFFFF); }, "outside"},
        {"empty name", [&](Bytes& f) { PutU16(f, root.nameOffsets[0], 0); }, "empty name"},
        {"id above 65535", [&](Bytes& f) { PutU32(f, root.entryOffsets[1], 0x10002); }, "65535"},
        {"language given as a name", [&](Bytes& f) { PutU16(f, language.offset + 12, 1); }, ""},
        {"data entry where a directory belongs",
         [&](Bytes& f) { PutU32(f, type.entryOffsets[0] + 4, U32(f, language.entryOffsets[0] + 4)); }, "three levels"},
        {"subdirectory past the section", [&](Bytes& f) { PutU32(f, root.entryOffsets[0] + 4, 0xFFFFFFF0u); },
         "outside"},
        {"data entry past the section", [&](Bytes& f) { PutU32(f, language.entryOffsets[0] + 4, 0x7FFFFFF0u); },
         "outside"},
        {"data outside the file's sections (packed)",
         [&](Bytes& f) { PutU32(f, base + U32(f, language.entryOffsets[0] + 4), 0x7FFF0000u); }, "packed"},
        {"data running past its section",
         [&](Bytes& f) { PutU32(f, U32(f, language.entryOffsets[0] + 4) + base + 4, 0x100000); }, "packed"},
        {"the same type twice", [&](Bytes& f) { PutU32(f, root.entryOffsets[2], U32(f, root.entryOffsets[1])); },
         "twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = s.file;
        c.damage(file);
        EXPECT_NE(Refusal(file).find(c.message), std::string::npos) << Refusal(file);
    }
}

// Random damage to the headers and the tree never crashes or reads past the file; whatever is
// still accepted reads back and updates consistently.
TEST(PeMalformed, RandomDamage) {
    std::mt19937 random(20240611);
    for (const char* name : {"rsrc-reloc32.exe", "rsrc-last64.exe"}) {
        Sample s = Load(name);
        std::size_t treeEnd = s.dirs.front().offset + 0x418;
        TempDir dir;
        std::u16string path = dir.File(u"damaged.exe");
        for (int round = 0; round < 300; ++round) {
            Bytes file = s.file;
            for (int k = 0; k < 4; ++k) {
                std::size_t at = random() % 2 ? random() % s.h.sizeOfHeaders
                                              : s.dirs.front().offset + random() % (treeEnd - s.dirs.front().offset);
                file[at] = static_cast<std::uint8_t>(random());
            }
            testing_support::WriteBytes(path, file);
            std::vector<pe::ResourceInfo> infos;
            Error error;
            if (!pe::ListResources(path, infos, error)) {
                EXPECT_FALSE(error.message.empty());
                continue;
            }
            for (const pe::ResourceInfo& info : infos) {
                Bytes data;
                EXPECT_TRUE(pe::ReadResourceFromImage(file, info.type, info.name, info.language, data, error));
                EXPECT_EQ(data.size(), info.size);
            }
            pe::ResourceUpdate u{kRcData, ResourceKey::Name(u"NEW"), 1033, {}};
            u.data.bytes = {1, 2, 3};
            if (pe::UpdateResources(path, {u}, error)) {
                Bytes back;
                EXPECT_TRUE(pe::ReadResource(path, kRcData, ResourceKey::Name(u"NEW"), 1033, back, error));
                EXPECT_EQ(back, u.data.bytes);
            }
        }
    }
}

// What our own reader would refuse is never written: a section of 2 GB or more, which cannot be
// described, and directories longer than the reader takes. Refused before anything is written.
TEST(PeMalformed, WhatTheReaderWouldRefuseIsNotWritten) {
    TempDir dir;
    std::u16string path = CopySample(dir, "rsrc-last32.exe");
    std::u16string big = dir.File(u"big.bin");
    testing_support::MakeSparseFile(big, 0x80000000ull);
    Bytes before = ReadBytes(path);
    pe::ResourceUpdate u{kRcData, ResourceKey::Id(1), 1033, {}};
    u.data.path = big;
    u.data.length = 0x80000000ull;
    Error error;
    EXPECT_FALSE(pe::UpdateResources(path, {u}, error));
    EXPECT_NE(error.message.find("2 GB"), std::string::npos);
    u.data.length = 0x7FFFFFF0ull;
    pe::ResourceUpdate second = u;
    second.name = ResourceKey::Id(2);
    second.data.length = 0x100;
    EXPECT_FALSE(pe::UpdateResources(path, {u, second}, error));
    EXPECT_NE(error.message.find("2 GB"), std::string::npos);
    EXPECT_EQ(ReadBytes(path), before);

    auto many = [](std::size_t types, std::size_t names) {
        std::vector<pe::ResourceUpdate> updates;
        for (std::size_t t = 0; t < types; ++t) {
            for (std::size_t n = 1; n <= names; ++n) {
                updates.push_back({ResourceKey::Id(static_cast<std::uint16_t>(100 + t)),
                                   ResourceKey::Id(static_cast<std::uint16_t>(n)),
                                   1033,
                                   {}});
                updates.back().data.bytes = {1};
            }
        }
        return updates;
    };
    error = {};
    EXPECT_FALSE(pe::UpdateResources(path, many(1, 4097), error));
    EXPECT_EQ(error.message, "The executable would list 4097 resources of type 100; one resource directory holds at "
                             "most 4096 entries.");
    // Sixteen types of 2,048 each, their languages counted too: more than the whole tree may hold.
    error = {};
    EXPECT_FALSE(pe::UpdateResources(path, many(16, 2048), error));
    EXPECT_NE(error.message.find("resource entries; at most 65536"), std::string::npos) << error.message;
    EXPECT_EQ(ReadBytes(path), before);
    // Up to the line, the tree is written and reads back.
    ASSERT_TRUE(pe::UpdateResources(path, many(1, 4096), error)) << error.message;
    std::vector<pe::ResourceInfo> infos;
    ASSERT_TRUE(pe::ListResources(path, infos, error)) << error.message;
    EXPECT_GE(infos.size(), 4096u);
}

} // namespace
