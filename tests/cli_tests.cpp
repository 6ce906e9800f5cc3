// tarvelo-build as scripts use it: the files it makes are the package core's own, byte for byte;
// info, verify and extract read back all three kinds of file; the command line's own conventions.
#include "package/installer.h"
#include "package/installer_write.h"
#include "package/pe_icons.h"
#include "package/pe_version.h"
#include "platform/text.h"
#include "tests/cli_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

const pe::ResourceKey kPackageType = pe::ResourceKey::Name(u"RT_RCDATA");
const pe::ResourceKey kPackageName = pe::ResourceKey::Name(u"ORBDATA");

Bytes Resource(const std::u16string& exe, const pe::ResourceKey& type, const pe::ResourceKey& name) {
    Bytes data;
    Error error;
    EXPECT_TRUE(pe::ReadResource(exe, type, name, pe::kLanguageEnglishUS, data, error)) << error.message;
    return data;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The package the core writes for the saved workspace, opened as the builder opens it.
Bytes CorePackage(const std::u16string& workspacePath, const std::u16string& out) {
    Package package;
    EXPECT_TRUE(package.Open(workspacePath.c_str(), 0));
    EXPECT_TRUE(package.Write(out.c_str(), nullptr));
    return ReadBytes(out);
}

TEST_F(CliTest, DatAndInstallerAreTheCoresOwnBytesAndVerifyAcceptsThem) {
    std::u16string dat = dir.File(u"out.DAT");
    ToolResult r = Run({u"dat", workspacePath, u"-o", dat});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // no progress bar when standard error is not a terminal
    Bytes expected = CorePackage(workspacePath, dir.File(u"core.dat"));
    EXPECT_EQ(ReadBytes(dat), expected);

    std::u16string exe = dir.File(u"Setup.exe");
    r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Resource(exe, kPackageType, kPackageName), expected);
    // The same as the core's installer writer makes of the workspace.
    Package core;
    ASSERT_TRUE(core.Open(workspacePath.c_str(), 0));
    PackageMembersHost host(core, nullptr);
    std::u16string coreExe = dir.File(u"core.exe");
    ASSERT_FALSE(WriteInstaller({Template(), {}}, coreExe, host));
    EXPECT_EQ(ReadBytes(exe), ReadBytes(coreExe));
    // No temporary files are left beside the output.
    EXPECT_FALSE(Exists(exe + u".tarvelo-dat"));
    EXPECT_FALSE(Exists(exe + u".tarvelo-exe"));

    for (const std::u16string& file : {dat, exe}) {
        r = Run({u"verify", file, u"--src", Source(u"")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "ok")) << r.out;
    }
    EXPECT_EQ(Run({u"verify", workspacePath}).status, 0);
}

// Names outside ASCII reach the files exactly: UTF-8 arguments on POSIX, the wide command line on
// Windows.
TEST_F(CliTest, FileNamesOutsideAsciiArriveExactly) {
    std::u16string renamed = dir.File(u"W\u00f6rkspace-\u65e5\u672c.orb");
    WriteBytes(renamed, ReadBytes(workspacePath));
    std::u16string exe = dir.File(u"Set\u00fcp \u0394.exe");
    ToolResult r = Run({u"installer", renamed, u"-o", exe, u"--template", Template()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Resource(exe, kPackageType, kPackageName), CorePackage(workspacePath, dir.File(u"core.dat")));
    r = Run({u"info", exe, u"--json"});
    EXPECT_TRUE(Contains(r.out, platform::ToUtf8(u"Set\u00fcp \u0394.exe"))) << r.out;
}

TEST_F(CliTest, TheSidebarPictureGoesInAsBitmap251) {
    std::u16string bmp = dir.File(u"side.bmp");
    Bytes picture = MakeBitmap(128, 280, 7);
    WriteBytes(bmp, picture);
    SetFieldText(workspace.GetHeader().imageFile, bmp);
    SaveWorkspace(workspace, workspacePath);
    std::u16string exe = dir.File(u"Setup.exe");
    ToolResult r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Resource(exe, pe::ResourceKey::Id(pe::kTypeBitmap), pe::ResourceKey::Id(251)),
              Bytes(picture.begin() + 14, picture.end()));
    EXPECT_EQ(Run({u"verify", exe}).status, 0);
}

