// The build commands' own steps, run against a recording host on every host: the installer made
// from the template in a scratch program folder, the checks before anything is written, the
// package data file, the failures each reported while the build goes on, and the build command's
// line.
#include "building/build_command.h"
#include "building/installer_build.h"
#include "platform/text.h"
#include "tests/test_support.h"
#include "workspace/bitmap.h"
#include "workspace/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace testing_support;

namespace {

namespace fs = std::filesystem;

std::string Ansi(const std::u16string& text) { return platform::ToAnsi(text); }

Bytes Resource(const std::u16string& exe, const pe::ResourceKey& type, const pe::ResourceKey& name) {
    Bytes data;
    Error error;
    if (!pe::ReadResource(exe, type, name, pe::kLanguageEnglishUS, data, error)) {
        return {};
    }
    return data;
}

Bytes PackageResource(const std::u16string& exe) {
    return Resource(exe, pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(u"ORBDATA"));
}

Bytes SidebarResource(const std::u16string& exe) {
    return Resource(exe, pe::ResourceKey::Id(pe::kTypeBitmap), pe::ResourceKey::Id(251));
}

// Records what the build asks of the platform, and what the program folder held while the build
// command ran.
class RecordingHost : public building::InstallerBuildHost {
public:
    std::string CurrentFolder() override { return Ansi(fs::current_path().u16string()); }
    bool SetCurrentFolder(const std::string& folder) override {
        std::error_code error;
        fs::current_path(fs::path(platform::FromAnsi(folder)), error);
        return !error;
    }
    bool BitmapSize(const std::string& path, std::int32_t& width, std::int32_t& height) override {
        return workspace::ReadBitmapSize(platform::FromAnsi(path).c_str(), width, height);
    }
    void RunAndWait(const std::string& commandLine, const std::string& folder) override {
        commands.push_back(commandLine);
        commandFolder = folder;
        currentDuringCommand = CurrentFolder();
    }
    void ShowError(const std::string& text) override { messages.push_back(text); }

    std::vector<std::string> commands;
    std::vector<std::string> messages;
    std::string commandFolder;
    std::string currentDuringCommand;
};

class InstallerBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(programDir.File(u"Template.exe"), ReadBytes(SourceFile(u"tests/data/pe/rsrc-reloc32.exe")));
        for (auto [name, size] : {std::pair{u"app.exe", 9000}, {u"readme.txt", 0}, {u"data.bin", 70000}}) {
            std::u16string path = workDir.File(name);
            WriteBytes(path, Pattern(static_cast<std::size_t>(size), static_cast<std::uint8_t>(size)));
            ASSERT_TRUE(package.AddFile(path.c_str(), 30));
        }
        package.SetProgramName(u"Notes");
        package.SetInstallFolder(u"Notes");
        // As a drop of the folder leaves it: the files' places on the device are below it.
        package.SetSourceFolder((StoredForm(workDir.Path().u16string()) + u"\\").c_str());
        request.programFolder = Ansi(programDir.Path().u16string());
        request.target = Ansi(workDir.File(u"My Setup.exe"));
        request.buildCommand = std::string(building::kDefaultBuildCommand);
        startFolder = fs::current_path();
    }
    void TearDown() override { fs::current_path(startFolder); }

    // Runs the build from a folder of its own and checks what every build leaves behind.
    void Build() {
        fs::current_path(workDir.Path());
        building::MakeInstallerFile(package, request, host, [this](const PackageEntry&, std::int32_t, std::int32_t o) {
            lastOverall = o;
            return std::uint8_t{0};
        });
        EXPECT_EQ(fs::current_path(), workDir.Path()) << "the caller's folder is current again";
        for (const std::string& name : ProgramFolderFiles()) {
            EXPECT_EQ(name, "Template.exe") << "nothing is written beside the program";
        }
        ASSERT_EQ(host.commands.size(), 1u) << "the build command runs whatever failed before";
        EXPECT_EQ(host.commandFolder, request.programFolder);
        EXPECT_EQ(host.currentDuringCommand, request.programFolder);
    }
    std::vector<std::string> ProgramFolderFiles() const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(programDir.Path())) {
            names.push_back(item.path().filename().string());
        }
        return names;
    }
    std::u16string Target() const { return platform::FromAnsi(request.target); }

    TempDir programDir;
    TempDir workDir;
    Package package;
    building::InstallerBuild request;
    RecordingHost host;
    fs::path startFolder;
    std::int32_t lastOverall = 0;
};

