// Making installers in one pass, the package and the sidebar bitmap stored as resources of a copy
// of the template, and the package read back from the installer, by the project's own reader and
// (under Wine) by the platform's loader.
#include "package/installer.h"
#include "package/installer_write.h"
#include "package/package.h"
#include "package/pe_icons.h"
#include "package/pe_version.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#endif

using namespace testing_support;

namespace {

const pe::ResourceKey kPackageType = pe::ResourceKey::Name(u"RT_RCDATA");
const pe::ResourceKey kPackageName = pe::ResourceKey::Name(u"ORBDATA");
const pe::ResourceKey kBitmapType = pe::ResourceKey::Id(pe::kTypeBitmap);
const pe::ResourceKey kSidebar = pe::ResourceKey::Id(251);

Bytes Resource(const std::u16string& exe, const pe::ResourceKey& type, const pe::ResourceKey& name) {
    Bytes data;
    Error error;
    EXPECT_TRUE(pe::ReadResource(exe, type, name, pe::kLanguageEnglishUS, data, error)) << error.message;
    return data;
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sources = {File(u"app.exe", 5000, 1), File(u"readme.txt", 0), File(u"eula.txt", 120, 2),
                   File(u"data.bin", 9000, 3)};
        for (const auto& s : sources) {
            ASSERT_TRUE(writer.AddFile(s.c_str(), 30));
        }
        writer.SetProgramName(u"Notes");
        packagePath = dir.File(u"temp.dat");
        ASSERT_TRUE(writer.Write(packagePath.c_str(), nullptr));
        templatePath = dir.File(u"Template.exe");
        WriteBytes(templatePath, ReadBytes(SourceFile(u"tests/data/pe/rsrc-reloc32.exe")));
    }
    std::u16string File(std::u16string_view name, std::size_t size, std::uint8_t seed = 0) {
        std::u16string path = dir.File(name);
        WriteBytes(path, Pattern(size, seed));
        return path;
    }
    // Every member of the package stored in `installer` equals its source file.
    void ExpectMembersBack(const std::u16string& installer) {
        Bytes stored = Resource(installer, kPackageType, kPackageName);
        EXPECT_EQ(stored, ReadBytes(packagePath));
        Package reader;
        ASSERT_TRUE(reader.OpenImage(stored.data(), static_cast<std::uint32_t>(stored.size())));
        ASSERT_EQ(reader.GetCount(), sources.size());
        // And read in pieces from the installer file where the resource lies, as the reading
        // commands do, never loading it whole.
        pe::ResourceLocation location;
        Error error;
        ASSERT_TRUE(pe::LocateResource(installer, kPackageType, kPackageName, pe::kLanguageEnglishUS, location, error));
        EXPECT_EQ(location.size, stored.size());
        Package inPlace;
        ASSERT_TRUE(inPlace.OpenPackageAt(installer.c_str(), location.fileOffset, location.size));
        ASSERT_EQ(inPlace.GetCount(), sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i) {
            for (Package* from : {&reader, &inPlace}) {
                std::u16string out = dir.File(u"extracted");
                ASSERT_TRUE(from->ExtractToFile(static_cast<std::int32_t>(i), out.c_str()));
                EXPECT_EQ(ReadBytes(out), ReadBytes(sources[i])) << i;
            }
        }
        inPlace.Close();
        // A package cut short by the end of the file is refused, as a short package file is.
        EXPECT_FALSE(inPlace.OpenPackageAt(installer.c_str(), location.fileOffset, kHeaderSize + 10));
    }

    // The installer of `writer`'s package made from `from`, with the sidebar picture when one is given.
    Error Make(const std::u16string& from, const std::u16string& installer, const std::u16string& sidebar = {}) {
        PackageMembersHost host(writer, nullptr);
        return WriteInstaller({from, sidebar}, installer, host);
    }

    TempDir dir;
    std::vector<std::u16string> sources;
    Package writer;
    std::u16string packagePath;
    std::u16string templatePath;
};

