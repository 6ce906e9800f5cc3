// The program's own dialogs made from its templates in the test program: the progress window driven
// by a real package write, the Installer Properties dialog with its chooser and message box
// answered by doubles, the About box closed every way a user closes it, and the help command.
#include "tests/test_support.h"
#include "tests/ui_test_support.h"
#include "ui/about_dialog.h"
#include "ui/help.h"
#include "ui/installer_properties_dialog.h"
#include "ui/main_window.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using testing_support::TempDir;

std::string TextA(HWND window) {
    char buffer[1024] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end()); // the tests' own paths are plain ASCII
}

std::vector<int> TabOrder(HWND window) {
    std::vector<int> ids;
    HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
    for (HWND at = first; at && ids.size() < 20;) {
        ids.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window, at, FALSE);
        if (at == first) {
            break;
        }
    }
    return ids;
}

// ---- running a modal dialog with a script ----

// The script runs from inside the dialog's own modal loop once its window is shown, as a user's
// keystrokes and clicks would; a dialog the script fails to close is cancelled after five seconds
// with the code -1.
struct Script {
    ui::CDialogBase* dialog = nullptr;
    std::function<void(HWND)> action;
    bool ran = false;
};
Script script;

void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND window = script.dialog ? script.dialog->Window() : nullptr;
    if (!window || !IsWindowVisible(window) || script.ran) {
        return;
    }
    KillTimer(nullptr, timer);
    script.ran = true;
    script.action(window);
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (script.dialog && script.dialog->Window()) {
        EndDialog(script.dialog->Window(), -1);
    }
}

INT_PTR RunScripted(ui::CDialogBase& dialog, HWND owner, std::function<void(HWND)> action) {
    script = Script{&dialog, std::move(action), false};
    UINT_PTR step = SetTimer(nullptr, 0, 10, RunScript);
    UINT_PTR limit = SetTimer(nullptr, 0, 5000, GiveUp);
    INT_PTR result = dialog.DoModal(owner);
    KillTimer(nullptr, step);
    KillTimer(nullptr, limit);
    EXPECT_TRUE(script.ran) << "the dialog never showed";
    script = Script{};
    return result;
}

// A plain visible window to own the dialogs, as the main window does in the program.
class OwnerWindow {
public:
    OwnerWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 500, 400, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnerWindow() { DestroyWindow(window_); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_;
};

// ---- Progress ----

// The window paints at most once per frame of its clock; here the test moves the clock.
constexpr std::uint64_t kFrame = 16;

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        ui::progressDialog.SetFrameClock([this] { return clock; });
    }
    void TearDown() override {
        ui::progressDialog.DestroyWindow();
        ui::progressDialog.SetFrameClock({});
    }

    struct Shown {
        int overall;
        int file;
        std::string label;
        bool painted;
    };

    Shown Read() {
        ui::CProgressDialog& dialog = ui::progressDialog;
        Shown shown{static_cast<int>(SendMessageW(dialog.overallBar, PBM_GETPOS, 0, 0)),
                    static_cast<int>(SendMessageW(dialog.fileBar, PBM_GETPOS, 0, 0)), TextA(dialog.fileNameLabel),
                    true};
        for (HWND control : {dialog.overallBar, dialog.fileBar, dialog.fileNameLabel}) {
            shown.painted = shown.painted && !GetUpdateRect(control, nullptr, FALSE);
        }
        return shown;
    }

    // Writes a package of the files and answers what the window showed after each report.
    std::vector<Shown> Build(const std::vector<std::u16string>& files) {
        Package package;
        for (const auto& file : files) {
            EXPECT_TRUE(package.AddFile(file.c_str(), FLAG_ALL_PLATFORMS));
        }
        std::vector<Shown> seen;
        bool alwaysGoOn = true;
        auto callback = [&](const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent) {
            clock += kFrame; // each chunk in a frame of its own, so that every report is painted
            std::uint8_t answer = ui::reportBuildProgress(entry, filePercent, overallPercent);
            alwaysGoOn = alwaysGoOn && answer == 0;
            seen.push_back(Read());
            return answer;
        };
        EXPECT_TRUE(package.Write(temp.File(u"out.dat").c_str(), callback));
        EXPECT_TRUE(alwaysGoOn);
        return seen;
    }

    std::uint64_t clock = 1000;
    TempDir temp;
    OwnerWindow owner;
};

