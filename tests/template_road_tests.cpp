// The whole road under Wine: an application folder gathered by tarvelo-build, made into an
// installer with the built Template.exe, and that installer run silently as a script would run
// it. Also the bare template, which holds no package.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "template/setup_flow.h"
#include "tests/cli_support.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::u16string TemplatePath() {
    std::u16string path = platform::ToUtf16(TARVELO_TEMPLATE_PATH);
    for (char16_t& c : path) {
        c = c == u'/' ? u'\\' : c;
    }
    return path;
}

class TemplateRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Nested folders, empty files, a hidden file, an agreement, and files for one processor.
        sources = {
            {u"Notes.exe", Pattern(70000, 1)},
            {u"readme.txt", BytesOf("Read me.\r\n")},
            {u"empty.txt", {}},
            {u".settings", BytesOf("hidden=1")},
            {u"licence.txt", BytesOf("You may use this program.\n")},
            {u"data/notes.db", Pattern(4096, 2)},
            {u"data/empty/none.dat", {}},
            {u"data/deep/er/still/arm.dll", Pattern(5000, 3)},
            {u"data/deep/er/still/mips.dll", Pattern(6000, 4)},
        };
        for (const auto& [relative, bytes] : sources) {
            fs::path path = Src() / fs::path(relative);
            fs::create_directories(path.parent_path());
            WriteBytes(U16(path), bytes);
        }
        std::wstring hidden = (Src() / ".settings").wstring();
        SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    fs::path Src() const { return dir.Path() / "Notes"; }
    ToolResult Run(const std::u16string& program, const std::vector<std::u16string>& arguments) {
        return RunProgram(program, arguments, dir.File(u""));
    }

    TempDir dir;
    std::map<std::u16string, Bytes> sources;
};

// The sidebar pictures an executable carries, by language.
std::map<std::uint16_t, Bytes> Sidebars(const std::u16string& exe) {
    std::vector<pe::ResourceInfo> resources;
    Error error;
    EXPECT_TRUE(pe::ListResources(exe, resources, error)) << error.message;
    std::map<std::uint16_t, Bytes> found;
    for (const pe::ResourceInfo& r : resources) {
        if (r.type == pe::ResourceKey::Id(pe::kTypeBitmap) && r.name == pe::ResourceKey::Id(251)) {
            EXPECT_TRUE(pe::ReadResource(exe, r.type, r.name, r.language, found[r.language], error));
        }
    }
    return found;
}

