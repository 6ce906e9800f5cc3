// Resources of the running program and of other executables, and the one window operation the
// package core needs, behind a portable interface. Hosts without the Win32 resource functions
// answer "not found" here; they read executables with the project's own PE reader instead.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// How far a resource lookup got; the first step that failed.
enum class ResourceStep { Found, NotFound, Empty, NotLoaded, NoPointer, Several };

// Looks a resource up in the running program by name and by type name. The bytes stay readable
// for the life of the program. A resource present in more than one language is not taken: the
// loader would choose among them by the user's languages.
ResourceStep FindOwnResource(std::u16string_view name, std::u16string_view type, const std::uint8_t*& data,
                             std::uint32_t& size);

// Another executable, loaded only so that its resources can be read. Released when the object
// goes, unless Release was called.
class LoadedModule {
public:
    LoadedModule() = default;
    ~LoadedModule() { Release(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Load(std::u16string_view path);
    // The bytes stay readable until the module is released.
    ResourceStep Find(std::u16string_view name, std::u16string_view type, const std::uint8_t*& data,
                      std::uint32_t& size);
    // Answers whether the release succeeded (true when nothing was loaded).
    bool Release();

private:
    [[maybe_unused]] void* module_ = nullptr; // unused where there is no loader
};

} // namespace platform
