// tarvelo-build's workspace commands: gather makes the workspace a drop makes, set stores what the
// main window's controls store, inf prints the setup lines, and the three-command road from a
// folder to a verified installer.
#include "platform/text.h"
#include "tests/cli_support.h"
#include "workspace/gather.h"
#include "workspace/workspace_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>

using namespace testing_support;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Ignore : workspace::GatherSink {
    void FileAdded(std::u16string_view) override {}
    void Refused(std::u16string_view, std::string_view) override {}
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

// A file as its name's bytes say, whatever they are.
void Touch(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

// Whether names differing in case only are two files here, as on Linux, or one, as on Windows.
bool CaseSensitive(const std::filesystem::path& folder) {
    Touch(folder / "case");
    bool two = !std::filesystem::exists(folder / "CASE");
    std::filesystem::remove(folder / "case");
    return two;
}

// Trees that no workspace can hold faithfully. Each problem is one line naming its file, and the
// gather fails without writing a workspace: a half-gathered or ambiguous one would still build.
TEST_F(CliTest, GatherRefusesOddTreesByNameAndWritesNothing) {
    namespace fs = std::filesystem;
    // What a case needs of the host: names Windows cannot make (POSIX only), names differing in
    // case only, links to folders.
    enum class Needs { Nothing, PosixNames, CaseSensitive, Links };
    struct Case {
        const char* what;
        Needs needs;
        std::vector<const char*> files;
        std::vector<std::pair<const char*, const char*>> links; // where, to what
        std::vector<std::string> messages;                      // each printed, one line apiece
        std::vector<const char*> items{""};                     // what gather is given, below the tree
    };
    const std::string back = ": leads back to ";
    const std::string again = ": leads to a folder already gathered as ";
    const std::string outside = ": it does not lie under the source folder ";
    const std::string notText = ": its name is not UTF-8 text";
    const std::string backslash = ": its name holds a backslash, which Windows takes for a folder separator";
    const std::string device = ": its path names a device: ";
    const std::string same = ": is the same file on Windows as ";
    const std::string asFolder = ": on Windows has the name of the folder holding ";
    const std::string refusedCharacter = ": its path holds a character Windows does not allow";
    const Case cases[] = {
        {"links to their own folder", Needs::Links, {"f.txt"}, {{"a", "."}, {"b", "."}}, {"a" + back, "b" + back}},
        {"a link to an ancestor", Needs::Links, {"sub/deeper/f.txt"}, {{"sub/deeper/up", "../.."}}, {"up" + back}},
        {"links to one folder", Needs::Links, {"d/f.txt"}, {{"l1", "d"}, {"l2", "d"}}, {"l1" + again, "l2" + again}},
        {"one folder given twice", Needs::Nothing, {"f.txt"}, {}, {again}, {"", ""}},
        {"a file given beside its folder", Needs::Nothing, {"f.txt"}, {}, {"f.txt: is gathered twice"}, {"", "f.txt"}},
        {"folders side by side", Needs::Nothing, {"one/f.txt", "two/g.txt"}, {}, {"f.txt" + outside}, {"one", "two"}},
        {"a folder name that is not UTF-8", Needs::PosixNames, {"bad\xFF/f.txt"}, {}, {"bad\\xFF" + notText}},
        {"a file name that is not UTF-8", Needs::PosixNames, {"f\xE9.txt"}, {}, {"f\\xE9.txt" + notText}},
        {"a backslash in a name", Needs::PosixNames, {"a/b.txt", "a\\b.txt"}, {}, {"a\\b.txt" + backslash}},
        {"names differing in case", Needs::CaseSensitive, {"a.txt", "A.TXT"}, {}, {"a.txt" + same}},
        {"a trailing dot", Needs::PosixNames, {"x", "x."}, {}, {"x.: its path has a name ending in a dot or a blank"}},
        {"a folder with a trailing blank", Needs::PosixNames, {"sub /f.txt"}, {}, {"sub : its path has a name ending"}},
        {"a file as a folder", Needs::CaseSensitive, {"A", "a/b.txt"}, {}, {"A" + asFolder}},
        {"a device", Needs::PosixNames, {"con.txt"}, {}, {"con.txt" + device + "con.txt"}},
        {"a device with a blank", Needs::PosixNames, {"COM5 "}, {}, {"COM5 " + device + "COM5 "}},
        {"a folder named as a device", Needs::PosixNames, {"aux./a.txt", "aux./b.txt"}, {}, {"aux." + device}},
        {"a name of dots", Needs::PosixNames, {".../f.txt"}, {}, {"...: its path climbs out of the folder"}},
        {"a character Windows refuses", Needs::PosixNames, {"what?.txt"}, {}, {"what?.txt" + refusedCharacter}},
        {"a line break", Needs::PosixNames, {"two\nlines"}, {}, {"two\\x0Alines" + refusedCharacter}},
        {"a short name beside its long one",
         Needs::Nothing,
         {"longfilename.txt", "LONGFI~1.TXT"},
         {},
         {"LONGFI~1.TXT: may be the same file on Windows as "}},
        {"a folder's short name",
         Needs::Nothing,
         {"Long Folder/a.txt", "LONGFO~1/b.txt", "LONGFO~1/c.txt"},
         {},
         {"b.txt: may be the same file on Windows as "}},
    };
    std::u16string orb = dir.File(u"odd.orb");
    int n = 0;
    for (const Case& c : cases) {
        fs::path tree = dir.Path() / ("odd" + std::to_string(n++));
        fs::create_directories(tree);
#ifdef _WIN32
        if (c.needs == Needs::PosixNames) {
            continue;
        }
#endif
        if (c.needs == Needs::CaseSensitive && !CaseSensitive(tree)) {
            continue;
        }
        for (const char* file : c.files) {
            Touch(tree / file);
        }
        std::list<FolderLink> links;
        bool linked = true;
        for (const auto& [where, to] : c.links) {
            linked = links.emplace_back(tree / where, to).Made() && linked;
        }
        if (!linked) {
            continue; // a host that makes no links to folders
        }
        std::vector<std::u16string> arguments{u"gather"};
        for (const char* item : c.items) {
            arguments.push_back(U16(tree / item));
        }
        arguments.insert(arguments.end(), {u"-o", orb});
        ToolResult r = Run(arguments);
        EXPECT_EQ(r.status, 1) << c.what;
        for (const std::string& message : c.messages) {
            EXPECT_TRUE(Contains(r.err, message)) << c.what << ":\n" << r.err;
        }
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), static_cast<std::ptrdiff_t>(c.messages.size()))
            << c.what << ":\n"
            << r.err;
        EXPECT_FALSE(Exists(orb)) << c.what;
        fs::remove(fs::path(orb));
    }
}

