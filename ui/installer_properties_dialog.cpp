// The Installer Properties dialog: its fields, the help box, the sidebar picture check and the
// two ways out, OK that stores and Cancel that does not.
#include "ui/installer_properties_dialog.h"

#include "frame/file_chooser.h"
#include "ui/resource.h"
#include "workspace/bitmap.h"

namespace ui {

namespace {

// A field holds at most 259 characters when it is stored, as the package's text fields do.
constexpr int kFieldBuffer = 260;

std::string FieldText(HWND field) {
    char buffer[kFieldBuffer] = {};
    GetWindowTextA(field, buffer, kFieldBuffer);
    return buffer;
}

const char* HelpFor(int id) {
    switch (id) {
    case IDC_IMAGE_PATH:
        return kImagePathHelp;
    case IDC_SHORTCUT_NAME:
        return kShortcutNameHelp;
    case IDC_ICON_PATH:
        return kIconPathHelp;
    case IDC_INSTALLER_TITLE:
        return kInstallerTitleHelp;
    case IDC_BUILD_COMMAND:
        return kBuildCommandHelp;
    default:
        return nullptr;
    }
}

} // namespace

CInstallerPropertiesDialog installerPropertiesDialog;

using Row = MessageMapRow<CInstallerPropertiesDialog>;
using Dialog = CInstallerPropertiesDialog;

const std::array<Row, 11> CInstallerPropertiesDialog::messageMap{{
    {WM_INITDIALOG, 0, 0, &Dialog::OnInitDialog},
    {WM_COMMAND, IDOK, kAnyCode, &Dialog::OnOK},
    {WM_COMMAND, IDCANCEL, kAnyCode, &Dialog::OnCancel},
    {WM_COMMAND, IDC_CHOOSE_IMAGE, BN_CLICKED, &Dialog::OnChooseImage},
    {WM_COMMAND, IDC_SHORTCUT_NAME, EN_SETFOCUS, &Dialog::OnFieldFocus},
    {WM_COMMAND, IDC_IMAGE_PATH, EN_SETFOCUS, &Dialog::OnFieldFocus},
    {WM_COMMAND, IDC_ICON_PATH, EN_SETFOCUS, &Dialog::OnFieldFocus},
    {WM_COMMAND, IDC_INSTALLER_TITLE, EN_SETFOCUS, &Dialog::OnFieldFocus},
    {WM_COMMAND, IDC_BUILD_COMMAND, EN_SETFOCUS, &Dialog::OnFieldFocus},
    {WM_COMMAND, IDC_CHOOSE_ICON, BN_CLICKED, &Dialog::OnChooseIcon},
    {WM_DESTROY, 0, 0, &Dialog::OnDestroy},
}};

CInstallerPropertiesDialog::CInstallerPropertiesDialog() : CDialogBase(IDD_INSTALLER_PROPERTIES) {}

void CInstallerPropertiesDialog::Attach(InstallerSettings& settings) { settings_ = &settings; }

bool CInstallerPropertiesDialog::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return DispatchToMap<CInstallerPropertiesDialog>(*this, messageMap, message, wParam, lParam, result);
}

LRESULT CInstallerPropertiesDialog::OnInitDialog(UINT, WPARAM, LPARAM) {
    HWND window = Window();
    CentreWindow(window, GetParent(window));
    imagePathEdit = GetDlgItem(window, IDC_IMAGE_PATH);
    helpBox = GetDlgItem(window, IDC_FIELD_HELP);
    iconPathEdit = GetDlgItem(window, IDC_ICON_PATH);
    titleEdit = GetDlgItem(window, IDC_INSTALLER_TITLE);
    shortcutNameEdit = GetDlgItem(window, IDC_SHORTCUT_NAME);
    buildCommandEdit = GetDlgItem(window, IDC_BUILD_COMMAND);
    imageButton = GetDlgItem(window, IDC_CHOOSE_IMAGE);
    preview = GetDlgItem(window, IDC_SIDEBAR_PREVIEW);

    SetWindowTextA(buildCommandEdit, settings_->buildCommand.c_str());
    SetWindowTextA(iconPathEdit, settings_->iconPath.c_str());
    SetWindowTextA(imagePathEdit, settings_->imagePath.c_str());
    SetWindowTextA(shortcutNameEdit, settings_->shortcutName.c_str());
    SetWindowTextA(titleEdit, settings_->installerTitle.c_str());

    // The stored picture is shown as it is, whatever its size; one that does not load shows
    // nothing. Paths of four characters or fewer cannot name a .bmp file.
    previewBitmap_.reset();
    if (settings_->imagePath.size() > 4) {
        ShowPreview(LoadBitmapFile(settings_->imagePath.c_str()));
    }
    // The platform then gives the focus to the image path field, whose help appears at once.
    return TRUE;
}

