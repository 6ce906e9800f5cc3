// The installer's wizard: one dialog whose pages are groups of its controls, shown one at a time
// beside the sidebar picture. Welcome, the licence (only when the package has one), the
// destination (through the desktop's Application Manager, straight to the connected device, the
// installation file for the device, or the files copied into a folder on this PC) and processor,
// installing with a progress bar, finished.
#pragma once

#include "device/install_write.h"
#include "frame/handles.h"
#include "frame/message_map.h"
#include "frame/window.h"
#include "template/delivery.h"
#include "template/options.h"

#include <memory>
#include <string>

class Package;

namespace installer_template {

enum class Page { Welcome, Licence, Destination, Installing, Finished };

class CWizard : public ui::CDialogBase, private device::InstallObserver, private CopyObserver {
public:
    // `installerFile` names the program where the package gives no name, as in the silent mode;
    // `documents` is where the installation file and the device's folder go by default;
    // `desktop` the device software of this PC (none: only the last two ways).
    CWizard(Package& package, const Options& options, std::u16string documents, std::u16string installerFile = {},
            Desktop* desktop = nullptr);

    // Shows the wizard as a modal dialog and answers the exit status: 0 once everything was
    // installed, 1 when it failed or the user cancelled.
    int Run(HWND owner);

    Page CurrentPage() const { return page_; }
    bool Ended() const { return ended_; }
    int ExitCode() const { return exitCode_; }
    bool HasLicence() const { return hasLicence_; }
    const device::InstallOutcome& Outcome() const { return outcome_; }
    // Whether the Destination page is set to make the installation file rather than copy files.
    bool MakesCabinet() const { return way_ == Way::Cabinet; }
    Way ChosenWay() const { return way_; }
    // The installation file written, once it is.
    const std::u16string& CabinetWritten() const { return cabinetWritten_; }

    LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNext(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnBack(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCancel(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnAcceptClicked(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnBrowse(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnWayClicked(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // The folder browser; tests answer it themselves. False when the user cancelled.
    virtual bool ChooseFolder(std::u16string& folder);
    // Asked when the installation file is there already: true to replace it.
    virtual bool AskToReplace(const std::u16string& path);
    // Called while installing, after the window shows the file being written.
    virtual void InstallStepShown() {}
    // Asked when the user cancels before the end: true to leave the setup.
    virtual bool AskToQuit();

private:
    void FileStarting(const std::u16string& relative, std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
    void Copied(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
    void ShowStep(const std::u16string& status, std::uint64_t done, std::uint64_t total, bool always);
    void PlaceSidebar();
    void ShowPage(Page page);
    void ShowPageTexts(Page page);
    void ShowLicence();
    void ShowWay();
    void KeepFolderOfWay();
    std::u16string* FolderOfWay();
    int WayButton(Way way) const;
    void ShowFamilyLine();
    void Install();
    void MakeCabinet(const std::u16string& folder, std::uint32_t cpu);
    void HandToAppManager(const std::u16string& folder);
    void SendToDevice();
    void Failed(const std::u16string& text, const Error& error);
    void Finish(const std::u16string& text);
    void End(int code);
    void SetText(int id, const std::u16string& text);
    std::u16string Text(int id) const;
    // The program's name, or "the program" where the package gives none; the second form for the
    // start of a sentence.
    std::u16string ProgramName() const;
    std::u16string ProgramNameOpeningASentence() const;

    Package& package_;
    Options options_;
    std::u16string documents_;
    std::u16string installerFile_;
    Desktop* desktop_;
    std::u16string appManager_; // empty: not installed
    bool linked_ = false;       // the connection library is there
    Way way_ = Way::Cabinet;
    // The folder of each way, kept while another is shown.
    std::u16string appManagerFolder_, cabinetFolder_, deviceFolder_;
    std::u16string cabinetWritten_;
    Page page_ = Page::Welcome;
    bool hasLicence_ = false;
    bool modal_ = false;
    bool ended_ = false;
    int exitCode_ = 1;
    device::InstallOutcome outcome_;
    // When the Installing page was last brought up to date; 0 before the first file.
    unsigned long long shownAt_ = 0;
    ui::UniqueBitmap sidebar_;
    std::unique_ptr<std::remove_pointer_t<HFONT>, ui::GdiObjectDeleter> headingFont_;
};

} // namespace installer_template
