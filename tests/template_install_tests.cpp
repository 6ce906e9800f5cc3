// The installer's installation, on every host: which members go where below the destination,
// the device's shortcut files, and the refusal of anything that would land outside it.
#include "device/install_plan.h"
#include "device/install_write.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/folder.h"
#include "platform/replacement.h"
#include "platform/target_folders.h"
#include "platform/text.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The package in memory, as the installer holds its own resource.
struct OpenedPackage {
    Bytes bytes;
    Package package;
    explicit OpenedPackage(Bytes b) : bytes(std::move(b)) {
        EXPECT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
            << platform::ToUtf8(package.LastError());
    }
};

device::InstallOutcome Install(Package& package, std::uint32_t cpu, const fs::path& destination,
                               std::string* planCause = nullptr) {
    device::InstallPlan plan;
    Error error;
    if (!device::PlanInstall(package, cpu, plan, error)) {
        if (planCause) {
            *planCause = error.message;
        }
        device::InstallOutcome refused;
        refused.error = error;
        return refused;
    }
    return device::WriteInstall(package, plan, U16(destination), nullptr);
}

class TemplateInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        files = {
            {u"app.exe", Pattern(5000, 1), FLAG_ALL_PLATFORMS | FLAG_SHORTCUT, u"Notes.lnk"},
            {u"sub/deeper/arm.dll", Pattern(4097, 2), FLAG_ARM},
            {u"sub/deeper/mips.dll", Pattern(300, 3), FLAG_MIPS | FLAG_SHORTCUT},
            {u"sub/empty.txt", {}, FLAG_ALL_PLATFORMS},
            {u".hidden", BytesOf("kept"), FLAG_ALL_PLATFORMS},
            {u"eula.txt", BytesOf("Terms.\nMore terms.\n"), FLAG_EULA},
        };
    }
    fs::path Src() const { return dir.Path() / "src"; }
    fs::path Dest(const char* name = "dest") const { return dir.Path() / name; }

    TempDir dir;
    std::vector<AppFile> files;
};

TEST_F(TemplateInstallTest, EachMemberForTheProcessorLandsBelowTheDeviceFolderWithItsBytesAndNothingElse) {
    OpenedPackage opened(WritePackage(Src(), files));
    device::InstallOutcome outcome = Install(opened.package, FLAG_ARM, Dest());
    EXPECT_TRUE(outcome.Complete()) << outcome.error.Line();
    EXPECT_EQ(outcome.filesWritten, 5u);

    std::map<std::string, Bytes> expected{
        {"Program Files/Notes/app.exe", files[0].bytes},
        {"Program Files/Notes/sub/deeper/arm.dll", files[1].bytes},
        {"Program Files/Notes/sub/empty.txt", {}},
        {"Program Files/Notes/.hidden", files[4].bytes},
        {"Windows/Start Menu/Programs/Notes.lnk", BytesOf("30#\"\\Program Files\\Notes\\app.exe\"")},
    };
    EXPECT_EQ(FolderContents(Dest()), expected);

    // Another processor takes its own members, and the shortcut of one without a name of its own
    // is named after the file.
    outcome = Install(opened.package, FLAG_MIPS, Dest("mips"));
    EXPECT_TRUE(outcome.Complete()) << outcome.error.Line();
    std::map<std::string, Bytes> mips = FolderContents(Dest("mips"));
    EXPECT_EQ(mips.count("Program Files/Notes/sub/deeper/arm.dll"), 0u);
    EXPECT_EQ(mips["Program Files/Notes/sub/deeper/mips.dll"], files[2].bytes);
    EXPECT_EQ(Text(mips["Windows/Start Menu/Programs/mips.lnk"]),
              "42#\"\\Program Files\\Notes\\sub\\deeper\\mips.dll\"");

    // Installing again over an earlier installation replaces the files.
    WriteBytes(U16(Dest() / "Program Files/Notes/app.exe"), Pattern(10, 9));
    EXPECT_TRUE(Install(opened.package, FLAG_ARM, Dest()).Complete());
    EXPECT_EQ(FolderContents(Dest()), expected);
}

