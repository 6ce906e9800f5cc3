// The resource editor's behaviour seen through its interface: reading the samples, rewriting
// without loss, the loader's name and language order, replacing, odd sizes, data taken from files,
// and a large resource streamed without memory growing with it.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/pe_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

using namespace pe_test;
using pe::ResourceKey;
using testing_support::Bytes;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

const ResourceKey kRcData = ResourceKey::Id(10);

pe::ResourceUpdate Update(ResourceKey type, ResourceKey name, Bytes bytes, std::uint16_t language = 1033) {
    pe::ResourceUpdate u{std::move(type), std::move(name), language, {}};
    u.data.bytes = std::move(bytes);
    return u;
}

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

void Apply(const std::u16string& path, const std::vector<pe::ResourceUpdate>& updates) {
    Error error;
    ASSERT_TRUE(pe::UpdateResources(path, updates, error)) << error.message;
}

Bytes Read(const std::u16string& path, const ResourceKey& type, const ResourceKey& name,
           std::optional<std::uint16_t> language = std::nullopt) {
    Bytes data;
    Error error;
    EXPECT_TRUE(pe::ReadResource(path, type, name, language, data, error)) << error.message;
    return data;
}

// The resources the sample script compiles into every sample that has resources.
TEST(PeRead, SampleResourcesAsCompiled) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        std::u16string path = SamplePath(std::string("rsrc-reloc") + bits + ".exe");
        std::vector<Resource> all = ReadAll(path);
        ASSERT_EQ(all.size(), 16u);
        EXPECT_EQ(all.front().info.type, ResourceKey::Name(u"RT_RCDATA"));
        EXPECT_EQ(Read(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Id(7)), Text("text type RT_RCDATA"));
        EXPECT_EQ(Read(path, kRcData, ResourceKey::Name(u"A_B")), Text("a_b"));
        EXPECT_EQ(Read(path, kRcData, ResourceKey::Name(u"a_b")), Text("a_b")) << "names are looked up upper-cased";
        EXPECT_EQ(Read(path, kRcData, ResourceKey::Id(300)), Text("neutral"));
        EXPECT_EQ(Read(path, kRcData, ResourceKey::Id(300), 1031), Text("german"));
        EXPECT_EQ(Read(path, ResourceKey::Id(16), ResourceKey::Name(u"#1")).size(), 340u) << "#1 is id 1";
        EXPECT_EQ(Read(path, ResourceKey::Id(2), ResourceKey::Id(251)).size(), 88u);

        Bytes data;
        Error error;
        EXPECT_FALSE(pe::ReadResource(path, kRcData, ResourceKey::Name(u"AB"), 1031, data, error));
        EXPECT_FALSE(error.message.empty());
        EXPECT_FALSE(pe::ReadResource(path, kRcData, ResourceKey::Name(u"#70000"), {}, data, error));

        Bytes image = ReadBytes(path);
        ASSERT_TRUE(pe::ReadResourceFromImage(image, kRcData, ResourceKey::Name(u"Z"), {}, data, error));
        EXPECT_EQ(data, Text("z"));
    }
}

// Rewriting a sample with nothing changed gives the linker's own bytes back, but for the
// directory version the platform writes (4.0) and the checksum that covers it; rewriting once
// more changes nothing at all.
TEST(PeRoundTrip, RewriteKeepsEveryByte) {
    for (const char* layout : {"rsrc-reloc", "rsrc-last", "overlay"}) {
        for (const char* bits : kBits) {
            SCOPED_TRACE(std::string(layout) + bits);
            TempDir dir;
            std::u16string path = CopySample(dir, std::string(layout) + bits + ".exe");
            Bytes before = ReadBytes(path);
            Apply(path, {});
            Bytes once = ReadBytes(path);
            ASSERT_EQ(once.size(), before.size());
            Headers h = ReadHeaders(once);
            std::set<std::size_t> allowed = {h.optionalOffset + 64, h.optionalOffset + 65, h.optionalOffset + 66,
                                             h.optionalOffset + 67};
            for (const Directory& d : WalkDirectories(once)) {
                EXPECT_EQ(d.major, 4);
                EXPECT_EQ(d.minor, 0);
                allowed.insert(d.offset + 8);
            }
            for (std::size_t i = 0; i < once.size(); ++i) {
                if (once[i] != before[i]) {
                    EXPECT_TRUE(allowed.count(i)) << "byte " << i << " changed";
                }
            }
            EXPECT_EQ(h.checkSum, ImageCheckSum(once, h));
            Apply(path, {});
            EXPECT_EQ(ReadBytes(path), once);
        }
    }
}

