// The main window's message map, its initialisation and its close commands.
#include "ui/main_window.h"

#include "building/build_command.h"
#include "ui/installer_settings.h"
#include "ui/resource.h"

#include <commctrl.h>
#include <shellapi.h>

namespace ui {

namespace {
constexpr const wchar_t* kTargetFolders[] = {L"CSIDL_PROGRAMS", L"CSIDL_PERSONAL", L"CSIDL_ROOT",
                                             L"CSIDL_PROGRAM_FILES"};
constexpr const wchar_t* kFileListHint =
    L"Drag and Drop the folder containing your applications files onto this window.";
constexpr const wchar_t* kEmptyTotals = L" 0 files - 0 Kb";
} // namespace

using Row = MessageMapRow<CMainWindow>;

// Tried from the top; the first matching row handles the message. The menu commands come first,
// so that their rows win over the control rows that share a handler.
const std::array<Row, 28> CMainWindow::messageMap{{
    {WM_INITDIALOG, 0, 0, &CMainWindow::OnInitMainWindow},
    {WM_COMMAND, ID_APP_ABOUT, kAnyCode, &CMainWindow::OnAbout},
    {WM_COMMAND, IDOK, kAnyCode, &CMainWindow::OnCloseCommand},
    {WM_COMMAND, IDCANCEL, kAnyCode, &CMainWindow::OnCloseCommand},
    {WM_COMMAND, ID_FILE_SAVE_WORKSPACE, kAnyCode, &CMainWindow::OnSaveWorkspace},
    {WM_COMMAND, ID_FILE_OPEN_WORKSPACE, kAnyCode, &CMainWindow::OnOpenWorkspace},
    {WM_COMMAND, ID_FILE_CREATE_DAT, kAnyCode, &CMainWindow::OnCreateDatFile},
    {WM_COMMAND, ID_FILE_CREATE_INSTALLER, kAnyCode, &CMainWindow::OnCreateInstaller},
    {WM_COMMAND, ID_FILE_ADD_FILES, kAnyCode, &CMainWindow::OnAddFiles},
    {WM_COMMAND, ID_APP_EXIT, kAnyCode, &CMainWindow::OnExit},
    {WM_COMMAND, ID_FILE_NEW, kAnyCode, &CMainWindow::OnNewWorkspace},
    {WM_COMMAND, ID_HELP_INDEX, kAnyCode, &CMainWindow::OnHelpIndex},
    {WM_DROPFILES, 0, 0, &CMainWindow::OnDropFiles},
    {WM_COMMAND, IDC_FILE_LIST, LBN_SELCHANGE, &CMainWindow::OnFileListSelChange},
    {WM_COMMAND, IDC_SHORTCUT, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_EULA, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_ARM, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_MIPS, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_SHX, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_INTEL, BN_CLICKED, &CMainWindow::OnFileFlagClicked},
    {WM_COMMAND, IDC_CREATE_INSTALLER, BN_CLICKED, &CMainWindow::OnCreateInstaller},
    {WM_COMMAND, IDC_PROGRAM_PATH, EN_CHANGE, &CMainWindow::OnProgramPathChange},
    {WM_COMMAND, IDC_TARGET_FOLDER, CBN_SELCHANGE, &CMainWindow::OnTargetFolderChange},
    {WM_COMMAND, IDC_INSTALLER_PROPERTIES, BN_CLICKED, &CMainWindow::OnInstallerProperties},
    {WM_COMMAND, IDC_SHORTCUT_LABEL, EN_CHANGE, &CMainWindow::OnShortcutLabelChange},
    {WM_COMMAND, IDC_CREATE_DAT, BN_CLICKED, &CMainWindow::OnCreateDatFile},
    {WM_COMMAND, IDC_PROGRAM_NAME, EN_CHANGE, &CMainWindow::OnProgramNameChange},
    {WM_COMMAND, IDC_CREATE_CABWIZ_INF, BN_CLICKED, &CMainWindow::OnCreateCabwizInf},
}};

CMainWindow::CMainWindow()
    : CDialogBase(IDD_MAIN_WINDOW), workspace(package, *this, settings.imagePath, settings.buildCommand) {}

CMainWindow::~CMainWindow() {
    if (CMessageLoop* loop = appModule.GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
}

bool CMainWindow::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return DispatchToMap<CMainWindow>(*this, messageMap, message, wParam, lParam, result);
}

// Keyboard navigation, Enter and Escape exist only because the dialog sees its messages before
// they are dispatched.
bool CMainWindow::FilterMessage(MSG& message) {
    HWND window = Window();
    if (!window || (message.hwnd != window && !IsChild(window, message.hwnd))) {
        return false;
    }
    return IsDialogMessageW(window, &message) != FALSE;
}

LRESULT CMainWindow::OnInitMainWindow(UINT, WPARAM, LPARAM) {
    HWND window = Window();
    CentreWindow(window);

    HINSTANCE instance = appModule.GetResourceInstance();
    bigIcon_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARVELO), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    smallIcon_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARVELO), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));

    DragAcceptFiles(window, TRUE);

    statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, kEmptyTotals, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), instance, nullptr);

    fileList = GetDlgItem(window, IDC_FILE_LIST);
    selectedFileLabel = GetDlgItem(window, IDC_SELECTED_FILE);
    shortcutCheck = GetDlgItem(window, IDC_SHORTCUT);
    eulaCheck = GetDlgItem(window, IDC_EULA);
    armCheck = GetDlgItem(window, IDC_ARM);
    mipsCheck = GetDlgItem(window, IDC_MIPS);
    shxCheck = GetDlgItem(window, IDC_SHX);
    intelCheck = GetDlgItem(window, IDC_INTEL);
    programNameEdit = GetDlgItem(window, IDC_PROGRAM_NAME);
    programPathEdit = GetDlgItem(window, IDC_PROGRAM_PATH);
    shortcutLabelEdit = GetDlgItem(window, IDC_SHORTCUT_LABEL);
    folderOnDeviceLabel = GetDlgItem(window, IDC_FOLDER_ON_DEVICE);
    workspacePathEdit = GetDlgItem(window, IDC_WORKSPACE_PATH);
    targetFolderCombo = GetDlgItem(window, IDC_TARGET_FOLDER);

    for (const wchar_t* folder : kTargetFolders) {
        SendMessageW(targetFolderCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder));
    }
    SendMessageW(targetFolderCombo, CB_SETCURSEL, 0, 0);

    settings.buildCommand = std::string(building::kDefaultBuildCommand);
    SendMessageW(fileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kFileListHint));

    if (CMessageLoop* loop = appModule.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }

    OnTargetFolderChange(WM_COMMAND, MAKEWPARAM(IDC_TARGET_FOLDER, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(targetFolderCombo));
    return 1; // the platform puts the focus on the first tab stop, the file list
}

void CMainWindow::Close(int exitCode) {
    DestroyWindow();
    PostQuitMessage(exitCode);
}

LRESULT CMainWindow::OnCloseCommand(UINT, WPARAM wParam, LPARAM) {
    Close(LOWORD(wParam) == IDOK ? 1 : 2);
    return 0;
}

LRESULT CMainWindow::OnExit(UINT, WPARAM, LPARAM) {
    Close(0);
    return 0;
}

} // namespace ui
