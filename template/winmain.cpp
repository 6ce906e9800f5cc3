// Template.exe: the installer every built installer is a copy of. It reads the package the tool
// stored in it and installs it, through the wizard or, with /S, without any window.
#include "frame/app_module.h"
#include "package/package.h"
#include "platform/standard_io.h"
#include "template/host_win.h"

#include <windows.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ui::appModule.Init(instance);
    std::vector<std::u16string> arguments;
    std::string unused;
    platform::ProgramArguments(0, nullptr, arguments, unused);
    Package package;
    bool opened = package.OpenResource(u"ORBDATA");
    installer_template::WindowsHost host;
    return installer_template::RunSetup(arguments, package, opened, host);
}
