// The whole road through the real main window under Wine: an application folder dropped on it,
// the files' options and the workspace fields set through its controls, a sidebar picture chosen
// in Installer Properties, the workspace saved and "Create Install File" run with the shipped
// Template.exe beside the program. The installer it makes, run silently, must install exactly the
// files meant for the processor; tarvelo-build must make the same bytes of the saved workspace.
#include "package/pe_resources.h"
#include "platform/text.h"
#include "tests/cli_support.h"
#include "tests/template_support.h"
#include "tests/ui_test_support.h"
#include "ui/installer_properties_dialog.h"
#include "ui/installer_settings.h"
#include "ui/main_window.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Answers the choosers with `fileAnswer`, fills in Installer Properties with `sidebar` and keeps
// every message instead of showing it.
class RoadWindow : public ui::CMainWindow {
public:
    std::string fileAnswer;
    std::string sidebar;
    std::vector<std::string> messages;

    BOOL RunFileChooser(OPENFILENAMEA& request, bool) override {
        lstrcpynA(request.lpstrFile, fileAnswer.c_str(), static_cast<int>(request.nMaxFile));
        return TRUE;
    }
    int RunMessageBox(const char* text, const char*, UINT) override {
        messages.emplace_back(text);
        return IDOK;
    }
    INT_PTR RunModalDialog(ui::CDialogBase& dialog) override {
        HWND window = dialog.Create(Window());
        SetDlgItemTextA(window, IDC_IMAGE_PATH, sidebar.c_str());
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        dialog.DestroyWindow();
        return IDOK;
    }
};

// A drop as the shell hands it over: a DROPFILES block with the ANSI paths after it.
HDROP MakeDrop(const std::string& path) {
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(drop + 1), path.c_str(), path.size() + 1);
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::string Ansi(const fs::path& path) { return platform::ToAnsi(path.u16string()); }

class TemplateGuiRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
        main.settings.imagePath.clear();
        sources = {
            {u"Notes.exe", Pattern(70000, 1)},
            {u"readme.txt", BytesOf("Read me.\r\n")},
            {u"empty.txt", {}},
            {u".settings", BytesOf("hidden=1")},
            {u"licence.txt", BytesOf("Use it.\n")},
            {u"data/notes.db", Pattern(4096, 2)},
            {u"data/empty/none.dat", {}},
            {u"data/deep/arm.dll", Pattern(5000, 3)},
            {u"data/deep/mips.dll", Pattern(6000, 4)},
        };
        for (const auto& [relative, bytes] : sources) {
            fs::path path = Src() / fs::path(relative);
            fs::create_directories(path.parent_path());
            WriteBytes(U16(path), bytes);
        }
        SetFileAttributesW((Src() / ".settings").wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    void TearDown() override {
        main.settings.imagePath.clear();
        main.DestroyWindow();
        uitest::TakeQuitCode();
    }
    fs::path Src() const { return dir.Path() / "Notes"; }
    void Command(int id, int code = BN_CLICKED) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }
    // Selects the file's row and sets its check boxes as a user clicks them.
    void SetOptions(std::u16string_view relative, std::uint32_t flags, const char* shortcut = nullptr) {
        std::u16string wanted = StoredForm(U16(Src() / fs::path(relative)));
        int row = -1;
        for (std::uint32_t i = 0; i < main.package.GetCount(); ++i) {
            PackageEntry entry{};
            main.package.GetEntry(i, &entry);
            row = FieldText(entry.filename) == wanted ? static_cast<int>(i) : row;
        }
        ASSERT_GE(row, 0) << platform::ToUtf8(relative);
        SendMessageW(main.fileList, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
        Command(IDC_FILE_LIST, LBN_SELCHANGE);
        const std::pair<int, std::uint32_t> boxes[] = {{IDC_SHORTCUT, FLAG_SHORTCUT}, {IDC_EULA, FLAG_EULA},
                                                       {IDC_ARM, FLAG_ARM},           {IDC_MIPS, FLAG_MIPS},
                                                       {IDC_SHX, FLAG_SHX},           {IDC_INTEL, FLAG_INTEL}};
        for (auto [id, bit] : boxes) {
            if (((flags & bit) != 0) != (IsDlgButtonChecked(window, id) == BST_CHECKED)) {
                CheckDlgButton(window, id, (flags & bit) ? BST_CHECKED : BST_UNCHECKED);
                Command(id);
            }
        }
        if (shortcut) {
            SetDlgItemTextA(window, IDC_SHORTCUT_LABEL, shortcut);
        }
        PackageEntry entry{};
        main.package.GetEntry(static_cast<std::uint32_t>(row), &entry);
        EXPECT_EQ(entry.flags, flags) << platform::ToUtf8(relative);
    }
    ToolResult Run(const std::u16string& program, const std::vector<std::u16string>& arguments) {
        return RunProgram(program, arguments, dir.File(u""));
    }

    TempDir dir;
    RoadWindow main;
    HWND window = nullptr;
    std::map<std::u16string, Bytes> sources;
};

