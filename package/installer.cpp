// Making an installer: the template copied, the package and the sidebar bitmap stored in the copy.
#include "package/installer.h"
#include "package/package.h"
#include "platform/file.h"
#include "platform/replacement.h"
#include "platform/resource_update.h"
#include "platform/text.h"

#include <array>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr std::uint32_t kBitmapFileHeader = 14;

constexpr std::u16string_view kCannotRemoveOldPackage =
    u"The template carries a package of its own that could not be removed from the installer.";
constexpr std::u16string_view kPackageNotStored = u"The installer does not hold the package after it was stored.";

bool RemoveWithOwnEditor(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                         std::uint16_t language, Error& error) {
    pe::ResourceUpdate removal{type, name, language, {}, true};
    return pe::UpdateResources(destination, {removal}, error);
}

bool SameName(std::u16string_view stored, std::u16string_view upper) {
    if (stored.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (platform::UpperCaseUnit(stored[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

platform::ResourceName ToPlatform(const pe::ResourceKey& key) { return {key.id, key.name}; }

} // namespace

namespace {

// Removes every resource the test picks out but the one in U.S. English, which is about to be
// stored. An executable this program cannot read is left as it is: the platform's update may
// still manage it.
template <typename Picks>
bool RemoveOtherLanguages(InstallerPatcher& patcher, std::u16string_view destination, const Picks& picks) {
    std::vector<pe::ResourceInfo> resources;
    Error ignored;
    if (!pe::ListResources(destination, resources, ignored)) {
        return true;
    }
    for (const pe::ResourceInfo& r : resources) {
        if (picks(r) && r.language != pe::kLanguageEnglishUS &&
            !patcher.Remove(destination, r.type, r.name, r.language)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsPackageResource(const pe::ResourceInfo& resource) {
    return SameName(resource.type.name, u"RT_RCDATA") && SameName(resource.name.name, u"ORBDATA");
}

bool PlatformPatcher::CopyTemplate(std::u16string_view from, std::u16string_view to) {
    return platform::ShellCopyFile(from, to);
}

StoreOutcome PlatformPatcher::Store(std::u16string_view destination, const pe::ResourceKey& type,
                                    const pe::ResourceKey& name, std::u16string_view source, std::uint32_t offset,
                                    std::uint32_t length) {
    std::uint32_t total = offset + length;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[total]);
    if (!buffer) {
        return StoreOutcome::NoSource;
    }
    std::u16string path(source);
    if (!Package::ReadWholeFile(path.c_str(), buffer.get(), static_cast<std::int32_t>(total))) {
        return StoreOutcome::ReadFailed;
    }
    platform::ResourceUpdater update;
    if (!update.Begin(destination)) {
        return StoreOutcome::CannotOpenDestination;
    }
    bool stored =
        update.Update(ToPlatform(type), ToPlatform(name), pe::kLanguageEnglishUS, buffer.get() + offset, length);
    // An update that is not committed leaves the plain template behind.
    return stored && update.Commit() ? StoreOutcome::Stored : StoreOutcome::NotStored;
}

bool PlatformPatcher::Remove(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                             std::uint16_t language) {
    platform::ResourceUpdater update;
    // An update with no data deletes the resource. Not every implementation of these functions
    // does (Wine's keeps it), so what is left is looked at, and removed by the project's own
    // editor where the platform left it.
    if (!update.Begin(destination) || !update.Update(ToPlatform(type), ToPlatform(name), language, nullptr, 0) ||
        !update.Commit()) {
        return false;
    }
    std::vector<pe::ResourceInfo> resources;
    Error error;
    if (!pe::ListResources(destination, resources, error)) {
        return false;
    }
    for (const pe::ResourceInfo& r : resources) {
        if (r.type == type && r.name == name && r.language == language) {
            return RemoveWithOwnEditor(destination, type, name, language, error);
        }
    }
    return true;
}

bool PortablePatcher::CopyTemplate(std::u16string_view from, std::u16string_view to) {
    detail_ = {};
    const std::string target = platform::ToUtf8(to);
    if (!allowReplace_ && platform::FileExists(to)) {
        detail_ = {ErrorCode::Refused,
                   target,
                   std::string("The destination exists and may not be replaced: ").append(target),
                   {}};
        return false;
    }
    platform::File in = platform::File::OpenRead(from, platform::Share::Read);
    if (!in.IsOpen()) {
        std::string source = platform::ToUtf8(from);
        detail_ = SystemError(ErrorCode::CannotOpen, source, std::string("Cannot open the template: ").append(source));
        return false;
    }
    // Copied beside the destination and moved over it at the end, so that a failed copy leaves an
    // existing destination as it was.
    platform::Replacement out(to);
    bool ok = out.Open();
    std::array<std::uint8_t, 65536> buffer;
    for (std::uint32_t got = 1; ok && got > 0;) {
        std::uint32_t written = 0;
        ok = in.Read(buffer.data(), buffer.size(), got) && out.Out().Write(buffer.data(), got, written) &&
             written == got;
    }
    if (!ok || !out.Commit()) {
        detail_ = out.Problem() == platform::ReplaceProblem::TargetNotRegular
                      ? Error{ErrorCode::NotRegular,
                              target,
                              std::string("The destination is not a regular file: ").append(target),
                              {}}
                      : SystemError(ErrorCode::CannotWrite, target,
                                    std::string("Cannot write the destination: ").append(target));
        return false;
    }
    return true;
}

StoreOutcome PortablePatcher::Store(std::u16string_view destination, const pe::ResourceKey& type,
                                    const pe::ResourceKey& name, std::u16string_view source, std::uint32_t offset,
                                    std::uint32_t length) {
    detail_ = {};
    platform::File in = platform::File::OpenRead(source, platform::Share::Read);
    std::uint64_t size = 0;
    if (!in.IsOpen() || !in.Size(size)) {
        return StoreOutcome::NoSource;
    }
    if (size < std::uint64_t{offset} + length) {
        return StoreOutcome::ReadFailed;
    }
    in.Close();
    pe::ResourceUpdate update{type, name, pe::kLanguageEnglishUS, {}};
    update.data.path = std::u16string(source);
    update.data.offset = offset;
    update.data.length = length;
    if (!pe::UpdateResources(destination, {update}, detail_)) {
        return StoreOutcome::CannotOpenDestination;
    }
    return StoreOutcome::Stored;
}

bool PortablePatcher::Remove(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                             std::uint16_t language) {
    detail_ = {};
    return RemoveWithOwnEditor(destination, type, name, language, detail_);
}

InstallerPatcher& DefaultPatcher() {
#ifdef _WIN32
    static PlatformPatcher patcher;
#else
    static PortablePatcher patcher(false);
#endif
    return patcher;
}

bool Package::StoreFileAsResource(InstallerPatcher& patcher, const char16_t* destination, const char16_t* source,
                                  const pe::ResourceKey& type, const pe::ResourceKey& name, std::uint32_t skip,
                                  std::uint32_t length) {
    switch (patcher.Store(destination, type, name, source, skip, length - skip)) {
    case StoreOutcome::Stored:
        return true;
    case StoreOutcome::NoSource:
        SetLastError(u"Could not allocate memory for dat file");
        return false;
    case StoreOutcome::ReadFailed:
        SetLastError(u"Could not store dat file in memory");
        return false;
    case StoreOutcome::CannotOpenDestination:
        SetLastError(u"Could not open the resource fork of the destination exe file.");
        return false;
    case StoreOutcome::NotStored:
        break;
    }
    return false;
}

bool Package::MakeInstaller(const char16_t* templatePath, const char16_t* packagePath, const char16_t* destination) {
    return MakeInstaller(templatePath, packagePath, destination, DefaultPatcher());
}

bool Package::MakeInstaller(const char16_t* templatePath, const char16_t* packagePath, const char16_t* destination,
                            InstallerPatcher& patcher) {
    if (!templatePath || !packagePath || !destination) {
        return false;
    }
    if (!patcher.CopyTemplate(templatePath, destination)) {
        return false;
    }
    std::int32_t length = GetFileLength(packagePath);
    if (length == 0) {
        return false;
    }
    if (length < 0) {
        SetLastError(u"Could not allocate memory for dat file");
        return false;
    }
    // A package the template already carries in another language would stay beside the new one,
    // and the loader on the user's PC may prefer it: only the new package may remain.
    if (!RemoveOtherLanguages(patcher, destination, IsPackageResource)) {
        SetLastError(kCannotRemoveOldPackage);
        return false;
    }
    std::vector<pe::ResourceInfo> resources;
    Error ignored;
    if (!StoreFileAsResource(patcher, destination, packagePath, pe::ResourceKey::Name(u"RT_RCDATA"),
                             pe::ResourceKey::Name(u"ORBDATA"), 0, static_cast<std::uint32_t>(length))) {
        return false;
    }
    // What was stored is read back: an update that reported success without writing the file
    // would otherwise pass for an installer.
    std::size_t packages = 0;
    bool right = pe::ListResources(destination, resources, ignored);
    for (const pe::ResourceInfo& r : resources) {
        if (IsPackageResource(r)) {
            ++packages;
            right = right && r.language == pe::kLanguageEnglishUS && r.size == static_cast<std::uint32_t>(length);
        }
    }
    if (!right || packages != 1) {
        SetLastError(kPackageNotStored);
        return false;
    }
    return true;
}

bool Package::StoreBitmap(const char16_t* destination, const char16_t* bitmapPath, const pe::ResourceKey& name) {
    return StoreBitmap(destination, bitmapPath, name, DefaultPatcher());
}

bool Package::StoreBitmap(const char16_t* destination, const char16_t* bitmapPath, const pe::ResourceKey& name,
                          InstallerPatcher& patcher) {
    if (!destination || !bitmapPath) {
        return false;
    }
    std::int32_t length = GetFileLength(bitmapPath);
    if (length == 0) {
        return false;
    }
    if (length < 0) {
        SetLastError(u"Could not allocate memory for dat file");
        return false;
    }
    // Only a file with something after its 14-byte file header, and one that is a bitmap at all,
    // can become a bitmap resource the installer can show.
    if (length <= static_cast<std::int32_t>(kBitmapFileHeader)) {
        SetLastError(u"The bitmap file holds nothing after its file header");
        return false;
    }
    char signature[2] = {};
    if (!ReadWholeFile(bitmapPath, signature, 2) || signature[0] != 'B' || signature[1] != 'M') {
        SetLastError(u"The file is not a bitmap (it does not start with \"BM\")");
        return false;
    }
    // The template's own picture in another language would be the one a user of that language sees.
    auto sameBitmap = [&](const pe::ResourceInfo& r) {
        return r.type == pe::ResourceKey::Id(pe::kTypeBitmap) && r.name == name;
    };
    if (!RemoveOtherLanguages(patcher, destination, sameBitmap)) {
        SetLastError(u"The template's own picture in another language could not be removed from the installer.");
        return false;
    }
    return StoreFileAsResource(patcher, destination, bitmapPath, pe::ResourceKey::Id(pe::kTypeBitmap), name,
                               kBitmapFileHeader, static_cast<std::uint32_t>(length));
}
