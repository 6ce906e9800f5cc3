// Gathering files into the workspace, the workspace file, and the text rules they share.
#include "building/build_command.h"
#include "building/setup_inf.h"
#include "platform/file.h"
#include "platform/names.h"
#include "platform/text.h"
#include "tests/test_support.h"
#include "workspace/bitmap.h"
#include "workspace/gather.h"
#include "workspace/paths.h"
#include "workspace/target_folder.h"
#include "workspace/workspace_file.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;
using workspace::StoredPath;

namespace {

struct Recorder : workspace::GatherSink {
    void FileAdded(std::u16string_view row) override { rows.emplace_back(row); }
    void Refused(std::u16string_view path, std::string_view reason) override {
        refused.emplace_back(path);
        reasons.emplace_back(reason);
    }
    std::vector<std::u16string> rows, refused;
    std::vector<std::string> reasons;
};

class WorkspaceTest : public ::testing::Test {
protected:
    std::u16string Make(std::u16string_view relative, std::size_t size) {
        std::filesystem::path p = dir.Path() / std::filesystem::path(relative);
        std::filesystem::create_directories(p.parent_path());
        WriteBytes(p.u16string(), Pattern(size));
        return p.u16string();
    }
    std::u16string Folder(std::u16string_view relative) {
        std::filesystem::path p = dir.Path() / std::filesystem::path(relative);
        std::filesystem::create_directories(p);
        return p.u16string();
    }
    std::u16string Filename(std::uint32_t i) {
        PackageEntry e;
        EXPECT_TRUE(package.GetEntry(i, &e));
        return std::u16string(FieldText(e.filename));
    }
    TempDir dir;
    Package package;
    Recorder sink;
};

TEST_F(WorkspaceTest, ADroppedFolderGivesEveryFileAtAnyDepthRelativeToIt) {
    std::u16string app = Folder(u"App");
    Make(u"App/a.txt", 3);
    Make(u"App/sub/b.txt", 5);
    Make(u"App/sub/deeper/c.bin", 0);
    Make(u"App/z.txt", 1);
    Folder(u"App/empty");
    package.SetProgramName(u"Old");

    workspace::DropItems(package, {app}, sink);
    EXPECT_EQ(sink.rows, (std::vector<std::u16string>{u"a.txt", u"sub\\b.txt", u"sub\\deeper\\c.bin", u"z.txt"}));
    ASSERT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(Filename(1), StoredPath(app) + u"\\sub\\b.txt");
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(2, &e));
    EXPECT_EQ(e.flags, 30u);
    EXPECT_EQ(e.size, 0u);
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().sourceFolder)), StoredPath(app) + u"\\");
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().programName)), u""); // a drop starts afresh
    // Rows of a reopened workspace are cut by the source folder's length: the same rows again.
    for (std::uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(package.GetEntry(i, &e));
        EXPECT_EQ(workspace::RowForEntry(e, FieldText(package.GetHeader().sourceFolder)), sink.rows[i]);
    }
}

TEST_F(WorkspaceTest, DroppedFilesAndFoldersTogether) {
    std::u16string app = Folder(u"App");
    std::u16string a = Make(u"App/a.txt", 3);
    std::u16string lone = Make(u"Other/lone.txt", 2);

    // The same file twice: nothing merges duplicates. The last item's source folder stays.
    std::u16string missing = dir.File(u"missing.txt");
    workspace::DropItems(package, {app, a, missing, lone}, sink);
    EXPECT_EQ(sink.rows, (std::vector<std::u16string>{u"a.txt", u"a.txt", u"lone.txt"}));
    EXPECT_EQ(package.GetCount(), 3u);
    EXPECT_EQ(sink.refused, std::vector<std::u16string>{missing});
    EXPECT_EQ(std::u16string(FieldText(package.GetHeader().sourceFolder)), StoredPath(U16(dir.Path() / "Other")));
}

TEST_F(WorkspaceTest, AddFilesAppendsAndReportsWhatItCannotAdd) {
    std::u16string app = Folder(u"App");
    Make(u"App/a.txt", 3);
    workspace::DropItems(package, {app}, sink);
    // A path the format cannot hold is reported, not cut.
    Folder(u"App/" + std::u16string(120, u'd'));
    std::u16string tooLong =
        Make(std::u16string(u"App/") + std::u16string(120, u'd') + u"/" + std::u16string(150, u'f'), 1);
    workspace::WalkAndAdd(package, app, sink);
    EXPECT_EQ(package.GetCount(), 2u);
    EXPECT_EQ(sink.rows.back(), u"a.txt");
    ASSERT_EQ(sink.refused.size(), 1u);
    EXPECT_EQ(sink.refused[0], platform::NativePath(StoredPath(tooLong)));
}

