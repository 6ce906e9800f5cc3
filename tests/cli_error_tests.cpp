// tarvelo-build's failures: each gives exit status 1 and one line on standard error naming the
// file and the cause, and none leaves a half-made output or writes outside its folder.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/cli_support.h"

#include <algorithm>
#include <functional>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Exit status 1 and exactly one error line that names the file and carries the cause.
void ExpectFailure(const ToolResult& r, const std::u16string& file, const std::string& cause) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "tarvelo-build: " + platform::ToUtf8(file) + ": ")) << r.err;
    EXPECT_TRUE(Contains(r.err, cause)) << r.err;
}

TEST_F(CliTest, MissingAndWrongInputs) {
    std::u16string missing = dir.File(u"missing.orb");
    std::u16string out = dir.File(u"out.DAT");
    ExpectFailure(Run({u"dat", missing, u"-o", out}), missing, "no such file");
    ExpectFailure(Run({u"info", missing}), missing, "no such file");
    ExpectFailure(Run({u"installer", missing, u"-o", dir.File(u"S.exe"), u"--template", Template()}), missing,
                  "no such file");
    ExpectFailure(Run({u"verify", dir.File(u"src")}), dir.File(u"src"), "is a folder");
    // An output in a folder that is not there: the system's reason follows.
    std::u16string lost = dir.File(u"none/out.DAT");
    ExpectFailure(Run({u"dat", workspacePath, u"-o", lost}), lost, "cannot create the file (");

    std::u16string text = dir.File(u"notes.txt");
    WriteBytes(text, Pattern(3000));
    ExpectFailure(Run({u"dat", text, u"-o", out}), text, "not a workspace file");
    ExpectFailure(Run({u"dat", Template(), u"-o", out}), Template(), "not a workspace file (it is an executable)");
    ExpectFailure(Run({u"info", Template()}), Template(), "no package in this executable");
    EXPECT_FALSE(Exists(out));

#ifndef _WIN32
    // A pipe given for any input is refused at once, never waited on.
    std::u16string fifo = dir.File(u"pipe");
    ASSERT_EQ(mkfifo(std::filesystem::path(fifo).c_str(), 0600), 0);
    const std::string notRegular = "is not a regular file";
    ExpectFailure(Run({u"info", fifo}), fifo, notRegular);
    ExpectFailure(Run({u"verify", fifo}), fifo, notRegular);
    ExpectFailure(Run({u"dat", fifo, u"-o", out}), fifo, notRegular);
    ExpectFailure(Run({u"installer", workspacePath, u"-o", dir.File(u"S.exe"), u"--template", fifo}), fifo, notRegular);
    std::u16string dat = dir.File(u"good.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    std::filesystem::create_directories(dir.Path() / "pipes" / "sub");
    ASSERT_EQ(mkfifo((dir.Path() / "pipes" / "app.exe").c_str(), 0600), 0);
    ToolResult piped = Run({u"verify", dat, u"--src", dir.File(u"pipes")});
    EXPECT_EQ(piped.status, 1);
    EXPECT_TRUE(Contains(piped.err, "app.exe " + notRegular)) << piped.err;
    std::filesystem::remove(std::filesystem::path(dat));
#endif

    // A member that has gone since the workspace was saved.
    std::filesystem::remove(std::filesystem::path(Source(u"data.bin")));
    ExpectFailure(Run({u"dat", workspacePath, u"-o", out}), workspacePath, "cannot write the package");
    EXPECT_FALSE(Exists(out));
    EXPECT_FALSE(Exists(out + u".tarvelo-part"));
}

TEST_F(CliTest, TruncatedPackagesAreRefused) {
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    Bytes whole = ReadBytes(dat);

    std::u16string cut = dir.File(u"cut.DAT");
    WriteBytes(cut, Bytes(whole.begin(), whole.end() - 100));
    ExpectFailure(Run({u"verify", cut}), cut, "bytes long, expected dataOffset + totalSize");
    ExpectFailure(Run({u"extract", cut, u"-d", dir.File(u"x")}), cut, "cannot be unpacked");
    EXPECT_FALSE(Exists(dir.File(u"x/app.exe")));

    // Cut right after its table, a package still says it has data: it is not a workspace. A
    // workspace saved after a build carries the same header, and is told by its name.
    WriteBytes(cut, Bytes(whole.begin(), whole.begin() + kHeaderSize + 4 * kEntrySize));
    ExpectFailure(Run({u"verify", cut}), cut, "bytes long, expected dataOffset + totalSize");
    ExpectFailure(Run({u"extract", cut, u"-d", dir.File(u"x")}), cut, "cannot be unpacked");
    std::u16string built = dir.File(u"built.orb");
    WriteBytes(built, Bytes(whole.begin(), whole.begin() + kHeaderSize + 4 * kEntrySize));
    ToolResult r = Run({u"verify", built});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(workspace, 4 files)"), std::string::npos) << r.out;

    WriteBytes(cut, Bytes(whole.begin(), whole.begin() + kHeaderSize + 500));
    ExpectFailure(Run({u"info", cut}), cut, "too short for its table of 4 files");
    WriteBytes(cut, Bytes(whole.begin(), whole.begin() + 1000));
    ExpectFailure(Run({u"verify", cut}), cut, "shorter than a package header");
}

TEST_F(CliTest, InstallerFailuresLeaveNoOutput) {
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string notExe = dir.File(u"Template.txt");
    WriteBytes(notExe, Pattern(4000));
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", notExe}), notExe,
                  "not a usable installer template");
    std::u16string none = dir.File(u"none.exe");
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", none}), none, "no such file");
    // A signed template would lose its signature; the refusal says how installers get signed.
    std::u16string signedTemplate = SourceFile(u"tests/data/pe/signed32.exe");
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", signedTemplate}), signedTemplate,
                  "cannot make the installer: The executable is signed; changing its resources would break the "
                  "signature. Use an unsigned copy. Signing comes last: sign the installer after building it, with "
                  "the build command (see \"Signing the installer\" in the help)");

    // An icon file that is not one, and version settings that cannot be stored: the first is a
    // failure, the others a command line to correct (status 2).
    std::u16string ico = dir.File(u"app.ico");
    Bytes cursor = MakeIconFile({{32}});
    cursor[2] = 2;
    WriteBytes(ico, cursor);
    const std::vector<std::u16string> made = {u"installer", workspacePath, u"-o", exe, u"--template", Template()};
    auto with = [&](std::u16string option, std::u16string value) {
        std::vector<std::u16string> arguments = made;
        arguments.insert(arguments.end(), {std::move(option), std::move(value)});
        return Run(arguments);
    };
    ExpectFailure(with(u"--icon", ico), ico, "not a usable icon file: The file is not an icon file");
    ExpectFailure(with(u"--icon", none), none, "not a usable icon file: The icon file could not be opened");
    // More images than our own info and verify would read back.
    std::u16string crowded = dir.File(u"crowded.ico");
    WriteBytes(crowded, MakeIconFile(std::vector<IconSpec>(4097, IconSpec{16})));
    ExpectFailure(with(u"--icon", crowded), exe,
                  "The executable would list 4097 icon images; one resource directory holds at most 4096 entries.");
    const std::pair<std::u16string, std::string> badSettings[] = {
        {u"Comments=x", "unknown key \"Comments\""},
        {u"ProductName", "--version-info ProductName is not KEY=VALUE"},
        {u"FileVersion=1.2.3", "FileVersion \"1.2.3\" is not four numbers below 65536"},
        {u"productversion=1.2.3.65536", "ProductVersion \"1.2.3.65536\" is not four numbers below 65536"},
        {u"FileVersion=1..3.4", "FileVersion \"1..3.4\" is not four numbers"},
        {u"FileVersion=1.2.3.4.5", "FileVersion \"1.2.3.4.5\" is not four numbers"},
    };
    for (const auto& [setting, cause] : badSettings) {
        ToolResult r = with(u"--version-info", setting);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(Contains(r.err, cause)) << r.err;
    }

    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 281, 1));
    SetFieldText(workspace.GetHeader().imageFile, bmp);
    SaveWorkspace(workspace, workspacePath);
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}), bmp,
                  "128 x 281 pixels; it must be 128 x 280");
    WriteBytes(bmp, Pattern(600));
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}), bmp, "not a bitmap");
    EXPECT_FALSE(Exists(exe));
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().string().find(".tarvelo-"), std::string::npos) << entry.path();
    }
}

