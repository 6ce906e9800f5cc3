// Naming, settings and writing of a device cabinet file.
#include "device/cabinet_file.h"

#include "device/cabinet_manifest.h"

#include "package/package.h"
#include "platform/host_paths.h"
#include "platform/names.h"
#include "platform/replacement.h"
#include "platform/text.h"

namespace device {

std::u16string OutputAppName(const PackageHeader& header, std::u16string_view inputPath) {
    std::u16string name(FieldText(header.programName));
    if (!name.empty()) {
        return name;
    }
    std::u16string file = platform::FromFsPath(platform::FsPath(inputPath).stem());
    // A file's name on this host may hold what no name on the device should: the cabinet's manifest
    // and the INF would carry it.
    for (char16_t& c : file) {
        if (platform::HasControlCharacter(std::u16string_view(&c, 1))) {
            c = u'_';
        }
    }
    return file.empty() ? u"Setup" : file;
}

std::u16string OutputStem(std::u16string_view appName) {
    std::u16string stem;
    for (char16_t c : appName) {
        stem += platform::ForbiddenInName(c) ? u'_' : c;
    }
    while (!stem.empty() && (stem.back() == u'.' || stem.back() == u' ')) {
        stem.pop_back();
    }
    if (stem.empty()) {
        stem = u"Setup";
    }
    // Windows takes the name for a device by what comes before its first dot, without the blanks
    // and dots that end it ("NUL.x", "con .txt"): the mark goes there, since one at the end of the
    // stem would leave "NUL.x_.ARM.CAB" still the device NUL.
    if (platform::NamesDevice(stem)) {
        std::size_t dot = stem.find(u'.');
        std::u16string_view base = std::u16string_view(stem).substr(0, dot);
        stem.insert(platform::TrimmedComponent(base).size(), 1, u'_');
    }
    return stem;
}

std::u16string FamilyOutputName(std::u16string_view appName, const CpuChoice& family, std::u16string_view extension) {
    std::u16string name = OutputStem(appName);
    name += u'.';
    name.append(family.name);
    name.append(extension);
    return name;
}

CabinetSettings DefaultCabinetSettings(std::u16string_view appName, const CpuChoice& family, std::int64_t time) {
    CabinetSettings settings;
    settings.appName = appName;
    settings.provider = appName;
    settings.processorType = family.processorType;
    settings.compress = false;
    settings.time = time;
    return settings;
}

bool PackageMemberSource::Open(std::int32_t index, std::uint32_t size, Error& error) {
    PackageEntry entry{};
    if (!package_.GetEntry(static_cast<std::uint32_t>(index), &entry) || entry.size != size) {
        error = Malformed("file " + std::to_string(index) + " of the package cannot be read");
        return false;
    }
    index_ = index;
    offset_ = 0;
    return true;
}

bool PackageMemberSource::Read(void* buffer, std::uint32_t size, Error& error) {
    // The package names the file it reads; the system's reason, where a read failed, follows.
    platform::ForgetSystemReason();
    if (!package_.ReadMemberAt(index_, offset_, buffer, size)) {
        error = {ErrorCode::CannotRead,
                 {},
                 "file " + std::to_string(index_) +
                     " of the package cannot be read: " + platform::ToUtf8(package_.LastError()),
                 platform::SystemReason()};
        return false;
    }
    offset_ += size;
    return true;
}

bool PlanFamilyCabinet(const InstallPlan& plan, std::u16string_view appName, std::u16string_view provider,
                       const CpuChoice& family, const DeviceOptions& options, std::int64_t time, FamilyCabinet& out,
                       Error& error) {
    out.settings = DefaultCabinetSettings(appName, family, time);
    if (!provider.empty()) {
        out.settings.provider = provider;
    }
    out.design = DesignCabinet(plan, out.settings);
    ApplyOptions(options, out.design);
    return CheckCabinet(out.design, error);
}

bool WriteCabinetFile(const CabinetDesign& design, const CabinetSettings& settings, MemberSource& members,
                      std::u16string_view path, Error& error) {
    platform::Replacement file(path);
    if (!file.Open()) {
        error = file.Problem() == platform::ReplaceProblem::TargetNotRegular
                    ? Error{ErrorCode::NotRegular, {}, "is a folder, a link or a device, not a file", {}}
                    : SystemError(ErrorCode::CannotCreate, {}, "cannot be written");
        return false;
    }
    if (!WriteCabinet(design, settings, members, file.Out(), error)) {
        return false;
    }
    if (!file.Commit()) {
        error = SystemError(ErrorCode::CannotWrite, {}, "cannot be written");
        return false;
    }
    return true;
}

} // namespace device
