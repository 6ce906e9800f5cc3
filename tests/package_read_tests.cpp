// Reading packages and workspace files back, extracting members, and refusing malformed input.
#include "package/package.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace testing_support;

namespace {

class PackageReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        sources = {MakeFile(u"first.bin", 5000, 1), MakeFile(u"empty.txt", 0), MakeFile(u"licence.txt", 100, 2),
                   MakeFile(u"last.bin", 300, 3)};
        std::vector<std::uint32_t> flags{30, 30, FLAG_EULA, FLAG_EULA | FLAG_ARM};
        Package writer;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            ASSERT_TRUE(writer.AddFile(sources[i].c_str(), flags[i]));
        }
        writer.SetSourceFolder(U16(dir.Path()).c_str());
        writer.SetProgramName(u"Notes");
        SetFieldText(writer.GetHeader().imageFile, u"C:\\art\\side.bmp");
        SetFieldText(writer.GetHeader().buildCommand, u"Cexe.exe <filename>");
        packagePath = dir.File(u"app.DAT");
        ASSERT_TRUE(writer.Write(packagePath.c_str(), nullptr));
        packageBytes = ReadBytes(packagePath);
    }
    std::u16string MakeFile(std::u16string_view name, std::size_t size, std::uint8_t seed = 0) {
        std::u16string path = dir.File(name);
        WriteBytes(path, Pattern(size, seed));
        return path;
    }
    // The package's bytes, changed by `edit`, written to a file of their own.
    std::u16string Variant(std::u16string_view name, Bytes bytes) {
        std::u16string path = dir.File(name);
        WriteBytes(path, bytes);
        return path;
    }
    void ExpectEmpty(const Package& p) {
        EXPECT_EQ(p.GetCount(), 0u);
        PackageHeader zero{};
        EXPECT_EQ(std::memcmp(&p.GetHeader(), &zero, sizeof zero), 0);
    }

    TempDir dir;
    std::vector<std::u16string> sources;
    std::u16string packagePath;
    Bytes packageBytes;
    Package package;
};

TEST_F(PackageReadTest, AKeptOpenPackageGivesBackEveryMember) {
    ASSERT_TRUE(package.OpenPackageFile(packagePath.c_str()));
    ASSERT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(package.SourceFolderLength(), U16(dir.Path()).size());
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().programName)), u"Notes");

    for (std::int32_t i = 0; i < 4; ++i) {
        Bytes expected = ReadBytes(sources[static_cast<std::size_t>(i)]);
        std::u16string out = dir.File(u"out" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
        ASSERT_TRUE(package.ExtractToFile(i, out.c_str())) << i;
        EXPECT_EQ(ReadBytes(out), expected) << i;
        if (!expected.empty()) {
            Bytes buffer(expected.size() + 8, 0xEE);
            ASSERT_TRUE(package.ReadMember(i, buffer.data(), static_cast<std::int32_t>(buffer.size())));
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(expected.size())), expected);
            EXPECT_EQ(buffer.back(), 0xEE); // exactly the member's size, not the maximum
        }
    }

    // Extracting to an open file appends at its current position.
    std::u16string both = dir.File(u"both");
    {
        platform::File out = platform::File::CreateNew(both);
        ASSERT_TRUE(package.ExtractToHandle(3, out));
        ASSERT_TRUE(package.ExtractToHandle(1, out));
        ASSERT_TRUE(package.ExtractToHandle(2, out));
    }
    Bytes expected = ReadBytes(sources[3]);
    Bytes licence = ReadBytes(sources[2]);
    expected.insert(expected.end(), licence.begin(), licence.end());
    EXPECT_EQ(ReadBytes(both), expected);

    package.Close();
    Bytes buffer(10);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 10));
    EXPECT_EQ(package.LastError(), u"No ORB file opened");
}