TEST_F(CliTest, SetStoresWhatTheMainWindowStores) {
    // FILE as Windows finds a file (any case, either slash, trailing dots dropped), processors in
    // any case.
    ToolResult r = Run({u"set", workspacePath, u"--name", u"Pocket Notes", u"--path", u"Acme\\Notes", u"--target",
                        u"programs", u"--eula", u"SUB\\Eula.txt", u"--shortcut", u"App.exe.=My App", u"--platforms",
                        u"data.BIN=ARM,intel", u"--build-command", u"sign <filename>"});
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

// The values of an INF line as the CAB wizard reads them: the text after the first '=' split at
// the commas outside quotes, ended by a ';' outside quotes; quotes removed ("" inside them is one),
// and %% one %. The '%' of a macro the wizard replaces (%CE1%) reads as '$', so that a name's own
// '%' cannot pass for one.
std::vector<std::string> InfValues(const std::string& text, const std::string& key) {
    std::size_t at = text.find("\r\n" + key + " = ");
    if (at == std::string::npos) {
        return {};
    }
    std::vector<std::string> values(1);
    bool quoted = false;
    for (std::size_t i = at + key.size() + 5; i < text.size() && text[i] != '\r'; ++i) {
        char c = text[i];
        if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"') {
            values.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            values.back() += '%';
            ++i;
        } else if (c == '%') {
            values.back() += '$';
        } else if (!quoted && c == ',') {
            values.emplace_back();
        } else if (!quoted && c == ';') {
            break;
        } else {
            values.back() += c;
        }
    }
    return values;
}

