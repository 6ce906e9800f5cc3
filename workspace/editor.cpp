// Editing the workspace from the main window, gathering files into it, and the workspace file.
#include "workspace/editor.h"

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/names.h"
#include "platform/text.h"
#include "workspace/gather.h"
#include "workspace/paths.h"
#include "workspace/target_folder.h"
#include "workspace/workspace_file.h"

#include <algorithm>

namespace workspace {
namespace {

// Description and pattern pairs, the list ended by a second NUL.
constexpr char kSaveFilterText[] = "ORB Workspace Files (*.ORB)\0*.orb\0All Files (*.*)\0*.*\0\0";
constexpr char kOpenFilterText[] = "Tarvelo Installer Workspace (*.orb)\0*.orb\0All Files (*.*)\0*.*\0\0";
const std::string kSaveFilter(kSaveFilterText, sizeof kSaveFilterText - 1);
const std::string kOpenFilter(kOpenFilterText, sizeof kOpenFilterText - 1);
constexpr unsigned kSaveChooserFlags = 0x1800; // the folder and the file must exist
constexpr unsigned kOpenChooserFlags = 0x1808; // the same, and the current directory is left alone

constexpr const char* kSaveFailed =
    "Failed when trying to open/create the workspace file, perhapse it is in use by another process";

constexpr const char* kErrorCaption = "Error";

std::string Ansi(std::u16string_view text) { return platform::ToAnsi(text); }
std::u16string Wide(std::string_view text) { return platform::FromAnsi(text); }

// Why a workspace file did not open. The reader says why it refused a file; one it could not open
// at all leaves no message, and the path itself tells the likely cause.
std::string OpenFailureText(const std::string& path, std::u16string_view widePath, std::u16string_view refusal) {
    std::string cause;
    if (!refusal.empty()) {
        cause = "It is not a workspace file: " + Ansi(refusal) + ".";
    } else {
        switch (platform::Examine(widePath)) {
        case platform::PathKind::Missing:
            cause = "The file does not exist.";
            break;
        case platform::PathKind::Folder:
            cause = "It is a folder, not a file.";
            break;
        default:
            cause = "The file cannot be read (is it in use by another process?).";
            break;
        }
    }
    return "The workspace file \"" + path + "\" could not be opened.\n" + cause;
}

std::string LastComponent(const std::string& text) { return LastPathComponent<char>(text); }

// The label a stored shortcut file name is shown as: less its three-letter extension.
std::string ShownLabel(std::string name) {
    if (HasThreeLetterExtension<char>(name)) {
        name.resize(name.size() - 4);
    }
    return name;
}

// Paths come from the platform with backslashes on Windows; on other hosts the same rules (row
// texts, parent folders) then hold for paths that came in with slashes.
std::string WithBackslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The window's side of the walk the command line shares: rows and the message in the code page, the
// workspace fields refreshed after every name listed, and gatherSubfolder kept where the walk is.
// Only a file that cannot be added is worth a message; a folder left out (unreadable, or reached
// again through a link) is passed over in silence.
class WindowGatherSink : public GatherSink {
public:
    WindowGatherSink(WorkspaceEditor& editor, WorkspaceWindow& window) : editor_(editor), window_(window) {}

