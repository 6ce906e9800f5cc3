// The workspace editor against a fake main window. The fake behaves as the real window does where
// it matters: setting an edit field's text runs that field's handler at once, nested, even when the
// text does not change; texts are read back cut to 254 characters; the list keeps rows in the order
// they were added.
#include "platform/text.h"
#include "tests/test_support.h"
#include "workspace/editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

using namespace testing_support;

namespace {

using workspace::FileChooserRequest;
using workspace::FlagBox;
using workspace::TextField;

const std::vector<std::string> kTargetNames{"CSIDL_PERSONAL", "CSIDL_PROGRAM_FILES", "CSIDL_PROGRAMS", "CSIDL_ROOT"};
const std::string kHint = "Drag and Drop the folder containing your applications files onto this window.";

class FakeWindow : public workspace::WorkspaceWindow {
public:
    workspace::WorkspaceEditor* editor = nullptr;
    std::map<TextField, std::string> texts;
    std::map<FlagBox, bool> checks;
    bool labelEnabled = true;
    std::vector<std::string> rows;
    int selected = -1;
    int target = 0;
    std::string status = " 0 files - 0 Kb";
    int statusWrites = 0;
    std::vector<std::string> calls; // the change handlers the fields ran, in order

    std::u16string folderAnswer;
    std::vector<std::pair<std::string, unsigned>> folderRequests;
    std::optional<std::string> fileAnswer;
    std::vector<FileChooserRequest> fileRequests;
    std::vector<std::pair<std::string, std::string>> messages;
    bool listHeld = false;                // drawing suspended and not yet resumed
    std::vector<bool> listHeldAtMessages; // whether the list was held under each message

    std::string GetText(TextField field) override { return texts[field].substr(0, 254); }
    void SetText(TextField field, const std::string& text) override {
        texts[field] = text;
        switch (field) {
        case TextField::ProgramPath:
            calls.push_back("ProgramPath");
            editor->OnProgramPathChange();
            break;
        case TextField::ProgramName:
            calls.push_back("ProgramName");
            editor->OnProgramNameChange();
            break;
        case TextField::ShortcutLabel:
            calls.push_back("ShortcutLabel");
            editor->OnShortcutLabelChange();
            break;
        default:
            break;
        }
    }
    void EnableShortcutLabel(bool enabled) override { labelEnabled = enabled; }
    bool IsChecked(FlagBox box) override { return checks[box]; }
    void SetChecked(FlagBox box, bool checked) override { checks[box] = checked; }
    int SelectedRow() override { return selected; }
    std::string RowText(int row) override { return rows.at(static_cast<std::size_t>(row)); }
    void AddRow(const std::string& text) override { rows.push_back(text); }
    int RowCount() override { return static_cast<int>(rows.size()); }
    void RemoveRow(int row) override {
        rows.erase(rows.begin() + row);
        selected = selected == row ? -1 : selected > row ? selected - 1 : selected;
    }
    void RemoveAllRows() override {
        rows.clear();
        selected = -1;
    }
    void SelectRow(int row) override { selected = row < RowCount() ? row : -1; }
    void SuspendListDrawing() override {
        EXPECT_FALSE(listHeld) << "suspended twice";
        listHeld = true;
    }
    void ResumeListDrawing() override {
        EXPECT_TRUE(listHeld) << "resumed without a suspend";
        listHeld = false;
    }
    int TargetFolderIndex() override { return target; }
    void SelectTargetFolder(int index) override { target = index; }
    std::string TargetFolderText() override { return kTargetNames.at(static_cast<std::size_t>(target)); }
    void SetStatusText(const std::string& text) override {
        status = text;
        ++statusWrites;
    }
    std::u16string ChooseFolder(const std::string& title, unsigned flags) override {
        folderRequests.emplace_back(title, flags);
        return folderAnswer;
    }
    bool ChooseFile(const FileChooserRequest& request, std::string& path) override {
        fileRequests.push_back(request);
        if (fileAnswer) {
            path = *fileAnswer;
        }
        return fileAnswer.has_value();
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
        listHeldAtMessages.push_back(listHeld);
    }

