// The installer's wizard in-process under Wine: its pages in order, the licence gate, the
// destination and processor choices, and what it does with a package it must refuse. A picture
// of each page goes to the test output folder.
#include "frame/app_module.h"
#include "package/package.h"
#include "platform/text.h"
#include "template/desktop_win.h"
#include "template/resource.h"
#include "template/wizard.h"
#include "tests/cli_support.h"
#include "tests/standin_support.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <windows.h>
// after windows.h, which it builds on
#include <commctrl.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

void Pump(DWORD milliseconds = 50) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// The window as it is on the screen, saved as a 24-bit bitmap file.
void SavePicture(HWND window, const std::string& name) {
    fs::path folder = fs::path(TARVELO_TEST_OUTPUT);
    std::error_code ec;
    fs::create_directories(folder, ec);
    RECT r;
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    Bytes pixels(stride * static_cast<std::size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    ByteWriter file;
    std::uint32_t offset = 14 + sizeof info;
    file.Raw({'B', 'M'}).U32(offset + static_cast<std::uint32_t>(pixels.size())).U32(0).U32(offset);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&info);
    file.Raw(Bytes(raw, raw + sizeof info)).Raw(pixels);
    WriteBytes(U16(folder / (name + ".bmp")), file.Data());
}

class TestWizard : public installer_template::CWizard {
public:
    using CWizard::CWizard;
    std::u16string chosenFolder;
    std::vector<bool> replaceAnswers; // what the user answers each time, in order
    std::vector<std::u16string> askedToReplace;
    int stepsShown = 0;
    int askedToQuit = 0;
    bool quitAnswer = true;
    bool pictureOfInstalling = false;
    std::u16string installingIntro;

protected:
    bool ChooseFolder(std::u16string& folder) override {
        if (chosenFolder.empty()) {
            return false;
        }
        folder = chosenFolder;
        return true;
    }
    bool AskToQuit() override {
        ++askedToQuit;
        return quitAnswer;
    }
    bool AskToReplace(const std::u16string& path) override {
        askedToReplace.push_back(path);
        return askedToReplace.size() <= replaceAnswers.size() && replaceAnswers[askedToReplace.size() - 1];
    }
    void InstallStepShown() override {
        if (stepsShown++ == 0) {
            wchar_t text[512] = {};
            GetDlgItemTextW(Window(), IDC_INTRO, text, 512);
            installingIntro.assign(text, text + wcslen(text));
            if (pictureOfInstalling) {
                SavePicture(Window(), "wizard-4-installing");
            }
        }
    }
};

class TemplateWizardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ui::appModule.Init(GetModuleHandleW(nullptr));
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void Open(const std::vector<AppFile>& files, const installer_template::Options& options = {},
              const PackageFields& fields = {}) {
        bytes = WritePackage(dir.Path() / "src", files, fields);
        ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        Start(options);
    }
    void Start(const installer_template::Options& options) {
        wizard = std::make_unique<TestWizard>(package, options, U16(dir.Path()), std::u16string(), desktop);
        ASSERT_NE(wizard->Create(nullptr), nullptr);
        ShowWindow(wizard->Window(), SW_SHOWNORMAL);
        Pump();
    }
    void TearDown() override {
        wizard.reset();
        Pump(10);
    }
    HWND Item(int id) const { return GetDlgItem(wizard->Window(), id); }
    void Click(int id) {
        SendMessageW(wizard->Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
        Pump();
    }
    std::u16string TextOf(int id) const {
        wchar_t text[1024] = {};
        GetWindowTextW(Item(id), text, 1024);
        return std::u16string(text, text + wcslen(text));
    }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Checked(int id) const { return IsDlgButtonChecked(wizard->Window(), id) == BST_CHECKED; }
    // As the user picks a way: the radio button clicked.
    void ChooseWay(int id) {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        Pump();
    }
    void ChooseProcessor(const char16_t* name) {
        SendMessageW(Item(IDC_CPU_LIST), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(Wide(name).c_str()));
        // As the list tells its owner when the user picks a row.
        SendMessageW(wizard->Window(), WM_COMMAND, MAKEWPARAM(IDC_CPU_LIST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(IDC_CPU_LIST)));
        Pump();
    }
    static std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

    TempDir dir;
    Bytes bytes;
    Package package;
    std::unique_ptr<TestWizard> wizard;
    installer_template::Desktop* desktop = nullptr;
    std::vector<AppFile> files{
        {u"app.exe", Pattern(3000, 1), FLAG_ALL_PLATFORMS | FLAG_SHORTCUT, u"Notes.lnk"},
        {u"lib/arm.dll", Pattern(200, 2), FLAG_ARM},
        {u"lib/intel.dll", Pattern(100, 3), FLAG_INTEL},
        {u"licence.txt", BytesOf("Terms.\nMore terms.\n"), FLAG_EULA},
    };
};