// Replacing a resource by identical bytes, or adding one and reading everything, loses nothing.
TEST(PeRoundTrip, EveryOtherResourceKeepsItsBytes) {
    for (const char* layout : {"rsrc-reloc", "rsrc-last", "after", "overlay", "inside"}) {
        for (const char* bits : kBits) {
            SCOPED_TRACE(std::string(layout) + bits);
            TempDir dir;
            std::u16string path = CopySample(dir, std::string(layout) + bits + ".exe");
            std::vector<Resource> before = ReadAll(path);
            Apply(path, {Update(kRcData, ResourceKey::Name(u"A"), Text("a"))});
            EXPECT_EQ(ReadAll(path), before);

            Apply(path, {Update(kRcData, ResourceKey::Name(u"PACKAGE"), testing_support::Pattern(5000))});
            std::vector<Resource> after = ReadAll(path);
            ASSERT_EQ(after.size(), before.size() + 1);
            auto added = std::find_if(after.begin(), after.end(),
                                      [](const Resource& r) { return r.info.name == ResourceKey::Name(u"PACKAGE"); });
            ASSERT_NE(added, after.end());
            EXPECT_EQ(added->bytes, testing_support::Pattern(5000));
            after.erase(added);
            EXPECT_EQ(after, before);
        }
    }
}

// At every level, text keys come first by code unit with a shorter prefix first, then numbers
// ascending, and the counts say where one range ends: the loader's binary search depends on it.
TEST(PeNames, StoredInTheLoadersOrder) {
    TempDir dir;
    std::u16string path = CopySample(dir, "rsrc-last64.exe");
    std::vector<pe::ResourceUpdate> updates;
    for (const char16_t* name : {u"zz", u"A", u"a_", u"Ab", u"RT_RCDATAX", u"\u00e9t\u00e9", u"#2", u"B", u"AA"}) {
        updates.push_back(Update(kRcData, ResourceKey::Name(name), Text("n")));
    }
    updates.push_back(Update(kRcData, ResourceKey::Id(1), Text("one")));
    updates.push_back(Update(ResourceKey::Name(u"rt_rcdata"), ResourceKey::Id(3), Text("lower type")));
    updates.push_back(Update(kRcData, ResourceKey::Id(300), Text("english"), 1033));
    Apply(path, updates);

    Bytes file = ReadBytes(path);
    std::vector<Directory> dirs = WalkDirectories(file);
    ASSERT_FALSE(dirs.empty());
    for (const Directory& d : dirs) {
        EXPECT_EQ(d.names.size(), d.named);
        EXPECT_EQ(d.idKeys.size(), d.ids);
        EXPECT_TRUE(std::is_sorted(d.names.begin(), d.names.end()));
        EXPECT_EQ(std::adjacent_find(d.names.begin(), d.names.end()), d.names.end());
        EXPECT_TRUE(std::is_sorted(d.idKeys.begin(), d.idKeys.end()));
        EXPECT_EQ(std::adjacent_find(d.idKeys.begin(), d.idKeys.end()), d.idKeys.end());
    }
    const Directory& root = dirs.front();
    EXPECT_EQ(root.names, std::vector<std::u16string>({u"RT_RCDATA"})) << "the type is upper-cased onto the old one";
    auto rcdata =
        std::find_if(dirs.begin(), dirs.end(), [](const Directory& d) { return d.level == 1 && d.names.size() > 5; });
    ASSERT_NE(rcdata, dirs.end());
    EXPECT_EQ(rcdata->names, std::vector<std::u16string>({u"A", u"AA", u"AB", u"A_", u"A_B", u"B", u"RT_RCDATA",
                                                          u"RT_RCDATAX", u"Z", u"ZZ", u"\u00c9T\u00c9"}));
    EXPECT_EQ(rcdata->idKeys, std::vector<std::uint32_t>({1, 2, 300}));

    for (const char16_t* name :
         {u"A", u"AA", u"ab", u"A_", u"a_b", u"B", u"RT_RCDATA", u"rt_rcdatax", u"Z", u"zZ", u"\u00e9t\u00e9", u"#2"}) {
        Bytes data;
        Error error;
        EXPECT_TRUE(pe::ReadResource(path, kRcData, ResourceKey::Name(name), {}, data, error))
            << platform::ToUtf8(name);
    }
    EXPECT_EQ(Read(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Id(3)), Text("lower type"));
    EXPECT_EQ(Read(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Id(7)), Text("text type RT_RCDATA"));
    EXPECT_EQ(Read(path, kRcData, ResourceKey::Id(300), 0), Text("neutral"));
    EXPECT_EQ(Read(path, kRcData, ResourceKey::Id(300), 1033), Text("english"));
}