// The whole INF for the CAB wizard: what each family's cabinet holds, in the wizard's own terms.
TEST_F(CliTest, TheCabWizardsInfNamesEveryFileFolderAndShortcutOfItsFamily) {
    auto TextOf = [](const std::u16string& path) {
        Bytes bytes = ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    };
    std::u16string out = dir.File(u"inf");
    ToolResult r = Run({u"inf", workspacePath, u"-d", out, u"--provider", u"Acme 100%"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string arm = TextOf(out + u"/Notes _Pro_.ARM.inf");
    for (const char* line :
         {";==================================================\r\n; Etarvelo generated .inf\r\n",
          "Provider = \"Acme 100%%\"\r\n", "[CEStrings]\r\nAppName = \"Notes \"\"Pro\"\"\"\r\n",
          "InstallDir = \"%CE1%\\Notes\"\r\n", "[CEDevice]\r\nProcessorType = 2577\r\n",
          "CopyFiles = Files.1,Files.2\r\nCEShortcuts = Shortcuts\r\n", "\"data.bin\" = 1\r\n",
          "\"readme.txt\" = 2\r\n", "Files.2 = 0,\"%InstallDir%\\sub\"\r\n", "Shortcuts = 0,%CE11%\r\n",
          "\"app.exe\",\"app.exe\",,0x40000000\r\n", "[Shortcuts]\r\n\"Notes.lnk\",0,\"app.exe\"\r\n"}) {
        EXPECT_TRUE(Contains(arm, line)) << line << "\n" << arm;
    }
    EXPECT_FALSE(Contains(arm, "eula.txt")) << "the licence is for no processor";
    const std::string shx = TextOf(out + u"/Notes _Pro_.SHX.inf");
    EXPECT_TRUE(Contains(shx, "[CEDevice]\r\n\r\n")) << shx; // no one processor number for SHX devices
    EXPECT_FALSE(Contains(shx, "data.bin")) << shx;

    // Names with the INF's own punctuation stay whole, each in its field, and read back as given.
    ASSERT_EQ(Run({u"set", workspacePath, u"--path", u"My;App,x 50%", u"--name", u"a\"b;c,d %AppName%"}).status, 0);
    std::u16string punctuated = dir.File(u"inf-punctuated");
    r = Run({u"inf", workspacePath, u"-d", punctuated, u"--cpu", u"arm", u"--provider", u"P;\"q\",%CE2%"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = TextOf(punctuated + u"/a_b;c,d %AppName%.ARM.inf");
    using Values = std::vector<std::string>;
    EXPECT_EQ(InfValues(text, "Provider"), Values{"P;\"q\",%CE2%"}) << text;
    EXPECT_EQ(InfValues(text, "AppName"), Values{"a\"b;c,d %AppName%"}) << text;
    EXPECT_EQ(InfValues(text, "InstallDir"), Values{"$CE1$\\My;App,x 50%"}) << text;
    // The lists' folders below %InstallDir%, so that they move with the install folder.
    EXPECT_EQ(InfValues(text, "Files.1"), (Values{"0", "$InstallDir$"})) << text;
    EXPECT_EQ(InfValues(text, "Files.2"), (Values{"0", "$InstallDir$\\sub"})) << text;
    EXPECT_EQ(InfValues(text, "Shortcuts"), (Values{"0", "$CE11$"})) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(arm.begin(), arm.end(), '\n')) << text;

    // The wizard finds a source file by its name alone.
    WriteBytes(Source(u"sub/APP.EXE"), Pattern(3, 9));
    ASSERT_TRUE(workspace.AddFile(Source(u"sub/APP.EXE").c_str(), FLAG_ARM));
    SaveWorkspace(workspace, workspacePath);
    r = Run({u"inf", workspacePath, u"-d", dir.File(u"inf2"), u"--cpu", u"arm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "the CAB wizard cannot take two files of one name")) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"inf2")));
}

// A value no workspace could take is a command line to correct (status 2, read before anything
// else); a FILE that names no one file of this workspace, or a picture that cannot be used, is a
// failure (status 1). Neither writes the workspace.
TEST_F(CliTest, SetRefusesWhatItCannotStoreAndLeavesTheWorkspaceAlone) {
    // A second app.exe that differs only in case, installed for no processor so that the
    // workspace still installs.
    Package twin;
    ASSERT_TRUE(twin.Open(workspacePath.c_str(), 0));
    ASSERT_TRUE(twin.AddFile(Source(u"data.bin").c_str(), 0));
    ASSERT_TRUE(twin.SetStoredPath(4, StoredForm(Source(u"App.exe"))));
    SaveWorkspace(twin, workspacePath);
    Bytes before = ReadBytes(workspacePath);
    std::u16string small = dir.File(u"small.bmp");
    WriteBytes(small, MakeBitmap(127, 280, 1));
    struct Case {
        std::vector<std::u16string> options;
        int status;
        const char* message;
        long lines = 1; // a line for each file concerned
    };
    const Case cases[] = {
        {{u"--eula", u"missing.txt"}, 1, "missing.txt: is not a file of this workspace\n"},
        {{u"--eula", u"sub/eula.text"},
         1,
         "sub/eula.text: is not a file of this workspace; did you mean sub\\eula.txt?"},
        {{u"--name", u"X", u"--shortcut", u"nope.exe=Nope"}, 1, "is not a file of this workspace"},
        {{u"--eula", u"APP.EXE"},
         1,
         "APP.EXE: names more than one file of this workspace, which differ only in case (app.exe, App.exe)"},
        {{u"--platforms", u"app.EXE=arm"}, 1, "app.EXE: names more than one file"},
        {{u"--target", u"desktop"},
         2,
         "set: --target: unknown target \"desktop\" (personal, program-files, programs, root); "
         "see \"tarvelo-build set --help\""},
        {{u"--target", u"program_files"},
         2,
         "unknown target \"program_files\" (personal, program-files, programs, root); "
         "did you mean \"program-files\"?\n"},
        {{u"--platforms", u"app.exe=arm,z80"}, 2, "--platforms: unknown processor family \"z80\""},
        {{u"--platforms", u"nope.exe=arm,z80"}, 2, "unknown processor family"}, // the value before the file
        {{u"--platforms", u"app.exe"}, 2, "--platforms takes FILE=VALUE, not \"app.exe\""},
        {{u"--shortcut", u"=Label"}, 2, "--shortcut takes FILE=VALUE"},
        {{u"--image", small}, 1, "must be 128 x 280"},
        {{u"--image", Source(u"app.exe")}, 1, "not a readable bitmap"},
        {{u"--build-command", std::u16string(260, u'x')}, 2, "--build-command is longer than the 259 characters"},
        // Names the installer would refuse: no build of the workspace could ever install.
        {{u"--path", u".."}, 2, "--path ..: the program's folder on the device (..) is refused"},
        {{u"--path", u"Tools\\C:"}, 2, "names a drive"},
        {{u"--path", u"NUL "}, 2, "names a device"},
        {{u"--path", u"aux.txt"}, 2, "names a device"},
        {{u"--path", u"a*b"}, 2, "a character Windows does not allow"},
        {{u"--shortcut", u"app.exe=..\\..\\Up"}, 2, "is not a plain file name"},
        {{u"--shortcut", u"nope.exe=COM5 "}, 2, "names a device"},
        {{u"--shortcut", u"app.exe=Why?"}, 2, "a character Windows does not allow"},
        // Control characters, a line break first, in every name the workspace stores.
        {{u"--name", u"Notes\n[Strings]"}, 2, "--name \"Notes\\x0A[Strings]\" holds a control character"},
        {{u"--path", u"My\rApp"}, 2, "(My\\x0DApp) is refused: its path holds a character Windows does not allow"},
        {{u"--shortcut", u"app.exe=Tab\tbed"}, 2, "the shortcut name Tab\\x09bed.lnk is not a plain file name"},
        {{u"--shortcut", u"app.exe=Same", u"--shortcut", u"data.bin=SAME"}, 1, "two files would be one on the device"},
        // The files' paths on the device would be too long: that depends on the files.
        {{u"--path", std::u16string(250, u'a')}, 1, "longer than 259 characters", 3},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> arguments{u"set", workspacePath};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ToolResult r = Run(arguments);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.lines) << r.err;
        EXPECT_EQ(ReadBytes(workspacePath), before) << c.message;
    }
    EXPECT_EQ(Run({u"set"}).status, 2);

    // Spelt exactly, either of the two is found.
    ASSERT_EQ(Run({u"set", workspacePath, u"--eula", u"App.exe"}).status, 0);
    Package p;
    ASSERT_TRUE(p.Open(workspacePath.c_str(), 0));
    EXPECT_EQ(Entry(p, 4).flags, FLAG_EULA);
    EXPECT_EQ(Entry(p, 0).flags, FLAG_ALL_PLATFORMS | FLAG_SHORTCUT);

    // gather applies the same options before it writes anything, and refuses a wrong value before
    // it reads a file.
    std::u16string gathered = dir.File(u"gathered.orb");
    ToolResult r = Run({u"gather", Source(u""), u"-o", gathered, u"--path", u"con"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "names a device")) << r.err;
    r = Run({u"gather", dir.File(u"no-such-folder"), u"-o", gathered, u"--target", u"desk"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "unknown target")) << r.err;
    r = Run({u"gather", Source(u""), u"-o", gathered, u"--eula", u"sub/EULA.TXT", u"--shortcut", u"missing=M"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "missing: is not a file of this workspace")) << r.err;
    EXPECT_FALSE(Exists(gathered));

    // A workspace file that holds a control character in a name still opens, so that set can put it
    // right; nothing is built or saved from it until then, and every refusal names the field.
    std::u16string broken = dir.File(u"broken.orb");
    workspace.SetProgramName(u"Notes\r\n[Strings]");
    SaveWorkspace(workspace, broken);
    const std::vector<std::u16string> uses[] = {
        {u"inf", broken, u"-d", dir.File(u"inf-broken")},
        {u"cab", broken, u"-d", dir.File(u"cab-broken")},
        {u"installer", broken, u"-o", dir.File(u"broken.exe"), u"--template", Template()},
        {u"verify", broken},
        {u"set", broken, u"--path", u"Other"},
    };
    for (const std::vector<std::u16string>& use : uses) {
        r = Run(use);
        EXPECT_EQ(r.status, 1) << platform::ToUtf8(use[0]);
        EXPECT_TRUE(Contains(r.err, "the program name Notes\\x0D\\x0A[Strings] holds a control character")) << r.err;
    }
    EXPECT_FALSE(Exists(dir.File(u"inf-broken")) || Exists(dir.File(u"cab-broken")) || Exists(dir.File(u"broken.exe")));
    EXPECT_EQ(Run({u"set", broken, u"--name", u"Notes"}).status, 0);
    EXPECT_EQ(Run({u"verify", broken}).status, 0);
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
    // The installer's name reaches the shell that runs it as one word, whatever it holds and
    // wherever the tag stands: outside quotes, or in the single or double quotes of a text handed
    // to a further shell. Nothing in the name runs.
    std::vector<std::u16string> forms = {succeeds, u"sh -c \"'" + script + u"' <filename>\"",
                                         u"sh -c 'exec \"$0\" <filename>' '" + script + u"'"};
    for (const std::u16string& form : forms) {
        ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", form}).status, 0);
        for (std::u16string name : {u"S$(touch pwned).exe", u"S`touch pwned`.exe", u"it's $HOME.exe",
                                    u"a\"b;touch pwned", u"c'\"$(touch pwned)'"}) {
            std::u16string odd = dir.File(name);
            r = Run(
                {u"installer", workspacePath, u"-o", odd, u"--template", Template(), u"-q", u"--run-build-command"});
            ASSERT_EQ(r.status, 0) << r.err << platform::ToUtf8(form);
            recorded = ReadBytes(record);
            EXPECT_EQ(std::string(recorded.begin(), recorded.end()), platform::ToUtf8(odd) + "\n")
                << platform::ToUtf8(form);
            EXPECT_FALSE(std::filesystem::exists(dir.Path() / "pwned"));
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ToolPath()).parent_path() / "pwned"));
            std::filesystem::remove(std::filesystem::path(odd));
        }
    }
#endif

    ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", fails}).status, 0);
    r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"-q", u"--force",
             u"--run-build-command"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "exited with status 7")) << r.err;
    EXPECT_TRUE(Exists(exe)); // the installer itself was made

    // A blank command names no program: expanded, it would start the new installer itself.
    ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", u" "}).status, 0);
    r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"--force", u"--run-build-command"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "nothing was run")) << r.out;
}

} // namespace

