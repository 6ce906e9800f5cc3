// Where a member of a package belongs below a folder: its path relative to the header's
// sourceFolder, checked so that no member can name a place outside that folder.
#pragma once

#include "platform/error.h"

#include <string>
#include <string_view>

namespace device {

// The member's path below the source folder, components joined by backslashes as packages store
// them. Fails with the error.message for a member outside the source folder, and for a relative path that
// is absolute, names a drive or stream, or climbs out with "..".
bool RelativeMemberPath(std::u16string_view sourceFolder, std::u16string_view filename, std::u16string& relative,
                        Error& error);

} // namespace device
