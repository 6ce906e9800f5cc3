// CAB-wizard INFs compiled into cabinet designs: labels merged, strings replaced, folders and files
// numbered as the wizard numbers them, flags, registry values, shortcuts, the setup DLL, and one
// row per mistake an INF can make with the exact line the user reads. Where the real INF files of
// CE applications lie beside the checkout, each compiles (or is refused) as decided.
#include "device/cabinet.h"
#include "device/inf_compile.h"
#include "platform/host_paths.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using device::inf::CompiledInf;

fs::path SharedFolder() { return fs::path(testing_support::SourceFile(u"")) / ".." / "shared" / "cabwiz"; }

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

// An INF of our own, its sources made as empty files below a temporary folder ("src\a.exe" below
// the INF's folder), compiled for a label.
struct Build {
    testing_support::TempDir dir;
    CompiledInf compiled;
    std::vector<std::string> problems;
    bool ok = false;

    Build(std::u16string_view text, std::initializer_list<const char*> files, std::u16string label = u"",
          std::u16string sourceFolder = u"") {
        fs::create_directories(dir.Path() / "inf");
        for (const char* file : files) {
            std::string relative = file;
            std::replace(relative.begin(), relative.end(), '\\', '/');
            Touch(dir.Path() / "inf" / relative);
        }
        device::inf::Document document = device::inf::ReadInf(text);
        device::inf::HostSourceFinder finder;
        device::inf::CompileRequest request{u"App.inf", testing_support::U16(dir.Path() / "inf"), std::move(label),
                                            sourceFolder.empty() ? u"" : testing_support::U16(dir.Path() / "abs")};
        ok = device::inf::CompileInf(document, request, finder, compiled, problems);
    }
    std::u16string SourceOf(const device::DesignFile& file) const {
        fs::path path = platform::FsPath(compiled.sources.at(static_cast<std::size_t>(file.member)));
        return platform::ToUtf16(path.lexically_normal().lexically_relative(dir.Path() / "inf").generic_string());
    }
};

std::string Join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

const char16_t kUshahidiLike[] =
    u"[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=\"Field.org\"\r\nCESignature=\"$Windows CE$\"\r\n"
    u"[CEStrings]\r\nAppName=\"Field\"\r\nInstallDir=%CE1%\\%AppName%\r\n"
    u"[CEDevice]\r\nVersionMin=4.20\r\nVersionMax=6.99\r\nBuildMax=0xE0000000\r\n"
    u"[DefaultInstall]\r\nCEShortcuts=Shortcuts\r\n"
    u"CopyFiles=Files.Common,Files.German,Files.English,Files.View\r\n"
    u"[SourceDisksNames]\r\n1=,\"Common\",,\"\"\r\n2=,\"Lang\",,lang\r\n"
    u"[SourceDisksFiles]\r\n\"Field.Common.dll\"=1\r\n\"de_Field.resources.dll\"=2\r\n"
    u"\"en_Field.resources.dll\"=2\r\n\"Field.exe\"=1\r\n"
    u"[DestinationDirs]\r\nShortcuts=0,%CE2%\\Start Menu\r\nFiles.Common=0,\"%InstallDir%\"\r\n"
    u"Files.German=0,\"%InstallDir%\\de\"\r\nFiles.English=0,\"%InstallDir%\\en\"\r\n"
    u"Files.View=0,\"%InstallDir%\"\r\nUnused=0,%CE5%\r\n"
    u"[Files.Common]\r\n\"Field.Common.dll\",\"Field.Common.dll\",,0\r\n"
    u"[Files.German]\r\n\"Field.resources.dll\",\"de_Field.resources.dll\",,0\r\n"
    u"[Files.English]\r\n\"Field.resources.dll\",\"en_Field.resources.dll\",,0\r\n"
    u"[Files.View]\r\n\"Field.exe\",\"Field.exe\",,0\r\n"
    u"[Shortcuts]\r\n\"Field\",0,\"Field.exe\",\"%CE11%\"\r\n";

// What the wizard's own cabinet of such an INF holds: the install folder whole, folders from 2 in
// [DestinationDirs] order, one per path, the shortcut list's folder although nothing lands there,
// the shortcut's own folder after them, none for a list nothing names; files in copy order, each
// with its source's line in [SourceDisksFiles]; the shortcut's 4th field as its base.
TEST(InfCompile, FoldersFilesAndShortcutNumberedAsTheWizardDoes) {
    Build b(kUshahidiLike, {"Field.Common.dll", "lang/de_Field.resources.dll", "lang/en_field.RESOURCES.dll", "Field.exe"});
    ASSERT_TRUE(b.ok) << Join(b.problems);
    EXPECT_EQ(b.compiled.warnings, std::vector<std::string>{});
    const device::CabinetDesign& d = b.compiled.design;
    EXPECT_EQ(d.appName, u"Field");
    EXPECT_EQ(d.provider, u"Field.org");
    EXPECT_EQ(d.installDir, u"%CE1%\\Field");
    EXPECT_EQ(d.limits, (device::DeviceLimits{{4, 20}, {6, 99}, 0, 0xE0000000}));
    const std::vector<device::DesignFolder> folders{
        {false, {u"%CE2%", u"Start Menu"}}, {true, {}}, {true, {u"de"}}, {true, {u"en"}}, {false, {u"%CE11%"}}};
    EXPECT_EQ(d.folders, folders);
    ASSERT_EQ(d.files.size(), 4u);
    const struct {
        const char16_t* name;
        std::size_t folder;
        std::uint16_t source;
        const char16_t* from;
    } files[] = {{u"Field.Common.dll", 1, 1, u"Field.Common.dll"},
                 {u"Field.resources.dll", 2, 2, u"lang/de_Field.resources.dll"},
                 {u"Field.resources.dll", 3, 3, u"lang/en_field.RESOURCES.dll"},
                 {u"Field.exe", 1, 4, u"Field.exe"}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.files[i].name, files[i].name);
        EXPECT_EQ(d.files[i].folder, files[i].folder);
        EXPECT_EQ(d.files[i].source, files[i].source);
        EXPECT_EQ(d.files[i].flags, 0u);
        EXPECT_EQ(b.SourceOf(d.files[i]), files[i].from);
    }
    ASSERT_EQ(d.links.size(), 1u);
    EXPECT_EQ(d.links[0], (device::DesignLink{11, {u"Field.lnk"}, true, 3}));
    EXPECT_TRUE(d.registry.empty());
    EXPECT_FALSE(d.setupDll);
}