// A workspace the installer would refuse on every PC it runs on: verify says so and installer
// builds nothing, instead of every user of the installer finding out.
TEST_F(CliTest, BuildsThatCouldNeverInstallAreRefused) {
    struct Case {
        const char* what;
        std::function<void(Package&)> spoil;
        std::string cause;
    };
    std::vector<Case> cases = {
        {"a folder that climbs out", [](Package& p) { p.SetInstallFolder(u".."); }, "climbs out"},
        {"a folder on a drive", [](Package& p) { p.SetInstallFolder(u"C:"); }, "names a drive"},
        {"a folder that is a device", [](Package& p) { p.SetInstallFolder(u"NUL "); }, "names a device"},
        {"a shortcut that climbs out", [](Package& p) { p.SetShortcutName(0, u"..\\Up.lnk"); },
         "is not a plain file name"},
        {"a shortcut that is a device", [](Package& p) { p.SetShortcutName(0, u"aux.lnk"); }, "names a device"},
        {"two files that are one on Windows",
         [&](Package& p) {
             WriteBytes(Source(u"Case.txt"), Pattern(3));
             p.AddFile(Source(u"Case.txt").c_str(), FLAG_ARM);
             WriteBytes(Source(u"CASE.TXT"), Pattern(4));
             p.AddFile(Source(u"CASE.TXT").c_str(), FLAG_ARM | FLAG_MIPS);
         },
         "would not install (ARM): two files would be one on the device"},
        {"a short name beside the long name it may stand for",
         [&](Package& p) {
             WriteBytes(Source(u"longfilename.txt"), Pattern(3));
             p.AddFile(Source(u"longfilename.txt").c_str(), FLAG_MIPS);
             WriteBytes(Source(u"LONGFI~1.TXT"), Pattern(4));
             p.AddFile(Source(u"LONGFI~1.TXT").c_str(), FLAG_MIPS);
         },
         "would not install (MIPS): two files may be one on the device: Program Files\\Notes\\LONGFI~1.TXT and "
         "Program Files\\Notes\\longfilename.txt (LONGFI~1.TXT may be the short name Windows gives longfilename.txt)"},
    };
    std::u16string exe = dir.File(u"Setup.exe");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Package spoilt;
        ASSERT_TRUE(spoilt.Open(workspacePath.c_str(), 0));
        c.spoil(spoilt);
        std::u16string orb = dir.File(u"spoilt.orb");
        SaveWorkspace(spoilt, orb);
        ExpectFailure(Run({u"verify", orb}), orb, c.cause);
        ExpectFailure(Run({u"installer", orb, u"-o", exe, u"--template", Template()}), orb, c.cause);
        EXPECT_FALSE(Exists(exe));
    }
}

