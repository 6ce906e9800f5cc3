// Making installers: the template copied, the package and the sidebar bitmap stored as resources,
// and the package read back from the installer, with both the platform's functions (under Wine)
// and the project's own editor.
#include "package/installer.h"
#include "package/installer_write.h"
#include "package/package.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

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
    std::u16string error;
    EXPECT_TRUE(pe::ReadResource(exe, type, name, pe::kLanguageEnglishUS, data, error)) << platform::ToUtf8(error);
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
        std::u16string error;
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

    TempDir dir;
    std::vector<std::u16string> sources;
    Package writer;
    std::u16string packagePath;
    std::u16string templatePath;
    PortablePatcher portable{false};
};

TEST_F(InstallerTest, ThePackageGoesInByteForByteAndEveryOtherResourceStays) {
    std::vector<pe::ResourceInfo> before, after;
    std::u16string error;
    ASSERT_TRUE(pe::ListResources(templatePath, before, error));

    std::u16string installer = dir.File(u"Setup.exe");
    Package package;
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), portable));
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
    Package package;
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), portable));
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

TEST_F(InstallerTest, FailuresBeforeAndAfterTheCopy) {
    Package package;
    std::u16string installer = dir.File(u"Setup.exe");
    EXPECT_FALSE(
        package.MakeInstaller(dir.File(u"missing.exe").c_str(), packagePath.c_str(), installer.c_str(), portable));
    EXPECT_EQ(package.LastError(), u"");
    EXPECT_FALSE(Exists(installer));
    EXPECT_FALSE(package.MakeInstaller(nullptr, packagePath.c_str(), installer.c_str(), portable));

    // An empty package: the copy stays a plain template.
    std::u16string empty = File(u"empty.dat", 0);
    EXPECT_FALSE(package.MakeInstaller(templatePath.c_str(), empty.c_str(), installer.c_str(), portable));
    EXPECT_EQ(package.LastError(), u"");
    EXPECT_EQ(ReadBytes(installer), ReadBytes(templatePath));

    std::u16string other = dir.File(u"Other.exe");
    EXPECT_FALSE(package.MakeInstaller(templatePath.c_str(), dir.File(u"gone.dat").c_str(), other.c_str(), portable));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"Could not allocate memory for dat file");
}

// A package the template already carries in other languages would stay beside the new one, and
// the system running the installer may prefer it; a store that reports success without reaching
// the file would give a plain template. Both must fail or be put right, never pass.
TEST_F(InstallerTest, TheInstallerHoldsTheNewPackageAndNoOther) {
    std::u16string stale = dir.File(u"Stale.exe");
    WriteBytes(stale, ReadBytes(templatePath));
    std::vector<pe::ResourceUpdate> smuggled;
    for (std::uint16_t language : {std::uint16_t{0}, std::uint16_t{1031}, pe::kLanguageEnglishUS}) {
        smuggled.push_back({kPackageType, pe::ResourceKey::Name(u"orbdata"), language, {Pattern(3000, 5), {}, 0, 0}});
    }
    // And a sidebar picture of its own in another language, which a user of that language would see.
    smuggled.push_back({kBitmapType, kSidebar, 1031, {Pattern(40, 9), {}, 0, 0}});
    std::u16string error;
    ASSERT_TRUE(pe::UpdateResources(stale, smuggled, error)) << platform::ToUtf8(error);
    std::u16string bmp = File(u"side.bmp", 0);
    WriteBytes(bmp, MakeBitmap(128, 280, 2));

    std::vector<InstallerPatcher*> patchers{&portable};
#ifdef _WIN32
    PlatformPatcher platformPatcher;
    patchers.push_back(&platformPatcher);
#endif
    for (InstallerPatcher* patcher : patchers) {
        std::u16string installer = dir.File(u"Setup.exe");
        std::filesystem::remove(std::filesystem::path(installer));
        Package package;
        ASSERT_TRUE(package.MakeInstaller(stale.c_str(), packagePath.c_str(), installer.c_str(), *patcher))
            << platform::ToUtf8(package.LastError());
        ASSERT_TRUE(package.StoreBitmap(installer.c_str(), bmp.c_str(), kSidebar, *patcher));
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

    // An update that claims success but never reaches the file.
    struct Claiming : PortablePatcher {
        Claiming() : PortablePatcher(false) {}
        StoreOutcome Store(std::u16string_view, const pe::ResourceKey&, const pe::ResourceKey&, std::u16string_view,
                           std::uint32_t, std::uint32_t) override {
            return StoreOutcome::Stored;
        }
    } claiming;
    Package package;
    std::u16string plain = dir.File(u"Plain.exe");
    EXPECT_FALSE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), plain.c_str(), claiming));
    EXPECT_EQ(package.LastError(), u"The installer does not hold the package after it was stored.");
}

