// The main window's build commands in the test program under Wine: the save dialogs they ask
// for, the package data file, an installer made in a scratch program folder with a stand-in build
// command that records how it was started, the messages of a failed build, and the setup INF lines.
#include "building/installer_build.h"
#include "platform/text.h"
#include "tests/test_support.h"
#include "tests/ui_test_support.h"
#include "ui/installer_settings.h"
#include "ui/main_window.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace ui {
void CreateInstallerIn(CMainWindow& window, const std::string& programFolder);
}

using namespace testing_support;

namespace {

namespace fs = std::filesystem;

constexpr char kDataFileFilter[] = "ORB Workspace Files (*.DAT)|*.DAT|All Files (*.*)|*.*|";
constexpr char kInstallerFilter[] = "Tarvelo Installer Files (*.exe)|*.exe|All Files (*.*)|*.*|";

std::string Ansi(const std::u16string& text) { return platform::ToAnsi(text); }

std::string CurrentFolder() {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

Bytes Resource(const std::u16string& exe, const pe::ResourceKey& type, const pe::ResourceKey& name) {
    Bytes data;
    Error error;
    if (!pe::ReadResource(exe, type, name, pe::kLanguageEnglishUS, data, error)) {
        return {};
    }
    return data;
}

struct ChooserRequest {
    bool save;
    std::string filter; // NULs shown as '|'
    DWORD flags;
    DWORD filterIndex;
    DWORD maxFile;
    std::string startName;
    bool hasInitialFolder, hasTitle, hasDefaultExtension;
};

struct Message {
    std::string text;
    std::string caption;
    UINT type;
    bool progressShown; // the progress window stood, owned by the main window, when it came
};

// Answers the save dialog with `answer` (cancels when it is empty) and records every request and
// message instead of showing them.
class BuildWindow : public ui::CMainWindow {
public:
    std::string answer;
    std::vector<ChooserRequest> choosers;
    std::vector<Message> messages;

    BOOL RunFileChooser(OPENFILENAMEA& request, bool save) override {
        std::string filter;
        for (const char* at = request.lpstrFilter; at && *at; at += std::strlen(at) + 1) {
            filter.append(at).append("|");
        }
        choosers.push_back({save, filter, request.Flags, request.nFilterIndex, request.nMaxFile,
                            request.lpstrFile ? request.lpstrFile : "<none>", request.lpstrInitialDir != nullptr,
                            request.lpstrTitle != nullptr, request.lpstrDefExt != nullptr});
        if (answer.empty() || !request.lpstrFile || answer.size() >= request.nMaxFile) {
            return FALSE;
        }
        std::memcpy(request.lpstrFile, answer.c_str(), answer.size() + 1);
        return TRUE;
    }

    int RunMessageBox(const char* text, const char* caption, UINT type) override {
        HWND progress = ui::progressDialog.Window();
        bool shown = progress && IsWindowVisible(progress) && GetWindow(progress, GW_OWNER) == Window();
        messages.push_back({text, caption, type, shown});
        return IDOK;
    }
};

class BuildCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
        startFolder = CurrentFolder();
        programFolder = Ansi(programDir.Path().u16string());
        WriteBytes(programDir.File(u"Template.exe"), ReadBytes(SourceFile(u"tests/data/pe/rsrc-reloc32.exe")));
        std::string recorder = TARVELO_RECORDER_PATH;
        WriteBytes(programDir.File(u"record_command.exe"), ReadBytes(std::u16string(recorder.begin(), recorder.end())));
        for (auto [name, size] : {std::pair{u"app.exe", 20000}, {u"empty.txt", 0}, {u"data.bin", 5000}}) {
            std::u16string path = workDir.File(name);
            WriteBytes(path, Pattern(static_cast<std::size_t>(size), 3));
            ASSERT_TRUE(main.package.AddFile(path.c_str(), 30));
        }
        // As a drop of the folder leaves it.
        main.package.SetSourceFolder(platform::FromAnsi(Ansi(workDir.Path().u16string()) + "\\").c_str());
        main.settings.buildCommand = "record_command.exe <filename>";
        main.settings.imagePath.clear();
    }
    void TearDown() override {
        main.settings.imagePath.clear();
        main.DestroyWindow();
        uitest::TakeQuitCode();
    }