// A folder written with a macro is not the install folder even when its text is the same, one
// source installed under two names keeps its one line number, [Strings] reach quoted names, and
// a quoted value name keeps its commas.
TEST(InfCompile, SourcesSharedAndStringsReplaced) {
    Build b(u"[Version]\nProvider=Net\nCESignature=\"$Windows CE$\"\n"
            u"[CEStrings]\nAppName=\"Net 2\"\nInstallDir=%CE2%\n"
            u"[Strings]\nEXT=\"_v2\"\nVER=\"2.3\"\nSRC=\"bin\\release\"\nREG=\"SOFTWARE\\Net\\Global\"\n"
            u"[DefaultInstall]\nAddReg=Reg\nCopyFiles=Files\n"
            u"[SourceDisksNames]\n1=,\"GAC\",,%SRC%\n"
            u"[SourceDisksFiles]\n\"Net.dll\"=1\n\"Net.Core.dll\"=1\n"
            u"[DestinationDirs]\nFiles=0,\"%CE2%\"\t; windows\n"
            u"[Files]\n\"GAC_Net.Core%EXT%.dll\",\"Net.Core.dll\",,0\n\"GAC_Net%EXT%.dll\",\"Net.dll\",,0\n"
            u"\"GAC_Net.Base%EXT%.dll\",\"Net.dll\",,0\n"
            u"[Reg]\nHKLM,SOFTWARE\\Net,%VER%,0x00010001,1\n"
            u"HKLM,%REG%,\"Net, Version=%VER%\",0x00010000,\"\\windows\\GAC_Net%EXT%.dll\"\n",
            {"bin/release/Net.dll", "bin/release/Net.Core.dll"});
    ASSERT_TRUE(b.ok) << Join(b.problems);
    const device::CabinetDesign& d = b.compiled.design;
    EXPECT_EQ(d.installDir, u"%CE2%");
    EXPECT_EQ(d.folders, (std::vector<device::DesignFolder>{{false, {u"%CE2%"}}}));
    ASSERT_EQ(d.files.size(), 3u);
    EXPECT_EQ(d.files[0].name, u"GAC_Net.Core_v2.dll");
    EXPECT_EQ(d.files[0].source, 2);
    EXPECT_EQ(d.files[1].source, 1);
    EXPECT_EQ(d.files[2].source, 1);
    EXPECT_EQ(d.files[1].member, d.files[2].member);
    EXPECT_EQ(b.compiled.sources.size(), 2u);
    ASSERT_EQ(d.registry.size(), 2u);
    device::RegistryValue dword{device::RegistryRoot::LocalMachine, u"SOFTWARE\\Net", u"2.3", device::kRegDword, {}, {}, 1};
    EXPECT_EQ(d.registry[0], dword);
    device::RegistryValue multi{device::RegistryRoot::LocalMachine, u"SOFTWARE\\Net\\Global", u"Net, Version=2.3",
                                device::kRegMultiString, {u"\\windows\\GAC_Net_v2.dll"}, {}, 0};
    EXPECT_EQ(d.registry[1], multi);
}

// An INF of a few lines more than the least the wizard takes: rows add sections to it, and a
// section given twice is one.
std::u16string Small(std::u16string_view more = u"", std::u16string_view without = u"") {
    std::u16string text = u"[Version]\n"                             // 1
                          u"Signature=\"$Windows NT$\"\n"            // 2
                          u"Provider=Acme\n"                         // 3
                          u"CESignature=\"$Windows CE$\"\n"          // 4
                          u"[CEStrings]\n"                           // 5
                          u"AppName=Notes\n"                         // 6
                          u"InstallDir=%CE1%\\%AppName%\n"           // 7
                          u"[DefaultInstall]\n"                      // 8
                          u"CopyFiles=Files\n"                       // 9
                          u"[SourceDisksNames]\n"                    // 10
                          u"1=,\"src\",,src\n"                       // 11
                          u"[SourceDisksFiles]\n"                    // 12
                          u"notes.exe=1\n"                           // 13
                          u"help.htm=1\n"                            // 14
                          u"[DestinationDirs]\n"                     // 15
                          u"Files=0,%InstallDir%\n"                  // 16
                          u"[Files]\n"                               // 17
                          u"notes.exe\n";                            // 18
    // `without` lists the lines to take out, separated by |.
    for (std::size_t start = 0; start < without.size();) {
        std::size_t end = std::min(without.find(u'|', start), without.size());
        std::size_t at = text.find(without.substr(start, end - start));
        EXPECT_NE(at, std::u16string::npos);
        text.replace(at, end - start, u"");
        start = end + 1;
    }
    return text + std::u16string(more);
}

