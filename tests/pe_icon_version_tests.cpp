// An executable's icon and version information, changed through the resource editor: which icon
// group an icon file replaces and which images go with it, the version resource rewritten with the
// rest kept, and icon files and version resources that must be refused.
#include "package/pe_icons.h"
#include "package/pe_version.h"
#include "platform/text.h"
#include "tests/pe_test_support.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

using namespace pe_test;
using pe::ResourceKey;
using testing_support::IconSpec;
using testing_support::MakeIconFile;
using testing_support::TempDir;

namespace {

const ResourceKey kIcon = ResourceKey::Id(pe::kTypeIcon);
const ResourceKey kGroup = ResourceKey::Id(pe::kTypeGroupIcon);
const ResourceKey kVersion = ResourceKey::Id(pe::kTypeVersion);

void Apply(const std::u16string& path, const std::vector<pe::ResourceUpdate>& updates) {
    Error error;
    ASSERT_TRUE(pe::UpdateResources(path, updates, error)) << error.message;
}

void ApplyEdit(const std::u16string& path, const pe::ResourceEdit& edit) {
    std::vector<pe::ResourceInfo> resources;
    std::vector<pe::ResourceUpdate> updates;
    Error error;
    ASSERT_TRUE(pe::ListResources(path, resources, error)) << error.message;
    ASSERT_TRUE(edit.Plan(path, resources, updates, error)) << error.message;
    Apply(path, updates);
}

Bytes Read(const std::u16string& path, const ResourceKey& type, const ResourceKey& name,
           std::optional<std::uint16_t> language) {
    Bytes data;
    Error error;
    EXPECT_TRUE(pe::ReadResource(path, type, name, language, data, error)) << error.message;
    return data;
}

pe::ResourceUpdate Update(ResourceKey type, ResourceKey name, std::uint16_t language, Bytes bytes) {
    pe::ResourceUpdate u{std::move(type), std::move(name), language, {}};
    u.data.bytes = std::move(bytes);
    return u;
}

// A group naming the given RT_ICON ids, written here from the format's description.
Bytes GroupOf(const std::vector<std::uint16_t>& ids) {
    Bytes group{0, 0, 1, 0, static_cast<std::uint8_t>(ids.size()), 0};
    for (std::uint16_t id : ids) {
        Bytes entry{16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, static_cast<std::uint8_t>(id), 0};
        group.insert(group.end(), entry.begin(), entry.end());
    }
    return group;
}

std::set<std::uint16_t> IconIds(const std::u16string& path, const ResourceKey& type) {
    std::vector<pe::ResourceInfo> resources;
    Error error;
    EXPECT_TRUE(pe::ListResources(path, resources, error));
    std::set<std::uint16_t> ids;
    for (const pe::ResourceInfo& r : resources) {
        if (r.type == type && !r.name.IsName()) {
            ids.insert(r.name.id);
        }
    }
    return ids;
}

// The group as stored names each image of the icon file, in order, with the file's fields and the
// expected id, and each RT_ICON holds that image's bytes.
void ExpectIcon(const std::u16string& exe, const ResourceKey& name, std::uint16_t language, const Bytes& ico,
                const std::vector<std::uint16_t>& ids) {
    Bytes group = Read(exe, kGroup, name, language);
    ASSERT_EQ(group.size(), 6 + 14 * ids.size());
    EXPECT_EQ(Bytes(group.begin(), group.begin() + 6), Bytes(ico.begin(), ico.begin() + 6));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(i);
        std::size_t g = 6 + 14 * i, f = 6 + 16 * i;
        EXPECT_EQ(Bytes(group.begin() + g, group.begin() + g + 12), Bytes(ico.begin() + f, ico.begin() + f + 12));
        EXPECT_EQ(U16(group, g + 12), ids[i]);
        std::uint32_t size = U32(ico, f + 8), offset = U32(ico, f + 12);
        EXPECT_EQ(Read(exe, kIcon, ResourceKey::Id(ids[i]), language),
                  Bytes(ico.begin() + offset, ico.begin() + offset + size));
    }
}