    // The user's own actions: typing replaces a field's text; a click toggles a box first.
    void Type(TextField field, const std::string& text) { SetText(field, text); }
    void Click(FlagBox box) {
        checks[box] = !checks[box];
        editor->OnFileFlagClicked();
    }
    void Select(int row) {
        selected = row;
        editor->OnFileListSelChange();
    }
    void ChooseTarget(int index) {
        target = index;
        editor->OnTargetFolderChange();
    }
};

// A chooser's filter list, its two closing NULs included.
template <std::size_t N> std::string Filter(const char (&text)[N]) { return std::string(text, N - 1); }

// Paths as the window hands them over: on Windows with backslashes already.
std::string Host(const std::filesystem::path& path) { return platform::ToAnsi(path.u16string()); }
std::string Stored(const std::filesystem::path& path) { return platform::ToAnsi(StoredForm(path.u16string())); }

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.editor = &editor;
        // As the main window starts: the hint row, then the target folder choice once.
        window.rows.push_back(kHint);
        editor.OnTargetFolderChange();
        window.calls.clear();
    }
    void TearDown() override { EXPECT_FALSE(window.listHeld) << "every command leaves the list drawn"; }

    std::filesystem::path Make(const std::filesystem::path& relative, std::size_t size) {
        std::filesystem::path p = dir.Path() / relative;
        std::filesystem::create_directories(p.parent_path());
        WriteBytes(p.u16string(), Pattern(size));
        return p;
    }
    std::filesystem::path Folder(const std::string& relative) {
        std::filesystem::path p = dir.Path() / std::filesystem::path(relative);
        std::filesystem::create_directories(p);
        return p;
    }
    PackageEntry Entry(std::uint32_t i) {
        PackageEntry e{};
        EXPECT_TRUE(package.GetEntry(i, &e));
        return e;
    }
    std::string Filename(std::uint32_t i) { return platform::ToAnsi(FieldText(Entry(i).filename)); }
    std::string Shortcut(std::uint32_t i) { return platform::ToAnsi(FieldText(Entry(i).shortcutName)); }
    std::string Header(const ::TextField& field) { return platform::ToAnsi(FieldText(field)); }
    std::string InstallFolder() { return Header(package.GetHeader().installFolder); }
    std::string SourceFolder() { return Header(package.GetHeader().sourceFolder); }

    // A dropped folder App with a.txt (1000 bytes) and sub/b.txt (2000 bytes).
    std::filesystem::path DropApp() {
        Make("App/a.txt", 1000);
        Make("App/sub/b.txt", 2000);
        std::filesystem::path app = dir.Path() / "App";
        editor.OnDropFiles({Host(app)});
        return app;
    }

    TempDir dir;
    Package package;
    FakeWindow window;
    std::string imagePath;
    std::string buildCommand = "Cexe.exe <filename>";
    workspace::WorkspaceEditor editor{package, window, imagePath, buildCommand};
};

TEST_F(EditorTest, StartUpLeavesTheChosenFolderAndAnEmptyProgramPath) {
    EXPECT_EQ(package.GetHeader().targetFolder, 5);
    EXPECT_EQ(InstallFolder(), "");
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PERSONAL\\");
    EXPECT_EQ(window.rows, std::vector<std::string>{kHint});
    EXPECT_EQ(package.GetHeader().magic, kPackageMagic) << "nothing has cleared the header yet";
}

TEST_F(EditorTest, DroppingAFolderGathersItDepthFirstAndShowsTheFirstFile) {
    std::filesystem::path app = DropApp();

    ASSERT_EQ(package.GetCount(), 2u);
    EXPECT_EQ(Filename(0), Stored(app / "a.txt"));
    EXPECT_EQ(Filename(1), Stored(app / "sub" / "b.txt"));
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(SourceFolder(), Stored(app) + "\\");
    EXPECT_EQ(window.texts[TextField::WorkspacePath], Stored(app) + "\\");
    EXPECT_EQ(package.GetHeader().magic, 0u) << "a drop clears the whole header";
    EXPECT_EQ(package.GetHeader().targetFolder, 5) << "and then stores the list's choice again";
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PERSONAL\\");

    EXPECT_EQ(window.selected, 0);
    EXPECT_EQ(window.texts[TextField::SelectedFile], "a.txt");
    EXPECT_TRUE(window.checks[FlagBox::Arm] && window.checks[FlagBox::Mips] && window.checks[FlagBox::Shx] &&
                window.checks[FlagBox::Intel]);
    EXPECT_FALSE(window.checks[FlagBox::Shortcut] || window.checks[FlagBox::Eula]);
    EXPECT_EQ(Entry(0).flags, 30u);
    // Showing a file without a shortcut empties the label, and the emptied label is stored.
    EXPECT_FALSE(window.labelEnabled);
    EXPECT_EQ(Shortcut(0), ".lnk");
    EXPECT_EQ(Shortcut(1), "");
    EXPECT_EQ(window.status, " 2 files - 2 Kb");
}

