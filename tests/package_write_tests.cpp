// Writing package files: the exact bytes, progress, stopping, and the refusals that keep every
// written package self-consistent.
#include "package/package.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace testing_support;

namespace {

struct Call {
    std::u16string file;
    int filePercent;
    int overall;
    bool operator==(const Call&) const = default;
};

class PackageWriteTest : public ::testing::Test {
protected:
    std::u16string MakeFile(std::u16string_view name, std::size_t size, std::uint8_t seed = 0) {
        std::u16string path = dir.File(name);
        WriteBytes(path, Pattern(size, seed));
        return path;
    }
    // A callback that records every call and answers `answer` on call number `on` (0-based).
    ProgressCallback Recorder(std::uint8_t answer = 0, std::size_t on = 0) {
        return [this, answer, on](const PackageEntry& e, std::int32_t file, std::int32_t overall) -> std::uint8_t {
            calls.push_back({std::u16string(FieldText(e.filename)), file, overall});
            return calls.size() - 1 == on ? answer : 0;
        };
    }
    TempDir dir;
    Package package;
    std::vector<Call> calls;
};

// The expected package, assembled field by field from the format's rules and the source files.
Bytes ExpectedPackage(const Package& p, const std::vector<std::u16string>& paths,
                      const std::vector<std::uint32_t>& flags) {
    const PackageHeader& h = p.GetHeader();
    ByteWriter w;
    std::vector<Bytes> data;
    std::uint32_t total = 0;
    for (const auto& path : paths) {
        data.push_back(ReadBytes(path));
        total += static_cast<std::uint32_t>(data.back().size());
    }
    auto count = static_cast<std::uint32_t>(paths.size());
    w.U32(h.magic)
        .Text(FieldText(h.sourceFolder))
        .Text(FieldText(h.installFolder))
        .Text(FieldText(h.programName))
        .Text(FieldText(h.imageFile))
        .Text(FieldText(h.buildCommand))
        .U32(static_cast<std::uint32_t>(h.targetFolder))
        .U32(count)
        .U32(2620 + count * 1052)
        .U32(total);
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        w.Text(StoredForm(paths[i]))
            .Text(u"")
            .U32(static_cast<std::uint32_t>(data[i].size()))
            .U32(offset)
            .U32(flags[i]);
        offset += static_cast<std::uint32_t>(data[i].size());
    }
    for (const auto& d : data) {
        w.Raw(d);
    }
    return w.Data();
}

TEST_F(PackageWriteTest, PackageMatchesOneAssembledFromTheSourceFiles) {
    std::vector<std::u16string> paths{MakeFile(u"five.bin", 5, 1), MakeFile(u"zero.bin", 0), MakeFile(u"seven", 7, 2)};
    std::vector<std::uint32_t> flags{30, FLAG_EULA, FLAG_SHORTCUT | FLAG_ARM};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ASSERT_TRUE(package.AddFile(paths[i].c_str(), flags[i]));
    }
    package.SetSourceFolder(U16(dir.Path()).c_str());
    package.SetProgramName(u"Pocket Notes");
    package.SetInstallFolder(u"Notes");
    package.SetTargetFolder(38);

    std::u16string out = dir.File(u"out.DAT");
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    Bytes written = ReadBytes(out);
    ASSERT_EQ(written.size(), 5788u);
    EXPECT_EQ(written, ExpectedPackage(package, paths, flags));
    EXPECT_EQ(ReadU32(written, 0), 0x6F726220u);
    EXPECT_EQ(written[0], 0x20);
    EXPECT_EQ(written[3], 0x6F);
    EXPECT_EQ(ReadU32(written, 2608), 3u);
    EXPECT_EQ(ReadU32(written, 2612), 5776u);
    EXPECT_EQ(ReadU32(written, 2616), 12u);
    EXPECT_EQ(package.GetHeader().count, 3u);
    EXPECT_EQ(package.GetHeader().dataOffset, 5776u);
    EXPECT_EQ(package.LastError(), u"");
}

