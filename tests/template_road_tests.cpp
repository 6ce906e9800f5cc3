// The whole road under Wine: an application folder gathered by tarvelo-build, made into an
// installer with the built Template.exe, and that installer run silently as a script would run
// it. Also the bare template, which holds no package, and the installer's ways onto a device through
// stand-ins of the desktop's device software.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "template/setup_flow.h"
#include "tests/cli_support.h"
#include "tests/standin_support.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <regex>

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

// The ways onto a device through the desktop's device software, run against the stand-ins of the
// Application Manager and the connection library (tests/standins/), which record what they were
// handed. The package has a program for each processor family besides the shared files.
class TemplateDeviceRoadTest : public TemplateRoadTest {
protected:
    struct Family {
        const char16_t* name;
        const wchar_t* architecture;
        const wchar_t* processorType;
    };
    static constexpr Family kFamilies[] = {
        {u"ARM", L"5", L"2577"}, {u"MIPS", L"1", L"4000"}, {u"SHX", L"4", L"10003"}, {u"INTEL", L"0", L"586"}};

    void SetUp() override {
        if (!StandinsBuilt()) {
            GTEST_SKIP() << "the stand-ins of the device software are built for 32-bit Windows only";
        }
        ASSERT_EQ(RemoveStandins(), "") << "device software that is not ours is installed";
        TemplateRoadTest::SetUp();
        for (const char* cpu : {"shx", "x86"}) {
            WriteBytes(U16(Src() / "data" / "deep" / "er" / "still" / (std::string(cpu) + ".dll")),
                       Pattern(3000, static_cast<std::uint8_t>(cpu[0])));
        }
        SetDateEpoch("1700000000");
        installer = MakeInstaller(Src(), {u"arm.dll=arm", u"mips.dll=mips", u"shx.dll=shx", u"x86.dll=intel"});
        ToolResult r = RunTool({u"cab", installer, u"-d", dir.File(u"cli")}, dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void TearDown() override {
        for (const wchar_t* name : {L"TARVELO_STANDIN_RECORD", L"TARVELO_STANDIN_APPMGR_EXIT", L"TARVELO_STANDIN_LOG",
                                    L"TARVELO_STANDIN_DEVICE", L"TARVELO_STANDIN_ARCH",
                                    L"TARVELO_STANDIN_PROCESSOR_TYPE", L"TARVELO_STANDIN_NO_DEVICE"}) {
            SetEnvironmentVariableW(name, nullptr);
        }
        SetDateEpoch(nullptr);
        EXPECT_EQ(RemoveStandins(), "");
    }

    // Setup.exe in a folder of its own, made from the application folder with the files
    // limited to families as `platforms` says (the files' names, below data\deep\er\still).
    std::u16string MakeInstaller(const fs::path& source, const std::vector<std::u16string>& platforms) {
        std::u16string name = source.filename().u16string();
        std::u16string workspace = dir.File(name + u".orb");
        std::vector<std::u16string> gather{u"gather", U16(source), u"-o", workspace, u"--name", name};
        for (const std::u16string& p : platforms) {
            gather.insert(gather.end(), {u"--platforms", (source == Src() ? u"data\\deep\\er\\still\\" : u"") + p});
        }
        EXPECT_EQ(RunTool(gather, dir.File(u"")).status, 0);
        std::u16string setup = dir.File(u"setup " + name + u"\\Setup.exe");
        fs::create_directories(fs::path(setup).parent_path());
        EXPECT_EQ(RunTool({u"installer", workspace, u"-o", setup, u"--template", TemplatePath()}, dir.File(u"")).status,
                  0);
        return setup;
    }
    static std::string Utf8(const std::wstring& text) {
        return platform::ToUtf8(std::u16string(text.begin(), text.end()));
    }
    static void Set(const wchar_t* name, const std::wstring& value) { SetEnvironmentVariableW(name, value.c_str()); }
    static std::vector<std::string> Lines(const fs::path& file) {
        std::vector<std::string> lines;
        std::string text = Text(ReadBytes(U16(file)));
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
    // Setup's failure: exit status 1 and one line on standard error.
    static void ExpectOneLineFailure(const ToolResult& r) {
        EXPECT_EQ(r.status, 1);
        EXPECT_GT(r.err.size(), 1u);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }

    std::u16string installer;
};

// Every family's cabinet and the .ini beside them, in the folder asked for or below the
// Application Manager's own, wherever the desktop software keeps it; the folder stays.
TEST_F(TemplateDeviceRoadTest, TheApplicationManagerIsStartedOnTheIniOfEveryFamilysCabinet) {
    const fs::path activeSync = dir.Path() / "Microsoft ActiveSync";
    const fs::path windowsMobile = fs::path(WindowsMobileAppMgrPath()).parent_path();
    const fs::path chosen = dir.Path() / "FOLDER with blanks";
    wchar_t local[MAX_PATH] = L"";
    ASSERT_NE(GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH), 0u);
    const fs::path localNotes = fs::path(local) / "Notes";
    ASSERT_FALSE(fs::exists(localNotes)) << "left by another program";
    struct Cleanup {
        fs::path folder;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    } cleanup{localNotes};
    enum class Given { None, Quoted, Unquoted }; // /APPMGR's folder, unquoted blanks and all
    struct Case {
        bool registered; // under App Paths, else in %WINDIR%\WindowsMobile
        Given given;
        fs::path folder;
        bool besideTaken = false; // a file takes the name of the folder beside the Application Manager
    } cases[] = {
        {true, Given::None, activeSync / "Notes"},     {true, Given::Unquoted, chosen},
        {false, Given::None, windowsMobile / "Notes"}, {false, Given::Quoted, chosen},
        {true, Given::None, localNotes, true},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string());
        ASSERT_EQ(RemoveStandins(), "");
        fs::remove_all(chosen);
        fs::remove_all(activeSync / "Notes");
        ASSERT_TRUE(c.registered ? RegisterAppMgr((activeSync / "CEAppMgr.exe").wstring()) : PlaceAppMgrInWindows());
        if (c.besideTaken) {
            WriteBytes(U16(activeSync / "Notes"), Pattern(10));
        }
        fs::path record = dir.Path() / ("record" + std::to_string(++run));
        fs::create_directories(record);
        Set(L"TARVELO_STANDIN_RECORD", record.wstring());

        std::vector<std::u16string> arguments{u"/S", u"/APPMGR"};
        if (c.given != Given::None) {
            arguments.back() += u"=" + U16(chosen);
        }
        if (c.given == Given::Unquoted) {
            std::u16string words = arguments.back();
            arguments.pop_back();
            for (std::size_t start = 0, blank; start <= words.size(); start = blank + 1) {
                blank = std::min(words.find(u' ', start), words.size());
                arguments.push_back(words.substr(start, blank - start));
            }
        }
        ToolResult r = Run(installer, arguments);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");

        // Started once, on the full path of the .ini, which it found whole.
        std::vector<std::string> lines = Lines(record / "appmgr.txt");
        ASSERT_EQ(lines.size(), 9u) << Text(ReadBytes(U16(record / "appmgr.txt")));
        EXPECT_TRUE(lines[0].starts_with("command ") && lines[0].ends_with("\\Notes.ini\"")) << lines[0];
        fs::path ini = fs::path(platform::ToUtf16(lines[1].substr(4)));
        EXPECT_TRUE(fs::equivalent(ini, c.folder / "Notes.ini")) << lines[1];
        std::vector<std::string> found(lines.begin() + 2, lines.end());
        std::vector<std::string> whole{"component Notes",
                                       "cabinet Notes.ARM.CAB ok",
                                       "cabinet Notes.MIPS.CAB ok",
                                       "cabinet Notes.SHX.CAB ok",
                                       "cabinet Notes.INTEL.CAB ok",
                                       "ok",
                                       "exit 0"};
        EXPECT_EQ(found, whole);

        // The .ini in Western text with CRLF lines, and the cabinets cab makes of the installer.
        std::string text = Text(ReadBytes(U16(c.folder / "Notes.ini")));
        EXPECT_EQ(text.find("Description = "), std::string("[CEAppManager]\r\nVersion = 1.0\r\nComponent = Notes\r\n"
                                                           "\r\n[Notes]\r\n")
                                                   .size())
            << text;
        EXPECT_TRUE(text.starts_with("[CEAppManager]\r\nVersion = 1.0\r\nComponent = Notes\r\n\r\n[Notes]\r\n"));
        EXPECT_TRUE(text.ends_with("\r\nUninstall = Notes\r\n"
                                   "CabFiles = Notes.ARM.CAB,Notes.MIPS.CAB,Notes.SHX.CAB,Notes.INTEL.CAB\r\n"))
            << text;
        std::map<std::string, Bytes> expected = FolderContents(dir.Path() / "cli");
        expected["Notes.ini"] = ReadBytes(U16(c.folder / "Notes.ini"));
        EXPECT_EQ(FolderContents(c.folder), expected);
        EXPECT_EQ(FolderContents(record / "run1"), expected);
    }
}

TEST_F(TemplateDeviceRoadTest, WhatTheApplicationManagerCannotTakeFailsTheInstaller) {
    // Its failure: one line, and the files stay for the user to try again.
    const fs::path exe = dir.Path() / "Microsoft ActiveSync" / "CEAppMgr.exe";
    ASSERT_TRUE(RegisterAppMgr(exe.wstring()));
    Set(L"TARVELO_STANDIN_APPMGR_EXIT", L"3");
    ToolResult r = Run(installer, {u"/S", u"/APPMGR=" + dir.File(u"out")});
    ExpectOneLineFailure(r);
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "Notes.ini"));

    // Without an Application Manager (none at all, or a registered one whose file is gone): no
    // folder made, below the one asked for or in the user's own folders.
    wchar_t local[MAX_PATH] = L"";
    ASSERT_NE(GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH), 0u);
    for (bool registered : {false, true}) {
        SCOPED_TRACE(registered ? "registered" : "none");
        ASSERT_EQ(RemoveStandins(), "");
        fs::remove(exe);
        if (registered) {
            ASSERT_TRUE(RegisterAppMgr(exe.wstring()));
            fs::remove(exe);
        }
        for (const std::u16string& option : {u"/APPMGR=" + dir.File(u"none\\here"), std::u16string(u"/APPMGR")}) {
            ExpectOneLineFailure(Run(installer, {u"/S", option}));
        }
        EXPECT_FALSE(fs::exists(dir.Path() / "none"));
        EXPECT_FALSE(fs::exists(fs::path(local) / "Notes"));
        EXPECT_FALSE(fs::exists(exe.parent_path() / "Notes"));
    }
}