TEST_F(ProgressTest, EachBuildStartsHiddenWithEmptyBarsAndNoFileName) {
    ui::CProgressDialog& dialog = ui::progressDialog;
    for (int build = 0; build < 2; ++build) {
        HWND window = dialog.Create(owner.Get());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(GetWindow(window, GW_OWNER), owner.Get());
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(TextA(window), "Tarvelo Installer Progress");
        EXPECT_EQ(dialog.overallBar, GetDlgItem(window, IDC_OVERALL_PROGRESS));
        EXPECT_EQ(dialog.fileBar, GetDlgItem(window, IDC_FILE_PROGRESS));
        EXPECT_EQ(dialog.fileNameLabel, GetDlgItem(window, IDC_PROGRESS_FILE_NAME));
        for (HWND bar : {dialog.overallBar, dialog.fileBar}) {
            PBRANGE range{};
            SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            EXPECT_EQ(range.iLow, 0);
            EXPECT_EQ(range.iHigh, 100);
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
        }
        EXPECT_EQ(TextA(dialog.fileNameLabel), "[None]");

        // Centred over its owner.
        RECT ownerRect, own;
        GetWindowRect(owner.Get(), &ownerRect);
        GetWindowRect(window, &own);
        EXPECT_NEAR((own.left + own.right) / 2, (ownerRect.left + ownerRect.right) / 2, 1);
        EXPECT_NEAR((own.top + own.bottom) / 2, (ownerRect.top + ownerRect.bottom) / 2, 1);

        dialog.Show();
        EXPECT_TRUE(IsWindowVisible(window));
        for (HWND at = window; at; at = at == window ? GetWindow(window, GW_CHILD) : GetWindow(at, GW_HWNDNEXT)) {
            EXPECT_FALSE(GetUpdateRect(at, nullptr, FALSE)) << "painted before the build stops taking messages";
        }
        PackageEntry entry{};
        std::u16string name = u"C:\\App\\first.bin";
        name.copy(entry.filename, name.size());
        ui::reportBuildProgress(entry, 50, 50);
        EXPECT_EQ(TextA(dialog.fileNameLabel), "first.bin");

        dialog.DestroyWindow();
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(dialog.Window(), nullptr);
    }
}

TEST_F(ProgressTest, FourEqualFilesMoveTheOverallBarByQuartersAndNameEachFile) {
    std::vector<std::u16string> files;
    for (const char16_t* name : {u"one.bin", u"two.bin", u"three.bin", u"four.bin"}) {
        files.push_back(temp.File(name));
        testing_support::WriteBytes(files.back(), testing_support::Pattern(10000));
    }
    ASSERT_NE(ui::progressDialog.Create(owner.Get()), nullptr);
    ui::progressDialog.Show();
    std::vector<Shown> seen = Build(files);

    // Three 4096-byte chunks per file: 40, 81 and 100 per cent of it.
    ASSERT_EQ(seen.size(), 12u);
    const int chunks[] = {40, 81, 100};
    const char* names[] = {"one.bin", "two.bin", "three.bin", "four.bin"};
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].overall, static_cast<int>(i / 3 + 1) * 25);
        EXPECT_EQ(seen[i].file, chunks[i % 3]);
        EXPECT_EQ(seen[i].label, names[i / 3]);
        EXPECT_TRUE(seen[i].painted) << "the build takes no messages, so nothing may wait for a paint";
    }
}

TEST_F(ProgressTest, AnEmptyFileIsNeverReportedSoThePreviousOneStaysShown) {
    std::vector<std::u16string> files = {temp.File(u"first.txt"), temp.File(u"empty.txt"), temp.File(u"last.txt")};
    testing_support::WriteBytes(files[0], testing_support::Pattern(100));
    testing_support::WriteBytes(files[1], {});
    testing_support::WriteBytes(files[2], testing_support::Pattern(100));
    ASSERT_NE(ui::progressDialog.Create(owner.Get()), nullptr);
    ui::progressDialog.Show();
    std::vector<Shown> seen = Build(files);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].label, "first.txt");
    EXPECT_EQ(seen[0].overall, 33);
    EXPECT_EQ(seen[1].label, "last.txt");
    EXPECT_EQ(seen[1].overall, 100);
}

TEST_F(ProgressTest, ReportsOfOddValuesShowSensibly) {
    ui::CProgressDialog& dialog = ui::progressDialog;
    PackageEntry entry{};
    auto report = [&](std::u16string_view name, std::int32_t file, std::int32_t overall) {
        std::fill(std::begin(entry.filename), std::end(entry.filename), u'\0');
        name.copy(entry.filename, name.size());
        return ui::reportBuildProgress(entry, file, overall);
    };

    // Before a build made the window there is nothing to show, and nothing goes wrong.
    EXPECT_EQ(report(u"C:\\x.bin", 10, 10), 0);

    ASSERT_NE(dialog.Create(owner.Get()), nullptr);
    dialog.Show();
    EXPECT_EQ(report(u"readme", 10, 20), 0);
    EXPECT_EQ(TextA(dialog.fileNameLabel), "readme") << "a name without a backslash is shown whole";
    EXPECT_EQ(report(u"C:\\App\\grown.log", 130, 100), 0);
    EXPECT_EQ(SendMessageW(dialog.fileBar, PBM_GETPOS, 0, 0), 100) << "a file that grew shows a full bar";
    EXPECT_EQ(TextA(dialog.fileNameLabel), "grown.log");
    EXPECT_EQ(report(u"C:\\App\\grown.log", 100, 100), 0);
    EXPECT_EQ(SendMessageW(dialog.fileBar, PBM_GETPOS, 0, 0), 100);
}