TEST_F(InstallerTest, ThePackageGoesInByteForByteAndEveryOtherResourceStays) {
    std::vector<pe::ResourceInfo> before, after;
    Error error;
    ASSERT_TRUE(pe::ListResources(templatePath, before, error));

    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_FALSE(Make(templatePath, installer));
    ExpectMembersBack(installer);

    ASSERT_TRUE(pe::ListResources(installer, after, error));
    EXPECT_EQ(after.size(), before.size() + 1);
    for (const pe::ResourceInfo& r : before) {
        Bytes a, b;
        ASSERT_TRUE(pe::ReadResource(templatePath, r.type, r.name, r.language, a, error));
        ASSERT_TRUE(pe::ReadResource(installer, r.type, r.name, r.language, b, error));
        EXPECT_EQ(a, b);
    }

    // The package can be read back from the installer itself, as the installer does.
    Package reader;
    ASSERT_TRUE(reader.OpenModule(installer.c_str(), nullptr)) << platform::ToUtf8(reader.LastError());
    EXPECT_EQ(reader.GetCount(), 4u);
    EXPECT_EQ(std::u16string(FieldText(reader.GetHeader().programName)), u"Notes");
    Bytes buffer(10);
    EXPECT_FALSE(reader.ReadMember(0, buffer.data(), 10)); // the module's bytes are gone
    EXPECT_EQ(reader.LastError(), u"No ORB file opened");
}

TEST_F(InstallerTest, AnEntryFilterStopsTheTableWhereItSays) {
    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_FALSE(Make(templatePath, installer));
    int seen = 0;
    EntryFilter stopAtThird = [&](const PackageEntry&) -> std::uint8_t { return ++seen == 3 ? 1 : 0; };
    Package reader;
    ASSERT_TRUE(reader.OpenModule(installer.c_str(), stopAtThird));
    EXPECT_EQ(reader.GetCount(), 2u);
    EXPECT_EQ(reader.GetHeader().count, 4u);

    EXPECT_FALSE(reader.OpenModule(templatePath.c_str(), nullptr)); // no package in it
    EXPECT_EQ(reader.LastError(), u"FindResource failed");
    EXPECT_FALSE(reader.OpenModule(dir.File(u"missing.exe").c_str(), nullptr));
    EXPECT_EQ(reader.LastError(), u"FindResource failed");
}

// A package or a picture the template already carries in other languages would stay beside the
// new ones, and the system running the installer may prefer them: only the new ones may remain.
TEST_F(InstallerTest, TheInstallerHoldsTheNewPackageAndNoOther) {
    std::u16string stale = dir.File(u"Stale.exe");
    WriteBytes(stale, ReadBytes(templatePath));
    std::vector<pe::ResourceUpdate> smuggled;
    for (std::uint16_t language : {std::uint16_t{0}, std::uint16_t{1031}, pe::kLanguageEnglishUS}) {
        smuggled.push_back({kPackageType, pe::ResourceKey::Name(u"orbdata"), language, {Pattern(3000, 5), {}, 0, 0}});
    }
    // And a sidebar picture of its own in another language, which a user of that language would see.
    smuggled.push_back({kBitmapType, kSidebar, 1031, {Pattern(40, 9), {}, 0, 0}});
    Error error;
    ASSERT_TRUE(pe::UpdateResources(stale, smuggled, error)) << error.message;
    std::u16string bmp = File(u"side.bmp", 0);
    WriteBytes(bmp, MakeBitmap(128, 280, 2));

    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_FALSE(Make(stale, installer, bmp));
    std::vector<pe::ResourceInfo> listed;
    ASSERT_TRUE(pe::ListResources(installer, listed, error));
    int packages = 0, sidebars = 0;
    for (const pe::ResourceInfo& r : listed) {
        packages += IsPackageResource(r);
        sidebars += r.type == kBitmapType && r.name == kSidebar;
    }
    EXPECT_EQ(packages, 1);
    EXPECT_EQ(sidebars, 1);
    ExpectMembersBack(installer);
}

