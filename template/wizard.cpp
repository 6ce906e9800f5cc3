// The wizard's pages, its buttons and the installation it runs.
#include "template/wizard.h"

#include "device/install_plan.h"
#include "device/layout.h"
#include "frame/app_module.h"
#include "package/package.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/module.h"
#include "platform/text.h"
#include "template/cabinet_run.h"
#include "template/resource.h"

#include <commctrl.h>
#include <shlobj.h>

#include <array>
#include <span>

namespace installer_template {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Narrow(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

// The controls each page shows besides the heading and the introduction, which every page has.
struct PageControls {
    Page page;
    std::array<int, 8> ids; // 0 ends the list
};
constexpr std::array<PageControls, 5> kPages{{
    {Page::Welcome, {}},
    {Page::Licence, {IDC_LICENCE_TEXT, IDC_ACCEPT}},
    {Page::Destination,
     {IDC_WAY_CABINET, IDC_WAY_FOLDER, IDC_DEST_LABEL, IDC_DEST_EDIT, IDC_BROWSE, IDC_CPU_LABEL, IDC_CPU_LIST,
      IDC_DEST_ERROR}},
    {Page::Installing, {IDC_STATUS, IDC_PROGRESS}},
    {Page::Finished, {}},
}};

constexpr int kSidebarWidth = 128;
constexpr int kSidebarHeight = 280;

// The progress bar counts in thousandths, so that packages of any size move it smoothly.
constexpr int kProgressSteps = 1000;

// Painting the page costs more than writing a small file, so with thousands of files the page is
// brought up to date every so many milliseconds rather than for every file: fast enough to look
// alive, and nobody reads names that change faster.
constexpr unsigned long long kRepaintInterval = 50;

constexpr ui::MessageMapRow<CWizard> kMap[] = {
    {WM_INITDIALOG, 0, 0, &CWizard::OnInitDialog},
    {WM_COMMAND, IDC_NEXT, BN_CLICKED, &CWizard::OnNext},
    // Enter presses the default button, which is Next.
    {WM_COMMAND, IDOK, ui::kAnyCode, &CWizard::OnNext},
    {WM_COMMAND, IDC_BACK, BN_CLICKED, &CWizard::OnBack},
    // Escape, the close box and the Cancel button.
    {WM_COMMAND, IDCANCEL, ui::kAnyCode, &CWizard::OnCancel},
    {WM_COMMAND, IDC_ACCEPT, BN_CLICKED, &CWizard::OnAcceptClicked},
    {WM_COMMAND, IDC_BROWSE, BN_CLICKED, &CWizard::OnBrowse},
    {WM_COMMAND, IDC_WAY_CABINET, BN_CLICKED, &CWizard::OnWayClicked},
    {WM_COMMAND, IDC_WAY_FOLDER, BN_CLICKED, &CWizard::OnWayClicked},
};

// Text from a text file written on any system, made fit for a multi-line edit control, which
// breaks lines only at CR LF.
std::wstring WithWindowsLineEnds(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) {
            out += L'\r';
        }
        out += text[i];
    }
    return out;
}

} // namespace

CWizard::CWizard(Package& package, const Options& options, std::u16string defaultDestination,
                 std::u16string installerFile)
    : CDialogBase(IDD_WIZARD), package_(package), options_(options), defaultDestination_(std::move(defaultDestination)),
      installerFile_(std::move(installerFile)) {}

int CWizard::Run(HWND owner) {
    modal_ = true;
    INT_PTR answer = DoModal(owner);
    return answer == -1 ? 1 : exitCode_;
}

bool CWizard::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return ui::DispatchToMap<CWizard>(*this, std::span<const ui::MessageMapRow<CWizard>>(kMap), message, wParam, lParam,
                                      result);
}

std::u16string CWizard::ProgramName() const {
    std::u16string name(FieldText(package_.GetHeader().programName));
    return name.empty() ? u"the program" : name;
}

std::u16string CWizard::ProgramNameOpeningASentence() const {
    std::u16string name(FieldText(package_.GetHeader().programName));
    return name.empty() ? u"The program" : name;
}