TEST_F(InstallerTest, AnExistingInstallerIsReplacedOnlyWhenAllowed) {
    std::u16string installer = File(u"Setup.exe", 77);
    Package package;
    EXPECT_FALSE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), portable));
    EXPECT_EQ(ReadBytes(installer), Pattern(77));

    PortablePatcher replacing(true);
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), replacing));
    ExpectMembersBack(installer);
}

TEST_F(InstallerTest, ASignedTemplateIsRefusedAndStaysAPlainCopy) {
    std::u16string signedTemplate = SourceFile(u"tests/data/pe/signed32.exe");
    std::u16string installer = dir.File(u"Setup.exe");
    Package package;
    EXPECT_FALSE(package.MakeInstaller(signedTemplate.c_str(), packagePath.c_str(), installer.c_str(), portable));
    EXPECT_EQ(package.LastError(), u"Could not open the resource fork of the destination exe file.");
    EXPECT_FALSE(portable.Detail().empty());
    EXPECT_EQ(ReadBytes(installer), ReadBytes(signedTemplate));
}

TEST_F(InstallerTest, TheSidebarBitmapIsStoredWithoutItsFileHeaderAndReplacedTheSecondTime) {
    std::u16string installer = dir.File(u"Setup.exe");
    Package package;
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), portable));

    Bytes first = MakeBitmap(128, 280, 1);
    ASSERT_EQ(first.size(), 107574u);
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, first);
    ASSERT_TRUE(package.StoreBitmap(installer.c_str(), bmp.c_str(), kSidebar, portable));
    Bytes stored = Resource(installer, kBitmapType, kSidebar);
    ASSERT_EQ(stored.size(), 107560u);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 40), Bytes(first.begin() + 14, first.begin() + 54));

    Bytes second = MakeBitmap(128, 280, 9);
    WriteBytes(bmp, second);
    ASSERT_TRUE(package.StoreBitmap(installer.c_str(), bmp.c_str(), kSidebar, portable));
    EXPECT_EQ(Resource(installer, kBitmapType, kSidebar), Bytes(second.begin() + 14, second.end()));
    std::vector<pe::ResourceInfo> all;
    std::u16string error;
    ASSERT_TRUE(pe::ListResources(installer, all, error));
    int sidebars = 0;
    for (const auto& r : all) {
        sidebars += r.type == kBitmapType && r.name == kSidebar;
    }
    EXPECT_EQ(sidebars, 1);
    ExpectMembersBack(installer); // the package is untouched by the bitmap
}

TEST_F(InstallerTest, BitmapFilesThatCannotBeSidebarsAreRefused) {
    std::u16string installer = dir.File(u"Setup.exe");
    Package package;
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), installer.c_str(), portable));
    Bytes before = ReadBytes(installer);

    std::u16string header = dir.File(u"header.bmp");
    WriteBytes(header, Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(package.StoreBitmap(installer.c_str(), header.c_str(), kSidebar, portable));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"The bitmap file holds nothing after its file header");

    std::u16string png = dir.File(u"side.png");
    WriteBytes(png, Pattern(500));
    EXPECT_FALSE(package.StoreBitmap(installer.c_str(), png.c_str(), kSidebar, portable));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"The file is not a bitmap (it does not start with \"BM\")");

    EXPECT_FALSE(package.StoreBitmap(installer.c_str(), dir.File(u"none.bmp").c_str(), kSidebar, portable));
    EXPECT_EQ(std::u16string(package.TakeLastError()), u"Could not allocate memory for dat file");
    EXPECT_FALSE(package.StoreBitmap(installer.c_str(), nullptr, kSidebar, portable));
    EXPECT_EQ(ReadBytes(installer), before);
}