// A workspace saved on another computer is built from files found elsewhere: the package still
// names each member by its stored path, and holds the bytes of the file it was read from.
TEST_F(PackageWriteTest, AMemberReadFromElsewhereKeepsItsStoredPath) {
    std::vector<std::u16string> paths{MakeFile(u"five.bin", 5, 1), MakeFile(u"seven", 7, 2)};
    std::vector<std::uint32_t> flags{30, FLAG_ARM};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ASSERT_TRUE(package.AddFile(paths[i].c_str(), flags[i]));
    }
    std::u16string elsewhere = MakeFile(u"elsewhere", 9000, 4);
    EXPECT_FALSE(package.SetMemberSource(2, elsewhere));
    ASSERT_TRUE(package.SetMemberSource(1, elsewhere));
    EXPECT_EQ(package.MemberSource(0), StoredForm(paths[0]));
    EXPECT_EQ(package.MemberSource(1), elsewhere);

    std::u16string out = dir.File(u"out.DAT");
    ASSERT_TRUE(package.Write(out.c_str(), Recorder()));
    EXPECT_EQ(calls.back(), (Call{StoredForm(paths[1]), 100, 100}));
    WriteBytes(paths[1], ReadBytes(elsewhere)); // what the package must now hold under that name
    EXPECT_EQ(ReadBytes(out), ExpectedPackage(package, paths, flags));

    std::u16string missing = dir.File(u"missing");
    ASSERT_TRUE(package.SetMemberSource(0, missing));
    EXPECT_FALSE(package.Write(dir.File(u"other.DAT").c_str(), nullptr));
    EXPECT_NE(package.LastError().find(missing), std::u16string_view::npos);
    EXPECT_FALSE(Exists(dir.File(u"other.DAT")));

    // What is read anew names its members by their stored paths again.
    ASSERT_TRUE(package.Open(out.c_str(), 0));
    EXPECT_EQ(package.MemberSource(1), StoredForm(paths[1]));
}

TEST_F(PackageWriteTest, OneMemberOfTenBytesGivesA3682BytePackage) {
    std::u16string path = MakeFile(u"ten.bin", 10, 7);
    ASSERT_TRUE(package.AddFile(path.c_str(), 30));
    std::u16string out = dir.File(u"one.DAT");
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    Bytes written = ReadBytes(out);
    ASSERT_EQ(written.size(), 3682u);
    EXPECT_EQ(ReadU32(written, 2612), 3672u);
    EXPECT_EQ(Bytes(written.begin() + 3672, written.end()), Pattern(10, 7));
    EXPECT_EQ(ReadText(written, 2620), StoredForm(path));
}

TEST_F(PackageWriteTest, WriteReplacesAnExistingFileAndRefusesAnEmptyList) {
    std::u16string out = dir.File(u"out.DAT");
    EXPECT_FALSE(package.Write(out.c_str(), nullptr));
    EXPECT_FALSE(Exists(out));

    WriteBytes(out, Pattern(20000));
    ASSERT_TRUE(package.AddFile(MakeFile(u"a", 3).c_str(), 30));
    EXPECT_FALSE(package.Write(nullptr, nullptr));
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    EXPECT_EQ(ReadBytes(out).size(), 2620u + 1052u + 3u);
}

TEST_F(PackageWriteTest, AfterClearThePackageCarriesZeroMagicAndNoInstallFolder) {
    package.Clear();
    ASSERT_TRUE(package.AddFile(MakeFile(u"a", 3).c_str(), 30));
    std::u16string out = dir.File(u"out.DAT");
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    Bytes written = ReadBytes(out);
    EXPECT_EQ(ReadU32(written, 0), 0u);
    EXPECT_EQ(ReadText(written, 524), u"");
    EXPECT_EQ(ReadU32(written, 2612), 3672u); // Write sets the data offset again
}