TEST_F(TemplateWizardTest, PagesInOrderWithTheLicenceToBeAcceptedFirst) {
    Open(files);
    EXPECT_TRUE(wizard->HasLicence());
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Welcome);
    EXPECT_NE(TextOf(IDC_HEADING).find(u"Notes"), std::u16string::npos);
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_BACK)));
    EXPECT_TRUE(Visible(IDC_SIDEBAR));
    RECT sidebar;
    GetClientRect(Item(IDC_SIDEBAR), &sidebar);
    EXPECT_EQ(sidebar.right, 128);
    EXPECT_EQ(sidebar.bottom, 280);
    SavePicture(wizard->Window(), "wizard-1-welcome");

    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Licence);
    EXPECT_EQ(TextOf(IDC_LICENCE_TEXT), u"Terms.\r\nMore terms.\r\n");
    EXPECT_TRUE(Visible(IDC_LICENCE_TEXT));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_NEXT)));
    SavePicture(wizard->Window(), "wizard-2-licence");
    Click(IDC_NEXT); // even a command that gets past the disabled button does not pass the gate
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Licence);
    SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
    Pump();
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_NEXT)));
    SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_NEXT)));
    SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
    Pump();

    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    EXPECT_FALSE(Visible(IDC_LICENCE_TEXT));
    // The installation file for the device comes first, in the folder the device's folder would
    // be made in.
    EXPECT_TRUE(Visible(IDC_WAY_CABINET) && Visible(IDC_WAY_FOLDER));
    // Without the desktop's device software the first two ways are there, disabled, and the page
    // says why.
    EXPECT_TRUE(Visible(IDC_WAY_APPMGR) && Visible(IDC_WAY_DEVICE));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_WAY_APPMGR)) || IsWindowEnabled(Item(IDC_WAY_DEVICE)));
    EXPECT_EQ(TextOf(IDC_WAY_APPMGR), u"Through the Application Manager: not installed on this PC");
    EXPECT_EQ(TextOf(IDC_WAY_DEVICE), u"Straight to the connected device: no connection software");
    EXPECT_TRUE(Checked(IDC_WAY_CABINET));
    EXPECT_FALSE(Checked(IDC_WAY_FOLDER));
    EXPECT_TRUE(wizard->MakesCabinet());
    EXPECT_EQ(TextOf(IDC_DEST_LABEL), u"&Folder to write the installation file in:");
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), U16(dir.Path()));
    EXPECT_EQ(TextOf(IDC_CPU_LIST), u"ARM");
    SavePicture(wizard->Window(), "wizard-3-destination");
    // Each way keeps its own folder.
    SetWindowTextW(Item(IDC_DEST_EDIT), Wide(U16(dir.Path() / "cabs")).c_str());
    ChooseWay(IDC_WAY_FOLDER);
    EXPECT_FALSE(wizard->MakesCabinet());
    EXPECT_EQ(TextOf(IDC_DEST_LABEL), u"&Folder standing for the device's root on this PC:");
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), U16(dir.Path() / "Notes"));
    ChooseWay(IDC_WAY_CABINET);
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), U16(dir.Path() / "cabs"));
    ChooseWay(IDC_WAY_FOLDER);
    // Back keeps the acceptance and the way; forward again.
    Click(IDC_BACK);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Licence);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_NEXT)));
    Click(IDC_NEXT);
    EXPECT_TRUE(Checked(IDC_WAY_FOLDER));
    wizard->chosenFolder = U16(dir.Path() / "chosen");
    Click(IDC_BROWSE);
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), wizard->chosenFolder);
    SavePicture(wizard->Window(), "wizard-3-destination-folder");

    wizard->pictureOfInstalling = true;
    Click(IDC_NEXT);
    EXPECT_GT(wizard->stepsShown, 0);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_TRUE(wizard->Outcome().Complete()) << wizard->Outcome().error.Line();
    EXPECT_FALSE(Visible(IDCANCEL));
    SavePicture(wizard->Window(), "wizard-5-finished");
    std::map<std::string, Bytes> expected{
        {"Program Files/Notes/app.exe", files[0].bytes},
        {"Program Files/Notes/lib/arm.dll", files[1].bytes},
        {"Windows/Start Menu/Programs/Notes.lnk", BytesOf("30#\"\\Program Files\\Notes\\app.exe\"")},
    };
    EXPECT_EQ(FolderContents(dir.Path() / "chosen"), expected);
    EXPECT_FALSE(wizard->Ended());
    Click(IDC_NEXT);
    EXPECT_TRUE(wizard->Ended());
    EXPECT_EQ(wizard->ExitCode(), 0);
}