    void Command(int id, int code) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }

    // Builds an installer named `name` in the work folder; checks what every build leaves behind
    // and answers the build command's record: its command line and its working folder.
    std::vector<std::string> BuildInstaller(const std::u16string& name) {
        fs::remove(programDir.Path() / "record.txt");
        main.answer = Ansi(workDir.File(name));
        ui::CreateInstallerIn(main, programFolder);
        EXPECT_EQ(CurrentFolder(), startFolder);
        for (const auto& item : fs::directory_iterator(programDir.Path())) {
            std::string name = item.path().filename().string();
            EXPECT_TRUE(name == "Template.exe" || name == "record_command.exe" || name == "record.txt")
                << name << " written beside the program";
        }
        EXPECT_EQ(ui::progressDialog.Window(), nullptr);
        // The stand-in pauses before it writes: a record here means the command was waited for.
        std::ifstream record(programDir.Path() / "record.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(record, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    ui::CMessageLoop loop;
    ui::MessageLoopRegistration registration{loop};
    BuildWindow main;
    HWND window = nullptr;
    TempDir programDir;
    TempDir workDir;
    std::string programFolder;
    std::string startFolder;
};

TEST_F(BuildCommandsTest, ThePackageFileIsTheInstallersPackageAndTheCommandRunsOnTheInstaller) {
    main.answer = Ansi(workDir.File(u"Notes"));
    Command(IDC_CREATE_DAT, BN_CLICKED);
    ASSERT_EQ(main.choosers.size(), 1u);
    const ChooserRequest& dat = main.choosers[0];
    EXPECT_TRUE(dat.save);
    EXPECT_EQ(dat.filter, kDataFileFilter);
    EXPECT_EQ(dat.flags, 0x1808u);
    EXPECT_EQ(dat.filterIndex, 1u);
    EXPECT_EQ(dat.maxFile, 260u);
    EXPECT_EQ(dat.startName, "");
    EXPECT_FALSE(dat.hasInitialFolder || dat.hasTitle || dat.hasDefaultExtension);
    EXPECT_EQ(ui::progressDialog.Window(), nullptr);
    Bytes dataFile = ReadBytes(workDir.File(u"Notes.DAT"));
    ASSERT_FALSE(dataFile.empty());

    Bytes sidebar = MakeBitmap(128, 280, 9);
    WriteBytes(workDir.File(u"side.bmp"), sidebar);
    main.settings.imagePath = Ansi(workDir.File(u"side.bmp"));
    std::vector<std::string> record = BuildInstaller(u"My Setup");
    EXPECT_EQ(main.choosers.back().filter, kInstallerFilter);
    EXPECT_EQ(main.choosers.back().flags, 0x1808u);
    EXPECT_EQ(main.messages.size(), 0u);

    std::u16string installer = workDir.File(u"My Setup.exe");
    EXPECT_EQ(Resource(installer, pe::ResourceKey::Name(u"RT_RCDATA"), pe::ResourceKey::Name(u"ORBDATA")), dataFile);
    EXPECT_EQ(Resource(installer, pe::ResourceKey::Id(pe::kTypeBitmap), pe::ResourceKey::Id(251)),
              Bytes(sidebar.begin() + 14, sidebar.end()));
    ASSERT_EQ(record.size(), 2u) << "the build command ran and was waited for";
    EXPECT_EQ(record[0], "record_command.exe \"" + Ansi(installer) + "\"");
    EXPECT_EQ(record[1], programFolder);
}

TEST_F(BuildCommandsTest, FailedStepsAreReportedOverTheProgressWindowAndTheCommandStillRuns) {
    const Bytes templateBytes = ReadBytes(programDir.File(u"Template.exe"));
    const std::string cannotMake = building::kCannotMakeInstallerText;
    const std::string wrongSize = building::kWrongSidebarText;
    auto expectOneMessage = [&](const std::string& text) {
        ASSERT_EQ(main.messages.size(), 1u);
        EXPECT_EQ(main.messages[0].text, text);
        EXPECT_EQ(main.messages[0].caption, "Error");
        EXPECT_EQ(main.messages[0].type, static_cast<UINT>(MB_OK));
        EXPECT_TRUE(main.messages[0].progressShown);
        main.messages.clear();
    };

    fs::remove(programDir.Path() / "Template.exe");
    std::vector<std::string> record = BuildInstaller(u"NoTemplate.exe");
    expectOneMessage(cannotMake);
    EXPECT_FALSE(Exists(workDir.File(u"NoTemplate.exe")));
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0], "record_command.exe \"" + Ansi(workDir.File(u"NoTemplate.exe")) + "\"");
    WriteBytes(programDir.File(u"Template.exe"), templateBytes);

    struct Sidebar {
        std::u16string installer;
        Bytes file;
    };
    for (const Sidebar& bad :
         {Sidebar{u"Tall.exe", MakeBitmap(128, 281, 1)}, Sidebar{u"Wide.exe", MakeBitmap(280, 128, 1)},
          Sidebar{u"NotBitmap.exe", Pattern(2000)}, Sidebar{u"Missing.exe", {}}}) {
        SCOPED_TRACE(Ansi(bad.installer));
        std::u16string bitmap = workDir.File(bad.installer + u".bmp");
        if (!bad.file.empty()) {
            WriteBytes(bitmap, bad.file);
        }
        main.settings.imagePath = Ansi(bitmap);
        EXPECT_EQ(BuildInstaller(bad.installer).size(), 2u);
        expectOneMessage(wrongSize);
        EXPECT_FALSE(Resource(workDir.File(bad.installer), pe::ResourceKey::Name(u"RT_RCDATA"),
                              pe::ResourceKey::Name(u"ORBDATA"))
                         .empty());
    }
    // A setting of four characters names no file and is passed over without a word.
    main.settings.imagePath = "a.bm";
    EXPECT_EQ(BuildInstaller(u"Short.exe").size(), 2u);
    EXPECT_TRUE(main.messages.empty());
    main.settings.imagePath.clear();

    // Two names that are one file on the device: refused before anything is written, in one
    // message that names both.
    WriteBytes(workDir.File(u"DATA.BIN"), Pattern(10));
    ASSERT_TRUE(main.package.AddFile(workDir.File(u"DATA.BIN").c_str(), 30));
    EXPECT_EQ(BuildInstaller(u"Twins.exe").size(), 2u);
    ASSERT_EQ(main.messages.size(), 1u);
    EXPECT_EQ(main.messages[0].text.rfind("The installer was not made; nothing was written.", 0), 0u);
    EXPECT_NE(main.messages[0].text.find("data.bin"), std::string::npos) << main.messages[0].text;
    EXPECT_NE(main.messages[0].text.find("DATA.BIN"), std::string::npos) << main.messages[0].text;
    EXPECT_EQ(main.messages[0].caption, "Error");
    main.messages.clear();
    EXPECT_FALSE(Exists(workDir.File(u"Twins.exe")));

    main.package.Clear();
    EXPECT_EQ(BuildInstaller(u"Empty.exe").size(), 2u);
    expectOneMessage(cannotMake);
    EXPECT_FALSE(Exists(workDir.File(u"Empty.exe"))) << "no bare template that looks like an installer";
}