// Watches a control: how often it is changed or painted, and the last position or text it was given.
struct Watched {
    WNDPROC procedure = nullptr;
    int activity = 0;
    int position = -1;
    std::string text;
};
std::map<HWND, Watched> watched;

LRESULT CALLBACK Watch(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    Watched& seen = watched[control];
    if (message == WM_PAINT || message == PBM_SETPOS || message == WM_SETTEXT) {
        ++seen.activity;
    }
    if (message == PBM_SETPOS) {
        seen.position = static_cast<int>(wParam);
    } else if (message == WM_SETTEXT) {
        std::wstring text(reinterpret_cast<const wchar_t*>(lParam));
        seen.text.assign(text.begin(), text.end()); // the tests' names are plain ASCII
    }
    return CallWindowProcW(seen.procedure, control, message, wParam, lParam);
}

TEST_F(ProgressTest, ReportsWithinOneFramePaintOnceAndTheLatestIsNeverLeftUnpainted) {
    ui::CProgressDialog& dialog = ui::progressDialog;
    PackageEntry entry{};
    auto report = [&](std::u16string_view name, std::int32_t file, std::int32_t overall) {
        std::fill(std::begin(entry.filename), std::end(entry.filename), u'\0');
        name.copy(entry.filename, name.size());
        ui::reportBuildProgress(entry, file, overall);
    };
    auto shows = [&](int overall, int file, const std::string& name) {
        return SendMessageW(dialog.overallBar, PBM_GETPOS, 0, 0) == overall &&
               SendMessageW(dialog.fileBar, PBM_GETPOS, 0, 0) == file && TextA(dialog.fileNameLabel) == name;
    };
    auto activity = [&] {
        return std::vector<int>{watched[dialog.overallBar].activity, watched[dialog.fileBar].activity,
                                watched[dialog.fileNameLabel].activity};
    };
    ASSERT_NE(dialog.Create(owner.Get()), nullptr);
    dialog.Show();
    watched.clear();
    for (HWND control : {dialog.overallBar, dialog.fileBar, dialog.fileNameLabel}) {
        watched[control].procedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Watch)));
    }

    // The first report is painted at once; fifty more within the same frame leave every control
    // alone.
    report(u"C:\\App\\a.bin", 10, 10);
    EXPECT_TRUE(shows(10, 10, "a.bin"));
    std::vector<int> before = activity();
    for (int percent = 11; percent <= 60; ++percent) {
        report(u"C:\\App\\b.bin", percent, 20);
    }
    EXPECT_TRUE(shows(10, 10, "a.bin"));
    EXPECT_EQ(activity(), before);

    // The next frame's report paints the latest picture.
    clock += kFrame;
    report(u"C:\\App\\b.bin", 61, 20);
    EXPECT_TRUE(shows(20, 61, "b.bin"));
    EXPECT_TRUE(std::ranges::equal(activity(), before, std::greater<>()));
    // Only what changed is touched.
    before = activity();
    clock += kFrame;
    report(u"C:\\App\\b.bin", 70, 20);
    std::vector<int> after = activity();
    EXPECT_EQ(after[0], before[0]);
    EXPECT_GT(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);

    // A report left waiting within a frame is painted by Flush (before a message box of the build),
    // by the first frame of any message loop (a message box's), and as the window goes.
    report(u"C:\\App\\c.bin", 5, 30);
    EXPECT_TRUE(shows(20, 70, "b.bin"));
    dialog.Flush();
    EXPECT_TRUE(shows(30, 5, "c.bin"));
    report(u"C:\\App\\d.bin", 7, 40);
    EXPECT_TRUE(uitest::PumpUntil([&] { return shows(40, 7, "d.bin"); }, 1000));
    report(u"C:\\App\\e.bin", 9, 50);
    HWND label = dialog.fileNameLabel;
    HWND bars[] = {dialog.overallBar, dialog.fileBar};
    dialog.DestroyWindow();
    EXPECT_EQ(watched[label].text, "e.bin");
    EXPECT_EQ(watched[bars[0]].position, 50);
    EXPECT_EQ(watched[bars[1]].position, 9);

    // The build's last chunk is painted at once, even within the frame: a build command may run
    // for long after it.
    ASSERT_NE(dialog.Create(owner.Get()), nullptr);
    dialog.Show();
    report(u"C:\\App\\y.bin", 50, 50);
    report(u"C:\\App\\z.bin", 100, 100);
    EXPECT_TRUE(shows(100, 100, "z.bin"));
    watched.clear();
}