std::uint64_t Digest(const Bytes& bytes, std::uint64_t h = 0xcbf29ce484222325u) {
    for (std::uint8_t b : bytes) {
        h = (h ^ b) * 0x100000001b3u;
    }
    return h;
}

// --icon and --version-info make the installer show the application's icon and names rather than
// the template's; info shows them, and a signature added afterwards. The icon and version
// resources are the same bytes on every host (the Windows test program holds the same digest).
TEST_F(CliTest, TheInstallerCarriesTheApplicationsIconAndVersionInfo) {
    std::u16string ico = dir.File(u"app.ico");
    WriteBytes(ico, MakeIconFile({{16}, {48}, {256, true}}));
    std::u16string exe = dir.File(u"Notes Setup.exe");
    ToolResult r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"--icon", ico,
                        u"--version-info", u"FileVersion=3.1.4.1", u"--version-info=companyname=Acme",
                        u"--version-info", u"LegalCopyright=\u00a9 2024 Acme = us", u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    pe::VersionInfo version;
    bool found = false;
    Error error;
    ASSERT_TRUE(pe::ReadVersionInfo(exe, version, found, error) && found) << error.message;
    EXPECT_EQ(version.fileVersion, (pe::VersionNumber{3, 1, 4, 1}));
    EXPECT_EQ(version.productVersion, (pe::VersionNumber{3, 1, 4, 1})) << "a version given alone stands for both";

    r = Run({u"info", exe});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"Signed:         no\n", "Version info:   language 0x0409, code page 1200\n",
          "  (fixed)          file 3.1.4.1, product 3.1.4.1\n", "  FileDescription  Notes \"Pro\" Setup\n",
          "  FileVersion      3.1.4.1\n", "  ProductName      Notes \"Pro\"\n", "  CompanyName      Acme\n",
          "  LegalCopyright   \xc2\xa9 2024 Acme = us\n", "  OriginalFilename Notes Setup.exe\n"}) {
        EXPECT_TRUE(Contains(r.out, line)) << line << r.out;
    }
    r = Run({u"info", exe, u"--json"});
    EXPECT_TRUE(Contains(r.out, "\"signed\": false, \"version\": {\"language\": 1033, \"codePage\": 1200, "
                                "\"fileVersion\": \"3.1.4.1\", \"productVersion\": \"3.1.4.1\", \"strings\": {"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "\"OriginalFilename\": \"Notes Setup.exe\"")) << r.out;

    std::uint64_t digest = Digest(Resource(exe, pe::ResourceKey::Id(16), pe::ResourceKey::Id(1)));
    Bytes group = Resource(exe, pe::ResourceKey::Id(14), pe::ResourceKey::Id(1));
    digest = Digest(group, digest);
    for (std::uint16_t id : pe::IconGroupIds(group)) {
        digest = Digest(Resource(exe, pe::ResourceKey::Id(3), pe::ResourceKey::Id(id)), digest);
    }
    EXPECT_EQ(digest, 0xe221d0c41d94821cu);

    // Signed afterwards: a certificate table (data directory 4) at the end of the file.
    Bytes file = ReadBytes(exe);
    std::size_t directories = ReadU32(file, 0x3C) + 24 + 96;
    std::uint32_t end = static_cast<std::uint32_t>(file.size());
    std::memcpy(file.data() + directories + 8 * 4, &end, 4);
    std::uint32_t length = 8;
    std::memcpy(file.data() + directories + 8 * 4 + 4, &length, 4);
    file.resize(file.size() + length);
    WriteBytes(exe, file);
    EXPECT_TRUE(Contains(Run({u"info", exe}).out, "Signed:         yes (Authenticode)\n"));
    EXPECT_TRUE(Contains(Run({u"info", exe, u"--json"}).out, "\"signed\": true"));
}

