// Windows only (run under Wine here): executables patched by the editor are read back by the
// platform's own loader, which binary-searches the directories, and compared with what the
// platform's own resource update makes of the same template and updates.
#ifdef _WIN32

#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/pe_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace pe_test;
using pe::ResourceKey;
using testing_support::Bytes;
using testing_support::TempDir;

namespace {

LPCWSTR AsWin32(const ResourceKey& key) {
    return key.IsName() ? reinterpret_cast<LPCWSTR>(key.name.c_str()) : MAKEINTRESOURCEW(key.id);
}

// A module loaded as data only, freed at the end.
class DataModule {
public:
    explicit DataModule(const std::u16string& path)
        : module_(LoadLibraryExW(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataModule() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    HMODULE Get() const { return module_; }

private:
    HMODULE module_;
};

// The resource's bytes as the loader finds them; false when it does not.
bool LoaderBytes(HMODULE module, HRSRC found, Bytes& bytes) {
    if (found == nullptr) {
        return false;
    }
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* p = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (p == nullptr && size != 0) {
        return false;
    }
    bytes.assign(static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + size);
    return true;
}

std::vector<pe::ResourceUpdate> SomeUpdates() {
    std::vector<pe::ResourceUpdate> updates;
    auto add = [&](ResourceKey type, ResourceKey name, Bytes bytes) {
        pe::ResourceUpdate u{std::move(type), std::move(name), pe::kLanguageEnglishUS, {}};
        u.data.bytes = std::move(bytes);
        updates.push_back(std::move(u));
    };
    add(ResourceKey::Name(u"RT_RCDATA"), ResourceKey::Name(u"PACKAGE"), testing_support::Pattern(70001, 5));
    add(ResourceKey::Id(2), ResourceKey::Id(251), testing_support::Pattern(1234, 9));
    add(ResourceKey::Id(10), ResourceKey::Name(u"AA"), {'a', 'a'});
    add(ResourceKey::Id(10), ResourceKey::Name(u"A_"), {'a', '_'});
    add(ResourceKey::Id(10), ResourceKey::Id(301), {'3'});
    return updates;
}

bool PlatformUpdate(const std::u16string& path, const std::vector<pe::ResourceUpdate>& updates) {
    HANDLE h = BeginUpdateResourceW(reinterpret_cast<LPCWSTR>(path.c_str()), FALSE);
    if (h == nullptr) {
        return false;
    }
    for (const pe::ResourceUpdate& u : updates) {
        if (!UpdateResourceW(h, AsWin32(u.type), AsWin32(u.name), u.language,
                             const_cast<std::uint8_t*>(u.data.bytes.data()), static_cast<DWORD>(u.data.bytes.size()))) {
            EndUpdateResourceW(h, TRUE);
            return false;
        }
    }
    return EndUpdateResourceW(h, FALSE) != FALSE;
}

const char* const kLayouts[] = {"rsrc-reloc", "rsrc-last", "after", "overlay", "nores", "inside"};

// Every resource, old and new, is found by the loader with the editor's bytes, for both bit
// widths (a data-file load works across them), and the names that careless comparisons misorder
// are found by a plain neutral-language lookup.
TEST(PeLoader, FindsEveryResourceAfterUpdate) {
    for (const char* layout : kLayouts) {
        for (const char* bits : kBits) {
            SCOPED_TRACE(std::string(layout) + bits);
            TempDir dir;
            std::u16string path = CopySample(dir, std::string(layout) + bits + ".exe");
            Error error;
            ASSERT_TRUE(pe::UpdateResources(path, SomeUpdates(), error)) << error.message;
            std::vector<Resource> all = ReadAll(path);
            DataModule module(path);
            ASSERT_NE(module.Get(), nullptr) << GetLastError();
            for (const Resource& r : all) {
                Bytes bytes;
                HRSRC found =
                    FindResourceExW(module.Get(), AsWin32(r.info.type), AsWin32(r.info.name), r.info.language);
                EXPECT_TRUE(LoaderBytes(module.Get(), found, bytes))
                    << platform::ToUtf8(r.info.type.name) << r.info.type.id << "/" << platform::ToUtf8(r.info.name.name)
                    << r.info.name.id << "/" << r.info.language;
                EXPECT_EQ(bytes, r.bytes);
            }
            if (std::string(layout) == "nores") {
                continue;
            }
            for (const char16_t* name : {u"A", u"AA", u"AB", u"A_", u"A_B", u"RT_RCDATA", u"Z", u"z", u"a_b"}) {
                Bytes bytes;
                EXPECT_TRUE(LoaderBytes(
                    module.Get(), FindResourceW(module.Get(), reinterpret_cast<LPCWSTR>(name), MAKEINTRESOURCEW(10)),
                    bytes))
                    << platform::ToUtf8(name);
            }
            Bytes bytes;
            EXPECT_TRUE(LoaderBytes(module.Get(), FindResourceW(module.Get(), L"Z", L"RT_RCDATA"), bytes));
            EXPECT_EQ(bytes,
                      Bytes({'t', 'e', 'x', 't', ' ', 't', 'y', 'p', 'e', ',', ' ', 'n', 'a', 'm', 'e', ' ', 'Z'}));
        }
    }
}

// The platform's own update of the same template with the same updates: the loader gives the
// same bytes for every resource in both files.
TEST(PeLoader, SameAsThePlatformsUpdate) {
    for (const char* layout : {"rsrc-reloc", "rsrc-last", "nores"}) {
        SCOPED_TRACE(layout);
        std::string sample = std::string(layout) + (sizeof(void*) == 8 ? "64" : "32") + ".exe";
        TempDir dir;
        std::u16string ours = CopySample(dir, sample);
        std::u16string theirs = dir.File(u"platform.exe");
        testing_support::WriteBytes(theirs, testing_support::ReadBytes(ours));
        Error error;
        ASSERT_TRUE(pe::UpdateResources(ours, SomeUpdates(), error)) << error.message;
        ASSERT_TRUE(PlatformUpdate(theirs, SomeUpdates())) << GetLastError();
        std::vector<Resource> all = ReadAll(ours);
        EXPECT_EQ(all.size(), ReadAll(theirs).size());
        DataModule a(ours), b(theirs);
        ASSERT_TRUE(a.Get() != nullptr && b.Get() != nullptr);
        for (const Resource& r : all) {
            Bytes fromOurs, fromTheirs;
            EXPECT_TRUE(LoaderBytes(
                a.Get(), FindResourceExW(a.Get(), AsWin32(r.info.type), AsWin32(r.info.name), r.info.language),
                fromOurs));
            EXPECT_TRUE(LoaderBytes(
                b.Get(), FindResourceExW(b.Get(), AsWin32(r.info.type), AsWin32(r.info.name), r.info.language),
                fromTheirs));
            EXPECT_EQ(fromOurs, fromTheirs);
        }
    }
}

} // namespace

#endif