// Labels: the label's sections over the plain ones, keys replaced, unsupported platforms added,
// names matched without case and listed as first spelt.
TEST(InfCompile, LabelsMergedOverThePlainSections) {
    const std::u16string inf = Small(u"[CEDevice]\nProcessorType=2577\nVersionMin=3.0\nUnsupportedPlatforms=\"Jupiter\"\n"
                                     u"[CEDevice.ARM_CE3]\nVersionMin=4.20\nUnsupportedPlatforms=\"HPC\",\"Palm PC\"\n"
                                     u"[CEDevice.MIPS]\nProcessorType=4000\nVersionMin=\n"
                                     u"[DefaultInstall.mips]\nCopyFiles=Files,Mips\nCESetupDLL=setup.dll\n"
                                     u"[SourceDisksNames.MIPS]\n1=,\"mips\",,mips\n"
                                     u"[SourceDisksFiles.Mips]\nsetup.dll=1\nmips.dll=1\n"
                                     u"[DestinationDirs]\nMips=0,%CE2%\n[Mips]\nmips.dll\n");
    device::inf::Document document = device::inf::ReadInf(inf);
    EXPECT_EQ(device::inf::InfLabels(document), (std::vector<std::u16string>{u"ARM_CE3", u"MIPS"}));
    const struct {
        const char16_t* label;
        std::uint32_t processor;
        std::uint32_t versionMin[2];
        std::vector<std::u16string> unsupported;
        std::vector<std::u16string> files;
        bool setup;
        const char* source; // of notes.exe
    } cases[] = {
        {u"", 2577, {3, 0}, {u"Jupiter"}, {u"notes.exe"}, false, "src/notes.exe"},
        {u"arm_ce3", 2577, {4, 20}, {u"Jupiter", u"HPC", u"Palm PC"}, {u"notes.exe"}, false, "src/notes.exe"},
        {u"MIPS", 4000, {0, 0}, {u"Jupiter"}, {u"notes.exe", u"mips.dll"}, true, "mips/notes.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.label));
        Build b(inf, {"src/notes.exe", "mips/notes.exe", "mips/setup.dll", "mips/mips.dll"}, c.label);
        ASSERT_TRUE(b.ok) << Join(b.problems);
        const device::CabinetDesign& d = b.compiled.design;
        EXPECT_EQ(d.processorType, c.processor);
        EXPECT_EQ(d.limits.versionMin[0], c.versionMin[0]);
        EXPECT_EQ(d.limits.versionMin[1], c.versionMin[1]);
        EXPECT_EQ(d.unsupported, c.unsupported);
        std::vector<std::u16string> names;
        for (const auto& f : d.files) {
            names.push_back(f.name);
        }
        EXPECT_EQ(names, c.files);
        EXPECT_EQ(d.setupDll.has_value(), c.setup);
        EXPECT_EQ(platform::ToUtf8(b.SourceOf(d.files[0])), c.source);
    }
    // The labelled [SourceDisksFiles] line takes the plain line's number; a new one comes after.
    Build mips(inf, {"src/notes.exe", "mips/notes.exe", "mips/setup.dll", "mips/mips.dll"}, u"MIPS");
    ASSERT_TRUE(mips.ok);
    ASSERT_TRUE(mips.compiled.design.setupDll);
    EXPECT_EQ(mips.compiled.design.files[1].source, 4);
    EXPECT_EQ(mips.compiled.design.setupDll->source, 3);
    EXPECT_EQ(mips.compiled.design.setupDll->name, u"setup.dll");
    EXPECT_EQ(platform::ToUtf8(mips.SourceOf(*mips.compiled.design.setupDll)), "mips/setup.dll");
}

// Copy flags kept as given; CESelfRegister marks every installed file of its name; the setup DLL
// may also be copied; CESetupDLL = "" is none.
TEST(InfCompile, FlagsSelfRegisterAndSetupDll) {
    Build b(Small(u"help.htm,,,0x40000010\n[DefaultInstall]\nCESelfRegister=NOTES.EXE\nCESetupDLL=help.htm\n"
                  u"[DefaultInstall]\nCopyFiles=Two\n[DestinationDirs]\nTwo=0,%CE2%\n[Two]\nnotes.exe,,,0x20000000\n"),
            {"src/notes.exe", "src/help.htm"});
    ASSERT_TRUE(b.ok) << Join(b.problems);
    const device::CabinetDesign& d = b.compiled.design;
    ASSERT_EQ(d.files.size(), 3u);
    EXPECT_EQ(d.files[0].flags, device::kCopySelfRegister);
    EXPECT_EQ(d.files[1].flags, device::kCopyNoDateCheck | device::kCopyNoOverwrite);
    EXPECT_EQ(d.files[2].flags, device::kCopyNoDateDialog | device::kCopySelfRegister);
    ASSERT_TRUE(d.setupDll);
    EXPECT_EQ(d.setupDll->name, u"help.htm");
    EXPECT_EQ(d.setupDll->member, d.files[1].member);
    EXPECT_EQ(d.setupDll->source, 2);
    Build none(Small(u"[DefaultInstall]\nCESetupDLL=\"\"\n"), {"src/notes.exe"});
    ASSERT_TRUE(none.ok) << Join(none.problems);
    EXPECT_FALSE(none.compiled.design.setupDll);
}

// Each registry line as the device gets it: root, key without a leading backslash, name, the
// type with no-clobber, and the data by type, the device's macros kept in it.
TEST(InfCompile, RegistryValuesOfEachType) {
    using device::RegistryRoot;
    const struct {
        const char16_t* line;
        device::RegistryValue value;
    } cases[] = {
        {u"HKCU,Software\\Acme,Path,0x00000000,\"%InstallDir%\\notes.exe\"",
         {RegistryRoot::CurrentUser, u"Software\\Acme", u"Path", device::kRegString, {u"%InstallDir%\\notes.exe"}, {}, 0}},
        {u"HKLM,Software\\Acme,,0,%AppName% %CE2%",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"", device::kRegString, {u"Notes %CE2%"}, {}, 0}},
        {u"\"HKCR\",\".note\",\"\",\"0x00000002\",\"Notes.File\"",
         {RegistryRoot::ClassesRoot, u".note", u"", device::kRegString | device::kRegNoClobber, {u"Notes.File"}, {}, 0}},
        {u"HKU,Default\\Acme,List,0x00010000,one,\"two, three\",100%%",
         {RegistryRoot::Users, u"Default\\Acme", u"List", device::kRegMultiString, {u"one", u"two, three", u"100%"}, {}, 0}},
        {u"HKLM,Software\\Acme\\,Blob,0x00000001,2,F,b,30,0xA6",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"Blob", device::kRegBinary, {}, {2, 0xF, 0xB, 0x30, 0xA6}, 0}},
        {u"HKLM,Software\\Acme,Count,0x00010001,4",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"Count", device::kRegDword, {}, {}, 4}},
        {u"HKEY_LOCAL_MACHINE,Software\\Acme,Mask,0x00010003,0xFFFFFFFF",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"Mask", device::kRegDword | device::kRegNoClobber, {}, {}, 0xFFFFFFFF}},
        {u"HKLM,Software\\Acme,Pct,0,%Pct%\n[Strings]\nPct=\"100%%\"",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"Pct", device::kRegString, {u"100%%"}, {}, 0}},
        {u"HKLM,\\Software\\Acme,Led,0x00010001,1",
         {RegistryRoot::LocalMachine, u"Software\\Acme", u"Led", device::kRegDword, {}, {}, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.line));
        Build b(Small(u"[DefaultInstall]\nAddReg=Reg\n[Reg]\n" + std::u16string(c.line) + u"\n"), {"src/notes.exe"});
        ASSERT_TRUE(b.ok) << Join(b.problems);
        ASSERT_EQ(b.compiled.design.registry.size(), 1u);
        EXPECT_EQ(b.compiled.design.registry[0], c.value);
    }
}

