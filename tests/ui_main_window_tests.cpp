// The main window created from the program's own template in the test program: its controls, menu
// and tab order read back from the live window, and every row of its message map driven with the
// WM_COMMAND a control or the menu would send.
#include "tests/ui_test_support.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::CMainWindow;

// Records each handler the map reaches, then runs the real one.
#define TARVELO_RECORD(name)                                                                                           \
    LRESULT name(UINT message, WPARAM wParam, LPARAM lParam) override {                                                \
        calls.push_back(#name);                                                                                        \
        return CMainWindow::name(message, wParam, lParam);                                                             \
    }

class RecordingMainWindow : public CMainWindow {
public:
    std::vector<std::string> calls;
    TARVELO_RECORD(OnInitMainWindow)
    TARVELO_RECORD(OnCloseCommand)
    TARVELO_RECORD(OnExit)
    TARVELO_RECORD(OnAbout)
    TARVELO_RECORD(OnSaveWorkspace)
    TARVELO_RECORD(OnOpenWorkspace)
    TARVELO_RECORD(OnCreateDatFile)
    TARVELO_RECORD(OnCreateInstaller)
    TARVELO_RECORD(OnAddFiles)
    TARVELO_RECORD(OnNewWorkspace)
    TARVELO_RECORD(OnHelpIndex)
    TARVELO_RECORD(OnDropFiles)
    TARVELO_RECORD(OnFileListSelChange)
    TARVELO_RECORD(OnFileFlagClicked)
    TARVELO_RECORD(OnProgramPathChange)
    TARVELO_RECORD(OnTargetFolderChange)
    TARVELO_RECORD(OnInstallerProperties)
    TARVELO_RECORD(OnShortcutLabelChange)
    TARVELO_RECORD(OnProgramNameChange)
    TARVELO_RECORD(OnCreateCabwizInf)

    // Nothing here may wait for a user: choosers are cancelled, boxes and dialogs answered at once.
    BOOL RunFileChooser(OPENFILENAMEA&, bool) override {
        calls.push_back("file chooser");
        return FALSE;
    }
    int RunMessageBox(const char*, const char*, UINT) override {
        calls.push_back("message box");
        return IDOK;
    }
    std::u16string RunFolderBrowser(const wchar_t*, UINT) override {
        calls.push_back("folder browser");
        return {};
    }
    INT_PTR RunModalDialog(ui::CDialogBase&) override {
        calls.push_back("modal dialog");
        return IDCANCEL;
    }
};

std::wstring Text(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[128] = {};
    GetClassNameW(window, buffer, 128);
    return buffer;
}

HWND WINAPI NoHelpViewer(HWND, LPCWSTR, UINT, DWORD_PTR) { return nullptr; }

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        // Help > Index would open the real viewer when the help file lies beside the tests.
        ui::SetHelpViewer(NoHelpViewer);
        window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        main.DestroyWindow();
        uitest::TakeQuitCode();
        ui::SetHelpViewer(nullptr);
    }

    // Sends the command a control or menu item sends; answers the handlers it reached.
    std::vector<std::string> Command(int id, int code) {
        main.calls.clear();
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
        return main.calls;
    }

    ui::CMessageLoop loop;
    ui::MessageLoopRegistration registration{loop};
    RecordingMainWindow main;
    HWND window = nullptr;
};

TEST_F(MainWindowTest, InitialisationRunsTheFolderChoiceOnceAndSetsTheWorkingValues) {
    // The folder choice runs once, and through the fields it sets, their own change handlers.
    EXPECT_EQ(main.calls, (std::vector<std::string>{"OnInitMainWindow", "OnTargetFolderChange", "OnProgramPathChange",
                                                    "OnProgramNameChange"}));
    EXPECT_EQ(main.settings.buildCommand, "Cexe.exe <filename>");
    EXPECT_TRUE(main.infLines.empty());
    EXPECT_EQ(Text(window), L"Tarvelo Installer");
    EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);

    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_VISIBLE) << "start-up shows the window, the template does not";
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    // The window and the message loop: the main window is the loop's filter.
    MSG message{GetDlgItem(window, IDC_PROGRAM_NAME), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(loop.FilterMessage(message));
    MSG elsewhere{nullptr, WM_USER, 0, 0, 0, {}};
    EXPECT_FALSE(loop.FilterMessage(elsewhere));
}

