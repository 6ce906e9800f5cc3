// POSIX process start for the build command.
#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

RunResult RunAndWait(std::u16string_view commandLine, std::u16string_view folder, int& exitCode) {
    exitCode = -1;
    std::string command, dir;
    if (!Utf16ToUtf8(commandLine, command) || !Utf16ToUtf8(NativePath(folder), dir)) {
        return RunResult::NotStarted;
    }
    const char* oldPath = std::getenv("PATH");
    std::string path = dir + ":" + (oldPath ? oldPath : "/usr/bin:/bin");
    pid_t child = ::fork();
    if (child < 0) {
        return RunResult::NotStarted;
    }
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0 || ::setenv("PATH", path.c_str(), 1) != 0) {
            ::_exit(127);
        }
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return RunResult::NotStarted;
        }
    }
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return RunResult::Finished;
}

} // namespace platform
