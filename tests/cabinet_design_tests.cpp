// A cabinet design written and read back means the same: folders inside and outside the install
// folder, numbered files with their flags and sources, every kind of registry value, shortcuts on
// any base to files and folders, limits, refused platforms and the setup DLL. And manifests laid
// out as the CAB wizard lays them out (texts padded, shortcuts' lists without their 0, sections
// out of id order) read as they mean; where the wizard's own manifests lie beside the checkout,
// they read too.
#include "device/cabinet.h"
#include "device/cabinet_format.h"
#include "device/cabinet_manifest.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

using namespace device;
using platform::AppendLe16;
using platform::AppendLe32;
using testing_support::Bytes;

// Member i holds `size` bytes of the value i + 1.
class Filled : public MemberSource {
public:
    bool Open(std::int32_t index, std::uint32_t, Error&) override {
        value_ = static_cast<std::uint8_t>(index + 1);
        return true;
    }
    bool Read(void* buffer, std::uint32_t size, Error&) override {
        std::memset(buffer, value_, size);
        return true;
    }

private:
    std::uint8_t value_ = 0;
};

Bytes Written(const CabinetDesign& design, bool compress = false) {
    testing_support::TempDir dir;
    std::u16string path = dir.File(u"design.CAB");
    CabinetSettings settings;
    settings.compress = compress;
    settings.time = 1000000000;
    Filled members;
    Error error;
    {
        platform::File file = platform::File::CreateNew(path);
        EXPECT_TRUE(WriteCabinet(design, settings, members, file, error)) << error.message;
    }
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

RegistryValue Value(RegistryRoot root, std::u16string key, std::u16string name, std::uint32_t type,
                    std::vector<std::u16string> texts = {}, Bytes bytes = {}, std::uint32_t number = 0) {
    return {root, std::move(key), std::move(name), type, std::move(texts), std::move(bytes), number};
}

// Everything a manifest can say, once.
CabinetDesign Everything() {
    CabinetDesign d;
    d.appName = u"Field Notes";
    d.provider = u"Acme";
    d.processorType = 2577;
    d.limits = {{4, 20}, {6, 99}, 0, 0xE0000000};
    d.unsupported = {u"Smartphone", u"HPC"};
    d.installDir = u"%CE1%\\Field Notes";
    d.folders = {{true, {}}, {true, {u"de"}}, {false, {u"%CE2%", u"Fonts2"}}, {false, {u"%CE11%"}},
                 {false, {u"\\Temp"}}};
    d.files = {{u"notes.exe", 0, 3, kCopyNoDateCheck, 0, 40000},
               {u"notes.dll", 0, 1, kCopySelfRegister | kCopyNoOverwrite, 1, 10},
               {u"de.txt", 1, 2, 0, 2, 0},
               {u"font.ttf", 2, 4, kCopyShared, 3, 70000},
               {u"t.tmp", 4, 5, 0, 4, 1}};
    d.registry = {
        Value(RegistryRoot::LocalMachine, u"Software\\Acme\\Notes", u"Path", kRegString, {u"%InstallDir%\\data"}),
        Value(RegistryRoot::CurrentUser, u"Software\\Acme\\Notes", u"", kRegString | kRegNoClobber, {u"plain"}),
        Value(RegistryRoot::LocalMachine, u"Software\\Acme\\Notes", u"Size", kRegDword, {}, {}, 0x12345678),
        Value(RegistryRoot::ClassesRoot, u".fnote", u"List", kRegMultiString, {u"a, b", u"%CE5%\\x", u""}),
        Value(RegistryRoot::Users, u"S-1\\Acme", u"Blob", kRegBinary | kRegNoClobber, {}, {0x00, 0xFF, 0x7F}),
        Value(RegistryRoot::LocalMachine, u"Software\\Acme", u"Empty", kRegMultiString, {}),
    };
    d.links = {{11, {u"Field Notes.lnk"}, true, 0},
               {0, {u"Readme.lnk"}, true, 2},
               {17, {u"Acme", u"Notes folder.lnk"}, false, kInstallFolderTarget},
               {2, {u"Fonts.lnk"}, false, 2}};
    d.setupDll = DesignFile{u"setup.dll", 0, 6, 0, 5, 3000};
    return d;
}

TEST(CabinetDesign, WrittenAndReadBackMeansTheSame) {
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "MSZIP" : "stored");
        const CabinetDesign d = Everything();
        CabinetReader reader;
        Error error;
        ASSERT_TRUE(reader.Open(Written(d, compress), error)) << error.message;
        const Cabinet& c = reader.Contents();
        EXPECT_EQ(c.appName, d.appName);
        EXPECT_EQ(c.provider, d.provider);
        EXPECT_EQ(c.processorType, 2577u);
        const std::uint32_t versions[6] = {4, 20, 6, 99, 0, 0xE0000000};
        EXPECT_TRUE(std::equal(versions, versions + 6, c.versions));
        EXPECT_EQ(c.unsupported, d.unsupported);
        EXPECT_EQ(c.installDir, u"Program Files\\Field Notes");
        EXPECT_EQ(c.folders, (std::vector<std::u16string>{u"Program Files\\Field Notes",
                                                          u"Program Files\\Field Notes\\de", u"Windows\\Fonts2",
                                                          u"Windows\\Start Menu\\Programs", u"Temp"}));
        const struct {
            std::u16string relative;
            std::uint16_t number, source;
            std::uint32_t flags, size;
        } files[] = {{u"Program Files\\Field Notes\\notes.exe", 1, 3, kCopyNoDateCheck, 40000},
                     {u"Program Files\\Field Notes\\notes.dll", 2, 1, kCopySelfRegister | kCopyNoOverwrite, 10},
                     {u"Program Files\\Field Notes\\de\\de.txt", 3, 2, 0, 0},
                     {u"Windows\\Fonts2\\font.ttf", 4, 4, kCopyShared, 70000},
                     {u"Temp\\t.tmp", 5, 5, 0, 1}};
        ASSERT_EQ(c.files.size(), std::size(files));
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            SCOPED_TRACE(platform::ToUtf8(files[i].relative));
            EXPECT_EQ(c.files[i].relative, files[i].relative);
            EXPECT_EQ(c.files[i].number, files[i].number);
            EXPECT_EQ(c.files[i].source, files[i].source);
            EXPECT_EQ(c.files[i].flags, files[i].flags);
            EXPECT_EQ(c.files[i].size, files[i].size);
            Bytes bytes;
            ASSERT_TRUE(reader.ReadFile(i, bytes, error)) << error.message;
            EXPECT_EQ(bytes, Bytes(files[i].size, static_cast<std::uint8_t>(i + 1)));
        }
        ASSERT_EQ(c.registry.size(), d.registry.size());
        const bool substitute[] = {true, false, false, true, false, false};
        for (std::size_t i = 0; i < c.registry.size(); ++i) {
            SCOPED_TRACE(RegistryLine(d.registry[i]));
            EXPECT_EQ(c.registry[i].value, d.registry[i]);
            EXPECT_EQ(c.registry[i].substitute, substitute[i]);
        }
        const struct {
            std::u16string relative, target;
            std::uint16_t base;
            bool toFile;
        } links[] = {
            {u"Windows\\Start Menu\\Programs\\Field Notes.lnk", u"Program Files\\Field Notes\\notes.exe", 11, true},
            {u"Program Files\\Field Notes\\Readme.lnk", u"Program Files\\Field Notes\\de\\de.txt", 0, true},
            {u"Windows\\Start Menu\\Acme\\Notes folder.lnk", u"Program Files\\Field Notes", 17, false},
            {u"Windows\\Fonts.lnk", u"Windows\\Fonts2", 2, false}};
        ASSERT_EQ(c.links.size(), std::size(links));
        for (std::size_t i = 0; i < c.links.size(); ++i) {
            EXPECT_EQ(c.links[i].relative, links[i].relative);
            EXPECT_EQ(c.links[i].targetPath, links[i].target);
            EXPECT_EQ(c.links[i].base, links[i].base);
            EXPECT_EQ(c.links[i].toFile, links[i].toFile);
        }
        ASSERT_TRUE(c.setupDll.has_value());
        EXPECT_EQ(c.setupDll->number, cabfmt::kSetupDllNumber);
        Bytes setup;
        ASSERT_TRUE(reader.ReadSetupDll([&](const std::uint8_t* p, std::size_t n) { setup.insert(setup.end(), p, p + n); },
                                        error));
        EXPECT_EQ(setup, Bytes(3000, 6));
    }
}