void CWizard::SetText(int id, const std::u16string& text) { SetDlgItemTextW(Window(), id, Wide(text).c_str()); }

std::u16string CWizard::Text(int id) const {
    HWND control = GetDlgItem(Window(), id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

LRESULT CWizard::OnInitDialog(UINT, WPARAM, LPARAM) {
    HWND window = Window();
    std::u16string name(FieldText(package_.GetHeader().programName));
    SetWindowTextW(window, Wide(name.empty() ? u"Setup" : name + u" Setup").c_str());
    SendMessageW(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(ui::appModule.GetResourceInstance(), MAKEINTRESOURCEW(IDI_SETUP))));

    PlaceSidebar();

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    font.lfWeight = FW_BOLD;
    font.lfHeight = font.lfHeight * 4 / 3;
    headingFont_.reset(CreateFontIndirectW(&font));
    SendDlgItemMessageW(window, IDC_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(headingFont_.get()), FALSE);

    // A folder given with /D= presets copying; otherwise the installation file comes first. Its
    // folder defaults to the one the device's folder would be made in: the user's documents.
    cabinetWay_ = options_.destination.empty();
    deviceFolder_ = options_.destination.empty() ? defaultDestination_ : options_.destination;
    cabinetFolder_ = options_.cabinetFolder;
    if (cabinetFolder_.empty()) {
        cabinetFolder_ = platform::FromFsPath(platform::FsPath(defaultDestination_).parent_path());
    }
    CheckRadioButton(window, IDC_WAY_CABINET, IDC_WAY_FOLDER, cabinetWay_ ? IDC_WAY_CABINET : IDC_WAY_FOLDER);
    ShowWay();
    HWND cpuList = GetDlgItem(window, IDC_CPU_LIST);
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        auto row = SendMessageW(cpuList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(choice.name).c_str()));
        if (choice.flag == options_.cpuFlag || (options_.cpuFlag == 0 && choice.flag == FLAG_ARM)) {
            SendMessageW(cpuList, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
        }
    }
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressSteps);
    ShowLicence();
    ShowPage(Page::Welcome);
    ui::CentreWindow(window);
    return TRUE;
}