TEST_F(ProgressTest, EnterEscapeAndTheCloseBoxOnlyHideTheWindow) {
    ui::CProgressDialog& dialog = ui::progressDialog;
    for (UINT message : {0u, 1u, 2u}) {
        SCOPED_TRACE(message);
        HWND window = dialog.Create(owner.Get());
        ASSERT_NE(window, nullptr);
        dialog.Show();
        if (message == 0) {
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else if (message == 1) {
            SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
        } else {
            SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        // The close box's command is posted: it takes effect once messages are taken again.
        EXPECT_TRUE(uitest::PumpUntil([&] { return !IsWindowVisible(window); }, 1000));
        EXPECT_TRUE(IsWindow(window));
        PackageEntry entry{};
        std::u16string name = u"C:\\later.bin";
        name.copy(entry.filename, name.size());
        EXPECT_EQ(ui::reportBuildProgress(entry, 40, 40), 0);
        EXPECT_EQ(SendMessageW(dialog.overallBar, PBM_GETPOS, 0, 0), 40) << "the build goes on behind it";
        dialog.DestroyWindow();
        EXPECT_FALSE(IsWindow(window));
    }
}

// ---- Installer Properties ----

// The texts as the user must read them, blanks included.
const char* const kImageHelp =
    "INSTALLER IMAGE FILE: The image that acts as a sidebar in the installer application, should be 128x280";
const char* const kCommandHelp = "BUILD COMMAND:  Command line executed after the installer file is created. "
                                 "<filename> will be replaced with the installers filename.";

// Answers the dialog's file chooser and message box the way the test says.
class ScriptedPropertiesDialog : public ui::CInstallerPropertiesDialog {
public:
    std::string choice; // the path the chooser answers; empty cancels
    std::vector<OPENFILENAMEA> requests;
    std::vector<bool> saves;
    std::vector<std::string> filters;
    struct Box {
        std::string text, caption;
        UINT type;
        HWND owner;
    };
    std::vector<Box> boxes;

    BOOL RunFileChooser(OPENFILENAMEA& request, bool save) override {
        requests.push_back(request);
        saves.push_back(save);
        const char* filter = request.lpstrFilter;
        std::string all;
        while (filter && *filter) {
            all += filter;
            all += '|';
            filter += std::strlen(filter) + 1;
        }
        filters.push_back(all);
        if (choice.empty()) {
            return FALSE;
        }
        choice.copy(request.lpstrFile, request.nMaxFile - 1);
        request.lpstrFile[std::min<std::size_t>(choice.size(), request.nMaxFile - 1)] = '\0';
        return TRUE;
    }
    int RunMessageBox(const char* text, const char* caption, UINT type) override {
        boxes.push_back({text, caption, type, Window()});
        return IDOK;
    }
};

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        settings = {"", "C:\\icons\\app.ico", "My Installer", "My Program", "Cexe.exe <filename>"};
        dialog.Attach(settings);
    }

    std::string Bitmap(const char16_t* name, std::uint32_t width, std::uint32_t height) {
        std::u16string path = temp.File(name);
        testing_support::WriteBytes(path, testing_support::MakeBitmap(width, height, 7));
        return Narrow(path);
    }

    INT_PTR Run(std::function<void(HWND)> action) { return RunScripted(dialog, owner.Get(), std::move(action)); }

    HWND Preview() const { return dialog.preview; }
    bool PreviewShows() const { return SendMessageW(dialog.preview, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0; }

    TempDir temp;
    OwnerWindow owner;
    ScriptedPropertiesDialog dialog;
    ui::InstallerSettings settings;
};

TEST_F(PropertiesTest, OpensWithTheStoredSettingsAndTheImageHelp) {
    INT_PTR result = Run([&](HWND window) {
        EXPECT_EQ(TextA(window), "Installer Properties");
        EXPECT_EQ(GetWindow(window, GW_OWNER), owner.Get());
        EXPECT_EQ(TextA(dialog.imagePathEdit), "");
        EXPECT_EQ(TextA(dialog.buildCommandEdit), "Cexe.exe <filename>");
        EXPECT_EQ(TextA(dialog.iconPathEdit), "C:\\icons\\app.ico");
        EXPECT_EQ(TextA(dialog.titleEdit), "My Installer");
        EXPECT_EQ(TextA(dialog.shortcutNameEdit), "My Program");
        EXPECT_FALSE(PreviewShows());
        EXPECT_EQ(GetFocus(), dialog.imagePathEdit);
        EXPECT_EQ(TextA(dialog.helpBox), kImageHelp);

        // What the user can reach.
        EXPECT_EQ(dialog.imageButton, GetDlgItem(window, IDC_CHOOSE_IMAGE));
        EXPECT_EQ(dialog.preview, GetDlgItem(window, IDC_SIDEBAR_PREVIEW));
        for (int id : {IDC_IMAGE_PATH, IDC_CHOOSE_IMAGE, IDC_BUILD_COMMAND, IDC_FIELD_HELP, IDOK, IDCANCEL,
                       IDC_SIDEBAR_PREVIEW}) {
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, id))) << id;
        }
        for (int id : {IDC_ICON_PATH, IDC_CHOOSE_ICON, IDC_SHORTCUT_NAME, IDC_INSTALLER_TITLE}) {
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, id))) << id;
        }
        LONG help = GetWindowLongW(dialog.helpBox, GWL_STYLE);
        EXPECT_TRUE(help & ES_READONLY);
        EXPECT_TRUE(help & ES_MULTILINE);
        EXPECT_FALSE(help & WS_TABSTOP);
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(window, IDOK), GWL_STYLE) & BS_DEFPUSHBUTTON);
        EXPECT_EQ(TabOrder(window),
                  (std::vector<int>{IDC_IMAGE_PATH, IDC_BUILD_COMMAND, IDOK, IDCANCEL, IDC_CHOOSE_IMAGE}));
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(PropertiesTest, TheHelpBoxExplainsTheFieldThatGainedTheFocus) {
    Run([&](HWND window) {
        EXPECT_EQ(TextA(dialog.helpBox), kImageHelp);
        SetFocus(dialog.buildCommandEdit);
        EXPECT_EQ(TextA(dialog.helpBox), kCommandHelp);
        SetFocus(GetDlgItem(window, IDOK));
        EXPECT_EQ(TextA(dialog.helpBox), kCommandHelp) << "a button has no help of its own";
        SetFocus(dialog.imagePathEdit);
        EXPECT_EQ(TextA(dialog.helpBox), kImageHelp);
        // The hidden fields cannot take the focus from the user; their notifications still work.
        const std::pair<int, const char*> hidden[] = {
            {IDC_ICON_PATH, "INSTALLER ICON FILE: The Icon for your installer application"},
            {IDC_INSTALLER_TITLE, "INSTALLER TITLE:  The title that will appear in the titlebar of the installer."},
            {IDC_SHORTCUT_NAME, "SHORTCUT NAME: The text that will become the shortcut on the devices start menu"}};
        for (const auto& [id, text] : hidden) {
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, EN_SETFOCUS), 0);
            EXPECT_EQ(TextA(dialog.helpBox), text);
        }
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_BUILD_COMMAND, EN_CHANGE), 0);
        EXPECT_EQ(TextA(dialog.helpBox), hidden[2].second) << "only focus notifications change the help";
        EndDialog(window, IDCANCEL);
    });
}