// The texts name the program where the package does, and read as sentences where it does not.
TEST_F(TemplateWizardTest, EveryPageNamesTheProgramOrSaysTheProgram) {
    const struct {
        std::u16string name, title, welcome, intro, licence, installing, finished;
    } cases[] = {
        {u"Notes", u"Notes Setup", u"Welcome to the setup of Notes", u"This wizard installs Notes for a Pocket PC.",
         u"You must accept it to install Notes.", u"Please wait while Notes is installed.",
         u"Notes has been installed: 3 files"},
        {u"", u"Setup", u"Welcome to the setup of the program", u"This wizard installs the program for a Pocket PC.",
         u"You must accept it to install the program.", u"Please wait while the program is installed.",
         u"The program has been installed: 3 files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.title));
        installer_template::Options options;
        options.destination = U16(dir.Path() / ("device " + platform::ToUtf8(c.title)));
        Open(files, options, {c.name});
        wchar_t title[256] = {};
        GetWindowTextW(wizard->Window(), title, 256);
        EXPECT_EQ(std::u16string(title, title + wcslen(title)), c.title);
        EXPECT_EQ(TextOf(IDC_HEADING), c.welcome);
        EXPECT_TRUE(TextOf(IDC_INTRO).starts_with(c.intro)) << platform::ToUtf8(TextOf(IDC_INTRO));
        Click(IDC_NEXT);
        EXPECT_TRUE(TextOf(IDC_INTRO).ends_with(c.licence)) << platform::ToUtf8(TextOf(IDC_INTRO));
        SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
        Pump();
        Click(IDC_NEXT);
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
        EXPECT_EQ(wizard->installingIntro, c.installing);
        EXPECT_TRUE(TextOf(IDC_INTRO).starts_with(c.finished)) << platform::ToUtf8(TextOf(IDC_INTRO));
        wizard.reset();
        Pump(10);
    }
}

TEST_F(TemplateWizardTest, WithoutAnAgreementTheLicencePageIsLeftOutAndThePresetProcessorIsChosen) {
    files.pop_back();
    installer_template::Options options;
    options.cpuFlag = FLAG_INTEL;
    options.destination = U16(dir.Path() / "preset");
    Open(files, options);
    EXPECT_FALSE(wizard->HasLicence());
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    EXPECT_EQ(TextOf(IDC_CPU_LIST), u"INTEL");
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), options.destination);
    Click(IDC_BACK);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Welcome);
    Click(IDC_NEXT);

    // An empty folder is not taken; the page says why.
    SetWindowTextW(Item(IDC_DEST_EDIT), L"  ");
    Click(IDC_NEXT);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    EXPECT_FALSE(TextOf(IDC_DEST_ERROR).empty());

    SetWindowTextW(Item(IDC_DEST_EDIT), reinterpret_cast<const wchar_t*>(options.destination.c_str()));
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    std::map<std::string, Bytes> installed = FolderContents(dir.Path() / "preset");
    EXPECT_EQ(installed.size(), 3u);
    EXPECT_EQ(installed["Program Files/Notes/lib/intel.dll"], files[2].bytes);
}