// An installer made from an installer (a template someone built on): its package and picture are
// replaced, never kept beside the new ones.
TEST_F(InstallerTest, TheSidebarBitmapIsStoredWithoutItsFileHeaderAndReplacedTheSecondTime) {
    Bytes first = MakeBitmap(128, 280, 1);
    ASSERT_EQ(first.size(), 107574u);
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, first);
    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_FALSE(Make(templatePath, installer, bmp));
    Bytes stored = Resource(installer, kBitmapType, kSidebar);
    ASSERT_EQ(stored.size(), 107560u);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 40), Bytes(first.begin() + 14, first.begin() + 54));

    Bytes second = MakeBitmap(128, 280, 9);
    WriteBytes(bmp, second);
    std::u16string again = dir.File(u"Again.exe");
    ASSERT_FALSE(Make(installer, again, bmp));
    EXPECT_EQ(Resource(again, kBitmapType, kSidebar), Bytes(second.begin() + 14, second.end()));
    std::vector<pe::ResourceInfo> all;
    Error error;
    ASSERT_TRUE(pe::ListResources(again, all, error));
    int sidebars = 0, packages = 0;
    for (const auto& r : all) {
        sidebars += r.type == kBitmapType && r.name == kSidebar;
        packages += IsPackageResource(r);
    }
    EXPECT_EQ(sidebars, 1);
    EXPECT_EQ(packages, 1);
    ExpectMembersBack(again);
}

TEST_F(InstallerTest, APackageOfTensOfMegabytesComesBackEqual) {
    std::u16string big = File(u"big.bin", 24 * 1024 * 1024, 5);
    Package package;
    ASSERT_TRUE(package.AddFile(big.c_str(), 30));
    ASSERT_TRUE(package.AddFile(sources[2].c_str(), FLAG_EULA));
    std::u16string bigPackage = dir.File(u"big.dat");
    ASSERT_TRUE(package.Write(bigPackage.c_str(), nullptr));
    // The member crosses many of the writer's buffers.
    std::u16string installer = dir.File(u"Setup.exe");
    PackageMembersHost host(package, nullptr);
    Error error = WriteInstaller({templatePath, {}}, installer, host);
    ASSERT_FALSE(error) << error.Text();
    EXPECT_TRUE(Resource(installer, kPackageType, kPackageName) == ReadBytes(bigPackage));
}

