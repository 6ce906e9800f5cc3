// The package object's list and header operations, and the file helpers it offers.
#include "package/package.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace testing_support;

namespace {

std::u16string Text(const TextField& field) { return std::u16string(FieldText(field)); }

class PackageListTest : public ::testing::Test {
protected:
    std::u16string MakeFile(std::u16string_view name, std::size_t size) {
        std::u16string path = dir.File(name);
        WriteBytes(path, Pattern(size));
        return path;
    }
    TempDir dir;
    Package package;
};

TEST_F(PackageListTest, FreshObjectHoldsTheConstructionDefaults) {
    const PackageHeader& h = package.GetHeader();
    EXPECT_EQ(h.magic, 0x6F726220u);
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(h.dataOffset, 2620u);
    EXPECT_EQ(h.totalSize, 0u);
    EXPECT_EQ(h.targetFolder, 0);
    EXPECT_EQ(Text(h.installFolder), u"c:\\program files\\");
    EXPECT_EQ(Text(h.sourceFolder), u"");
    EXPECT_EQ(package.GetCount(), 0u);
    EXPECT_EQ(package.LastError(), u"");
}

TEST_F(PackageListTest, AddFileRecordsSizesAndRunningOffsets) {
    ASSERT_TRUE(package.AddFile(MakeFile(u"a.bin", 5).c_str(), 30));
    ASSERT_TRUE(package.AddFile(MakeFile(u"empty.bin", 0).c_str(), 30));
    ASSERT_TRUE(package.AddFile(MakeFile(u"b.bin", 7).c_str(), FLAG_EULA));
    ASSERT_EQ(package.GetCount(), 3u);

    PackageEntry e[3];
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(package.GetEntry(i, &e[i]));
    }
    EXPECT_EQ(e[0].size, 5u);
    EXPECT_EQ(e[1].size, 0u);
    EXPECT_EQ(e[2].size, 7u);
    EXPECT_EQ(e[0].offset, 0u);
    EXPECT_EQ(e[1].offset, 5u);
    EXPECT_EQ(e[2].offset, 5u);
    EXPECT_EQ(e[0].flags, 30u);
    EXPECT_EQ(e[2].flags, FLAG_EULA);
    EXPECT_EQ(Text(e[0].filename), StoredForm(dir.File(u"a.bin")));
    EXPECT_EQ(Text(e[0].shortcutName), u"");

    // AddFile leaves the header's totals to the operations that own them.
    EXPECT_EQ(package.GetHeader().totalSize, 0u);
    EXPECT_EQ(package.GetHeader().count, 0u);
    EXPECT_EQ(package.ComputeTotalSize(), 12u);
    EXPECT_EQ(package.GetHeader().totalSize, 12u);
}

TEST_F(PackageListTest, AddFileRefusesWhatItCannotRecordFaithfully) {
    ASSERT_TRUE(package.AddFile(MakeFile(u"keep.bin", 3).c_str(), 30));

    EXPECT_FALSE(package.AddFile(nullptr, 30));
    EXPECT_FALSE(package.AddFile(u"", 30));
    EXPECT_FALSE(package.AddFile(dir.File(u"missing.bin").c_str(), 30));
    // A folder is not a member file.
    EXPECT_FALSE(package.AddFile(U16(dir.Path()).c_str(), 30));

    // A path the 260-unit field cannot hold is refused rather than cut to name another file.
    std::u16string tooLong = dir.File(std::u16string(300, u'x'));
    EXPECT_FALSE(package.AddFile(tooLong.c_str(), 30));

    EXPECT_EQ(package.GetCount(), 1u);
    EXPECT_EQ(package.LastError(), u"");
}

TEST_F(PackageListTest, AddFileAcceptsAPathOfExactly259Units) {
    std::u16string base = U16(dir.Path()) + std::u16string(1, platform::NativeSeparator());
    // Folders of 100 units keep every component within the host's own limits.
    std::u16string sub = base + std::u16string(100, u'd');
    std::filesystem::create_directories(std::filesystem::path(sub));
    std::u16string path = sub + std::u16string(1, platform::NativeSeparator());
    ASSERT_LT(path.size(), 259u);
    path += std::u16string(259 - path.size(), u'f');
    ASSERT_EQ(path.size(), 259u);
    WriteBytes(path, Pattern(4));

    ASSERT_TRUE(package.AddFile(path.c_str(), 30));
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(0, &e));
    EXPECT_EQ(Text(e.filename), StoredForm(path));
    EXPECT_EQ(e.filename[259], u'\0');
}

TEST_F(PackageListTest, FilesOf2GiBOrMoreAreRefused) {
    std::u16string big = dir.File(u"big.bin");
    MakeSparseFile(big, std::uint64_t{1} << 31);
    EXPECT_EQ(Package::GetFileLength(big.c_str()), -1);
    EXPECT_FALSE(package.AddFile(big.c_str(), 30));

    // 4 GiB + 1 would read as 1 byte through a 32-bit length.
    std::u16string wraps = dir.File(u"wraps.bin");
    MakeSparseFile(wraps, (std::uint64_t{1} << 32) + 1);
    EXPECT_FALSE(package.AddFile(wraps.c_str(), 30));

    std::u16string largest = dir.File(u"largest.bin");
    MakeSparseFile(largest, (std::uint64_t{1} << 31) - 1);
    EXPECT_EQ(Package::GetFileLength(largest.c_str()), 0x7FFFFFFF);
    EXPECT_TRUE(package.AddFile(largest.c_str(), 30));
}