// What the wizard's progress shows: each file once, before it is written, the members and then the
// shortcuts, with the bytes of the members written before it out of the plan's total.
TEST_F(TemplateInstallTest, TheObserverHearsOfEachFileBeforeItIsWrittenWithTheBytesSoFar) {
    struct Heard {
        std::u16string relative;
        std::uint64_t done, total;
        bool existed;
        bool operator==(const Heard&) const = default;
    };
    struct Recorder : device::InstallObserver {
        fs::path destination;
        std::vector<Heard> heard;
        void FileStarting(const std::u16string& relative, std::uint64_t done, std::uint64_t total) override {
            std::u16string path = relative;
            std::replace(path.begin(), path.end(), u'\\', u'/');
            heard.push_back({relative, done, total, fs::exists(destination / fs::path(path))});
        }
    } recorder;
    recorder.destination = Dest();
    OpenedPackage opened(WritePackage(Src(), files));
    device::InstallPlan plan;
    Error error;
    ASSERT_TRUE(device::PlanInstall(opened.package, FLAG_ARM, plan, error)) << error.message;
    EXPECT_TRUE(device::WriteInstall(opened.package, plan, U16(Dest()), &recorder).Complete());
    const std::uint64_t total = 5000 + 4097 + 0 + 4;
    const std::vector<Heard> expected = {
        {u"Program Files\\Notes\\app.exe", 0, total, false},
        {u"Program Files\\Notes\\sub\\deeper\\arm.dll", 5000, total, false},
        {u"Program Files\\Notes\\sub\\empty.txt", 9097, total, false},
        {u"Program Files\\Notes\\.hidden", 9097, total, false},
        {u"Windows\\Start Menu\\Programs\\Notes.lnk", total, total, false},
    };
    EXPECT_EQ(recorder.heard, expected);
}

TEST_F(TemplateInstallTest, TheTargetFolderChoosesTheDeviceFolder) {
    struct Case {
        std::int32_t target;
        std::u16string installFolder;
        const char* expected;
    };
    const Case cases[] = {
        {kTargetPersonal, u"Notes", "My Documents/Notes/app.exe"},
        {kTargetProgramFiles, u"Notes", "Program Files/Notes/app.exe"},
        {kTargetPrograms, u"Notes", "Windows/Start Menu/Programs/Notes/app.exe"},
        {kTargetRoot, u"Notes", "Notes/app.exe"},
        {kTargetRoot, u"", "app.exe"},
        {kTargetProgramFiles, u"Acme\\Notes", "Program Files/Acme/Notes/app.exe"},
        {0, u"Notes", "Notes/app.exe"}, // never chosen: the root
    };
    int n = 0;
    for (const Case& c : cases) {
        fs::path src = dir.Path() / ("src" + std::to_string(n));
        fs::path dest = dir.Path() / ("dest" + std::to_string(n++));
        OpenedPackage opened(
            WritePackage(src, {{u"app.exe", Pattern(10), FLAG_ARM}}, {u"Notes", c.target, c.installFolder}));
        EXPECT_TRUE(Install(opened.package, FLAG_ARM, dest).Complete()) << c.expected;
        std::map<std::string, Bytes> contents = FolderContents(dest);
        ASSERT_EQ(contents.size(), 1u) << c.expected;
        EXPECT_EQ(contents.begin()->first, c.expected);
    }
}

