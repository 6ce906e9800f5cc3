// The installer's own answers to the setup flow on Windows: message boxes, standard error, the
// user's documents folder, the desktop's device software and the wizard.
#pragma once

#include "template/desktop_win.h"
#include "template/setup_flow.h"

namespace installer_template {

class WindowsHost : public SetupHost {
public:
    void ShowError(const std::string& text) override;
    void PrintError(const std::string& line) override;
    void ShowInformation(const std::string& text) override;
    void PrintOutput(const std::string& text) override;
    std::u16string DocumentsFolder() override;
    Desktop* GetDesktop() override { return &desktop_; }
    std::u16string InstallerFile() override;
    int RunWizard(Package& package, const Options& options) override;

private:
    WindowsDesktop desktop_;
};

} // namespace installer_template