// A name already in the file is kept exactly as it is, even where the loader's upper-cased
// lookup cannot find it; only new names are upper-cased.
TEST(PeNames, ExistingNamesKeptAsTheyAre) {
    TempDir dir;
    std::u16string path = CopySample(dir, "rsrc-last32.exe");
    Bytes file = ReadBytes(path);
    std::vector<Directory> dirs = WalkDirectories(file);
    // The text type's only name, Z, becomes z: still a sound directory.
    auto textType = std::find_if(dirs.begin(), dirs.end(), [](const Directory& d) {
        return d.level == 1 && d.names == std::vector<std::u16string>{u"Z"};
    });
    ASSERT_NE(textType, dirs.end());
    PutU16(file, textType->nameOffsets[0] + 2, u'z');
    testing_support::WriteBytes(path, file);

    Apply(path, {Update(ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"z"), Text("new"))});
    std::vector<pe::ResourceInfo> infos;
    Error error;
    ASSERT_TRUE(pe::ListResources(path, infos, error));
    std::vector<std::u16string> names;
    for (const auto& info : infos) {
        if (info.type == ResourceKey::Name(u"RT_RCDATA")) {
            names.push_back(info.name.name);
        }
    }
    EXPECT_EQ(names, std::vector<std::u16string>({u"Z", u"z", u""}));
    EXPECT_EQ(Read(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"Z")), Text("new"));
}

// Growing a resource and shrinking it again leaves one entry, and the section shrinks with it.
TEST(PeReplace, GrowThenShrink) {
    for (const char* layout : {"rsrc-last", "rsrc-reloc"}) {
        for (const char* bits : kBits) {
            SCOPED_TRACE(std::string(layout) + bits);
            TempDir dir;
            std::u16string path = CopySample(dir, std::string(layout) + bits + ".exe");
            std::size_t count = ReadAll(path).size();
            Apply(path, {Update(kRcData, ResourceKey::Name(u"A"), testing_support::Pattern(100000, 3))});
            std::uint64_t grownSize = ReadBytes(path).size();
            Headers grown = ReadHeaders(ReadBytes(path));
            Apply(path, {Update(kRcData, ResourceKey::Name(u"A"), Text("tiny"))});
            Bytes file = ReadBytes(path);
            Headers shrunk = ReadHeaders(file);

            std::vector<Resource> all = ReadAll(path);
            EXPECT_EQ(all.size(), count);
            EXPECT_EQ(std::count_if(all.begin(), all.end(),
                                    [](const Resource& r) { return r.info.name == ResourceKey::Name(u"A"); }),
                      1);
            EXPECT_EQ(Read(path, kRcData, ResourceKey::Name(u"A")), Text("tiny"));
            EXPECT_LT(file.size() + 90000, grownSize);
            EXPECT_LT(shrunk.sizeOfImage + 90000, grown.sizeOfImage);
            EXPECT_EQ(grown.sections.size(), shrunk.sections.size());
        }
    }
}

// Data of every length modulo 8 starts 8-aligned and reads back exactly, whether added together
// or one after another.
TEST(PeBlobs, EveryRemainderModEight) {
    TempDir dir;
    std::u16string together = CopySample(dir, "rsrc-reloc32.exe");
    std::u16string apart = CopySample(dir, "rsrc-reloc64.exe");
    std::vector<pe::ResourceUpdate> updates;
    for (std::uint16_t size = 0; size < 17; ++size) {
        updates.push_back(Update(ResourceKey::Id(99), ResourceKey::Id(size), testing_support::Pattern(size, 7)));
        Apply(apart, {updates.back()});
    }
    Apply(together, updates);
    for (const std::u16string& path : {together, apart}) {
        for (std::uint16_t size = 0; size < 17; ++size) {
            EXPECT_EQ(Read(path, ResourceKey::Id(99), ResourceKey::Id(size)), testing_support::Pattern(size, 7));
        }
        Bytes file = ReadBytes(path);
        for (const Directory& d : WalkDirectories(file)) {
            for (std::uint32_t rva : d.dataRvas) {
                EXPECT_EQ(rva % 8, 0u);
            }
        }
    }
}

// Data may come from a range of a file; a missing or short file is refused before anything is
// written, and the executable stays as it was.
TEST(PeData, FromFileRange) {
    TempDir dir;
    std::u16string path = CopySample(dir, "rsrc-reloc64.exe");
    std::u16string source = dir.File(u"data.bin");
    testing_support::WriteBytes(source, testing_support::Pattern(10000));
    pe::ResourceUpdate u{ResourceKey::Id(2), ResourceKey::Id(251), 1033, {}};
    u.data.path = source;
    u.data.offset = 14;
    u.data.length = 9000;
    Apply(path, {u});
    Bytes expected = testing_support::Pattern(10000);
    EXPECT_EQ(Read(path, ResourceKey::Id(2), ResourceKey::Id(251)),
              Bytes(expected.begin() + 14, expected.begin() + 9014));

    Bytes before = ReadBytes(path);
    Error error;
    u.data.length = 9987;
    EXPECT_FALSE(pe::UpdateResources(path, {u}, error));
    EXPECT_FALSE(error.message.empty());
    u.data.path = dir.File(u"missing.bin");
    EXPECT_FALSE(pe::UpdateResources(path, {u}, error));
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_FALSE(testing_support::Exists(path + u".pe-update"));
}