TEST_F(EditorTest, DropsOfFilesDuplicatesAndEmptyFolders) {
    // One file: its name as the row, its folder without a trailing backslash as the source.
    std::filesystem::path a = Make("App/a.txt", 3);
    editor.OnDropFiles({Host(a)});
    EXPECT_EQ(window.rows, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(SourceFolder(), Stored(dir.Path() / "App"));

    // A folder together with a file inside it: the file comes twice; the last item's source stays.
    Make("App/hidden/.secret", 7);
    Folder("App/nothing/deeper");
    Make("App/zero.bin", 0);
    window.statusWrites = 0;
    editor.OnDropFiles({Host(dir.Path() / "App"), Host(a)});
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "hidden\\.secret", "zero.bin", "a.txt"}));
    EXPECT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(SourceFolder(), Stored(dir.Path() / "App"));
    EXPECT_EQ(window.statusWrites, 2) << "the totals line is written once after each dropped item";
    EXPECT_EQ(window.status, " 4 files - 0 Kb");

    // A folder without files: no rows, nothing selected, File Properties keeps the last file.
    window.texts[TextField::SelectedFile] = "kept.txt";
    editor.OnDropFiles({Host(Folder("Empty"))});
    EXPECT_TRUE(window.rows.empty());
    EXPECT_EQ(window.selected, -1);
    EXPECT_EQ(window.texts[TextField::SelectedFile], "kept.txt");
    EXPECT_EQ(window.status, " 0 files - 0 Kb");

    // A path that cannot be examined counts as a folder and gives nothing, without a message.
    editor.OnDropFiles({Host(dir.Path() / "gone")});
    EXPECT_EQ(package.GetCount(), 0u);
    EXPECT_EQ(SourceFolder(), Stored(dir.Path() / "gone") + "\\");
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(EditorTest, FoldersAreWalkedInTheOrderNtfsListsNames) {
    Make("App/b.txt", 1);
    Make("App/A.txt", 1);
    Make("App/_x", 1);
    Make("App/a0/c.txt", 1);
    Make("App/a0/deep/d.txt", 1);
    Make("App/a0/deep/er/e.txt", 1);
    editor.OnDropFiles({Host(dir.Path() / "App")});
    // Upper-cased names compare as A.TXT < A0 < B.TXT < _X: a folder's files come where its name
    // does, at any depth, and the walk climbs back out of each.
    EXPECT_EQ(window.rows, (std::vector<std::string>{"A.txt", "a0\\c.txt", "a0\\deep\\d.txt", "a0\\deep\\er\\e.txt",
                                                     "b.txt", "_x"}));
    EXPECT_EQ(editor.gatherSubfolder, "");
}

#ifndef _WIN32
// Here the order is this program's own (Windows lists in its own); letters beyond ASCII are
// upper-cased as NTFS does, so \u00e9 sorts with \u00c9, after every ASCII letter.
TEST_F(EditorTest, NamesBeyondAsciiSortAsTheirCapitals) {
    Make("App/\u00e9t\u00e9.txt", 1);
    Make("App/\u00c9a.txt", 1);
    Make("App/z.txt", 1);
    Make("App/\u0434\u0430.txt", 1); // Cyrillic "da"
    Make("App/\u0414\u0430\u0430.txt", 1);
    editor.OnDropFiles({Host(dir.Path() / "App")});
    EXPECT_EQ(window.rows, (std::vector<std::string>{"z.txt", "\u00c9a.txt", "\u00e9t\u00e9.txt", "\u0434\u0430.txt",
                                                     "\u0414\u0430\u0430.txt"}));
}
#endif

TEST_F(EditorTest, ProgramPathAndTargetFolderRunNestedAndKeepTheLastComponent) {
    window.Type(TextField::ProgramPath, "Acme\\MyApp");
    EXPECT_EQ(InstallFolder(), "Acme\\MyApp");
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PERSONAL\\Acme\\MyApp");

    window.calls.clear();
    window.ChooseTarget(1);
    // The choice runs the refresh, whose program path runs its handler, then the program name's.
    EXPECT_EQ(window.calls, (std::vector<std::string>{"ProgramPath", "ProgramName"}));
    EXPECT_EQ(package.GetHeader().targetFolder, 38);
    EXPECT_EQ(InstallFolder(), "MyApp");
    EXPECT_EQ(window.texts[TextField::ProgramPath], "MyApp");
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PROGRAM_FILES\\MyApp");

    // A refresh that finds the program path already reduced shows the stored folder alone.
    editor.RefreshWorkspaceFields();
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "MyApp");

    const std::int32_t codes[] = {5, 38, 2, 255};
    for (int i = 0; i < 4; ++i) {
        window.ChooseTarget(i);
        EXPECT_EQ(package.GetHeader().targetFolder, codes[i]);
        EXPECT_EQ(InstallFolder(), "MyApp");
        EXPECT_EQ(window.texts[TextField::FolderOnDevice], kTargetNames[static_cast<std::size_t>(i)] + "\\MyApp");
    }

    // Only the first 254 characters of a field count.
    window.Type(TextField::ProgramPath, std::string(300, 'p'));
    EXPECT_EQ(InstallFolder(), std::string(254, 'p'));
}