TEST(TemplateShortcutTest, TheDeviceShortcutCountsTheCharactersAfterTheHash) {
    // The form the device's own shell writes for its browser.
    EXPECT_EQ(device::ShortcutText(u"Windows\\iexplore.exe"), "23#\"\\Windows\\iexplore.exe\"");
    EXPECT_EQ(device::ShortcutText(u"My Documents\\a b\\x.exe"), "25#\"\\My Documents\\a b\\x.exe\"");
    // Characters, not bytes: "é" is two bytes in the file but one character.
    EXPECT_EQ(device::ShortcutText(u"Caf\u00e9.exe"), std::string("11#\"\\Caf\xc3\xa9.exe\""));
}

TEST_F(TemplateInstallTest, MembersAndFoldersThatWouldLeaveTheDestinationAreRefusedBeforeAnythingIsWritten) {
    const std::u16string source = u"C:\\App\\";
    const std::vector<std::vector<CraftedMember>> escaping = {
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}, {u"C:\\App\\..\\..\\evil.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}, {u"C:\\App\\sub\\..\\..\\evil.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}, {u"C:\\App\\\\evil.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}, {u"C:\\App\\D:\\evil.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}, {u"C:\\Other\\evil.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM | FLAG_SHORTCUT, u"..\\..\\evil.lnk"}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM | FLAG_SHORTCUT, u"sub\\evil.lnk"}},
        // Names Windows opens as devices in any folder, trailing blanks and dots dropped first.
        {{u"C:\\App\\COM5 ", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\sub\\NUL \\x.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\con .txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\aux.", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\lpt\u00B9.log", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM | FLAG_SHORTCUT, u"COM5 .lnk"}},
        {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM | FLAG_SHORTCUT, u"conout$.lnk"}},
        // Characters no Windows name may hold.
        {{u"C:\\App\\what?.txt", BytesOf("x"), FLAG_ARM}},
        {{u"C:\\App\\a|b.txt", BytesOf("x"), FLAG_ARM}},
        // Two names that are one file on the device: the later would replace the earlier.
        {{u"C:\\App\\a.txt", BytesOf("1"), FLAG_ARM}, {u"C:\\App\\A.TXT", BytesOf("2"), FLAG_ARM}},
        {{u"C:\\App\\x", BytesOf("1"), FLAG_ARM}, {u"C:\\App\\x. ", BytesOf("2"), FLAG_ARM}},
        {{u"C:\\App\\\u00C9t\u00E9.txt", BytesOf("1"), FLAG_ARM},
         {u"C:\\App\\\u00C9T\u00C9.TXT", BytesOf("2"), FLAG_ARM}},
        {{u"C:\\App\\a", BytesOf("1"), FLAG_ARM}, {u"C:\\App\\A\\b.txt", BytesOf("2"), FLAG_ARM}},
        {{u"C:\\App\\one.txt", BytesOf("1"), FLAG_ARM | FLAG_SHORTCUT, u"Same.lnk"},
         {u"C:\\App\\two.txt", BytesOf("2"), FLAG_ARM | FLAG_SHORTCUT, u"same.lnk"}},
    };
    int n = 0;
    for (const auto& members : escaping) {
        fs::path dest = dir.Path() / ("case" + std::to_string(n++)) / "dest";
        OpenedPackage opened(CraftPackage(source, members));
        std::string cause;
        device::InstallOutcome outcome = Install(opened.package, FLAG_ARM, dest, &cause);
        EXPECT_FALSE(outcome.Complete()) << n;
        EXPECT_FALSE(cause.empty()) << n;
        EXPECT_EQ(outcome.filesWritten, 0u);
        EXPECT_FALSE(fs::exists(dest)) << n;
    }
    // A member for another processor is not installed, so its path does not matter.
    OpenedPackage other(CraftPackage(source, {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM},
                                              {u"C:\\App\\..\\evil.txt", BytesOf("x"), FLAG_MIPS}}));
    EXPECT_TRUE(Install(other.package, FLAG_ARM, Dest()).Complete());

    // The program's folder on the device comes from the package too.
    for (std::u16string installFolder :
         {u"..\\..", u"c:\\program files\\", u"\\Windows", u"a\\..\\..\\b", u"C:", u"NUL ", u"com1.", u"a\\aux .x"}) {
        fs::path dest = dir.Path() / ("folder" + std::to_string(n++));
        OpenedPackage opened(
            CraftPackage(source, {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM}}, {u"Notes", 38, installFolder}));
        EXPECT_FALSE(Install(opened.package, FLAG_ARM, dest).Complete()) << platform::ToUtf8(installFolder);
        EXPECT_FALSE(fs::exists(dest));
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "evil.txt"));
    EXPECT_FALSE(fs::exists(dir.Path() / "evil.lnk"));
}

