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
constexpr std::array<int, 3> kFolderControls{IDC_DEST_LABEL, IDC_DEST_EDIT, IDC_BROWSE};
constexpr std::array<int, 3> kProcessorControls{IDC_CPU_LABEL, IDC_CPU_LIST, IDC_CPU_NOTE};

// Which devices each family fits, for the owner who does not know the processor of theirs.
struct FamilyDevices {
    std::uint32_t flag;
    const char16_t* devices;
};
constexpr FamilyDevices kFamilyDevices[] = {
    {FLAG_ARM, u"Most Pocket PCs and Windows Mobile devices since 2002."},
    {FLAG_MIPS, u"Early Pocket PCs (2000 and 2001) with a MIPS processor."},
    {FLAG_SHX, u"Early Pocket PCs (2000 and 2001) with a Hitachi SH3 processor."},
    {FLAG_INTEL, u"Windows CE devices and emulators with an x86 processor."},
};

// While the Application Manager is not installed, the wizard does not wait on a device that may
// not be there: a device already connected answers well within this.
constexpr unsigned kProbeMilliseconds = 1500;
constexpr std::array<PageControls, 5> kPages{{
    {Page::Welcome, {}},
    {Page::Licence, {IDC_LICENCE_TEXT, IDC_ACCEPT}},
    // The folder and the processor are shown as the way takes them (ShowWay).
    {Page::Destination, {IDC_WAY_APPMGR, IDC_WAY_DEVICE, IDC_WAY_CABINET, IDC_WAY_FOLDER, IDC_WAY_NOTE, IDC_DEST_ERROR}},
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
    {WM_COMMAND, IDC_WAY_APPMGR, BN_CLICKED, &CWizard::OnWayClicked},
    {WM_COMMAND, IDC_WAY_DEVICE, BN_CLICKED, &CWizard::OnWayClicked},
    {WM_COMMAND, IDC_CPU_LIST, CBN_SELCHANGE, &CWizard::OnWayClicked},
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

CWizard::CWizard(Package& package, const Options& options, std::u16string documents, std::u16string installerFile,
                 Desktop* desktop)
    : CDialogBase(IDD_WIZARD), package_(package), options_(options), documents_(std::move(documents)),
      installerFile_(std::move(installerFile)), desktop_(desktop) {
    // The way asked for on the command line where this PC can take it, else the first it can.
    // Chosen before there is a window: asking for a device takes a moment, in which a window
    // would already take clicks while not yet shown.
    appManager_ = desktop_ ? desktop_->AppManager() : std::u16string();
    linked_ = desktop_ && desktop_->Link();
    Way preset = options_.way;
    bool presetGiven = options_.wayGiven || !options_.destination.empty() || !options_.cabinetFolder.empty();
    if (!options_.wayGiven) {
        preset = options_.destination.empty() ? Way::Cabinet : Way::Folder;
    }
    bool presetTaken = presetGiven && (preset != Way::AppManager || !appManager_.empty()) &&
                       (preset != Way::Device || linked_);
    way_ = presetTaken ? preset : FirstWay(desktop_, kProbeMilliseconds);
}

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

    std::u16string stem = ProgramStem(package_, installerFile_);
    appManagerFolder_ = options_.appManagerFolder.empty() && !appManager_.empty()
                            ? desktop_->AppManagerFolder(appManager_, stem)
                            : options_.appManagerFolder;
    deviceFolder_ = options_.destination.empty() ? platform::JoinHostPath(documents_, stem) : options_.destination;
    cabinetFolder_ = options_.cabinetFolder.empty() ? documents_ : options_.cabinetFolder;
    // A way this PC cannot take is shown disabled, and says why.
    EnableWindow(GetDlgItem(window, IDC_WAY_APPMGR), !appManager_.empty());
    EnableWindow(GetDlgItem(window, IDC_WAY_DEVICE), linked_);
    if (appManager_.empty()) {
        SetText(IDC_WAY_APPMGR, u"Through the Application Manager: not installed on this PC");
    }
    if (!linked_) {
        SetText(IDC_WAY_DEVICE, u"Straight to the connected device: no connection software");
    }
    for (Way way : {Way::AppManager, Way::Device, Way::Cabinet, Way::Folder}) {
        CheckDlgButton(window, WayButton(way), way == way_ ? BST_CHECKED : BST_UNCHECKED);
    }
    // Only the families the package holds files for: a device of another cannot run the program.
    // A package refused is refused at Install, with the reason, whichever family is chosen.
    HWND cpuList = GetDlgItem(window, IDC_CPU_LIST);
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        device::InstallPlan plan;
        Error ignored;
        if (device::PlanInstall(package_, choice.flag, plan, ignored) && plan.files.empty()) {
            continue;
        }
        auto row = SendMessageW(cpuList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(choice.name).c_str()));
        SendMessageW(cpuList, CB_SETITEMDATA, static_cast<WPARAM>(row), choice.flag);
        if (choice.flag == options_.cpuFlag || SendMessageW(cpuList, CB_GETCURSEL, 0, 0) < 0) {
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
    RECT intro{96, 30, 322, page == Page::Welcome || page == Page::Finished ? 165 : 48};
    MapDialogRect(window, &intro);
    SetWindowPos(GetDlgItem(window, IDC_INTRO), nullptr, intro.left, intro.top, intro.right - intro.left,
                 intro.bottom - intro.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (page == Page::Destination) {
        ShowWay();
    } else {
        for (int id : kFolderControls) {
            ShowWindow(GetDlgItem(window, id), SW_HIDE);
        }
        for (int id : kProcessorControls) {
            ShowWindow(GetDlgItem(window, id), SW_HIDE);
        }
    }
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
    HWND focus = page == Page::Destination ? GetDlgItem(window, way_ == Way::Device ? WayButton(way_) : IDC_DEST_EDIT)
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
                               u" for a Pocket PC.\r\n\r\nIt hands the application to the Application Manager "
                               u"of ActiveSync or Windows Mobile Device Center, copies it straight to the connected "
                               u"device, makes the installation file that the device opens, or copies the files into "
                               u"a folder on this PC that stands for the device's root.\r\n\r\n"
                               u"Click Next to continue, or Cancel to leave the setup.");
        break;
    case Page::Licence:
        SetText(IDC_HEADING, u"Licence Agreement");
        SetText(IDC_INTRO, u"Please read the agreement below. You must accept it to install " + program + u".");
        break;
    case Page::Destination:
        SetText(IDC_HEADING, u"Destination");
        SetText(IDC_INTRO, u"Choose how to install " + program + u", then click Install.");
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
    } else if (page_ != Page::Installing && AskToQuit()) {
        End(1);
    }
    return 0;
}