// The manifest's layout where the wizard's own cabinets show it.
TEST(CabinetDesign, LaidOutAsTheWizardLaysItOut) {
    std::string m;
    Error error;
    ASSERT_TRUE(MakeManifest(Everything(), m, error)) << error.message;
    auto u16 = [&](std::size_t at) { return platform::Le16(reinterpret_cast<const std::uint8_t*>(m.data()) + at); };
    auto u32 = [&](std::size_t at) { return platform::Le32(reinterpret_cast<const std::uint8_t*>(m.data()) + at); };
    using namespace cabfmt;
    EXPECT_EQ(u32(kManLength), m.size());
    EXPECT_EQ(u32(kManUnknown16), 1u);
    // APPNAME right after the header, padded: "Field Notes" and its NUL take 12 bytes.
    EXPECT_EQ(u16(kManAppName), 100u);
    EXPECT_EQ(u16(kManAppName + 2), 12u);
    EXPECT_EQ(u16(kManProvider), 112u);
    EXPECT_EQ(u16(kManProvider + 2), 8u);
    // The refused platforms between PROVIDER and STRINGS, a list ending in an empty text.
    EXPECT_EQ(u16(kManUnsupported), 120u);
    EXPECT_EQ(m.substr(120, 16), std::string("Smartphone\0HPC\0\0\0", 16));
    EXPECT_EQ(u32(OffsetAt(kStrings)), 136u);
    // String 1 is the install folder whole, padded; folder 2 (the first) is string 1 and nothing else.
    EXPECT_EQ(u16(136), 1u);
    EXPECT_EQ(u16(138), 20u);
    EXPECT_EQ(m.substr(140, 20), std::string("%CE1%\\Field Notes\0\0\0", 20));
    const std::size_t dirs = u32(OffsetAt(kDirs));
    EXPECT_EQ(u16(dirs), 2u);
    EXPECT_EQ(u16(dirs + 2), 4u);
    EXPECT_EQ(u16(dirs + 4), 1u);
    EXPECT_EQ(u16(dirs + 6), 0u);
    // A shortcut's list of strings has no closing 0: one name, two bytes.
    const std::size_t links = u32(OffsetAt(kLinks));
    EXPECT_EQ(u16(links + kLinkBase), 11u);
    EXPECT_EQ(u16(links + kLinkTarget), 1u);
    EXPECT_EQ(u16(links + kLinkKind), kLinkToFile);
    EXPECT_EQ(u16(links + kLinkLength), 2u);
    // Without shortcuts, registry values or refused platforms the sections are empty and point
    // where the next begins, the list of platforms at the strings.
    CabinetDesign bare = Everything();
    bare.links.clear();
    bare.registry.clear();
    bare.unsupported.clear();
    ASSERT_TRUE(MakeManifest(bare, m, error)) << error.message;
    EXPECT_EQ(u16(kManUnsupported), u32(OffsetAt(kStrings)));
    EXPECT_EQ(u16(kManUnsupported + 2), 0u);
    EXPECT_EQ(u32(OffsetAt(kRegHives)), u32(OffsetAt(kRegKeys)));
    EXPECT_EQ(u32(OffsetAt(kRegKeys)), u32(OffsetAt(kLinks)));
    EXPECT_EQ(u32(OffsetAt(kLinks)), m.size());
}