TEST_F(PackageReadTest, OpenReadsTheTableAndClosesTheFile) {
    ASSERT_TRUE(package.Open(packagePath.c_str(), 0));
    EXPECT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().imageFile)), u"C:\\art\\side.bmp");
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().buildCommand)), u"Cexe.exe <filename>");
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(2, &e));
    EXPECT_EQ(std::u16string(FieldText(e.filename)), StoredForm(sources[2]));
    EXPECT_EQ(e.offset, 5000u);

    Bytes buffer(10);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 10));
    EXPECT_EQ(package.LastError(), u"No ORB file opened");
    // The file is free again: it can be replaced, as saving a workspace over itself does.
    WriteBytes(packagePath, Pattern(1));
}

TEST_F(PackageReadTest, AWorkspaceFileOfHeaderAndTableOpens) {
    Bytes workspace(packageBytes.begin(), packageBytes.begin() + 2620 + 4 * 1052);
    std::u16string path = Variant(u"work.orb", workspace);
    ASSERT_TRUE(package.Open(path.c_str(), 0));
    EXPECT_EQ(package.GetCount(), 4u);
    // But it cannot be kept open for its members: it holds none.
    Package other;
    EXPECT_FALSE(other.OpenPackageFile(path.c_str()));
    EXPECT_EQ(other.LastError(), u"The package is too short for its files' data");
    ExpectEmpty(other);
}

TEST_F(PackageReadTest, AddingToAWorkspaceWithStaleOffsetsLaysThemOutAgain) {
    Bytes bytes(packageBytes.begin(), packageBytes.begin() + 2620 + 4 * 1052);
    std::uint32_t stale = 77;
    std::memcpy(&bytes[2620 + 1052 + 1044], &stale, 4);
    ASSERT_TRUE(package.Open(Variant(u"stale.orb", bytes).c_str(), 0));
    ASSERT_TRUE(package.AddFile(sources[0].c_str(), 30));
    std::uint32_t expected[] = {0, 5000, 5000, 5100, 5400};
    for (std::uint32_t i = 0; i < 5; ++i) {
        PackageEntry e;
        ASSERT_TRUE(package.GetEntry(i, &e));
        EXPECT_EQ(e.offset, expected[i]) << i;
    }
}

TEST_F(PackageReadTest, TakenContentsAreAsReadAndCarryNoMemberData) {
    Bytes bytes(packageBytes.begin(), packageBytes.begin() + 2620 + 4 * 1052);
    std::uint32_t stale = 77;
    std::memcpy(&bytes[2620 + 1052 + 1044], &stale, 4);
    Package read;
    ASSERT_TRUE(read.Open(Variant(u"stale.orb", bytes).c_str(), 0));
    ASSERT_TRUE(package.OpenPackageFile(packagePath.c_str()));

    package.TakeContents(read);
    ExpectEmpty(read);
    EXPECT_EQ(read.SourceFolderLength(), 0u);
    ASSERT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(std::memcmp(&package.GetHeader(), bytes.data(), 2620), 0);
    EXPECT_EQ(package.SourceFolderLength(), U16(dir.Path()).size());
    Bytes buffer(10);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 10)) << "the package file that was open is let go";
    EXPECT_EQ(package.LastError(), u"No ORB file opened");
    WriteBytes(packagePath, Pattern(1));
    // The offsets came from a workspace file and are laid out again when a file is added.
    ASSERT_TRUE(package.AddFile(sources[0].c_str(), 30));
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(1, &e));
    EXPECT_EQ(e.offset, 5000u);
}

TEST_F(PackageReadTest, AMissingFileChangesNothing) {
    ASSERT_TRUE(package.AddFile(sources[0].c_str(), 30));
    package.SetProgramName(u"Kept");
    EXPECT_FALSE(package.Open(dir.File(u"missing.orb").c_str(), 0));
    EXPECT_FALSE(package.Open(nullptr, 0));
    EXPECT_EQ(package.GetCount(), 1u);
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().programName)), u"Kept");
    EXPECT_EQ(package.LastError(), u"");
}

