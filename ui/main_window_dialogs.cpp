// The main window's commands that open the program's own dialogs and its help.
#include "ui/main_window.h"

namespace ui {

LRESULT CMainWindow::OnAbout(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnHelpIndex(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnInstallerProperties(UINT, WPARAM, LPARAM) { return 0; }

} // namespace ui