// Whatever the template's layout (resources last, before the relocations, before another section,
// none at all, an overlay of odd length; a package and a picture of its own in other languages),
// the installer holds the package and the picture, and every other resource of the template as it
// was.
TEST_F(InstallerTest, EveryTemplateLayoutKeepsItsResourcesAndGainsThePackage) {
    std::u16string stale = dir.File(u"Stale.exe");
    WriteBytes(stale, ReadBytes(templatePath));
    std::vector<pe::ResourceUpdate> smuggled{
        {kPackageType, pe::ResourceKey::Name(u"orbdata"), 1031, {Pattern(3001, 5), {}, 0, 0}},
        {kBitmapType, kSidebar, 1031, {Pattern(41, 9), {}, 0, 0}}};
    Error error;
    ASSERT_TRUE(pe::UpdateResources(stale, smuggled, error)) << error.message;
    std::u16string bmp = dir.File(u"side.bmp");
    const Bytes picture = MakeBitmap(128, 280, 3);
    WriteBytes(bmp, picture);
    // Members of odd sizes, so that the checksum sees words split across reads.
    writer.Clear();
    for (std::u16string name : {u"a.exe", u"b.txt", u"c.dll"}) {
        ASSERT_TRUE(writer.AddFile(File(name, 4093 + 2 * name[0], static_cast<std::uint8_t>(name[0])).c_str(), 30));
    }
    ASSERT_TRUE(writer.AddFile(sources[1].c_str(), 30)); // empty
    ASSERT_TRUE(writer.Write(packagePath.c_str(), nullptr));
    const Bytes package = ReadBytes(packagePath);

    const std::u16string samples[] = {u"rsrc-reloc32.exe", u"rsrc-last64.exe", u"after32.exe",
                                      u"nores64.exe",      u"overlay32.exe",   u"inside64.exe"};
    std::vector<std::u16string> templates{stale};
    for (const std::u16string& sample : samples) {
        templates.push_back(SourceFile(u"tests/data/pe/" + sample));
    }
    for (const std::u16string& from : templates) {
        for (bool withSidebar : {false, true}) {
            SCOPED_TRACE(platform::ToUtf8(from) + (withSidebar ? " with a sidebar" : ""));
            std::u16string installer = dir.File(u"One.exe");
            error = Make(from, installer, withSidebar ? bmp : u"");
            ASSERT_FALSE(error) << error.Text();
            EXPECT_TRUE(Resource(installer, kPackageType, kPackageName) == package);
            std::vector<pe::ResourceInfo> before, after;
            ASSERT_TRUE(pe::ListResources(from, before, error));
            ASSERT_TRUE(pe::ListResources(installer, after, error));
            for (const pe::ResourceInfo& r : before) {
                bool ours = IsPackageResource(r) || (withSidebar && r.type == kBitmapType && r.name == kSidebar);
                bool kept = std::any_of(after.begin(), after.end(), [&](const pe::ResourceInfo& a) {
                    return a.type == r.type && a.name == r.name && a.language == r.language;
                });
                EXPECT_EQ(kept, !ours || r.language == pe::kLanguageEnglishUS);
                Bytes was, is;
                if (!ours && pe::ReadResource(from, r.type, r.name, r.language, was, error)) {
                    EXPECT_TRUE(pe::ReadResource(installer, r.type, r.name, r.language, is, error) && is == was);
                }
            }
            if (withSidebar) {
                EXPECT_TRUE(Resource(installer, kBitmapType, kSidebar) == Bytes(picture.begin() + 14, picture.end()));
            }
        }
    }
}

// Whatever stops the one-pass road leaves the output as it was and nothing beside it.
TEST_F(InstallerTest, OnePassFailuresLeaveTheOutputAsItWas) {
    std::u16string installer = File(u"Setup.exe", 77);
    std::u16string header = dir.File(u"header.bmp"), png = dir.File(u"side.png");
    WriteBytes(header, Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    WriteBytes(png, Pattern(500));
    struct Refusing : PackageMembersHost {
        using PackageMembersHost::PackageMembersHost;
        bool MayReplaceOutput() override { return false; }
    };
    // A member that goes away after it was measured: the package fails halfway through.
    struct Vanishing : PackageMembersHost {
        Vanishing(Package& package, std::u16string member) : PackageMembersHost(package, nullptr), gone(member) {}
        bool MeasurePackage(std::uint64_t& length) override {
            bool measured = PackageMembersHost::MeasurePackage(length);
            std::filesystem::remove(std::filesystem::path(gone));
            return measured;
        }
        std::u16string gone;
    };
    std::u16string last = sources.back();
    struct Case {
        const char* what;
        InstallerParts parts;
        ErrorCode code;
        std::string message;
        int host; // 0 plain, 1 refusing at the end, 2 losing a member, 3 an empty package
    };
    const Case cases[] = {
        {"signed template",
         {SourceFile(u"tests/data/pe/signed32.exe"), {}},
         ErrorCode::Malformed,
         "The executable is signed; changing its resources would break the signature. Use an unsigned copy.",
         0},
        {"no template", {dir.File(u"none.exe"), {}}, ErrorCode::Malformed, "The executable could not be opened.", 0},
        {"header-only bitmap",
         {templatePath, header},
         ErrorCode::Malformed,
         "The bitmap file holds nothing after its file header",
         0},
        {"not a bitmap",
         {templatePath, png},
         ErrorCode::Malformed,
         "The file is not a bitmap (it does not start with \"BM\")",
         0},
        {"output changed meanwhile", {templatePath, {}}, ErrorCode::Refused, "", 1},
        {"member gone",
         {templatePath, {}},
         ErrorCode::PackageFailed,
         "The new executable could not be written (a disk full, or a resource file that changed?).",
         2},
        {"no files", {templatePath, {}}, ErrorCode::PackageFailed, "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PackageMembersHost plain(writer, nullptr);
        Refusing refusing(writer, nullptr);
        Vanishing vanishing(writer, last);
        Package none;
        PackageMembersHost nothing(none, nullptr);
        InstallerWriteHost* hosts[] = {&plain, &refusing, &vanishing, &nothing};
        Error error = WriteInstaller(c.parts, installer, *hosts[c.host]);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(ReadBytes(installer), Pattern(77));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(dir.File(u""))),
                                std::filesystem::directory_iterator()),
                  static_cast<std::ptrdiff_t>(sources.size() + 5 - (c.host >= 2 ? 1 : 0)));
    }
    EXPECT_TRUE(writer.LastError().starts_with(u"Cannot open file:") && writer.LastError().ends_with(u"data.bin"));
}