void CWizard::PlaceSidebar() {
    HWND window = Window();
    sidebar_.reset(static_cast<HBITMAP>(
        LoadImageW(ui::appModule.GetResourceInstance(), MAKEINTRESOURCEW(IDB_SIDEBAR), IMAGE_BITMAP, 0, 0, 0)));
    HWND picture = GetDlgItem(window, IDC_SIDEBAR);
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(sidebar_.get()));
    SetWindowPos(picture, nullptr, 0, 0, kSidebarWidth, kSidebarHeight, SWP_NOZORDER | SWP_NOACTIVATE);

    // The picture keeps its size in pixels while the rest of the layout follows the dialog's
    // font; where a small font leaves the button strip overlapping the picture, the strip and the
    // window move down.
    RECT separator;
    GetWindowRect(GetDlgItem(window, IDC_SEPARATOR), &separator);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&separator), 2);
    int shift = kSidebarHeight + 1 - separator.top;
    if (shift <= 0) {
        return;
    }
    for (int id : {IDC_SEPARATOR, IDC_BACK, IDC_NEXT, IDCANCEL}) {
        HWND control = GetDlgItem(window, id);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(control, nullptr, r.left, r.top + shift, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame;
    GetWindowRect(window, &frame);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + shift,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWizard::ShowLicence() {
    HWND edit = GetDlgItem(Window(), IDC_LICENCE_TEXT);
    // The licence is the first file ticked as one, even when it is also installed for some
    // processors; it is shown whichever processor is chosen later.
    hasLicence_ = false;
    std::int32_t licence = device::LicenceMember(package_);
    PackageEntry entry{};
    if (licence >= 0 && package_.GetEntry(static_cast<std::uint32_t>(licence), &entry)) {
        std::string text(std::size_t{entry.size} + 1, '\0');
        hasLicence_ =
            (entry.size == 0 || package_.ReadMember(licence, text.data(), static_cast<std::int32_t>(entry.size + 1))) &&
            SetWindowTextA(edit, text.c_str()) != 0;
    }
    if (hasLicence_) {
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        SetWindowTextW(edit, WithWindowsLineEnds(text).c_str());
    }
}

void CWizard::ShowPage(Page page) {
    HWND window = Window();
    page_ = page;
    for (const PageControls& p : kPages) {
        for (int id : p.ids) {
            if (id != 0) {
                ShowWindow(GetDlgItem(window, id), p.page == page ? SW_SHOW : SW_HIDE);
            }
        }
    }
    // The introduction takes the whole page where no other control needs the room.
    RECT intro{96, 30, 322, page == Page::Welcome || page == Page::Finished ? 165 : 50};
    MapDialogRect(window, &intro);
    SetWindowPos(GetDlgItem(window, IDC_INTRO), nullptr, intro.left, intro.top, intro.right - intro.left,
                 intro.bottom - intro.top, SWP_NOZORDER | SWP_NOACTIVATE);
    bool acceptance = page != Page::Licence || IsDlgButtonChecked(window, IDC_ACCEPT) == BST_CHECKED;
    // After a failure the user may go back and choose another folder or way.
    EnableWindow(GetDlgItem(window, IDC_BACK), page == Page::Licence || page == Page::Destination ||
                                                   (page == Page::Finished && !outcome_.Complete()));
    EnableWindow(GetDlgItem(window, IDC_NEXT), page != Page::Installing && acceptance);
    EnableWindow(GetDlgItem(window, IDCANCEL), page != Page::Installing);
    ShowWindow(GetDlgItem(window, IDCANCEL), page == Page::Finished ? SW_HIDE : SW_SHOW);
    SetText(IDC_NEXT, page == Page::Destination ? u"&Install" : page == Page::Finished ? u"&Finish" : u"&Next >");
    ShowPageTexts(page);
    // The default button loses its look when it is disabled; the focus goes where typing helps.
    HWND focus = page == Page::Destination ? GetDlgItem(window, IDC_DEST_EDIT)
                 : page == Page::Licence   ? GetDlgItem(window, IDC_LICENCE_TEXT)
                                           : GetDlgItem(window, IDC_NEXT);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    if (page == Page::Licence) {
        // Focusing an edit control selects all of it; the agreement is for reading.
        SendMessageW(focus, EM_SETSEL, 0, 0);
    }
}

void CWizard::ShowPageTexts(Page page) {
    std::u16string program = ProgramName();
    switch (page) {
    case Page::Welcome:
        SetText(IDC_HEADING, u"Welcome to the setup of " + program);
        SetText(IDC_INTRO, u"This wizard installs " + program +
                               u" for a Pocket PC.\r\n\r\nIt makes the installation file that the device "
                               u"opens, or copies the files into a folder on this PC that stands for the device's "
                               u"root, laid out as they belong on the device.\r\n\r\n"
                               u"Click Next to continue, or Cancel to leave the setup.");
        break;
    case Page::Licence:
        SetText(IDC_HEADING, u"Licence Agreement");
        SetText(IDC_INTRO, u"Please read the agreement below. You must accept it to install " + program + u".");
        break;
    case Page::Destination:
        SetText(IDC_HEADING, u"Destination");
        SetText(IDC_INTRO, u"Choose how to install, where on this PC, and the processor of the device. "
                           u"Click Install to start.");
        break;
    case Page::Installing:
        SetText(IDC_HEADING, u"Installing");
        SetText(IDC_INTRO, u"Please wait while " + program + u" is installed.");
        break;
    case Page::Finished:
        SetText(IDC_HEADING, outcome_.Complete() ? u"Setup is complete" : u"Setup failed");
        break;
    }
}

LRESULT CWizard::OnNext(UINT, WPARAM, LPARAM) {
    switch (page_) {
    case Page::Welcome:
        ShowPage(hasLicence_ ? Page::Licence : Page::Destination);
        break;
    case Page::Licence:
        if (IsDlgButtonChecked(Window(), IDC_ACCEPT) == BST_CHECKED) {
            ShowPage(Page::Destination);
        }
        break;
    case Page::Destination:
        Install();
        break;
    case Page::Installing:
        break;
    case Page::Finished:
        End(outcome_.Complete() ? 0 : 1);
        break;
    }
    return 0;
}

LRESULT CWizard::OnBack(UINT, WPARAM, LPARAM) {
    if (page_ == Page::Licence) {
        ShowPage(Page::Welcome);
    } else if (page_ == Page::Destination) {
        ShowPage(hasLicence_ ? Page::Licence : Page::Welcome);
    } else if (page_ == Page::Finished && !outcome_.Complete()) {
        ShowPage(Page::Destination);
    }
    return 0;
}

LRESULT CWizard::OnCancel(UINT, WPARAM, LPARAM) {
    // Nothing is half done outside the Installing page, which cannot be left until it ends.
    if (page_ == Page::Finished) {
        End(outcome_.Complete() ? 0 : 1);
    } else if (page_ != Page::Installing) {
        End(1);
    }
    return 0;
}

LRESULT CWizard::OnAcceptClicked(UINT, WPARAM, LPARAM) {
    if (page_ == Page::Licence) {
        EnableWindow(GetDlgItem(Window(), IDC_NEXT), IsDlgButtonChecked(Window(), IDC_ACCEPT) == BST_CHECKED);
    }
    return 0;
}

void CWizard::ShowWay() {
    SetText(IDC_DEST_LABEL, cabinetWay_ ? u"&Folder to write the installation file in:"
                                        : u"&Folder standing for the device's root on this PC:");
    SetText(IDC_DEST_EDIT, cabinetWay_ ? cabinetFolder_ : deviceFolder_);
    SetText(IDC_DEST_ERROR, u"");
}

void CWizard::KeepFolderOfWay() { (cabinetWay_ ? cabinetFolder_ : deviceFolder_) = Text(IDC_DEST_EDIT); }

LRESULT CWizard::OnWayClicked(UINT, WPARAM, LPARAM) {
    bool cabinet = IsDlgButtonChecked(Window(), IDC_WAY_CABINET) == BST_CHECKED;
    if (cabinet != cabinetWay_) {
        KeepFolderOfWay();
        cabinetWay_ = cabinet;
        ShowWay();
    }
    return 0;
}

LRESULT CWizard::OnBrowse(UINT, WPARAM, LPARAM) {
    std::u16string folder = Text(IDC_DEST_EDIT);
    if (ChooseFolder(folder)) {
        SetText(IDC_DEST_EDIT, folder);
    }
    return 0;
}

bool CWizard::ChooseFolder(std::u16string& folder) {
    BROWSEINFOW info{};
    info.hwndOwner = Window();
    info.lpszTitle = cabinetWay_ ? L"Choose the folder to write the installation file in:"
                                 : L"Choose the folder that stands for the device's root:";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    bool ok = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (ok) {
        folder = Narrow(path);
    }
    return ok;
}

void CWizard::Install() {
    std::u16string destination = Text(IDC_DEST_EDIT);
    while (!destination.empty() && destination.back() == u' ') {
        destination.pop_back();
    }
    if (destination.empty()) {
        SetText(IDC_DEST_ERROR, u"Choose a folder first.");
        return;
    }
    SetText(IDC_DEST_ERROR, u"");
    auto row = SendDlgItemMessageW(Window(), IDC_CPU_LIST, CB_GETCURSEL, 0, 0);
    if (row < 0 || row >= 4) {
        row = 0;
    }
    std::uint32_t cpu = device::kCpuChoices[row].flag;
    KeepFolderOfWay();
    if (cabinetWay_) {
        MakeCabinet(destination, cpu);
        return;
    }

    device::InstallPlan plan;
    Error error;
    if (!device::PlanInstall(package_, cpu, plan, error)) {
        outcome_ = device::InstallOutcome{};
        outcome_.error = error;
        Finish(u"Nothing was installed: " + platform::ToUtf16(error.message));
        return;
    }
    if (plan.files.empty()) {
        // A failure, not an install of nothing: the heading says so and Back leads to the choices.
        outcome_ = device::InstallOutcome{};
        outcome_.error = Refusal("this package holds no file for devices with the chosen processor");
        Finish(u"This package holds no file for devices with the " + std::u16string(device::kCpuChoices[row].name) +
               u" processor; nothing was installed.");
        return;
    }
    ShowPage(Page::Installing);
    shownAt_ = 0;
    outcome_ = device::WriteInstall(package_, plan, destination, this);
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
    if (outcome_.Complete()) {
        std::u16string where = device::JoinDevicePath(destination, plan.deviceFolder);
        Finish(ProgramNameOpeningASentence() + u" has been installed: " +
               platform::ToUtf16(std::to_string(outcome_.filesWritten)) +
               u" files were written into the folder that stands for the device,\r\n" + destination +
               u"\r\n\r\nThe program itself is in\r\n" + where + u"\r\n\r\nClick Finish to close the setup.");
    } else {
        Finish(u"The installation stopped after " + platform::ToUtf16(std::to_string(outcome_.filesWritten)) + u" of " +
               platform::ToUtf16(std::to_string(outcome_.filesPlanned)) + u" files:\r\n" +
               platform::ToUtf16(outcome_.error.Line()));
    }
}

void CWizard::MakeCabinet(const std::u16string& folder, std::uint32_t cpu) {
    CabinetJob job;
    Error error;
    cabinetWritten_.clear();
    if (!PlanCabinet(package_, installerFile_, cpu, folder, options_.device, job, error)) {
        outcome_ = device::InstallOutcome{};
        outcome_.error = error;
        Finish(u"No installation file was written: " + platform::ToUtf16(error.Line()) + u".");
        return;
    }
    // Replacing the file is the user's call; No leaves the page as it is, to choose again.
    if (platform::Examine(job.path) != platform::PathKind::Missing && !AskToReplace(job.path)) {
        return;
    }
    ShowPage(Page::Installing);
    shownAt_ = 0;
    FileStarting(platform::FromFsPath(platform::FsPath(job.path).filename()), 0, 1);
    outcome_ = device::InstallOutcome{};
    outcome_.filesPlanned = 1;
    if (!WriteCabinetJob(package_, job, outcome_.error)) {
        SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
        Finish(u"No installation file was written:\r\n" + platform::ToUtf16(outcome_.error.Line()));
        return;
    }
    outcome_.filesWritten = 1;
    cabinetWritten_ = job.path;
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
    Finish(u"The installation file for the device has been written:\r\n" + job.path + u"\r\n\r\nTo install " +
           ProgramName() +
           u", copy this file onto the device (unless that folder is on the device already), then tap it in "
           u"File Explorer on the device.\r\n\r\nClick Finish to close the setup.");
}

bool CWizard::AskToReplace(const std::u16string& path) {
    std::u16string text = path + u"\r\nis there already. Do you want to replace it?";
    return MessageBoxW(Window(), Wide(text).c_str(), L"Setup", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void CWizard::FileStarting(const std::u16string& relative, std::uint64_t bytesDone, std::uint64_t bytesTotal) {
    const unsigned long long now = GetTickCount64();
    if (shownAt_ != 0 && now - shownAt_ < kRepaintInterval) {
        return;
    }
    shownAt_ = now;
    SetText(IDC_STATUS, u"Writing " + relative);
    auto position = bytesTotal == 0 ? 0 : static_cast<WPARAM>(bytesDone * kProgressSteps / bytesTotal);
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, position, 0);
    // The installation runs on the window's own thread; the page is redrawn here, not by the
    // message loop, which does not run again until it ends.
    RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    InstallStepShown();
}

void CWizard::Finish(const std::u16string& text) {
    ShowPage(Page::Finished);
    SetText(IDC_INTRO, text);
}

void CWizard::End(int code) {
    exitCode_ = code;
    ended_ = true;
    if (modal_) {
        EndDialog(code);
    }
}

} // namespace installer_template
