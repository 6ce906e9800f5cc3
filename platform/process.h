// Starting a command line and waiting for it: the build command that runs after an installer is
// built.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class RunResult { Finished, NotStarted };

// Runs `commandLine` with `folder` as its working folder and waits without a time limit. Windows
// starts it as the command line it is (the first token names the program); POSIX hosts hand it to
// /bin/sh with `folder` first on the search path, so that a tool lying there is found by its bare
// name as it is on Windows. `exitCode` is the program's status.
RunResult RunAndWait(std::u16string_view commandLine, std::u16string_view folder, int& exitCode);

} // namespace platform
