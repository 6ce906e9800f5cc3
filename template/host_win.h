// The installer's own answers to the setup flow on Windows: message boxes, standard error, the
// user's documents folder and the wizard.
#pragma once

#include "template/setup_flow.h"

namespace installer_template {

class WindowsHost : public SetupHost {
public:
    void ShowError(const std::string& text) override;
    void PrintError(const std::string& line) override;
    void ShowInformation(const std::string& text) override;
    void PrintOutput(const std::string& text) override;
    std::u16string DefaultDestination() override;
    std::u16string InstallerFile() override;
    int RunWizard(Package& package, const Options& options) override;
};

} // namespace installer_template