TEST_F(TemplateRoadTest, AnInstallerMadeFromAFolderInstallsEveryFileForTheProcessorSilently) {
    std::u16string workspace = dir.File(u"notes.orb"), installer = dir.File(u"Setup.exe");
    ToolResult r = RunTool({u"gather",      U16(Src()),
                            u"-o",          workspace,
                            u"--name",      u"Notes",
                            u"--path",      u"Notes",
                            u"--target",    u"program-files",
                            u"--eula",      u"licence.txt",
                            u"--shortcut",  u"Notes.exe=Notes",
                            u"--shortcut",  u"readme.txt=Read Me",
                            u"--platforms", u"data\\deep\\er\\still\\arm.dll=arm",
                            u"--platforms", u"data\\deep\\er\\still\\mips.dll=mips,shx"},
                           dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunTool({u"installer", workspace, u"-o", installer, u"--template", TemplatePath()}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;

    fs::path arm = dir.Path() / "device arm";
    r = Run(installer, {u"/S", u"/D=" + U16(arm), u"/CPU=ARM"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    std::map<std::string, Bytes> expected;
    for (const auto& [relative, bytes] : sources) {
        if (relative != u"licence.txt" && !relative.ends_with(u"mips.dll")) {
            expected["Program Files/Notes/" + platform::ToUtf8(relative)] = bytes;
        }
    }
    expected["Windows/Start Menu/Programs/Notes.lnk"] = BytesOf("32#\"\\Program Files\\Notes\\Notes.exe\"");
    expected["Windows/Start Menu/Programs/Read Me.lnk"] = BytesOf("33#\"\\Program Files\\Notes\\readme.txt\"");
    EXPECT_EQ(FolderContents(arm), expected);

    fs::path shx = dir.Path() / "device shx";
    r = Run(installer, {u"/S", u"/CPU=shx", u"/D=" + U16(shx)});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, Bytes> installed = FolderContents(shx);
    EXPECT_EQ(installed.count("Program Files/Notes/data/deep/er/still/arm.dll"), 0u);
    EXPECT_EQ(installed["Program Files/Notes/data/deep/er/still/mips.dll"], sources[u"data/deep/er/still/mips.dll"]);

    // A folder that cannot be made: exit status 1 and one line saying why.
    WriteBytes(dir.File(u"taken"), Pattern(1));
    r = Run(installer, {u"/S", u"/D=" + dir.File(u"taken")});
    EXPECT_EQ(r.status, 1);
    std::string line = r.err.substr(0, r.err.find_last_not_of('\n') + 1);
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), std::string::npos) << r.err;
}

// The installation file the installer writes for each processor is the cabinet tarvelo-build
// makes of the same installer, byte for byte.
TEST_F(TemplateRoadTest, TheInstallationFileIsTheCabinetTheCommandLineMakes) {
    std::u16string workspace = dir.File(u"notes.orb"), installer = dir.File(u"Setup.exe");
    ASSERT_EQ(RunTool({u"gather", U16(Src()), u"-o", workspace, u"--name", u"Notes", u"--platforms",
                       u"data\\deep\\er\\still\\arm.dll=arm", u"--platforms", u"data\\deep\\er\\still\\mips.dll=mips"},
                      dir.File(u""))
                  .status,
              0);
    // With the device's options, which the installer keeps for its cabinet way.
    const std::string reg = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Notes]\r\n\"Dir\"=\"%InstallDir%\"\r\n";
    WriteBytes(dir.File(u"notes.reg"), Bytes(reg.begin(), reg.end()));
    WriteBytes(dir.File(u"setup.dll"), Pattern(100, 9));
    ASSERT_EQ(RunTool({u"installer", workspace, u"-o", installer, u"--template", TemplatePath(), u"--registry",
                       dir.File(u"notes.reg"), u"--setup-dll", dir.File(u"setup.dll"), u"--os-version", u"5.0-6.99"},
                      dir.File(u""))
                  .status,
              0);
    SetDateEpoch("1700000000");
    for (const char16_t* cpu : {u"ARM", u"MIPS"}) {
        SCOPED_TRACE(platform::ToUtf8(cpu));
        std::u16string name = u"Notes." + std::u16string(cpu) + u".CAB";
        ToolResult r = RunTool({u"cab", installer, u"-d", dir.File(u"cli"), u"--cpu", cpu}, dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.err;
        // Twice: the second replaces the first without a word.
        for (int run = 0; run < 2; ++run) {
            r = Run(installer, {u"/S", u"/CPU=" + std::u16string(cpu), u"/CAB=" + dir.File(u"new folder")});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(ReadBytes(dir.File(u"new folder\\" + name)), ReadBytes(dir.File(u"cli\\" + name)));
        // The same cabinet as the workspace's with the same options.
        r = RunTool({u"cab", workspace, u"-d", dir.File(u"ws"), u"--cpu", cpu, u"--registry", dir.File(u"notes.reg"),
                     u"--setup-dll", dir.File(u"setup.dll"), u"--os-version", u"5.0-6.99", u"--force"},
                    dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadBytes(dir.File(u"ws\\" + name)), ReadBytes(dir.File(u"cli\\" + name)));
    }
    EXPECT_NE(RunTool({u"info", dir.File(u"new folder\\Notes.ARM.CAB")}, dir.File(u"")).out.find("Setup DLL:      yes"),
              std::string::npos);
    SetDateEpoch(nullptr);
    EXPECT_EQ(FolderContents(dir.Path() / "new folder").size(), 2u);

    // A name taken by a folder: exit status 1, one line, and the folder is left as it was.
    fs::create_directories(dir.Path() / "taken" / "Notes.ARM.CAB");
    ToolResult r = Run(installer, {u"/S", u"/CAB=" + dir.File(u"taken")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("No installation file was written: ")) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_TRUE(fs::is_directory(dir.Path() / "taken" / "Notes.ARM.CAB"));
}

TEST_F(TemplateRoadTest, TheSidebarTheUserChoseTakesThePlaceOfTheTemplatesOwn) {
    std::map<std::uint16_t, Bytes> own = Sidebars(TemplatePath());
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own.begin()->first, pe::kLanguageEnglishUS);

    Bytes picture = MakeBitmap(128, 280, 7);
    WriteBytes(dir.File(u"side.bmp"), picture);
    std::u16string workspace = dir.File(u"notes.orb"), installer = dir.File(u"Setup.exe");
    ToolResult r = RunTool({u"gather", U16(Src()), u"-o", workspace, u"--image", dir.File(u"side.bmp")}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunTool({u"installer", workspace, u"-o", installer, u"--template", TemplatePath()}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::uint16_t, Bytes> stored = Sidebars(installer);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[pe::kLanguageEnglishUS], Bytes(picture.begin() + 14, picture.end()));
}

TEST_F(TemplateRoadTest, TheBareTemplateSaysItHoldsNoPackage) {
    ToolResult r = Run(TemplatePath(), {u"/S", u"/D=" + dir.File(u"device")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "This installer holds no package.\n");
    EXPECT_FALSE(fs::exists(dir.Path() / "device"));

    // Asked for its options in silence, it lists them on standard output and succeeds.
    r = Run(TemplatePath(), {u"/S", u"/?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(installer_template::kUsageText) + "\n");
    EXPECT_EQ(r.err, "");
}

// The system would pick one of several packages by the user's languages: the installer installs
// none of them.
TEST_F(TemplateRoadTest, AnInstallerCarryingMoreThanOnePackageInstallsNone) {
    std::u16string workspace = dir.File(u"notes.orb"), installer = dir.File(u"Setup.exe");
    ASSERT_EQ(RunTool({u"gather", U16(Src()), u"-o", workspace}, dir.File(u"")).status, 0);
    ASSERT_EQ(RunTool({u"installer", workspace, u"-o", installer, u"--template", TemplatePath()}, dir.File(u"")).status,
              0);
    pe::ResourceUpdate other{pe::ResourceKey::Name(u"RT_RCDATA"),
                             pe::ResourceKey::Name(u"ORBDATA"),
                             1031,
                             {ReadBytes(dir.File(u"notes.orb")), {}, 0, 0}};
    Error error;
    ASSERT_TRUE(pe::UpdateResources(installer, {other}, error)) << error.message;
    ToolResult r = Run(installer, {u"/S", u"/D=" + dir.File(u"device")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "This installer holds more than one package.\n");
    EXPECT_FALSE(fs::exists(dir.Path() / "device"));
}

} // namespace
