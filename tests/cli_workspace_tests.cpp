// tarvelo-build's workspace commands: gather makes the workspace a drop makes, set stores what the
// main window's controls store, inf prints the setup lines, and the three-command road from a
// folder to a verified installer.
#include "platform/text.h"
#include "tests/cli_support.h"
#include "workspace/gather.h"
#include "workspace/workspace_file.h"

#include <filesystem>

using namespace testing_support;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Ignore : workspace::GatherSink {
    void FileAdded(std::u16string_view) override {}
    void FileRefused(std::u16string_view) override {}
};

PackageEntry Entry(const Package& p, std::uint32_t i) {
    PackageEntry e{};
    EXPECT_TRUE(p.GetEntry(i, &e));
    return e;
}

// The entry whose path ends with `tail` (in the package's own backslash form).
std::uint32_t IndexOf(const Package& p, std::u16string_view tail) {
    for (std::uint32_t i = 0; i < p.GetCount(); ++i) {
        PackageEntry entry = Entry(p, i);
        std::u16string_view name = FieldText(entry.filename);
        if (name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail) {
            return i;
        }
    }
    ADD_FAILURE() << "no entry ends with " << platform::ToUtf8(tail);
    return 0;
}

TEST_F(CliTest, GatherWritesTheWorkspaceADropMakes) {
    std::u16string orb = dir.File(u"gathered.orb");
    ToolResult r = Run({u"gather", Source(u""), u"-o", orb});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "4 files gathered")) << r.out;

    Package dropped;
    Ignore ignore;
    std::u16string folder = Source(u"");
    workspace::DropItems(dropped, {folder}, ignore);
    dropped.SetTargetFolder(5);
    std::u16string expected = dir.File(u"expected.orb");
    ASSERT_TRUE(workspace::SaveWorkspace(dropped, expected.c_str(), u"", u"Cexe.exe <filename>"));
    EXPECT_EQ(ReadBytes(orb), ReadBytes(expected));

    // A missing path is an error before anything is written.
    std::u16string other = dir.File(u"other.orb");
    r = Run({u"gather", dir.File(u"no-such-folder"), u"-o", other});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "does not exist")) << r.err;
    EXPECT_FALSE(Exists(other));
}

TEST_F(CliTest, SetStoresWhatTheMainWindowStores) {
    ToolResult r = Run({u"set", workspacePath, u"--name", u"Pocket Notes", u"--path", u"Acme\\Notes", u"--target",
                        u"programs", u"--eula", u"sub/eula.txt", u"--shortcut", u"app.exe=My App", u"--platforms",
                        u"data.bin=arm,intel", u"--build-command", u"sign <filename>"});
    ASSERT_EQ(r.status, 0) << r.err;
    Package p;
    ASSERT_TRUE(p.Open(workspacePath.c_str(), 0));
    EXPECT_EQ(std::u16string(FieldText(p.GetHeader().programName)), u"Pocket Notes");
    EXPECT_EQ(std::u16string(FieldText(p.GetHeader().installFolder)), u"Notes"); // its last component
    EXPECT_EQ(p.GetHeader().targetFolder, 2);
    EXPECT_EQ(std::u16string(FieldText(p.GetHeader().buildCommand)), u"sign <filename>");
    EXPECT_EQ(Entry(p, IndexOf(p, u"sub\\eula.txt")).flags, FLAG_EULA); // shown, not installed
    PackageEntry app = Entry(p, IndexOf(p, u"app.exe"));
    EXPECT_TRUE(app.flags & FLAG_SHORTCUT);
    EXPECT_EQ(std::u16string(FieldText(app.shortcutName)), u"My App.lnk");
    EXPECT_EQ(Entry(p, IndexOf(p, u"data.bin")).flags & FLAG_ALL_PLATFORMS, FLAG_ARM | FLAG_INTEL);

    r = Run({u"inf", workspacePath});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "[CEStrings]\nInstallDir = %CE11%\\%AppName%\n")) << r.out;
}

