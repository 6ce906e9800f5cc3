// The progress window of the build commands and the callback that drives it.
#include "ui/progress_dialog.h"

#include "platform/text.h"
#include "ui/resource.h"
#include "workspace/paths.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace ui {

namespace {

constexpr const char* kNoFileText = "[None]";

// A file that grew after it was added can report more than 100 per cent; the bar shows it full.
int ClampPercent(std::int32_t percent) { return std::clamp<std::int32_t>(percent, 0, 100); }

// With visual styles a bar glides up to a new position on a timer of its own, and that timer never
// fires while a build takes no messages; a step back is drawn at once. So the bar goes one past
// the position and then back to it (past 100 by widening the range for a moment).
void ShowPosition(HWND bar, int position) {
    if (position < 100) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position + 1), 0);
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    } else {
        SendMessageW(bar, PBM_SETRANGE32, 0, 101);
        SendMessageW(bar, PBM_SETPOS, 101, 0);
        SendMessageW(bar, PBM_SETPOS, 100, 0);
        SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    }
    UpdateWindow(bar);
}

} // namespace

CProgressDialog progressDialog;

const std::array<MessageMapRow<CProgressDialog>, 3> CProgressDialog::messageMap = {{
    {WM_INITDIALOG, 0, 0, &CProgressDialog::OnInitDialog},
    {WM_COMMAND, IDOK, kAnyCode, &CProgressDialog::OnCloseCommand},
    {WM_COMMAND, IDCANCEL, kAnyCode, &CProgressDialog::OnCloseCommand},
}};

CProgressDialog::CProgressDialog() : CDialogBase(IDD_PROGRESS) {}

bool CProgressDialog::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return DispatchToMap<CProgressDialog>(*this, messageMap, message, wParam, lParam, result);
}

LRESULT CProgressDialog::OnInitDialog(UINT, WPARAM, LPARAM) {
    CentreWindow(Window(), GetParent(Window()));
    overallBar = GetDlgItem(Window(), IDC_OVERALL_PROGRESS);
    fileBar = GetDlgItem(Window(), IDC_FILE_PROGRESS);
    fileNameLabel = GetDlgItem(Window(), IDC_PROGRESS_FILE_NAME);
    for (HWND bar : {overallBar, fileBar}) {
        SendMessageW(bar, PBM_SETRANGE32, 0, 100);
        SendMessageW(bar, PBM_SETPOS, 0, 0);
    }
    SetWindowTextA(fileNameLabel, kNoFileText);
    shownOverall_ = 0;
    shownFile_ = 0;
    shownName_ = kNoFileText;
    return TRUE;
}

// Enter, Escape and the close box can reach the window only while a message box of the build
// runs a message loop; they hide it, and the build still destroys it when it ends.
LRESULT CProgressDialog::OnCloseCommand(UINT, WPARAM wParam, LPARAM) {
    EndDialog(LOWORD(wParam));
    return 0;
}

void CProgressDialog::Show() {
    ShowWindow(Window(), SW_SHOWNORMAL);
    UpdateWindow(Window());
}

void CProgressDialog::Update(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent) {
    if (!Window()) {
        return;
    }
    const int overall = ClampPercent(overallPercent);
    const int file = ClampPercent(filePercent);
    std::string name = workspace::LastPathComponent(std::string_view(platform::ToAnsi(FieldText(entry.filename))));
    // The writer calls after every chunk; a package of many small chunks would spend its time
    // painting the same picture again.
    if (overall == shownOverall_ && file == shownFile_ && name == shownName_) {
        return;
    }
    if (overall != shownOverall_) {
        ShowPosition(overallBar, overall);
    }
    if (file != shownFile_) {
        ShowPosition(fileBar, file);
    }
    if (name != shownName_) {
        SetWindowTextA(fileNameLabel, name.c_str());
        UpdateWindow(fileNameLabel);
    }
    shownOverall_ = overall;
    shownFile_ = file;
    shownName_ = std::move(name);
}

std::uint8_t reportBuildProgress(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent) {
    progressDialog.Update(entry, filePercent, overallPercent);
    return 0;
}

} // namespace ui