// The group the shell shows is replaced in its own language; its old images go unless another
// group names them, and the new ones take the lowest ids left free.
TEST(PeIcons, TheShellsGroupTakesEveryImageUnderFreeIds) {
    const Bytes oldGroup = GroupOf({1});
    struct Case {
        const char* what;
        std::string sample;
        std::vector<pe::ResourceUpdate> before;
        std::vector<IconSpec> images;
        ResourceKey group;
        std::uint16_t language;
        std::vector<std::uint16_t> ids;
        std::set<std::uint16_t> icons, groups; // every RT_ICON and numbered RT_GROUP_ICON after
    };
    const std::vector<IconSpec> three{{16}, {32}, {48}};
    const std::vector<IconSpec> nine{{16}, {20}, {24}, {32}, {40}, {48}, {64}, {128}, {256, true}};
    const Case cases[] = {
        {"one image", "rsrc-reloc", {}, {{32}}, ResourceKey::Id(1), 1033, {1}, {1}, {1}},
        {"three images", "rsrc-reloc", {}, three, ResourceKey::Id(1), 1033, {1, 2, 3}, {1, 2, 3}, {1}},
        {"nine, a 256 x 256 PNG among them",
         "rsrc-last",
         {},
         nine,
         ResourceKey::Id(1),
         1033,
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {1}},
        {"an image another group names, and one none names, stay",
         "rsrc-reloc",
         {Update(kIcon, ResourceKey::Id(2), 1033, testing_support::Pattern(40)),
          Update(kGroup, ResourceKey::Id(7), 1033, oldGroup)},
         three,
         ResourceKey::Id(1),
         1033,
         {3, 4, 5},
         {1, 2, 3, 4, 5},
         {1, 7}},
        {"a named group comes before the numbers",
         "rsrc-reloc",
         {Update(kGroup, ResourceKey::Name(u"APPICON"), 1033, oldGroup)},
         three,
         ResourceKey::Name(u"APPICON"),
         1033,
         {2, 3, 4},
         {1, 2, 3, 4},
         {1}},
        {"a German group stays German",
         "after",
         {{kGroup, ResourceKey::Id(1), 1033, {}, true}, Update(kGroup, ResourceKey::Id(1), 1031, oldGroup)},
         three,
         ResourceKey::Id(1),
         1031,
         {1, 2, 3},
         {1, 2, 3},
         {1}},
        {"no group at all", "nores", {}, three, ResourceKey::Id(1), 1033, {1, 2, 3}, {1, 2, 3}, {1}},
    };
    for (const Case& c : cases) {
        for (const char* bits : kBits) {
            SCOPED_TRACE(std::string(c.what) + ", " + bits);
            TempDir dir;
            std::u16string exe = CopySample(dir, c.sample + bits + ".exe");
            if (!c.before.empty()) {
                Apply(exe, c.before);
            }
            std::vector<Resource> before = ReadAll(exe);
            std::u16string icoPath = dir.File(u"app.ico");
            Bytes ico = MakeIconFile(c.images);
            testing_support::WriteBytes(icoPath, ico);
            pe::IconReplacement icon;
            Error error;
            ASSERT_TRUE(icon.Load(icoPath, error)) << error.message;
            ApplyEdit(exe, icon);

            ExpectIcon(exe, c.group, c.language, ico, c.ids);
            EXPECT_EQ(IconIds(exe, kIcon), c.icons);
            EXPECT_EQ(IconIds(exe, kGroup), c.groups);
            // Everything else as it was, the groups left alone included.
            std::vector<Resource> after = ReadAll(exe);
            for (const Resource& r : before) {
                bool changed = r.info.type == kIcon || (r.info.type == kGroup && r.info.name == c.group);
                if (!changed) {
                    EXPECT_NE(std::find(after.begin(), after.end(), r), after.end());
                }
            }
        }
    }
}

