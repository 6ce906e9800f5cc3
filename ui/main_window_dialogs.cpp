// The main window's commands that open the program's own dialogs and its help.
#include "ui/about_dialog.h"
#include "ui/help.h"
#include "ui/installer_properties_dialog.h"
#include "ui/main_window.h"

namespace ui {

LRESULT CMainWindow::OnAbout(UINT, WPARAM, LPARAM) {
    CAboutDialog about;
    RunModalDialog(about);
    return 0;
}

LRESULT CMainWindow::OnHelpIndex(UINT, WPARAM, LPARAM) {
    OpenHelpIndex(Window());
    return 0;
}

// The dialog edits this window's build command along with the free-standing settings.
LRESULT CMainWindow::OnInstallerProperties(UINT, WPARAM, LPARAM) {
    installerPropertiesDialog.Attach(settings);
    RunModalDialog(installerPropertiesDialog);
    return 0;
}

} // namespace ui