TEST_F(WorkspaceTest, AWorkspaceFileIsTheHeaderAndTableAndOpensAgain) {
    std::u16string app = Folder(u"App");
    Make(u"App/a.txt", 3);
    Make(u"App/b.txt", 4);
    workspace::DropItems(package, {app}, sink);
    package.SetProgramName(u"Notes");
    ASSERT_TRUE(package.SetShortcutName(1, u"Notes.lnk"));
    std::u16string path = dir.File(u"work.orb");
    ASSERT_TRUE(workspace::SaveWorkspace(package, path.c_str(), u"C:\\side.bmp", u"Cexe.exe <filename>"));
    Bytes bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 2620u + 2 * 1052u);
    EXPECT_EQ(ReadU32(bytes, 2608), 2u);

    Package opened;
    ASSERT_TRUE(opened.Open(path.c_str(), 0));
    EXPECT_EQ(std::u16string(FieldText(opened.GetHeader().imageFile)), u"C:\\side.bmp");
    EXPECT_EQ(std::u16string(FieldText(opened.GetHeader().buildCommand)), u"Cexe.exe <filename>");
    PackageEntry e;
    ASSERT_TRUE(opened.GetEntry(1, &e));
    EXPECT_EQ(std::u16string(FieldText(e.shortcutName)), u"Notes.lnk");

    // Saving again over the same name replaces it; a folder cannot be a workspace file.
    ASSERT_TRUE(workspace::SaveWorkspace(opened, path.c_str(), u"", u""));
    EXPECT_FALSE(workspace::SaveWorkspace(opened, U16(dir.Path()).c_str(), u"", u""));

    Package empty;
    std::u16string emptyPath = dir.File(u"empty.orb");
    ASSERT_TRUE(workspace::SaveWorkspace(empty, emptyPath.c_str(), u"", u""));
    EXPECT_EQ(ReadBytes(emptyPath).size(), 2620u);

    e.filename[0] = u'\0';
    EXPECT_EQ(workspace::RowForEntry(e, u"C:\\App"), u""); // shorter than the folder: nothing to cut
}

TEST_F(WorkspaceTest, AWorkspaceLeftByARefusedBuildStillOpensWhole) {
    std::u16string a = Make(u"App/a.txt", 2);
    Make(u"App/b.txt", 3);
    std::u16string c = Make(u"App/c.txt", 4);
    workspace::DropItems(package, {Folder(u"App")}, sink);
    WriteBytes(a, Pattern(8));
    std::filesystem::remove(std::filesystem::path(c));
    EXPECT_FALSE(package.Write(dir.File(u"out.DAT").c_str(), nullptr));
    PackageEntry e;
    ASSERT_TRUE(package.GetEntry(1, &e));
    EXPECT_EQ(e.offset, 2u); // the refused build changed nothing

    // Two files that a package could not hold together still make a workspace.
    std::u16string big1 = dir.File(u"big1.bin"), big2 = dir.File(u"big2.bin");
    MakeSparseFile(big1, std::uint64_t{3} << 29);
    MakeSparseFile(big2, std::uint64_t{3} << 29);
    ASSERT_TRUE(package.AddFile(big1.c_str(), 30));
    ASSERT_TRUE(package.AddFile(big2.c_str(), 30));

    std::u16string path = dir.File(u"work.orb");
    ASSERT_TRUE(workspace::SaveWorkspace(package, path.c_str(), u"", u""));
    Package opened;
    ASSERT_TRUE(opened.Open(path.c_str(), 0)) << platform::ToUtf8(opened.LastError());
    EXPECT_EQ(opened.GetCount(), 5u);
}