TEST_F(PackageListTest, NonAsciiNamesAreKeptExactly) {
    std::u16string name = u"\u00fcber \u20ac \U0001F600.txt";
    std::u16string path = MakeFile(name, 9);
    ASSERT_TRUE(package.AddFile(path.c_str(), 30));
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(0, &e));
    EXPECT_EQ(Text(e.filename), StoredForm(path));
    EXPECT_EQ(e.size, 9u);
}

#ifndef _WIN32
TEST_F(PackageListTest, PosixNamesHoldingABackslashAreRefused) {
    // On this host a backslash is an ordinary character in a name, but in a package it separates
    // folders; such a file could not be found again from its record.
    std::u16string path = MakeFile(u"a\\b.txt", 2);
    EXPECT_FALSE(package.AddFile(path.c_str(), 30));
    EXPECT_EQ(package.GetCount(), 0u);
}
#endif

TEST_F(PackageListTest, EditsAtOrPastTheEndChangeNothing) {
    ASSERT_TRUE(package.AddFile(MakeFile(u"a.bin", 5).c_str(), 30));
    PackageEntry e{};
    e.flags = 12345;
    EXPECT_FALSE(package.GetEntry(1, &e));
    EXPECT_EQ(e.flags, 12345u);
    EXPECT_FALSE(package.GetEntry(0, nullptr));
    EXPECT_FALSE(package.SetEntryFlags(1, 1));
    EXPECT_FALSE(package.SetShortcutName(1, u"x.lnk"));
    EXPECT_FALSE(package.SetShortcutName(0, nullptr));

    ASSERT_TRUE(package.GetEntry(0, &e));
    EXPECT_EQ(e.flags, 30u);
    EXPECT_EQ(Text(e.shortcutName), u"");

    EXPECT_TRUE(package.SetEntryFlags(0, FLAG_SHORTCUT | FLAG_ARM));
    EXPECT_TRUE(package.SetShortcutName(0, u"App.lnk"));
    ASSERT_TRUE(package.GetEntry(0, &e));
    EXPECT_EQ(e.flags, 3u);
    EXPECT_EQ(Text(e.shortcutName), u"App.lnk");
    EXPECT_EQ(e.size, 5u);
    EXPECT_EQ(e.offset, 0u);
}

TEST_F(PackageListTest, ClearZeroesTheWholeHeaderMagicIncluded) {
    ASSERT_TRUE(package.AddFile(MakeFile(u"a.bin", 5).c_str(), 30));
    package.SetProgramName(u"App");
    package.SetTargetFolder(38);
    package.ComputeTotalSize();

    package.Clear();
    EXPECT_EQ(package.GetCount(), 0u);
    PackageHeader zero{};
    EXPECT_EQ(std::memcmp(&package.GetHeader(), &zero, sizeof zero), 0);
}

TEST_F(PackageListTest, HeaderTextsAreCutAt259Units) {
    std::u16string long300(300, u'a');
    for (std::size_t i = 0; i < long300.size(); ++i) {
        long300[i] = static_cast<char16_t>(u'a' + i % 26);
    }
    package.SetSourceFolder(long300.c_str());
    package.SetInstallFolder(long300.c_str());
    package.SetProgramName(long300.c_str());
    const PackageHeader& h = package.GetHeader();
    EXPECT_EQ(Text(h.sourceFolder), long300.substr(0, 259));
    EXPECT_EQ(Text(h.installFolder), long300.substr(0, 259));
    EXPECT_EQ(Text(h.programName), long300.substr(0, 259));

    char16_t name[260];
    package.SetProgramName(u"Notes");
    package.SetProgramName(nullptr); // absent text leaves the name alone
    package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), u"Notes");
    package.GetProgramName(nullptr);

    package.SetTargetFolder(255);
    EXPECT_EQ(h.targetFolder, 255);
}

TEST_F(PackageListTest, FieldTextStopsAtTheFieldEndWithoutATerminator) {
    PackageEntry e;
    std::fill(std::begin(e.filename), std::end(e.filename), u'z');
    EXPECT_EQ(FieldText(e.filename).size(), 260u);
}

TEST_F(PackageListTest, ReadWholeFileAnswersWhetherExactlyTheLengthWasRead) {
    std::u16string path = MakeFile(u"ten.bin", 10);
    Bytes buffer(16, 0xEE);
    EXPECT_TRUE(Package::ReadWholeFile(path.c_str(), buffer.data(), 10));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Pattern(10));
    EXPECT_TRUE(Package::ReadWholeFile(path.c_str(), buffer.data(), 4));
    EXPECT_FALSE(Package::ReadWholeFile(path.c_str(), buffer.data(), 16));
    EXPECT_FALSE(Package::ReadWholeFile(path.c_str(), buffer.data(), 0));
    EXPECT_FALSE(Package::ReadWholeFile(path.c_str(), nullptr, 10));
    EXPECT_FALSE(Package::ReadWholeFile(nullptr, buffer.data(), 10));
    EXPECT_FALSE(Package::ReadWholeFile(dir.File(u"missing").c_str(), buffer.data(), 10));

    EXPECT_EQ(Package::GetFileLength(path.c_str()), 10);
    EXPECT_EQ(Package::GetFileLength(dir.File(u"missing").c_str()), -1);
    EXPECT_EQ(Package::GetFileLength(nullptr), -1);
}

} // namespace