// An output that is not a regular file, or that is one of the build's own inputs, is never
// replaced: the build would destroy a device, a folder, a link's target or the very file it reads.
TEST_F(CliTest, OutputsThatAreNoFileToReplaceAreRefused) {
    namespace fs = std::filesystem;
    std::u16string folder = dir.File(u"folder.DAT");
    fs::create_directories(fs::path(folder));
    std::u16string dat = dir.File(u"built.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    struct Case {
        std::vector<std::u16string> arguments;
        std::u16string output;
        std::string cause;
    };
    std::u16string t = Template();
    std::u16string ico = dir.File(u"app.ico");
    WriteBytes(ico, MakeIconFile({{32}}));
    std::vector<Case> cases = {
        {{u"dat", workspacePath}, folder, "is a folder"},
        {{u"dat", workspacePath}, workspacePath, "is the workspace this build reads"},
        {{u"dat", workspacePath}, Source(u"app.exe"), "is one of the workspace's files"},
        {{u"installer", workspacePath, u"--template", t, u"--force"}, t, "is the installer template this build reads"},
        {{u"installer", workspacePath, u"--template", t, u"--force"},
         Source(u"sub/readme.txt"),
         "is one of the workspace's files"},
        {{u"installer", workspacePath, u"--template", t, u"--force"},
         workspacePath,
         "is the workspace this build reads"},
        {{u"installer", workspacePath, u"--template", t, u"--force", u"--icon", ico},
         ico,
         "is the icon this build reads"},
        {{u"gather", Source(u"")}, Source(u"data.bin"), "is one of the workspace's files"},
#ifdef _WIN32
        {{u"dat", workspacePath}, u"NUL", "is not a regular file"},
        {{u"installer", workspacePath, u"--template", t, u"--force"}, dir.File(u"COM1.exe"), "is not a regular file"},
#else
        {{u"dat", workspacePath}, u"/dev/null", "is not a regular file"},
        {{u"dat", workspacePath}, dir.File(u"fifo"), "is not a regular file"},
        {{u"installer", workspacePath, u"--template", t, u"--force"}, dir.File(u"fifo"), "is not a regular file"},
        {{u"dat", workspacePath}, dir.File(u"link.DAT"), "is a link"},
#endif
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo(fs::path(dir.File(u"fifo")).c_str(), 0600), 0);
    ASSERT_TRUE(PlantLink(fs::path(dat), fs::path(dir.File(u"link.DAT")), LinkKind::ToFile));
#endif
    for (const Case& c : cases) {
        std::vector<std::u16string> arguments = c.arguments;
        arguments.insert(arguments.end(), {u"-o", c.output});
        Bytes before = fs::is_regular_file(fs::path(c.output)) ? ReadBytes(c.output) : Bytes{};
        ExpectFailure(Run(arguments), c.output, c.cause);
        if (fs::is_regular_file(fs::path(c.output))) {
            EXPECT_EQ(ReadBytes(c.output), before) << platform::ToUtf8(c.output);
        }
    }
    // A package data file is no workspace: set would drop its data unless told to.
    ExpectFailure(Run({u"set", dat, u"--name", u"X"}), dat, "is a package data file");
    EXPECT_EQ(Run({u"verify", dat}).status, 0);
    ASSERT_EQ(Run({u"set", dat, u"--name", u"X", u"--strip-data"}).status, 0);
    EXPECT_EQ(ReadBytes(dat).size(), kHeaderSize + 4 * kEntrySize);

    // Nothing was left beside the outputs.
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find('~'), std::string::npos) << entry.path();
        EXPECT_EQ(entry.path().filename().string().find(".tarvelo-"), std::string::npos) << entry.path();
    }
}