TEST_F(InstallerBuildTest, AnInstallerCarriesThePackageFileAndTheSidebarThenTheCommandRunsOnIt) {
    Bytes sidebar = MakeBitmap(128, 280, 7);
    WriteBytes(workDir.File(u"side.bmp"), sidebar);
    request.sidebarPath = Ansi(workDir.File(u"side.bmp"));

    std::u16string dataFile = workDir.File(u"Notes.DAT");
    Error failure = building::WritePackageFile(package, Ansi(dataFile), nullptr);
    EXPECT_FALSE(failure) << failure.message;
    Build();

    EXPECT_EQ(host.messages, std::vector<std::string>{});
    Bytes stored = PackageResource(Target());
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored, ReadBytes(dataFile)) << "the data file is the installer's package, byte for byte";
    EXPECT_EQ(SidebarResource(Target()), Bytes(sidebar.begin() + 14, sidebar.end()));
    EXPECT_EQ(lastOverall, 100);
    EXPECT_EQ(host.commands[0], "Cexe.exe \"" + request.target + "\"");
}

// A failed write leaves no installer, never a bare copy of the template that looks like one, and
// an older installer of the same name as it was.
TEST_F(InstallerBuildTest, APackageThatCannotBeWrittenIsNamedAndLeavesNoInstaller) {
    Package empty;
    fs::current_path(workDir.Path());
    building::MakeInstallerFile(empty, request, host, nullptr);
    EXPECT_EQ(host.messages, std::vector<std::string>{building::kCannotMakeInstallerText})
        << "an empty list says no more";
    EXPECT_FALSE(Exists(Target()));
    ASSERT_EQ(host.commands.size(), 1u);

    host = RecordingHost();
    WriteBytes(Target(), Pattern(77));
    std::u16string member = workDir.File(u"app.exe");
    fs::remove(fs::path(member));
    Build();
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_NE(host.messages[0].find(request.target), std::string::npos) << host.messages[0];
    EXPECT_NE(host.messages[0].find(Ansi(StoredForm(member))), std::string::npos) << host.messages[0];
    EXPECT_EQ(host.messages[1], building::kCannotMakeInstallerText);
    EXPECT_EQ(ReadBytes(Target()), Pattern(77));
}

