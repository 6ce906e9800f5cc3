// The About box. Enter and OK end it with 1, Escape and the close box with 2; nobody reads the code.
#include "ui/about_dialog.h"

#include "ui/resource.h"

namespace ui {

const std::array<MessageMapRow<CAboutDialog>, 3> CAboutDialog::messageMap{{
    {WM_INITDIALOG, 0, 0, &CAboutDialog::OnInitDialog},
    {WM_COMMAND, IDOK, kAnyCode, &CAboutDialog::OnCloseCommand},
    {WM_COMMAND, IDCANCEL, kAnyCode, &CAboutDialog::OnCloseCommand},
}};

CAboutDialog::CAboutDialog() : CDialogBase(IDD_ABOUT) {}

bool CAboutDialog::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return DispatchToMap<CAboutDialog>(*this, messageMap, message, wParam, lParam, result);
}

// Answering TRUE lets the platform put the focus on the default button.
LRESULT CAboutDialog::OnInitDialog(UINT, WPARAM, LPARAM) {
    CentreWindow(Window(), GetParent(Window()));
    return TRUE;
}

LRESULT CAboutDialog::OnCloseCommand(UINT, WPARAM wParam, LPARAM) {
    EndDialog(LOWORD(wParam));
    return 0;
}

} // namespace ui