// Shortcuts: the base from the 4th field or the list's folder (0 for the install folder), the path
// below it, ".lnk" added once, a file's number or a folder's.
TEST(InfCompile, ShortcutsToFilesAndFolders) {
    const struct {
        const char16_t* destination; // of the list Links
        const char16_t* line;
        device::DesignLink link;
        std::size_t folders;
    } cases[] = {
        {u"0,%CE11%", u"Notes,0,notes.exe", {11, {u"Notes.lnk"}, true, 0}, 2},
        {u"0,%CE2%\\Start Menu", u"\"Notes\",0,\"notes.exe\",\"%CE11%\"", {11, {u"Notes.lnk"}, true, 0}, 3},
        {u"0,%CE11%\\Tools", u"Notes.lnk,,notes.exe", {11, {u"Tools", u"Notes.lnk"}, true, 0}, 2},
        {u"0,%InstallDir%\\links", u"My Notes,0,notes.exe", {0, {u"links", u"My Notes.lnk"}, true, 0}, 2},
        {u"0,%CE11%", u"Notes folder,1,%InstallDir%", {11, {u"Notes folder.lnk"}, false, device::kInstallFolderTarget}, 2},
        {u"0,%CE11%", u"Data,1,%InstallDir%\\data", {11, {u"Data.lnk"}, false, 2}, 3},
        {u"0,%CE11%", u"Help,1,Links", {11, {u"Help.lnk"}, false, 1}, 2},
        {u"0,%CE11%", u"Docs,1,%CE5%\\Docs,%InstallDir%", {0, {u"Docs.lnk"}, false, 2}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.line));
        Build b(Small(u"[DefaultInstall]\nCEShortcuts=Links\n[DestinationDirs]\nLinks=" + std::u16string(c.destination) +
                      u"\n[Links]\n" + c.line + u"\n"),
                {"src/notes.exe"});
        ASSERT_TRUE(b.ok) << Join(b.problems);
        ASSERT_EQ(b.compiled.design.links.size(), 1u);
        EXPECT_EQ(b.compiled.design.links[0], c.link);
        EXPECT_EQ(b.compiled.design.folders.size(), c.folders);
    }
}

