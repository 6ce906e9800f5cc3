// Tarvelo.exe as a separate process, driven from outside with the messages the user's keys and
// clicks would post: its exit codes, and the refusal of a second instance.
#include "ui/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

constexpr DWORD kStartTimeout = 30000;

// A started copy of the program; one still running when the test ends is stopped.
class Program {
public:
    Program() {
        std::wstring commandLine = L"\"" + Path() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &info_) != FALSE;
    }
    ~Program() {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return started_; }

    // The program's visible main window, once it has one.
    HWND WaitForMainWindow() const {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < kStartTimeout) {
            HWND window = FindWindowW(L"#32770", L"Tarvelo Installer");
            DWORD owner = 0;
            if (window && GetWindowThreadProcessId(window, &owner) && owner == info_.dwProcessId &&
                IsWindowVisible(window)) {
                return window;
            }
            if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) {
                return nullptr;
            }
        }
        return nullptr;
    }

    // Whether the program has a visible top-level window (its splash or its main window).
    bool ShowsAWindow() const {
        std::pair<DWORD, bool> search{info_.dwProcessId, false};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        return search.second;
    }

    // The exit code, or -1 when the program has not ended within `timeoutMs`.
    int WaitForExit(DWORD timeoutMs) const {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    static BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM data) {
        auto* search = reinterpret_cast<std::pair<DWORD, bool>*>(data);
        DWORD owner = 0;
        if (GetWindowThreadProcessId(window, &owner) && owner == search->first && IsWindowVisible(window)) {
            search->second = true;
            return FALSE;
        }
        return TRUE;
    }

    static std::wstring Path() {
        std::string path = TARVELO_EXE_PATH;
        return std::wstring(path.begin(), path.end());
    }

    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

struct Closing {
    const char* what;
    int exitCode;
    void (*close)(HWND window);
};

TEST(ProgramProcess, EachCloseCommandEndsTheProgramWithItsExitCode) {
    const Closing closings[] = {
        {"File > Exit", 0, [](HWND w) { PostMessageW(w, WM_COMMAND, MAKEWPARAM(ID_APP_EXIT, 0), 0); }},
        {"Enter in the program name", 1,
         [](HWND w) { PostMessageW(GetDlgItem(w, IDC_PROGRAM_NAME), WM_KEYDOWN, VK_RETURN, 1); }},
        {"Escape in the program path", 2,
         [](HWND w) { PostMessageW(GetDlgItem(w, IDC_PROGRAM_PATH), WM_KEYDOWN, VK_ESCAPE, 1); }},
        {"the close box", 2, [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& closing : closings) {
        SCOPED_TRACE(closing.what);
        Program program;
        ASSERT_TRUE(program.Started());
        HWND window = program.WaitForMainWindow();
        ASSERT_NE(window, nullptr);
        closing.close(window);
        EXPECT_EQ(program.WaitForExit(10000), closing.exitCode);
    }
}

TEST(ProgramProcess, SecondInstanceEndsAtOnceAndLeavesTheFirstRunning) {
    Program first;
    ASSERT_TRUE(first.Started());
    HWND window = first.WaitForMainWindow();
    ASSERT_NE(window, nullptr);

    EXPECT_TRUE(first.ShowsAWindow());
    Program second;
    ASSERT_TRUE(second.Started());
    bool showedAWindow = false;
    int exitCode = -1;
    for (DWORD start = GetTickCount(); exitCode == -1 && GetTickCount() - start < 10000;) {
        showedAWindow = showedAWindow || second.ShowsAWindow();
        exitCode = second.WaitForExit(5);
    }
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(showedAWindow) << "the second instance showed its splash or a window";

    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(first.WaitForExit(0), -1);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_APP_EXIT, 0), 0);
    EXPECT_EQ(first.WaitForExit(10000), 0);
}

} // namespace