TEST_F(PackageReadTest, ACountOfZeroIsRefusedButItsHeaderStays) {
    Bytes bytes = packageBytes;
    std::memset(&bytes[2608], 0, 4);
    std::u16string path = Variant(u"zero.DAT", bytes);
    ASSERT_TRUE(package.AddFile(sources[0].c_str(), 30));
    EXPECT_FALSE(package.Open(path.c_str(), 0));
    EXPECT_EQ(package.LastError(), u"ORB contains no file");
    EXPECT_EQ(package.GetCount(), 0u);
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().programName)), u"Notes");
}

TEST_F(PackageReadTest, MemberOperationsCheckTheirArguments) {
    ASSERT_TRUE(package.OpenPackageFile(packagePath.c_str()));
    Bytes buffer(10);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 0));
    EXPECT_FALSE(package.ReadMember(0, nullptr, 10));
    EXPECT_EQ(package.LastError(), u"");
    for (std::int32_t bad : {-1, 4}) {
        EXPECT_FALSE(package.ReadMember(bad, buffer.data(), 10));
        EXPECT_EQ(std::u16string(package.TakeLastError()), u"Index out of bounds");
        EXPECT_FALSE(package.ExtractToFile(bad, dir.File(u"x").c_str()));
        EXPECT_EQ(std::u16string(package.TakeLastError()), u"Index out of bounds");
    }
    EXPECT_FALSE(package.ExtractToFile(0, nullptr));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"Invalid destination filename");
    EXPECT_FALSE(package.ExtractToFile(0, dir.File(u"no/such/folder").c_str()));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"Couldn't create destination file");
    platform::File none;
    EXPECT_FALSE(package.ExtractToHandle(0, none));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"Invalid destination handle");

    std::u16string empty = dir.File(u"empty.out");
    WriteBytes(empty, Pattern(50));
    ASSERT_TRUE(package.ExtractToFile(1, empty.c_str()));
    EXPECT_TRUE(ReadBytes(empty).empty());
}

TEST_F(PackageReadTest, OpeningAnotherPackageLetsGoOfTheKeptFile) {
    ASSERT_TRUE(package.OpenPackageFile(packagePath.c_str()));
    Bytes workspace(packageBytes.begin(), packageBytes.begin() + 2620 + 4 * 1052);
    ASSERT_TRUE(package.Open(Variant(u"work.orb", workspace).c_str(), 0));
    Bytes buffer(10);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 10));
    EXPECT_EQ(package.LastError(), u"No ORB file opened");
}

struct Corruption {
    const char* what;
    std::function<void(Bytes&)> edit;
    const char16_t* message;
    bool workspaceOpens; // whether Open, which needs no data area, still accepts it
};

