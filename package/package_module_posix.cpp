// OpenModule without the platform's loader: the installer's resource section is read with the
// project's own PE reader, so a package can be inspected and extracted on any host.
#include "package/package.h"
#include "package/pe_resources.h"

bool Package::OpenModule(const char16_t* executablePath, const EntryFilter& filter) {
    image = nullptr;
    imageSize = 0;
    packageFile.Close();
    std::vector<std::uint8_t> data;
    Error error;
    if (!executablePath || !pe::ReadResource(executablePath, pe::ResourceKey::Name(u"RT_RCDATA"),
                                             pe::ResourceKey::Name(u"ORBDATA"), std::nullopt, data, error)) {
        SetLastError(u"FindResource failed");
        return false;
    }
    if (data.empty()) {
        SetLastError(u"Resource is empty failed");
        return false;
    }
    if (data.size() >= (std::uint64_t{1} << 32)) {
        SetLastError(u"LoadResource failed");
        return false;
    }
    bool loaded = LoadFromImage(data.data(), static_cast<std::uint32_t>(data.size()), &filter);
    image = nullptr;
    imageSize = 0;
    return loaded;
}