#ifndef _WIN32
// A program found on PATH, as the shell would find it; empty when there is none.
std::u16string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = std::min(folders.find(':', start), folders.size());
        std::filesystem::path candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) {
            return platform::ToUtf16(candidate.string());
        }
        start = end + 1;
    }
    return {};
}

// Signing is the build command's work, after the package is in: osslsigncode through the wrapper
// the help shows, which signs into a new file and puts it in the installer's place. The signature
// holds, and the package is still read from the signed file.
TEST_F(CliTest, AnInstallerSignedByItsBuildCommandKeepsItsPackage) {
    std::u16string openssl = OnPath("openssl"), osslsigncode = OnPath("osslsigncode");
    if (openssl.empty() || osslsigncode.empty()) {
        GTEST_SKIP() << "openssl and osslsigncode are needed to sign";
    }
    // A self-signed code-signing certificate, its key exported with a password.
    std::u16string key = dir.File(u"key.pem"), cert = dir.File(u"cert.pem"), pfx = dir.File(u"cert.pfx");
    ToolResult r =
        RunProgram(openssl,
                   {u"req", u"-x509", u"-newkey", u"rsa:2048", u"-nodes", u"-keyout", key, u"-out", cert, u"-days",
                    u"30", u"-subj", u"/CN=Notes Test Publisher", u"-addext", u"extendedKeyUsage=codeSigning"},
                   dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunProgram(openssl,
                   {u"pkcs12", u"-export", u"-inkey", key, u"-in", cert, u"-out", pfx, u"-passout", u"pass:s3cret"},
                   dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    WriteBytes(dir.File(u"cert.pass"), Bytes{'s', '3', 'c', 'r', 'e', 't'});

    std::u16string script = dir.File(u"sign-installer.sh");
    std::string text = "#!/bin/sh\n"
                       "set -e\n"
                       "keys=$(dirname \"$0\")\n"
                       "out=\"$1.signing\"\n"
                       "trap 'rm -f \"$out\"' EXIT\n"
                       "osslsigncode sign -pkcs12 \"$keys/cert.pfx\" -readpass \"$keys/cert.pass\" -h sha256 \\\n"
                       "    -n \"Notes\" -i https://notes.example/ -in \"$1\" -out \"$out\"\n"
                       "mv -f \"$out\" \"$1\"\n";
    WriteBytes(script, Bytes(text.begin(), text.end()));
    std::filesystem::permissions(std::filesystem::path(script), std::filesystem::perms::owner_all);
    ASSERT_EQ(Run({u"set", workspacePath, u"--build-command", u"'" + script + u"' <filename>"}).status, 0);

    std::u16string exe = dir.File(u"Notes Setup.exe");
    r = Run({u"installer", workspacePath, u"-o", exe, u"--template", Template(), u"-q", u"--run-build-command"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Exists(exe + u".signing"));

    r = RunProgram(osslsigncode, {u"verify", u"-CAfile", cert, u"-in", exe}, dir.File(u""));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(Run({u"info", exe}).out, "Signed:         yes (Authenticode)\n"));
    r = Run({u"verify", exe, u"--src", Source(u"")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Resource(exe, kPackageType, kPackageName), CorePackage(workspacePath, dir.File(u"core.dat")));

    // The signed installer cannot serve as a template: the refusal points to signing afterwards.
    r = Run({u"installer", workspacePath, u"-o", dir.File(u"Again.exe"), u"--template", exe});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "Signing comes last")) << r.err;
}
#endif

TEST_F(CliTest, InfoShowsAllThreeKindsAndItsJsonCarriesTheFields) {
    std::u16string dat = dir.File(u"out.DAT");
    std::u16string exe = dir.File(u"Setup.exe");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}).status, 0);

    const std::pair<std::u16string, std::string> kinds[] = {
        {workspacePath, "workspace"}, {dat, "package"}, {exe, "installer"}};
    for (const auto& [file, kind] : kinds) {
        ToolResult r = Run({u"info", file, u"--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "\"kind\": \"" + kind + "\"")) << r.out;
        EXPECT_TRUE(Contains(r.out, "\"count\": 4"));
        EXPECT_TRUE(Contains(r.out, "\"targetFolder\": 38"));
        EXPECT_TRUE(Contains(r.out, "\"programName\": \"Notes \\\"Pro\\\"\"")) << r.out;
        EXPECT_TRUE(Contains(r.out, "\"shortcutName\": \"Notes.lnk\""));
        EXPECT_TRUE(Contains(r.out, "\"flags\": 64, \"flagNames\": [\"eula\"]"));
        EXPECT_TRUE(Contains(r.out, "\"flagNames\": [\"shortcut\", \"arm\", \"mips\", \"shx\", \"intel\"]"));
    }
    // Backslashes of stored paths are escaped, and the readable layout names the flags.
    ToolResult json = Run({u"info", dat, u"--json"});
    EXPECT_TRUE(Contains(json.out, "eula.txt\", \"shortcutName\"")) << json.out;
    EXPECT_TRUE(Contains(json.out, "\\\\sub\\\\eula.txt"));
    ToolResult text = Run({u"info", exe});
    ASSERT_EQ(text.status, 0);
    EXPECT_TRUE(Contains(text.out, "Program name:   Notes \"Pro\"")) << text.out;
    EXPECT_TRUE(Contains(text.out, "shortcut,arm,mips,shx,intel"));
    EXPECT_TRUE(Contains(text.out, "[Notes.lnk]"));

    // What a file holds reaches the terminal as text, never as a line break or an escape.
    workspace.SetProgramName(u"Evil\u001B[2J\r\nFiles: 0");
    std::u16string evil = dir.File(u"evil.orb");
    SaveWorkspace(workspace, evil);
    text = Run({u"info", evil});
    EXPECT_TRUE(Contains(text.out, "Program name:   Evil\\x1B[2J\\x0D\\x0AFiles: 0\n")) << text.out;
}

