// Win32 resource lookup with the platform's own loader.
#include "platform/module.h"

#include <string>
#include <windows.h>

namespace platform {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<LONG_PTR*>(count);
    return TRUE;
}

ResourceStep Lookup(HMODULE module, std::u16string_view name, std::u16string_view type, const std::uint8_t*& data,
                    std::uint32_t& size) {
    data = nullptr;
    size = 0;
    std::wstring wideName = Wide(name);
    std::wstring wideType = Wide(type);
    LONG_PTR languages = 0;
    EnumResourceLanguagesW(module, wideType.c_str(), wideName.c_str(), CountLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    if (languages > 1) {
        return ResourceStep::Several;
    }
    HRSRC found = FindResourceW(module, wideName.c_str(), wideType.c_str());
    if (!found) {
        return ResourceStep::NotFound;
    }
    DWORD length = SizeofResource(module, found);
    if (length == 0) {
        return ResourceStep::Empty;
    }
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) {
        return ResourceStep::NotLoaded;
    }
    const void* bytes = LockResource(loaded);
    if (!bytes) {
        return ResourceStep::NoPointer;
    }
    data = static_cast<const std::uint8_t*>(bytes);
    size = length;
    return ResourceStep::Found;
}

} // namespace

ResourceStep FindOwnResource(std::u16string_view name, std::u16string_view type, const std::uint8_t*& data,
                             std::uint32_t& size) {
    return Lookup(nullptr, name, type, data, size);
}

bool LoadedModule::Load(std::u16string_view path) {
    Release();
    // As a data file: the executable's code is neither run nor bound, and an installer of the
    // other bitness can still be read.
    module_ = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module_ != nullptr;
}

ResourceStep LoadedModule::Find(std::u16string_view name, std::u16string_view type, const std::uint8_t*& data,
                                std::uint32_t& size) {
    if (!module_) {
        return ResourceStep::NotFound;
    }
    return Lookup(static_cast<HMODULE>(module_), name, type, data, size);
}

bool LoadedModule::Release() {
    if (!module_) {
        return true;
    }
    bool ok = FreeLibrary(static_cast<HMODULE>(module_)) != 0;
    module_ = nullptr;
    return ok;
}

} // namespace platform
