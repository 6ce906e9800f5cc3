// Template.exe: the installer every built installer is a copy of. It reads the package the tool
// stored in it and installs it, through the wizard or, with /S, without any window.
#include "package/package.h"
#include "template/host_win.h"
#include "ui/app_module.h"

#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ui::appModule.Init(instance);
    std::vector<std::u16string> arguments;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            arguments.emplace_back(argv[i], argv[i] + wcslen(argv[i]));
        }
        LocalFree(argv);
    }
    Package package;
    bool opened = package.OpenResource(u"ORBDATA");
    setup::WindowsHost host;
    return setup::RunSetup(arguments, package, opened, host);
}
