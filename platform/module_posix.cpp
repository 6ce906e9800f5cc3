// Hosts without the Win32 loader: no program resources and no windows. Executables are read
// with the project's own PE reader instead (package/pe_resources.h).
#include "platform/module.h"

namespace platform {

ResourceStep FindOwnResource(std::u16string_view, std::u16string_view, const std::uint8_t*& data, std::uint32_t& size) {
    data = nullptr;
    size = 0;
    return ResourceStep::NotFound;
}

bool LoadedModule::Load(std::u16string_view) { return false; }

ResourceStep LoadedModule::Find(std::u16string_view, std::u16string_view, const std::uint8_t*& data,
                                std::uint32_t& size) {
    data = nullptr;
    size = 0;
    return ResourceStep::NotFound;
}

bool LoadedModule::Release() { return true; }

} // namespace platform