// Every mistake an INF can make, one row each: refused ("App.inf:LINE: ...") when the cabinet
// would lose what the INF says or cannot be made, compiled with a warning where the wizard took
// it and nothing is lost. Lines 1-18 are Small()'s own.
TEST(InfCompile, EachMistakeNamedByItsLine) {
    const struct {
        const char16_t* more;
        const char16_t* without;
        bool compiles;
        const char* message;
        const char16_t* label = u"";
        std::vector<const char*> files = {"src/notes.exe"};
    } cases[] = {
        // The INF as a whole.
        {u"", u"CESignature=\"$Windows CE$\"\n", false,
         "App.inf:1: [Version] has no CESignature = \"$Windows CE$\", which marks an INF for Windows CE"},
        {u"[Version]\nCESignature=$Windows NT$\n", u"CESignature=\"$Windows CE$\"\n", false,
         "App.inf:19: CESignature is \"$Windows NT$\"; an INF for Windows CE has \"$Windows CE$\""},
        {u"", u"Provider=Acme\n", true, "App.inf:1: warning: no Provider in [Version]; the cabinet names none"},
        {u"", u"AppName=Notes\n", false, "App.inf:5: no AppName in [CEStrings]: the device names the application by it"},
        {u"[CEStrings]\nAppName=Other\n", u"", false,
         "App.inf:20: AppName is given twice in [CEStrings] with different values (the first on line 6)"},
        {u"", u"InstallDir=%CE1%\\%AppName%\n", false,
         "App.inf:15: %InstallDir% is used, but neither [CEStrings] nor [Strings] defines InstallDir"},
        {u"[DestinationDirs]\nFiles=0,%CE2%\n", u"InstallDir=%CE1%\\%AppName%\n|Files=0,%InstallDir%\n", true,
         "App.inf:5: warning: no InstallDir in [CEStrings] or [Strings]; the install folder is %CE1%\\Notes"},
        {u"[CEStrings]\nInstallDir=%InstallDir%\\x\n", u"InstallDir=%CE1%\\%AppName%\n", false,
         "App.inf:19: InstallDir cannot be below %InstallDir%, itself"},
        {u"[Version]\nstray\n", u"", true, "App.inf:20: warning: a line without a key in [Version] is ignored"},
        {u"", u"", false, "App.inf: no section is for the processor label ARM; the INF has no labels", u"ARM"},
        {u"[CEDevice.X86]\nProcessorType=686\n[DefaultInstall.ARMV4]\nCopyFiles=Files\n", u"", true,
         "App.inf: warning: no [CEDevice.ARMV4]: the cabinet for ARMV4 installs on any processor", u"armv4"},
        {u"[CEDevice]\nVersionMin=4.x\n", u"", false,
         "App.inf:20: VersionMin is 4.x, which is not a version MAJOR.MINOR (\"4.20\")"},
        {u"[CEDevice]\nProcessorType=ARM\n", u"", false,
         "App.inf:20: ProcessorType is ARM, which is not a number (decimal, or hexadecimal after 0x) below 2^32"},
        {u"[CEDevice]\nPlatform=PocketPC\n", u"", true,
         "App.inf:20: warning: Platform in [CEDevice] is not a directive tarvelo-build supports; ignored"},
        {u"[Platform.PPC]\nPlatformString=PocketPC\n", u"", true,
         "App.inf:19: warning: [Platform.PPC] is for the CAB wizard's /platform option, which tarvelo-build does "
         "not support; ignored"},
        {u"[Spare]\nx.exe\n", u"", true, "App.inf:19: warning: [Spare] is named by no directive; ignored"},
        {u"[DefaultInstall]\nDelReg=Old\n", u"", true,
         "App.inf:20: warning: DelReg in [DefaultInstall] is not a directive tarvelo-build supports; ignored"},
        {u"[DefaultInstall]\nCESelfRegister=notes.exe\nCESelfRegister=notes.exe\n", u"", true,
         "App.inf:21: warning: CESelfRegister is given twice in [DefaultInstall]; both are used"},
        {u"[Files]\n%Missing%.txt\n", u"", false,
         "App.inf:20: warning: %Missing% is not defined in [Strings]; kept as text"},
        {u"[Files]\n\"open.txt\n", u"", false,
         "App.inf:20: warning: a quote is not closed; the rest of the line is taken as quoted (in [Files])"},
        // Copy lists and their folders.
        {u"[DefaultInstall]\nCopyFiles=Gone\n", u"", false,
         "App.inf:20: CopyFiles names [Gone], which the INF does not have"},
        {u"[DefaultInstall]\nCopyFiles=More\n[More]\nhelp.htm\n", u"", false,
         "App.inf:20: [DestinationDirs] has no entry for More, nor a DefaultDestDir"},
        {u"[DefaultInstall]\nCopyFiles=More\n[More]\nhelp.htm\n[DestinationDirs]\nDefaultDestDir=0,%CE2%\n", u"", true,
         "App.inf:20: warning: CopyFiles is given twice in [DefaultInstall]; both are used", u"",
         {"src/notes.exe", "src/help.htm"}},
        {u"[DestinationDirs]\nFiles=10,%CE2%\n", u"Files=0,%InstallDir%\n", false,
         "App.inf:19: the folder number 10 is not supported: write 0 followed by the device folder "
         "(%InstallDir%\\..., %CEn%\\... or \\...)"},
        {u"[DestinationDirs]\nFiles=,Program Files\\Notes\n", u"Files=0,%InstallDir%\n", false,
         "App.inf:19: the folder Program Files\\Notes is not a device folder: it must start with %InstallDir%, a "
         "folder macro %CE1% to %CE17%, or \\"},
        {u"[DestinationDirs]\nFiles=0,%CE18%\n", u"Files=0,%InstallDir%\n", false,
         "App.inf:19: the folder %CE18% starts with %CE18%, which is neither %InstallDir% nor a folder macro %CE1% "
         "to %CE17%"},
        {u"[DestinationDirs]\nFiles=0,\\Temp\\%CE2%\n", u"Files=0,%InstallDir%\n", false,
         "App.inf:19: the folder \\Temp\\%CE2% holds %CE2%, but a folder macro may only begin a folder"},
        {u"[DestinationDirs]\nFiles=0,%CE2%\nFiles=0,%CE3%\n", u"Files=0,%InstallDir%\n", false,
         "App.inf:20: Files is given twice in [DestinationDirs] (first on line 19)"},
        {u"a:b.txt,notes.exe\n", u"", false, "App.inf:19: \"a:b.txt\" is not a file name Windows CE can hold"},
        {u"NOTES.EXE\n", u"", false, "App.inf:19: NOTES.EXE is copied twice into one folder (also on line 18)"},
        {u"help.htm,notes.exe,0x80000000\n", u"", true,
         "App.inf:19: warning: the third field is unused (flags go in the fourth): 0x80000000 ignored"},
        {u"help.htm,notes.exe,,0,0\n", u"", true, "App.inf:19: warning: fields after the fourth (the flags) are ignored"},
        {u"help.htm,notes.exe,,0x00000800\n", u"", false,
         "App.inf:19: the copy flags 0x00000800 hold bits the CAB wizard does not know (0x00000800)"},
        {u"help.htm,notes.exe,,x\n", u"", false, "App.inf:19: the copy flags x are not a number"},
        {u"help.htm,notes.exe,,0x00000410\n", u"", true,
         "App.inf:19: warning: the copy flags 0x00000010 (never overwrite) and 0x00000400 (only replace) exclude "
         "each other"},
        {u"help.htm,notes.exe,,0x60000000\n", u"", true,
         "App.inf:19: warning: the copy flags 0x20000000 (no date dialog) and 0x40000000 (no date check) exclude "
         "each other"},
        // Sources.
        {u"[SourceDisksFiles]\nextra.dll=2\n[Files]\nextra.dll\n", u"", false,
         "App.inf:22: extra.dll is on disk 2, which [SourceDisksNames] do not define"},
        {u"[SourceDisksFiles.ARM]\nextra.dll=2\n[Files]\nextra.dll\n", u"", false,
         "App.inf:22: extra.dll is on disk 2, which [SourceDisksNames.ARM] and [SourceDisksNames] do not define",
         u"ARM"},
        {u"[Files]\nghost.dll\n", u"", false,
         "App.inf:20: ghost.dll is in no line of [SourceDisksFiles], nor in any source folder"},
        {u"[Files]\nfound.dll\n", u"", true, "App.inf:20: warning: found.dll is in no line of [SourceDisksFiles]; "
                                            "taken from disk 1: ",
         u"", {"src/notes.exe", "src/found.dll"}},
        {u"", u"", false, "App.inf:18: notes.exe: no such file: ", u"", {"src/readme.txt"}},
        {u"", u"", false, "App.inf:18: notes.exe: no such folder: ", u"", {}},
        {u"[SourceDisksNames]\nx=,\"x\",,x\n", u"", false,
         "App.inf:20: a line of [SourceDisksNames] must be DISK = ,\"label\",,folder with DISK a number"},
        {u"[SourceDisksFiles]\nnotes.exe=2\n", u"", false,
         "App.inf:20: notes.exe is given twice in [SourceDisksFiles] with different disks (first on line 13)"},
#ifndef _WIN32
        {u"[SourceDisksNames]\n2=,\"abs\",,\"C:\\Work\\bin\"\n[SourceDisksFiles]\nabs.dll=2\n[Files]\nabs.dll\n", u"",
         false,
         "App.inf:20: the folder C:\\Work\\bin is a Windows path; give --source-folder DIR for where its files lie "
         "here (it is then looked for as DIR/Work/bin)"},
        {u"", u"", false, " differ only in case, and either could be the file the INF names", u"",
         {"src/Notes.exe", "src/NOTES.exe"}},
#endif
        // The setup DLL and self-registering DLLs.
        {u"[DefaultInstall]\nCESetupDLL=setup.dll\n", u"", false,
         "App.inf:20: setup.dll is in no line of [SourceDisksFiles], nor in any source folder"},
        {u"[DefaultInstall]\nCESetupDLL=setup.dll\nCESetupDLL=other.dll\n", u"", false,
         "App.inf:21: CESetupDLL is given twice in [DefaultInstall] with different values (the first on line 20)"},
        {u"[DefaultInstall]\nCESelfRegister=help.htm\n", u"", false,
         "App.inf:20: CESelfRegister names help.htm, which no copy list installs"},
        // Registry lists.
        {u"[DefaultInstall]\nAddReg=Gone\n", u"", true,
         "App.inf:20: warning: AddReg names [Gone], which the INF does not have; no registry values come from it"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software\\Acme\n", u"", false,
         "App.inf:22: a registry line is ROOT, KEY, NAME, FLAGS[, VALUE...]"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKCC,Software\\Acme,,0,x\n", u"", false,
         "App.inf:22: the registry root HKCC is not HKCR, HKCU, HKLM or HKU"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,\\Software,,0,x\n", u"", true,
         "App.inf:22: warning: the key \\Software starts with \\, which is dropped"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software\\\\Acme,,0,x\n", u"", false,
         "App.inf:22: the key Software\\\\Acme has an empty name between two backslashes"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,,,0,x\n", u"", false,
         "App.inf:22: a registry line needs a key below its root"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software,,0x00020000,x\n", u"", false,
         "App.inf:22: the registry flags 0x00020000 are not a type a cabinet holds: 0x00000000 string, 0x00010000 "
         "multi-string, 0x00000001 binary or 0x00010001 DWORD, with or without 0x00000002 (no clobber)"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software,,1,1FF\n", u"", false,
         "App.inf:22: a binary value takes one hexadecimal byte a field; 1FF is not one"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software,,0x00010001\n", u"", false,
         "App.inf:22: a DWORD value takes one number (decimal, or hexadecimal after 0x)"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software,,0,a,b\n", u"", true,
         "App.inf:22: warning: a string value takes one text; the fields after it are ignored"},
        {u"[DefaultInstall]\nAddReg=Reg\n[Reg]\nHKLM,Software,,0x10000,a,,b\n", u"", true,
         "App.inf:22: warning: an empty string in a multi-string value is left out"},
        // Shortcut lists.
        {u"[DefaultInstall]\nCEShortcuts=Gone\n", u"", true,
         "App.inf:20: warning: CEShortcuts names [Gone], which the INF does not have; no shortcuts come from it"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0\n", u"", false,
         "App.inf:22: a shortcut line is NAME, TYPE, TARGET[, FOLDER]"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0,help.htm,%CE11%\n", u"", false,
         "App.inf:22: the shortcut opens help.htm, which no copy list installs"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0,notes.exe\n", u"", false,
         "App.inf:22: the shortcut names no folder, and [DestinationDirs] has no entry for Links, nor a "
         "DefaultDestDir"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0,notes.exe,\\Windows\n", u"", false,
         "App.inf:22: a shortcut's folder must start with %CEn% or %InstallDir%: the device keeps a shortcut below "
         "one of its folders"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0,notes.exe,%CE11%\nnotes.lnk,0,notes.exe,%CE11%\n",
         u"", false, "App.inf:23: a shortcut notes.lnk is made twice in one folder (also on line 22)"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,x,notes.exe,%CE11%\n", u"", false,
         "App.inf:22: the shortcut type x is not 0 (a file) or 1 (a folder)"},
        {u"[DefaultInstall]\nCEShortcuts=Links\n[Links]\nNotes,0,notes.exe,%CE11%\n[DefaultInstall]\nCopyFiles=Two\n"
         u"[DestinationDirs]\nTwo=0,%CE2%\n[Two]\nnotes.exe\n",
         u"", true, "App.inf:22: warning: notes.exe is installed into 2 folders; the shortcut opens the first one copied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Build b(Small(c.more, c.without), {}, c.label);
        for (const char* file : c.files) {
            Touch(b.dir.Path() / "inf" / file);
        }
        b.problems.clear();
        device::inf::HostSourceFinder finder;
        device::inf::CompileRequest request{u"App.inf", testing_support::U16(b.dir.Path() / "inf"), c.label, u""};
        b.ok = device::inf::CompileInf(device::inf::ReadInf(Small(c.more, c.without)), request, finder, b.compiled,
                                       b.problems);
        EXPECT_EQ(b.ok, c.compiles) << Join(b.problems);
        const std::vector<std::string>& lines = c.compiles ? b.compiled.warnings : b.problems;
        std::string all = Join(lines) + Join(b.compiled.warnings);
        EXPECT_NE(all.find(c.message), std::string::npos) << all;
    }
}

// The sources the INF names, each made as a file where the INF looks for it: every
// [SourceDisksFiles*] line on every [SourceDisksNames*] disk of its number, absolute folders
// below `absolute` without their drive.
void MakeSources(const device::inf::Document& d, const fs::path& infFolder, const fs::path& absolute) {
    std::map<std::u16string, std::u16string> strings;
    if (const device::inf::Section* s = d.Find(u"Strings")) {
        for (const auto& line : s->lines) {
            if (line.key) {
                strings[device::inf::FoldName(line.key->text)] = line.fields[0].text;
            }
        }
    }
    auto expand = [&](std::u16string_view text) {
        return device::inf::Substitute(text, [&](std::u16string_view n) -> std::optional<std::u16string> {
            auto f = strings.find(device::inf::FoldName(n));
            return f == strings.end() ? std::nullopt : std::optional(f->second);
        });
    };
    std::multimap<std::u16string, fs::path> disks;
    for (const auto& section : d.sections) {
        if (device::inf::FoldName(section.name).rfind(u"sourcedisksnames", 0) != 0) {
            continue;
        }
        for (const auto& line : section.lines) {
            std::string path = platform::ToUtf8(expand(line.fields.size() > 3 ? line.fields[3].text : u""));
            std::replace(path.begin(), path.end(), '\\', '/');
            fs::path folder = infFolder / path;
            if (path.size() > 1 && path[1] == ':') {
                folder = absolute / path.substr(path.find_first_not_of('/', 2) == std::string::npos
                                                    ? path.size()
                                                    : path.find_first_not_of('/', 2));
            }
            disks.emplace(line.key->text, folder);
        }
    }
    for (const auto& section : d.sections) {
        if (device::inf::FoldName(section.name).rfind(u"sourcedisksfiles", 0) != 0) {
            continue;
        }
        for (const auto& line : section.lines) {
            std::string name = platform::ToUtf8(expand(line.key->text));
            auto [from, to] = disks.equal_range(line.fields[0].text);
            for (auto disk = from; disk != to; ++disk) {
                Touch(disk->second / name);
            }
        }
    }
}

struct RealBuild {
    bool ok = false;
    CompiledInf compiled;
    std::vector<std::string> problems;
};

// Compiles a real INF for each of its labels (or once without) against a tree of empty sources
// made as it names them, `extra` files laid in its own folder beside them.
std::map<std::u16string, RealBuild> CompileReal(const fs::path& inf, std::initializer_list<const char*> extra = {}) {
    std::u16string text;
    EXPECT_TRUE(device::inf::DecodeInf(testing_support::ReadBytes(inf.u16string()), text));
    device::inf::Document d = device::inf::ReadInf(text);
    testing_support::TempDir dir;
    fs::path infFolder = dir.Path() / "a" / "b" / "c" / "d" / "inf";
    fs::create_directories(infFolder);
    MakeSources(d, infFolder, dir.Path() / "abs");
    for (const char* file : extra) {
        Touch(infFolder / file);
    }
    std::vector<std::u16string> labels = device::inf::InfLabels(d);
    if (labels.empty()) {
        labels.push_back(u"");
    }
    std::map<std::u16string, RealBuild> builds;
    for (const std::u16string& label : labels) {
        device::inf::HostSourceFinder finder;
        device::inf::CompileRequest request{inf.filename().u16string(), testing_support::U16(infFolder), label,
                                            testing_support::U16(dir.Path() / "abs")};
        RealBuild& b = builds[label];
        b.ok = device::inf::CompileInf(d, request, finder, b.compiled, b.problems);
    }
    return builds;
}

// Each real INF, label by label, against a tree of empty sources named as it needs: compiled,
// with or without warnings, or refused for the reason decided for it. 02's GRecordDll.dll, named
// in no [SourceDisksFiles], lies in the INF's folder, as it must have on its developer's disk.
TEST(InfCompile, TheRealFilesCompileAsDecided) {
    fs::path folder = SharedFolder() / "infs";
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no real INF files beside the checkout";
    }
    const char* const kNoDisk = "which [SourceDisksNames.";
    const std::map<std::string, std::map<std::string, std::string>> expected{
        {"01-xcsoar-cab.inf", {{"ARM", "warnings"}, {"ARMV4", "warnings"}, {"x86", kNoDisk}, {"mips", kNoDisk},
                               {"sh3", kNoDisk}}},
        {"02-xcsoar-ppc2002.inf", {{"ARMV4", kNoDisk}, {"x86", kNoDisk}, {"mips", "warnings"}, {"sh3", kNoDisk},
                                   {"arm", "warnings"}}},
        {"03-xcsoar-data.inf", {{"ARMV4", "compiled"}, {"x86", "compiled"}, {"mips", "compiled"}, {"sh3", "compiled"}}},
        {"04-freemap.inf", {{"ARM", "warnings"}}},
        {"05-tcpmp.inf", {{"SH3_CE2", "warnings"}, {"MIPS_CE2", "warnings"}, {"ARM_CE2", "warnings"},
                          {"SH3_CE3", "warnings"}, {"MIPS_CE3", "warnings"}, {"ARM_CE3", "warnings"},
                          {"ARM720_CE3", "warnings"}, {"ARM_SP", "warnings"}}},
        {"06-tcpmp-ffmpeg-plugin.inf", {{"SH3", "compiled"}, {"MIPS", "compiled"}, {"ARM", "compiled"},
                                        {"ARM720", "compiled"}, {"ARM_SP", "compiled"}}},
        {"07-tcpmp-revive-vs.inf", {{"", "compiled"}}},
        {"08-gpxsonar.inf", {{"", "warnings"}}},
        {"09-riffle.inf", {{"PPC2003_ARM", "compiled"}}},
        {"10-sqliteviewer.inf", {{"", "warnings"}}},
        {"11-pocketsoap.inf", {{"ARM", "compiled"}, {"SH3", "compiled"}, {"MIPS", "compiled"}, {"IX86", "compiled"}}},
        {"12-pocketxmlrpc.inf", {{"ARM", "warnings"}, {"SH3", "warnings"}, {"MIPS", "warnings"}}},
        {"13-gpac-osmophone.inf", {{"", "no [Version] section with CESignature"}}},
        {"14-ushahidi.inf", {{"", "compiled"}}},
        {"15-wmrime.inf", {{"", "compiled"}}},
        {"16-preisvalidierung.inf", {{"", "warnings"}}},
        {"17-litebase-vms.inf", {{"HPC2000_ARM", "compiled"}, {"HPC211_ARM", "compiled"}, {"PocketPC_ARM", "compiled"},
                                 {"WMOBILE_ARM", "compiled"}, {"PocketPC_MIPS", "compiled"},
                                 {"PocketPC_SH3", "compiled"}}},
        {"18-opennetcf-sdf.inf", {{"", "compiled"}}},
        {"19-rhodes-printingservice.inf", {{"", "warnings"}}},
        {"20-gears-iemobile.inf", {{"", "compiled"}}},
        {"21-gears-opera.inf", {{"", "compiled"}}},
        {"22-sgtpuzzles.inf", {{"x86", "compiled"}, {"ARM", kNoDisk}, {"ARMV4", "warnings"}}},
    };
    int compiled = 0, refused = 0, cabinets = 0;
    for (const auto& [name, labels] : expected) {
        std::map<std::u16string, RealBuild> builds = CompileReal(folder / name, {"GRecordDll.dll"});
        ASSERT_EQ(builds.size(), labels.size()) << name;
        for (const auto& [label, outcome] : labels) {
            SCOPED_TRACE(name + " [" + label + "]");
            ASSERT_TRUE(builds.count(platform::ToUtf16(label)));
            const RealBuild& b = builds.at(platform::ToUtf16(label));
            if (outcome == "compiled" || outcome == "warnings") {
                EXPECT_TRUE(b.ok) << Join(b.problems);
                EXPECT_EQ(b.compiled.warnings.empty(), outcome == "compiled") << Join(b.compiled.warnings);
                EXPECT_FALSE(b.compiled.design.files.empty());
                // The cabinet writer takes the design as it is: texts, numbers and the manifest's
                // limits all fit, and the readers take the manifest back.
                Error error;
                EXPECT_TRUE(device::CheckCabinet(b.compiled.design, error)) << error.message;
                ++compiled;
            } else {
                EXPECT_FALSE(b.ok);
                EXPECT_NE(Join(b.problems).find(outcome), std::string::npos) << Join(b.problems);
                ++refused;
            }
            ++cabinets;
        }
    }
    std::cout << cabinets << " cabinets of 22 INFs: " << compiled << " compiled, " << refused << " refused\n";
}

