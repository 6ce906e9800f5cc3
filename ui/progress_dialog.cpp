// The progress window of the build commands and the callback that drives it.
//
// The writer reports every 4096-byte chunk, tens of thousands of times for an ordinary application,
// and each paint is a round trip to the display (under Wine, to the X server). So the dialog keeps
// the picture it is asked for and paints at most once per screen refresh, changing only the
// controls whose value changed; what it was last asked for is never left unpainted for longer than
// the build goes without reporting, and not at all once the build shows a message or ends.
#include "ui/progress_dialog.h"

#include "platform/text.h"
#include "ui/resource.h"
#include "workspace/paths.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>

namespace ui {

namespace {

constexpr const char* kNoFileText = "[None]";
// One refresh of a 60 Hz screen.
constexpr std::uint64_t kFrameMs = 16;
constexpr UINT_PTR kFrameTimer = 1;

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

std::uint64_t SteadyMilliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

CProgressDialog progressDialog;

const std::array<MessageMapRow<CProgressDialog>, 5> CProgressDialog::messageMap = {{
    {WM_INITDIALOG, 0, 0, &CProgressDialog::OnInitDialog},
    {WM_COMMAND, IDOK, kAnyCode, &CProgressDialog::OnCloseCommand},
    {WM_COMMAND, IDCANCEL, kAnyCode, &CProgressDialog::OnCloseCommand},
    {WM_TIMER, 0, 0, &CProgressDialog::OnFrameTimer},
    {WM_DESTROY, 0, 0, &CProgressDialog::OnDestroy},
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
    shown_ = Picture{0, 0, kNoFileText};
    wanted_ = shown_;
    wantedPath_.reset();
    lastFrame_.reset();
    timerSet_ = false;
    return TRUE;
}

// Enter, Escape and the close box can reach the window only while a message box of the build
// runs a message loop; they hide it, and the build still destroys it when it ends.
LRESULT CProgressDialog::OnCloseCommand(UINT, WPARAM wParam, LPARAM) {
    EndDialog(LOWORD(wParam));
    return 0;
}

// Only a message loop runs the timer: one of the build's message boxes, which must not sit over
// an old picture.
LRESULT CProgressDialog::OnFrameTimer(UINT, WPARAM wParam, LPARAM) {
    if (wParam == kFrameTimer) {
        Flush();
        StopFrameTimer();
    }
    return 0;
}

LRESULT CProgressDialog::OnDestroy(UINT, WPARAM, LPARAM) {
    Flush();
    StopFrameTimer();
    return 0;
}

void CProgressDialog::StopFrameTimer() {
    if (timerSet_) {
        KillTimer(Window(), kFrameTimer);
        timerSet_ = false;
    }
}

void CProgressDialog::Show() {
    ShowWindow(Window(), SW_SHOWNORMAL);
    UpdateWindow(Window());
}

void CProgressDialog::SetFrameClock(FrameClock clock) { clock_ = std::move(clock); }

std::uint64_t CProgressDialog::Now() const { return clock_ ? clock_() : SteadyMilliseconds(); }

void CProgressDialog::Update(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent) {
    if (!Window()) {
        return;
    }
    wanted_.overall = ClampPercent(overallPercent);
    wanted_.file = ClampPercent(filePercent);
    std::u16string_view path = FieldText(entry.filename);
    if (!wantedPath_ || *wantedPath_ != path) {
        wantedPath_.emplace(path);
        wanted_.name = workspace::LastPathComponent(std::string_view(platform::ToAnsi(path)));
    }
    if (wanted_ == shown_) {
        return;
    }
    // The last chunk of the last file: nothing may come after it for a while (the build command).
    const bool last = wanted_.overall == 100 && wanted_.file == 100;
    const std::uint64_t now = Now();
    if (last || !lastFrame_ || now - *lastFrame_ >= kFrameMs) {
        Paint();
        lastFrame_ = now;
    } else if (!timerSet_) {
        timerSet_ = SetTimer(Window(), kFrameTimer, static_cast<UINT>(kFrameMs), nullptr) != 0;
    }
}

void CProgressDialog::Flush() {
    if (Window() && !(wanted_ == shown_)) {
        Paint();
        lastFrame_ = Now();
    }
}

void CProgressDialog::Paint() {
    if (wanted_.overall != shown_.overall) {
        ShowPosition(overallBar, wanted_.overall);
    }
    if (wanted_.file != shown_.file) {
        ShowPosition(fileBar, wanted_.file);
    }
    if (wanted_.name != shown_.name) {
        SetWindowTextA(fileNameLabel, wanted_.name.c_str());
        UpdateWindow(fileNameLabel);
    }
    shown_ = wanted_;
    StopFrameTimer();
}

std::uint8_t reportBuildProgress(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent) {
    progressDialog.Update(entry, filePercent, overallPercent);
    return 0;
}

} // namespace ui