TEST_F(InstallerTest, APackageOfTensOfMegabytesComesBackEqual) {
    std::u16string big = File(u"big.bin", 24 * 1024 * 1024, 5);
    Package package;
    ASSERT_TRUE(package.AddFile(big.c_str(), 30));
    ASSERT_TRUE(package.AddFile(sources[2].c_str(), FLAG_EULA));
    std::u16string bigPackage = dir.File(u"big.dat");
    ASSERT_TRUE(package.Write(bigPackage.c_str(), nullptr));
    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), bigPackage.c_str(), installer.c_str(), portable));
    EXPECT_EQ(Resource(installer, kPackageType, kPackageName), ReadBytes(bigPackage));

    // In one pass, the member crossing many of the writer's buffers: the same file.
    std::u16string direct = dir.File(u"Direct.exe");
    PackageMembersHost host(package, nullptr);
    Error error = WriteInstaller({templatePath, {}}, direct, host);
    ASSERT_FALSE(error) << error.Text();
    EXPECT_TRUE(ReadBytes(direct) == ReadBytes(installer));
}

// The one-pass road and the older one (package file, template copy, one update after another)
// give the same file, byte for byte, whatever the template's layout: resources last, before the
// relocations, before another section, none at all, with an overlay of odd length; and a
// template carrying a package and a picture of its own in other languages.
TEST_F(InstallerTest, OnePassGivesTheBytesOfPackageFileCopyAndUpdates) {
    std::u16string stale = dir.File(u"Stale.exe");
    WriteBytes(stale, ReadBytes(templatePath));
    std::vector<pe::ResourceUpdate> smuggled{
        {kPackageType, pe::ResourceKey::Name(u"orbdata"), 1031, {Pattern(3001, 5), {}, 0, 0}},
        {kBitmapType, kSidebar, 1031, {Pattern(41, 9), {}, 0, 0}}};
    std::u16string error;
    ASSERT_TRUE(pe::UpdateResources(stale, smuggled, error)) << platform::ToUtf8(error);
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 280, 3));
    // Members of odd sizes, so that the checksum sees words split across reads.
    Package package;
    for (std::u16string name : {u"a.exe", u"b.txt", u"c.dll"}) {
        ASSERT_TRUE(package.AddFile(File(name, 4093 + 2 * name[0], static_cast<std::uint8_t>(name[0])).c_str(), 30));
    }
    ASSERT_TRUE(package.AddFile(sources[1].c_str(), 30)); // empty

    const std::u16string samples[] = {u"rsrc-reloc32.exe", u"rsrc-last64.exe", u"after32.exe",
                                      u"nores64.exe",      u"overlay32.exe",   u"inside64.exe"};
    std::vector<std::u16string> templates{stale};
    for (const std::u16string& sample : samples) {
        templates.push_back(SourceFile(u"tests/data/pe/" + sample));
    }
    for (const std::u16string& from : templates) {
        for (bool withSidebar : {false, true}) {
            SCOPED_TRACE(platform::ToUtf8(from) + (withSidebar ? " with a sidebar" : ""));
            std::u16string oldRoad = dir.File(u"Old.exe"), oneRoad = dir.File(u"One.exe"), dat = dir.File(u"p.dat");
            PortablePatcher replacing(true);
            ASSERT_TRUE(package.Write(dat.c_str(), nullptr));
            ASSERT_TRUE(package.MakeInstaller(from.c_str(), dat.c_str(), oldRoad.c_str(), replacing))
                << platform::ToUtf8(replacing.Detail());
            ASSERT_TRUE(!withSidebar || package.StoreBitmap(oldRoad.c_str(), bmp.c_str(), kSidebar, replacing));

            PackageMembersHost host(package, nullptr);
            Error error = WriteInstaller({from, withSidebar ? bmp : u""}, oneRoad, host);
            ASSERT_FALSE(error) << error.Text();
            EXPECT_TRUE(ReadBytes(oneRoad) == ReadBytes(oldRoad));
        }
    }
    std::u16string one = dir.File(u"One.exe");
    EXPECT_EQ(Resource(one, kPackageType, kPackageName), ReadBytes(dir.File(u"p.dat")));
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
        int host; // 0 plain, 1 refusing at the end, 2 losing a member
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PackageMembersHost plain(writer, nullptr);
        Refusing refusing(writer, nullptr);
        Vanishing vanishing(writer, last);
        InstallerWriteHost* hosts[] = {&plain, &refusing, &vanishing};
        Error error = WriteInstaller(c.parts, installer, *hosts[c.host]);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(ReadBytes(installer), Pattern(77));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(dir.File(u""))),
                                std::filesystem::directory_iterator()),
                  static_cast<std::ptrdiff_t>(sources.size() + 5 - (c.host == 2 ? 1 : 0)));
    }
    EXPECT_TRUE(writer.LastError().starts_with(u"Cannot open file:") && writer.LastError().ends_with(u"data.bin"));
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