TEST_F(CliTest, ExtractRestoresTheTreeAndCanPickOneProcessor) {
    std::u16string exe = dir.File(u"Setup.exe");
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"installer", workspacePath, u"-o", exe, u"--template", Template()}).status, 0);
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    for (const std::u16string& file : {exe, dat}) {
        std::u16string out = dir.File(file == exe ? u"from-exe/new" : u"from-dat");
        ToolResult r = Run({u"extract", file, u"-d", out});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::u16string& relative : relatives) {
            EXPECT_EQ(ReadBytes(out + u"/" + relative), ReadBytes(Source(relative))) << platform::ToUtf8(relative);
        }
    }
    // With a processor, the device's tree: app.exe and readme.txt are for every processor, data.bin
    // for ARM only, the agreement for none; the shortcut is in the start menu.
    std::u16string mips = dir.File(u"mips");
    ASSERT_EQ(Run({u"extract", dat, u"-d", mips, u"--cpu", u"mips", u"-q"}).status, 0);
    EXPECT_TRUE(Exists(mips + u"/Program Files/Notes/app.exe"));
    EXPECT_TRUE(Exists(mips + u"/Program Files/Notes/sub/readme.txt"));
    EXPECT_TRUE(Exists(mips + u"/Windows/Start Menu/Programs/Notes.lnk"));
    EXPECT_FALSE(Exists(mips + u"/Program Files/Notes/sub/eula.txt"));
    EXPECT_FALSE(Exists(mips + u"/Program Files/Notes/data.bin"));
}