#ifndef _WIN32
// A build stopped by a signal takes its unfinished files with it and still ends by that signal.
TEST_F(CliTest, AnInterruptedBuildLeavesNothingBehind) {
    namespace fs = std::filesystem;
    std::u16string big = Source(u"big.bin");
    MakeSparseFile(big, std::uint64_t{3} << 29);
    ASSERT_TRUE(workspace.AddFile(big.c_str(), FLAG_ARM));
    SaveWorkspace(workspace, workspacePath);
    std::string tool = platform::ToUtf8(ToolPath());
    std::string ws = platform::ToUtf8(workspacePath);
    std::string out = platform::ToUtf8(dir.File(u"out/Setup.exe"));
    std::string templ = platform::ToUtf8(Template());
    fs::create_directories(dir.Path() / "out");
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        for (bool installer : {false, true}) {
            SCOPED_TRACE(std::to_string(signal) + (installer ? " installer" : " dat"));
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
                dup2(null, 2);
                if (installer) {
                    execl(tool.c_str(), tool.c_str(), "installer", ws.c_str(), "-o", out.c_str(), "--template",
                          templ.c_str(), static_cast<char*>(nullptr));
                } else {
                    execl(tool.c_str(), tool.c_str(), "dat", ws.c_str(), "-o", out.c_str(),
                          static_cast<char*>(nullptr));
                }
                _exit(127);
            }
            // Stopped once the package is on its way.
            auto begun = [&] { return !fs::is_empty(dir.Path() / "out"); };
            for (int i = 0; i < 30000 && !begun(); ++i) {
                usleep(1000);
            }
            EXPECT_TRUE(begun()) << "the build never started writing";
            kill(child, signal);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
        }
    }
}
#endif

// Temporary files are made under names nobody has, never through a link, and a user's file that
// has such a name is neither used nor removed; a second name of a file elsewhere is replaced, not
// written through.
TEST_F(CliTest, TemporaryNamesAndSecondNamesCostTheUserNothing) {
    namespace fs = std::filesystem;
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string victim = dir.File(u"victim.bin");
    WriteBytes(victim, Pattern(11));
    WriteBytes(dir.File(u"Setup.ex~"), Pattern(5));
#ifndef _WIN32
    ASSERT_TRUE(PlantLink(fs::path(victim), fs::path(dir.File(u"Setup.e~1")), LinkKind::ToFile));
#endif
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}).status, 0);
    EXPECT_EQ(ReadBytes(dir.File(u"Setup.ex~")), Pattern(5));
    EXPECT_EQ(ReadBytes(victim), Pattern(11));
#ifndef _WIN32
    EXPECT_TRUE(fs::is_symlink(fs::path(dir.File(u"Setup.e~1"))));
#endif
    EXPECT_EQ(Run({u"verify", exe, u"--src", Source(u"")}).status, 0);

    std::u16string hard = dir.File(u"hard.DAT");
    ASSERT_TRUE(PlantLink(fs::path(victim), fs::path(hard), LinkKind::Hard));
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", hard}).status, 0);
    EXPECT_EQ(ReadBytes(victim), Pattern(11));
    EXPECT_EQ(Run({u"verify", hard}).status, 0);
}