// A walk refreshes the fields after every name, setting only those whose text would change: after
// any number of refreshes the fields and the header must be as the full refresh leaves them.
TEST_F(EditorTest, TheWalksRefreshEndsAsTheFullRefreshDoes) {
    struct Start {
        std::string path, name, source;
        int target;
    };
    const Start starts[] = {
        {"Acme\\MyApp", "", "", 0},
        {"MyApp", "Acme", "C:\\App\\", 2},
        {"", "", "C:\\App", 1},
        {std::string(300, 'p'), std::string(300, 'n'), "", 3},
    };
    for (const Start& start : starts) {
        for (int refreshes = 1; refreshes <= 3; ++refreshes) {
            SCOPED_TRACE(start.path.substr(0, 12) + " x" + std::to_string(refreshes));
            auto run = [&](bool changedOnly) {
                editor.OnNewWorkspace();
                window.ChooseTarget(start.target);
                window.Type(TextField::ProgramPath, start.path);
                window.Type(TextField::ProgramName, start.name);
                package.SetSourceFolder(platform::FromAnsi(start.source).c_str());
                for (int i = 0; i < refreshes; ++i) {
                    if (changedOnly) {
                        editor.RefreshChangedFields();
                    } else {
                        editor.RefreshWorkspaceFields();
                    }
                }
                const PackageHeader& header = package.GetHeader();
                return std::make_tuple(window.texts, Header(header.installFolder), Header(header.programName),
                                       Header(header.sourceFolder), header.targetFolder);
            };
            EXPECT_EQ(run(true), run(false));
        }
    }
    // A typed path settles in two refreshes (its last component, then the label showing it alone);
    // from then on the walk's refresh sets nothing, and no handler runs.
    editor.OnNewWorkspace();
    window.Type(TextField::ProgramPath, "Acme\\MyApp");
    EXPECT_TRUE(editor.RefreshChangedFields());
    EXPECT_TRUE(editor.RefreshChangedFields());
    window.calls.clear();
    EXPECT_FALSE(editor.RefreshChangedFields());
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(EditorTest, ProgramNameStoresEachTextAndTheSameTextAgainStoresNothing) {
    window.Type(TextField::ProgramName, "M");
    window.Type(TextField::ProgramName, "My");
    char16_t name[kTextUnits];
    package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), u"My");
    // Change the stored name behind the field's back: the same field text again finds it equal
    // to nothing and stores; an equal text is left alone.
    package.SetProgramName(u"Other");
    window.Type(TextField::ProgramName, "Other");
    package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), u"Other");
}

TEST_F(EditorTest, ShortcutLabelsAreStoredWithLnkAndShownWithoutTheirExtension) {
    DropApp();
    window.Click(FlagBox::Shortcut);
    EXPECT_TRUE(window.labelEnabled);
    EXPECT_EQ(Entry(0).flags, 31u);

    struct Case {
        std::string typed, stored, shown;
    };
    const Case cases[] = {
        {"My App", "My App.lnk", "My App"},
        {"ab", "ab.lnk", "ab"},
        {"", ".lnk", ""},
        {"Notes.txt", "Notes.txt", "Notes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        window.Type(TextField::ShortcutLabel, c.typed);
        EXPECT_EQ(Shortcut(0), c.stored);
        // Showing the file again shows the label less a three-letter extension, and stores that.
        window.Select(1);
        window.Select(0);
        EXPECT_EQ(window.texts[TextField::ShortcutLabel], c.shown);
        EXPECT_EQ(Shortcut(0), c.shown == c.typed ? c.stored : c.shown + ".lnk");
    }
    // Read.me has no three-letter extension: it gains ".lnk" and is shown whole again.
    window.Type(TextField::ShortcutLabel, "Read.me");
    EXPECT_EQ(Shortcut(0), "Read.me.lnk");
    window.Select(1);
    window.Select(0);
    EXPECT_EQ(window.texts[TextField::ShortcutLabel], "Read.me");

    // Unchecking keeps the label text and the stored name; the field is only disabled.
    window.Type(TextField::ShortcutLabel, "Keep");
    window.Click(FlagBox::Shortcut);
    EXPECT_FALSE(window.labelEnabled);
    EXPECT_EQ(window.texts[TextField::ShortcutLabel], "Keep");
    EXPECT_EQ(Shortcut(0), "Keep.lnk");
    EXPECT_EQ(Entry(0).flags, 30u);
}

// A name with a control character in it, typed or pasted, is refused with a word from the main
// window, and the field shows what it held before; what the workspace stores is unchanged.
TEST_F(EditorTest, NamesWithAControlCharacterAreRefusedAndTheFieldsKeepTheirText) {
    DropApp();
    window.Click(FlagBox::Shortcut);
    window.Type(TextField::ProgramName, "Notes");
    window.Type(TextField::ProgramPath, "MyApp");
    window.Type(TextField::ShortcutLabel, "Go");
    struct Case {
        TextField field;
        std::string typed, kept, named;
    };
    const Case cases[] = {
        {TextField::ProgramName, "Notes\r\n[Strings]", "Notes", "The program name"},
        {TextField::ProgramPath, "My\tApp", "MyApp", "The program's folder"},
        {TextField::ShortcutLabel, "Go\x7F", "Go", "The shortcut's label"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        window.messages.clear();
        window.Type(c.field, c.typed);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].first.rfind(c.named + " cannot hold a control character", 0), 0u)
            << window.messages[0].first;
        EXPECT_EQ(window.messages[0].second, "Error");
        EXPECT_EQ(window.texts[c.field], c.kept);
    }
    EXPECT_EQ(Header(package.GetHeader().programName), "Notes");
    EXPECT_EQ(InstallFolder(), "MyApp");
    EXPECT_EQ(Shortcut(0), "Go.lnk");
}

