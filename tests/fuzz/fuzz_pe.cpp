// Fuzz target for the PE resource reader and editor. The oracle: every resource the reader lists
// reads back with its listed size, and an update that succeeds leaves every old resource readable
// with the same bytes and the new one with exactly the stored bytes. A version resource that reads
// says the same once rewritten unchanged, and rewriting it again changes no byte; the same bytes as
// an icon file are either refused or give every image the directory lists.
#include "package/pe_icons.h"
#include "package/pe_resources.h"
#include "package/pe_version.h"
#include "platform/file.h"
#include "platform/replacement.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::u16string ScratchFile() {
    static const std::u16string path = fuzz_support::ScratchFile(".exe");
    return path;
}

struct Known {
    pe::ResourceInfo info;
    std::vector<std::uint8_t> bytes;
};

bool SameStrings(const std::vector<pe::VersionString>& a, const std::vector<pe::VersionString>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const pe::VersionString& x, const pe::VersionString& y) { return x.key == y.key && x.value == y.value; });
}

void CheckVersion(const std::vector<std::uint8_t>& resource) {
    pe::VersionInfo info, again;
    std::vector<std::uint8_t> rewritten, twice;
    Error error;
    if (!pe::ParseVersionResource(resource, info, error)) {
        return;
    }
    // Texts cut at a NUL read back shorter, which is what the platform reads too.
    if (!pe::RewriteVersionResource(resource, {}, rewritten, error)) {
        return; // only when it would outgrow 64 KB
    }
    Require(pe::ParseVersionResource(rewritten, again, error));
    Require(again.language == info.language && again.codePage == info.codePage && again.hasFixed == info.hasFixed);
    Require(again.fileVersion == info.fileVersion && again.productVersion == info.productVersion);
    Require(SameStrings(again.strings, info.strings));
    Require(pe::RewriteVersionResource(rewritten, {}, twice, error) && twice == rewritten);
}

} // namespace

int FuzzPeResources(const std::uint8_t* data, std::size_t size) {
    if (size > 16 * 1024 * 1024) {
        return 0;
    }
    const std::u16string path = ScratchFile();
    {
        platform::Replacement out(path);
        std::uint32_t written = 0;
        Require(out.Open() && (size == 0 || out.Out().Write(data, static_cast<std::uint32_t>(size), written)) &&
                out.Commit());
    }
    Error error;
    std::vector<pe::ResourceInfo> listed;
    std::vector<Known> before;
    if (pe::ListResources(path, listed, error)) {
        for (const pe::ResourceInfo& info : listed) {
            Known k{info, {}};
            Require(pe::ReadResource(path, info.type, info.name, info.language, k.bytes, error));
            Require(k.bytes.size() == info.size);
            std::vector<std::uint8_t> fromImage;
            Require(pe::ReadResourceFromImage({data, size}, info.type, info.name, info.language, fromImage, error));
            Require(fromImage == k.bytes);
            if (info.type == pe::ResourceKey::Id(pe::kTypeVersion)) {
                CheckVersion(k.bytes);
            }
            before.push_back(std::move(k));
        }
    }

    pe::ResourceUpdate update{
        pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(u"ORBDATA"), pe::kLanguageEnglishUS, {}};
    update.data.bytes.assign(data, data + std::min<std::size_t>(size, 37));
    if (pe::UpdateResources(path, {update}, error)) {
        std::vector<std::uint8_t> back;
        Require(pe::ReadResource(path, update.type, update.name, pe::kLanguageEnglishUS, back, error));
        Require(back == update.data.bytes);
        for (const Known& k : before) {
            if (k.info.type == update.type && k.info.name == update.name && k.info.language == update.language) {
                continue;
            }
            std::vector<std::uint8_t> again;
            Require(pe::ReadResource(path, k.info.type, k.info.name, k.info.language, again, error));
            Require(again == k.bytes);
        }
    }
    std::vector<pe::IconImage> images;
    if (pe::ParseIconFile({data, size}, images, error)) {
        Require(!images.empty() && images.size() == static_cast<std::size_t>(data[4] | (data[5] << 8)));
    }
    platform::RemoveFile(path);
    return 0;
}