TEST_F(MainWindowTest, ControlsStandWhereTheTemplatePutsThemWithTheirTexts) {
    struct Expected {
        int id;
        const wchar_t* className;
        const wchar_t* text;
        RECT units; // x, y, width, height in dialog units
    };
    const Expected controls[] = {
        {IDC_FILE_LIST, L"ListBox", L"", {13, 16, 322, 126}},
        {IDC_SELECTED_FILE, L"Static", L"[None Selected]", {374, 14, 61, 9}},
        {IDC_EULA, L"Button", L"EULA File", {359, 24, 47, 10}},
        {IDC_SHORTCUT, L"Button", L"Create Shortcut To", {359, 37, 76, 10}},
        {IDC_SHORTCUT_LABEL, L"Edit", L"", {359, 58, 74, 12}},
        {IDC_ARM, L"Button", L"ARM", {365, 90, 32, 10}},
        {IDC_MIPS, L"Button", L"MIPS", {365, 102, 33, 10}},
        {IDC_SHX, L"Button", L"SHX", {365, 114, 31, 10}},
        {IDC_INTEL, L"Button", L"INTEL", {365, 126, 37, 10}},
        {IDC_FOLDER_ON_DEVICE, L"Static", L"CSIDL_PERSONAL\\", {79, 164, 164, 8}},
        {IDC_PROGRAM_NAME, L"Edit", L"", {80, 175, 256, 12}},
        {IDC_PROGRAM_PATH, L"Edit", L"", {80, 203, 256, 12}},
        {IDC_WORKSPACE_PATH, L"Edit", L"", {80, 217, 256, 12}},
        {IDC_CREATE_DAT, L"Button", L"Create Dat File", {357, 164, 78, 14}},
        {IDC_CREATE_INSTALLER, L"Button", L"Create Install File", {357, 179, 78, 14}},
        {IDC_INSTALLER_PROPERTIES, L"Button", L"Set Installer Properties", {358, 194, 78, 14}},
        {IDC_CREATE_CABWIZ_INF, L"Button", L"Create Cabwiz ini File", {357, 209, 78, 14}},
    };
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.id);
        HWND control = GetDlgItem(window, expected.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassOf(control), expected.className);
        EXPECT_EQ(Text(control), expected.text);
        // The platform converts the origin and the size each on its own, as MapDialogRect does.
        RECT want = expected.units;
        MapDialogRect(window, &want);
        RECT got;
        GetWindowRect(control, &got);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right - got.left, want.right);
        EXPECT_EQ(got.bottom - got.top, want.bottom);
    }

    // The fourteen handles the other parts of the program work through.
    EXPECT_EQ(main.fileList, GetDlgItem(window, IDC_FILE_LIST));
    EXPECT_EQ(main.selectedFileLabel, GetDlgItem(window, IDC_SELECTED_FILE));
    EXPECT_EQ(main.shortcutCheck, GetDlgItem(window, IDC_SHORTCUT));
    EXPECT_EQ(main.eulaCheck, GetDlgItem(window, IDC_EULA));
    EXPECT_EQ(main.armCheck, GetDlgItem(window, IDC_ARM));
    EXPECT_EQ(main.mipsCheck, GetDlgItem(window, IDC_MIPS));
    EXPECT_EQ(main.shxCheck, GetDlgItem(window, IDC_SHX));
    EXPECT_EQ(main.intelCheck, GetDlgItem(window, IDC_INTEL));
    EXPECT_EQ(main.programNameEdit, GetDlgItem(window, IDC_PROGRAM_NAME));
    EXPECT_EQ(main.programPathEdit, GetDlgItem(window, IDC_PROGRAM_PATH));
    EXPECT_EQ(main.shortcutLabelEdit, GetDlgItem(window, IDC_SHORTCUT_LABEL));
    EXPECT_EQ(main.folderOnDeviceLabel, GetDlgItem(window, IDC_FOLDER_ON_DEVICE));
    EXPECT_EQ(main.workspacePathEdit, GetDlgItem(window, IDC_WORKSPACE_PATH));
    EXPECT_EQ(main.targetFolderCombo, GetDlgItem(window, IDC_TARGET_FOLDER));
}