// A stored cabinet of `files` (name, bytes), framed as any cabinet maker frames one.
Bytes Framed(const std::vector<std::pair<std::string, Bytes>>& files) {
    std::string head;
    std::size_t table = 0, data = 0;
    for (const auto& [name, bytes] : files) {
        table += 16 + name.size() + 1;
        data += bytes.size();
    }
    const std::uint32_t dataAt = static_cast<std::uint32_t>(36 + 8 + table);
    const std::uint32_t blocks = static_cast<std::uint32_t>((data + 32767) / 32768);
    AppendLe32(head, cabfmt::kSignature);
    AppendLe32(head, 0);
    AppendLe32(head, 0);
    AppendLe32(head, 0);
    AppendLe32(head, 44);
    AppendLe32(head, 0);
    head += "\x03\x01";
    AppendLe16(head, 1);
    AppendLe16(head, static_cast<std::uint16_t>(files.size()));
    AppendLe16(head, 0);
    AppendLe16(head, 0);
    AppendLe16(head, 0);
    AppendLe32(head, dataAt);
    AppendLe16(head, static_cast<std::uint16_t>(blocks));
    AppendLe16(head, 0);
    std::uint32_t offset = 0;
    std::string all;
    for (const auto& [name, bytes] : files) {
        AppendLe32(head, static_cast<std::uint32_t>(bytes.size()));
        AppendLe32(head, offset);
        AppendLe16(head, 0);
        AppendLe16(head, 0x21);
        AppendLe16(head, 0);
        AppendLe16(head, 0x20);
        head += name + '\0';
        offset += static_cast<std::uint32_t>(bytes.size());
        all.append(bytes.begin(), bytes.end());
    }
    for (std::size_t at = 0; at < all.size(); at += 32768) {
        std::size_t n = std::min<std::size_t>(32768, all.size() - at);
        AppendLe32(head, 0); // no checksum
        AppendLe16(head, static_cast<std::uint16_t>(n));
        AppendLe16(head, static_cast<std::uint16_t>(n));
        head += all.substr(at, n);
    }
    platform::SetLe32(head, 8, static_cast<std::uint32_t>(head.size()));
    return Bytes(head.begin(), head.end());
}