// Each way an icon file can be broken is refused with its own reason.
TEST(PeIcons, MalformedIconFilesAreRefusedWithTheReason) {
    const Bytes good = MakeIconFile({{16}, {32}});
    std::uint32_t second = U32(good, 6 + 16 + 12);
    auto with = [&](std::function<void(Bytes&)> change) {
        Bytes b = good;
        change(b);
        return b;
    };
    const std::pair<Bytes, const char*> cases[] = {
        {Bytes(good.begin(), good.begin() + 5), "too short"},
        {with([](Bytes& b) { b[0] = 1; }), "not an icon file"},
        {with([](Bytes& b) { b[2] = 2; }), "not an icon file"}, // a cursor
        {with([](Bytes& b) { b[4] = 0; }), "holds no images"},
        {with([](Bytes& b) { PutU16(b, 4, 0xFFFF); }), "directory is cut short"},
        {with([](Bytes& b) { PutU32(b, 6 + 8, 0); }), "Image 1 of the icon file is empty"},
        {with([](Bytes& b) { PutU32(b, 6 + 12, 30); }), "Image 1 of the icon file lies inside"},
        {with([&](Bytes& b) { PutU32(b, 6 + 16 + 8, static_cast<std::uint32_t>(b.size()) - second + 1); }),
         "Image 2 of the icon file reaches beyond"},
        {Bytes(good.begin(), good.end() - 1), "Image 2 of the icon file reaches beyond"},
        {with([&](Bytes& b) {
             PutU32(b, 6 + 16 + 8, U32(b, 6 + 8));
             PutU32(b, 6 + 16 + 12, U32(b, 6 + 12));
         }),
         "Image 1 of the icon file overlaps another"},
        {with([&](Bytes& b) { PutU32(b, second, 12); }), "Image 2 of the icon file is neither a bitmap"},
        {with([&](Bytes& b) { PutU32(b, second + 4, 0); }), "bitmap of no size"},
        {with([&](Bytes& b) {
             const Bytes signature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
             std::copy(signature.begin(), signature.end(), b.begin() + second);
         }),
         "PNG image cut short"},
    };
    for (const auto& [file, reason] : cases) {
        SCOPED_TRACE(reason);
        std::vector<pe::IconImage> images;
        Error error;
        EXPECT_FALSE(pe::ParseIconFile(file, images, error));
        EXPECT_NE(error.message.find(reason), std::string::npos) << error.message;
    }
    std::vector<pe::IconImage> images;
    Error error;
    ASSERT_TRUE(pe::ParseIconFile(good, images, error));
    EXPECT_EQ(images.size(), 2u);
    // A file truncated anywhere is refused, and never read past.
    for (std::size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(pe::ParseIconFile(std::span(good).first(length), images, error)) << length;
    }
}

pe::VersionInfo ParsedVersion(const std::u16string& exe) {
    pe::VersionInfo info;
    bool found = false;
    Error error;
    EXPECT_TRUE(pe::ReadVersionInfo(exe, info, found, error)) << error.message;
    EXPECT_TRUE(found);
    return info;
}

std::u16string Value(const pe::VersionInfo& info, std::u16string_view key) {
    for (const pe::VersionString& s : info.strings) {
        if (s.key == key) {
            return s.value;
        }
    }
    return u"(none)";
}

