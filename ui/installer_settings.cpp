#include "ui/installer_settings.h"

namespace ui {

InstallerSettings installerSettings;

} // namespace ui