// A file ticked as the licence while its processor boxes stay ticked is still the licence: the
// first such file is shown, and installed only for the processors it is ticked for.
TEST_F(TemplateWizardTest, TheFirstFileTickedAsTheLicenceIsShownAndInstalledOnlyForItsProcessors) {
    files.back().flags = FLAG_EULA | FLAG_ARM;
    files.push_back({u"later.txt", BytesOf("Not this one."), FLAG_EULA});
    bytes = WritePackage(dir.Path() / "src", files);
    ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    for (std::uint32_t cpu : {FLAG_ARM, FLAG_INTEL}) {
        installer_template::Options options;
        options.cpuFlag = cpu;
        options.destination = U16(dir.Path() / (cpu == FLAG_ARM ? "arm" : "intel"));
        Start(options);
        ASSERT_TRUE(wizard->HasLicence());
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Licence);
        EXPECT_EQ(TextOf(IDC_LICENCE_TEXT), u"Terms.\r\nMore terms.\r\n");
        SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
        Pump();
        Click(IDC_NEXT);
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
        std::map<std::string, Bytes> installed = FolderContents(fs::path(options.destination));
        EXPECT_EQ(installed.count("Program Files/Notes/licence.txt"), cpu == FLAG_ARM ? 1u : 0u);
        EXPECT_EQ(installed.count("Program Files/Notes/later.txt"), 0u);
        wizard.reset();
        Pump(10);
    }
}

// Cancel asks first; No keeps the page.
TEST_F(TemplateWizardTest, CancelAsksAndThenEndsWithoutWritingAnything) {
    Open(files);
    Click(IDC_NEXT);
    wizard->quitAnswer = false;
    Click(IDCANCEL);
    EXPECT_EQ(wizard->askedToQuit, 1);
    EXPECT_FALSE(wizard->Ended());
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Licence);
    wizard->quitAnswer = true;
    Click(IDCANCEL);
    EXPECT_EQ(wizard->askedToQuit, 2);
    EXPECT_TRUE(wizard->Ended());
    EXPECT_EQ(wizard->ExitCode(), 1);
    EXPECT_FALSE(fs::exists(dir.Path() / "Notes") || fs::exists(dir.Path() / "Notes.ARM.CAB"));
}

// Whichever the way, a refused plan writes nothing and says so.
TEST_F(TemplateWizardTest, APackageThatWouldWriteOutsideTheFolderEndsOnTheFinishedPageWithNothingWritten) {
    bytes = CraftPackage(u"C:\\App\\", {{u"C:\\App\\ok.txt", BytesOf("fine"), FLAG_ARM},
                                        {u"C:\\App\\..\\evil.txt", BytesOf("x"), FLAG_ARM}});
    ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    for (const auto& [way, says] : {std::pair{IDC_WAY_CABINET, u"No installation file was written"},
                                    std::pair{IDC_WAY_FOLDER, u"Nothing was installed"}}) {
        SCOPED_TRACE(way);
        Start({});
        Click(IDC_NEXT);
        ChooseWay(way);
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
        EXPECT_EQ(wizard->stepsShown, 0);
        EXPECT_NE(TextOf(IDC_INTRO).find(says), std::u16string::npos);
        EXPECT_EQ(TextOf(IDC_HEADING), u"Setup failed");
        EXPECT_TRUE(FolderContents(dir.Path()).empty());
        // Back leads to the choices again, to try another way or folder.
        ASSERT_TRUE(IsWindowEnabled(Item(IDC_BACK)));
        Click(IDC_BACK);
        EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
        Click(IDC_NEXT);
        EXPECT_TRUE(wizard->Ended());
        EXPECT_EQ(wizard->ExitCode(), 1);
        wizard.reset();
        Pump(10);
    }
}