// The system that runs an installer picks among several languages of its package by its own order:
// what info, verify and extract would read need not be what installs.
TEST_F(CliTest, AnInstallerCarryingMoreThanOnePackageIsNotRead) {
    std::u16string exe = dir.File(u"Setup.exe");
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}).status, 0);
    pe::ResourceUpdate other{
        pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(u"ORBDATA"), 0, {ReadBytes(exe), {}, 0, 0}};
    Error error;
    ASSERT_TRUE(pe::UpdateResources(exe, {other}, error)) << error.message;
    for (std::u16string command : {u"info", u"verify", u"extract"}) {
        std::vector<std::u16string> arguments{command, exe};
        if (command == u"extract") {
            arguments.insert(arguments.end(), {u"-d", dir.File(u"out")});
        }
        ExpectFailure(Run(arguments), exe, "holds more than one package");
    }
    EXPECT_FALSE(Exists(dir.File(u"out")));
}

// Without --template the installer template is the Template.exe beside the program itself,
// wherever the program was started from.
TEST_F(CliTest, TheDefaultTemplateLiesBesideTheProgram) {
    namespace fs = std::filesystem;
    fs::create_directories(dir.Path() / "tool");
    fs::path original(ToolPath());
    std::u16string tool = U16(dir.Path() / "tool" / original.filename());
    fs::copy_file(original, fs::path(tool));
    std::u16string beside = U16(dir.Path() / "tool" / "Template.exe");
    std::u16string exe = dir.File(u"Setup.exe");
    ExpectFailure(RunProgram(tool, {u"installer", workspacePath, u"-o", exe}, dir.File(u"")), beside,
                  "cannot open the installer template (no such file)");
    EXPECT_FALSE(Exists(exe));

    WriteBytes(beside, ReadBytes(Template()));
    ToolResult r = RunProgram(tool, {u"installer", workspacePath, u"-o", exe}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    std::u16string explicitTemplate = dir.File(u"explicit.exe");
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", explicitTemplate, u"--template", Template()}).status, 0);
    EXPECT_EQ(ReadBytes(exe), ReadBytes(explicitTemplate));
}

TEST_F(CliTest, AnExistingInstallerIsReplacedOnlyWithForce) {
    std::u16string exe = dir.File(u"Setup.exe");
    WriteBytes(exe, Pattern(77));
    ExpectFailure(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}), exe,
                  "already exists; use --force");
    EXPECT_EQ(ReadBytes(exe), Pattern(77));
    ToolResult r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Run({u"verify", exe, u"--src", Source(u"")}).status, 0);
}

// A package made elsewhere may name members outside its source folder; extracting it must write
// nothing at all, least of all outside the folder.
TEST_F(CliTest, AnExtractionThatWouldEscapeItsFolderWritesNothing) {
    std::filesystem::create_directories(dir.Path() / "src" / "deep");
    WriteBytes(dir.File(u"src/escape.txt"), Pattern(10));
    Package evil;
    ASSERT_TRUE(evil.AddFile(Source(u"app.exe").c_str(), FLAG_ALL_PLATFORMS));
    ASSERT_TRUE(evil.AddFile(Source(u"deep/../escape.txt").c_str(), FLAG_ALL_PLATFORMS));
    evil.SetSourceFolder(StoredForm(Source(u"deep/")).c_str());
    std::u16string dat = dir.File(u"evil.DAT");
    ASSERT_TRUE(evil.Write(dat.c_str(), nullptr));

    std::u16string out = dir.File(u"out/inner");
    ToolResult r = Run({u"extract", dat, u"-d", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "file 0")) << r.err; // app.exe is not under deep/
    EXPECT_TRUE(Contains(r.err, "file 1")) << r.err;
    EXPECT_TRUE(Contains(r.err, "climbs out")) << r.err;
    EXPECT_TRUE(Contains(r.err, "nothing extracted")) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"out/escape.txt")));
    EXPECT_FALSE(Exists(dir.File(u"out/inner/app.exe")));

    // A member stored by an absolute path with an empty source folder.
    evil.SetSourceFolder(u"");
    ASSERT_TRUE(evil.Write(dat.c_str(), nullptr));
    r = Run({u"extract", dat, u"-d", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "absolute")) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"out/inner/app.exe")));

    ExpectFailure(Run({u"extract", workspacePath, u"-d", out}), workspacePath, "holds no file data");
}

