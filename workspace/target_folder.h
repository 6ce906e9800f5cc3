// The device folders an installation can be based on, in the order the main window's Target
// Folder list shows them (the list sorts them by name), with the shell folder codes stored in the
// workspace.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace workspace {

struct TargetFolderChoice {
    std::string_view name;  // as the list shows it
    std::string_view label; // as the command-line builder takes it
    std::int32_t code;
};

inline constexpr std::array<TargetFolderChoice, 4> kTargetFolderChoices{{
    {"CSIDL_PERSONAL", "personal", 5},
    {"CSIDL_PROGRAM_FILES", "program-files", 38},
    {"CSIDL_PROGRAMS", "programs", 2},
    {"CSIDL_ROOT", "root", 255},
}};

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
