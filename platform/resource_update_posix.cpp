// No shell and no resource update functions on POSIX hosts.
#include "platform/resource_update.h"

namespace platform {

bool ShellCopyFile(std::u16string_view, std::u16string_view) { return false; }

ResourceUpdater::~ResourceUpdater() = default;

bool ResourceUpdater::Begin(std::u16string_view) { return false; }

bool ResourceUpdater::Update(ResourceName, ResourceName, std::uint16_t, const void*, std::uint32_t) { return false; }

bool ResourceUpdater::Commit() { return false; }

} // namespace platform
