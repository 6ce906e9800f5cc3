// The Installer Properties dialog: edits the sidebar picture and the build command (and keeps the
// hidden icon, title and shortcut name fields) and stores them only when the user presses OK.
#pragma once

#include "frame/handles.h"
#include "frame/message_map.h"
#include "frame/window.h"
#include "ui/installer_settings.h"

#include <commdlg.h>

#include <array>
#include <string>

namespace ui {

// The refusal of a sidebar picture that is not 128 by 280 pixels or not a bitmap at all.
inline constexpr const char* kWrongBitmapSizeMessage =
    "The bitmap you provided for your installer is not the\n correct size. It must be 128 pixels wide and 280 "
    "pixels tall. \nThe installer will use the default bitmap";

// What each field's help box says while the field has the focus.
inline constexpr const char* kImagePathHelp =
    "INSTALLER IMAGE FILE: The image that acts as a sidebar in the installer application, should be 128x280";
inline constexpr const char* kShortcutNameHelp =
    "SHORTCUT NAME: The text that will become the shortcut on the devices start menu";
inline constexpr const char* kIconPathHelp = "INSTALLER ICON FILE: The Icon for your installer application";
inline constexpr const char* kInstallerTitleHelp =
    "INSTALLER TITLE:  The title that will appear in the titlebar of the installer.";
inline constexpr const char* kBuildCommandHelp = "BUILD COMMAND:  Command line executed after the installer file is "
                                                 "created. <filename> will be replaced with the installers filename.";

class CInstallerPropertiesDialog : public CDialogBase {
public:
    CInstallerPropertiesDialog();

    // The settings the next opening edits: the main window's, which it attaches each time.
    void Attach(InstallerSettings& settings);

    HWND imagePathEdit = nullptr;
    HWND helpBox = nullptr;
    HWND iconPathEdit = nullptr;
    HWND titleEdit = nullptr;
    HWND shortcutNameEdit = nullptr;
    HWND buildCommandEdit = nullptr;
    HWND imageButton = nullptr;
    HWND preview = nullptr;

    LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnOK(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCancel(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnChooseImage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnFieldFocus(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnChooseIcon(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(UINT message, WPARAM wParam, LPARAM lParam);

    static const std::array<MessageMapRow<CInstallerPropertiesDialog>, 11> messageMap;

    // The dialog's ways out to the user, overridable so that tests answer them. The defaults call
    // GetSaveFileNameA (save) or GetOpenFileNameA, and MessageBoxA owned by this dialog.
    virtual BOOL RunFileChooser(OPENFILENAMEA& request, bool save);
    virtual int RunMessageBox(const char* text, const char* caption, UINT type);

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // The file picked through RunFileChooser for `filter`; empty when the user cancelled.
    std::string ChooseFile(const char* filter, bool save);
    void ShowPreview(UniqueBitmap bitmap);
    void FitPreviewToPicture();

    // Settings of its own until the opener attaches the program's.
    InstallerSettings unattached_;
    InstallerSettings* settings_ = &unattached_;
    // The picture the preview shows; the control does not own it.
    UniqueBitmap previewBitmap_;
};

// The one Installer Properties dialog of the program.
extern CInstallerPropertiesDialog installerPropertiesDialog;

// Loads a .bmp file at its own size; null when it is not a bitmap the platform can load.
UniqueBitmap LoadBitmapFile(const char* path);

// Whether a loaded bitmap is 128 by 280 pixels, the size of the installer's sidebar.
bool HasSidebarSize(HBITMAP bitmap);

} // namespace ui
