// The program's entry point: start-up, the single-instance check, the splash, the main window and
// the message loop, whose quit code is the program's exit code.
#include "frame/app_module.h"
#include "ui/main_window.h"
#include "ui/resource.h"
#include "ui/splash.h"

#include <commctrl.h>
#include <objbase.h>

namespace {

ui::CMainWindow mainWindow;

constexpr UINT kSplashDisplayTime = 2500;
// The splash is shown while the thread sleeps, so that it is seen even on a fast machine.
constexpr DWORD kSplashHold = 1500;

void InitCommonControlClasses(DWORD classes) {
    INITCOMMONCONTROLSEX controls{sizeof controls, classes};
    InitCommonControlsEx(&controls);
}

int Run(int showMode) {
    ui::CMessageLoop loop;
    ui::MessageLoopRegistration registration(loop);
    InitCommonControlClasses(ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS);

    if (HWND running = FindWindowW(ui::kDialogClassName, ui::kMainWindowTitle)) {
        SetForegroundWindow(running);
        return 0;
    }

    ui::CSplashWindow::Show(IDB_SPLASH, kSplashDisplayTime, nullptr);
    Sleep(kSplashHold);

    HWND window = mainWindow.Create(nullptr);
    if (!window) {
        return 0;
    }
    ShowWindow(window, showMode);
    return loop.Run();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showMode) {
    CoInitialize(nullptr);
    InitCommonControlClasses(ICC_COOL_CLASSES | ICC_BAR_CLASSES);
    ui::appModule.Init(instance);
    int exitCode = Run(showMode);
    ui::appModule.Term();
    CoUninitialize();
    return exitCode;
}