// Workspaces saved by the main window on Windows, built here from a copy of their folder.
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kWindowsFolder = u"C:\\Work\\App\\";

// A package's header and table as the main window on Windows stores them for the same files in
// C:\Work\App\: the source folder, and the part up to it of each member's path and of the
// sidebar picture's, replaced; `renamed` stores the last member under another path instead.
void ToWindowsPaths(Bytes& bytes, std::u16string_view nativeFolder, std::u16string_view renamed = {}) {
    PackageHeader header{};
    std::memcpy(&header, bytes.data(), kHeaderSize);
    SetFieldText(header.sourceFolder, kWindowsFolder);
    std::u16string image = StoredForm(std::u16string(FieldText(header.imageFile)));
    if (image.starts_with(nativeFolder)) {
        SetFieldText(header.imageFile, std::u16string(kWindowsFolder) + image.substr(nativeFolder.size()));
    }
    std::memcpy(bytes.data(), &header, kHeaderSize);
    for (std::uint32_t i = 0; i < header.count; ++i) {
        PackageEntry entry{};
        std::uint8_t* at = bytes.data() + kHeaderSize + std::size_t{i} * kEntrySize;
        std::memcpy(&entry, at, kEntrySize);
        std::u16string name(FieldText(entry.filename));
        ASSERT_EQ(name.compare(0, nativeFolder.size(), nativeFolder), 0) << platform::ToUtf8(name);
        name = std::u16string(kWindowsFolder) + name.substr(nativeFolder.size());
        SetFieldText(entry.filename, i + 1 == header.count && !renamed.empty() ? renamed : name);
        std::memcpy(at, &entry, kEntrySize);
    }
}

class TravelTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(Run({u"dat", workspacePath, u"-o", nativeDat, u"--quiet"}).status, 0);
        SaveOnWindows(windowsPath);
    }

    // The workspace as the window on Windows saves it: opened from its header and table, saved
    // again by the workspace writer.
    void SaveOnWindows(const std::u16string& path, std::u16string_view renamed = {}) {
        Bytes bytes = ReadBytes(workspacePath);
        ToWindowsPaths(bytes, StoredForm(Source(u"")), renamed);
        std::u16string table = dir.File(u"table.tmp");
        WriteBytes(table, bytes);
        Package windows;
        ASSERT_TRUE(windows.Open(table.c_str(), 0));
        SaveWorkspace(windows, path);
    }

    // A copy of the application's folder, as it arrives from Windows.
    std::u16string CopyOfSources(std::u16string_view name) {
        fs::path copy = dir.Path() / fs::path(name);
        fs::copy(dir.Path() / "src", copy, fs::copy_options::recursive);
        return U16(copy);
    }

    // The package the window on Windows writes: the native one with the stored paths of Windows.
    Bytes WindowsPackage() {
        Bytes expected = ReadBytes(nativeDat);
        ToWindowsPaths(expected, StoredForm(Source(u"")));
        return expected;
    }

    std::u16string nativeDat = dir.File(u"native.DAT");
    std::u16string windowsPath = dir.File(u"windows.orb");
};

