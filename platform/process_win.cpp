// Win32 process start for the build command, with the start-up settings the main window uses.
#include "platform/process.h"

#include "platform/handle_win.h"

#include <string>
#include <windows.h>

namespace platform {

RunResult RunAndWait(std::u16string_view commandLine, std::u16string_view folder, int& exitCode) {
    exitCode = -1;
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring line(commandLine.begin(), commandLine.end());
    std::wstring dir(folder.begin(), folder.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &startup, &process)) {
        return RunResult::NotStarted;
    }
    UniqueHandle thread(process.hThread);
    UniqueHandle running(process.hProcess);
    WaitForSingleObject(running.Get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(running.Get(), &code);
    exitCode = static_cast<int>(code);
    return RunResult::Finished;
}

} // namespace platform