TEST(TextRules, ExtensionsLabelsAndComponents) {
    using workspace::ShortcutFileName;
    using workspace::WithExtension;
    EXPECT_EQ(WithExtension<char>("backup", ".orb"), "backup.orb");
    EXPECT_EQ(WithExtension<char>("backup.txt", ".orb"), "backup.txt");
    EXPECT_EQ(WithExtension<char>("a.b", ".DAT"), "a.b.DAT"); // fewer than four characters
    EXPECT_EQ(ShortcutFileName<char16_t>(u"My App"), u"My App.lnk");
    EXPECT_EQ(ShortcutFileName<char16_t>(u""), u".lnk");
    EXPECT_EQ(ShortcutFileName<char16_t>(u"Read.me"), u"Read.me.lnk");
    EXPECT_EQ(ShortcutFileName<char16_t>(u"Notes.txt"), u"Notes.txt");
    EXPECT_EQ(workspace::LastPathComponent<char>("C:\\App\\a.txt"), "a.txt");
    EXPECT_EQ(workspace::LastPathComponent<char>("C:\\App\\"), "");
    EXPECT_EQ(workspace::LastPathComponent<char>("MyApp"), "MyApp");
    EXPECT_EQ(workspace::ParentPath<char>("C:\\App\\a.txt"), "C:\\App");
    EXPECT_EQ(workspace::ParentPath<char>("a.txt"), "a.txt");
}

// Windows finds a name whatever its case and without its trailing dots and blanks; a file's name
// that is also another file's folder cannot be made there at all.
TEST(NameClashes, EveryMemberWindowsTakesForAnotherNamesTheFirst) {
    using Found = std::vector<std::tuple<std::size_t, std::size_t, bool>>;
    struct Case {
        std::vector<std::u16string> relatives;
        Found clashes;
    };
    const Case cases[] = {
        {{u"\u00e4.txt", u"\u00c4.TXT"}, {{1, 0, false}}},
        {{u"sub.\\x", u"Sub\\X"}, {{1, 0, false}}},
        {{u"dir\\f", u"DIR\\g"}, {}}, // one folder on Windows, two files in it
        {{u"a", u"A", u"a. "}, {{1, 0, false}, {2, 0, false}}},
        // Names that sort between "a" and "a\..." must not hide the folder.
        {{u"a", u"a-b", u"a.c", u"A\\d\\e"}, {{0, 3, true}}},
        {{u"a-b", u"a", u"a\\x", u"a\\y"}, {{1, 2, true}}},
        {{u"ab", u"a\\b"}, {}},
    };
    for (const Case& c : cases) {
        Found found;
        for (const platform::NameClash& clash : platform::NameClashes(c.relatives)) {
            found.emplace_back(clash.file, clash.other, clash.otherIsBelow);
        }
        EXPECT_EQ(found, c.clashes) << platform::ToUtf8(c.relatives[0]) << " " << platform::ToUtf8(c.relatives[1]);
    }

    // A name of the short form beside a long name Windows may shorten to it: the first up-to-6
    // units of the name, less blanks and dots, "+,;=[]" as '_', then ~N; 2 units and 4 hexadecimal
    // digits once those run out; the extension's first 3 units. Each told once, with the names.
    using Short = std::vector<std::tuple<std::size_t, std::size_t, std::u16string, std::u16string>>;
    const std::pair<std::vector<std::u16string>, Short> shortCases[] = {
        {{u"longfilename.txt", u"LONGFI~1.TXT"}, {{1, 0, u"LONGFI~1.TXT", u"longfilename.txt"}}},
        {{u"Sub\\longfi~1.txt ", u"sub\\Long File Name.TXT"}, {{0, 1, u"longfi~1.txt", u"Long File Name.TXT"}}},
        {{u"Program Files\\a.exe", u"PROGRA~1\\b.exe", u"PROGRA~1\\c.exe"}, {{1, 0, u"PROGRA~1", u"Program Files"}}},
        {{u"document archive.zip", u"DO1F3A~1.ZIP"}, {{1, 0, u"DO1F3A~1.ZIP", u"document archive.zip"}}},
        {{u"ab.c.txt", u"ABC~1.TXT"}, {{1, 0, u"ABC~1.TXT", u"ab.c.txt"}}},
        {{u"LONGF~12.TXT", u"longfilename.txt"}, {{0, 1, u"LONGF~12.TXT", u"longfilename.txt"}}},
        {{u"page.html", u"PAGE~1.HTM"}, {{1, 0, u"PAGE~1.HTM", u"page.html"}}},
        {{u"a+b=c.txt", u"A_B_C~1.TXT"}, {{1, 0, u"A_B_C~1.TXT", u"a+b=c.txt"}}},
        {{u".profile", u"PROFIL~1"}, {{1, 0, u"PROFIL~1", u".profile"}}},
        {{u"\u00c4rger im B\u00fcro.doc", u"_RGERI~1.DOC"}, {{1, 0, u"_RGERI~1.DOC", u"\u00c4rger im B\u00fcro.doc"}}},
        {{u"\u00c4RGERL~1.DOC", u"\u00e4rgerlich.doc"}, {{0, 1, u"\u00c4RGERL~1.DOC", u"\u00e4rgerlich.doc"}}},
        // Short names that no name beside them gives.
        {{u"LONGFI~1.TXT", u"LONGFI~2.TXT"}, {}},
        {{u"longfilename.txt", u"LONGFI~1.DOC"}, {}},
        {{u"a\\longfilename.txt", u"b\\LONGFI~1.TXT"}, {}},
        {{u"apple pie.txt", u"A~1.TXT"}, {}},
        {{u"ReadMe.txt", u"README~1.TXT"}, {}},
        {{u"\u00c4RGERI~1.DOC"}, {}},
    };
    for (const auto& [relatives, expected] : shortCases) {
        Short found;
        for (const platform::NameClash& clash : platform::NameClashes(relatives)) {
            found.emplace_back(clash.file, clash.other, clash.shortName, clash.longName);
        }
        EXPECT_EQ(found, expected) << platform::ToUtf8(relatives[0]) << " " << platform::ToUtf8(relatives.back());
    }
}

