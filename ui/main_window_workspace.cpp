// The main window's workspace commands and the controls the workspace editor reads and writes.
// The edit controls report every change of their text, the program's own included, synchronously
// through the message map; that is what runs the editor's change handlers nested, so they are never
// called here a second time.
#include "ui/main_window.h"

#include "frame/file_chooser.h"
#include "platform/text.h"
#include "ui/resource.h"

#include <commctrl.h>
// (after windows.h)
#include <shellapi.h>

#include <algorithm>
#include <vector>

namespace ui {

using workspace::FlagBox;
using workspace::TextField;

namespace {
// The window's texts are read into a buffer of this size, so at most 254 characters count.
constexpr int kTextBuffer = 255;

// One item's text from a list box or a combo box's list (LB_ERR and CB_ERR are both -1). The length
// message only bounds the text: under a double-byte code page it may count more bytes than the
// copy holds, so the text ends where the copy says it does, never with NULs inside it.
std::string ItemText(HWND control, UINT lengthMessage, UINT textMessage, int index) {
    auto length = SendMessageA(control, lengthMessage, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    auto copied = SendMessageA(control, textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (copied < 0) {
        return {};
    }
    text.resize(std::min(static_cast<std::size_t>(copied), static_cast<std::size_t>(length)));
    return text;
}
} // namespace

LRESULT CMainWindow::OnSaveWorkspace(UINT, WPARAM, LPARAM) {
    workspace.OnSaveWorkspace();
    return 0;
}

LRESULT CMainWindow::OnOpenWorkspace(UINT, WPARAM, LPARAM) {
    workspace.OnOpenWorkspace();
    return 0;
}

LRESULT CMainWindow::OnAddFiles(UINT, WPARAM, LPARAM) {
    workspace.OnAddFiles();
    return 0;
}

LRESULT CMainWindow::OnNewWorkspace(UINT, WPARAM, LPARAM) {
    workspace.OnNewWorkspace();
    return 0;
}

LRESULT CMainWindow::OnDropFiles(UINT, WPARAM wParam, LPARAM) {
    auto drop = reinterpret_cast<HDROP>(wParam);
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> paths;
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        char path[kTextBuffer] = {};
        DragQueryFileA(drop, i, path, kTextBuffer);
        paths.emplace_back(path);
    }
    DragFinish(drop);
    workspace.OnDropFiles(paths);
    return 0;
}

LRESULT CMainWindow::OnFileListSelChange(UINT, WPARAM, LPARAM) {
    workspace.OnFileListSelChange();
    return 0;
}

LRESULT CMainWindow::OnFileFlagClicked(UINT, WPARAM, LPARAM) {
    workspace.OnFileFlagClicked();
    return 0;
}

LRESULT CMainWindow::OnProgramPathChange(UINT, WPARAM, LPARAM) {
    workspace.OnProgramPathChange();
    return 0;
}

LRESULT CMainWindow::OnTargetFolderChange(UINT, WPARAM, LPARAM) {
    workspace.OnTargetFolderChange();
    return 0;
}

LRESULT CMainWindow::OnShortcutLabelChange(UINT, WPARAM, LPARAM) {
    workspace.OnShortcutLabelChange();
    return 0;
}

LRESULT CMainWindow::OnProgramNameChange(UINT, WPARAM, LPARAM) {
    workspace.OnProgramNameChange();
    return 0;
}

HWND CMainWindow::TextControl(TextField field) const {
    switch (field) {
    case TextField::WorkspacePath:
        return workspacePathEdit;
    case TextField::FolderOnDevice:
        return folderOnDeviceLabel;
    case TextField::ProgramPath:
        return programPathEdit;
    case TextField::ProgramName:
        return programNameEdit;
    case TextField::ShortcutLabel:
        return shortcutLabelEdit;
    case TextField::SelectedFile:
        return selectedFileLabel;
    }
    return nullptr;
}

HWND CMainWindow::FlagControl(FlagBox box) const {
    switch (box) {
    case FlagBox::Shortcut:
        return shortcutCheck;
    case FlagBox::Eula:
        return eulaCheck;
    case FlagBox::Arm:
        return armCheck;
    case FlagBox::Mips:
        return mipsCheck;
    case FlagBox::Shx:
        return shxCheck;
    case FlagBox::Intel:
        return intelCheck;
    }
    return nullptr;
}

std::string CMainWindow::GetText(TextField field) {
    char text[kTextBuffer] = {};
    GetWindowTextA(TextControl(field), text, kTextBuffer);
    return text;
}

void CMainWindow::SetText(TextField field, const std::string& text) {
    SetWindowTextA(TextControl(field), text.c_str());
}

void CMainWindow::EnableShortcutLabel(bool enabled) { EnableWindow(shortcutLabelEdit, enabled ? TRUE : FALSE); }

bool CMainWindow::IsChecked(FlagBox box) { return SendMessageA(FlagControl(box), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void CMainWindow::SetChecked(FlagBox box, bool checked) {
    SendMessageA(FlagControl(box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int CMainWindow::SelectedRow() {
    auto row = SendMessageA(fileList, LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? -1 : static_cast<int>(row);
}

std::string CMainWindow::RowText(int row) { return ItemText(fileList, LB_GETTEXTLEN, LB_GETTEXT, row); }

void CMainWindow::AddRow(const std::string& text) {
    SendMessageA(fileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int CMainWindow::RowCount() {
    auto count = SendMessageA(fileList, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

void CMainWindow::RemoveRow(int row) { SendMessageA(fileList, LB_DELETESTRING, static_cast<WPARAM>(row), 0); }

void CMainWindow::RemoveAllRows() { SendMessageA(fileList, LB_RESETCONTENT, 0, 0); }

void CMainWindow::SelectRow(int row) { SendMessageA(fileList, LB_SETCURSEL, static_cast<WPARAM>(row), 0); }

// Without this the list updates its scroll bar, and under Wine paints it, for every row added.
void CMainWindow::SuspendListDrawing() { SendMessageA(fileList, WM_SETREDRAW, FALSE, 0); }

void CMainWindow::ResumeListDrawing() {
    SendMessageA(fileList, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(fileList, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

int CMainWindow::TargetFolderIndex() {
    auto index = SendMessageA(targetFolderCombo, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

std::string CMainWindow::TargetFolderText() {
    int index = TargetFolderIndex();
    if (index < 0) {
        return {};
    }
    return ItemText(targetFolderCombo, CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

// CB_SETCURSEL sends no selection-change notification, so no handler runs from here.
void CMainWindow::SelectTargetFolder(int index) {
    SendMessageA(targetFolderCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CMainWindow::SetStatusText(const std::string& text) {
    SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::u16string CMainWindow::ChooseFolder(const std::string& title, unsigned flags) {
    std::u16string wideTitle = platform::FromAnsi(title);
    return RunFolderBrowser(reinterpret_cast<const wchar_t*>(wideTitle.c_str()), flags);
}

bool CMainWindow::ChooseFile(const workspace::FileChooserRequest& request, std::string& path) {
    path = ui::ChooseFile([this](OPENFILENAMEA& chooser, bool save) { return RunFileChooser(chooser, save); },
                          GetActiveWindow(), request.filter.c_str(), request.flags, request.save);
    return !path.empty();
}

void CMainWindow::ShowMessage(const std::string& text, const std::string& caption) {
    RunMessageBox(text.c_str(), caption.c_str(), MB_OK);
}

} // namespace ui
