// window-probe: tells the Wine benchmark (bench/wine) when the running main window has finished a
// drop, an Open or a build. The window takes no messages while it works, so a message sent to it
// from another process is answered only once the command has returned to the message loop: the
// time of that answer is when the user can use the window again. Times are printed as seconds
// since the epoch, the clock the benchmark's other steps read, so that intervals can be taken
// across processes.
//
// Usage: window-probe rows N     the file list holds N rows and the window answers
//        window-probe build      the progress window has come and the window answers again
//        window-probe state      the status bar's text, the file list's rows, the Target Folder choice
// "rows" and "build" print "ready" as soon as they watch, then "at SECONDS" when it happened.
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
constexpr int kTargetFolderId = 1036;
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

// Asked of the window itself, the answers wait until it takes messages.
bool Ask(HWND control, UINT message, DWORD_PTR& answer) {
    return SendMessageTimeoutW(control, message, 0, 0, SMTO_NORMAL, kPatienceMs, &answer) != 0;
}

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

int Rows(HWND fileList, DWORD_PTR wanted) {
    Say("ready");
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kPatienceMs) {
        DWORD_PTR rows = 0;
        if (!Ask(fileList, LB_GETCOUNT, rows)) {
            return Fail("the main window did not answer");
        }
        if (rows == wanted) {
            SayTime(Now());
            return 0;
        }
        Sleep(2);
    }
    return Fail("the file list never held that many rows");
}

int Build(HWND main) {
    Say("ready");
    DWORD start = GetTickCount();
    while (!FindWindowW(kDialogClass, kProgressTitle)) {
        if (GetTickCount() - start > kPatienceMs) {
            return Fail("no progress window came");
        }
        Sleep(1);
    }
    DWORD_PTR answer = 0;
    if (!Ask(main, WM_NULL, answer)) {
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
    DWORD_PTR choice = 0;
    Ask(GetDlgItem(main, kFileListId), LB_GETCOUNT, rows);
    Ask(GetDlgItem(main, kTargetFolderId), CB_GETCURSEL, choice);
    std::printf("status: %ls\nrows: %lu\ntarget: %ld\n", text.c_str(), static_cast<unsigned long>(rows),
                static_cast<long>(choice));
    std::fflush(stdout);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window-probe rows N | build | state\n");
        return 2;
    }
    HWND main = MainWindow();
    HWND statusBar = main ? GetDlgItem(main, kStatusBarId) : nullptr;
    if (!statusBar) {
        return Fail("no main window with a status bar is running");
    }
    std::wstring command = argv[1];
    if (command == L"rows" && argc == 3) {
        return Rows(GetDlgItem(main, kFileListId), static_cast<DWORD_PTR>(std::wcstoul(argv[2], nullptr, 10)));
    }
    if (command == L"build" && argc == 2) {
        return Build(main);
    }
    if (command == L"state" && argc == 2) {
        return State(main, statusBar);
    }
    std::fprintf(stderr, "usage: window-probe rows N | build | state\n");
    return 2;
}