TEST(TextRules, BuildCommandExpansion) {
    using building::ExpandBuildCommand;
    EXPECT_EQ(ExpandBuildCommand("Cexe.exe <filename>", "C:\\Out\\Setup.exe"), "Cexe.exe \"C:\\Out\\Setup.exe\"");
    EXPECT_EQ(ExpandBuildCommand("sign <filename> /t <filename>", "S.exe"), "sign \"S.exe\" /t <filename>");
    EXPECT_EQ(ExpandBuildCommand("no tag", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("x <FileName>", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("x <filename", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("a <b> <filename>", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("", "S.exe"), "\"S.exe\"");
}

} // namespace

namespace {

TEST(SetupInf, ElevenLinesAndAnInstallDirOnlyWhereTheWizardHasAFolder) {
    std::vector<std::string> personal = building::SetupInfLines(0);
    ASSERT_EQ(personal.size(), 11u);
    EXPECT_EQ(personal[0], ";==================================================");
    EXPECT_EQ(personal[1], "; Etarvelo generated .inf");
    EXPECT_EQ(personal[6], "Signature = \"$Windows NT$\"");
    EXPECT_EQ(personal[7], "Provider = \"Tarvelo Installer\"");
    EXPECT_EQ(personal[10], "[CEStrings]");
    EXPECT_EQ(building::SetupInfLines(1).back(), "InstallDir = %CE1%\\%AppName%");
    EXPECT_EQ(building::SetupInfLines(2).back(), "InstallDir = %CE11%\\%AppName%");
    EXPECT_EQ(building::SetupInfLines(3).size(), 11u);
    EXPECT_EQ(building::SetupInfLines(-1).size(), 11u);
    EXPECT_EQ(workspace::TargetFolderIndex(38), 1);
    EXPECT_EQ(workspace::TargetFolderIndex(7), -1);
}

} // namespace

namespace {

// The 14-byte file header and a 40-byte information header of a .bmp file.
Bytes BitmapHead(std::int32_t width, std::int32_t height) {
    ByteWriter w;
    w.Raw({'B', 'M'}).U32(0).U32(0).U32(54).U32(40).U32(static_cast<std::uint32_t>(width));
    w.U32(static_cast<std::uint32_t>(height)).Raw({1, 0, 24, 0}).U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
    return w.Data();
}

TEST(SidebarBitmap, OnlyExactly128By280Counts) {
    TempDir dir;
    auto check = [&](const Bytes& bytes) {
        std::u16string path = dir.File(u"side.bmp");
        WriteBytes(path, bytes);
        return workspace::IsSidebarBitmap(path.c_str());
    };
    EXPECT_TRUE(check(BitmapHead(128, 280)));
    EXPECT_TRUE(check(BitmapHead(128, -280))); // top-down rows
    EXPECT_FALSE(check(BitmapHead(127, 280)));
    EXPECT_FALSE(check(BitmapHead(128, 281)));
    EXPECT_FALSE(check(BitmapHead(280, 128)));
    Bytes notBitmap = BitmapHead(128, 280);
    notBitmap[0] = 'P';
    EXPECT_FALSE(check(notBitmap));
    Bytes whole = BitmapHead(128, 280);
    EXPECT_FALSE(check(Bytes(whole.begin(), whole.begin() + 20)));
    EXPECT_FALSE(workspace::IsSidebarBitmap(dir.File(u"missing.bmp").c_str()));
    EXPECT_FALSE(workspace::IsSidebarBitmap(nullptr));
}

} // namespace