TEST_F(TravelTest, AWorkspaceSavedOnWindowsBuildsBelowItsSourceFolder) {
    // Today's build reads C:\Work\App\... and finds nothing there.
    std::u16string dat = dir.File(u"windows.DAT");
    ToolResult r = Run({u"dat", windowsPath, u"-o", dat, u"--quiet"});
    ASSERT_EQ(r.status, 1);
    EXPECT_FALSE(Exists(dat));

    std::u16string copy = CopyOfSources(u"arrived");
    r = Run({u"dat", windowsPath, u"-o", dat, u"--source-folder", copy, u"--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dat), WindowsPackage());

    // A native workspace read from elsewhere still stores its own paths: the same package.
    std::u16string moved = dir.File(u"moved.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", moved, u"--source-folder", copy, u"--quiet"}).status, 0);
    EXPECT_EQ(ReadBytes(moved), ReadBytes(nativeDat));

    std::u16string exe = dir.File(u"Setup.exe");
    r = Run({u"installer", windowsPath, u"-o", exe, u"--template", Template(), u"--source-folder", copy, u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    Package installer;
    ASSERT_TRUE(installer.OpenModule(exe.c_str(), nullptr));
    EXPECT_EQ(std::u16string(FieldText(installer.GetHeader().sourceFolder)), kWindowsFolder);
    for (const std::u16string& path : {exe, dat}) {
        r = Run({u"verify", path, u"--src", copy});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "members match the sources")) << r.out;
    }
    r = Run({u"verify", windowsPath, u"--source-folder", copy});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "every file found below")) << r.out;

    std::u16string cabs = dir.File(u"cabs");
    r = Run({u"cab", windowsPath, u"-d", cabs, u"--source-folder", copy, u"--cpu", u"arm", u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({u"verify", cabs + u"/Notes _Pro_.ARM.CAB", u"--src", copy, u"--workspace", windowsPath});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The wizard runs where the workspace was made: the INF names that folder.
    r = Run({u"inf", windowsPath, u"-d", dir.File(u"inf"), u"--source-folder", copy, u"--cpu", u"arm", u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes inf = ReadBytes(dir.File(u"inf/Notes _Pro_.ARM.inf"));
    EXPECT_TRUE(Contains(std::string(inf.begin(), inf.end()), "C:\\Work\\App"));

    // The files found are the workspace's own: no output may replace one.
    r = Run({u"dat", windowsPath, u"-o", copy + u"/data.bin", u"--source-folder", copy, u"--quiet"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "is one of the workspace's files")) << r.err;

    // A sidebar picture kept in the source folder travels with the files; one elsewhere does not.
    WriteBytes(Source(u"side.bmp"), MakeBitmap(128, 280, 5));
    ASSERT_EQ(Run({u"set", workspacePath, u"--image", Source(u"side.bmp")}).status, 0);
    SaveOnWindows(windowsPath);
    fs::copy(fs::path(Source(u"side.bmp")), fs::path(copy) / "side.bmp");
    r = Run({u"installer", windowsPath, u"-o", exe, u"--template", Template(), u"--source-folder", copy, u"-f"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "and a sidebar picture")) << r.out;
    fs::remove(fs::path(copy) / "side.bmp");
    r = Run({u"installer", windowsPath, u"-o", exe, u"--template", Template(), u"--source-folder", copy, u"-f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "cannot find the sidebar picture: no such file: ")) << r.err;
}

// Whether `text` occurs in the bytes as 8-bit text or as UTF-16LE.
bool HoldsText(const Bytes& bytes, const std::string& text) {
    std::string wide;
    for (char c : text) {
        wide += c;
        wide += '\0';
    }
    std::string all(bytes.begin(), bytes.end());
    return all.find(text) != std::string::npos || all.find(wide) != std::string::npos;
}

// --source-prefix: a build here stores what the main window on Windows stores for the same files
// in the prefix's folder; the same tree gathered in two folders builds the same bytes, and
// nothing of this computer's folders ships.
TEST_F(TravelTest, ASourcePrefixStoresThePathsOfAWindowsFolderWhereverTheTreeLies) {
    std::u16string dat = dir.File(u"prefixed.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat, u"--source-prefix", u"C:\\Work\\App", u"-q"}).status, 0);
    EXPECT_EQ(ReadBytes(dat), WindowsPackage());
    // With --source-folder as well, from a workspace saved on Windows.
    std::u16string copy = CopyOfSources(u"arrived");
    ASSERT_EQ(
        Run({u"dat", windowsPath, u"-o", dat, u"--source-folder", copy, u"--source-prefix", u"C:/Work/App/", u"-q"})
            .status,
        0);
    EXPECT_EQ(ReadBytes(dat), WindowsPackage()) << "slashes are stored as backslashes";

    // One tree, made in the same order in two folders, with its sidebar picture among its files.
    SetDateEpoch("1700000000");
    std::map<std::string, Bytes> outputs;
    const std::vector<std::u16string> prefix = {u"--source-prefix", u"\\\\builds\\share\\Notes", u"-q"};
    for (const char* machine : {"build-machine-one", "build-machine-two"}) {
        fs::path tree = dir.Path() / machine / "tree";
        for (const std::u16string& relative : relatives) {
            fs::create_directories((tree / fs::path(relative)).parent_path());
            fs::copy_file(fs::path(Source(relative)), tree / fs::path(relative));
        }
        WriteBytes(U16(tree / "side.bmp"), MakeBitmap(128, 280, 5));
        std::u16string orb = U16(dir.Path() / machine / "app.orb");
        ToolResult r = Run({u"gather", U16(tree), u"-o", orb, u"--name", u"Notes", u"--image", U16(tree / "side.bmp")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::u16string out = U16(dir.Path() / machine);
        std::vector<std::vector<std::u16string>> builds = {
            {u"dat", orb, u"-o", out + u"/app.DAT"},
            {u"installer", orb, u"-o", out + u"/Setup.exe", u"--template", Template()},
            {u"cab", orb, u"-d", out + u"/cab", u"--cpu", u"ARM"},
        };
        for (std::vector<std::u16string> build : builds) {
            build.insert(build.end(), prefix.begin(), prefix.end());
            r = Run(build);
            ASSERT_EQ(r.status, 0) << r.err;
        }
        for (const char* name : {"app.DAT", "Setup.exe", "cab/Notes.ARM.CAB"}) {
            Bytes bytes = ReadBytes(U16(dir.Path() / machine / name));
            for (const std::string& folder : {std::string("build-machine"), dir.Path().filename().string()}) {
                EXPECT_FALSE(HoldsText(bytes, folder)) << name << " holds " << folder;
            }
            auto [at, first] = outputs.emplace(name, bytes);
            EXPECT_TRUE(first || at->second == bytes) << name << " differs between the two folders";
        }
        r = Run({u"verify", out + u"/Setup.exe", u"--src", U16(tree)});
        EXPECT_EQ(r.status, 0) << r.err;
    }
    SetDateEpoch(nullptr);
    Package built;
    ASSERT_TRUE(built.Open(dir.File(u"build-machine-one/app.DAT").c_str(), 0));
    EXPECT_EQ(std::u16string(FieldText(built.GetHeader().sourceFolder)), u"\\\\builds\\share\\Notes\\");
    EXPECT_EQ(std::u16string(FieldText(built.GetHeader().imageFile)), u"\\\\builds\\share\\Notes\\side.bmp");

    // A picture kept elsewhere is stored by its name alone; a member outside the source folder has
    // no place below the prefix.
    WriteBytes(dir.File(u"elsewhere.bmp"), MakeBitmap(128, 280, 6));
    ASSERT_EQ(Run({u"set", workspacePath, u"--image", dir.File(u"elsewhere.bmp")}).status, 0);
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat, u"--source-prefix", u"D:\\", u"-q"}).status, 0);
    ASSERT_TRUE(built.Open(dat.c_str(), 0));
    EXPECT_EQ(std::u16string(FieldText(built.GetHeader().imageFile)), u"elsewhere.bmp");
    EXPECT_EQ(std::u16string(FieldText(built.GetHeader().sourceFolder)), u"D:\\");
    EXPECT_EQ(std::u16string(FieldText(built.Entries()[1].filename)), u"D:\\sub\\readme.txt");
    SaveOnWindows(windowsPath, u"D:\\Other\\data.bin");
    ToolResult r = Run(
        {u"dat", windowsPath, u"-o", dir.File(u"out.DAT"), u"--source-folder", copy, u"--source-prefix", u"E:\\Build"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "file D:\\Other\\data.bin: it does not lie under the source folder")) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"out.DAT")));
}

// Each failure names the workspace's member and where it was looked for, in every command that
// reads the members, and nothing is written.
TEST_F(TravelTest, MembersNotFoundOnceBelowTheSourceFolderAreRefusedByName) {
    struct Case {
        const char* what;
        bool needsCase;                                           // names differing only in case must be two files
        std::vector<std::pair<const char*, const char*>> renames; // in the copy, from, to
        std::vector<const char*> extra;                           // more files in the copy
        std::u16string storedAs;                                  // the last member's stored path
        std::vector<std::string> messages;                        // empty: the build succeeds
    };
    const Case cases[] = {
        {"names spelt in another case", true, {{"sub", "SUB"}, {"data.bin", "Data.Bin"}}, {}, {}, {}},
        {"an exact name before one in another case", true, {}, {"DATA.BIN"}, {}, {}},
        {"two names in other cases",
         true,
         {{"data.bin", "DATA.bin"}},
         {"data.BIN"},
         {},
         {"C:\\Work\\App\\data.bin", "DATA.bin", "data.BIN", "differ only in case"}},
        {"a missing member",
         false,
         {{"data.bin", "data.old"}},
         {},
         {},
         {"C:\\Work\\App\\data.bin", "no such file: ", "data.bin (nor one whose name differs only in case)"}},
        {"a member outside the source folder",
         false,
         {},
         {},
         u"D:\\Other\\data.bin",
         {"D:\\Other\\data.bin", "does not lie under the source folder C:\\Work\\App\\"}},
        {"a member climbing out", false, {}, {}, u"C:\\Work\\App\\..\\data.bin", {"climbs out of the folder"}},
        {"a drive below the folder", false, {}, {}, u"C:\\Work\\App\\D:\\data.bin", {"names a drive"}},
        {"a device name", false, {}, {}, u"C:\\Work\\App\\sub\\aux.bin", {"names a device"}},
    };
    const bool caseSensitive = CaseSensitive(dir.Path());
    int n = 0;
    for (const Case& c : cases) {
        if (c.needsCase && !caseSensitive) {
            continue;
        }
        std::u16string copy = CopyOfSources(u"copy" + platform::ToUtf16(std::to_string(++n)));
        for (const auto& [from, to] : c.renames) {
            fs::rename(fs::path(copy) / from, fs::path(copy) / to);
        }
        for (const char* name : c.extra) {
            WriteBytes(U16(fs::path(copy) / name), Pattern(7, 1));
        }
        std::u16string orb = dir.File(u"case.orb");
        SaveOnWindows(orb, c.storedAs);
        std::u16string out = dir.File(u"out");
        const std::vector<std::vector<std::u16string>> commands = {
            {u"dat", orb, u"-o", out + u".DAT"},
            {u"installer", orb, u"-o", out + u".exe", u"--template", Template()},
            {u"cab", orb, u"-d", out, u"--cpu", u"arm"},
            {u"inf", orb, u"-d", out, u"--cpu", u"arm"},
            {u"verify", orb},
        };
        for (std::vector<std::u16string> command : commands) {
            command.insert(command.end(), {u"--source-folder", copy, u"-q"});
            ToolResult r = Run(command);
            std::string label = c.what + (" (" + platform::ToUtf8(command[0]) + ")");
            if (c.messages.empty()) {
                EXPECT_EQ(r.status, 0) << label << "\n" << r.err << r.out;
                continue;
            }
            EXPECT_EQ(r.status, 1) << label;
            for (const std::string& message : c.messages) {
                EXPECT_TRUE(Contains(r.err + r.out, message)) << label << ": " << message << "\n" << r.err << r.out;
            }
            EXPECT_FALSE(Exists(out + u".DAT") || Exists(out + u".exe") || Exists(out)) << label;
        }
        if (c.messages.empty()) {
            EXPECT_EQ(ReadBytes(out + u".DAT"), WindowsPackage()) << c.what;
        }
        fs::remove_all(fs::path(out));
        fs::remove(fs::path(out + u".DAT"));
        fs::remove(fs::path(out + u".exe"));
    }

    // What is not a folder is never searched.
    ToolResult r = Run({u"dat", windowsPath, u"-o", dir.File(u"x.DAT"), u"--source-folder", Source(u"data.bin")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "--source-folder must name a folder")) << r.err;
}

// The sidebar picture is stored by its full path, so that the workspace builds from any folder.
TEST_F(CliTest, SetStoresTheSidebarPictureByItsFullPathOrClearsIt) {
    fs::path bmp = dir.Path() / "pictures" / "side.bmp";
    fs::create_directories(bmp.parent_path());
    WriteBytes(U16(bmp), MakeBitmap(128, 280, 3));
    // Typed in the folder the picture lies in; the tool starts where this program is.
    const fs::path here = fs::current_path();
    fs::current_path(dir.Path());
    ToolResult r = Run({u"set", workspacePath, u"--image", U16(fs::path(".") / "pictures" / "side.bmp")});
    fs::current_path(here);
    ASSERT_EQ(r.status, 0) << r.err;
    Package p;
    ASSERT_TRUE(p.Open(workspacePath.c_str(), 0));
    fs::path stored(std::u16string(FieldText(p.GetHeader().imageFile)));
    EXPECT_TRUE(stored.is_absolute()) << stored;
    EXPECT_TRUE(fs::equivalent(stored, bmp)) << stored;
    EXPECT_EQ(stored, stored.lexically_normal()) << "no \".\" left of the relative path";
    r = Run({u"installer", workspacePath, u"-o", dir.File(u"Setup.exe"), u"--template", Template()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "and a sidebar picture")) << r.out;

    r = Run({u"set", workspacePath, u"--image", u""});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(p.Open(workspacePath.c_str(), 0));
    EXPECT_EQ(FieldText(p.GetHeader().imageFile), u"");
    r = Run({u"installer", workspacePath, u"-o", dir.File(u"Setup.exe"), u"--template", Template(), u"--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Contains(r.out, "sidebar picture")) << r.out;
}

} // namespace