TEST_F(PropertiesTest, OnlyASidebarOfExactly128By280IsAccepted) {
    const std::string good = Bitmap(u"good.bmp", 128, 280);
    const std::string other = Bitmap(u"other.bmp", 128, 280);
    const std::string notBitmap = Narrow(temp.File(u"text.bmp"));
    testing_support::WriteBytes(temp.File(u"text.bmp"), {'h', 'e', 'l', 'l', 'o'});
    const std::string refused[] = {Bitmap(u"narrow.bmp", 127, 280), Bitmap(u"tall.bmp", 128, 281),
                                   Bitmap(u"turned.bmp", 280, 128), notBitmap, Narrow(temp.File(u"missing.bmp"))};

    INT_PTR result = Run([&](HWND window) {
        auto choose = [&](const std::string& path) {
            dialog.choice = path;
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHOOSE_IMAGE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(dialog.imageButton));
        };
        choose(good);
        EXPECT_TRUE(dialog.boxes.empty());
        EXPECT_EQ(TextA(dialog.imagePathEdit), good);
        ASSERT_TRUE(PreviewShows());
        RECT shown;
        GetClientRect(dialog.preview, &shown);
        EXPECT_EQ(shown.right, 128) << "the whole picture at its own size, inside the border";
        EXPECT_EQ(shown.bottom, 280);

        for (const auto& path : refused) {
            SCOPED_TRACE(path);
            HANDLE before = reinterpret_cast<HANDLE>(SendMessageW(dialog.preview, STM_GETIMAGE, IMAGE_BITMAP, 0));
            dialog.boxes.clear();
            choose(path);
            ASSERT_EQ(dialog.boxes.size(), 1u);
            EXPECT_EQ(dialog.boxes[0].text,
                      "The bitmap you provided for your installer is not the\n correct size. It must be "
                      "128 pixels wide and 280 pixels tall. \nThe installer will use the "
                      "default bitmap");
            EXPECT_EQ(dialog.boxes[0].caption, "Error");
            EXPECT_EQ(dialog.boxes[0].type, static_cast<UINT>(MB_OK));
            EXPECT_EQ(dialog.boxes[0].owner, window);
            EXPECT_EQ(TextA(dialog.imagePathEdit), good) << "the field keeps the accepted picture";
            EXPECT_EQ(reinterpret_cast<HANDLE>(SendMessageW(dialog.preview, STM_GETIMAGE, IMAGE_BITMAP, 0)), before);
        }

        // A cancelled chooser changes nothing and says nothing; a second good picture replaces the first.
        dialog.boxes.clear();
        choose("");
        EXPECT_EQ(TextA(dialog.imagePathEdit), good);
        choose(other);
        EXPECT_EQ(TextA(dialog.imagePathEdit), other);
        EXPECT_TRUE(dialog.boxes.empty());
        SendMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(settings.imagePath, other);

    // The chooser the user saw: one filter, an empty 260-character name, no folder, existing files.
    ASSERT_FALSE(dialog.requests.empty());
    const OPENFILENAMEA& request = dialog.requests[0];
    EXPECT_FALSE(dialog.saves[0]);
    EXPECT_EQ(dialog.filters[0], "BMP Image Files(*.bmp)|*.bmp|");
    EXPECT_EQ(request.nFilterIndex, 1u);
    EXPECT_EQ(request.nMaxFile, 260u);
    EXPECT_EQ(request.lpstrInitialDir, nullptr);
    EXPECT_EQ(request.Flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST), DWORD{OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST});
    EXPECT_NE(request.hwndOwner, nullptr);
}

