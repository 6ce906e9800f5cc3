// The release archive as a user meets it: unpacked into a fresh folder (by unpack_release.cmake,
// the fixture of these tests) and run from there. The programs must find their template and help
// beside themselves, wherever the current folder is, and carry the build's version; the help file
// must open in the platform's HTML Help viewer on its index.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <htmlhelp.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr DWORD kStartTimeout = 30000;
constexpr UINT kExitCommand = 32778;
// The file name field of the platform's open and save dialogs.
constexpr int kFileNameControl = 1148;

std::wstring Widen(const char* text) {
    std::string narrow(text);
    return std::wstring(narrow.begin(), narrow.end());
}

// The unpacked folder, in the form Windows programs use.
std::wstring ReleaseFolder() {
    std::wstring folder = Widen(TARVELO_RELEASE_DIR);
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder;
}

std::wstring InRelease(const wchar_t* name) { return ReleaseFolder() + L"\\" + name; }

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

// The folder part of a full path, as the program computes its own: everything before the last
// backslash.
std::wstring FolderOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

// A program started from the unpacked folder, with the system's temporary folder as its current
// folder so that nothing can be found by accident relative to it. Stopped if still running at the
// end.
class Started {
public:
    explicit Started(const std::wstring& program, const std::wstring& arguments = L"", HANDLE output = nullptr) {
        std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (output) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = output;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        }
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr, temp,
                                  &startup, &info_) != FALSE;
    }
    ~Started() {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    bool Ok() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }

    // The full path of the executable the system loaded for this process.
    std::wstring ImagePath() const {
        wchar_t path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        return QueryFullProcessImageNameW(info_.hProcess, 0, path, &size) ? std::wstring(path, size) : L"";
    }

    // The first visible top-level window of this process with the class and caption given.
    HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs = kStartTimeout) const {
        DWORD start = GetTickCount();
        for (;;) {
            Search search{info_.dwProcessId, windowClass, caption, nullptr};
            EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
            if (search.found) {
                return search.found;
            }
            if (GetTickCount() - start >= timeoutMs || WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) {
                return nullptr;
            }
        }
    }

    int WaitForExit(DWORD timeoutMs) const {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    struct Search {
        DWORD process;
        const wchar_t* windowClass;
        const wchar_t* caption;
        HWND found;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM data) {
        auto* search = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        wchar_t className[64] = {}, caption[128] = {};
        GetClassNameW(window, className, 64);
        GetWindowTextW(window, caption, 128);
        if (GetWindowThreadProcessId(window, &owner) && owner == search->process && IsWindowVisible(window) &&
            std::wstring(className) == search->windowClass && std::wstring(caption) == search->caption) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }

    bool started_ = false;
    PROCESS_INFORMATION info_{};
};

// The four numbers of a version text such as "1.0.0.1".
std::vector<unsigned> VersionNumbers(const std::string& text) {
    std::vector<unsigned> numbers;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t dot = text.find('.', at);
        numbers.push_back(static_cast<unsigned>(std::stoul(text.substr(at, dot - at))));
        if (dot == std::string::npos) {
            break;
        }
        at = dot + 1;
    }
    return numbers;
}

TEST(ReleaseFolder, TheProgramStartsThereAndHasItsTemplateAndHelpBesideIt) {
    Started program(InRelease(L"Tarvelo.exe"));
    ASSERT_TRUE(program.Ok());
    HWND main = program.WaitForWindow(L"#32770", L"Tarvelo Installer");
    ASSERT_NE(main, nullptr) << "no main window from the unpacked Tarvelo.exe";

    // The program looks for both files in the folder of its own executable, not in the current
    // folder; the unpacked folder must be that folder and must hold them.
    std::wstring folder = FolderOf(program.ImagePath());
    EXPECT_EQ(Lower(folder), Lower(ReleaseFolder()));
    EXPECT_TRUE(FileExists(folder + L"\\TarveloHelp.chm"));
    EXPECT_TRUE(FileExists(folder + L"\\Template.exe"));

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
    EXPECT_EQ(program.WaitForExit(kStartTimeout), 0);
}

// The first window of the class given among the descendants of `parent`.
HWND Descendant(HWND parent, const wchar_t* windowClass) {
    HWND child = nullptr;
    while ((child = FindWindowExW(parent, child, nullptr, nullptr)) != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (std::wstring(name) == windowClass) {
            return child;
        }
        if (HWND inner = Descendant(child, windowClass)) {
            return inner;
        }
    }
    return nullptr;
}