TEST_F(EditorTest, CheckBoxesStoreOnlyForARowThatHasAnEntry) {
    // No row selected: only the box changes.
    window.labelEnabled = false;
    window.Click(FlagBox::Shortcut);
    EXPECT_TRUE(window.checks[FlagBox::Shortcut]);
    EXPECT_FALSE(window.labelEnabled);
    window.Type(TextField::ShortcutLabel, "x");

    // The hint row selected: the label follows the box, nothing is stored (there is no entry).
    window.Select(0);
    window.Click(FlagBox::Eula);
    EXPECT_TRUE(window.labelEnabled);
    EXPECT_EQ(package.GetCount(), 0u);

    DropApp();
    window.Select(1);
    window.Click(FlagBox::Arm);
    window.Click(FlagBox::Eula);
    EXPECT_EQ(Entry(1).flags, 28u + 64u);
    EXPECT_EQ(Entry(0).flags, 30u);
}

TEST_F(EditorTest, NewEmptiesTheWorkspaceButLeavesTotalsPropertiesAndSettings) {
    DropApp();
    window.Type(TextField::ProgramName, "App");
    window.Type(TextField::ProgramPath, "MyApp");
    window.ChooseTarget(2);
    imagePath = "side.bmp";
    editor.OnNewWorkspace();

    EXPECT_EQ(package.GetCount(), 0u);
    EXPECT_TRUE(window.rows.empty());
    EXPECT_EQ(window.texts[TextField::WorkspacePath], "");
    EXPECT_EQ(window.texts[TextField::ProgramName], "");
    EXPECT_EQ(window.texts[TextField::ProgramPath], "");
    EXPECT_EQ(InstallFolder(), "");
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PROGRAMS\\");
    EXPECT_EQ(package.GetHeader().targetFolder, 2);
    EXPECT_EQ(window.target, 2);
    EXPECT_EQ(window.texts[TextField::SelectedFile], "a.txt");
    EXPECT_EQ(window.status, " 2 files - 2 Kb");
    EXPECT_EQ(imagePath, "side.bmp");
    EXPECT_EQ(buildCommand, "Cexe.exe <filename>");
}

TEST_F(EditorTest, AddFilesAppendsAfterTheHintRowIsGone) {
    Make("App/a.txt", 10);
    Make("App/sub/b.txt", 10);
    window.folderAnswer.clear();
    editor.OnAddFiles();
    ASSERT_EQ(window.folderRequests.size(), 1u);
    EXPECT_EQ(window.folderRequests[0], (std::pair<std::string, unsigned>{"Select a Folder To Import...", 0x41u}));
    EXPECT_EQ(window.rows, std::vector<std::string>{kHint}) << "cancelled: nothing changes";

    window.Type(TextField::ProgramPath, "Acme\\MyApp");
    window.target = 2; // moved without its notification: Add Files must not store it
    window.folderAnswer = StoredForm((dir.Path() / "App").u16string());
    editor.OnAddFiles();
    EXPECT_EQ(package.GetHeader().targetFolder, 5);
    EXPECT_EQ(package.GetHeader().magic, kPackageMagic) << "Add Files clears nothing";
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(SourceFolder(), Stored(dir.Path() / "App"));
    EXPECT_EQ(window.texts[TextField::WorkspacePath], Stored(dir.Path() / "App"));
    EXPECT_EQ(InstallFolder(), "MyApp") << "the refresh keeps the last component";
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "MyApp") << "refreshed during the walk and after it";
    EXPECT_EQ(window.status, " 0 files - 0 Kb") << "Add Files leaves the totals line alone";
    EXPECT_EQ(window.selected, -1);

    // The same folder again: its files come again, after the others.
    editor.OnAddFiles();
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt", "a.txt", "sub\\b.txt"}));
    EXPECT_EQ(package.GetCount(), 4u);
    EXPECT_EQ(editor.gatherSubfolder, "");
}

TEST_F(EditorTest, AFoundFileThatCannotBeStoredIsReportedAndSkipped) {
    // A file name that makes the full path longer than an entry holds.
    std::string longName(250, 'n');
    Make("App/ok.txt", 1);
    Make("App/" + longName, 1);
    std::filesystem::path app = dir.Path() / "App";
    editor.OnDropFiles({Host(app)});
    ASSERT_EQ(window.messages.size(), 1u);
    std::string full = Stored(app) + "\\" + longName;
    EXPECT_EQ(window.messages[0].first, "There was an Error Adding the files. \n Trying to add file \"" + full +
                                            "\" \nbecause it could not be found");
    EXPECT_EQ(window.messages[0].second, "Error");
    EXPECT_EQ(window.listHeldAtMessages, std::vector<bool>{false}) << "the message stands over the list as it is";
    EXPECT_EQ(window.rows, std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(package.GetCount(), 1u);
}

// A link back to a folder the walk is in is not followed again: the walk ends, each file comes once,
// and the folder left out is passed over without a message, as one that cannot be listed is.
TEST_F(EditorTest, ALinkBackToAnOuterFolderEndsTheWalkAndAddsEachFileOnce) {
    Make("App/a.txt", 1);
    Make("App/sub/b.txt", 1);
    FolderLink up(dir.Path() / "App" / "sub" / "up", "..");
    if (!up.Made()) {
        GTEST_SKIP() << "this host makes no links to folders";
    }
    editor.OnDropFiles({Host(dir.Path() / "App")});
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(package.GetCount(), 2u);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(editor.gatherSubfolder, "");
    // The walk refreshes a field only when what it shows would change; the program path shows ""
    // throughout, so its handler runs only in the two refreshes that end the drop.
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "ProgramPath"), 2);
}