// Straight onto the device: the family's cabinet copied into \Temp and the device's installer
// started on it, the link closed at the end.
TEST_F(TemplateDeviceRoadTest, TheDeviceGetsItsFamilysCabinetAndItsInstallerIsStarted) {
    ASSERT_TRUE(InstallRapi());
    for (const Family& family : kFamilies) {
        std::string cpu = platform::ToUtf8(family.name);
        SCOPED_TRACE(cpu);
        fs::path device = dir.Path() / ("device " + cpu), log = dir.Path() / ("rapi " + cpu + ".log");
        fs::create_directories(device);
        if (cpu == "INTEL") {
            fs::create_directories(device / "Temp"); // already there is fine
        }
        Set(L"TARVELO_STANDIN_DEVICE", device.wstring());
        Set(L"TARVELO_STANDIN_LOG", log.wstring());
        Set(L"TARVELO_STANDIN_ARCH", family.architecture);
        Set(L"TARVELO_STANDIN_PROCESSOR_TYPE", family.processorType);

        ToolResult r = Run(installer, {u"/S", u"/DEVICE"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");

        std::string cab = "Notes." + cpu + ".CAB";
        Bytes bytes = ReadBytes(dir.File(u"cli\\Notes." + std::u16string(family.name) + u".CAB"));
        EXPECT_EQ(FolderContents(device), (std::map<std::string, Bytes>{{"Temp/" + cab, bytes}}));
        // The writes in blocks, summed.
        std::vector<std::string> calls;
        std::size_t written = 0;
        for (const std::string& line : Lines(log)) {
            bool write = line.starts_with("write ");
            written += write ? std::stoul(line.substr(6)) : 0;
            if (!write || calls.empty() || calls.back() != "write") {
                calls.push_back(write ? "write" : line);
            }
        }
        EXPECT_EQ(written, bytes.size());
        std::vector<std::string> expected{"loaded " + Utf8(SystemRapiPath()),
                                          "init",
                                          "mkdir \\Temp",
                                          "create \\Temp\\" + cab,
                                          "write",
                                          "close",
                                          "process wceload.exe \"\\Temp\\" + cab + "\"",
                                          "close",
                                          "close",
                                          "uninit"};
        EXPECT_EQ(calls, expected);
    }
}

// Where the device cannot take the package: one line saying why (naming the processor, or with
// the device's own error), nothing started on the device, and the link closed.
TEST_F(TemplateDeviceRoadTest, ADeviceThatCannotTakeThePackageGetsNothing) {
    ASSERT_TRUE(InstallRapi());
    fs::path solo = dir.Path() / "Solo";
    fs::create_directories(solo);
    WriteBytes(U16(solo / "solo.exe"), Pattern(2000, 5));
    std::u16string armOnly = MakeInstaller(solo, {u"solo.exe=arm"});
    struct Case {
        const char* what;
        const wchar_t* architecture;
        const wchar_t* noDevice;
        const char* named; // a pattern the message matches
        bool tempIsFile = false;
    } cases[] = {
        {"a processor the package has no file for", L"4", L"0", "SHX|10003"},
        {"no device connected", L"5", L"1", ""},
        {"\\Temp is a file on the device", L"5", L"0", "\\b3\\b", true}, // ERROR_PATH_NOT_FOUND, from the device
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path device = dir.Path() / ("device" + std::to_string(++run)), log = device.string() + ".log";
        std::map<std::string, Bytes> before;
        fs::create_directories(device);
        if (c.tempIsFile) {
            WriteBytes(U16(device / "Temp"), Pattern(3));
            before["Temp"] = Pattern(3);
        }
        Set(L"TARVELO_STANDIN_DEVICE", device.wstring());
        Set(L"TARVELO_STANDIN_LOG", log.wstring());
        Set(L"TARVELO_STANDIN_ARCH", c.architecture);
        Set(L"TARVELO_STANDIN_PROCESSOR_TYPE", c.architecture == std::wstring(L"4") ? L"10003" : L"2577");
        Set(L"TARVELO_STANDIN_NO_DEVICE", c.noDevice);
        auto start = std::chrono::steady_clock::now();
        ToolResult r = Run(armOnly, {u"/S", u"/DEVICE"});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ExpectOneLineFailure(r);
        EXPECT_LT(seconds, 15.0);
        std::printf("[ measured ] %s: Setup ended after %.1f s\n", c.what, seconds);
        EXPECT_TRUE(std::regex_search(r.err, std::regex(c.named))) << r.err;
        std::vector<std::string> lines = Lines(log);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "init"), 1);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "uninit");
        for (const std::string& line : lines) {
            EXPECT_FALSE(line.starts_with("write ") || line.starts_with("process ")) << line;
        }
        EXPECT_EQ(FolderContents(device), before);
    }
}