// What may already lie in the folder extract writes to: links and junctions planted to carry the
// files elsewhere, a second name of a file elsewhere, a pipe. Nothing outside the folder changes,
// and nothing waits for ever.
TEST_F(CliTest, NothingPlantedInTheDestinationCarriesAnExtractionElsewhere) {
    struct Planted {
        const char* what;
        const char* at; // below the destination
        LinkKind kind;
        std::string cause; // empty: extracted, beside the planted thing
    };
    std::vector<Planted> cases = {
        {"a link to a folder", "sub", LinkKind::ToFolder, "sub is a link (a symbolic link or junction)"},
        {"a second name of a file", "sub/readme.txt", LinkKind::Hard, ""},
#ifndef _WIN32
        {"a link to a file", "app.exe", LinkKind::ToFile, "a link of that name is in the way"},
#endif
    };
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    int n = 0;
    for (const Planted& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::path dest = dir.Path() / ("dest" + std::to_string(n));
        std::filesystem::path elsewhere = dir.Path() / ("elsewhere" + std::to_string(n++));
        std::filesystem::create_directories(elsewhere);
        std::filesystem::create_directories((dest / c.at).parent_path());
        WriteBytes(U16(elsewhere / "victim"), Pattern(7));
        bool toFolder = c.kind == LinkKind::ToFolder;
        ASSERT_TRUE(PlantLink(toFolder ? elsewhere : elsewhere / "victim", dest / c.at, c.kind));
        ToolResult r = Run({u"extract", dat, u"-d", U16(dest)});
        if (c.cause.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(ReadBytes(U16(dest / c.at)), ReadBytes(Source(u"sub/readme.txt")));
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(Contains(r.err, c.cause)) << r.err;
        }
        std::vector<std::string> outside;
        for (const auto& entry : std::filesystem::directory_iterator(elsewhere)) {
            outside.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(outside, std::vector<std::string>{"victim"});
        EXPECT_EQ(ReadBytes(U16(elsewhere / "victim")), Pattern(7));
    }
#ifndef _WIN32
    std::filesystem::path dest = dir.Path() / "fifo";
    std::filesystem::create_directories(dest);
    ASSERT_EQ(mkfifo((dest / "app.exe").c_str(), 0600), 0);
    ExpectFailure(Run({u"extract", dat, u"-d", U16(dest)}), U16(dest / "app.exe"), "not a regular file");
#endif
}

// Where an extraction stops: a destination that cannot be made, the package itself at a member's
// place, a file the system will not let grow. Each names the file and the cause, with the system's
// own words where a call failed; the package is left as it was and no half-written file remains.
TEST_F(CliTest, AnExtractionStopsAtTheFirstFileItCannotWriteAndSaysWhy) {
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    std::u16string blocked = dir.File(u"blocked");
    WriteBytes(blocked, Pattern(3));
    ExpectFailure(Run({u"extract", dat, u"-d", blocked}), blocked, "cannot make the destination folder: ");

    std::filesystem::path inside = dir.Path() / "inside";
    std::filesystem::create_directories(inside);
    std::u16string self = U16(inside / "app.exe");
    WriteBytes(self, ReadBytes(dat));
    ToolResult r = Run({u"extract", self, u"-d", U16(inside)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "app.exe: is the file being extracted")) << r.err;
    EXPECT_EQ(ReadBytes(self), ReadBytes(dat));
#ifndef _WIN32
    // No file may grow past 7 KiB, and the signal that would end the program is ignored: data.bin
    // (9,000 bytes, the last member) cannot be written whole, the others can.
    std::filesystem::path limited = dir.Path() / "limited";
    r = RunProgram(
        u"/bin/bash",
        {u"-c", u"trap '' XFSZ; ulimit -f 7; exec \"$0\" \"$@\"", ToolPath(), u"extract", dat, u"-d", U16(limited)},
        dir.File(u""));
    ExpectFailure(r, U16(limited / "data.bin"),
                  "cannot be extracted: Couldn't write destination file (File too large)");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(limited)) {
        left.push_back(entry.path().lexically_relative(limited).generic_string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"app.exe", "sub", "sub/eula.txt", "sub/readme.txt"}));
    EXPECT_EQ(ReadBytes(U16(limited / "app.exe")), ReadBytes(Source(u"app.exe")));
#endif
}