// What may already lie in the destination when the installer runs: links and junctions planted to
// carry the files elsewhere, a second name of a file elsewhere. Nothing outside the destination
// may change, whatever the installation answers.
TEST_F(TemplateInstallTest, NothingPlantedInTheDestinationCarriesAWriteElsewhere) {
    struct Planted {
        const char* what;
        const char* at; // below the destination
        LinkKind kind;
        const char* cause; // empty: the installation goes through, beside the planted thing
    };
    const std::vector<Planted> cases = {
        {"a link to a folder for the device folder", "Program Files", LinkKind::ToFolder, "is a link"},
        {"a link to a folder for the program's folder", "Program Files/Notes", LinkKind::ToFolder, "is a link"},
        {"a link to a folder for a subfolder", "Program Files/Notes/sub", LinkKind::ToFolder, "is a link"},
#ifndef _WIN32
        // Wine shows a Unix link to a file as the file itself; the write then replaces the link.
        {"a link to a file for a member", "Program Files/Notes/app.exe", LinkKind::ToFile, "a link of that name"},
        {"a link to a file for a shortcut", "Windows/Start Menu/Programs/Notes.lnk", LinkKind::ToFile,
         "a link of that name"},
#endif
        {"a second name of a file for a member", "Program Files/Notes/app.exe", LinkKind::Hard, ""},
    };
    OpenedPackage opened(WritePackage(Src(), files));
    int n = 0;
    for (const Planted& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dest = dir.Path() / ("dest" + std::to_string(n));
        fs::path elsewhere = dir.Path() / ("elsewhere" + std::to_string(n++));
        fs::create_directories(elsewhere);
        WriteBytes(U16(elsewhere / "victim"), Pattern(7));
        fs::create_directories((dest / c.at).parent_path());
        bool toFolder = c.kind == LinkKind::ToFolder;
        if (!PlantLink(toFolder ? elsewhere : elsewhere / "victim", dest / c.at, c.kind)) {
            ADD_FAILURE() << "this host made no link";
            continue;
        }
        device::InstallOutcome outcome = Install(opened.package, FLAG_ARM, dest);
        EXPECT_EQ(outcome.Complete(), std::string(c.cause).empty()) << outcome.error.Line();
        EXPECT_NE(outcome.error.Line().find(c.cause), std::string::npos) << outcome.error.Line();
        EXPECT_EQ(FolderContents(elsewhere), (std::map<std::string, Bytes>{{"victim", Pattern(7)}}));
        if (outcome.Complete()) {
            EXPECT_EQ(ReadBytes(U16(dest / c.at)), files[0].bytes);
        }
    }
}

#ifndef _WIN32
// A pipe would hold the installer up for ever, and a device would swallow the file.
TEST_F(TemplateInstallTest, SomethingThatIsNoFileAtAFilesPlaceStopsTheInstallation) {
    OpenedPackage opened(WritePackage(Src(), files));
    fs::create_directories(Dest() / "Program Files" / "Notes");
    ASSERT_EQ(mkfifo((Dest() / "Program Files" / "Notes" / "app.exe").c_str(), 0600), 0);
    device::InstallOutcome outcome = Install(opened.package, FLAG_ARM, Dest());
    EXPECT_FALSE(outcome.Complete());
    EXPECT_NE(outcome.error.Line().find("not a regular file"), std::string::npos) << outcome.error.Line();
}
#endif