// Files are added by the names their folders hold, a dropped or a chosen folder's own included, letters
// the code page lacks and all; only the rows show them in the code page.
TEST_F(EditorTest, NamesOutsideTheCodePageAreAddedAsTheyAre) {
    const std::filesystem::path name(u"\u0436\u4e2d");
    std::filesystem::path dropped = Make(std::filesystem::path("App") / name, 5);
    std::filesystem::path chosen = Make(name / "c.txt", 2);
    editor.OnDropFiles({Host(dir.Path() / "App")});
    window.folderAnswer = StoredForm((dir.Path() / name).u16string());
    editor.OnAddFiles();
    EXPECT_TRUE(window.messages.empty());
    ASSERT_EQ(package.GetCount(), 2u);
    EXPECT_EQ(FieldText(Entry(0).filename), StoredForm(dropped.u16string()));
    EXPECT_EQ(FieldText(Entry(1).filename), StoredForm(chosen.u16string()));
    EXPECT_EQ(window.rows, (std::vector<std::string>{platform::ToAnsi(name.u16string()), "c.txt"}));
}

class WorkspaceFileTest : public EditorTest {
protected:
    std::filesystem::path Save(const std::string& name) {
        window.fileAnswer = Host(dir.Path() / name);
        editor.OnSaveWorkspace();
        return dir.Path() / name;
    }
    void Open(const std::filesystem::path& path) {
        window.fileAnswer = Host(path);
        editor.OnOpenWorkspace();
    }
};

TEST_F(WorkspaceFileTest, SavingWritesHeaderAndTableWithTheSettings) {
    DropApp();
    imagePath = "C:\\art\\side.bmp";
    buildCommand = "sign.exe <filename>";
    std::filesystem::path saved = Save("work");
    ASSERT_EQ(window.fileRequests.size(), 1u);
    EXPECT_TRUE(window.fileRequests[0].save);
    EXPECT_EQ(window.fileRequests[0].flags, 0x1800u);
    EXPECT_EQ(window.fileRequests[0].filter, Filter("ORB Workspace Files (*.ORB)\0*.orb\0All Files (*.*)\0*.*\0\0"));

    Bytes bytes = ReadBytes((dir.Path() / "work.orb").u16string());
    ASSERT_EQ(bytes.size(), 2620u + 2u * 1052u);
    EXPECT_EQ(ReadU32(bytes, 0), 0u) << "the magic as held: zero after a drop";
    PackageHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    EXPECT_EQ(header.count, 2u);
    EXPECT_EQ(platform::ToAnsi(FieldText(header.imageFile)), "C:\\art\\side.bmp");
    EXPECT_EQ(platform::ToAnsi(FieldText(header.buildCommand)), "sign.exe <filename>");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "work"));

    // A name with a three-letter extension is used as it is, and saving again replaces the file.
    Save("backup.txt");
    editor.OnNewWorkspace();
    Save("backup.txt");
    EXPECT_EQ(ReadBytes((dir.Path() / "backup.txt").u16string()).size(), 2620u);

    // Cancelled: nothing happens.
    window.fileAnswer.reset();
    editor.OnSaveWorkspace();
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(WorkspaceFileTest, AFailedSaveSaysSoAndKeepsThePreviousFile) {
    const std::string failed =
        "Failed when trying to open/create the workspace file, perhapse it is in use by another process";
    DropApp();
    // The file is written under a fresh name beside the target; a user's file that already has the
    // first such name is neither used nor removed.
    WriteBytes((dir.Path() / "keep.or~").u16string(), Pattern(7));
    Save("keep.orb");
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(ReadBytes((dir.Path() / "keep.or~").u16string()), Pattern(7));
    Bytes before = ReadBytes((dir.Path() / "keep.orb").u16string());
    EXPECT_EQ(before.size(), 2620u + 2 * 1052u);

    // Targets that are no file to replace: a folder, and one of the workspace's own files (saving
    // over it would lose the file the workspace names). Nothing is touched.
    std::filesystem::create_directories(dir.Path() / "folder.orb");
    Save("folder.orb");
    Save("App/a.txt");
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].first, failed);
    EXPECT_EQ(window.messages[0].second, "");
    EXPECT_EQ(ReadBytes((dir.Path() / "App" / "a.txt").u16string()).size(), 1000u);

    // A folder that does not exist.
    editor.OnNewWorkspace();
    window.fileAnswer = Host(dir.Path() / "missing" / "x.orb");
    editor.OnSaveWorkspace();
    ASSERT_EQ(window.messages.size(), 3u);
    // A call failed here: the system's words for it follow the message.
    EXPECT_TRUE(window.messages[2].first.starts_with(failed + " (")) << window.messages[2].first;
    EXPECT_EQ(package.GetHeader().count, 0u) << "the header fields are set whatever happens";
    EXPECT_EQ(ReadBytes((dir.Path() / "keep.orb").u16string()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4) << "no temporary file left";
}