TEST_F(BuildCommandsTest, CancellingTheSaveDialogLeavesNoTraceAndAnEmptyListWritesNoDataFile) {
    const int commands[][2] = {{ID_FILE_CREATE_DAT, 0},
                               {IDC_CREATE_DAT, BN_CLICKED},
                               {ID_FILE_CREATE_INSTALLER, 0},
                               {IDC_CREATE_INSTALLER, BN_CLICKED}};
    for (const auto& command : commands) {
        Command(command[0], command[1]);
    }
    ASSERT_EQ(main.choosers.size(), 4u);
    EXPECT_EQ(main.choosers[0].filter, kDataFileFilter);
    EXPECT_EQ(main.choosers[1].filter, kDataFileFilter);
    EXPECT_EQ(main.choosers[2].filter, kInstallerFilter);
    EXPECT_EQ(main.choosers[3].filter, kInstallerFilter);
    EXPECT_EQ(ui::progressDialog.Window(), nullptr);
    EXPECT_TRUE(main.messages.empty());
    EXPECT_EQ(CurrentFolder(), startFolder);

    main.package.Clear();
    main.answer = Ansi(workDir.File(u"Empty"));
    Command(ID_FILE_CREATE_DAT, 0);
    EXPECT_FALSE(Exists(workDir.File(u"Empty.DAT")));
    EXPECT_TRUE(main.messages.empty());
}

TEST_F(BuildCommandsTest, APackageFileThatCannotBeWrittenIsReportedWithItsCause) {
    std::u16string member = workDir.File(u"data.bin");
    fs::remove(fs::path(member));
    main.answer = Ansi(workDir.File(u"Broken.dat"));
    Command(ID_FILE_CREATE_DAT, 0);
    EXPECT_FALSE(Exists(workDir.File(u"Broken.dat")));
    ASSERT_EQ(main.messages.size(), 1u);
    EXPECT_EQ(main.messages[0].caption, "Error");
    EXPECT_NE(main.messages[0].text.find(main.answer), std::string::npos) << main.messages[0].text;
    EXPECT_NE(main.messages[0].text.find(Ansi(member)), std::string::npos) << main.messages[0].text;
    EXPECT_FALSE(main.messages[0].progressShown) << "the build is over when it is reported";
}

TEST_F(BuildCommandsTest, TheInfLinesFollowTheTargetFolderAndAreNotWritten) {
    TempDir current;
    ASSERT_TRUE(SetCurrentDirectoryA(Ansi(current.Path().u16string()).c_str()));
    struct Case {
        int selection;
        const char* installDir; // nullptr for none
    };
    for (const Case& c : {Case{-1, nullptr}, Case{0, nullptr}, Case{1, "InstallDir = %CE1%\\%AppName%"},
                          Case{2, "InstallDir = %CE11%\\%AppName%"}, Case{3, nullptr}}) {
        SCOPED_TRACE(c.selection);
        SendMessageW(main.targetFolderCombo, CB_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
        Command(IDC_CREATE_CABWIZ_INF, BN_CLICKED);
        std::vector<std::string> first = main.infLines;
        Command(IDC_CREATE_CABWIZ_INF, BN_CLICKED);
        EXPECT_EQ(main.infLines, first);
        ASSERT_EQ(first.size(), c.installDir ? 12u : 11u);
        EXPECT_EQ(first[1], "; Etarvelo generated .inf");
        EXPECT_EQ(first[10], "[CEStrings]");
        if (c.installDir) {
            EXPECT_EQ(first[11], c.installDir);
        }
    }
    EXPECT_TRUE(fs::is_empty(current.Path()));
    SetCurrentDirectoryA(startFolder.c_str());
}

} // namespace
