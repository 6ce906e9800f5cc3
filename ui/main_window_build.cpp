// The main window's build commands: the package data file, the installer, the setup INF lines.
#include "ui/main_window.h"

namespace ui {

LRESULT CMainWindow::OnCreateDatFile(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnCreateInstaller(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnCreateCabwizInf(UINT, WPARAM, LPARAM) { return 0; }

} // namespace ui