// The connection library is the system's: a rapi.dll beside Setup.exe is never loaded, not even
// when the system folder has none.
TEST_F(TemplateDeviceRoadTest, TheConnectionLibraryIsLoadedFromTheSystemFolderOnly) {
    fs::path planted = fs::path(installer).parent_path() / "rapi.dll";
    ASSERT_TRUE(CopyFileW(StandinRapi().c_str(), planted.c_str(), TRUE));
    fs::path device = dir.Path() / "device", log = dir.Path() / "rapi.log";
    fs::create_directories(device);
    Set(L"TARVELO_STANDIN_DEVICE", device.wstring());
    Set(L"TARVELO_STANDIN_LOG", log.wstring());

    ASSERT_TRUE(InstallRapi());
    ToolResult r = Run(installer, {u"/S", u"/DEVICE"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(log);
    std::vector<std::string> loaded;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(loaded),
                 [](const std::string& line) { return line.starts_with("loaded "); });
    EXPECT_EQ(loaded, std::vector<std::string>{"loaded " + Utf8(SystemRapiPath())});

    ASSERT_EQ(RemoveStandins(), "");
    fs::remove(log);
    ExpectOneLineFailure(Run(installer, {u"/S", u"/DEVICE"}));
    EXPECT_FALSE(fs::exists(log)) << Text(ReadBytes(U16(log)));
}

} // namespace
