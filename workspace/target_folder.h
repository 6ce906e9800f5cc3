// The device folders an installation can be based on, in the order the main window's Target
// Folder list shows them (the list sorts them by name), with the shell folder codes stored in the
// workspace.
#pragma once

#include "package/records.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace workspace {

using TargetFolderChoice = ::TargetFolder;
inline constexpr std::span<const TargetFolderChoice, 4> kTargetFolderChoices{kTargetFolders};

// The list index showing `code`, or -1 for a code no choice stores.
constexpr int TargetFolderIndex(std::int32_t code) {
    for (std::size_t i = 0; i < kTargetFolderChoices.size(); ++i) {
        if (kTargetFolderChoices[i].code == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace workspace