TEST_F(PackageReadTest, MalformedPackagesAreRefusedAndLeaveTheObjectEmpty) {
    auto setU32 = [](Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto fill = [](Bytes& b, std::size_t at) {
        for (std::size_t i = 0; i < 260; ++i) {
            b[at + 2 * i] = 'x', b[at + 2 * i + 1] = 0;
        }
    };
    const std::size_t entry1 = 2620 + 1052;
    std::vector<Corruption> cases{
        {"empty file", [](Bytes& b) { b.clear(); }, u"The package is shorter than its header", false},
        {"cut in the header", [](Bytes& b) { b.resize(2619); }, u"The package is shorter than its header", false},
        {"cut after the header", [](Bytes& b) { b.resize(2620); }, u"The package is too short for its table of files",
         false},
        {"cut in the table", [](Bytes& b) { b.resize(2620 + 4 * 1052 - 1); },
         u"The package is too short for its table of files", false},
        {"cut in the last member", [](Bytes& b) { b.pop_back(); }, u"The package is too short for its files' data",
         true},
        {"absurd count", [&](Bytes& b) { setU32(b, 2608, 0xFFFFFFFF); },
         u"The package is too short for its table of files", false},
        {"count past the file", [&](Bytes& b) { setU32(b, 2608, 10); },
         u"The package is too short for its table of files", false},
        {"program name without terminator", [&](Bytes& b) { fill(b, 1044); },
         u"A text in the package has no terminator", false},
        {"file name without terminator", [&](Bytes& b) { fill(b, entry1); }, u"A text in the package has no terminator",
         false},
        {"shortcut without terminator", [&](Bytes& b) { fill(b, entry1 + 520); },
         u"A text in the package has no terminator", false},
        {"offset pointing elsewhere", [&](Bytes& b) { setU32(b, entry1 + 1044, 4000); },
         u"The offsets of the package's files do not follow one another", true},
        {"first offset not zero", [&](Bytes& b) { setU32(b, 2620 + 1044, 1); },
         u"The offsets of the package's files do not follow one another", true},
        {"size past the data", [&](Bytes& b) { setU32(b, 2620 + 3 * 1052 + 1040, 301); },
         u"The package is too short for its files' data", true},
        {"sizes adding up past 2 GiB",
         [&](Bytes& b) {
             setU32(b, 2620 + 1040, 0x7FFFFFFF);
             setU32(b, entry1 + 1044, 0x7FFFFFFF);
             setU32(b, entry1 + 1052 + 1044, 0x7FFFFFFF);
             setU32(b, entry1 + 2 * 1052 + 1044, 0x7FFFFFFF + 100u);
         },
         u"The package is 2 GB or more, beyond what the format can address", true},
        {"data below 2 GiB, the package with its table not",
         [&](Bytes& b) {
             const std::uint32_t first = 0x80000000u - (2620 + 4 * 1052) - 399; // the data ends 1 byte past
             setU32(b, 2620 + 1040, first);
             setU32(b, entry1 + 1044, first);
             setU32(b, entry1 + 1052 + 1044, first);
             setU32(b, entry1 + 2 * 1052 + 1044, first + 100);
         },
         u"The package is 2 GB or more, beyond what the format can address", true},
    };
    for (const Corruption& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = packageBytes;
        c.edit(bytes);
        std::u16string path = Variant(u"bad.DAT", bytes);

        Package kept;
        ASSERT_TRUE(kept.AddFile(sources[0].c_str(), 30));
        EXPECT_FALSE(kept.OpenPackageFile(path.c_str()));
        EXPECT_EQ(kept.LastError(), c.message);
        ExpectEmpty(kept);

        Package work;
        EXPECT_EQ(work.Open(path.c_str(), 0), c.workspaceOpens);
        if (!c.workspaceOpens) {
            EXPECT_EQ(work.LastError(), c.message);
            ExpectEmpty(work);
        }
    }
}

#ifndef _WIN32
TEST_F(PackageReadTest, APackageThatShrinksWhileOpenEndsTheExtractionInsteadOfLooping) {
    // Windows keeps others from writing a file opened without sharing; POSIX does not.
    ASSERT_TRUE(package.OpenPackageFile(packagePath.c_str()));
    std::filesystem::resize_file(std::filesystem::path(packagePath), 2620 + 4 * 1052 + 4000);
    std::u16string out = dir.File(u"first.out");
    EXPECT_FALSE(package.ExtractToFile(0, out.c_str()));
    EXPECT_EQ(package.LastError(), u"The package ends inside a file's data");
    EXPECT_FALSE(Exists(out));
    Bytes buffer(5000);
    EXPECT_FALSE(package.ReadMember(0, buffer.data(), 5000));
}

TEST_F(PackageReadTest, ProgramResourcesAreWin32Only) {
    EXPECT_FALSE(package.OpenResource(u"ORBDATA"));
    EXPECT_EQ(package.LastError(), u"FindResource failed");
    EXPECT_FALSE(package.Open(u"ORBDATA", 1));
}
#endif

} // namespace
