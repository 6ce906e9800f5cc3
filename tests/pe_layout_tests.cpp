// Where the rebuilt resource section goes and what the headers say afterwards, for each layout
// the samples cover: checked field by field from the bytes, not through the editor's reader.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/pe_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace pe_test;
using pe::ResourceKey;
using testing_support::Bytes;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

struct Patched {
    Bytes before, after;
    Headers old, now;
};

// Adds a resource large enough to outgrow the old section, and replaces the bitmap.
Patched Patch(const TempDir& dir, const std::string& sample) {
    std::u16string path = CopySample(dir, sample);
    Patched p;
    p.before = ReadBytes(path);
    pe::ResourceUpdate big{ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"PACKAGE"), 1033, {}};
    big.data.bytes = testing_support::Pattern(20000, 1);
    pe::ResourceUpdate bitmap{ResourceKey::Id(2), ResourceKey::Id(251), 1033, {}};
    bitmap.data.bytes = testing_support::Pattern(777, 2);
    Error error;
    EXPECT_TRUE(pe::UpdateResources(path, {big, bitmap}, error)) << error.message;
    p.after = ReadBytes(path);
    p.old = ReadHeaders(p.before);
    p.now = ReadHeaders(p.after);
    Bytes data;
    EXPECT_TRUE(
        pe::ReadResource(path, ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"PACKAGE"), {}, data, error));
    EXPECT_EQ(data, big.data.bytes);
    EXPECT_TRUE(pe::ReadResource(path, ResourceKey::Id(2), ResourceKey::Id(251), {}, data, error));
    EXPECT_EQ(data, bitmap.data.bytes);
    return p;
}

std::uint64_t AlignUp(std::uint64_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

Bytes RawBytes(const Bytes& file, const SectionHeader& s) {
    return Bytes(file.begin() + s.pointerToRawData, file.begin() + s.pointerToRawData + s.sizeOfRawData);
}

// What every result must satisfy: sections back to back and aligned, the resource directory at
// the start of a section holding exactly it, the image size, initialised data and checksum right.
void ExpectSoundHeaders(const Patched& p) {
    const Headers& h = p.now;
    std::uint32_t rsrcRva = U32(p.after, h.DirectoryAt(2));
    std::uint32_t rsrcSize = U32(p.after, h.DirectoryAt(2) + 4);
    bool found = false;
    std::uint64_t end = 0, initialized = 0;
    for (std::size_t i = 0; i < h.sections.size(); ++i) {
        const SectionHeader& s = h.sections[i];
        EXPECT_EQ(s.virtualAddress % h.sectionAlignment, 0u) << s.name;
        EXPECT_EQ(s.pointerToRawData % h.fileAlignment, 0u) << s.name;
        EXPECT_EQ(s.sizeOfRawData % h.fileAlignment, 0u) << s.name;
        EXPECT_LE(std::uint64_t{s.pointerToRawData} + s.sizeOfRawData, p.after.size()) << s.name;
        if (i > 0) {
            EXPECT_GE(s.virtualAddress,
                      AlignUp(h.sections[i - 1].virtualAddress + h.sections[i - 1].virtualSize, h.sectionAlignment));
        }
        if (s.virtualAddress == rsrcRva) {
            found = true;
            EXPECT_EQ(s.virtualSize, rsrcSize);
            EXPECT_EQ(s.sizeOfRawData, AlignUp(rsrcSize, h.fileAlignment));
        }
        end = std::max<std::uint64_t>(end, s.virtualAddress + std::max(s.virtualSize, s.sizeOfRawData));
        if (s.characteristics & 0x40) {
            initialized += s.sizeOfRawData;
        }
    }
    EXPECT_TRUE(found) << "the resource directory starts a section";
    EXPECT_EQ(h.sizeOfImage, AlignUp(end, h.sectionAlignment));
    EXPECT_EQ(h.sizeOfInitializedData, initialized);
    if (p.old.checkSum != 0) {
        EXPECT_EQ(h.checkSum, ImageCheckSum(p.after, h));
    }
}

const SectionHeader* Named(const Headers& h, const std::string& name) {
    for (const SectionHeader& s : h.sections) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

// The resource section is last: rewritten where it is, nothing added.
TEST(PeLayout, ResourcesLastRewrittenInPlace) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        Patched p = Patch(dir, std::string("rsrc-last") + bits + ".exe");
        ExpectSoundHeaders(p);
        ASSERT_EQ(p.now.sections.size(), p.old.sections.size());
        EXPECT_EQ(p.now.sections.back().pointerToRawData, p.old.sections.back().pointerToRawData);
        EXPECT_EQ(p.now.sections.back().virtualAddress, p.old.sections.back().virtualAddress);
        EXPECT_EQ(p.after.size(), p.now.sections.back().pointerToRawData + p.now.sections.back().sizeOfRawData);
        std::size_t kept = p.old.sections.back().pointerToRawData;
        // Everything before the section is the same but for the header fields that describe it.
        EXPECT_TRUE(std::equal(p.before.begin() + p.old.sizeOfHeaders, p.before.begin() + kept,
                               p.after.begin() + p.old.sizeOfHeaders));
    }
}

