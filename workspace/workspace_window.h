// The main window as the workspace code sees it: its controls by role, its file list, status text,
// and the choosers and message box it opens. The Win32 main window implements it with its real
// controls; tests implement it with a fake. All texts are in the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

namespace workspace {

enum class TextField {
    WorkspacePath,  // read-only edit showing the source folder
    FolderOnDevice, // label
    ProgramPath,    // edit; setting its text runs OnProgramPathChange
    ProgramName,    // edit; setting its text runs OnProgramNameChange
    ShortcutLabel,  // edit; setting its text runs OnShortcutLabelChange
    SelectedFile,   // label naming the file shown in File Properties
};

// The six File Properties check boxes, with the flag bit each one stands for.
enum class FlagBox { Shortcut, Eula, Arm, Mips, Shx, Intel };

// The most characters of a field's text that count when it is read.
inline constexpr std::size_t kFieldTextLimit = 254;

// One file chooser as the platform's open/save dialog takes it.
struct FileChooserRequest {
    bool save = false;
    // Description and pattern pairs, each part ended by a NUL, the whole list by a second NUL.
    std::string filter;
    unsigned flags = 0;
};

class WorkspaceWindow {
public:
    virtual ~WorkspaceWindow() = default;

    // At most 254 characters count, as the window reads into a 255-character buffer. Setting an
    // edit field's text runs that field's change handler at once, before this call returns, even
    // when the text does not change.
    virtual std::string GetText(TextField field) = 0;
    virtual void SetText(TextField field, const std::string& text) = 0;
    virtual void EnableShortcutLabel(bool enabled) = 0;

    virtual bool IsChecked(FlagBox box) = 0;
    virtual void SetChecked(FlagBox box, bool checked) = 0;

    // The file list; -1 when no row is selected.
    virtual int SelectedRow() = 0;
    virtual std::string RowText(int row) = 0;
    virtual void AddRow(const std::string& text) = 0;
    virtual int RowCount() = 0;
    virtual void RemoveRow(int row) = 0;
    virtual void RemoveAllRows() = 0;
    virtual void SelectRow(int row) = 0;
    // While thousands of rows come and go, the list is not drawn after each; drawing again shows
    // the rows it holds then. The rows themselves are there at once either way.
    virtual void SuspendListDrawing() = 0;
    virtual void ResumeListDrawing() = 0;

    // The Target Folder list's selected index and that entry's text (-1 and empty without one).
    // Selecting an entry from here runs no change handler.
    virtual int TargetFolderIndex() = 0;
    virtual std::string TargetFolderText() = 0;
    virtual void SelectTargetFolder(int index) = 0;

    virtual void SetStatusText(const std::string& text) = 0;

    // The folder browser: the chosen folder's full path in UTF-16, empty when cancelled.
    virtual std::u16string ChooseFolder(const std::string& title, unsigned flags) = 0;
    // An open or save file chooser; true and the chosen path when the user accepts.
    virtual bool ChooseFile(const FileChooserRequest& request, std::string& path) = 0;
    // A message box with an OK button, owned by the main window.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

} // namespace workspace
