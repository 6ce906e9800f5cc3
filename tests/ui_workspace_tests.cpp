// The workspace in the real main window: drops built as the shell builds them, commands and control
// notifications as the platform sends them, and the edit controls' own change notifications running
// the handlers nested. Choosers, the folder browser and message boxes are answered by the test.
#include "platform/text.h"
#include "tests/test_support.h"
#include "tests/ui_test_support.h"
#include "ui/installer_settings.h"
#include "ui/main_window.h"
#include "ui/resource.h"

#include <commctrl.h>
// (after windows.h)
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <set>

using namespace testing_support;

namespace {

class TestMainWindow : public ui::CMainWindow {
public:
    std::vector<std::string> calls;
#define TARVELO_TRACE(name)                                                                                            \
    LRESULT name(UINT message, WPARAM wParam, LPARAM lParam) override {                                                \
        calls.push_back(#name);                                                                                        \
        return CMainWindow::name(message, wParam, lParam);                                                             \
    }
    TARVELO_TRACE(OnTargetFolderChange)
    TARVELO_TRACE(OnProgramPathChange)
    TARVELO_TRACE(OnProgramNameChange)
    TARVELO_TRACE(OnShortcutLabelChange)
#undef TARVELO_TRACE

    struct Chooser {
        bool save;
        std::string filter;
        DWORD flags;
        DWORD filterIndex;
        DWORD bufferSize;
    };
    std::optional<std::string> fileAnswer;
    std::vector<Chooser> choosers;
    std::u16string folderAnswer;
    std::vector<std::pair<std::wstring, UINT>> browsers;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<bool> listDrawnAtMessages;

    // Whether the list draws itself, as the last WM_SETREDRAW it was sent left it.
    static inline WNDPROC nextListProcedure = nullptr;
    static inline bool listDrawn = true;
    static LRESULT CALLBACK WatchList(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_SETREDRAW) {
            listDrawn = wParam != FALSE;
        }
        return CallWindowProcW(nextListProcedure, list, message, wParam, lParam);
    }
    void WatchListDrawing() {
        listDrawn = true;
        nextListProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(fileList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchList)));
    }
    bool ListDrawn() const { return listDrawn; }

    BOOL RunFileChooser(OPENFILENAMEA& request, bool save) override {
        const char* end = request.lpstrFilter;
        while (*end || end[1]) {
            ++end;
        }
        choosers.push_back(
            {save, std::string(request.lpstrFilter, end + 2), request.Flags, request.nFilterIndex, request.nMaxFile});
        if (!fileAnswer) {
            return FALSE;
        }
        lstrcpynA(request.lpstrFile, fileAnswer->c_str(), static_cast<int>(request.nMaxFile));
        return TRUE;
    }
    int RunMessageBox(const char* text, const char* caption, UINT type) override {
        EXPECT_EQ(type, static_cast<UINT>(MB_OK));
        messages.emplace_back(text, caption);
        listDrawnAtMessages.push_back(ListDrawn());
        return IDOK;
    }
    std::u16string RunFolderBrowser(const wchar_t* title, UINT flags) override {
        browsers.emplace_back(title, flags);
        return folderAnswer;
    }
    INT_PTR RunModalDialog(ui::CDialogBase&) override { return IDCANCEL; }
};