TEST_F(TemplateGuiRoadTest, AFolderDroppedOnTheMainWindowBecomesAnInstallerThatInstallsIt) {
    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(Ansi(Src()))), 0);
    ASSERT_EQ(main.package.GetCount(), sources.size());
    SetOptions(u"licence.txt", FLAG_EULA);
    SetOptions(u"Notes.exe", FLAG_ALL_PLATFORMS | FLAG_SHORTCUT, "Notes");
    SetOptions(u"data/deep/arm.dll", FLAG_ARM);
    SetOptions(u"data/deep/mips.dll", FLAG_MIPS | FLAG_SHX);
    SetDlgItemTextA(window, IDC_PROGRAM_NAME, "Notes");
    SendMessageA(main.targetFolderCombo, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>("CSIDL_PROGRAM_FILES"));
    Command(IDC_TARGET_FOLDER, CBN_SELCHANGE);
    SetDlgItemTextA(window, IDC_PROGRAM_PATH, "Notes");

    Bytes picture = MakeBitmap(128, 280, 5);
    WriteBytes(dir.File(u"side.bmp"), picture);
    main.sidebar = Ansi(dir.Path() / "side.bmp");
    Command(IDC_INSTALLER_PROPERTIES);
    ASSERT_EQ(main.settings.imagePath, main.sidebar);

    main.fileAnswer = Ansi(dir.Path() / "notes.orb");
    Command(ID_FILE_SAVE_WORKSPACE, 0);
    ASSERT_TRUE(fs::exists(dir.Path() / "notes.orb"));

    // A build command that cannot start, so that nothing else runs after the build.
    main.settings.buildCommand = "no-such-tool.exe <filename>";
    main.fileAnswer = Ansi(dir.Path() / "Setup.exe");
    Command(IDC_CREATE_INSTALLER);
    EXPECT_TRUE(main.messages.empty()) << main.messages.front();
    std::u16string installer = dir.File(u"Setup.exe");
    ASSERT_TRUE(Exists(installer));
    Bytes stored;
    Error error;
    ASSERT_TRUE(pe::ReadResource(installer, pe::ResourceKey::Id(pe::kTypeBitmap), pe::ResourceKey::Id(251),
                                 pe::kLanguageEnglishUS, stored, error));
    EXPECT_EQ(stored, Bytes(picture.begin() + 14, picture.end()));

    ToolResult r = Run(installer, {u"/S", u"/D=" + dir.File(u"from the window"), u"/CPU=ARM"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, Bytes> expected;
    for (const auto& [relative, bytes] : sources) {
        if (relative != u"licence.txt" && relative != u"data/deep/mips.dll") {
            expected["Program Files/Notes/" + platform::ToUtf8(relative)] = bytes;
        }
    }
    expected["Windows/Start Menu/Programs/Notes.lnk"] = BytesOf("32#\"\\Program Files\\Notes\\Notes.exe\"");
    EXPECT_EQ(FolderContents(dir.Path() / "from the window"), expected);

    // The same workspace made into an installer by tarvelo-build installs the same files.
    r = RunTool({u"installer", dir.File(u"notes.orb"), u"-o", dir.File(u"Built.exe"), u"--template",
                 U16(fs::path(TARVELO_TEMPLATE_PATH))},
                dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    // One road for both: the window's installer is the command line's, byte for byte.
    EXPECT_TRUE(ReadBytes(dir.File(u"Built.exe")) == ReadBytes(installer));
    r = Run(dir.File(u"Built.exe"), {u"/S", u"/D=" + dir.File(u"from the tool"), u"/CPU=ARM"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FolderContents(dir.Path() / "from the tool"), expected);
}

} // namespace