bool CWizard::AskToQuit() {
    std::u16string text = ProgramNameOpeningASentence() + u" has not been installed. Do you want to leave the setup?";
    return MessageBoxW(Window(), Wide(text).c_str(), L"Setup", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

LRESULT CWizard::OnAcceptClicked(UINT, WPARAM, LPARAM) {
    if (page_ == Page::Licence) {
        EnableWindow(GetDlgItem(Window(), IDC_NEXT), IsDlgButtonChecked(Window(), IDC_ACCEPT) == BST_CHECKED);
    }
    return 0;
}

int CWizard::WayButton(Way way) const {
    switch (way) {
    case Way::AppManager:
        return IDC_WAY_APPMGR;
    case Way::Device:
        return IDC_WAY_DEVICE;
    case Way::Cabinet:
        return IDC_WAY_CABINET;
    case Way::Folder:
        break;
    }
    return IDC_WAY_FOLDER;
}

std::u16string* CWizard::FolderOfWay() {
    switch (way_) {
    case Way::AppManager:
        return &appManagerFolder_;
    case Way::Device:
        return nullptr;
    case Way::Cabinet:
        return &cabinetFolder_;
    case Way::Folder:
        break;
    }
    return &deviceFolder_;
}

void CWizard::ShowWay() {
    HWND window = Window();
    std::u16string* folder = FolderOfWay();
    bool processor = way_ == Way::Cabinet || way_ == Way::Folder;
    bool shown = page_ == Page::Destination;
    for (int id : kFolderControls) {
        ShowWindow(GetDlgItem(window, id), shown && folder ? SW_SHOW : SW_HIDE);
    }
    for (int id : kProcessorControls) {
        ShowWindow(GetDlgItem(window, id), shown && processor ? SW_SHOW : SW_HIDE);
    }
    std::u16string note;
    switch (way_) {
    case Way::AppManager:
        SetText(IDC_DEST_LABEL, u"&Folder the Application Manager installs from (it stays):");
        note = u"The Application Manager installs the file that fits your device now, or when you next connect it.";
        break;
    case Way::Device:
        note = u"Setup asks the connected device for its processor, copies the file that fits onto it and "
               u"starts the installation there.";
        break;
    case Way::Cabinet:
        SetText(IDC_DEST_LABEL, u"&Folder to write the installation file in:");
        note = u"You copy this file onto the device and tap it there.";
        break;
    case Way::Folder:
        SetText(IDC_DEST_LABEL, u"&Folder standing for the device's root on this PC:");
        note = u"The files are laid out as they belong on the device.";
        break;
    }
    SetText(IDC_WAY_NOTE, note);
    if (folder) {
        SetText(IDC_DEST_EDIT, *folder);
    }
    SetText(IDC_DEST_ERROR, u"");
    ShowFamilyLine();
}

void CWizard::ShowFamilyLine() {
    auto row = SendDlgItemMessageW(Window(), IDC_CPU_LIST, CB_GETCURSEL, 0, 0);
    auto flag = row < 0 ? 0 : SendDlgItemMessageW(Window(), IDC_CPU_LIST, CB_GETITEMDATA, static_cast<WPARAM>(row), 0);
    std::u16string line;
    for (const FamilyDevices& family : kFamilyDevices) {
        if (static_cast<LRESULT>(family.flag) == flag) {
            line = family.devices;
        }
    }
    SetText(IDC_CPU_NOTE, line);
}

void CWizard::KeepFolderOfWay() {
    if (std::u16string* folder = FolderOfWay()) {
        *folder = Text(IDC_DEST_EDIT);
    }
}

LRESULT CWizard::OnWayClicked(UINT, WPARAM, LPARAM) {
    Way chosen = way_;
    for (Way way : {Way::AppManager, Way::Device, Way::Cabinet, Way::Folder}) {
        if (IsDlgButtonChecked(Window(), WayButton(way)) == BST_CHECKED) {
            chosen = way;
        }
    }
    if (chosen != way_) {
        KeepFolderOfWay();
        way_ = chosen;
    }
    ShowWay();
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
    info.lpszTitle = way_ == Way::AppManager ? L"Choose the folder the Application Manager installs from:"
                     : way_ == Way::Cabinet  ? L"Choose the folder to write the installation file in:"
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
    KeepFolderOfWay();
    if (way_ == Way::Device) {
        SendToDevice();
        return;
    }
    std::u16string destination = Text(IDC_DEST_EDIT);
    while (!destination.empty() && destination.back() == u' ') {
        destination.pop_back();
    }
    if (destination.empty()) {
        SetText(IDC_DEST_ERROR, u"Choose a folder first.");
        return;
    }
    SetText(IDC_DEST_ERROR, u"");
    if (way_ == Way::AppManager) {
        HandToAppManager(destination);
        return;
    }
    auto row = SendDlgItemMessageW(Window(), IDC_CPU_LIST, CB_GETCURSEL, 0, 0);
    if (row < 0) {
        Failed(u"Nothing was installed: ", Refusal("this package holds no file for any processor"));
        return;
    }
    auto cpu = static_cast<std::uint32_t>(SendDlgItemMessageW(Window(), IDC_CPU_LIST, CB_GETITEMDATA,
                                                              static_cast<WPARAM>(row), 0));
    const device::CpuChoice* family = device::CpuChoiceOf(cpu);
    if (way_ == Way::Cabinet) {
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
        Finish(u"This package holds no file for devices with the " + std::u16string(family ? family->name : u"") +
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

void CWizard::Failed(const std::u16string& text, const Error& error) {
    outcome_ = device::InstallOutcome{};
    outcome_.filesPlanned = 1;
    outcome_.error = error;
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
    Finish(text + platform::ToUtf16(error.Line()) + u".");
}

void CWizard::HandToAppManager(const std::u16string& folder) {
    AppManagerJob job;
    Error error;
    if (!PlanAppManager(package_, installerFile_, folder, options_.device, job, error)) {
        Failed(u"Nothing was handed to the Application Manager: ", error);
        return;
    }
    ShowPage(Page::Installing);
    ShowStep(u"Writing the installation files into " + folder, 0, 1, true);
    if (!WriteAppManagerJob(package_, job, error)) {
        Failed(u"Nothing was handed to the Application Manager: ", error);
        return;
    }
    ShowStep(u"Waiting for the Application Manager", 1, 2, true);
    std::uint32_t exitCode = 0;
    if (!desktop_->RunAppManager(appManager_, job.ini, exitCode, error) || exitCode != 0) {
        if (!error) {
            error = Refusal("it ended with exit status " + std::to_string(exitCode));
            error.subject = "the Application Manager";
        }
        Failed(u"The Application Manager did not take " + ProgramName() + u":\r\n", error);
        return;
    }
    outcome_ = device::InstallOutcome{};
    outcome_.filesPlanned = outcome_.filesWritten = static_cast<std::uint32_t>(job.cabinets.size());
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
    Finish(ProgramNameOpeningASentence() +
           u" has been handed to the Application Manager: the application is installed on your device now, or "
           u"when you next connect it.\r\n\r\nThe installation files stay in\r\n" +
           folder + u"\r\nfrom where the Application Manager can install them again.\r\n\r\n"
                    u"Click Finish to close the setup.");
}

void CWizard::SendToDevice() {
    ShowPage(Page::Installing);
    ShowStep(u"Connecting to the device", 0, 1, true);
    DeviceDelivery delivered;
    Error error;
    if (!desktop_ || !installer_template::SendToDevice(package_, installerFile_, options_.device, *desktop_, this,
                                                       delivered, error)) {
        if (!desktop_) {
            error = Refusal("the desktop's connection software for devices is not installed on this PC");
        }
        Failed(u"Nothing was installed on the device: ", error);
        return;
    }
    outcome_ = device::InstallOutcome{};
    outcome_.filesPlanned = outcome_.filesWritten = 1;
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressSteps, 0);
    Finish(u"The installation file for devices with the " + std::u16string(delivered.family->name) +
           u" processor has been copied to the device as\r\n" + delivered.devicePath +
           u"\r\nand the device's installer has been started on it.\r\n\r\nFinish the installation on the device: "
           u"it may ask where to install and whether to trust the program.\r\n\r\nClick Finish to close the "
           u"setup.");
}

void CWizard::Copied(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
    ShowStep(u"Copying to the device", bytesDone, bytesTotal, bytesDone == 0 || bytesDone == bytesTotal);
}

bool CWizard::AskToReplace(const std::u16string& path) {
    std::u16string text = path + u"\r\nis there already. Do you want to replace it?";
    return MessageBoxW(Window(), Wide(text).c_str(), L"Setup", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void CWizard::FileStarting(const std::u16string& relative, std::uint64_t bytesDone, std::uint64_t bytesTotal) {
    ShowStep(u"Writing " + relative, bytesDone, bytesTotal, false);
}

void CWizard::ShowStep(const std::u16string& status, std::uint64_t done, std::uint64_t total, bool always) {
    const unsigned long long now = GetTickCount64();
    if (!always && shownAt_ != 0 && now - shownAt_ < kRepaintInterval) {
        return;
    }
    shownAt_ = now;
    SetText(IDC_STATUS, status);
    auto position = total == 0 ? 0 : static_cast<WPARAM>(done * kProgressSteps / total);
    SendDlgItemMessageW(Window(), IDC_PROGRESS, PBM_SETPOS, position, 0);
    // The installation runs on the window's own thread; the page is redrawn here, not by the
    // message loop, which does not run again until it ends.
    RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    InstallStepShown();
}

void CWizard::Finish(const std::u16string& text) {
    ShowPage(Page::Finished);
    // Paths have no blanks for the control to break at: the lines are broken here, at their
    // separators, to the width of the page.
    HWND intro = GetDlgItem(Window(), IDC_INTRO);
    RECT area;
    GetClientRect(intro, &area);
    HDC dc = GetDC(intro);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(intro, WM_GETFONT, 0, 0)));
    auto measure = [](std::u16string_view line, void* context) {
        SIZE size{};
        std::wstring wide(line.begin(), line.end());
        GetTextExtentPoint32W(static_cast<HDC>(context), wide.c_str(), static_cast<int>(wide.size()), &size);
        return static_cast<int>(size.cx);
    };
    std::u16string wrapped = WrapLines(text, area.right - area.left, measure, dc);
    SelectObject(dc, old);
    ReleaseDC(intro, dc);
    SetText(IDC_INTRO, wrapped);
}

void CWizard::End(int code) {
    exitCode_ = code;
    ended_ = true;
    if (modal_) {
        EndDialog(code);
    }
}

} // namespace installer_template