// What the command line refuses before writing, the window refuses too: in one message naming
// each file, with nothing written; the build command still runs, as after any failed step.
TEST_F(InstallerBuildTest, ProblemsFoundBeforeWritingAreToldTogetherAndNothingIsWritten) {
    const std::u16string templateFile = programDir.File(u"Template.exe");
    const Bytes templateBytes = ReadBytes(templateFile);
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::vector<std::string> said; // in the one message, besides its first line
    };
    // A missing template alone keeps the message users know.
    fs::remove(fs::path(templateFile));
    Build();
    EXPECT_EQ(host.messages, std::vector<std::string>{building::kCannotMakeInstallerText});
    EXPECT_FALSE(Exists(Target()));
    WriteBytes(templateFile, templateBytes);

    std::u16string twin = workDir.File(u"sub");
    const Case cases[] = {
        {"a template that is no executable",
         [&] { WriteBytes(templateFile, Pattern(300)); },
         {"Template.exe: not a usable installer template"}},
        {"a target that is one of the files", [&] { request.target = Ansi(StoredForm(workDir.File(u"app.exe"))); },
         {"is one of the workspace's files"}},
        {"a name the device's code page cannot hold",
         [&] {
             WriteBytes(workDir.File(u"\u65e5\u672c.txt"), Pattern(7));
             package.AddFile(workDir.File(u"\u65e5\u672c.txt").c_str(), 30);
         },
         {"For ARM, MIPS, SHX, INTEL: the installation file for the device cannot be made: "}},
        {"two names that are one file on the device",
         [&] {
             fs::create_directories(fs::path(twin));
             WriteBytes(twin + u"/README.TXT", Pattern(5));
             WriteBytes(twin + u"/readme.txt", Pattern(6));
             package.AddFile((twin + u"/README.TXT").c_str(), 30);
             package.AddFile((twin + u"/readme.txt").c_str(), 30);
         },
         {"README.TXT", "readme.txt", "ARM, MIPS, SHX, INTEL"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host = RecordingHost();
        c.arrange();
        const Bytes member = ReadBytes(workDir.File(u"app.exe"));
        Build();
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].rfind("The installer was not made; nothing was written.\n", 0), 0u) << host.messages[0];
        for (const std::string& text : c.said) {
            EXPECT_NE(host.messages[0].find(text), std::string::npos) << text << " in " << host.messages[0];
        }
        EXPECT_TRUE(ReadBytes(workDir.File(u"app.exe")) == member);
        EXPECT_FALSE(Exists(workDir.File(u"My Setup.exe")));
        WriteBytes(templateFile, templateBytes);
        request.target = Ansi(workDir.File(u"My Setup.exe"));
    }

}

// An empty or blank build command names no program: nothing runs, where the expanded line would
// have started the new installer on the developer's computer.
TEST_F(InstallerBuildTest, ABlankBuildCommandRunsNothing) {
    for (const char* command : {"", "   ", "\t \r\n"}) {
        host = RecordingHost();
        request.buildCommand = command;
        fs::current_path(workDir.Path());
        building::MakeInstallerFile(package, request, host, nullptr);
        EXPECT_TRUE(host.commands.empty()) << "\"" << command << "\"";
        EXPECT_TRUE(host.messages.empty());
        EXPECT_TRUE(Exists(Target()));
    }
    request.buildCommand = "run.bat";
    Build();
    EXPECT_EQ(host.commands[0], "\"" + request.target + "\"") << "a command without the tag keeps its meaning";
}

TEST_F(InstallerBuildTest, ACommandLineThatWouldBeCutIsNotStarted) {
    // "x " and the quoted target, then padding up to exactly the longest line that can start.
    std::size_t fixed = 2 + request.target.size() + 2;
    ASSERT_LT(fixed, building::kLongestCommandLine);
    request.buildCommand = "x <filename>" + std::string(building::kLongestCommandLine - fixed, 'a');
    Build();
    EXPECT_EQ(host.commands[0].size(), building::kLongestCommandLine);
    EXPECT_EQ(host.messages, std::vector<std::string>{});

    host = RecordingHost();
    fs::remove(Target());
    request.buildCommand += "a";
    fs::current_path(workDir.Path());
    building::MakeInstallerFile(package, request, host, nullptr);
    EXPECT_TRUE(host.commands.empty());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("260"), std::string::npos) << host.messages[0];
    EXPECT_EQ(fs::current_path(), workDir.Path());
}

