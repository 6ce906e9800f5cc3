// OpenModule with the platform's loader: the installer's package is read where the platform put it.
#include "package/package.h"
#include "platform/module.h"

bool Package::OpenModule(const char16_t* executablePath, const EntryFilter& filter) {
    image = nullptr;
    imageSize = 0;
    packageFile.Close();
    platform::LoadedModule module;
    if (!executablePath || !module.Load(executablePath)) {
        SetLastError(u"FindResource failed");
        return false;
    }
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!AcceptResourceStep(module.Find(u"ORBDATA", u"RT_RCDATA", data, size))) {
        return false;
    }
    bool loaded = LoadFromImage(data, size, &filter);
    // The bytes go with the module: what stays is the header and the kept records.
    image = nullptr;
    imageSize = 0;
    if (!module.Release()) {
        SetLastError(u"Couldn't free the library");
        return false;
    }
    return loaded;
}