// Help > Index, as the user chooses it, finds the help file beside the unpacked program (the
// current folder is elsewhere) and shows it on its Index tab, the second of the viewer's tabs.
TEST(ReleaseFolder, HelpIndexOpensTheHelpBesideTheProgramOnItsIndex) {
    constexpr UINT kHelpIndexCommand = 57666;
    constexpr LRESULT kIndexTab = 1;
    Started program(InRelease(L"Tarvelo.exe"));
    ASSERT_TRUE(program.Ok());
    HWND main = program.WaitForWindow(L"#32770", L"Tarvelo Installer");
    ASSERT_NE(main, nullptr);

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kHelpIndexCommand, 0), 0);
    HWND viewer = program.WaitForWindow(L"HH Parent", L"Tarvelo Installer Help");
    ASSERT_NE(viewer, nullptr) << "Help > Index opened no help window";
    // The viewer's frame appears before its panes are made and the tab chosen: wait for both.
    HWND tabs = nullptr;
    LRESULT tab = -1;
    for (DWORD start = GetTickCount(); GetTickCount() - start < kStartTimeout && tab != kIndexTab; Sleep(50)) {
        tabs = tabs ? tabs : Descendant(viewer, WC_TABCONTROLW);
        tab = tabs ? SendMessageW(tabs, TCM_GETCURSEL, 0, 0) : -1;
    }
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tab, kIndexTab);

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
    EXPECT_EQ(program.WaitForExit(kStartTimeout), 0);
}

// Runs a program of the unpacked folder to its end; its standard output and error, and its exit
// status (-1 when it did not end in time).
struct Outcome {
    int status = -1;
    std::string output;
};
Outcome RunToEnd(const std::wstring& program, const std::wstring& arguments) {
    Outcome run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        return run;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    {
        Started started(program, arguments, write);
        CloseHandle(write);
        if (started.Ok()) {
            char buffer[256];
            DWORD got = 0;
            while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                run.output.append(buffer, got);
            }
            run.status = started.WaitForExit(kStartTimeout);
        }
    }
    CloseHandle(read);
    return run;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 128 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

// A folder of its own below the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"tarvelo-release-" + std::to_wstring(GetCurrentProcessId());
        Remove();
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { Remove(); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }

    void Write(const std::wstring& relative, const std::string& bytes) const {
        std::wstring full = path_ + L"\\" + relative;
        CreateDirectoryW(FolderOf(full).c_str(), nullptr);
        HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }

private:
    void Remove() const {
        // SHFileOperation wants the path followed by two terminators.
        std::wstring from = path_ + std::wstring(2, L'\0');
        SHFILEOPSTRUCTW operation{};
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_NO_UI;
        SHFileOperationW(&operation);
    }
    std::wstring path_;
};

// The Edit control that types a file name into the platform's file dialog.
BOOL CALLBACK FindFileNameField(HWND child, LPARAM data) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (GetDlgCtrlID(child) == kFileNameControl && std::wstring(name) == L"Edit") {
        *reinterpret_cast<HWND*>(data) = child;
        return FALSE;
    }
    return TRUE;
}

HWND FileNameField(HWND dialog) {
    HWND field = nullptr;
    EnumChildWindows(dialog, FindFileNameField, reinterpret_cast<LPARAM>(&field));
    return field;
}

// Answers the program's open or save dialog, as the user would type a name and press the button.
bool AnswerFileDialog(const Started& program, const wchar_t* caption, const std::wstring& file) {
    HWND dialog = program.WaitForWindow(L"#32770", caption);
    HWND field = dialog ? FileNameField(dialog) : nullptr;
    if (!field) {
        return false;
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DWORD start = GetTickCount();
    while (IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - start < kStartTimeout) {
        Sleep(50);
    }
    return !IsWindowVisible(dialog);
}

// The text of a message box of the program, when one is open.
std::wstring OpenMessage(const Started& program) {
    HWND box = program.WaitForWindow(L"#32770", L"Error", 0);
    if (!box) {
        return L"";
    }
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    return text;
}

// The road a user takes from the unpacked folder: a workspace made by the unpacked tarvelo-build is
// opened with File > Open ORB Workspace..., and "Create Install File" makes an installer from the
// Template.exe that lies beside the program (the current folder is elsewhere). The installer holds
// the application's files, as the unpacked tarvelo-build verifies.
TEST(ReleaseFolder, CreateInstallFileMakesAnInstallerFromTheTemplateBesideTheProgram) {
    constexpr UINT kOpenWorkspaceCommand = 32777;
    constexpr UINT kCreateInstallFileButton = 1008;
    ScratchFolder scratch;
    scratch.Write(L"App\\readme.txt", "Read me first.\r\n");
    scratch.Write(L"App\\bin\\data.bin", std::string(5000, '\x5a'));
    std::wstring app = scratch.Path() + L"\\App";
    std::wstring workspace = scratch.Path() + L"\\app.orb";
    std::wstring installer = scratch.Path() + L"\\Setup.exe";
    Outcome gather = RunToEnd(InRelease(L"tarvelo-build.exe"), L"gather \"" + app + L"\" -o \"" + workspace +
                                                                   L"\" --name \"Release Test\" --path ReleaseTest");
    ASSERT_EQ(gather.status, 0) << gather.output;

    Started program(InRelease(L"Tarvelo.exe"));
    ASSERT_TRUE(program.Ok());
    HWND main = program.WaitForWindow(L"#32770", L"Tarvelo Installer");
    ASSERT_NE(main, nullptr);

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kOpenWorkspaceCommand, 0), 0);
    ASSERT_TRUE(AnswerFileDialog(program, L"Open", workspace));
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kCreateInstallFileButton, BN_CLICKED), 0);
    ASSERT_TRUE(AnswerFileDialog(program, L"Save As", installer));

    // The build is done when the progress window has gone and the main window answers again; a
    // message box stops it halfway.
    DWORD start = GetTickCount();
    DWORD_PTR ignored = 0;
    while ((program.WaitForWindow(L"#32770", L"Tarvelo Installer Progress", 0) ||
            !SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored)) &&
           OpenMessage(program).empty() && GetTickCount() - start < kStartTimeout) {
        Sleep(100);
    }
    EXPECT_EQ(OpenMessage(program), L"") << "the build showed an error: " << Narrow(OpenMessage(program));
    EXPECT_TRUE(FileExists(installer));
    EXPECT_FALSE(FileExists(InRelease(L"temp.dat"))) << "the temporary package was left beside the program";

    Outcome verify = RunToEnd(InRelease(L"tarvelo-build.exe"), L"verify \"" + installer + L"\" --src \"" + app + L"\"");
    EXPECT_EQ(verify.status, 0) << verify.output;

    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
    EXPECT_EQ(program.WaitForExit(kStartTimeout), 0);
}

