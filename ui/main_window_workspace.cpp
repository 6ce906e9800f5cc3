// The main window's workspace commands.
#include "ui/main_window.h"

namespace ui {

LRESULT CMainWindow::OnSaveWorkspace(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnOpenWorkspace(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnAddFiles(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnNewWorkspace(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnDropFiles(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnFileListSelChange(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnFileFlagClicked(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnProgramPathChange(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnTargetFolderChange(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnShortcutLabelChange(UINT, WPARAM, LPARAM) { return 0; }
LRESULT CMainWindow::OnProgramNameChange(UINT, WPARAM, LPARAM) { return 0; }

} // namespace ui
