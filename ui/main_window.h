// The main window: the modeless dialog that shows the workspace, routes every command through its
// message map and closes the program with exit code 0, 1 or 2.
#pragma once

#include "frame/app_module.h"
#include "frame/handles.h"
#include "frame/message_map.h"
#include "frame/window.h"
#include "package/package.h"
#include "ui/installer_settings.h"
#include "workspace/editor.h"
#include "workspace/workspace_window.h"

#include <commdlg.h>

#include <array>
#include <string>
#include <vector>

namespace ui {

inline constexpr const wchar_t* kMainWindowTitle = L"Tarvelo Installer";
inline constexpr const wchar_t* kDialogClassName = L"#32770";

class CMainWindow : public CDialogBase, public CMessageFilter, public CIdleHandler, public workspace::WorkspaceWindow {
public:
    CMainWindow();
    ~CMainWindow() override;

    bool FilterMessage(MSG& message) override;
    bool DoIdleWork() override { return false; }

    // The one package object of the run: the workspace the window edits and the builds write.
    Package package;
    // The installer settings the Installer Properties dialog edits and the builds use.
    InstallerSettings settings;
    // Editing, gathering and the workspace file, working on `package` through this window.
    workspace::WorkspaceEditor workspace;

    HWND fileList = nullptr;
    HWND selectedFileLabel = nullptr;
    HWND shortcutCheck = nullptr;
    HWND eulaCheck = nullptr;
    HWND armCheck = nullptr;
    HWND mipsCheck = nullptr;
    HWND shxCheck = nullptr;
    HWND intelCheck = nullptr;
    HWND programNameEdit = nullptr;
    HWND programPathEdit = nullptr;
    HWND shortcutLabelEdit = nullptr;
    HWND folderOnDeviceLabel = nullptr;
    HWND workspacePathEdit = nullptr;
    HWND targetFolderCombo = nullptr;

    // The CAB wizard's opening lines the hidden "Create Cabwiz ini File" button composes. Nothing
    // reads them back: the command keeps them in memory, as it always has, and writes no file
    // (tarvelo-build inf writes whole INF files); the tests read them here.
    std::vector<std::string> infLines;
    HWND statusBar = nullptr;

    // The handlers the message map calls, one per command or notification; each forwards to the
    // part of the program that owns the operation (the workspace editor, the build commands, the
    // dialogs) and answers 0.
    virtual LRESULT OnInitMainWindow(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCloseCommand(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnExit(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnAbout(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSaveWorkspace(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnOpenWorkspace(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCreateDatFile(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCreateInstaller(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnAddFiles(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNewWorkspace(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnHelpIndex(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnDropFiles(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnFileListSelChange(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnFileFlagClicked(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnProgramPathChange(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnTargetFolderChange(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnInstallerProperties(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnShortcutLabelChange(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnProgramNameChange(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCreateCabwizInf(UINT message, WPARAM wParam, LPARAM lParam);

    static const std::array<MessageMapRow<CMainWindow>, 28> messageMap;

    // The window's ways out to the user and the system, each in one place so that tests can answer
    // them without a modal loop. The defaults call the platform.
    // GetSaveFileNameA (save) or GetOpenFileNameA; the caller fills the request, owner included.
    virtual BOOL RunFileChooser(OPENFILENAMEA& request, bool save);
    // MessageBoxA owned by the main window.
    virtual int RunMessageBox(const char* text, const char* caption, UINT type);
    // The shell's folder browser with no owner; the chosen folder's path, empty when cancelled.
    virtual std::u16string RunFolderBrowser(const wchar_t* title, UINT flags);
    // Shows `dialog` modally, owned by the active window; answers its end code.
    virtual INT_PTR RunModalDialog(CDialogBase& dialog);

    // The window as the workspace sees it, on the real controls.
    std::string GetText(workspace::TextField field) override;
    void SetText(workspace::TextField field, const std::string& text) override;
    void EnableShortcutLabel(bool enabled) override;
    bool IsChecked(workspace::FlagBox box) override;
    void SetChecked(workspace::FlagBox box, bool checked) override;
    int SelectedRow() override;
    std::string RowText(int row) override;
    void AddRow(const std::string& text) override;
    int RowCount() override;
    void RemoveRow(int row) override;
    void RemoveAllRows() override;
    void SelectRow(int row) override;
    void SuspendListDrawing() override;
    void ResumeListDrawing() override;
    int TargetFolderIndex() override;
    std::string TargetFolderText() override;
    void SelectTargetFolder(int index) override;
    void SetStatusText(const std::string& text) override;
    std::u16string ChooseFolder(const std::string& title, unsigned flags) override;
    bool ChooseFile(const workspace::FileChooserRequest& request, std::string& path) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Close(int exitCode);
    HWND TextControl(workspace::TextField field) const;
    HWND FlagControl(workspace::FlagBox box) const;

    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
};

} // namespace ui