// A manifest (file 000) the wizard wrote, read only as far as the design goes.
struct Manifest {
    testing_support::Bytes bytes;
    std::map<std::uint16_t, std::u16string> strings;

    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8); }
    std::uint32_t U32(std::size_t at) const { return testing_support::ReadU32(bytes, at); }
    // Text up to its first NUL: the wizard pads every string to a multiple of 4.
    std::u16string Text(std::size_t at, std::size_t length) const {
        std::string text;
        for (std::size_t i = 0; i < length && bytes.at(at + i) != 0; ++i) {
            text += static_cast<char>(bytes[at + i]);
        }
        return platform::ToUtf16(text);
    }
    std::vector<std::u16string> Spec(std::size_t at, std::size_t length) const {
        std::vector<std::u16string> parts;
        for (std::size_t i = 0; i + 1 < length && U16(at + i) != 0; i += 2) {
            parts.push_back(strings.at(U16(at + i)));
        }
        return parts;
    }
};

// The design a manifest of the wizard's means, for the design of its INF to be held against.
device::CabinetDesign ReadManifest(const fs::path& path) {
    Manifest m{testing_support::ReadBytes(path.u16string()), {}};
    device::CabinetDesign d;
    d.processorType = m.U32(20);
    d.limits = {{m.U32(24), m.U32(28)}, {m.U32(32), m.U32(36)}, m.U32(40), m.U32(44)};
    d.appName = m.Text(m.U16(84), m.U16(86));
    d.provider = m.Text(m.U16(88), m.U16(90));
    std::size_t at = m.U32(60);
    for (int i = 0; i < m.U16(48); ++i, at += 4 + m.U16(at + 2)) {
        m.strings[m.U16(at)] = m.Text(at + 4, m.U16(at + 2));
    }
    d.installDir = m.strings.at(1);
    std::map<std::uint16_t, device::DesignFolder> folders;
    at = m.U32(64);
    for (int i = 0; i < m.U16(50); ++i, at += 4 + m.U16(at + 2)) {
        device::DesignFolder folder;
        folder.parts = m.Spec(at + 4, m.U16(at + 2));
        folder.inInstallDir = m.U16(at + 4) == 1;
        if (folder.inInstallDir) {
            folder.parts.erase(folder.parts.begin());
        }
        folders[m.U16(at)] = folder;
    }
    for (const auto& [id, folder] : folders) {
        EXPECT_EQ(id, d.folders.size() + 2);
        d.folders.push_back(folder);
    }
    at = m.U32(68);
    for (int i = 0; i < m.U16(52); ++i, at += 12 + m.U16(at + 10)) {
        EXPECT_EQ(m.U16(at), i + 1);
        d.files.push_back({m.Text(at + 12, m.U16(at + 10)), std::size_t{m.U16(at + 2)} - 2u, m.U16(at + 4),
                           m.U32(at + 6), 0, 0});
    }
    std::map<std::uint16_t, std::pair<std::uint16_t, std::u16string>> hives;
    at = m.U32(72);
    for (int i = 0; i < m.U16(54); ++i, at += 8 + m.U16(at + 6)) {
        std::u16string key;
        for (const std::u16string& part : m.Spec(at + 8, m.U16(at + 6))) {
            key += (key.empty() ? u"" : u"\\") + part;
        }
        hives[m.U16(at)] = {m.U16(at + 2), key};
    }
    at = m.U32(76);
    for (int i = 0; i < m.U16(56); ++i, at += 12 + m.U16(at + 10)) {
        device::RegistryValue value;
        const auto& [root, key] = hives.at(m.U16(at + 2));
        value.root = static_cast<device::RegistryRoot>(root);
        value.key = key;
        value.type = m.U32(at + 6);
        std::size_t data = at + 12, end = data + m.U16(at + 10);
        value.name = m.Text(data, end - data);
        data += value.name.size() + 1;
        if ((value.type & device::kRegTypeMask) == device::kRegDword) {
            value.number = m.U32(data);
        } else {
            while (data < end && m.bytes[data] != 0) {
                value.texts.push_back(m.Text(data, end - data));
                data += value.texts.back().size() + 1;
                if ((value.type & device::kRegTypeMask) == device::kRegString) {
                    break;
                }
            }
        }
        d.registry.push_back(value);
    }
    at = m.U32(80);
    for (int i = 0; i < m.U16(58); ++i, at += 12 + m.U16(at + 10)) {
        bool toFile = m.U16(at + 8) == 1;
        d.links.push_back({m.U16(at + 4), m.Spec(at + 12, m.U16(at + 10)), toFile,
                           std::size_t{m.U16(at + 6)} - (toFile ? 1u : 2u)});
    }
    return d;
}