// Names a package made elsewhere could carry below its source folder: each is refused and
// nothing is extracted.
TEST_F(CliTest, CraftedMemberNamesAreRefused) {
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    Bytes good = ReadBytes(dat);
    std::u16string folder(FieldText(workspace.GetHeader().sourceFolder));
    std::vector<std::pair<std::u16string, std::string>> names = {
        {folder + u"sub\\..\\..\\up.txt", "climbs out"},
        {folder + u"sub\\. .\\up.txt", "climbs out"},
        {folder + u"\\rooted.txt", "absolute"},
        {folder + u"C:\\drive.txt", "names a drive"},
        {u"\\elsewhere\\x.txt", "does not lie under the source folder"},
        // Windows opens a device for these in any folder: refused on every host, since the package
        // installs there.
        {folder + u"sub\\nul.txt", "names a device"},
        {folder + u"sub\\COM5 ", "names a device"},
        {folder + u"con .txt", "names a device"},
        {folder + u"aux.", "names a device"},
        {folder + u"what?.txt", "a character Windows does not allow"},
        // One file on Windows with another member (data.bin), or with the folder of two (sub).
        {folder + u"DATA.BIN", "would be one file on Windows"},
        {folder + u"SUB", "would be one file on Windows"},
        // Windows would make "sub" for "sub. ", and then never find it on the way to a file.
        {folder + u"sub. \\x.txt", "ending in a dot or a blank"},
    };
    std::u16string crafted = dir.File(u"crafted.DAT");
    std::u16string out = dir.File(u"out");
    for (const auto& [name, cause] : names) {
        Bytes bytes = good;
        ByteWriter field;
        field.Text(name);
        std::copy(field.Data().begin(), field.Data().end(), bytes.begin() + kHeaderSize);
        WriteBytes(crafted, bytes);
        ToolResult r = Run({u"extract", crafted, u"-d", out});
        EXPECT_EQ(r.status, 1) << platform::ToUtf8(name);
        EXPECT_TRUE(Contains(r.err, cause)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(out))) << platform::ToUtf8(name);
    }
}

} // namespace

#ifdef TARVELO_FAULT_SHIM
// A disk that fails under one file (EIO) or is full (ENOSPC), made real for tarvelo-build by
// tests/fault_shim.c: the line names the file the system failed on and carries the system's
// reason, instead of a changed source, a short package or a source to blame for a full disk; and
// an output that existed before stays as it was.
TEST_F(CliTest, FailingAndFullDisksAreToldWithTheFileAndTheSystemsReason) {
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 280, 1));
    SetFieldText(workspace.GetHeader().imageFile, bmp);
    SaveWorkspace(workspace, workspacePath);
    std::u16string dat = dir.File(u"out.DAT");
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string cabs = dir.File(u"cabs");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}).status, 0);
    ASSERT_EQ(Run({u"cab", workspacePath, u"-d", cabs}).status, 0);
    std::u16string cab;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(cabs))) {
        if (entry.path().string().ends_with(".ARM.CAB")) {
            cab = U16(entry.path());
        }
    }
    // Earlier outputs, which a failed build must leave as they are.
    std::u16string fullDat = dir.File(u"full.DAT"), fullExe = dir.File(u"full.exe");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", fullDat}).status, 0);
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", fullExe, u"--template", Template()}).status, 0);
    const Bytes earlierDat = ReadBytes(fullDat), earlierExe = ReadBytes(fullExe),
                workspaceBytes = ReadBytes(workspacePath);

    const std::string eio = "(Input/output error)", enospc = "(No space left on device)";
    auto U8 = [](const std::u16string& path) { return platform::ToUtf8(path); };
    struct Case {
        const char* file; // the part of a file's name whose reads or writes fail
        bool write;
        std::uint32_t after; // bytes that pass first
        std::vector<std::u16string> arguments;
        std::string cause;
    };
    const std::vector<std::u16string> newInstaller = {u"installer",         workspacePath, u"-o",
                                                      dir.File(u"new.exe"), u"--template", Template()};
    const Case cases[] = {
        {"data.bin", false, 0, {u"dat", workspacePath, u"-o", dir.File(u"new.DAT")}, "Cannot read file:"},
        {"data.bin", false, 0, newInstaller, "Cannot read file:"},
        {"data.bin", false, 100, {u"verify", dat, u"--src", Source(u"")}, "data.bin cannot be read " + eio},
        {"data.bin", false, 0, {u"cab", workspacePath, u"-d", dir.File(u"cabs2")}, "data.bin cannot be read " + eio},
        {"data.bin",
         false,
         0,
         {u"verify", cab, u"--src", Source(u""), u"--workspace", workspacePath},
         "cannot be read " + eio},
        {"out.DAT",
         false,
         8000,
         {u"extract", dat, u"-d", dir.File(u"x")},
         "Couldn't read the package:" + U8(dat) + " " + eio},
        {"out.DAT", false, 0, {u"info", dat}, "cannot be read " + eio},
        {"out.DAT",
         false,
         8000,
         {u"cab", dat, u"-d", dir.File(u"cabs4")},
         "the package " + U8(dat) + " cannot be read " + eio},
        {"Setup.exe", false, 0, {u"verify", exe}, "cannot be read " + eio},
        {"Template.exe", false, 0, newInstaller, "The executable could not be read. " + eio},
        {"side.bmp", false, 0, newInstaller, "cannot read the sidebar picture " + eio},
        // Past what is read to check the picture: its bytes on their way into the installer.
        {"side.bmp", false, 26, newInstaller, "The resource file could not be read: " + U8(bmp) + " " + eio},
        {"side.bmp", false, 0, {u"set", workspacePath, u"--image", bmp}, "is not a readable bitmap (.bmp) file " + eio},
        {"full",
         true,
         6000,
         {u"dat", workspacePath, u"-o", fullDat},
         "Read != Write file:" + U8(fullDat) + " " + enospc},
        {"full", true, 0, {u"installer", workspacePath, u"-o", fullExe, u"--template", Template(), u"--force"}, enospc},
        {".ARM.", true, 0, {u"cab", workspacePath, u"-d", dir.File(u"cabs3")}, "cannot be written " + enospc},
        {".ARM.", true, 0, {u"inf", workspacePath, u"-d", dir.File(u"infs")}, "cannot be written " + enospc},
        {"ws.", true, 0, {u"set", workspacePath, u"--name", u"Other"}, "cannot be written " + enospc},
        {"data", true, 0, {u"extract", dat, u"-d", dir.File(u"y")}, "Couldn't write destination file " + enospc},
    };
    std::string sanitizer = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    for (const Case& c : cases) {
        // The shim comes before the sanitizer's runtime, which would otherwise insist on being first.
        setenv("LD_PRELOAD", TARVELO_FAULT_SHIM, 1);
        setenv("ASAN_OPTIONS", (sanitizer + ":verify_asan_link_order=0").c_str(), 1);
        setenv("TARVELO_FAULT_PATH", c.file, 1);
        setenv("TARVELO_FAULT_OP", c.write ? "write" : "read", 1);
        setenv("TARVELO_FAULT_ERRNO", std::to_string(c.write ? ENOSPC : EIO).c_str(), 1);
        setenv("TARVELO_FAULT_AFTER", std::to_string(c.after).c_str(), 1);
        ToolResult r = Run(c.arguments);
        for (const char* name :
             {"LD_PRELOAD", "TARVELO_FAULT_PATH", "TARVELO_FAULT_OP", "TARVELO_FAULT_ERRNO", "TARVELO_FAULT_AFTER"}) {
            unsetenv(name);
        }
        setenv("ASAN_OPTIONS", sanitizer.c_str(), 1);
        EXPECT_EQ(r.status, 1) << platform::ToUtf8(c.arguments[0]) << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, c.cause)) << platform::ToUtf8(c.arguments[0]) << " " << c.file << ": " << r.err;
    }
    EXPECT_EQ(ReadBytes(fullDat), earlierDat);
    EXPECT_EQ(ReadBytes(fullExe), earlierExe);
    EXPECT_EQ(ReadBytes(workspacePath), workspaceBytes);
    EXPECT_FALSE(Exists(dir.File(u"new.DAT")));
    EXPECT_FALSE(Exists(dir.File(u"new.exe")));
    // The output folders these runs made are gone again: nothing was written into them.
    for (const char* made : {"cabs2", "cabs3", "cabs4", "infs", "x"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / made)) << made;
    }
}
#endif