TEST_F(WorkspaceFileTest, OpeningRebuildsRowsSettingsTheTargetFolderAndTheTotals) {
    std::filesystem::path app = DropApp();
    window.Select(1);
    window.Click(FlagBox::Shortcut);
    window.Type(TextField::ShortcutLabel, "Bee");
    window.Type(TextField::ProgramName, "Acme");
    window.Type(TextField::ProgramPath, "Acme\\Tool");
    window.ChooseTarget(2);
    imagePath = "side.bmp";
    buildCommand = "sign <filename>";
    std::filesystem::path saved = Save("app.orb");

    editor.OnNewWorkspace();
    imagePath.clear();
    buildCommand.clear();
    window.ChooseTarget(0);
    window.texts[TextField::SelectedFile] = "kept";
    window.status = "old totals";
    Open(saved);

    ASSERT_EQ(window.fileRequests.back().flags, 0x1808u);
    EXPECT_FALSE(window.fileRequests.back().save);
    EXPECT_EQ(window.fileRequests.back().filter,
              Filter("Tarvelo Installer Workspace (*.orb)\0*.orb\0All Files (*.*)\0*.*\0\0"));
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(Shortcut(1), "Bee.lnk");
    EXPECT_EQ(Entry(1).flags, 31u);
    EXPECT_EQ(window.texts[TextField::ProgramName], "Acme");
    EXPECT_EQ(InstallFolder(), "Tool");
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PROGRAMS\\Tool");
    EXPECT_EQ(window.target, 2) << "the stored choice is shown again";
    EXPECT_EQ(package.GetHeader().targetFolder, 2) << "and so survives the open";
    EXPECT_EQ(imagePath, "side.bmp");
    EXPECT_EQ(buildCommand, "sign <filename>");
    EXPECT_EQ(window.selected, -1);
    EXPECT_EQ(window.texts[TextField::SelectedFile], "kept");
    EXPECT_EQ(window.status, " 2 files - 2 Kb");

    // The name without extension finds the .orb file.
    editor.OnNewWorkspace();
    Open(dir.Path() / "app");
    EXPECT_EQ(package.GetCount(), 2u);

    // A code the list has no entry for leaves the choice as it is, stores the choice's code as
    // before, and the status bar says so instead of the totals.
    Bytes bytes = ReadBytes(saved.u16string());
    PackageHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    header.targetFolder = 17;
    std::memcpy(bytes.data(), &header, sizeof header);
    WriteBytes((dir.Path() / "odd.orb").u16string(), bytes);
    window.ChooseTarget(1);
    Open(dir.Path() / "odd.orb");
    EXPECT_EQ(window.target, 1);
    EXPECT_EQ(package.GetHeader().targetFolder, 38);
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PROGRAM_FILES\\Tool");
    EXPECT_EQ(window.status, " The workspace's target folder (code 17) is unknown; CSIDL_PROGRAM_FILES is kept");
    EXPECT_EQ(window.rows, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
}

TEST_F(WorkspaceFileTest, RowsOfOpenedWorkspacesAreCutByTheSourceFolderLength) {
    Make("One/a.txt", 1);
    Make("Three/b.txt", 1);
    window.folderAnswer = StoredForm((dir.Path() / "One").u16string());
    editor.OnAddFiles();
    window.folderAnswer = StoredForm((dir.Path() / "Three").u16string());
    editor.OnAddFiles();
    Open(Save("two.orb"));
    // Every row loses as many characters as the last gathered folder has, whatever folder its
    // file came from; Add Files leaves that folder without a trailing backslash, so rows from it
    // start with one.
    EXPECT_EQ(window.rows, (std::vector<std::string>{".txt", "\\b.txt"}));

    // An entry shorter than the source folder shows its whole path.
    std::string shortPath = Host(Make("s.txt", 1));
    editor.OnDropFiles({shortPath});
    package.SetSourceFolder(platform::FromAnsi(std::string(300, 'x')).c_str());
    Open(Save("short.orb"));
    EXPECT_EQ(window.rows, std::vector<std::string>{Stored(dir.Path() / "s.txt")});
}

TEST_F(WorkspaceFileTest, AFileOfNoEntriesOpensAsItsHeader) {
    DropApp();
    std::filesystem::path saved = Save("full.orb");
    editor.OnNewWorkspace();
    window.Type(TextField::ProgramName, "Empty");
    window.Type(TextField::ProgramPath, "Tool");
    imagePath = "e.bmp";
    buildCommand = "e <filename>";
    Save("empty.orb");

    Open(saved);
    imagePath.clear();
    buildCommand = "changed";
    window.ChooseTarget(1);
    Open(dir.Path() / "empty.orb");
    EXPECT_TRUE(window.rows.empty());
    EXPECT_EQ(package.GetCount(), 0u);
    EXPECT_EQ(window.texts[TextField::WorkspacePath], "");
    EXPECT_EQ(window.texts[TextField::ProgramName], "Empty");
    EXPECT_EQ(imagePath, "e.bmp");
    EXPECT_EQ(buildCommand, "e <filename>");
    EXPECT_EQ(package.GetHeader().targetFolder, 5) << "the stored choice, shown again";
    EXPECT_EQ(window.target, 0);
    EXPECT_EQ(window.texts[TextField::FolderOnDevice], "CSIDL_PERSONAL\\Tool");
    EXPECT_EQ(window.status, " 0 files - 0 Kb");
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(WorkspaceFileTest, AFileThatDoesNotOpenChangesNothingAndSaysWhy) {
    // Settings held only in memory after a drop: the header has none to give back.
    DropApp();
    window.Select(1);
    window.Type(TextField::ProgramName, "Acme");
    window.Type(TextField::ProgramPath, "Tool");
    imagePath = "side.bmp";
    buildCommand = "sign <filename>";

    WriteBytes((dir.Path() / "short.orb").u16string(), Pattern(100));
    PackageHeader promising{};
    promising.count = 3;
    Bytes table(2620 + 2 * 1052);
    std::memcpy(table.data(), &promising, sizeof promising);
    WriteBytes((dir.Path() / "table.orb").u16string(), table);
    std::filesystem::create_directories(dir.Path() / "folder.orb");
    struct Case {
        std::filesystem::path path;
        std::string cause;
    };
    std::vector<Case> cases = {
        {dir.Path() / "missing.orb", "The file does not exist."},
        {dir.Path() / "gone" / "x.orb", "The file does not exist."},
        {dir.Path() / "short.orb", "It is not a workspace file: The package is shorter than its header."},
        {dir.Path() / "table.orb", "It is not a workspace file: The package is too short for its table of files."},
        {dir.Path() / "folder.orb", "It is a folder, not a file."},
    };
#ifdef _WIN32
    // Another program holding the file without sharing it; POSIX has no such lock.
    std::filesystem::path locked = Save("locked.orb");
    platform::File holder = platform::File::OpenRead(locked.u16string(), platform::Share::None);
    ASSERT_TRUE(holder.IsOpen());
    cases.push_back({locked, "The file cannot be read (is it in use by another process?)."});
#endif

    const PackageHeader header = package.GetHeader();
    const std::vector<PackageEntry> entries{Entry(0), Entry(1)};
    const std::vector<std::string> rows = window.rows;
    const std::map<TextField, std::string> texts = window.texts;
    const std::map<FlagBox, bool> checks = window.checks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        window.messages.clear();
        Open(c.path);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].first,
                  "The workspace file \"" + Host(c.path) + "\" could not be opened.\n" + c.cause);
        EXPECT_EQ(window.messages[0].second, "Error");

        EXPECT_EQ(std::memcmp(&package.GetHeader(), &header, sizeof header), 0);
        ASSERT_EQ(package.GetCount(), entries.size());
        for (std::uint32_t i = 0; i < entries.size(); ++i) {
            PackageEntry e = Entry(i);
            EXPECT_EQ(std::memcmp(&e, &entries[i], sizeof e), 0) << i;
        }
        EXPECT_EQ(window.rows, rows);
        EXPECT_EQ(window.selected, 1);
        EXPECT_EQ(window.texts, texts);
        EXPECT_EQ(window.checks, checks);
        EXPECT_EQ(imagePath, "side.bmp");
        EXPECT_EQ(buildCommand, "sign <filename>");
    }
}