// A drop as the shell hands it over: a DROPFILES block with the ANSI paths after it.
HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& path : paths) {
        size += path.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    char* at = reinterpret_cast<char*>(drop + 1);
    for (const std::string& path : paths) {
        std::memcpy(at, path.c_str(), path.size() + 1);
        at += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// A chooser's filter list, its two closing NULs included.
template <std::size_t N> std::string Filter(const char (&text)[N]) { return std::string(text, N - 1); }

std::string Ansi(const std::filesystem::path& path) { return platform::ToAnsi(path.u16string()); }

class UiWorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
        main.WatchListDrawing();
        main.calls.clear();
    }
    void TearDown() override {
        main.DestroyWindow();
        uitest::TakeQuitCode();
    }

    std::filesystem::path Make(const std::string& relative, std::size_t size) {
        std::filesystem::path p = dir.Path() / relative;
        std::filesystem::create_directories(p.parent_path());
        WriteBytes(p.u16string(), Pattern(size));
        return p;
    }
    void Drop(const std::vector<std::string>& paths) {
        SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    }
    void Command(int id, int code = 0) {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }
    void SelectRow(int row) {
        SendMessageA(main.fileList, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
        Command(IDC_FILE_LIST, LBN_SELCHANGE);
    }
    void ChooseTarget(int index) {
        SendMessageA(main.targetFolderCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        Command(IDC_TARGET_FOLDER, CBN_SELCHANGE);
    }
    std::string Text(HWND control) {
        char text[512] = {};
        GetWindowTextA(control, text, 512);
        return text;
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        auto count = SendMessageA(main.fileList, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char row[600] = {};
            SendMessageA(main.fileList, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(row));
            rows.emplace_back(row);
        }
        return rows;
    }
    std::string Status() {
        char text[128] = {};
        SendMessageA(main.statusBar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        return text;
    }
    bool Checked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    PackageEntry Entry(std::uint32_t i) {
        PackageEntry e{};
        EXPECT_TRUE(main.package.GetEntry(i, &e));
        return e;
    }
    std::string Field(const ::TextField& text) { return platform::ToAnsi(FieldText(text)); }

    TempDir dir;
    ui::CMessageLoop loop;
    ui::MessageLoopRegistration registration{loop};
    TestMainWindow main;
    HWND window = nullptr;
};

TEST_F(UiWorkspaceTest, ADroppedFolderFillsTheListWithEveryFileAndShowsTheFirst) {
    Make("App/a.txt", 1500);
    Make("App/sub/b.txt", 1000);
    std::filesystem::path hidden = Make("App/hid/c.txt", 0);
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW(hidden.parent_path().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    Drop({Ansi(dir.Path() / "App")});

    std::vector<std::string> rows = Rows();
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()),
              (std::set<std::string>{"a.txt", "sub\\b.txt", "hid\\c.txt"}));
    ASSERT_EQ(main.package.GetCount(), 3u);
    std::string root = Ansi(dir.Path() / "App") + "\\";
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Field(Entry(i).filename), root + rows[i]) << "row " << i << " is entry " << i;
        EXPECT_EQ(Entry(i).flags, 30u);
    }
    EXPECT_EQ(Field(main.package.GetHeader().sourceFolder), root);
    EXPECT_EQ(Text(main.workspacePathEdit), root);
    EXPECT_EQ(Status(), " 3 files - 2 Kb");

    EXPECT_EQ(SendMessageA(main.fileList, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(Text(main.selectedFileLabel), rows[0].substr(rows[0].rfind('\\') + 1));
    EXPECT_TRUE(Checked(main.armCheck) && Checked(main.mipsCheck) && Checked(main.shxCheck) &&
                Checked(main.intelCheck));
    EXPECT_FALSE(Checked(main.shortcutCheck) || Checked(main.eulaCheck));
    EXPECT_FALSE(IsWindowEnabled(main.shortcutLabelEdit));
    EXPECT_EQ(Field(Entry(0).shortcutName), ".lnk") << "the emptied label field stores its text";
    EXPECT_TRUE(main.messages.empty());

    // One file on its own: its name, and its folder without a trailing backslash.
    std::filesystem::path single = Make("One/readme.txt", 10);
    Drop({Ansi(single)});
    EXPECT_EQ(Rows(), std::vector<std::string>{"readme.txt"});
    EXPECT_EQ(Field(main.package.GetHeader().sourceFolder), Ansi(dir.Path() / "One"));
    EXPECT_EQ(Status(), " 1 files - 0 Kb");
}

TEST_F(UiWorkspaceTest, EditControlsRunTheirHandlersOnceAndNested) {
    SetWindowTextA(main.programPathEdit, "Acme\\MyApp");
    EXPECT_EQ(main.calls, std::vector<std::string>{"OnProgramPathChange"});
    EXPECT_EQ(Field(main.package.GetHeader().installFolder), "Acme\\MyApp");
    EXPECT_EQ(Text(main.folderOnDeviceLabel), "CSIDL_PERSONAL\\Acme\\MyApp");

    main.calls.clear();
    ChooseTarget(1);
    // Setting a field's text, even to the text it holds, runs its handler inside the step: once.
    EXPECT_EQ(main.calls,
              (std::vector<std::string>{"OnTargetFolderChange", "OnProgramPathChange", "OnProgramNameChange"}));
    EXPECT_EQ(main.package.GetHeader().targetFolder, 38);
    EXPECT_EQ(Field(main.package.GetHeader().installFolder), "MyApp");
    EXPECT_EQ(Text(main.programPathEdit), "MyApp");
    EXPECT_EQ(Text(main.folderOnDeviceLabel), "CSIDL_PROGRAM_FILES\\MyApp");

    SetWindowTextA(main.programNameEdit, std::string(300, 'n').c_str());
    char16_t name[kTextUnits];
    main.package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), std::u16string(254, u'n')) << "a field counts its first 254 characters";

    // A control character is refused with a word from the main window; the field is set back,
    // which runs its handler once more inside the first, and nothing changes.
    main.calls.clear();
    SetWindowTextA(main.programNameEdit, "Notes\tPro");
    EXPECT_EQ(main.calls, (std::vector<std::string>{"OnProgramNameChange", "OnProgramNameChange"}));
    ASSERT_EQ(main.messages.size(), 1u);
    EXPECT_EQ(main.messages[0].first.rfind("The program name cannot hold a control character", 0), 0u);
    EXPECT_EQ(main.messages[0].second, "Error");
    EXPECT_EQ(Text(main.programNameEdit), std::string(254, 'n'));
    main.package.GetProgramName(name);
    EXPECT_EQ(std::u16string(name), std::u16string(254, u'n'));

    // A line break, whatever a single-line control makes of it, never stores one.
    SetWindowTextA(main.programNameEdit, "Two\r\nlines");
    main.package.GetProgramName(name);
    EXPECT_TRUE(std::u16string(name) == std::u16string(254, u'n') || std::u16string(name) == u"Two")
        << Text(main.programNameEdit);
}