    void FileAdded(std::u16string_view row) override { window_.AddRow(Ansi(row)); }
    void FileRefused(std::u16string_view row, std::u16string_view, std::string_view) override {
        // The message stands over the window as the walk has left it so far, rows included.
        window_.ResumeListDrawing();
        // Whatever the cause (a path longer than an entry holds, too), the message is the one users know.
        window_.ShowMessage("There was an Error Adding the files. \n Trying to add file \"" + editor_.gatherRoot +
                                Ansi(row) + "\" \nbecause it could not be found",
                            kErrorCaption);
        window_.SuspendListDrawing();
        settled_ = false;
    }
    void FolderRefused(std::u16string_view, std::string_view) override {}
    // Only dropped items that never reach the walk come here, and the window adds those itself.
    void Refused(std::u16string_view, std::string_view) override {}
    void InFolder(std::u16string_view subfolder) override { editor_.gatherSubfolder = Ansi(subfolder); }
    // While the walk runs, only its own refreshes change the fields: the window takes no messages
    // (and is disabled under a message box). So once a refresh finds every field as it should be,
    // so would every later one until the walk ends.
    void ItemDone() override {
        if (!settled_) {
            settled_ = !editor_.RefreshChangedFields();
        }
    }

private:
    WorkspaceEditor& editor_;
    WorkspaceWindow& window_;
    bool settled_ = false;
};

struct FlagBit {
    FlagBox box;
    std::uint32_t bit;
};
// In the order ShowFileProperties sets the boxes.
constexpr FlagBit kFlagBits[] = {
    {FlagBox::Shortcut, FLAG_SHORTCUT}, {FlagBox::Eula, FLAG_EULA}, {FlagBox::Arm, FLAG_ARM},
    {FlagBox::Mips, FLAG_MIPS},         {FlagBox::Shx, FLAG_SHX},   {FlagBox::Intel, FLAG_INTEL},
};

} // namespace

WorkspaceEditor::WorkspaceEditor(Package& package, WorkspaceWindow& window, std::string& imagePath,
                                 std::string& buildCommand)
    : package_(package), window_(window), imagePath_(imagePath), buildCommand_(buildCommand) {}

void WorkspaceEditor::RefreshWorkspaceFields() {
    const PackageHeader& header = package_.GetHeader();
    window_.SetText(TextField::WorkspacePath, Ansi(FieldText(header.sourceFolder)));
    std::string installFolder = Ansi(FieldText(header.installFolder));
    window_.SetText(TextField::FolderOnDevice, installFolder);
    window_.SetText(TextField::ProgramPath, LastComponent(installFolder));
    package_.ComputeTotalSize();
    window_.SetText(TextField::ProgramName, Ansi(FieldText(package_.GetHeader().programName)));
}

bool WorkspaceEditor::RefreshChangedFields() {
    // A field read back at its full length may hold more than was read, so only a shorter text
    // tells for sure that the field shows `text`.
    auto shows = [&](TextField field, const std::string& text) {
        std::string shown = window_.GetText(field);
        return shown.size() < kFieldTextLimit && shown == text;
    };
    bool changed = false;
    auto show = [&](TextField field, const std::string& text) {
        if (!shows(field, text)) {
            window_.SetText(field, text);
            changed = true;
        }
    };
    const PackageHeader& header = package_.GetHeader();
    show(TextField::WorkspacePath, Ansi(FieldText(header.sourceFolder)));
    std::string installFolder = Ansi(FieldText(header.installFolder));
    show(TextField::FolderOnDevice, installFolder);
    // Setting the program path runs its handler whatever the text; the handler changes something
    // only when the field's text is not the stored folder.
    std::string path = LastComponent(installFolder);
    if (!shows(TextField::ProgramPath, path) || path != installFolder) {
        window_.SetText(TextField::ProgramPath, path);
        changed = true;
    }
    show(TextField::ProgramName, Ansi(FieldText(package_.GetHeader().programName)));
    return changed;
}

// A name typed or pasted with a control character in it is refused where it is committed, with a
// word, and the field shows what it held before. Setting it back runs the handler again, which
// finds the kept text no new text and stores as it always does.
bool WorkspaceEditor::RefusedControlCharacter(TextField field, const std::string& text, const std::string& kept,
                                              const std::string& what) {
    if (text == kept.substr(0, kFieldTextLimit) || !platform::HasControlCharacter(Wide(text))) {
        return false;
    }
    if (settingBack_) {
        return true;
    }
    settingBack_ = true;
    window_.SetText(field, kept);
    settingBack_ = false;
    window_.ShowMessage("The " + what +
                            " cannot hold a control character (a line break or a tab, for example): the CAB "
                            "wizard and the device read it from text files, line by line.\nThe previous text is kept.",
                        kErrorCaption);
    return true;
}

void WorkspaceEditor::ShowFileProperties(const std::string& name, std::uint32_t flags,
                                         const std::string& shortcutName) {
    window_.SetText(TextField::SelectedFile, name);
    for (const FlagBit& flag : kFlagBits) {
        window_.SetChecked(flag.box, (flags & flag.bit) != 0);
    }
    if (flags & FLAG_SHORTCUT) {
        window_.EnableShortcutLabel(true);
        window_.SetText(TextField::ShortcutLabel, ShownLabel(shortcutName));
    } else {
        window_.SetText(TextField::ShortcutLabel, "");
        window_.EnableShortcutLabel(false);
    }
}

void WorkspaceEditor::OnFileListSelChange() {
    int row = window_.SelectedRow();
    std::string text = row >= 0 ? window_.RowText(row) : std::string();
    PackageEntry entry;
    if (row >= 0 && package_.GetEntry(static_cast<std::uint32_t>(row), &entry)) {
        ShowFileProperties(LastComponent(text), entry.flags, Ansi(FieldText(entry.shortcutName)));
    }
}

void WorkspaceEditor::OnFileFlagClicked() {
    int row = window_.SelectedRow();
    if (row < 0) {
        return;
    }
    window_.EnableShortcutLabel(window_.IsChecked(FlagBox::Shortcut));
    std::uint32_t value = 0;
    for (const FlagBit& flag : kFlagBits) {
        if (window_.IsChecked(flag.box)) {
            value |= flag.bit;
        }
    }
    package_.SetEntryFlags(static_cast<std::uint32_t>(row), value);
}

void WorkspaceEditor::OnShortcutLabelChange() {
    int row = window_.SelectedRow();
    if (row < 0) {
        return;
    }
    std::string label = window_.GetText(TextField::ShortcutLabel);
    PackageEntry entry;
    std::string stored =
        package_.GetEntry(static_cast<std::uint32_t>(row), &entry) ? Ansi(FieldText(entry.shortcutName)) : "";
    if (RefusedControlCharacter(TextField::ShortcutLabel, label, ShownLabel(stored), "shortcut's label")) {
        return;
    }
    std::u16string name = Wide(ShortcutFileName<char>(label));
    package_.SetShortcutName(static_cast<std::uint32_t>(row), name.c_str());
}

void WorkspaceEditor::OnProgramNameChange() {
    std::string text = window_.GetText(TextField::ProgramName);
    char16_t stored[kTextUnits] = {};
    package_.GetProgramName(stored);
    // An opened file may fill the field without a terminator; the name ends with the field.
    std::u16string_view name(stored, static_cast<std::size_t>(std::find(stored, stored + kTextUnits, u'\0') - stored));
    if (RefusedControlCharacter(TextField::ProgramName, text, Ansi(name), "program name")) {
        return;
    }
    if (text != Ansi(name)) {
        package_.SetProgramName(Wide(text).c_str());
    }
}

void WorkspaceEditor::OnProgramPathChange() {
    std::string current = Ansi(FieldText(package_.GetHeader().installFolder));
    std::string base = window_.TargetFolderText();
    std::string text = window_.GetText(TextField::ProgramPath);
    if (RefusedControlCharacter(TextField::ProgramPath, text, LastComponent(current), "program's folder")) {
        return;
    }
    if (text != current) {
        package_.SetInstallFolder(Wide(text).c_str());
        window_.SetText(TextField::FolderOnDevice, base + '\\' + text);
    }
}

void WorkspaceEditor::OnTargetFolderChange() {
    std::string path = window_.GetText(TextField::ProgramPath);
    int index = window_.TargetFolderIndex();
    std::string name = window_.TargetFolderText();
    // The list always has a choice once the window is up; without one the stored code stays.
    if (index >= 0 && static_cast<std::size_t>(index) < kTargetFolderChoices.size()) {
        package_.SetTargetFolder(kTargetFolderChoices[static_cast<std::size_t>(index)].code);
    }
    package_.SetInstallFolder(Wide(name + '\\' + path).c_str());
    RefreshWorkspaceFields();
}

void WorkspaceEditor::OnNewWorkspace() {
    package_.Clear();
    window_.RemoveAllRows();
    RefreshWorkspaceFields();
    OnTargetFolderChange();
}

void WorkspaceEditor::UpdateTotalsLine() {
    std::string line = " ";
    line += std::to_string(package_.GetCount());
    line += " files - ";
    line += std::to_string(package_.ComputeTotalSize() / 1024);
    line += " Kb";
    window_.SetStatusText(line);
}

void WorkspaceEditor::OnDropFiles(const std::vector<std::string>& droppedPaths) {
    package_.Clear();
    window_.SuspendListDrawing();
    window_.RemoveAllRows();
    for (const std::string& dropped : droppedPaths) {
        std::string path = WithBackslashes(dropped);
        // As with the platform's attribute test, a path that cannot be examined counts as a folder;
        // walking it then finds nothing.
        if (platform::IsFolderOrUnknown(Wide(path))) {
            gatherRoot = path + '\\';
            gatherSubfolder.clear();
            GatherBelow(Wide(gatherRoot));
            package_.SetSourceFolder(Wide(gatherRoot).c_str());
        } else {
            bool added = package_.AddFile(platform::NativePath(Wide(path)).c_str(), kNewFileFlags);
            package_.SetSourceFolder(Wide(ParentPath<char>(path)).c_str());
            if (added) {
                window_.AddRow(LastComponent(path));
            }
        }
        UpdateTotalsLine();
    }
    window_.ResumeListDrawing();
    window_.SelectRow(0);
    std::string name = LastComponent(window_.RowCount() > 0 ? window_.RowText(0) : std::string());
    PackageEntry entry;
    if (package_.GetEntry(0, &entry)) {
        ShowFileProperties(name, entry.flags, Ansi(FieldText(entry.shortcutName)));
    }
    RefreshWorkspaceFields();
    OnTargetFolderChange();
}

std::u16string WorkspaceEditor::ChooseFolder(const std::string& title, unsigned flags) {
    return window_.ChooseFolder(title, flags);
}

void WorkspaceEditor::OnAddFiles() {
    std::u16string chosen = ChooseFolder(kAddFilesTitle, kAddFilesBrowserFlags);
    std::string folder = WithBackslashes(Ansi(chosen));
    if (folder.empty()) {
        return;
    }
    window_.SuspendListDrawing();
    // The start-up hint row belongs to no entry; it goes, so that row i stays entry i.
    while (window_.RowCount() > static_cast<int>(package_.GetCount())) {
        window_.RemoveRow(0);
    }
    gatherRoot = folder + '\\';
    GatherBelow(StoredPath(chosen) + u'\\');
    window_.ResumeListDrawing();
    // The folder exactly as the browser gave it, without the detour through the code page.
    package_.SetSourceFolder(StoredPath(chosen).c_str());
    RefreshWorkspaceFields();
}

void WorkspaceEditor::GatherBelow(std::u16string_view root) {
    WindowGatherSink sink(*this, window_);
    WalkBelow(package_, root, sink);
}

void WorkspaceEditor::OnSaveWorkspace() {
    std::string path;
    if (!window_.ChooseFile({true, kSaveFilter, kSaveChooserFlags}, path)) {
        return;
    }
    path = WithExtension<char>(path, ".orb");
    std::string reason;
    if (!SaveWorkspace(package_, Wide(path).c_str(), Wide(imagePath_), Wide(buildCommand_), &reason)) {
        window_.ShowMessage(reason.empty() ? kSaveFailed : std::string(kSaveFailed) + " (" + reason + ")", "");
    }
}

void WorkspaceEditor::OnOpenWorkspace() {
    std::string path;
    if (!window_.ChooseFile({false, kOpenFilter, kOpenChooserFlags}, path)) {
        return;
    }
    path = WithExtension<char>(path, ".orb");
    // Read into a package of its own: the reader empties the package it reads into when it refuses
    // a file, and the settings below would come from whatever header that left. A file of no
    // entries is no failure here; it opens as its header.
    std::u16string widePath = Wide(path);
    Package read;
    if (!read.Open(widePath.c_str(), 0) && !read.OpenedEmpty()) {
        window_.ShowMessage(OpenFailureText(path, widePath, read.LastError()), kErrorCaption);
        return;
    }
    package_.TakeContents(read);
    RefreshWorkspaceFields();
    window_.SuspendListDrawing();
    window_.RemoveAllRows();
    const std::size_t cut = Ansi(FieldText(package_.GetHeader().sourceFolder)).size();
    for (std::uint32_t i = 0; i < package_.GetCount(); ++i) {
        PackageEntry entry;
        if (package_.GetEntry(i, &entry)) {
            AddRowForEntry(entry, cut);
        }
    }
    window_.ResumeListDrawing();
    const PackageHeader& header = package_.GetHeader();
    imagePath_ = Ansi(FieldText(header.imageFile));
    buildCommand_ = Ansi(FieldText(header.buildCommand));
    // The stored choice is shown again, so that it survives the change handler below and the next
    // build installs where the workspace says.
    const std::int32_t code = header.targetFolder;
    const int choice = TargetFolderIndex(code);
    if (choice >= 0) {
        window_.SelectTargetFolder(choice);
    }
    OnTargetFolderChange();
    if (choice >= 0) {
        UpdateTotalsLine();
    } else {
        window_.SetStatusText(" The workspace's target folder (code " + std::to_string(code) + ") is unknown; " +
                              window_.TargetFolderText() + " is kept");
    }
}

void WorkspaceEditor::AddRowForEntry(const PackageEntry& entry) {
    AddRowForEntry(entry, Ansi(FieldText(package_.GetHeader().sourceFolder)).size());
}

void WorkspaceEditor::AddRowForEntry(const PackageEntry& entry, std::size_t cut) {
    std::string name = Ansi(FieldText(entry.filename));
    // The row drops as many characters as the source folder has; an entry shorter than that (one
    // gathered from another folder) shows its whole path.
    window_.AddRow(name.size() < cut ? name : name.substr(cut));
}

} // namespace workspace
