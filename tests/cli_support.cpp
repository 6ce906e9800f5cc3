// Starting tarvelo-build: posix_spawn on POSIX hosts, CreateProcessW on Windows (and under Wine,
// where the program's path is reached through drive Z:).
#include "tests/cli_support.h"
#include "tests/test_support.h"

#include "platform/text.h"
#include "workspace/workspace_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {
namespace {

// Windows programs end their text lines with CR LF; the tests compare lines, not line ends.
std::string ReadText(const std::u16string& path) {
    Bytes bytes = ReadBytes(path);
    std::string text(bytes.begin(), bytes.end());
    std::erase(text, '\r');
    return text;
}

#ifdef _WIN32

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

HANDLE Inheritable(const std::u16string& path) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

int Spawn(const std::u16string& program, const std::vector<std::u16string>& arguments, const std::u16string& out,
          const std::u16string& err) {
    std::wstring command = Quoted(Wide(program));
    for (const std::u16string& a : arguments) {
        command += L" " + Quoted(Wide(a));
    }
    HANDLE outHandle = Inheritable(out), errHandle = Inheritable(err);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = outHandle;
    si.hStdError = errHandle;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(outHandle);
    CloseHandle(errHandle);
    if (!started) {
        return -1;
    }
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

#else

int Spawn(const std::u16string& program, const std::vector<std::u16string>& arguments, const std::u16string& out,
          const std::u16string& err) {
    std::vector<std::string> texts{platform::ToUtf8(program)};
    for (const std::u16string& a : arguments) {
        texts.push_back(platform::ToUtf8(a));
    }
    std::vector<char*> argv;
    for (std::string& t : texts) {
        argv.push_back(t.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string outPath = platform::ToUtf8(out), errPath = platform::ToUtf8(err);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

#endif

} // namespace

void SaveWorkspace(Package& package, const std::u16string& path) {
    std::u16string image(FieldText(package.GetHeader().imageFile));
    std::u16string command(FieldText(package.GetHeader().buildCommand));
    ASSERT_TRUE(workspace::SaveWorkspace(package, path.c_str(), image, command));
}

void CliTest::SetUp() {
    std::filesystem::create_directories(dir.Path() / "src" / "sub");
    const std::uint32_t flags[] = {FLAG_ALL_PLATFORMS | FLAG_SHORTCUT, FLAG_ALL_PLATFORMS, FLAG_EULA, FLAG_ARM};
    const std::size_t sizes[] = {5000, 0, 120, 9000};
    for (std::size_t i = 0; i < relatives.size(); ++i) {
        WriteBytes(Source(relatives[i]), Pattern(sizes[i], static_cast<std::uint8_t>(i)));
        ASSERT_TRUE(workspace.AddFile(Source(relatives[i]).c_str(), flags[i]));
    }
    ASSERT_TRUE(workspace.SetShortcutName(0, u"Notes.lnk"));
    workspace.SetSourceFolder(StoredForm(Source(u"")).c_str());
    workspace.SetProgramName(u"Notes \"Pro\"");
    workspace.SetTargetFolder(kTargetProgramFiles);
    // What the main window stores for a Program Path, not the package object's absolute default,
    // which the installer refuses.
    workspace.SetInstallFolder(u"Notes");
    workspacePath = dir.File(u"ws.orb");
    SaveWorkspace(workspace, workspacePath);
}

std::u16string CliTest::Template() {
    std::u16string path = dir.File(u"Template.exe");
    if (!Exists(path)) {
        WriteBytes(path, ReadBytes(SourceFile(u"tests/data/pe/rsrc-reloc32.exe")));
    }
    return path;
}

std::u16string ToolPath() {
    std::u16string path = platform::ToUtf16(TARVELO_CLI_PATH);
#ifdef _WIN32
    for (char16_t& c : path) {
        c = c == u'/' ? u'\\' : c;
    }
#endif
    return path;
}

ToolResult RunTool(const std::vector<std::u16string>& arguments, const std::u16string& scratch) {
    return RunProgram(ToolPath(), arguments, scratch);
}

ToolResult RunProgram(const std::u16string& program, const std::vector<std::u16string>& arguments,
                      const std::u16string& scratch) {
    std::u16string out = scratch + u"/tool-stdout.txt";
    std::u16string err = scratch + u"/tool-stderr.txt";
    ToolResult result;
    result.status = Spawn(program, arguments, out, err);
    result.out = ReadText(out);
    result.err = ReadText(err);
    return result;
}

} // namespace testing_support
