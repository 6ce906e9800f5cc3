// Where the main window reaches the user outside itself: the common choosers, message boxes, the
// folder browser and modal dialogs.
#include "ui/main_window.h"
#include "ui/progress_dialog.h"

#include "frame/file_chooser.h"

// (after windows.h)
#include <shlobj.h>

namespace ui {

BOOL CMainWindow::RunFileChooser(OPENFILENAMEA& request, bool save) {
    return ShowFileChooser(request, save);
}

int CMainWindow::RunMessageBox(const char* text, const char* caption, UINT type) {
    // A build's message must not stand over an older picture of its progress.
    progressDialog.Flush();
    return MessageBoxA(Window(), text, caption, type);
}

std::u16string CMainWindow::RunFolderBrowser(const wchar_t* title, UINT flags) {
    static wchar_t chosen[MAX_PATH];
    chosen[0] = L'\0';
    CoInitialize(nullptr);
    BROWSEINFOW browse{};
    browse.lpszTitle = title;
    browse.ulFlags = flags;
    if (PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse)) {
        SHGetPathFromIDListW(item, chosen);
        CoTaskMemFree(item);
    }
    CoUninitialize();
    return std::u16string(chosen, chosen + wcslen(chosen));
}

INT_PTR CMainWindow::RunModalDialog(CDialogBase& dialog) { return dialog.DoModal(GetActiveWindow()); }

} // namespace ui