TEST(PackageFile, FailuresNameTheFileAndTheCauseExceptForAnEmptyList) {
    TempDir dir;
    Package package;
    Error failure = building::WritePackageFile(package, Ansi(dir.File(u"empty.DAT")), nullptr);
    EXPECT_EQ(failure.code, ErrorCode::PackageFailed);
    EXPECT_EQ(failure.message, "");
    EXPECT_FALSE(Exists(dir.File(u"empty.DAT")));

    std::u16string member = dir.File(u"a.txt");
    WriteBytes(member, Pattern(100));
    ASSERT_TRUE(package.AddFile(member.c_str(), 30));
    // An earlier failure's text must not be given as this write's cause.
    EXPECT_FALSE(package.Open(dir.File(u"missing.orb").c_str(), 0));
    std::string target = Ansi(dir.File(u"no such folder")) + "\\out.DAT";
    failure = building::WritePackageFile(package, target, nullptr);
    EXPECT_EQ(failure.message, "The package could not be written to \"" + target + "\".\nThe file cannot be created.");

    ASSERT_TRUE(package.AddFile(member.c_str(), 30));
    fs::remove(fs::path(member));
    std::string dat = Ansi(dir.File(u"out.DAT"));
    failure = building::WritePackageFile(package, dat, nullptr);
    EXPECT_NE(failure.message.find("\"" + dat + "\""), std::string::npos) << failure.message;
    EXPECT_NE(failure.message.find(Ansi(StoredForm(member))), std::string::npos) << failure.message;
    EXPECT_FALSE(Exists(dir.File(u"out.DAT")));
}

TEST(BuildCommandLine, TheTargetGoesInQuotedWhereverItsPathHasBlanks) {
    using building::ExpandBuildCommand;
    EXPECT_EQ(ExpandBuildCommand(building::kDefaultBuildCommand, "C:\\My Files\\My Setup.exe"),
              "Cexe.exe \"C:\\My Files\\My Setup.exe\"");
    EXPECT_EQ(ExpandBuildCommand("signtool sign <filename> /v > log.txt", "C:\\a b.exe"),
              "signtool sign \"C:\\a b.exe\" /v > log.txt");
    EXPECT_EQ(ExpandBuildCommand("<filename>", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("x <FILENAME>", "S.exe"), "\"S.exe\"");
    EXPECT_EQ(ExpandBuildCommand("x > <filename>", "S.exe"), "x > \"S.exe\"") << "a '>' before the tag is text";
}

TEST(SaveExtensions, DataFilesAndInstallersGetTheirsUnlessTheNameHasThreeLetters) {
    auto dat = [](std::string_view p) { return workspace::WithExtension(p, building::kDataFileExtension); };
    auto exe = [](std::string_view p) { return workspace::WithExtension(p, building::kInstallerExtension); };
    EXPECT_EQ(dat("C:\\Out\\Notes"), "C:\\Out\\Notes.DAT");
    EXPECT_EQ(dat("C:\\Out\\Notes.dat"), "C:\\Out\\Notes.dat");
    EXPECT_EQ(dat("C:\\Out\\Notes.txt"), "C:\\Out\\Notes.txt");
    EXPECT_EQ(dat("C:\\Out\\Notes.da"), "C:\\Out\\Notes.da.DAT");
    EXPECT_EQ(dat("abc"), "abc.DAT");
    EXPECT_EQ(exe("C:\\Out\\Setup"), "C:\\Out\\Setup.exe");
    EXPECT_EQ(exe("C:\\Out\\Setup.zip"), "C:\\Out\\Setup.zip");
    EXPECT_EQ(exe("C:\\Out\\Setup.ex"), "C:\\Out\\Setup.ex.exe");
    EXPECT_EQ(exe("C:\\Out\\Setup 1.0"), "C:\\Out\\Setup 1.0.exe");
    EXPECT_EQ(exe(".ex"), ".ex.exe");
}

} // namespace

namespace {

// A program in a drive's root: "C:" alone would make the drive's own current folder current.
TEST(InstallerBuildFolders, AProgramInADriveRootEntersTheRoot) {
    struct EnteringHost : RecordingHost {
        bool SetCurrentFolder(const std::string& folder) override {
            entered.push_back(folder);
            return true;
        }
        std::string CurrentFolder() override { return "D:\\work"; }
        std::vector<std::string> entered;
    } host;
    Package package;
    building::InstallerBuild request;
    request.programFolder = "C:";
    request.target = "C:\\nowhere\\x.exe";
    building::MakeInstallerFile(package, request, host, nullptr);
    EXPECT_EQ(host.entered, (std::vector<std::string>{"C:\\", "D:\\work"}));
}

} // namespace