TEST_F(PackageWriteTest, ProgressReportsEachChunkWithTheMembersShareDone) {
    std::u16string big = MakeFile(u"big", 10000);
    std::u16string empty = MakeFile(u"empty", 0);
    std::u16string small = MakeFile(u"small", 100);
    std::u16string exact = MakeFile(u"exact", 4096);
    for (const auto& p : {big, empty, small, exact}) {
        ASSERT_TRUE(package.AddFile(p.c_str(), 30));
    }
    ASSERT_TRUE(package.Write(dir.File(u"out.DAT").c_str(), Recorder()));
    // The empty member is never reported: there is nothing to scale its percentage by.
    std::vector<Call> expected{{StoredForm(big), 40, 25},
                               {StoredForm(big), 81, 25},
                               {StoredForm(big), 100, 25},
                               {StoredForm(small), 100, 75},
                               {StoredForm(exact), 100, 100}};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(package.CancelRequested(), 0);
}

TEST_F(PackageWriteTest, OnlyAnAnswerOfOneStopsTheWrite) {
    std::u16string big = MakeFile(u"big", 10000);
    ASSERT_TRUE(package.AddFile(big.c_str(), 30));
    std::u16string out = dir.File(u"out.DAT");

    ASSERT_TRUE(package.Write(out.c_str(), Recorder(2, 0)));
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(ReadBytes(out).size(), 2620u + 1052u + 10000u);

    // A stopped write is not a finished package: the earlier package stays as it was, and no
    // partial file is left beside it.
    calls.clear();
    Bytes earlier = ReadBytes(out);
    EXPECT_FALSE(package.Write(out.c_str(), Recorder(1, 0)));
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(package.CancelRequested(), 1);
    EXPECT_EQ(ReadBytes(out), earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "big and out.DAT only";
    EXPECT_EQ(package.LastError(), u"");

    // The flag is reset by the next write.
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    EXPECT_EQ(package.CancelRequested(), 0);
}

TEST_F(PackageWriteTest, AMemberThatGrewSinceItWasAddedIsMeasuredAgain) {
    std::u16string a = MakeFile(u"a", 5);
    std::u16string b = MakeFile(u"b", 7, 3);
    ASSERT_TRUE(package.AddFile(a.c_str(), 30));
    ASSERT_TRUE(package.AddFile(b.c_str(), 30));
    WriteBytes(a, Pattern(9000, 5));

    std::u16string out = dir.File(u"out.DAT");
    ASSERT_TRUE(package.Write(out.c_str(), nullptr));
    Bytes written = ReadBytes(out);
    EXPECT_EQ(written, ExpectedPackage(package, {a, b}, {30, 30}));
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(1, &e));
    EXPECT_EQ(e.offset, 9000u);
    EXPECT_EQ(package.GetHeader().totalSize, 9007u);
}

TEST_F(PackageWriteTest, AMemberThatIsGoneFailsTheWriteBeforeAnyFileIsTouched) {
    std::u16string a = MakeFile(u"a", 5);
    std::u16string gone = MakeFile(u"gone.txt", 5);
    ASSERT_TRUE(package.AddFile(a.c_str(), 30));
    ASSERT_TRUE(package.AddFile(gone.c_str(), 30));
    std::filesystem::remove(std::filesystem::path(gone));

    std::u16string out = dir.File(u"out.DAT");
    WriteBytes(out, Pattern(3)); // an earlier build's package stays as it was
    EXPECT_FALSE(package.Write(out.c_str(), nullptr));
    EXPECT_EQ(package.LastError(), u"Cannot open file:" + StoredForm(gone));
    EXPECT_EQ(ReadBytes(out), Pattern(3));
}

TEST_F(PackageWriteTest, AMemberThatShrinksDuringTheWriteFailsItAndLeavesNoFile) {
    std::u16string first = MakeFile(u"first", 5000);
    std::u16string second = MakeFile(u"second", 5000);
    ASSERT_TRUE(package.AddFile(first.c_str(), 30));
    ASSERT_TRUE(package.AddFile(second.c_str(), 30));
    std::u16string out = dir.File(u"out.DAT");

    // While the first member is copied, the second one is cut short.
    ProgressCallback shrink = [&](const PackageEntry& e, std::int32_t, std::int32_t) -> std::uint8_t {
        if (FieldText(e.filename) == StoredForm(first)) {
            WriteBytes(second, Pattern(100));
        }
        return 0;
    };
    EXPECT_FALSE(package.Write(out.c_str(), shrink));
    EXPECT_EQ(package.LastError(), u"File changed while the package was written:" + StoredForm(second));
    EXPECT_FALSE(Exists(out));
}