// Callers branch on what went wrong, not on the sentence: a file that cannot be opened (with the
// system's own reason kept), a file that is no executable, and a change the executable cannot take.
TEST(PeErrors, WhatWentWrongComesWithItsKind) {
    TempDir dir;
    std::vector<pe::ResourceInfo> infos;
    Error error;
    EXPECT_FALSE(pe::ListResources(dir.File(u"missing.exe"), infos, error));
    EXPECT_EQ(error.code, ErrorCode::CannotOpen);
    EXPECT_EQ(error.message, "The executable could not be opened.");
    EXPECT_FALSE(error.reason.empty());

    std::u16string junk = dir.File(u"junk.exe");
    testing_support::WriteBytes(junk, Text("not an executable at all"));
    error = {};
    EXPECT_FALSE(pe::ListResources(junk, infos, error));
    EXPECT_EQ(error.code, ErrorCode::Malformed);
    EXPECT_TRUE(error.reason.empty());

    std::u16string path = CopySample(dir, "rsrc-last32.exe");
    pe::ResourceUpdate fromFile = Update(kRcData, ResourceKey::Id(7), {});
    fromFile.data.path = dir.File(u"gone.bin");
    fromFile.data.length = 1;
    error = {};
    EXPECT_FALSE(pe::UpdateResources(path, {fromFile}, error));
    EXPECT_EQ(error.code, ErrorCode::CannotOpen);
    EXPECT_FALSE(error.reason.empty());

    error = {};
    EXPECT_FALSE(pe::UpdateResources(path, {Update(kRcData, ResourceKey::Name(u"#70000"), Text("x"))}, error));
    EXPECT_EQ(error.code, ErrorCode::Refused);
    error = {};
    EXPECT_FALSE(
        pe::UpdateResources(CopySample(dir, "signed32.exe"), {Update(kRcData, ResourceKey::Id(1), Text("x"))}, error));
    EXPECT_EQ(error.code, ErrorCode::Refused);
}

// A signed executable is refused: the signature would no longer match.
TEST(PeData, SignedRefused) {
    for (const char* bits : kBits) {
        TempDir dir;
        std::u16string path = CopySample(dir, std::string("signed") + bits + ".exe");
        Bytes before = ReadBytes(path);
        Error error;
        EXPECT_FALSE(pe::UpdateResources(path, {Update(kRcData, ResourceKey::Id(1), Text("x"))}, error));
        EXPECT_NE(error.message.find("signed"), std::string::npos);
        EXPECT_EQ(ReadBytes(path), before);
        EXPECT_EQ(ReadAll(path).size(), 16u) << "reading a signed file is fine";
    }
}

#ifdef __linux__
// The process's peak resident memory in kB, reset first where the kernel allows it.
long PeakMemoryKb(bool reset) {
    if (reset) {
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}
#endif

// A 64 MB resource is copied in chunks: into the executable, and again when another resource is
// added to the executable that holds it. Peak memory stays far below the resource's size.
TEST(PeStreaming, LargeResourceDoesNotGrowMemory) {
    constexpr std::uint64_t kSize = 64ull << 20;
    TempDir dir;
    std::u16string path = CopySample(dir, "rsrc-reloc64.exe");
    std::u16string big = dir.File(u"big.bin");
    WritePatternFile(big, kSize);
#ifdef __linux__
    long start = PeakMemoryKb(true);
#endif
    pe::ResourceUpdate u{ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"PACKAGE"), 1033, {}};
    u.data.path = big;
    u.data.length = kSize;
    Apply(path, {u});
    Apply(path, {Update(ResourceKey::Id(2), ResourceKey::Id(251), testing_support::Pattern(3000))});
#ifdef __linux__
    long peak = PeakMemoryKb(false);
    std::printf("peak memory: %ld kB at the start, %ld kB after both updates\n", start, peak);
    EXPECT_LT(peak - start, 16 * 1024) << "memory grew with the resource";
#endif
    std::vector<pe::ResourceInfo> infos;
    Error error;
    ASSERT_TRUE(pe::ListResources(path, infos, error));
    EXPECT_EQ(infos.size(), 17u);
    Bytes data = Read(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"PACKAGE"));
    ASSERT_EQ(data.size(), kSize);
    for (std::size_t i = 0; i < data.size(); i += 4093) {
        ASSERT_EQ(data[i], i % 251) << "at " << i;
    }
    EXPECT_EQ(Read(path, ResourceKey::Id(2), ResourceKey::Id(251)), testing_support::Pattern(3000));
}

} // namespace