// The version strings an installer is made with, in the order the readers below report them.
const char16_t* const kVersionKeys[] = {u"ProductName",     u"ProductVersion", u"FileVersion",     u"CompanyName",
                                        u"FileDescription", u"LegalCopyright", u"OriginalFilename"};

#ifdef _WIN32

// What the platform makes of an installer's icon and version information: for each image of the
// icon file, the image LookupIconIdFromDirectoryEx picks for its side from the group the shell
// shows, and that image's own size once made an icon; then the fixed versions and the strings.
std::string PlatformReport(const std::u16string& exe, const std::vector<IconSpec>& images) {
    std::wstring path(exe.begin(), exe.end());
    std::string report;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return "cannot load";
    }
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    auto* directory = group ? static_cast<BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    for (const IconSpec& spec : images) {
        int side = static_cast<int>(spec.side);
        int id = directory ? LookupIconIdFromDirectoryEx(directory, TRUE, side, side, LR_DEFAULTCOLOR) : 0;
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
        HICON icon =
            image ? CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(module, image))),
                                             SizeofResource(module, image), TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR)
                  : nullptr;
        ICONINFO info{};
        BITMAP bitmap{};
        if (icon && GetIconInfo(icon, &info)) {
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
        // And as a program asks for its icon at a size.
        HANDLE loaded = LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, 0);
        if (loaded) {
            DestroyIcon(static_cast<HICON>(loaded));
        }
        report += "icon " + std::to_string(bitmap.bmWidth) + " " + std::to_string(id) + (loaded ? "\n" : " no\n");
    }
    FreeLibrary(module);

    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        return report + "no version";
    }
    auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
               "." + std::to_string(LOWORD(low));
    };
    report += "fixed " + dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
              dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + "\n";
    for (const char16_t* key : kVersionKeys) {
        std::u16string query = std::u16string(u"\\StringFileInfo\\040904b0\\") + key;
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), reinterpret_cast<const wchar_t*>(query.c_str()),
                           reinterpret_cast<void**>(&value), &length)) {
            report += platform::ToUtf8(key) + "=" +
                      platform::ToUtf8(std::u16string(value, value + std::wcslen(value))) + "\n";
        }
    }
    return report;
}

#else

// The same as an independent reader sees it: pefile (python3-pefile) lists the first icon group's
// entries, each with its side and id when the RT_ICON it names holds that image of the icon file,
// then the fixed versions and the strings.
constexpr const char* kPefileScript = R"PY(
import struct, sys, pefile
exe, ico, keys = sys.argv[1], open(sys.argv[2], 'rb').read(), sys.argv[3:]
pe = pefile.PE(exe)
def named(type_id):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id == type_id:
            return t.directory.entries
    return []
def data(entry):
    leaf = entry.directory.entries[0].data.struct
    return pe.get_data(leaf.OffsetToData, leaf.Size)