// The version resource's fixed and text product versions of a program of the unpacked folder.
void ExpectVersionResource(const wchar_t* name) {
    std::wstring exe = InRelease(name);
    std::string label = Narrow(exe);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << label << " has no version resource";
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    std::vector<unsigned> expected = VersionNumbers(TARVELO_VERSION);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(fixed->dwFileVersionMS, (expected[0] << 16) | expected[1]) << label;
    EXPECT_EQ(fixed->dwFileVersionLS, (expected[2] << 16) | expected[3]) << label;
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS) << label;
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS) << label;
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length))
        << label;
    EXPECT_EQ(std::wstring(text), Widen(TARVELO_VERSION)) << label;
}

TEST(ReleaseFolder, ProgramsCarryTheBuildsVersion) {
    ExpectVersionResource(L"Tarvelo.exe");
    ExpectVersionResource(L"Template.exe");

    // tarvelo-build.exe reports the same version. Standard output is in text mode on Windows: the
    // line ends in a carriage return and a line feed.
    Outcome version = RunToEnd(InRelease(L"tarvelo-build.exe"), L"--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("tarvelo-build ") + TARVELO_VERSION + "\r\n");
}

using HtmlHelpFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// The first descendant of `parent` of the class given that is visible.
HWND VisibleChild(HWND parent, const wchar_t* windowClass) {
    HWND child = nullptr;
    while ((child = FindWindowExW(parent, child, nullptr, nullptr)) != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (IsWindowVisible(child) && std::wstring(name) == windowClass) {
            return child;
        }
        if (HWND inner = VisibleChild(child, windowClass)) {
            return inner;
        }
    }
    return nullptr;
}

// Opened as Help > Index opens it: HtmlHelpW from hhctrl.ocx with HH_DISPLAY_INDEX. The viewer's
// windows belong to this thread, so their controls can be read directly.
TEST(ReleaseHelp, OpensOnItsIndexWithTheProgramsKeywords) {
    HMODULE control = LoadLibraryW(L"hhctrl.ocx");
    ASSERT_NE(control, nullptr) << "no HTML Help control on this system";
    auto htmlHelp = reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpW")));
    ASSERT_NE(htmlHelp, nullptr);

    std::wstring chm = InRelease(L"TarveloHelp.chm");
    HWND viewer = htmlHelp(GetDesktopWindow(), chm.c_str(), HH_DISPLAY_INDEX, 0);
    ASSERT_NE(viewer, nullptr) << "the help file did not open";
    wchar_t caption[128] = {};
    GetWindowTextW(viewer, caption, 128);
    EXPECT_EQ(std::wstring(caption), L"Tarvelo Installer Help");

    // The navigation pane shows its Index tab, whose list holds the index's keywords.
    HWND tabs = VisibleChild(viewer, WC_TABCONTROLW);
    ASSERT_NE(tabs, nullptr);
    wchar_t tabText[64] = {};
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = tabText;
    tab.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, SendMessageW(tabs, TCM_GETCURSEL, 0, 0), reinterpret_cast<LPARAM>(&tab));
    std::wstring label(tabText);
    label.erase(std::remove(label.begin(), label.end(), L'&'), label.end());
    EXPECT_EQ(label, L"Index");

    HWND keywords = VisibleChild(viewer, WC_LISTVIEWW);
    ASSERT_NE(keywords, nullptr) << "no visible index list";
    EXPECT_GE(SendMessageW(keywords, LVM_GETITEMCOUNT, 0, 0), 100);
    for (const wchar_t* keyword : {L"Create Install File", L"Installer Properties", L"Unable to create Install file",
                                   L"The bitmap you provided for your installer is not the correct size",
                                   L"tarvelo-build", L"TarveloHelp.chm"}) {
        LVFINDINFOW find{};
        find.flags = LVFI_STRING;
        find.psz = keyword;
        EXPECT_NE(SendMessageW(keywords, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), -1)
            << "no index keyword " << std::string(keyword, keyword + wcslen(keyword));
    }

    htmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
    FreeLibrary(control);
}

} // namespace