TEST_F(WorkspaceFileTest, AnOpenedHeaderWithoutTerminatorsIsReadWithinItsFields) {
    // A file of no entries keeps its header whatever it holds; a name that fills its whole field
    // must still be read as a field, not as a string that runs on into memory.
    PackageHeader header{};
    header.magic = kPackageMagic;
    std::fill(std::begin(header.programName), std::end(header.programName), u'A');
    std::fill(std::begin(header.installFolder), std::end(header.installFolder), u'B');
    Bytes bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::filesystem::path path = dir.Path() / "full.orb";
    WriteBytes(path.u16string(), bytes);
    Open(path);
    const std::string& shown = window.texts[TextField::ProgramName];
    EXPECT_GE(shown.size(), 254u);
    EXPECT_LE(shown.size(), kTextUnits);
    EXPECT_EQ(shown.find_first_not_of('A'), std::string::npos);
    char16_t name[kTextUnits];
    package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), std::u16string(254, u'A')) << "the field shows it and stores what it shows";
    EXPECT_TRUE(window.rows.empty());
}

TEST_F(WorkspaceFileTest, SavingLeavesOnlyTheWorkspaceFileAndKeepsTheMagicAsHeld) {
    Make("App/a.txt", 1);
    window.folderAnswer = StoredForm((dir.Path() / "App").u16string());
    editor.OnAddFiles();
    Save("kept.orb");
    Bytes bytes = ReadBytes((dir.Path() / "kept.orb").u16string());
    ASSERT_EQ(bytes.size(), 2620u + 1052u);
    EXPECT_EQ(ReadU32(bytes, 0), kPackageMagic) << "nothing has cleared the header since start-up";
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"App", "kept.orb"})) << "no temporary file is left";
}

} // namespace