// What the wizard's own cabinets of two real INFs say, the design of the same INF says too:
// install folder, folders, files with their folders, sources and flags, registry values,
// shortcuts and limits. String ids, padding and member numbers are the writer's business.
TEST(InfCompile, TheWizardsOwnCabinetsMeanTheSame) {
    fs::path shared = SharedFolder();
    if (!fs::is_directory(shared / "oracle")) {
        GTEST_SKIP() << "no cabinets of the wizard's beside the checkout";
    }
    const struct {
        const char* inf;
        const char* manifest;
        std::size_t folders, files, values, links;
    } cabinets[] = {{"18-opennetcf-sdf.inf", "sdf.000", 1, 16, 33, 0}, {"14-ushahidi.inf", "ushahidi.000", 11, 12, 0, 1}};
    for (const auto& [inf, manifest, folders, files, values, links] : cabinets) {
        SCOPED_TRACE(inf);
        std::map<std::u16string, RealBuild> builds = CompileReal(shared / "infs" / inf);
        ASSERT_EQ(builds.size(), 1u);
        RealBuild& b = builds.begin()->second;
        ASSERT_TRUE(b.ok) << Join(b.problems);
        device::CabinetDesign wizard = ReadManifest(shared / "oracle" / manifest);
        device::CabinetDesign& ours = b.compiled.design;
        for (device::DesignFile& file : ours.files) {
            file.member = 0;
            file.size = 0;
        }
        EXPECT_EQ(wizard.folders.size(), folders);
        EXPECT_EQ(wizard.files.size(), files);
        EXPECT_EQ(wizard.registry.size(), values);
        EXPECT_EQ(wizard.links.size(), links);
        EXPECT_EQ(ours.appName, wizard.appName);
        EXPECT_EQ(ours.provider, wizard.provider);
        EXPECT_EQ(ours.processorType, wizard.processorType);
        EXPECT_EQ(ours.limits, wizard.limits);
        EXPECT_EQ(ours.installDir, wizard.installDir);
        EXPECT_EQ(ours.folders, wizard.folders);
        EXPECT_EQ(ours.files, wizard.files);
        EXPECT_EQ(ours.registry, wizard.registry);
        EXPECT_EQ(ours.links, wizard.links);
        EXPECT_TRUE(ours.unsupported.empty());
        EXPECT_FALSE(ours.setupDll);
    }
}

} // namespace