TEST_F(UiWorkspaceTest, FileOptionsAndShortcutLabelsAreStoredFromTheControls) {
    Make("App/a.txt", 1);
    Make("App/b.txt", 1);
    Drop({Ansi(dir.Path() / "App")});
    SelectRow(1);
    SendMessageA(main.shortcutCheck, BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindowEnabled(main.shortcutLabelEdit));
    SendMessageA(main.eulaCheck, BM_CLICK, 0, 0);
    SendMessageA(main.mipsCheck, BM_CLICK, 0, 0);
    EXPECT_EQ(Entry(1).flags, 1u + 2u + 8u + 16u + 64u);

    SetWindowTextA(main.shortcutLabelEdit, "Notes.txt");
    EXPECT_EQ(Field(Entry(1).shortcutName), "Notes.txt");
    SelectRow(0);
    EXPECT_FALSE(IsWindowEnabled(main.shortcutLabelEdit));
    EXPECT_EQ(Text(main.shortcutLabelEdit), "");
    SelectRow(1);
    EXPECT_EQ(Text(main.shortcutLabelEdit), "Notes");
    EXPECT_EQ(Field(Entry(1).shortcutName), "Notes.lnk");
    EXPECT_TRUE(Checked(main.eulaCheck));
    EXPECT_FALSE(Checked(main.mipsCheck));

    // Unchecking keeps the label's text and the stored name.
    SendMessageA(main.shortcutCheck, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowEnabled(main.shortcutLabelEdit));
    EXPECT_EQ(Text(main.shortcutLabelEdit), "Notes");
    EXPECT_EQ(Field(Entry(1).shortcutName), "Notes.lnk");

    // With no row selected a click changes only the box.
    SendMessageA(main.fileList, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageA(main.armCheck, BM_CLICK, 0, 0);
    EXPECT_EQ(Entry(0).flags, 30u);
    EXPECT_EQ(Entry(1).flags, 1u - 1u + 2u + 8u + 16u + 64u);
}

TEST_F(UiWorkspaceTest, AWorkspaceIsSavedAndOpenedAgainThroughTheFileChoosers) {
    Make("App/a.txt", 1);
    Make("App/sub/b.txt", 2);
    Drop({Ansi(dir.Path() / "App")});
    std::vector<std::string> rows = Rows();
    SetWindowTextA(main.programNameEdit, "Acme");
    ChooseTarget(2);
    main.settings.imagePath = "side.bmp";
    main.settings.buildCommand = "sign.exe <filename>";

    main.fileAnswer = Ansi(dir.Path() / "work");
    Command(ID_FILE_SAVE_WORKSPACE);
    ASSERT_EQ(main.choosers.size(), 1u);
    EXPECT_TRUE(main.choosers[0].save);
    EXPECT_EQ(main.choosers[0].flags, 0x1800u);
    EXPECT_EQ(main.choosers[0].filterIndex, 1u);
    EXPECT_EQ(main.choosers[0].bufferSize, 260u);
    EXPECT_EQ(main.choosers[0].filter, Filter("ORB Workspace Files (*.ORB)\0*.orb\0All Files (*.*)\0*.*\0\0"));
    EXPECT_EQ(ReadBytes((dir.Path() / "work.orb").u16string()).size(), 2620u + 2u * 1052u);

    Command(ID_FILE_NEW);
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Status(), " 2 files - 0 Kb") << "New leaves the totals line";
    main.settings.imagePath.clear();
    main.settings.buildCommand.clear();
    ChooseTarget(0);

    main.fileAnswer = Ansi(dir.Path() / "work.orb");
    Command(ID_FILE_OPEN_WORKSPACE);
    EXPECT_FALSE(main.choosers.back().save);
    EXPECT_EQ(main.choosers.back().flags, 0x1808u);
    EXPECT_EQ(main.choosers.back().filter,
              Filter("Tarvelo Installer Workspace (*.orb)\0*.orb\0All Files (*.*)\0*.*\0\0"));
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(Text(main.programNameEdit), "Acme");
    EXPECT_EQ(main.settings.imagePath, "side.bmp");
    EXPECT_EQ(main.settings.buildCommand, "sign.exe <filename>");
    EXPECT_EQ(main.package.GetHeader().targetFolder, 2) << "the stored choice, shown again";
    EXPECT_EQ(SendMessageA(main.targetFolderCombo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(Status(), " 2 files - 0 Kb");
    EXPECT_TRUE(main.ListDrawn()) << "the list is drawn again after the rows came";

    // A cancelled chooser does nothing.
    main.fileAnswer.reset();
    Command(ID_FILE_OPEN_WORKSPACE);
    EXPECT_EQ(Rows(), rows);
    EXPECT_TRUE(main.messages.empty());

    // A file that is not there: a box owned by the main window says so, and nothing changes.
    main.settings.buildCommand = "kept <filename>";
    main.fileAnswer = Ansi(dir.Path() / "gone.orb");
    Command(ID_FILE_OPEN_WORKSPACE);
    ASSERT_EQ(main.messages.size(), 1u);
    EXPECT_EQ(main.messages[0].first, "The workspace file \"" + Ansi(dir.Path() / "gone.orb") +
                                          "\" could not be opened.\nThe file does not exist.");
    EXPECT_EQ(main.messages[0].second, "Error");
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(main.package.GetCount(), 2u);
    EXPECT_EQ(Text(main.programNameEdit), "Acme");
    EXPECT_EQ(main.settings.imagePath, "side.bmp");
    EXPECT_EQ(main.settings.buildCommand, "kept <filename>");
    main.settings.imagePath.clear();
}

// Under a double-byte code page the list controls may answer a length larger than the text (the
// length counts as if every character took two bytes). Here the code page is a single-byte one,
// so the controls are made to answer so.
WNDPROC listProcedure = nullptr;
WNDPROC comboProcedure = nullptr;

LRESULT CALLBACK OverstatingList(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT answer = CallWindowProcA(listProcedure, control, message, wParam, lParam);
    return message == LB_GETTEXTLEN && answer >= 0 ? answer * 2 + 3 : answer;
}

LRESULT CALLBACK OverstatingCombo(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT answer = CallWindowProcA(comboProcedure, control, message, wParam, lParam);
    return message == CB_GETLBTEXTLEN && answer >= 0 ? answer * 2 + 3 : answer;
}

TEST_F(UiWorkspaceTest, ItemTextsEndWhereTheControlsCopyEndsNotAtTheLengthItAnswered) {
    Make("App/a.txt", 1);
    Make("App/sub/b.txt", 1);
    Drop({Ansi(dir.Path() / "App")});
    listProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(main.fileList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OverstatingList)));
    comboProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(main.targetFolderCombo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OverstatingCombo)));
    ASSERT_GT(SendMessageA(main.fileList, LB_GETTEXTLEN, 0, 0), 5);

    std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(main.RowText(row), rows[static_cast<std::size_t>(row)]);
    }
    EXPECT_EQ(main.RowText(2), "") << "a row that is not there";
    EXPECT_EQ(main.TargetFolderText(), "CSIDL_PERSONAL");

    // The Folder on Device label joins the list's text and the program path: a text with NULs
    // inside would cut the label short.
    ChooseTarget(1);
    SetWindowTextA(main.programPathEdit, "MyApp");
    EXPECT_EQ(Text(main.folderOnDeviceLabel), "CSIDL_PROGRAM_FILES\\MyApp");
    EXPECT_EQ(Field(main.package.GetHeader().installFolder), "MyApp");

    SetWindowLongPtrA(main.fileList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProcedure));
    SetWindowLongPtrA(main.targetFolderCombo, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(comboProcedure));
}