TEST_F(CliTest, VerifyNamesEveryBrokenRuleAndEveryMemberThatDiffers) {
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    Bytes good = ReadBytes(dat);

    Bytes bad = good;
    const std::size_t entry1 = kHeaderSize + kEntrySize;
    bad[entry1 + 1048] = 32; // flags of file 1: an unknown bit
    bad[entry1 + 1044] ^= 1; // offset of file 1
    bad[2616] ^= 1;          // totalSize
    std::u16string broken = dir.File(u"broken.DAT");
    WriteBytes(broken, bad);
    ToolResult r = Run({u"verify", broken});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "file 1: flags 32")) << r.err;
    EXPECT_TRUE(Contains(r.err, "file 1: offset is 5001, expected 5000")) << r.err;
    EXPECT_TRUE(Contains(r.err, "totalSize is"));
    EXPECT_TRUE(Contains(r.err, platform::ToUtf8(broken)));

    // One byte changed in a source file, another file gone.
    Bytes changed = ReadBytes(Source(u"data.bin"));
    changed[8000] ^= 0xFF;
    WriteBytes(Source(u"data.bin"), changed);
    std::filesystem::remove(std::filesystem::path(Source(u"sub/eula.txt")));
    r = Run({u"verify", dat, u"--src", Source(u"")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "file 3: differs from")) << r.err;
    EXPECT_TRUE(Contains(r.err, "file 2: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "no such file")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, HelpVersionAndUsageErrors) {
    ToolResult r = Run({u"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tarvelo-build " TARVELO_VERSION "\n");
    r = Run({u"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"info", "verify", "dat", "installer", "extract"}) {
        EXPECT_TRUE(Contains(r.out, std::string("  ") + command + " ")) << command;
        ToolResult help = Run({platform::ToUtf16(command), u"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(Contains(help.out, std::string("Usage: tarvelo-build ") + command)) << help.out;
    }
    // Wrong usage answers 2 with one line naming the problem: a wrong command or option, with the
    // nearest one when it is a slip away, and a value the option cannot take, named with what it
    // takes. Nothing is read first: the workspace named is not even there.
    std::u16string none = dir.File(u"none.orb");
    std::u16string x = dir.File(u"x");
    std::u16string cab = dir.File(u"broken.CAB"); // a cabinet by its first bytes, and no more
    WriteBytes(cab, Bytes{'M', 'S', 'C', 'F', 0});
    const std::pair<std::vector<std::u16string>, std::string> wrong[] = {
        {{}, "Usage: tarvelo-build COMMAND"},
        {{u"bake"}, "tarvelo-build: unknown command \"bake\"; see \"tarvelo-build --help\"\n"},
        {{u"instaler", none}, "tarvelo-build: unknown command \"instaler\"; did you mean \"installer\"?\n"},
        {{u"Info", none}, "unknown command \"Info\"; did you mean \"info\"?\n"},
        {{u"dat", workspacePath}, "missing -o OUT.DAT"},
        {{u"dat", workspacePath, u"-o"}, "option -o needs a value"},
        {{u"info", workspacePath, u"--colour"}, "info: unknown option --colour; see \"tarvelo-build info --help\"\n"},
        {{u"dat", none, u"-o", x, u"--sourcefolder", x},
         "dat: unknown option --sourcefolder; did you mean --source-folder?\n"},
        {{u"installer", none, u"-o", x, u"--froce"}, "unknown option --froce; did you mean --force?\n"},
        {{u"cab", none, u"-d", x, u"-F"}, "unknown option -F; did you mean -f?\n"},
        {{u"extract", none, u"-d", x, u"--cpu", u"sparc"},
         "extract: --cpu: unknown processor family \"sparc\" (one of arm, mips, shx, intel); see"},
        {{u"cab", none, u"-d", x, u"--cpu", u"ARM,z80"}, "cab: --cpu: unknown processor family \"z80\""},
        {{u"inf", none, u"-d", x, u"--cpu", u"arm,"}, "inf: --cpu: unknown processor family \"\""},
        {{u"verify", cab, u"--cpu", u"x86"}, "verify: --cpu: unknown processor family \"x86\""},
        {{u"installer", none, u"-o", x, u"--version-info", u"FileVersion=1.2"},
         "FileVersion \"1.2\" is not four numbers"},
        {{u"set", none, u"--target", u"program_files"}, "did you mean \"program-files\"?"},
        {{u"gather", x, u"-o", none, u"--platforms", u"a=arm,sparc"}, "unknown processor family \"sparc\""},
        {{u"dat", none, u"-o", x, u"--source-prefix", u"Build\\App"},
         "--source-prefix \"Build\\App\" is not an absolute"},
        {{u"installer", none, u"-o", x, u"--source-prefix", u"C:Build"}, "is not an absolute Windows path"},
        {{u"cab", none, u"-d", x, u"--source-prefix", u"/srv/build"}, "is not an absolute Windows path"},
        {{u"inf", none, u"-d", x, u"--source-prefix", u"\\\\server"}, "is not an absolute Windows path"},
        {{u"dat", none, u"-o", x, u"--source-prefix", u"C:\\App\\..\\Other"}, "holds \"..\""},
        {{u"dat", none, u"-o", x, u"--source-prefix", u"C:\\App\\con"}, "holds \"con\""},
        {{u"dat", none, u"-o", x, u"--source-prefix", u"C:\\App\\\\x"}, "has an empty name"},
        {{u"dat", none, u"-o", x, u"--source-prefix", u"C:\\" + std::u16string(300, u'a')}, "longer than a package"},
        {{u"cab", none, u"-d", x, u"--provider", u"Acme \u65e5\u672c"},
         "cab: --provider \"Acme \xe6\x97\xa5\xe6\x9c\xac\" has a character that cabinets and INF files cannot hold"},
        {{u"inf", none, u"-d", x, u"--provider", u"\u0394"}, "--provider \"\xce\x94\" has a character"},
        {{u"inf", none, u"-d", x, u"--source-prefix", u"C:\\\u0394"}, "has a character the CAB wizard cannot take"},
        {{u"dat", none, u"-o", x, u"--output", x}, "dat: option -o is given twice; give it once"},
        {{u"cab", none, u"-d", x, u"--cpu", u"arm", u"--cpu=mips"}, "option --cpu is given twice"},
        {{u"installer", none, u"-o", x, u"--version-info", u"ProductName=A", u"--version-info", u"productname=B"},
         "--version-info: ProductName is given twice; give it once"},
        {{u"installer", none, u"-o", x, u"--version-info", u"FileVersion=1.2.3.4", u"--version-info",
          u"FileVersion=1.2.3.4"},
         "--version-info: FileVersion is given twice"},
        // A line break in a name would start a line of its own in the INF; the line that tells
        // shows every control character escaped.
        {{u"cab", none, u"-d", x, u"--provider", u"Acme\r\n[Strings]"},
         "cab: --provider \"Acme\\x0D\\x0A[Strings]\" holds a control character"},
        {{u"inf", none, u"-d", x, u"--provider", u"Acme\u0085"}, "--provider \"Acme\\xC2\\x85\" holds a control"},
        {{u"gather", x, u"-o", none, u"--name", u"a\tb"}, "gather: --name \"a\\x09b\" holds a control character"},
        {{u"set", none, u"--shortcut", u"a=Go\u007F"}, "the shortcut name Go\\x7F.lnk is not a plain file name"},
        {{u"inf", none, u"-d", x, u"--source-prefix", u"C:\\A\nB"}, "holds \"A\\x0AB\""},
        {{u"verify"}, "missing FILE"},
        {{u"verify", workspacePath, u"--cpu", u"arm"}, "are for a device cabinet"},
    };
    for (const auto& [arguments, message] : wrong) {
        r = Run(arguments);
        EXPECT_EQ(r.status, 2) << message << r.err;
        EXPECT_TRUE(Contains(r.err, message)) << r.err;
        if (!arguments.empty()) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    EXPECT_TRUE(Contains(Run({u"dat", workspacePath}).err, "missing -o OUT.DAT"));
}

} // namespace