// A manifest written as the wizard writes one, in its section order but not ours: keys written
// 2, 3, 1, folders 3 before 2, a shortcut's list without its 0, every text padded.
TEST(CabinetDesign, TheWizardsOrderReads) {
    std::string m(100, '\0');
    auto text = [&](std::string t) {
        t += '\0';
        t.resize((t.size() + 3) / 4 * 4, '\0');
        return t;
    };
    auto ids = [&](std::initializer_list<std::uint16_t> list) {
        std::string out;
        for (std::uint16_t id : list) {
            AppendLe16(out, id);
        }
        return out;
    };
    std::memcpy(m.data(), "MSCE", 4);
    platform::SetLe32(m, 16, 1);
    platform::SetLe16(m, 84, 100);
    platform::SetLe16(m, 86, 4);
    m += text("App");
    platform::SetLe16(m, 88, static_cast<std::uint16_t>(m.size()));
    platform::SetLe16(m, 90, 8);
    m += text("Maker");
    platform::SetLe16(m, 92, static_cast<std::uint16_t>(m.size()));
    const std::string strings[] = {"%CE1%\\App", "SOFTWARE", "App", "%CE11%", "App.lnk", "de"};
    platform::SetLe32(m, 60, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 48, 6);
    for (std::uint16_t i = 0; i < 6; ++i) {
        AppendLe16(m, i + 1);
        AppendLe16(m, static_cast<std::uint16_t>(text(strings[i]).size()));
        m += text(strings[i]);
    }
    platform::SetLe32(m, 64, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 50, 3);
    for (auto [id, spec] : {std::pair{4, ids({1, 6, 0})}, {2, ids({1, 0})}, {3, ids({4, 0})}}) {
        AppendLe16(m, static_cast<std::uint16_t>(id));
        AppendLe16(m, static_cast<std::uint16_t>(spec.size()));
        m += spec;
    }
    platform::SetLe32(m, 68, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 52, 2);
    for (auto [number, dir, name] : {std::tuple{1, 2, "App.exe"}, {2, 4, "App.de"}}) {
        AppendLe16(m, static_cast<std::uint16_t>(number));
        AppendLe16(m, static_cast<std::uint16_t>(dir));
        AppendLe16(m, static_cast<std::uint16_t>(number));
        AppendLe32(m, 0);
        AppendLe16(m, static_cast<std::uint16_t>(text(name).size()));
        m += text(name);
    }
    platform::SetLe32(m, 72, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 54, 2);
    for (auto [id, spec] : {std::pair{2, ids({2, 3, 0})}, {1, ids({2, 0})}}) {
        AppendLe16(m, static_cast<std::uint16_t>(id));
        AppendLe16(m, 3);
        AppendLe16(m, 0);
        AppendLe16(m, static_cast<std::uint16_t>(spec.size()));
        m += spec;
    }
    platform::SetLe32(m, 76, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 56, 3);
    const std::string dword = std::string("Ver\0", 4) + std::string("\x01\0\0\0", 4);
    const std::string multi = std::string("Dir\0", 4) + std::string("%InstallDir%\\de\0\0", 17);
    const std::string binary = std::string("Raw\0\x01\x02", 6);
    for (auto [id, hive, substitute, type, data] :
         {std::tuple{2, 2, 1, kRegMultiString, multi}, {3, 1, 0, kRegBinary | kRegNoClobber, binary},
          {1, 1, 0, kRegDword, dword}}) {
        AppendLe16(m, static_cast<std::uint16_t>(id));
        AppendLe16(m, static_cast<std::uint16_t>(hive));
        AppendLe16(m, static_cast<std::uint16_t>(substitute));
        AppendLe32(m, type);
        AppendLe16(m, static_cast<std::uint16_t>(data.size()));
        m += data;
    }
    platform::SetLe32(m, 80, static_cast<std::uint32_t>(m.size()));
    platform::SetLe16(m, 58, 1);
    for (std::uint16_t v : {1, 0, 11, 1, 1, 2, 5}) {
        AppendLe16(m, v);
    }
    platform::SetLe32(m, 8, static_cast<std::uint32_t>(m.size()));

    CabinetReader reader;
    Error error;
    ASSERT_TRUE(reader.Open(Framed({{"00000App.000", Bytes(m.begin(), m.end())},
                                    {"00000App.002", Bytes(2, 2)},
                                    {"00000App.001", Bytes(1, 1)},
                                    {"0000setu.999", Bytes(3, 9)}}),
                            error))
        << error.message;
    const Cabinet& c = reader.Contents();
    EXPECT_EQ(c.appName, u"App");
    EXPECT_EQ(c.provider, u"Maker");
    EXPECT_EQ(c.installDir, u"Program Files\\App");
    ASSERT_EQ(c.files.size(), 2u);
    EXPECT_EQ(c.files[0].relative, u"Program Files\\App\\App.exe");
    EXPECT_EQ(c.files[1].relative, u"Program Files\\App\\de\\App.de");
    ASSERT_EQ(c.registry.size(), 3u);
    EXPECT_EQ(c.registry[0].value,
              Value(RegistryRoot::LocalMachine, u"SOFTWARE\\App", u"Dir", kRegMultiString, {u"%InstallDir%\\de"}));
    EXPECT_TRUE(c.registry[0].substitute);
    EXPECT_EQ(c.registry[1].value,
              Value(RegistryRoot::LocalMachine, u"SOFTWARE", u"Raw", kRegBinary | kRegNoClobber, {}, {1, 2}));
    EXPECT_EQ(c.registry[2].value, Value(RegistryRoot::LocalMachine, u"SOFTWARE", u"Ver", kRegDword, {}, {}, 1));
    ASSERT_EQ(c.links.size(), 1u);
    EXPECT_EQ(c.links[0].relative, u"Windows\\Start Menu\\Programs\\App.lnk");
    EXPECT_EQ(c.links[0].targetPath, u"Program Files\\App\\App.exe");
    ASSERT_TRUE(c.setupDll.has_value());
    EXPECT_EQ(c.setupDll->size, 3u);
}

