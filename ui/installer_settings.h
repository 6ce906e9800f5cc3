// The installer settings of the run: what the Installer Properties dialog edits, owned by the main
// window. All ANSI texts; a new workspace keeps them, opening a workspace file replaces the image
// path and the build command, and saving one stores those two.
#pragma once

#include <string>

namespace ui {

struct InstallerSettings {
    std::string imagePath; // the sidebar bitmap stored in the installer
    std::string iconPath;
    std::string installerTitle;
    std::string shortcutName;
    std::string buildCommand; // run after an installer is built; <filename> becomes its path
};

} // namespace ui
