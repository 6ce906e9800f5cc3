// The workspace as the main window edits it. The workspace is the package object: its entries are
// the file list (row i is entry i) and its header holds the workspace-wide fields. Every control
// writes into the package the moment its value changes; there is no apply step and no undo.
//
// The editor reaches the window only through WorkspaceWindow. Setting an edit field's text runs
// that field's change handler at once, nested inside the step that set it; several results below
// (the ".lnk" stored for a file without a shortcut, the program path reduced to its last
// component) follow from that and are what users of the program know.
#pragma once

#include "package/package.h"
#include "workspace/workspace_window.h"

#include <cstdint>
#include <string>
#include <vector>

namespace workspace {

// A file added to the workspace is installed for all four processor families.
inline constexpr std::uint32_t kNewFileFlags = FLAG_ALL_PLATFORMS;

inline constexpr const char* kAddFilesTitle = "Select a Folder To Import...";
inline constexpr unsigned kAddFilesBrowserFlags = 0x41; // file-system folders only, new dialog style

class WorkspaceEditor {
public:
    // `imagePath` and `buildCommand` are the installer settings kept outside the package; they go
    // into the header only when a workspace is saved, and come out of it when one is opened.
    WorkspaceEditor(Package& package, WorkspaceWindow& window, std::string& imagePath, std::string& buildCommand);

    // Editing.
    void RefreshWorkspaceFields();
    // The refresh a walk makes after every name: the same fields end the same way, but a field is
    // set only when what it shows changes (or when setting it runs a handler that changes
    // something), and the package's total size is left to the refresh after the walk. Answers
    // whether it set any field.
    bool RefreshChangedFields();
    void ShowFileProperties(const std::string& name, std::uint32_t flags, const std::string& shortcutName);
    void OnFileListSelChange();
    void OnFileFlagClicked();
    void OnShortcutLabelChange();
    void OnProgramNameChange();
    void OnProgramPathChange();
    void OnTargetFolderChange();
    void OnNewWorkspace();
    void UpdateTotalsLine();

    // Gathering. `droppedPaths` are the dropped items in the platform's order.
    void OnDropFiles(const std::vector<std::string>& droppedPaths);
    void OnAddFiles();
    std::u16string ChooseFolder(const std::string& title, unsigned flags);

    // The workspace file.
    void OnSaveWorkspace();
    void OnOpenWorkspace();
    void AddRowForEntry(const PackageEntry& entry);

    // The folder being gathered (ending in a backslash) and the subfolder walked now, relative to
    // it (empty, or ending in a backslash). Between walks the subfolder is empty again.
    std::string gatherRoot;
    std::string gatherSubfolder;

private:
    // `cut` is the length of the source folder in the code page, the same for every row.
    void AddRowForEntry(const PackageEntry& entry, std::size_t cut);
    // Adds every file below `root`: gatherRoot in UTF-16, as exactly as the command was given it.
    void GatherBelow(std::u16string_view root);
    // Whether the field's text holds a control character and is refused: the field is set back to
    // `kept` and the window says why. Setting it back runs the field's handler again inside this
    // one; should the control hold the kept text otherwise than given, that call refuses quietly.
    bool RefusedControlCharacter(TextField field, const std::string& text, const std::string& kept,
                                 const std::string& what);

    Package& package_;
    WorkspaceWindow& window_;
    std::string& imagePath_;
    std::string& buildCommand_;
    bool settingBack_ = false;
};

} // namespace workspace