TEST_F(UiWorkspaceTest, AddFilesBrowsesForAFolderAndReportsFilesItCannotStore) {
    Make("App/a.txt", 1);
    // A name that makes the full path longer than an entry can hold; the platform keeps such
    // files, so they must be told apart when the walk finds them.
    std::wstring longName(245, L'n');
    std::wstring longPath = L"\\\\?\\" + (dir.Path() / "App").wstring() + L"\\" + longName;
    HANDLE file = CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    main.folderAnswer = (dir.Path() / "App").u16string();
    Command(ID_FILE_ADD_FILES);
    ASSERT_EQ(main.browsers.size(), 1u);
    EXPECT_EQ(main.browsers[0], (std::pair<std::wstring, UINT>{L"Select a Folder To Import...", 0x41u}));
    EXPECT_EQ(Rows(), std::vector<std::string>{"a.txt"}) << "the hint row went first";
    EXPECT_EQ(main.package.GetCount(), 1u);
    ASSERT_EQ(main.messages.size(), 1u);
    std::string full = Ansi(dir.Path() / "App") + "\\" + std::string(245, 'n');
    EXPECT_EQ(main.messages[0].first, "There was an Error Adding the files. \n Trying to add file \"" + full +
                                          "\" \nbecause it could not be found");
    EXPECT_EQ(main.messages[0].second, "Error");
    EXPECT_EQ(main.listDrawnAtMessages, std::vector<bool>{true}) << "the message stands over the list as it is";
    EXPECT_TRUE(main.ListDrawn());
    EXPECT_EQ(Text(main.workspacePathEdit), Ansi(dir.Path() / "App"));
    EXPECT_EQ(Status(), " 0 files - 0 Kb");
    DeleteFileW(longPath.c_str());
}

} // namespace