// The installation file is tarvelo-build's cabinet of the same package for the chosen processor;
// one already there is replaced only when the user says so, and a processor without files gets
// none.
TEST_F(TemplateWizardTest, TheInstallationFileIsTheCommandLinesCabinetAndReplacedOnlyWhenTheUserSaysSo) {
    SetDateEpoch("1700000000");
    files[0].flags = FLAG_ARM | FLAG_INTEL | FLAG_SHORTCUT; // nothing for MIPS
    bytes = WritePackage(dir.Path() / "src", files);
    ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    WriteBytes(dir.File(u"Notes.DAT"), bytes);
    ToolResult r =
        RunTool({u"cab", dir.File(u"Notes.DAT"), u"-d", dir.File(u"cli"), u"--cpu", u"arm,intel"}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::u16string cabs = dir.File(u"cabs"), arm = dir.File(u"cabs\\Notes.ARM.CAB");
    // The folder chosen is a link, as Documents often is (a junction, or under Wine a Unix link).
    fs::create_directories(dir.Path() / "real");
    ASSERT_TRUE(PlantLink(dir.Path() / "real", fs::path(cabs), LinkKind::ToFolder));
    auto toDestination = [&](const char16_t* cpu) {
        Start({});
        Click(IDC_NEXT);
        SendMessageW(Item(IDC_ACCEPT), BM_CLICK, 0, 0);
        Pump();
        Click(IDC_NEXT);
        ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
        ChooseProcessor(cpu);
        wizard->chosenFolder = cabs;
        Click(IDC_BROWSE);
    };

    toDestination(u"INTEL");
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_TRUE(wizard->Outcome().Complete()) << wizard->Outcome().error.Line();
    EXPECT_EQ(TextOf(IDC_HEADING), u"Setup is complete");
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_BACK)));
    EXPECT_EQ(wizard->CabinetWritten(), dir.File(u"cabs\\Notes.INTEL.CAB"));
    std::u16string intro = TextOf(IDC_INTRO);
    EXPECT_NE(intro.find(wizard->CabinetWritten()), std::u16string::npos);
    EXPECT_NE(intro.find(u"copy this file onto the device"), std::u16string::npos);
    EXPECT_NE(intro.find(u"tap it in File Explorer"), std::u16string::npos);
    EXPECT_TRUE(wizard->askedToReplace.empty());
    SavePicture(wizard->Window(), "wizard-5-finished-cabinet");
    EXPECT_EQ(ReadBytes(wizard->CabinetWritten()), ReadBytes(dir.File(u"cli\\Notes.INTEL.CAB")));
    Click(IDC_NEXT);
    EXPECT_TRUE(wizard->Ended());
    EXPECT_EQ(wizard->ExitCode(), 0);

    // No keeps the file and the page; Yes replaces it.
    WriteBytes(arm, BytesOf("mine"));
    toDestination(u"ARM");
    wizard->replaceAnswers = {false, true};
    Click(IDC_NEXT);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    EXPECT_EQ(wizard->askedToReplace, std::vector<std::u16string>{arm});
    EXPECT_EQ(ReadBytes(arm), BytesOf("mine"));
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_EQ(wizard->askedToReplace.size(), 2u);
    EXPECT_EQ(ReadBytes(arm), ReadBytes(dir.File(u"cli\\Notes.ARM.CAB")));

    // Only the families the package holds files for are offered, each with the devices it fits.
    toDestination(u"INTEL");
    HWND list = Item(IDC_CPU_LIST);
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"MIPS")),
              CB_ERR);
    EXPECT_NE(TextOf(IDC_CPU_NOTE).find(u"x86"), std::u16string::npos);
    ChooseProcessor(u"ARM");
    EXPECT_EQ(TextOf(IDC_CPU_NOTE), u"Most Pocket PCs and Windows Mobile devices since 2002.");
    // A failure can be gone back from, to try another folder.
    WriteBytes(dir.File(u"blocked"), Pattern(1));
    SetWindowTextW(Item(IDC_DEST_EDIT), Wide(dir.File(u"blocked\\below")).c_str());
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_EQ(TextOf(IDC_HEADING), u"Setup failed");
    ASSERT_TRUE(IsWindowEnabled(Item(IDC_BACK)));
    Click(IDC_BACK);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    ChooseWay(IDC_WAY_FOLDER);
    SetWindowTextW(Item(IDC_DEST_EDIT), Wide(dir.File(u"blocked\\device")).c_str());
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_EQ(TextOf(IDC_HEADING), u"Setup failed");
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_BACK)));
    Click(IDC_NEXT);
    EXPECT_EQ(wizard->ExitCode(), 1);
    EXPECT_EQ(FolderContents(fs::path(cabs)).size(), 2u);
    SetDateEpoch(nullptr);
}