icons = {e.id: data(e) for e in named(3)}
group = data(named(14)[0])
for i in range(struct.unpack_from('<H', group, 4)[0]):
    width, height, colours, _, planes, bits, size, nid = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
    length, offset = struct.unpack_from('<II', ico, 6 + 16 * i + 8)
    same = icons.get(nid) == ico[offset:offset + length] and size == length
    print('icon', width or 256, nid if same else 'differs')
fixed = pe.VS_FIXEDFILEINFO[0]
dotted = lambda high, low: '%d.%d.%d.%d' % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
print('fixed', dotted(fixed.FileVersionMS, fixed.FileVersionLS), dotted(fixed.ProductVersionMS, fixed.ProductVersionLS))
for info in pe.FileInfo[0]:
    if info.Key == b'StringFileInfo':
        strings = {k.decode(): v.decode() for k, v in info.StringTable[0].entries.items()}
        for key in keys:
            if key in strings:
                print(key + '=' + strings[key])
)PY";

std::string PefileReport(const TempDir& dir, const std::u16string& exe, const std::u16string& ico) {
    std::string script = platform::ToUtf8(dir.File(u"report.py")), out = platform::ToUtf8(dir.File(u"report.txt"));
    std::ofstream(script) << kPefileScript;
    std::string command =
        "/usr/bin/python3 '" + script + "' '" + platform::ToUtf8(exe) + "' '" + platform::ToUtf8(ico) + "'";
    for (const char16_t* key : kVersionKeys) {
        command.append(" ").append(platform::ToUtf8(key));
    }
    int status = std::system(command.append(" >'").append(out).append("' 2>&1").c_str());
    std::ifstream in(out);
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return status == 0 ? report : "python3 failed: " + report;
}

bool PefileThere() { return std::system("/usr/bin/python3 -c 'import pefile' >/dev/null 2>&1") == 0; }

#endif

// The installer carries the application's icon, every image of the icon file under the group the
// shell shows (a 256 x 256 PNG among them), and its version information, as the platform shows
// them (under Wine) and as an independent reader reads them (pefile, elsewhere).
TEST_F(InstallerTest, TheInstallerShowsTheApplicationsIconAndVersion) {
#ifndef _WIN32
    if (!PefileThere()) {
        GTEST_SKIP() << "python3-pefile is not installed (cmake/ensure-deps.sh installs it)";
    }
#endif
    pe::VersionChanges changes;
    changes.strings = {{u"ProductName", u"Notes"}, {u"CompanyName", u"Example Ltd"}, {u"LegalCopyright", u"(c) 2024"}};
    changes.fileVersion = pe::VersionNumber{2, 5, 0, 1};
    changes.productVersion = pe::VersionNumber{2, 5, 0, 0};
    const pe::VersionEdit version(changes);
    const std::string versionReport = "fixed 2.5.0.1 2.5.0.0\n"
                                      "ProductName=Notes\nProductVersion=2.5.0.0\nFileVersion=2.5.0.1\n"
                                      "CompanyName=Example Ltd\nFileDescription=Resource sample\n"
                                      "LegalCopyright=(c) 2024\n";
    const std::vector<std::vector<IconSpec>> icons = {
        {{32}},
        {{16}, {32}, {48}},
        {{16}, {20}, {24}, {32}, {40}, {48}, {64}, {128}, {256, true}},
    };
    for (const std::vector<IconSpec>& images : icons) {
        SCOPED_TRACE(images.size());
        std::u16string ico = dir.File(u"app.ico"), installer = dir.File(u"Setup.exe");
        WriteBytes(ico, MakeIconFile(images));
        pe::IconReplacement icon;
        Error detail;
        ASSERT_TRUE(icon.Load(ico, detail)) << detail.Text();
        InstallerParts parts{templatePath, {}};
        parts.edits = {&icon, &version};
        PackageMembersHost host(writer, nullptr);
        Error error = WriteInstaller(parts, installer, host);
        ASSERT_FALSE(error) << error.Text();
        ExpectMembersBack(installer);

        std::string expected;
        for (std::size_t i = 0; i < images.size(); ++i) {
            expected += "icon " + std::to_string(images[i].side) + " " + std::to_string(i + 1) + "\n";
        }
#ifdef _WIN32
        EXPECT_EQ(PlatformReport(installer, images), expected + versionReport);
#else
        EXPECT_EQ(PefileReport(dir, installer, ico), expected + versionReport);
#endif
    }
}