// The linker's default: relocations follow the resources and move behind the grown section, in
// the file and in memory, with their data directory and their bytes.
TEST(PeLayout, RelocationsMoveBehindResources) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        Patched p = Patch(dir, std::string("rsrc-reloc") + bits + ".exe");
        ExpectSoundHeaders(p);
        ASSERT_EQ(p.now.sections.size(), p.old.sections.size());
        const SectionHeader* oldReloc = Named(p.old, ".reloc");
        const SectionHeader* newReloc = Named(p.now, ".reloc");
        const SectionHeader* rsrc = Named(p.now, ".rsrc");
        ASSERT_TRUE(oldReloc && newReloc && rsrc);
        EXPECT_GT(newReloc->virtualAddress, oldReloc->virtualAddress);
        EXPECT_EQ(newReloc->virtualAddress, AlignUp(rsrc->virtualAddress + rsrc->virtualSize, p.now.sectionAlignment));
        EXPECT_EQ(newReloc->pointerToRawData, rsrc->pointerToRawData + rsrc->sizeOfRawData);
        EXPECT_EQ(U32(p.after, p.now.DirectoryAt(5)), newReloc->virtualAddress);
        EXPECT_EQ(U32(p.after, p.now.DirectoryAt(5) + 4), U32(p.before, p.old.DirectoryAt(5) + 4));
        EXPECT_EQ(RawBytes(p.after, *newReloc), RawBytes(p.before, *oldReloc));
    }
}

// Bytes after the last section move behind the new data unchanged.
TEST(PeLayout, OverlayKept) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        Patched p = Patch(dir, std::string("overlay") + bits + ".exe");
        ExpectSoundHeaders(p);
        const SectionHeader& last = p.now.sections.back();
        std::size_t overlay = 3001;
        ASSERT_EQ(p.after.size(), last.pointerToRawData + last.sizeOfRawData + overlay);
        EXPECT_TRUE(std::equal(p.before.end() - static_cast<std::ptrdiff_t>(overlay), p.before.end(),
                               p.after.end() - static_cast<std::ptrdiff_t>(overlay)));
    }
}

// Another section after the resources may be referred to by code: nothing moves, a new
// resource section is appended, and the old one stays where it was.
TEST(PeLayout, SectionAfterResourcesGetsNewSectionAppended) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        Patched p = Patch(dir, std::string("after") + bits + ".exe");
        ExpectSoundHeaders(p);
        ASSERT_EQ(p.now.sections.size(), p.old.sections.size() + 1);
        for (std::size_t i = 0; i < p.old.sections.size(); ++i) {
            EXPECT_EQ(p.now.sections[i].virtualAddress, p.old.sections[i].virtualAddress);
            EXPECT_EQ(RawBytes(p.after, p.now.sections[i]), RawBytes(p.before, p.old.sections[i]));
        }
        const SectionHeader& added = p.now.sections.back();
        EXPECT_EQ(U32(p.after, p.now.DirectoryAt(2)), added.virtualAddress);
        EXPECT_EQ(added.name, ".rsrc2") << "a second section of the same name would confuse readers";
        EXPECT_EQ(added.characteristics, 0x40000040u);
        EXPECT_EQ(U32(p.after, p.now.DirectoryAt(5)), U32(p.before, p.old.DirectoryAt(5)));
    }
}

// An executable without resources gets a resource section.
TEST(PeLayout, NoResourcesGetsASection) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        std::u16string path = CopySample(dir, std::string("nores") + bits + ".exe");
        std::vector<pe::ResourceInfo> infos;
        Error error;
        ASSERT_TRUE(pe::ListResources(path, infos, error));
        EXPECT_TRUE(infos.empty());
        Bytes before = ReadBytes(path);
        ASSERT_TRUE(pe::UpdateResources(path, {}, error));
        EXPECT_EQ(ReadBytes(path), before) << "nothing to store, nothing written";

        Patched p = Patch(dir, std::string("nores") + bits + ".exe");
        ExpectSoundHeaders(p);
        ASSERT_EQ(p.now.sections.size(), p.old.sections.size() + 1);
        EXPECT_EQ(p.now.sections.back().name, ".rsrc");
        EXPECT_EQ(p.now.sizeOfHeaders, p.old.sizeOfHeaders);
    }
}

// The resource directory starts inside a section that holds other data too: that section is
// left alone and the new directory goes into a section of its own.
TEST(PeLayout, DirectoryInsideASection) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        Patched p = Patch(dir, std::string("inside") + bits + ".exe");
        ExpectSoundHeaders(p);
        ASSERT_EQ(p.now.sections.size(), p.old.sections.size() + 1);
        EXPECT_TRUE(
            std::equal(p.before.begin() + p.old.sizeOfHeaders, p.before.end(), p.after.begin() + p.old.sizeOfHeaders));
    }
}

} // namespace
