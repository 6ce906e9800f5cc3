// The installer settings of the run: what the Installer Properties dialog edits. The build command,
// the fifth setting, is the main window's `buildCommand`. All ANSI texts; a new workspace keeps
// them, opening a workspace file replaces the image path and the build command.
#pragma once

#include <string>

namespace ui {

struct InstallerSettings {
    std::string imagePath; // the sidebar bitmap stored in the installer
    std::string iconPath;
    std::string installerTitle;
    std::string shortcutName;
};

extern InstallerSettings installerSettings;

} // namespace ui
