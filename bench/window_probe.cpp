// window-probe: tells the Wine benchmark (bench/wine) when the running main window has finished a
// drop, an Open or a build. The window takes no messages while it works, so a message sent to it
// from another process is answered only once the command has returned to the message loop: the
// time of that answer is when the user can use the window again. Times are printed as seconds
// since the epoch, the clock the benchmark's other steps read, so that intervals can be taken
// across processes.
//
// Usage: window-probe until TEXT     the status bar reads TEXT and the window answers
//        window-probe build          the progress window has come and the window answers again
//        window-probe state          the status bar's text and the file list's number of rows
// "until" and "build" print "ready" as soon as they watch, then "at SECONDS" when it happened.
// Exit status: 0 when it happened, 1 on a timeout or without a main window, 2 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr const wchar_t* kDialogClass = L"#32770";
constexpr const wchar_t* kMainTitle = L"Tarvelo Installer";
constexpr const wchar_t* kProgressTitle = L"Tarvelo Installer Progress";
constexpr int kStatusBarId = 59393;
constexpr int kFileListId = 1001;
// A command over 40,000 files may keep the window busy for minutes before our changes.
constexpr DWORD kPatienceMs = 15 * 60 * 1000;

double Now() {
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    // 100 ns ticks since 1601 to seconds since 1970.
    return static_cast<double>(ticks.QuadPart - 116444736000000000ULL) / 1e7;
}

HWND MainWindow() { return FindWindowW(kDialogClass, kMainTitle); }

// The status bar's text, asked of the window itself: the answer waits until it takes messages.
bool StatusText(HWND statusBar, std::wstring& text) {
    wchar_t buffer[256] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(statusBar, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, kPatienceMs,
                             &copied)) {
        return false;
    }
    text.assign(buffer, copied < 256 ? copied : 255);
    return true;
}

void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void SayTime(double at) {
    std::printf("at %.4f\n", at);
    std::fflush(stdout);
}

int Fail(const char* why) {
    std::fprintf(stderr, "window-probe: %s\n", why);
    return 1;
}

int Until(HWND statusBar, const std::wstring& wanted) {
    Say("ready");
    DWORD start = GetTickCount();
    std::wstring text;
    while (GetTickCount() - start < kPatienceMs) {
        if (!StatusText(statusBar, text)) {
            return Fail("the main window did not answer");
        }
        if (text == wanted) {
            SayTime(Now());
            return 0;
        }
        Sleep(2);
    }
    return Fail("the status bar never showed the text");
}

int Build(HWND statusBar) {
    Say("ready");
    DWORD start = GetTickCount();
    while (!FindWindowW(kDialogClass, kProgressTitle)) {
        if (GetTickCount() - start > kPatienceMs) {
            return Fail("no progress window came");
        }
        Sleep(1);
    }
    std::wstring text;
    if (!StatusText(statusBar, text)) {
        return Fail("the main window did not answer");
    }
    SayTime(Now());
    return 0;
}

int State(HWND main, HWND statusBar) {
    std::wstring text;
    if (!StatusText(statusBar, text)) {
        return Fail("the main window did not answer");
    }
    DWORD_PTR rows = 0;
    SendMessageTimeoutW(GetDlgItem(main, kFileListId), LB_GETCOUNT, 0, 0, SMTO_NORMAL, kPatienceMs, &rows);
    std::printf("status: %ls\nrows: %lu\n", text.c_str(), static_cast<unsigned long>(rows));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window-probe until TEXT | build | state\n");
        return 2;
    }
    HWND main = MainWindow();
    HWND statusBar = main ? GetDlgItem(main, kStatusBarId) : nullptr;
    if (!statusBar) {
        return Fail("no main window with a status bar is running");
    }
    std::wstring command = argv[1];
    if (command == L"until" && argc == 3) {
        return Until(statusBar, argv[2]);
    }
    if (command == L"build" && argc == 2) {
        return Build(statusBar);
    }
    if (command == L"state" && argc == 2) {
        return State(main, statusBar);
    }
    std::fprintf(stderr, "usage: window-probe until TEXT | build | state\n");
    return 2;
}