// With the desktop's device software (the stand-ins, put where the real ones are found) every way
// is offered, the Application Manager's first; the wizard hands it the .ini, or copies the device's
// family's cabinet straight to it and starts its installer. The Finished page wraps long paths.
TEST_F(TemplateWizardTest, WithTheDesktopsDeviceSoftwareTheApplicationReachesTheDevice) {
    if (!StandinsBuilt()) {
        GTEST_SKIP() << "the stand-ins of the device software are built for 32-bit Windows only";
    }
    ASSERT_EQ(RemoveStandins(), "") << "device software that is not ours is installed";
    struct Cleanup {
        ~Cleanup() {
            for (const wchar_t* name : {L"TARVELO_STANDIN_RECORD", L"TARVELO_STANDIN_LOG", L"TARVELO_STANDIN_DEVICE",
                                        L"TARVELO_STANDIN_ARCH", L"TARVELO_STANDIN_PROCESSOR_TYPE"}) {
                SetEnvironmentVariableW(name, nullptr);
            }
            SetDateEpoch(nullptr);
            EXPECT_EQ(RemoveStandins(), "");
        }
    } cleanup;
    SetDateEpoch("1700000000");
    const fs::path activeSync = dir.Path() / "Microsoft ActiveSync";
    ASSERT_TRUE(RegisterAppMgr((activeSync / "CEAppMgr.exe").wstring()));
    ASSERT_TRUE(InstallRapi());
    fs::create_directories(dir.Path() / "record");
    fs::create_directories(dir.Path() / "device");
    SetEnvironmentVariableW(L"TARVELO_STANDIN_RECORD", (dir.Path() / "record").wstring().c_str());
    SetEnvironmentVariableW(L"TARVELO_STANDIN_LOG", (dir.Path() / "rapi.log").wstring().c_str());
    SetEnvironmentVariableW(L"TARVELO_STANDIN_DEVICE", (dir.Path() / "device").wstring().c_str());
    SetEnvironmentVariableW(L"TARVELO_STANDIN_ARCH", L"0");
    SetEnvironmentVariableW(L"TARVELO_STANDIN_PROCESSOR_TYPE", L"586");
    files.pop_back(); // no agreement: straight to the choices
    bytes = WritePackage(dir.Path() / "src", files);
    ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    WriteBytes(dir.File(u"Notes.DAT"), bytes);
    ToolResult r = RunTool({u"cab", dir.File(u"Notes.DAT"), u"-d", dir.File(u"cli")}, dir.File(u""));
    ASSERT_EQ(r.status, 0) << r.err;
    installer_template::WindowsDesktop windows;
    desktop = &windows;

    Start({});
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    for (int way : {IDC_WAY_APPMGR, IDC_WAY_DEVICE, IDC_WAY_CABINET, IDC_WAY_FOLDER}) {
        EXPECT_TRUE(Visible(way) && IsWindowEnabled(Item(way))) << way;
    }
    EXPECT_TRUE(Checked(IDC_WAY_APPMGR));
    EXPECT_EQ(TextOf(IDC_DEST_EDIT), U16(activeSync / "Notes"));
    EXPECT_FALSE(Visible(IDC_CPU_LIST));
    SavePicture(wizard->Window(), "wizard-3-destination-four-ways");
    const fs::path kept = dir.Path() / "Installation files kept for the Application Manager" / "Pocket PC programs" /
                          "Notes for every processor";
    SetWindowTextW(Item(IDC_DEST_EDIT), kept.wstring().c_str());
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_TRUE(wizard->Outcome().Complete()) << wizard->Outcome().error.Line();
    // Lines broken to the page's width: after a separator the line goes on, after a word a blank
    // was dropped.
    std::u16string intro = TextOf(IDC_INTRO), joined;
    for (std::size_t i = 0; i < intro.size(); ++i) {
        if (intro.compare(i, 2, u"\r\n") == 0) {
            joined += i > 0 && intro[i - 1] == u'\\' ? u"" : u" ";
            ++i;
        } else {
            joined += intro[i];
        }
    }
    EXPECT_NE(joined.find(u"the application is installed on your device now, or when you next connect it"),
              std::u16string::npos);
    EXPECT_NE(joined.find(U16(kept)), std::u16string::npos) << platform::ToUtf8(intro);
    EXPECT_EQ(intro.find(U16(kept)), std::u16string::npos) << "a path wider than the page is not broken";
    SavePicture(wizard->Window(), "wizard-5-finished-appmgr");
    std::string record = Text(ReadBytes(U16(dir.Path() / "record" / "appmgr.txt")));
    EXPECT_NE(record.find("command \"" + (activeSync / "CEAppMgr.exe").string() + "\" \"" +
                          (kept / "Notes.ini").string() + "\""),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\nok\nexit 0"), std::string::npos) << record;
    std::map<std::string, Bytes> handed = FolderContents(dir.Path() / "cli");
    handed["Notes.ini"] = ReadBytes(U16(kept / "Notes.ini"));
    EXPECT_EQ(FolderContents(kept), handed);
    Click(IDC_NEXT);
    EXPECT_EQ(wizard->ExitCode(), 0);

    // Straight to the device: its processor is asked, its family's cabinet copied and opened.
    Start({});
    Click(IDC_NEXT);
    ChooseWay(IDC_WAY_DEVICE);
    EXPECT_FALSE(Visible(IDC_DEST_EDIT) || Visible(IDC_CPU_LIST));
    SavePicture(wizard->Window(), "wizard-3-destination-device");
    Click(IDC_NEXT);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_TRUE(wizard->Outcome().Complete()) << wizard->Outcome().error.Line();
    EXPECT_NE(TextOf(IDC_INTRO).find(u"\\Temp\\Notes.INTEL.CAB"), std::u16string::npos);
    SavePicture(wizard->Window(), "wizard-5-finished-device");
    EXPECT_EQ(ReadBytes(U16(dir.Path() / "device" / "Temp" / "Notes.INTEL.CAB")),
              ReadBytes(dir.File(u"cli\\Notes.INTEL.CAB")));
    std::string log = Text(ReadBytes(U16(dir.Path() / "rapi.log")));
    EXPECT_NE(log.find("process wceload.exe \"\\Temp\\Notes.INTEL.CAB\""), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("uninit\n") || log.ends_with("uninit\r\n")) << log;

    // No device: a failure the user can go back from, within seconds.
    SetEnvironmentVariableW(L"TARVELO_STANDIN_NO_DEVICE", L"1");
    Click(IDC_NEXT);
    EXPECT_EQ(wizard->ExitCode(), 0);
    Start({});
    Click(IDC_NEXT);
    ChooseWay(IDC_WAY_DEVICE);
    ULONGLONG started = GetTickCount64();
    Click(IDC_NEXT);
    EXPECT_LT(GetTickCount64() - started, 15000u);
    SetEnvironmentVariableW(L"TARVELO_STANDIN_NO_DEVICE", nullptr);
    ASSERT_EQ(wizard->CurrentPage(), installer_template::Page::Finished);
    EXPECT_EQ(TextOf(IDC_HEADING), u"Setup failed");
    EXPECT_NE(TextOf(IDC_INTRO).find(u"no device answered"), std::u16string::npos) << platform::ToUtf8(TextOf(IDC_INTRO));
    SavePicture(wizard->Window(), "wizard-5-failed-no-device");
    ASSERT_TRUE(IsWindowEnabled(Item(IDC_BACK)));
    Click(IDC_BACK);
    EXPECT_EQ(wizard->CurrentPage(), installer_template::Page::Destination);
    wizard.reset();
    desktop = nullptr;
}

} // namespace