// The manifests of two cabinets the CAB wizard built, where they lie beside the checkout.
TEST(CabinetDesign, TheWizardsOwnManifestsRead) {
    const std::filesystem::path oracle =
        std::filesystem::path(testing_support::SourceFile(u"")) / ".." / "shared" / "cabwiz" / "oracle";
    if (!std::filesystem::exists(oracle)) {
        GTEST_SKIP() << "no " << oracle.string();
    }
    auto read = [&](const char* name) {
        std::ifstream in(oracle / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    };
    struct Case {
        const char* manifest;
        std::size_t files, registry, links;
        std::u16string installDir, firstFile, link;
    } cases[] = {
        {"ushahidi.000", 12, 0, 1, u"Program Files\\Ushahidi", u"", u"Windows\\Start Menu\\Programs\\Ushahidi.lnk"},
        {"sdf.000", 16, 33, 0, u"Windows", u"Windows\\", u""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.manifest);
        Bytes m = read(k.manifest);
        std::vector<std::pair<std::string, Bytes>> stored{{"00000000.000", m}};
        for (std::size_t i = 1; i <= k.files; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "0000000%c.%03zu", 'a', i);
            stored.push_back({name, Bytes(1, static_cast<std::uint8_t>(i))});
        }
        CabinetReader reader;
        Error error;
        ASSERT_TRUE(reader.Open(Framed(stored), error)) << error.message;
        const Cabinet& c = reader.Contents();
        EXPECT_EQ(c.installDir, k.installDir);
        EXPECT_EQ(c.files.size(), k.files);
        EXPECT_EQ(c.registry.size(), k.registry);
        ASSERT_EQ(c.links.size(), k.links);
        for (const CabinetFile& file : c.files) {
            EXPECT_EQ(file.relative.find(u'\0'), std::u16string::npos);
            EXPECT_EQ(file.relative.rfind(k.installDir.substr(0, 7), 0), 0u) << platform::ToUtf8(file.relative);
        }
        if (k.links) {
            EXPECT_EQ(c.links[0].relative, k.link);
            EXPECT_EQ(c.links[0].targetPath, u"Program Files\\Ushahidi\\Ushahidi.exe");
        }
        for (const CabinetRegistryValue& value : c.registry) {
            EXPECT_FALSE(value.substitute) << RegistryLine(value.value);
        }
    }
}

} // namespace
