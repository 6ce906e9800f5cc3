// The one-pass installer: the updates the older road makes one after another (removing the
// template's package and picture in other languages, storing the package, storing the picture)
// are applied together to the template's resource tree, and the executable is written once.
#include "package/installer_write.h"

#include "package/byte_sink.h"
#include "package/installer.h"
#include "platform/file.h"
#include "platform/replacement.h"
#include "platform/text.h"

#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kBitmapFileHeader = 14;

// The host's package as a resource produced while the executable is written; remembers whether
// the failure was the package's own.
class PackageProducer final : public pe::ResourceProducer {
public:
    PackageProducer(InstallerWriteHost& host, std::u16string_view output) : host_(host), output_(output) {}
    bool Produce(ByteSink& out) override {
        failed_ = !host_.WritePackage(out, output_);
        return !failed_;
    }
    bool Failed() const { return failed_; }

private:
    InstallerWriteHost& host_;
    std::u16string_view output_;
    bool failed_ = false;
};

// The sidebar picture as the resource the older road stores: the file without its file header.
bool SidebarUpdate(const InstallerParts& parts, pe::ResourceUpdate& update, Error& detail) {
    std::uint64_t length = 0;
    platform::File file = platform::File::OpenRead(parts.sidebarPath, platform::Share::Read);
    if (!file.IsOpen() || !file.Size(length)) {
        detail = SystemError(
            ErrorCode::CannotOpen, {},
            std::string("The sidebar picture could not be opened: ").append(platform::ToUtf8(parts.sidebarPath)));
        return false;
    }
    // Only a file with something after its 14-byte file header, and one that is a bitmap at all,
    // can become a bitmap resource the installer can show.
    if (length <= kBitmapFileHeader) {
        detail = {ErrorCode::Malformed, {}, "The bitmap file holds nothing after its file header", {}};
        return false;
    }
    char signature[2] = {};
    if (!platform::ReadExactly(file, signature, 2)) {
        detail = SystemError(
            ErrorCode::CannotRead, {},
            std::string("The sidebar picture could not be read: ").append(platform::ToUtf8(parts.sidebarPath)));
        return false;
    }
    if (signature[0] != 'B' || signature[1] != 'M') {
        detail = {ErrorCode::Malformed, {}, "The file is not a bitmap (it does not start with \"BM\")", {}};
        return false;
    }
    update = {pe::ResourceKey::Id(pe::kTypeBitmap), parts.sidebarName, pe::kLanguageEnglishUS, {}};
    update.data.path = parts.sidebarPath;
    update.data.offset = kBitmapFileHeader;
    update.data.length = length - kBitmapFileHeader;
    return true;
}

// The updates, in the older road's order. The template's package and picture in other languages
// go: the system running the installer may prefer them to the new ones.
bool PlanUpdates(const InstallerParts& parts, std::uint64_t packageLength, PackageProducer& producer,
                 std::vector<pe::ResourceUpdate>& updates, Error& detail) {
    std::vector<pe::ResourceInfo> resources;
    if (!pe::ListResources(parts.templatePath, resources, detail)) {
        return false;
    }
    auto removeOthers = [&](auto picks) {
        for (const pe::ResourceInfo& r : resources) {
            if (picks(r) && r.language != pe::kLanguageEnglishUS) {
                updates.push_back({r.type, r.name, r.language, {}, true});
            }
        }
    };
    removeOthers(IsPackageResource);
    pe::ResourceUpdate package{
        pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(u"ORBDATA"), pe::kLanguageEnglishUS, {}};
    package.data.length = packageLength;
    package.data.producer = &producer;
    updates.push_back(std::move(package));
    if (!parts.sidebarPath.empty()) {
        pe::ResourceUpdate sidebar;
        if (!SidebarUpdate(parts, sidebar, detail)) {
            return false;
        }
        removeOthers([&](const pe::ResourceInfo& r) {
            return r.type == pe::ResourceKey::Id(pe::kTypeBitmap) && r.name == parts.sidebarName;
        });
        updates.push_back(std::move(sidebar));
    }
    // The device options of the installer made from the template, never any the template carried.
    const pe::ResourceKey optionsType = pe::ResourceKey::Name(u"RT_RCDATA"),
                          optionsName = pe::ResourceKey::Name(kDeviceOptionsName);
    for (const pe::ResourceInfo& r : resources) {
        if (r.type == optionsType && r.name == optionsName &&
            (r.language != pe::kLanguageEnglishUS || parts.deviceOptions.empty())) {
            updates.push_back({r.type, r.name, r.language, {}, true});
        }
    }
    if (!parts.deviceOptions.empty()) {
        pe::ResourceUpdate options{optionsType, optionsName, pe::kLanguageEnglishUS, {}};
        options.data.bytes = parts.deviceOptions;
        updates.push_back(std::move(options));
    }
    for (const pe::ResourceEdit* edit : parts.edits) {
        if (!edit->Plan(parts.templatePath, resources, updates, detail)) {
            return false;
        }
    }
    return true;
}