// Rewriting with nothing to change gives the compiler's bytes back; a change touches only what it
// names, in the resource's own language and code page.
TEST(PeVersion, RewrittenValuesAndTheRestKept) {
    for (const char* bits : kBits) {
        SCOPED_TRACE(bits);
        TempDir dir;
        std::u16string exe = CopySample(dir, std::string("rsrc-reloc") + bits + ".exe");
        Bytes compiled = Read(exe, kVersion, ResourceKey::Id(1), 1033);
        Bytes same;
        Error error;
        ASSERT_TRUE(pe::RewriteVersionResource(compiled, {}, same, error)) << error.message;
        EXPECT_EQ(same, compiled);

        pe::VersionChanges changes;
        changes.strings = {{u"ProductName", u"Notes \u00dcber"}, {u"fileDESCRIPTION", u"Notes Setup"}};
        changes.fileVersion = pe::VersionNumber{2, 0, 65535, 7};
        ApplyEdit(exe, pe::VersionEdit(changes));
        pe::VersionInfo info = ParsedVersion(exe);
        EXPECT_EQ(info.language, 0x409);
        EXPECT_EQ(info.codePage, 1200);
        EXPECT_TRUE(info.hasFixed);
        EXPECT_EQ(info.fileVersion, (pe::VersionNumber{2, 0, 65535, 7}));
        EXPECT_EQ(info.productVersion, (pe::VersionNumber{1, 2, 3, 4}));
        EXPECT_EQ(Value(info, u"FileVersion"), u"2.0.65535.7");
        EXPECT_EQ(Value(info, u"FileDescription"), u"Notes Setup") << "a key is matched as the platform matches it";
        EXPECT_EQ(Value(info, u"ProductName"), u"Notes \u00dcber");
        EXPECT_EQ(info.strings.size(), 3u);
        std::vector<pe::ResourceInfo> resources;
        ASSERT_TRUE(pe::ListResources(exe, resources, error));
        EXPECT_EQ(std::count_if(resources.begin(), resources.end(),
                                [](const pe::ResourceInfo& r) { return r.type == kVersion && r.language == 1033; }),
                  1);

        // An executable without one gets one, in U.S. English.
        std::u16string bare = CopySample(dir, std::string("nores") + bits + ".exe");
        changes.productVersion = pe::VersionNumber{3, 1, 0, 0};
        ApplyEdit(bare, pe::VersionEdit(changes));
        info = ParsedVersion(bare);
        EXPECT_EQ(info.language, 0x409);
        EXPECT_EQ(info.codePage, 1200);
        EXPECT_EQ(info.productVersion, (pe::VersionNumber{3, 1, 0, 0}));
        EXPECT_EQ(Value(info, u"ProductVersion"), u"3.1.0.0");
        EXPECT_EQ(Value(info, u"ProductName"), u"Notes \u00dcber");
        EXPECT_EQ(Read(bare, kVersion, ResourceKey::Id(1), 1033).size() % 4, 0u);
    }
}

// A damaged version resource is refused, never read past, and never rewritten.
TEST(PeVersion, DamagedResourcesAreRefused) {
    TempDir dir;
    Bytes good = Read(SamplePath("rsrc-reloc32.exe"), kVersion, ResourceKey::Id(1), 1033);
    std::vector<std::pair<Bytes, const char*>> cases;
    for (std::size_t length = 0; length < U16(good, 0); ++length) {
        cases.push_back({Bytes(good.begin(), good.begin() + length), "cut short or reaches beyond"});
    }
    Bytes wrongRoot = good;
    wrongRoot[6] = 'W';
    cases.push_back({wrongRoot, "does not start with VS_VERSION_INFO"});
    Bytes badFixed = good;
    badFixed[40] ^= 1; // the fixed part's signature, after the 6-byte header and the padded key
    cases.push_back({badFixed, "fixed part is damaged"});
    Bytes loop = good;
    PutU16(loop, 0, 4); // shorter than a block's header
    cases.push_back({loop, "reaches beyond"});
    for (const auto& [resource, reason] : cases) {
        SCOPED_TRACE(std::string(reason) + " " + std::to_string(resource.size()));
        pe::VersionInfo info;
        Bytes rewritten;
        Error error;
        EXPECT_FALSE(pe::ParseVersionResource(resource, info, error));
        EXPECT_FALSE(pe::RewriteVersionResource(resource, {}, rewritten, error));
        EXPECT_FALSE(error.message.empty());
    }
}

} // namespace
