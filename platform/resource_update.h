// The platform's own services for making an installer: the shell's file copy and the resource
// update functions. Win32 only; elsewhere they answer failure and the portable editor is used.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Copies one file without a progress display; the platform still asks before it replaces an
// existing destination. True only when the file was copied.
bool ShellCopyFile(std::u16string_view from, std::u16string_view to);

// A resource type or name as the update functions take it: a number, or a text when not empty.
struct ResourceName {
    std::uint16_t id = 0;
    std::u16string_view text;
};

// One update session of an executable's resources, the existing ones left in place. Discarded
// when the object goes without Commit.
class ResourceUpdater {
public:
    ResourceUpdater() = default;
    ~ResourceUpdater();
    ResourceUpdater(const ResourceUpdater&) = delete;
    ResourceUpdater& operator=(const ResourceUpdater&) = delete;

    bool Begin(std::u16string_view executable);
    bool Update(ResourceName type, ResourceName name, std::uint16_t language, const void* data, std::uint32_t size);
    bool Commit();

private:
    [[maybe_unused]] void* handle_ = nullptr; // unused where there are no update functions
};

} // namespace platform