// The output folder, and those above it, may be links, junctions or mounted volumes: every
// command takes it as it is reached. A name Windows would trim is refused before anything is made.
TEST_F(CliTest, OutputFoldersMayBeReachedThroughLinks) {
    namespace fs = std::filesystem;
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    fs::create_directories(dir.Path() / "real");
    ASSERT_TRUE(PlantLink(dir.Path() / "real", dir.Path() / "linked", LinkKind::ToFolder));
    const fs::path linked = dir.Path() / "linked";
    for (const std::vector<std::u16string>& arguments :
         {std::vector<std::u16string>{u"cab", workspacePath, u"-d", U16(linked)},
          {u"inf", workspacePath, u"-d", U16(linked / "inf")},
          {u"extract", dat, u"-d", U16(linked / "x")}}) {
        ToolResult r = Run(arguments);
        EXPECT_EQ(r.status, 0) << platform::ToUtf8(arguments[0]) << ": " << r.err;
    }
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "real" / "x" / "app.exe"));
    EXPECT_FALSE(fs::is_empty(dir.Path() / "real" / "inf"));
#ifdef _WIN32
    for (const char* command : {"cab", "inf", "extract"}) {
        std::u16string trimmed = dir.File(u"tdots...");
        std::u16string input = std::string_view(command) == "extract" ? dat : workspacePath;
        ExpectFailure(Run({platform::ToUtf16(command), input, u"-d", trimmed}), trimmed,
                      "the folder name \"tdots...\" ends in a dot or a blank, which Windows drops from names");
        EXPECT_FALSE(fs::exists(dir.Path() / "tdots"));
    }
#endif
}