TEST_F(MainWindowTest, StartsWithTheCabwizButtonHiddenAndTheShortcutLabelDisabled) {
    HWND cabwiz = GetDlgItem(window, IDC_CREATE_CABWIZ_INF);
    EXPECT_FALSE(GetWindowLongW(cabwiz, GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(IsWindowEnabled(cabwiz));
    EXPECT_FALSE(IsWindowEnabled(main.shortcutLabelEdit));
    for (int id : {IDC_FILE_LIST, IDC_EULA, IDC_SHORTCUT, IDC_ARM, IDC_MIPS, IDC_SHX, IDC_INTEL, IDC_PROGRAM_NAME,
                   IDC_TARGET_FOLDER, IDC_PROGRAM_PATH, IDC_WORKSPACE_PATH, IDC_CREATE_DAT, IDC_CREATE_INSTALLER,
                   IDC_INSTALLER_PROPERTIES}) {
        HWND control = GetDlgItem(window, id);
        EXPECT_TRUE(GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) << id;
        EXPECT_TRUE(IsWindowEnabled(control)) << id;
    }
    EXPECT_TRUE(GetWindowLongW(main.workspacePathEdit, GWL_STYLE) & ES_READONLY);
    for (int id : {IDC_CREATE_DAT, IDC_CREATE_INSTALLER, IDC_INSTALLER_PROPERTIES}) {
        EXPECT_FALSE(GetWindowLongW(GetDlgItem(window, id), GWL_STYLE) & BS_DEFPUSHBUTTON) << id;
    }
}

TEST_F(MainWindowTest, ListsShowTheHintRowAndTheSortedTargetFolders) {
    ASSERT_EQ(SendMessageW(main.fileList, LB_GETCOUNT, 0, 0), 1);
    wchar_t row[256] = {};
    SendMessageW(main.fileList, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
    EXPECT_STREQ(row, L"Drag and Drop the folder containing your applications files onto this window.");
    EXPECT_FALSE(GetWindowLongW(main.fileList, GWL_STYLE) & LBS_SORT) << "rows keep workspace order";

    const wchar_t* folders[] = {L"CSIDL_PERSONAL", L"CSIDL_PROGRAM_FILES", L"CSIDL_PROGRAMS", L"CSIDL_ROOT"};
    ASSERT_EQ(SendMessageW(main.targetFolderCombo, CB_GETCOUNT, 0, 0), 4);
    for (int i = 0; i < 4; ++i) {
        wchar_t entry[64] = {};
        SendMessageW(main.targetFolderCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        EXPECT_STREQ(entry, folders[i]);
    }
    EXPECT_EQ(SendMessageW(main.targetFolderCombo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ((GetWindowLongW(main.targetFolderCombo, GWL_STYLE) & 3), CBS_DROPDOWNLIST);
}

TEST_F(MainWindowTest, StatusBarCarriesTheEmptyTotalsInOnePart) {
    HWND status = GetDlgItem(window, IDC_STATUS_BAR);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status, main.statusBar);
    EXPECT_EQ(ClassOf(status), STATUSCLASSNAMEW);
    EXPECT_TRUE(GetWindowLongW(status, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(SendMessageW(status, SB_GETPARTS, 0, 0), 1);
    wchar_t text[64] = {};
    SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L" 0 files - 0 Kb");

    RECT client, bar;
    GetClientRect(window, &client);
    GetWindowRect(status, &bar);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.left, client.left);
    EXPECT_EQ(bar.right, client.right);
}

TEST_F(MainWindowTest, MenuHoldsTheCommandsInOrder) {
    struct Item {
        const wchar_t* text; // nullptr for a separator
        UINT id;
    };
    const std::vector<std::vector<Item>> menus = {
        {{L"&New", ID_FILE_NEW},
         {L"&Add Files To Installer...", ID_FILE_ADD_FILES},
         {L"Create &Dat file...", ID_FILE_CREATE_DAT},
         {L"Create &Installer file...", ID_FILE_CREATE_INSTALLER},
         {nullptr, 0},
         {L"&Save ORB Workspace...", ID_FILE_SAVE_WORKSPACE},
         {L"&Open ORB Workspace...", ID_FILE_OPEN_WORKSPACE},
         {nullptr, 0},
         {L"E&xit", ID_APP_EXIT}},
        {{L"&Index...", ID_HELP_INDEX}, {nullptr, 0}, {L"&About...", ID_APP_ABOUT}},
    };
    const wchar_t* titles[] = {L"&File", L"&Help"};
    HMENU bar = GetMenu(window);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    for (int m = 0; m < 2; ++m) {
        wchar_t title[64] = {};
        GetMenuStringW(bar, m, title, 64, MF_BYPOSITION);
        EXPECT_STREQ(title, titles[m]);
        HMENU popup = GetSubMenu(bar, m);
        ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(menus[m].size()));
        for (int i = 0; i < static_cast<int>(menus[m].size()); ++i) {
            SCOPED_TRACE(i);
            const Item& want = menus[m][i];
            if (!want.text) {
                EXPECT_TRUE(GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR);
                continue;
            }
            wchar_t text[64] = {};
            GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
            EXPECT_STREQ(text, want.text);
            EXPECT_EQ(GetMenuItemID(popup, i), want.id);
        }
    }
}

std::vector<int> TabOrder(HWND window) {
    std::vector<int> ids;
    HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
    for (HWND at = first; at && ids.size() < 40;) {
        ids.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window, at, FALSE);
        if (at == first) {
            break;
        }
    }
    return ids;
}

TEST_F(MainWindowTest, TabVisitsTheEnabledTabStopsInOrder) {
    ShowWindow(window, SW_SHOWNA); // tab order skips hidden controls, and so a hidden window's too
    std::vector<int> order = {IDC_FILE_LIST,
                              IDC_PROGRAM_NAME,
                              IDC_TARGET_FOLDER,
                              IDC_PROGRAM_PATH,
                              IDC_CREATE_DAT,
                              IDC_CREATE_INSTALLER,
                              IDC_INSTALLER_PROPERTIES,
                              IDC_EULA,
                              IDC_SHORTCUT,
                              IDC_ARM,
                              IDC_MIPS,
                              IDC_SHX,
                              IDC_INTEL};
    EXPECT_EQ(TabOrder(window), order);

    EnableWindow(main.shortcutLabelEdit, TRUE);
    order.push_back(IDC_SHORTCUT_LABEL);
    EXPECT_EQ(TabOrder(window), order);
}

TEST_F(MainWindowTest, EveryRowOfTheMapReachesItsHandler) {
    struct Route {
        int id;
        int code;
        const char* handler;
    };
    const Route routes[] = {
        {ID_APP_ABOUT, 0, "OnAbout"},
        {ID_FILE_SAVE_WORKSPACE, 0, "OnSaveWorkspace"},
        {ID_FILE_OPEN_WORKSPACE, 0, "OnOpenWorkspace"},
        {ID_FILE_CREATE_DAT, 0, "OnCreateDatFile"},
        {ID_FILE_CREATE_INSTALLER, 0, "OnCreateInstaller"},
        {ID_FILE_ADD_FILES, 0, "OnAddFiles"},
        {ID_FILE_NEW, 0, "OnNewWorkspace"},
        {ID_HELP_INDEX, 0, "OnHelpIndex"},
        {ID_FILE_NEW, 1, "OnNewWorkspace"}, // menu rows take any notification code
        {IDC_FILE_LIST, LBN_SELCHANGE, "OnFileListSelChange"},
        {IDC_SHORTCUT, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_EULA, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_ARM, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_MIPS, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_SHX, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_INTEL, BN_CLICKED, "OnFileFlagClicked"},
        {IDC_CREATE_INSTALLER, BN_CLICKED, "OnCreateInstaller"},
        {IDC_PROGRAM_PATH, EN_CHANGE, "OnProgramPathChange"},
        {IDC_TARGET_FOLDER, CBN_SELCHANGE, "OnTargetFolderChange"},
        {IDC_INSTALLER_PROPERTIES, BN_CLICKED, "OnInstallerProperties"},
        {IDC_SHORTCUT_LABEL, EN_CHANGE, "OnShortcutLabelChange"},
        {IDC_CREATE_DAT, BN_CLICKED, "OnCreateDatFile"},
        {IDC_PROGRAM_NAME, EN_CHANGE, "OnProgramNameChange"},
        {IDC_CREATE_CABWIZ_INF, BN_CLICKED, "OnCreateCabwizInf"},
    };
    // The handler comes first; what it runs in turn (the fields' own change handlers, a cancelled
    // chooser) follows it.
    for (const auto& route : routes) {
        std::vector<std::string> calls = Command(route.id, route.code);
        ASSERT_FALSE(calls.empty()) << route.id << " code " << route.code;
        EXPECT_EQ(calls.front(), route.handler) << route.id << " code " << route.code;
    }

    main.calls.clear();
    SendMessageW(window, WM_DROPFILES, 0, 0);
    ASSERT_FALSE(main.calls.empty());
    EXPECT_EQ(main.calls.front(), "OnDropFiles");

    // Real notifications from the controls themselves.
    main.calls.clear();
    SetWindowTextW(main.programNameEdit, L"Solitaire");
    EXPECT_EQ(main.calls, std::vector<std::string>{"OnProgramNameChange"});
    main.calls.clear();
    SendMessageW(main.armCheck, BM_CLICK, 0, 0);
    EXPECT_EQ(main.calls, std::vector<std::string>{"OnFileFlagClicked"});
    EXPECT_EQ(SendMessageW(main.armCheck, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(MainWindowTest, OtherNotificationsOfMappedControlsDoNothing) {
    const std::pair<int, int> ignored[] = {
        {IDC_FILE_LIST, LBN_DBLCLK},
        {IDC_FILE_LIST, LBN_SETFOCUS},
        {IDC_PROGRAM_NAME, EN_SETFOCUS},
        {IDC_PROGRAM_NAME, EN_UPDATE},
        {IDC_PROGRAM_PATH, EN_KILLFOCUS},
        {IDC_SHORTCUT_LABEL, EN_MAXTEXT},
        {IDC_TARGET_FOLDER, CBN_DROPDOWN},
        {IDC_TARGET_FOLDER, CBN_SELENDOK},
        {IDC_ARM, BN_DOUBLECLICKED},
        {IDC_CREATE_INSTALLER, BN_SETFOCUS},
        {IDC_INSTALLER_PROPERTIES, BN_KILLFOCUS},
        {IDC_CREATE_DAT, BN_DOUBLECLICKED},
        {IDC_WORKSPACE_PATH, EN_CHANGE}, // no row: the read-only field is never stored
        {IDC_FOLDER_ON_DEVICE, 0},
    };
    for (const auto& [id, code] : ignored) {
        EXPECT_TRUE(Command(id, code).empty()) << id << " code " << code;
    }
    EXPECT_TRUE(IsWindow(window));
}

// Ends a loop that would otherwise wait for ever when a close command never arrives.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostQuitMessage(99);
}

// Each close command destroys the window and asks the loop to end with its own code.
TEST(MainWindowClose, CommandsEndTheLoopWithTheirExitCodes) {
    uitest::PrepareModule();
    const std::pair<int, int> closes[] = {{ID_APP_EXIT, 0}, {IDOK, 1}, {IDCANCEL, 2}};
    for (const auto& [command, exitCode] : closes) {
        ui::CMessageLoop loop;
        ui::MessageLoopRegistration registration(loop);
        CMainWindow main;
        HWND window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
        PostMessageW(window, WM_COMMAND, command, 0);
        UINT_PTR timer = SetTimer(nullptr, 0, 5000, GiveUp);
        EXPECT_EQ(loop.Run(), exitCode) << command;
        KillTimer(nullptr, timer);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(main.Window(), nullptr);
    }
}

// Enter and Escape in a field reach the window only through its message filter.
TEST(MainWindowClose, EnterAndEscapeInAFieldCloseThroughTheFilter) {
    uitest::PrepareModule();
    const std::pair<WPARAM, int> keys[] = {{VK_RETURN, 1}, {VK_ESCAPE, 2}};
    for (const auto& [key, exitCode] : keys) {
        for (int field : {IDC_PROGRAM_NAME, IDC_PROGRAM_PATH}) {
            ui::CMessageLoop loop;
            ui::MessageLoopRegistration registration(loop);
            CMainWindow main;
            HWND window = main.Create(nullptr);
            ASSERT_NE(window, nullptr);
            ShowWindow(window, SW_SHOWNA);
            PostMessageW(GetDlgItem(window, field), WM_KEYDOWN, key, 1);
            UINT_PTR timer = SetTimer(nullptr, 0, 5000, GiveUp);
            EXPECT_EQ(loop.Run(), exitCode) << "key " << key << " in " << field;
            KillTimer(nullptr, timer);
            EXPECT_FALSE(IsWindow(window));
        }
    }
}

} // namespace
