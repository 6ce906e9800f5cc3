// Running the built tarvelo-build as a child process, the way scripts use it: arguments in, exit
// status and both output streams back.
#pragma once

#include "package/package.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs tarvelo-build with the arguments (UTF-16, as paths are in the tests), its output streams
// captured in files under `scratch`.
ToolResult RunTool(const std::vector<std::u16string>& arguments, const std::u16string& scratch);
// The same with another copy of the program.
ToolResult RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments,
                      const std::u16string& scratch);
// The built program, as a path this test program can open.
std::u16string ToolPath();

// Saves a workspace file as the GUI does: the header with the entry count, then the table.
void SaveWorkspace(Package& package, const std::u16string& path);

// An application folder src/ with files in a subfolder, and its workspace ws.orb: four files with
// different flags and a shortcut, the source folder ending in a separator as after a drop.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    ToolResult Run(const std::vector<std::u16string>& arguments) { return RunTool(arguments, dir.File(u"")); }
    std::u16string Source(std::u16string_view relative) { return dir.File(u"src/" + std::u16string(relative)); }
    // The template copied into the test folder, as it would lie beside the program.
    std::u16string Template();

    TempDir dir;
    Package workspace;
    std::u16string workspacePath;
    std::vector<std::u16string> relatives{u"app.exe", u"sub/readme.txt", u"sub/eula.txt", u"data.bin"};
};

} // namespace testing_support