TEST_F(TemplateInstallTest, AFileThatCannotBeWrittenStopsTheInstallationAndSaysWhere) {
    OpenedPackage opened(WritePackage(Src(), files));
    // A file where the program's folder should be.
    fs::create_directories(Dest() / "Program Files");
    WriteBytes(U16(Dest() / "Program Files" / "Notes"), Pattern(3));
    device::InstallOutcome outcome = Install(opened.package, FLAG_ARM, Dest());
    EXPECT_FALSE(outcome.Complete());
    EXPECT_EQ(outcome.filesWritten, 0u);
    EXPECT_EQ(outcome.filesPlanned, 5u);
    EXPECT_NE(outcome.error.Line().find("app.exe"), std::string::npos) << outcome.error.Line();

    // A destination that is itself a file.
    WriteBytes(U16(Dest("file")), Pattern(3));
    EXPECT_FALSE(Install(opened.package, FLAG_ARM, Dest("file")).Complete());
}

} // namespace

namespace {

// Extracting one file after another keeps the folders two files share open: the next file of a
// folder goes into the very folder the last one went into, even when its name has meanwhile been
// taken by a link elsewhere, and a refusal keeps nothing for the next file.
TEST(TargetFoldersTest, SharedFoldersAreOpenedOnceAndNeverThroughALinkPlantedLater) {
    TempDir dir;
    platform::FolderHandle root = platform::FolderHandle::Open(dir.File(u""));
    ASSERT_TRUE(root.IsOpen());
    platform::TargetFolders folders(root);
    std::u16string name;
    Error error;
    const platform::FolderHandle* first = folders.Prepare(u"a\\b\\x.txt", name, error);
    ASSERT_NE(first, nullptr) << error.message;
    EXPECT_EQ(name, u"x.txt");
    EXPECT_EQ(folders.Prepare(u"a\\b\\y.txt", name, error), first);
    EXPECT_EQ(name, u"y.txt");
    const platform::FolderHandle* other = folders.Prepare(u"a\\c\\z.txt", name, error);
    ASSERT_NE(other, nullptr) << error.message;
    EXPECT_EQ(std::filesystem::path(other->PathOf(u"z.txt")), dir.Path() / "a" / "c" / "z.txt");
    EXPECT_EQ(folders.Prepare(u"top.txt", name, error), &root);
    EXPECT_EQ(folders.Prepare(u"", name, error), nullptr);
    EXPECT_EQ(error.message, "it has no name below the destination folder");
#ifndef _WIN32
    // a/c held open, then moved away and replaced by a link to a folder elsewhere.
    std::filesystem::path base = dir.Path();
    std::filesystem::create_directories(base / "elsewhere");
    ASSERT_NE(folders.Prepare(u"a\\c\\one.txt", name, error), nullptr);
    std::filesystem::rename(base / "a" / "c", base / "a" / "moved");
    std::filesystem::create_directory_symlink(base / "elsewhere", base / "a" / "c");
    const platform::FolderHandle* held = folders.Prepare(u"a\\c\\two.txt", name, error);
    ASSERT_NE(held, nullptr) << error.message;
    platform::Replacement out(*held, name);
    ASSERT_TRUE(out.Open() && out.Commit());
    EXPECT_TRUE(std::filesystem::exists(base / "a" / "moved" / "two.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(base / "elsewhere"));
    // Opened afresh after another folder, the link is seen and refused, and so it stays.
    ASSERT_NE(folders.Prepare(u"a\\b\\three.txt", name, error), nullptr);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(folders.Prepare(u"a\\c\\four.txt", name, error), nullptr);
        EXPECT_NE(error.message.find("is a link"), std::string::npos) << error.message;
    }
    EXPECT_TRUE(std::filesystem::is_empty(base / "elsewhere"));
#endif
}

} // namespace
