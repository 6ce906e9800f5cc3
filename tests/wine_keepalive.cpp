// Started in the background before the Windows tests run under Wine: it keeps one hidden window
// until the Wine server is shut down. The first Wine program of a session starts Wine's own
// service and desktop processes, which inherit its standard error; when that first program is a
// test, ctest waits on those processes long after the test has ended. Once its window is up (and
// with it Wine's processes) it creates the file its command line names, so that the caller waits
// for that rather than for a guessed time.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    HWND window =
        CreateWindowExW(0, L"STATIC", L"Tarvelo test session", 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window) {
        return 1;
    }
    if (commandLine && *commandLine) {
        HANDLE ready =
            CreateFileA(commandLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready != INVALID_HANDLE_VALUE) {
            CloseHandle(ready);
        }
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
