// The main window: the modeless dialog that shows the workspace, routes every command through its
// message map and closes the program with exit code 0, 1 or 2.
#pragma once

#include "ui/app_module.h"
#include "ui/handles.h"
#include "ui/message_map.h"
#include "ui/window.h"

#include <array>
#include <string>
#include <vector>

namespace ui {

inline constexpr const wchar_t* kMainWindowTitle = L"Tarvelo Installer";
inline constexpr const wchar_t* kDialogClassName = L"#32770";

class CMainWindow : public CDialogBase, public CMessageFilter, public CIdleHandler {
public:
    CMainWindow();
    ~CMainWindow() override;

    bool FilterMessage(MSG& message) override;
    bool DoIdleWork() override { return false; }

    std::string buildCommand;

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

    std::vector<std::string> infLines;
    HWND statusBar = nullptr;

    // The handlers the message map calls. Those owned by other parts of the program are filled in
    // there; until then they do nothing and answer 0.
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

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Close(int exitCode);

    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
};

} // namespace ui