TEST_F(InstallerTest, ThePlatformAndTheOwnEditorGiveTheSameResources) {
    std::u16string bmp = dir.File(u"side.bmp");
    WriteBytes(bmp, MakeBitmap(128, 280, 4));
    std::u16string byPlatform = dir.File(u"platform.exe");
    std::u16string byEditor = dir.File(u"editor.exe");
    PlatformPatcher platformPatcher;
    Package package;
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), byPlatform.c_str(), platformPatcher));
    ASSERT_TRUE(package.StoreBitmap(byPlatform.c_str(), bmp.c_str(), kSidebar, platformPatcher));
    ASSERT_TRUE(package.MakeInstaller(templatePath.c_str(), packagePath.c_str(), byEditor.c_str(), portable));
    ASSERT_TRUE(package.StoreBitmap(byEditor.c_str(), bmp.c_str(), kSidebar, portable));

    std::vector<pe::ResourceInfo> platformList, editorList;
    std::u16string error;
    ASSERT_TRUE(pe::ListResources(byPlatform, platformList, error)) << platform::ToUtf8(error);
    ASSERT_TRUE(pe::ListResources(byEditor, editorList, error));
    ASSERT_EQ(platformList.size(), editorList.size());
    for (std::size_t i = 0; i < editorList.size(); ++i) {
        const pe::ResourceInfo& r = editorList[i];
        EXPECT_TRUE(platformList[i].type == r.type && platformList[i].name == r.name &&
                    platformList[i].language == r.language);
        Bytes fromPlatform = LoaderResource(byPlatform, r.type, r.name, r.language);
        EXPECT_EQ(LoaderResource(byEditor, r.type, r.name, r.language), fromPlatform);
        EXPECT_EQ(fromPlatform.size(), r.size);
    }
    EXPECT_EQ(LoaderResource(byEditor, kPackageType, kPackageName, 1033), ReadBytes(packagePath));
}

// The installer's own side: a copy of this test program carrying a package reads it from its own
// resources and extracts every member (see main below).
TEST_F(InstallerTest, AnInstallerReadsItsOwnPackage) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::u16string selfPath(self, self + std::wcslen(self));
    std::u16string installer = dir.File(u"SelfSetup.exe");
    PlatformPatcher platformPatcher;
    Package package;
    ASSERT_TRUE(package.MakeInstaller(selfPath.c_str(), packagePath.c_str(), installer.c_str(), platformPatcher));

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