// The new executable must hold the package once, in U.S. English, at its full length: a template
// whose own package's name differs only in case would otherwise keep a second one.
bool HoldsOnePackage(const std::vector<pe::ResourceInfo>& written, std::uint64_t length) {
    std::size_t packages = 0;
    bool right = true;
    for (const pe::ResourceInfo& r : written) {
        if (IsPackageResource(r)) {
            ++packages;
            right = right && r.language == pe::kLanguageEnglishUS && r.size == length;
        }
    }
    return right && packages == 1;
}

} // namespace

bool PackageMembersHost::MeasurePackage(std::uint64_t& length) {
    if (!package_.PrepareStream()) {
        return false;
    }
    length = package_.StreamSize();
    return true;
}

bool PackageMembersHost::WritePackage(ByteSink& out, std::u16string_view output) {
    return package_.Stream(out, progress_, output);
}

Error WriteInstaller(const InstallerParts& parts, std::u16string_view output, InstallerWriteHost& host) {
    const std::string subject = platform::ToUtf8(output);
    auto failure = [&](ErrorCode code, std::string message) { return Error{code, subject, std::move(message), {}}; };
    // Whatever stops the plan or the copy is, to the callers, something wrong with the template or
    // the parts; the system's reason for a failed call stays with it.
    auto failed = [&](ErrorCode code, const Error& detail) {
        return Error{code, subject, detail.message, detail.reason};
    };
    std::uint64_t length = 0;
    if (!host.MeasurePackage(length)) {
        return failure(ErrorCode::PackageFailed, {});
    }
    PackageProducer producer(host, output);
    std::vector<pe::ResourceUpdate> updates;
    Error detail;
    if (!PlanUpdates(parts, length, producer, updates, detail)) {
        return failed(ErrorCode::Malformed, detail);
    }
    platform::Replacement out(output);
    if (!out.Open()) {
        if (out.Problem() == platform::ReplaceProblem::TargetNotRegular) {
            return failure(ErrorCode::NotRegular, "The output is not a regular file.");
        }
        return SystemError(ErrorCode::CannotCreate, subject, "No file can be made in the output's folder.");
    }
    std::vector<pe::ResourceInfo> written;
    if (!pe::WriteUpdatedCopy(parts.templatePath, updates, out.Out(), &written, detail)) {
        return failed(producer.Failed() ? ErrorCode::PackageFailed : ErrorCode::Malformed, detail);
    }
    if (!HoldsOnePackage(written, length)) {
        return failure(ErrorCode::Malformed, "The installer does not hold the package after it was stored.");
    }
    if (!host.MayReplaceOutput()) {
        return failure(ErrorCode::Refused, {});
    }
    if (!out.Commit()) {
        return SystemError(ErrorCode::CannotWrite, subject,
                           "The installer could not take the output's name (is it in use?).");
    }
    return {};
}