#ifdef _WIN32

// What the platform's loader finds in an executable: the bytes of one resource.
Bytes LoaderResource(const std::u16string& exe, const pe::ResourceKey& type, const pe::ResourceKey& name,
                     std::uint16_t language) {
    std::wstring path(exe.begin(), exe.end());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module, nullptr);
    if (!module) {
        return {};
    }
    std::wstring typeText(type.name.begin(), type.name.end()), nameText(name.name.begin(), name.name.end());
    HRSRC found = FindResourceExW(module, type.IsName() ? typeText.c_str() : MAKEINTRESOURCEW(type.id),
                                  name.IsName() ? nameText.c_str() : MAKEINTRESOURCEW(name.id), language);
    Bytes bytes;
    if (found) {
        auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
        bytes.assign(data, data + SizeofResource(module, found));
    }
    FreeLibrary(module);
    EXPECT_NE(found, nullptr);
    return bytes;
}

// The platform's loader finds every resource of an installer where the project's own reader
// lists it, with the same bytes.
TEST_F(InstallerTest, TheLoaderFindsEveryResourceAsTheEditorWroteIt) {
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 280, 4));
    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_FALSE(Make(templatePath, installer, bmp));

    std::vector<pe::ResourceInfo> listed;
    Error error;
    ASSERT_TRUE(pe::ListResources(installer, listed, error)) << error.message;
    for (const pe::ResourceInfo& r : listed) {
        Bytes ours;
        ASSERT_TRUE(pe::ReadResource(installer, r.type, r.name, r.language, ours, error));
        EXPECT_TRUE(LoaderResource(installer, r.type, r.name, r.language) == ours);
        EXPECT_EQ(ours.size(), r.size);
    }
    EXPECT_EQ(LoaderResource(installer, kPackageType, kPackageName, 1033), ReadBytes(packagePath));
}

// The installer's own side: a copy of this test program carrying a package reads it from its own
// resources and extracts every member (see main below).
TEST_F(InstallerTest, AnInstallerReadsItsOwnPackage) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::u16string selfPath(self, self + std::wcslen(self));
    std::u16string installer = dir.File(u"SelfSetup.exe");
    Error error = Make(selfPath, installer);
    ASSERT_FALSE(error) << error.Text();

    std::u16string out = dir.File(u"out");
    std::filesystem::create_directories(std::filesystem::path(out));
    std::wstring command = L"\"" + std::wstring(installer.begin(), installer.end()) + L"\" --read-own-package \"" +
                           std::wstring(out.begin(), out.end()) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(code, 0u);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(ReadBytes(out + u"\\" + static_cast<char16_t>(u'0' + i)), ReadBytes(sources[i])) << i;
    }
}

// Runs in the patched copy: opens the package from the program's own resources (both ways) and
// extracts every member into the folder as 0, 1, 2, ...
int ReadOwnPackage(const wchar_t* folder) {
    Package viaOpen;
    if (!viaOpen.Open(u"ORBDATA", 1)) {
        return 2;
    }
    Package package;
    if (!package.OpenResource(u"ORBDATA")) {
        return 3;
    }
    std::u16string base(folder, folder + std::wcslen(folder));
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        std::u16string out = base + u"\\" + static_cast<char16_t>(u'0' + i);
        if (!package.ExtractToFile(static_cast<std::int32_t>(i), out.c_str())) {
            return 4;
        }
    }
    return package.GetCount() == viaOpen.GetCount() ? 0 : 5;
}

#endif

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    int wargc = 0;
    wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    if (wargc == 3 && std::wcscmp(wargv[1], L"--read-own-package") == 0) {
        return ReadOwnPackage(wargv[2]);
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