LRESULT CInstallerPropertiesDialog::OnOK(UINT, WPARAM, LPARAM) {
    settings_->iconPath = FieldText(iconPathEdit);
    settings_->imagePath = FieldText(imagePathEdit);
    settings_->shortcutName = FieldText(shortcutNameEdit);
    settings_->installerTitle = FieldText(titleEdit);
    settings_->buildCommand = FieldText(buildCommandEdit);
    EndDialog(IDOK);
    return 0;
}

// The fields are the only working copy, so closing without storing drops every change.
LRESULT CInstallerPropertiesDialog::OnCancel(UINT, WPARAM, LPARAM) {
    EndDialog(IDCANCEL);
    return 0;
}

std::string CInstallerPropertiesDialog::ChooseFile(const char* filter, bool save) {
    return ui::ChooseFile([this](OPENFILENAMEA& request, bool asSave) { return RunFileChooser(request, asSave); },
                          Window(), filter, OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST, save);
}

LRESULT CInstallerPropertiesDialog::OnChooseImage(UINT, WPARAM, LPARAM) {
    std::string chosen = ChooseFile("BMP Image Files(*.bmp)\0*.bmp\0", false);
    if (chosen.empty()) {
        return 0;
    }
    UniqueBitmap bitmap = LoadBitmapFile(chosen.c_str());
    if (!bitmap || !HasSidebarSize(bitmap.get())) {
        RunMessageBox(kWrongBitmapSizeMessage, "Error", MB_OK);
        return 0;
    }
    // The setting itself changes only on OK.
    SetWindowTextA(imagePathEdit, chosen.c_str());
    ShowPreview(std::move(bitmap));
    return 0;
}

LRESULT CInstallerPropertiesDialog::OnFieldFocus(UINT, WPARAM wParam, LPARAM) {
    if (const char* help = HelpFor(LOWORD(wParam))) {
        SetWindowTextA(helpBox, help);
    }
    return 0;
}

// The icon field is hidden, so this runs only when its command arrives from elsewhere. The file
// is taken as named; nothing reads it.
LRESULT CInstallerPropertiesDialog::OnChooseIcon(UINT, WPARAM, LPARAM) {
    std::string chosen = ChooseFile("ICO Icon files (*.ico)\0*.ico\0All Files (*.*)\0*.*\0", true);
    if (!chosen.empty()) {
        SetWindowTextA(iconPathEdit, chosen.c_str());
    }
    return 0;
}

// Takes the preview picture back from the control before the window goes, so that it can be freed.
LRESULT CInstallerPropertiesDialog::OnDestroy(UINT, WPARAM, LPARAM) {
    ShowPreview(nullptr);
    return 0;
}

// A static control of version 6 of the common controls may keep a copy of a bitmap with an alpha
// channel and hand that copy back when the picture is replaced; the copy is then ours to delete.
void CInstallerPropertiesDialog::ShowPreview(UniqueBitmap bitmap) {
    if (!preview) {
        return;
    }
    auto previous = reinterpret_cast<HBITMAP>(
        SendMessageW(preview, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.get())));
    if (previous && previous != previewBitmap_.get()) {
        DeleteObject(previous);
    }
    previewBitmap_ = std::move(bitmap);
    FitPreviewToPicture();
}

// The control sizes itself to the picture including its sunken border, which would then hide the
// picture's outer pixels; the picture is shown whole, border around it.
void CInstallerPropertiesDialog::FitPreviewToPicture() {
    BITMAP info{};
    if (!previewBitmap_ || !GetObjectW(previewBitmap_.get(), sizeof info, &info)) {
        return;
    }
    RECT outer{}, inner{};
    GetWindowRect(preview, &outer);
    GetClientRect(preview, &inner);
    const int width = info.bmWidth + (outer.right - outer.left) - inner.right;
    const int height = info.bmHeight + (outer.bottom - outer.top) - inner.bottom;
    SetWindowPos(preview, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CInstallerPropertiesDialog::RunFileChooser(OPENFILENAMEA& request, bool save) {
    return ShowFileChooser(request, save);
}

int CInstallerPropertiesDialog::RunMessageBox(const char* text, const char* caption, UINT type) {
    return MessageBoxA(Window(), text, caption, type);
}

UniqueBitmap LoadBitmapFile(const char* path) {
    return UniqueBitmap(static_cast<HBITMAP>(LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
}

bool HasSidebarSize(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || GetObjectA(bitmap, sizeof info, &info) != static_cast<int>(sizeof info)) {
        return false;
    }
    return info.bmWidth == workspace::kSidebarWidth && info.bmHeight == workspace::kSidebarHeight;
}

} // namespace ui