// A member that grows, or is rewritten at the same size, while the package is written would be
// cut or mixed from two versions: the write fails and no package is left.
TEST_F(PackageWriteTest, AMemberThatGrowsOrIsRewrittenDuringTheWriteFailsIt) {
    std::u16string first = MakeFile(u"first", 5000);
    std::u16string second = MakeFile(u"second", 10, 9);
    ASSERT_TRUE(package.AddFile(first.c_str(), 30));
    ASSERT_TRUE(package.AddFile(second.c_str(), 30));
    std::u16string out = dir.File(u"out.DAT");

    for (const Bytes& replacement : {Pattern(50, 9), Pattern(10, 7)}) {
        // Only while the first member is copied: Windows lets nobody write a member being read.
        ProgressCallback change = [&](const PackageEntry& e, std::int32_t, std::int32_t) -> std::uint8_t {
            if (FieldText(e.filename) == StoredForm(first)) {
                WriteBytes(second, replacement);
                // The same size within the file system's clock tick must still count as a change.
                std::filesystem::last_write_time(std::filesystem::path(second),
                                                 std::filesystem::file_time_type::clock::now() +
                                                     std::chrono::seconds(5));
            }
            return 0;
        };
        EXPECT_FALSE(package.Write(out.c_str(), change));
        EXPECT_EQ(package.LastError(), u"File changed while the package was written:" + StoredForm(second));
        EXPECT_FALSE(Exists(out));
        WriteBytes(second, Pattern(10, 9));
    }
}

// The format's positions are 31-bit: the whole package, header and table included, must stay
// below 2 GiB, not just the files' data.
TEST_F(PackageWriteTest, APackageOf2GiBOrMoreIsRefusedBeforeAnyFileIsCreated) {
    const std::u16string message =
        u"The package (header, table of files and the files) would be 2 GB or more, too much for one package";
    std::u16string a = dir.File(u"a.bin");
    std::u16string b = dir.File(u"b.bin");
    MakeSparseFile(a, std::uint64_t{1} << 30);
    MakeSparseFile(b, std::uint64_t{1} << 30);
    ASSERT_TRUE(package.AddFile(a.c_str(), 30));
    ASSERT_TRUE(package.AddFile(b.c_str(), 30));

    std::u16string out = dir.File(u"out.DAT");
    EXPECT_FALSE(package.Write(out.c_str(), nullptr));
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(package.LastError(), message);

    // Data just below 2 GiB, so that only the header and the table carry the package past it.
    Package near;
    MakeSparseFile(a, (std::uint64_t{1} << 31) - kHeaderSize - kEntrySize + 1);
    ASSERT_TRUE(near.AddFile(a.c_str(), 30));
    EXPECT_FALSE(near.Write(out.c_str(), nullptr));
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(near.LastError(), message);
}

TEST_F(PackageWriteTest, AFileThatCannotBeCreatedAnswersFalse) {
    ASSERT_TRUE(package.AddFile(MakeFile(u"a", 3).c_str(), 30));
    EXPECT_FALSE(package.Write(dir.File(u"no-such-folder/out.DAT").c_str(), nullptr));
    EXPECT_FALSE(package.Write(U16(dir.Path()).c_str(), nullptr));
}

TEST_F(PackageWriteTest, TakeLastErrorHandsOverTheMessageOnce) {
    std::u16string gone = MakeFile(std::u16string(200, u'g'), 1);
    ASSERT_TRUE(package.AddFile(gone.c_str(), 30));
    std::filesystem::remove(std::filesystem::path(gone));
    EXPECT_FALSE(package.Write(dir.File(u"out.DAT").c_str(), nullptr));

    std::u16string message = package.TakeLastError();
    EXPECT_EQ(message, u"Cannot open file:" + StoredForm(gone));
    EXPECT_EQ(package.LastError(), u"");
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"");
}

} // namespace