TEST_F(CliTest, SetRefusesWhatItCannotStoreAndLeavesTheWorkspaceAlone) {
    Bytes before = ReadBytes(workspacePath);
    std::u16string small = dir.File(u"small.bmp");
    WriteBytes(small, MakeBitmap(127, 280, 1));
    struct Case {
        std::vector<std::u16string> options;
        const char* message;
    };
    const Case cases[] = {
        {{u"--eula", u"missing.txt"}, "missing.txt: is not a file of this workspace"},
        {{u"--name", u"X", u"--shortcut", u"nope.exe=Nope"}, "is not a file of this workspace"},
        {{u"--target", u"desktop"}, "unknown target"},
        {{u"--platforms", u"app.exe=arm,z80"}, "unknown processor family"},
        {{u"--platforms", u"app.exe"}, "takes FILE=VALUE"},
        {{u"--image", small}, "must be 128 x 280"},
        {{u"--image", Source(u"app.exe")}, "not a readable bitmap"},
        // Names the installer would refuse: no build of the workspace could ever install.
        {{u"--path", u".."}, "--path ..: the program's folder on the device (..) is refused"},
        {{u"--path", u"Tools\\C:"}, "names a drive"},
        {{u"--path", u"NUL "}, "names a device"},
        {{u"--path", u"aux.txt"}, "names a device"},
        {{u"--path", u"a*b"}, "a character Windows does not allow"},
        {{u"--shortcut", u"app.exe=..\\..\\Up"}, "is not a plain file name"},
        {{u"--shortcut", u"app.exe=COM5 "}, "names a device"},
        {{u"--shortcut", u"app.exe=Why?"}, "a character Windows does not allow"},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> arguments{u"set", workspacePath};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ToolResult r = Run(arguments);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
        EXPECT_EQ(ReadBytes(workspacePath), before) << c.message;
    }
    EXPECT_EQ(Run({u"set"}).status, 2);

    // gather applies the same options before it writes anything.
    std::u16string gathered = dir.File(u"gathered.orb");
    ToolResult r = Run({u"gather", Source(u""), u"-o", gathered, u"--path", u"con"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "names a device")) << r.err;
    EXPECT_FALSE(Exists(gathered));
}

TEST_F(CliTest, FromAFolderToAVerifiedInstallerInThreeCommands) {
    std::u16string orb = dir.File(u"app.orb");
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 280, 3));
    ASSERT_EQ(Run({u"gather", Source(u""), u"-o", orb, u"--name", u"Notes", u"--image", bmp}).status, 0);
    ToolResult r = Run({u"installer", orb, u"-o", exe, u"--template", Template(), u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({u"verify", exe, u"--src", Source(u"")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

} // namespace

namespace {

TEST_F(CliTest, TheBuildCommandRunsOnTheNewInstallerOnlyWhenAsked) {
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string record = dir.File(u"record.txt");
#ifdef _WIN32
    std::u16string succeeds = u"cmd.exe /c echo <filename>> \"" + record + u"\"";
    std::u16string fails = u"cmd.exe /c exit 7 <filename>";
#else
    std::u16string script = dir.File(u"record.sh");
    WriteBytes(script, [] {
        std::string text = "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$(dirname \"$0\")/record.txt\"\n";
        return Bytes(text.begin(), text.end());
    }());
    std::filesystem::permissions(std::filesystem::path(script), std::filesystem::perms::owner_all);
    std::u16string succeeds = u"'" + script + u"' <filename>";
    std::u16string fails = u"exit 7 <filename>";
#endif
    ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", succeeds}).status, 0);
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"-q"}).status, 0);
    EXPECT_FALSE(Exists(record)); // not asked for

    ToolResult r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"-q", u"--force",
                        u"--run-build-command"});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes recorded = ReadBytes(record);
    std::string line(recorded.begin(), recorded.end());
    EXPECT_TRUE(Contains(line, platform::ToUtf8(exe))) << line;

#ifndef _WIN32
    // The installer's name reaches the shell as one word, whatever it holds: nothing in it runs.
    for (std::u16string name :
         {u"S$(touch pwned).exe", u"S`touch pwned`.exe", u"it's $HOME.exe", u"a\"b;touch pwned"}) {
        std::u16string odd = dir.File(name);
        r = Run({u"installer", workspacePath, u"-o", odd, u"--template", Template(), u"-q", u"--run-build-command"});
        ASSERT_EQ(r.status, 0) << r.err;
        recorded = ReadBytes(record);
        EXPECT_EQ(std::string(recorded.begin(), recorded.end()), platform::ToUtf8(odd) + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / "pwned"));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ToolPath()).parent_path() / "pwned"));
    }
#endif

    ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", fails}).status, 0);
    r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"-q", u"--force",
             u"--run-build-command"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "exited with status 7")) << r.err;
    EXPECT_TRUE(Exists(exe)); // the installer itself was made
}

} // namespace