TEST_F(PropertiesTest, CancelStoresNothingNotEvenAChosenPicture) {
    settings.imagePath = Bitmap(u"old.bmp", 128, 280);
    const std::string chosen = Bitmap(u"new.bmp", 128, 280);
    const ui::InstallerSettings before = settings;
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        INT_PTR result = Run([&](HWND window) {
            EXPECT_TRUE(PreviewShows()) << "the stored picture is shown at opening";
            dialog.choice = chosen;
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHOOSE_IMAGE, BN_CLICKED), 0);
            EXPECT_EQ(TextA(dialog.imagePathEdit), chosen);
            for (HWND field :
                 {dialog.buildCommandEdit, dialog.iconPathEdit, dialog.titleEdit, dialog.shortcutNameEdit}) {
                SetWindowTextA(field, "changed");
            }
            if (way == 0) {
                SendMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
            } else if (way == 1) {
                PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
            } else {
                PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(settings.imagePath, before.imagePath);
        EXPECT_EQ(settings.iconPath, before.iconPath);
        EXPECT_EQ(settings.installerTitle, before.installerTitle);
        EXPECT_EQ(settings.shortcutName, before.shortcutName);
        EXPECT_EQ(settings.buildCommand, "Cexe.exe <filename>");
    }
}

TEST_F(PropertiesTest, OkStoresAllFiveFieldsCutTo259Characters) {
    auto longText = [](char first) {
        std::string text;
        for (int i = 0; i < 300; ++i) {
            text += static_cast<char>(first + i % 20);
        }
        return text;
    };
    const std::string image = longText('a'), command = longText('A'), icon = longText('0'), title = longText('E'),
                      shortcut = longText('K');
    INT_PTR result = Run([&](HWND) {
        SetWindowTextA(dialog.imagePathEdit, image.c_str());
        SetWindowTextA(dialog.buildCommandEdit, command.c_str());
        SetWindowTextA(dialog.iconPathEdit, icon.c_str());
        SetWindowTextA(dialog.titleEdit, title.c_str());
        SetWindowTextA(dialog.shortcutNameEdit, shortcut.c_str());
        SetFocus(dialog.buildCommandEdit);
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0); // Enter in a field presses OK
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(settings.imagePath, image.substr(0, 259));
    EXPECT_EQ(settings.buildCommand, command.substr(0, 259));
    EXPECT_EQ(settings.iconPath, icon.substr(0, 259));
    EXPECT_EQ(settings.installerTitle, title.substr(0, 259));
    EXPECT_EQ(settings.shortcutName, shortcut.substr(0, 259));
}

TEST_F(PropertiesTest, OkKeepsTheHiddenFieldsAndAnEmptyBuildCommand) {
    const ui::InstallerSettings before = settings;
    INT_PTR result = Run([&](HWND window) {
        SetWindowTextA(dialog.buildCommandEdit, "");
        SendMessageW(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(settings.iconPath, before.iconPath);
    EXPECT_EQ(settings.installerTitle, before.installerTitle);
    EXPECT_EQ(settings.shortcutName, before.shortcutName);
    EXPECT_EQ(settings.imagePath, "");
    EXPECT_EQ(settings.buildCommand, "") << "nothing checks the build command";
}

TEST_F(PropertiesTest, TheStoredPictureIsPreviewedWithoutASizeCheckOrAMessage) {
    struct Case {
        std::string path;
        bool shown;
    };
    const Case cases[] = {
        {Bitmap(u"small.bmp", 40, 30), true}, // any size is shown at opening
        {Narrow(temp.File(u"gone.bmp")), false},
        {"a.bm", false}, // four characters or fewer are not looked at
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        settings.imagePath = c.path;
        EXPECT_EQ(Run([&](HWND window) {
                      EXPECT_EQ(PreviewShows(), c.shown);
                      EXPECT_EQ(TextA(dialog.imagePathEdit), c.path);
                      EndDialog(window, IDCANCEL);
                  }),
                  IDCANCEL);
        EXPECT_TRUE(dialog.boxes.empty());
    }
}

TEST_F(PropertiesTest, TheHiddenIconChooserFillsTheIconField) {
    const std::string icon = Narrow(temp.File(u"app.ico"));
    Run([&](HWND window) {
        dialog.choice = "";
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHOOSE_ICON, BN_CLICKED), 0);
        EXPECT_EQ(TextA(dialog.iconPathEdit), "C:\\icons\\app.ico");
        dialog.choice = icon; // the file need not exist: nothing reads it
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CHOOSE_ICON, BN_CLICKED), 0);
        EXPECT_EQ(TextA(dialog.iconPathEdit), icon);
        SendMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(settings.iconPath, icon);
    ASSERT_EQ(dialog.requests.size(), 2u);
    EXPECT_TRUE(dialog.saves[0]);
    EXPECT_EQ(dialog.filters[0], "ICO Icon files (*.ico)|*.ico|All Files (*.*)|*.*|");
    EXPECT_EQ(dialog.requests[0].nFilterIndex, 1u);
    EXPECT_EQ(dialog.requests[0].nMaxFile, 260u);
}

// ---- About ----

TEST(AboutBox, ShowsTheProgramAndClosesWithEnterEscapeOkAndTheCloseBox) {
    uitest::PrepareModule();
    OwnerWindow owner;
    const std::pair<int, INT_PTR> ways[] = {{0, IDOK}, {1, IDCANCEL}, {2, IDOK}, {3, IDCANCEL}};
    for (const auto& [way, code] : ways) {
        SCOPED_TRACE(way);
        ui::CAboutDialog about;
        INT_PTR result = RunScripted(about, owner.Get(), [&, way = way](HWND window) {
            HWND ok = GetDlgItem(window, IDOK);
            EXPECT_EQ(GetFocus(), ok);
            if (way == 0) {
                EXPECT_EQ(TextA(window), "About");
                EXPECT_EQ(TextA(ok), "OK");
                EXPECT_TRUE(GetWindowLongW(ok, GWL_STYLE) & BS_DEFPUSHBUTTON);
                HWND label = FindWindowExW(window, nullptr, L"Static", L"Tarvelo Application v1.1");
                ASSERT_NE(label, nullptr);
                EXPECT_TRUE((GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK) == SS_CENTER);
                HWND icon = nullptr;
                for (HWND at = GetWindow(window, GW_CHILD); at; at = GetWindow(at, GW_HWNDNEXT)) {
                    if ((GetWindowLongW(at, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                        icon = at;
                    }
                }
                ASSERT_NE(icon, nullptr);
                EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
                RECT ownerRect, own;
                GetWindowRect(owner.Get(), &ownerRect);
                GetWindowRect(window, &own);
                EXPECT_NEAR((own.left + own.right) / 2, (ownerRect.left + ownerRect.right) / 2, 1);
                EXPECT_NEAR((own.top + own.bottom) / 2, (ownerRect.top + ownerRect.bottom) / 2, 1);
                PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
            } else if (way == 1) {
                PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
            } else if (way == 2) {
                SendMessageW(ok, BM_CLICK, 0, 0);
            } else {
                PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
        });
        EXPECT_EQ(result, code);
        EXPECT_EQ(about.Window(), nullptr);
    }
}

// ---- the main window's commands ----

// Runs the modal dialogs the main window opens with a script instead of a user.
class DialogsMainWindow : public ui::CMainWindow {
public:
    std::function<void(HWND)> action;
    std::vector<std::string> shown;
    INT_PTR RunModalDialog(ui::CDialogBase& dialog) override {
        shown.push_back(dynamic_cast<ui::CAboutDialog*>(&dialog)                 ? "about"
                        : dynamic_cast<ui::CInstallerPropertiesDialog*>(&dialog) ? "properties"
                                                                                 : "other");
        return RunScripted(dialog, Window(), action);
    }
};

struct HelpCall {
    HWND caller;
    std::wstring path;
    UINT command;
    DWORD_PTR data;
};
std::vector<HelpCall> helpCalls;

HWND WINAPI RecordHelp(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    helpCalls.push_back({caller, file, command, data});
    return nullptr;
}

class MainWindowDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::PrepareModule();
        window = main.Create(nullptr);
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOWNA);
    }
    void TearDown() override {
        main.DestroyWindow();
        uitest::TakeQuitCode();
    }

    LRESULT Command(int id) { return SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    ui::CMessageLoop loop;
    ui::MessageLoopRegistration registration{loop};
    DialogsMainWindow main;
    HWND window = nullptr;
};

TEST_F(MainWindowDialogsTest, AboutShowsAFreshBoxEachTime) {
    main.action = [](HWND about) { PostMessageW(about, WM_COMMAND, IDCANCEL, 0); };
    Command(ID_APP_ABOUT);
    Command(ID_APP_ABOUT);
    EXPECT_EQ(main.shown, (std::vector<std::string>{"about", "about"}));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(MainWindowDialogsTest, InstallerPropertiesEditTheWindowsBuildCommandAndTheSettings) {
    ASSERT_EQ(main.settings.imagePath, "");
    ASSERT_EQ(main.settings.buildCommand, "Cexe.exe <filename>");
    main.action = [](HWND dialog) {
        EXPECT_EQ(TextA(GetDlgItem(dialog, IDC_BUILD_COMMAND)), "Cexe.exe <filename>");
        SetDlgItemTextA(dialog, IDC_BUILD_COMMAND, "sign.exe <filename>");
        SetDlgItemTextA(dialog, IDC_IMAGE_PATH, "C:\\art\\side.bmp");
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    };
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_INSTALLER_PROPERTIES, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_INSTALLER_PROPERTIES)));
    EXPECT_EQ(main.shown, std::vector<std::string>{"properties"});
    EXPECT_EQ(main.settings.buildCommand, "sign.exe <filename>");
    EXPECT_EQ(main.settings.imagePath, "C:\\art\\side.bmp");

    // The next opening starts from what was stored.
    main.action = [](HWND dialog) {
        EXPECT_EQ(TextA(GetDlgItem(dialog, IDC_BUILD_COMMAND)), "sign.exe <filename>");
        EXPECT_EQ(TextA(GetDlgItem(dialog, IDC_IMAGE_PATH)), "C:\\art\\side.bmp");
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    Command(IDC_INSTALLER_PROPERTIES);
    EXPECT_EQ(main.shown.size(), 2u);
}

TEST_F(MainWindowDialogsTest, HelpOpensTheIndexOfTheHelpFileBesideTheProgram) {
    helpCalls.clear();
    ui::HelpViewer previous = ui::SetHelpViewer(RecordHelp);
    Command(ID_HELP_INDEX);
    ui::SetHelpViewer(previous);

    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    folder.resize(folder.rfind(L'\\'));
    ASSERT_EQ(helpCalls.size(), 1u);
    EXPECT_EQ(helpCalls[0].caller, window);
    EXPECT_EQ(helpCalls[0].path, folder + L"\\TarveloHelp.chm");
    EXPECT_EQ(helpCalls[0].command, 2u); // HH_DISPLAY_INDEX
    EXPECT_EQ(helpCalls[0].data, 0u);
}

TEST(Help, PathIsTheProgramFolderAndAMissingViewerIsSilent) {
    EXPECT_EQ(ui::HelpFilePathFor(L"C:\\Tools\\Tarvelo.exe"), L"C:\\Tools\\TarveloHelp.chm");
    EXPECT_EQ(ui::HelpFilePathFor(L"\\\\server\\share\\bin\\Tarvelo.exe"), L"\\\\server\\share\\bin\\TarveloHelp.chm");
    EXPECT_EQ(ui::HelpFilePathFor(L"Tarvelo.exe"), L"Tarvelo.exe\\TarveloHelp.chm") << "no backslash: kept whole";

    EXPECT_EQ(ui::FindHtmlHelp(L"C:\\nowhere\\hhctrl.ocx"), nullptr);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(ui::FindHtmlHelp((std::wstring(system) + L"\\kernel32.dll").c_str()), nullptr)
        << "a library without the function";
}

} // namespace
