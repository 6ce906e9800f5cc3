// The installer from its command line to its exit status, with a fake host in place of message
// boxes, standard error and the wizard: what a script and a user see in each case.
#include "device/cabinet.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/host_paths.h"
#include "platform/text.h"
#include "template/cabinet_run.h"
#include "template/delivery.h"
#include "template/options.h"
#include "template/setup_flow.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <map>
#include <span>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class FakeHost : public installer_template::SetupHost {
public:
    void ShowError(const std::string& text) override { shown.push_back(text); }
    void PrintError(const std::string& line) override { printed.push_back(line); }
    void ShowInformation(const std::string& text) override { informed.push_back(text); }
    void PrintOutput(const std::string& text) override { output.push_back(text); }
    std::u16string DocumentsFolder() override { return documents; }
    installer_template::Desktop* GetDesktop() override { return desktop; }
    int RunWizard(Package&, const installer_template::Options& options) override {
        wizardOptions.push_back(options);
        return 7;
    }

    std::u16string documents;
    installer_template::Desktop* desktop = nullptr;
    std::vector<std::string> shown, printed, informed, output;
    std::vector<installer_template::Options> wizardOptions;
};

TEST(TemplateOptionsTest, SilentModeFolderAndProcessor) {
    installer_template::Options options;
    std::string cause;
    ASSERT_TRUE(installer_template::ParseOptions({u"/S", u"/D=C:\\My Device", u"/CPU=MIPS"}, options, cause));
    EXPECT_TRUE(options.silent);
    EXPECT_EQ(options.destination, u"C:\\My Device");
    EXPECT_EQ(options.cpuFlag, FLAG_MIPS);

    ASSERT_TRUE(installer_template::ParseOptions({u"/cpu=intel", u"/s"}, options, cause));
    EXPECT_TRUE(options.silent);
    EXPECT_EQ(options.cpuFlag, FLAG_INTEL);
    EXPECT_TRUE(options.destination.empty());

    // The folder as installers take it, unquoted.
    ASSERT_TRUE(installer_template::ParseOptions({u"/S", u"/D=C:\\My", u"Pocket", u"PC", u"/CPU=SHX"}, options, cause));
    EXPECT_EQ(options.destination, u"C:\\My Pocket PC");
    EXPECT_EQ(options.cpuFlag, FLAG_SHX);

    // The Application Manager's folder, unquoted too; the way each option picks.
    ASSERT_TRUE(installer_template::ParseOptions({u"/S", u"/appmgr=C:\\My", u"Apps"}, options, cause));
    EXPECT_EQ(options.appManagerFolder, u"C:\\My Apps");
    EXPECT_TRUE(options.wayGiven && options.way == installer_template::Way::AppManager);
    ASSERT_TRUE(installer_template::ParseOptions({u"/APPMGR", u"/S"}, options, cause));
    EXPECT_TRUE(options.appManagerFolder.empty() && options.way == installer_template::Way::AppManager);
    ASSERT_TRUE(installer_template::ParseOptions({u"/Device"}, options, cause));
    EXPECT_TRUE(options.wayGiven && options.way == installer_template::Way::Device && !options.silent);

    ASSERT_TRUE(installer_template::ParseOptions({}, options, cause));
    EXPECT_FALSE(options.silent);
    EXPECT_FALSE(options.wayGiven);
    EXPECT_EQ(options.cpuFlag, FLAG_ARM);

    // The installation file's folder, unquoted too; the processor ARM unless given.
    ASSERT_TRUE(installer_template::ParseOptions({u"/cab=C:\\My", u"Cabinets", u"/S"}, options, cause));
    EXPECT_EQ(options.cabinetFolder, u"C:\\My Cabinets");
    EXPECT_TRUE(options.destination.empty());
    EXPECT_EQ(options.cpuFlag, FLAG_ARM);

    for (const std::vector<std::u16string>& bad :
         std::vector<std::vector<std::u16string>>{{u"/S", u"/CPU=Z80"},
                                                  {u"/S", u"/CPU="},
                                                  {u"/S", u"/D="},
                                                  {u"/S", u"/CAB="},
                                                  {u"/S", u"/CAB=C:\\x", u"/D=C:\\y"},
                                                  {u"/D=C:\\y", u"/CAB=C:\\x"},
                                                  {u"/S", u"/CPU=ARM", u"/CPU=MIPS"},
                                                  {u"/S", u"/CPU=ARM", u"/CPU=arm"},
                                                  {u"/S", u"/D=C:\\x", u"/D=C:\\y"},
                                                  {u"/S", u"/CAB=C:\\x", u"/cab=C:\\x"},
                                                  {u"/S", u"/APPMGR="},
                                                  {u"/S", u"/APPMGR", u"/DEVICE"},
                                                  {u"/DEVICE", u"/CAB=C:\\x"},
                                                  {u"/S", u"/APPMGR=C:\\x", u"/D=C:\\y"},
                                                  {u"/S", u"/DEVICE", u"/device"},
                                                  {u"/S", u"/APPMGR", u"/CPU=MIPS"},
                                                  {u"/CPU=ARM", u"/DEVICE"},
                                                  {u"/S", u"/DEVICES"},
                                                  {u"/Q"},
                                                  {u"/SILENT"},
                                                  {u"C:\\x"}}) {
        cause.clear();
        EXPECT_FALSE(installer_template::ParseOptions(bad, options, cause));
        EXPECT_FALSE(cause.empty());
        EXPECT_EQ(cause.find('\n'), std::string::npos);
    }
}


// The desktop's device software as the tests play it: an Application Manager that records what
// it is handed, and a connection to a device whose files are kept in memory.
struct FakeLink;

class FakeDevice : public installer_template::DeviceSession {
public:
    explicit FakeDevice(FakeLink& link) : link_(link) {}
    ~FakeDevice() override;
    bool Processor(std::uint16_t& architecture, std::uint32_t& type, Error&) override;
    bool MakeFolder(std::u16string_view path, Error&) override;
    bool MakeFile(std::u16string_view path, Error& error) override;
    bool Write(std::span<const std::uint8_t> block, std::uint32_t& taken, Error& error) override;
    bool CloseFile(Error&) override { return true; }
    void RemoveFile(std::u16string_view path) override;
    bool StartProgram(std::u16string_view program, std::u16string_view arguments, Error&) override;

private:
    FakeLink& link_;
    std::u16string file_;
};

struct FakeLink : installer_template::DeviceLink {
    installer_template::Connection answer = installer_template::Connection::Connected;
    std::uint16_t architecture = 5;
    std::uint32_t type = 2577;
    std::u16string failWriteOf; // a file the device cannot take
    std::size_t takes = 0;      // the most bytes one write takes; 0: all it is given
    std::size_t fullAt = 0;     // once the file has this many bytes, writes take none; 0: never
    bool failStart = false;
    std::map<std::u16string, Bytes> files;
    std::vector<std::u16string> folders, started;
    int connections = 0, open = 0;

    installer_template::Connection Connect(unsigned, std::unique_ptr<installer_template::DeviceSession>& session,
                                           Error& error) override {
        ++connections;
        if (answer == installer_template::Connection::Failed) {
            error = Refusal("the link broke");
        }
        if (answer == installer_template::Connection::Connected) {
            session = std::make_unique<FakeDevice>(*this);
            ++open;
        }
        return answer;
    }
};

FakeDevice::~FakeDevice() { --link_.open; }
bool FakeDevice::Processor(std::uint16_t& architecture, std::uint32_t& type, Error&) {
    architecture = link_.architecture;
    type = link_.type;
    return true;
}
bool FakeDevice::MakeFolder(std::u16string_view path, Error&) {
    link_.folders.emplace_back(path);
    return true;
}
bool FakeDevice::MakeFile(std::u16string_view path, Error& error) {
    if (path == link_.failWriteOf) {
        error = Refusal("the device is full");
        return false;
    }
    file_ = path;
    link_.files[file_].clear();
    return true;
}
bool FakeDevice::Write(std::span<const std::uint8_t> block, std::uint32_t& taken, Error&) {
    Bytes& bytes = link_.files[file_];
    std::size_t take = link_.takes ? std::min(link_.takes, block.size()) : block.size();
    if (link_.fullAt) {
        take = std::min(take, link_.fullAt - std::min(link_.fullAt, bytes.size()));
    }
    bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(take));
    taken = static_cast<std::uint32_t>(take);
    return true;
}
void FakeDevice::RemoveFile(std::u16string_view path) { link_.files.erase(std::u16string(path)); }
bool FakeDevice::StartProgram(std::u16string_view program, std::u16string_view arguments, Error& error) {
    if (link_.failStart) {
        error = Refusal("wceload.exe is not on the device");
        return false;
    }
    link_.started.push_back(std::u16string(program) + u" " + std::u16string(arguments));
    return true;
}

struct FakeDesktop : installer_template::Desktop {
    std::u16string appManager;
    std::u16string appManagerHome;
    std::uint32_t appManagerExit = 0;
    std::vector<std::u16string> handed; // the .ini paths, one a run
    std::map<std::string, Bytes> folderWhenRun;
    bool linked = false;
    FakeLink link;
    std::u16string temporary;

    std::u16string AppManager() override { return appManager; }
    std::u16string AppManagerFolder(std::u16string_view, std::u16string_view stem) override {
        return platform::JoinHostPath(appManagerHome, stem);
    }
    bool RunAppManager(std::u16string_view program, std::u16string_view ini, std::uint32_t& exitCode,
                       Error&) override {
        EXPECT_EQ(program, appManager);
        handed.emplace_back(ini);
        folderWhenRun = FolderContents(fs::path(ini).parent_path());
        exitCode = appManagerExit;
        return true;
    }
    installer_template::DeviceLink* Link() override { return linked ? &link : nullptr; }
    std::u16string TemporaryFolder() override { return temporary; }
};

class TemplateFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = WritePackage(dir.Path() / "src", files);
        ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        host.documents = U16(dir.Path());
    }
    TempDir dir;
    std::vector<AppFile> files{{u"app.exe", Pattern(100), FLAG_ARM | FLAG_SHORTCUT, u"Notes.lnk"},
                               {u"lib/mips.dll", Pattern(50), FLAG_MIPS}};
    Bytes bytes;
    Package package;
    FakeHost host;
};

TEST_F(TemplateFlowTest, WithoutAPackageItSaysSoWhereTheUserWillSeeItAndFails) {
    Package empty;
    EXPECT_EQ(installer_template::RunSetup({}, empty, false, host), 1);
    EXPECT_EQ(host.shown, std::vector<std::string>{"This installer holds no package."});
    EXPECT_TRUE(host.printed.empty());
    EXPECT_TRUE(host.wizardOptions.empty());

    FakeHost silent;
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D=C:\\x"}, empty, false, silent), 1);
    EXPECT_EQ(silent.printed, std::vector<std::string>{"This installer holds no package."});
    EXPECT_TRUE(silent.shown.empty());
}

TEST_F(TemplateFlowTest, SilentModeInstallsWithoutAWindowAndAnswersTheOutcome) {
    fs::path dest = dir.Path() / "dest";
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D=" + U16(dest), u"/CPU=MIPS"}, package, true, host), 0);
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(host.printed.empty());
    EXPECT_TRUE(host.wizardOptions.empty());
    EXPECT_EQ(FolderContents(dest).size(), 1u);

    // No folder given: the one named after the program in the documents, and ARM.
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D="}, package, true, host), 1);
    EXPECT_EQ(installer_template::DefaultDeviceFolder(package, host), U16(dir.Path() / "Notes"));
    host.printed.clear();

    // A failure is one line on standard error, and never a window, even for a mistyped option.
    WriteBytes(U16(dir.Path() / "blocked"), Pattern(1));
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D=" + U16(dir.Path() / "blocked")}, package, true, host), 1);
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/CPU=Z80"}, package, true, host), 1);
    // No file for the processor: refused as the installation file is, and no folder made.
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/CPU=SHX", u"/D=" + U16(dir.Path() / "shx")}, package, true, host),
              1);
    EXPECT_FALSE(fs::exists(dir.Path() / "shx"));
    ASSERT_EQ(host.printed.size(), 3u);
    EXPECT_EQ(host.printed.back(),
              "Nothing was installed: this package holds no file for devices with the SHX processor");
    for (const std::string& line : host.printed) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    EXPECT_TRUE(host.shown.empty());
}

// The installation file for the device: named after the program and the processor, the cabinet
// of the plan for that processor with the program as provider, stored, dated SOURCE_DATE_EPOCH.
TEST_F(TemplateFlowTest, SilentModeWritesTheInstallationFileOfTheProcessorOrSaysWhyNot) {
    SetDateEpoch("1700000000");
    const struct {
        std::vector<std::u16string> arguments;
        std::uint32_t cpu;
        const char16_t* name;
    } cases[] = {
        {{u"/S", u"/CPU=MIPS"}, FLAG_MIPS, u"Notes.MIPS.CAB"},
        {{u"/S"}, FLAG_ARM, u"Notes.ARM.CAB"},
        {{u"/S", u"/CPU=arm"}, FLAG_ARM, u"Notes.ARM.CAB"}, // replaces the one before, without a word
    };
    const fs::path folder = dir.Path() / "new" / "cabs";
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.name));
        std::vector<std::u16string> arguments = c.arguments;
        arguments.push_back(u"/CAB=" + U16(folder));
        EXPECT_EQ(installer_template::RunSetup(arguments, package, true, host), 0);
        EXPECT_TRUE(host.printed.empty()) << host.printed[0];

        // Byte for byte tarvelo-build cab's: the readers' tests in cli_cabinet_tests hold it to that.
        device::CabinetReader reader;
        Error error;
        ASSERT_TRUE(reader.Open(U16(folder / c.name), error)) << error.message;
        const device::Cabinet& cabinet = reader.Contents();
        EXPECT_EQ(cabinet.appName, u"Notes");
        EXPECT_EQ(cabinet.provider, u"Notes");
        EXPECT_EQ(cabinet.processorType, device::CpuChoiceOf(c.cpu)->processorType);
        EXPECT_EQ(cabinet.compression, 0u);
        EXPECT_EQ(cabinet.files.size(), 1u);
    }
    EXPECT_EQ(FolderContents(folder).size(), 2u);

    // Nothing for the processor, a folder that cannot be made, a name taken by a folder, and a
    // plan refused: one line each, and nothing written.
    fs::create_directories(dir.Path() / "taken" / "Notes.ARM.CAB");
    WriteBytes(U16(dir.Path() / "blocked"), Pattern(1));
    const struct {
        std::vector<std::u16string> arguments;
        const char* says;
    } failures[] = {
        {{u"/S", u"/CPU=INTEL", u"/CAB=" + U16(dir.Path() / "intel")}, "no file for devices with the INTEL processor"},
        {{u"/S", u"/CAB=" + U16(dir.Path() / "blocked" / "cabs")}, "cannot make the folder"},
        {{u"/S", u"/CAB=" + U16(dir.Path() / "taken")}, "Notes.ARM.CAB: is a folder"},
    };
    host.printed.clear();
    for (const auto& f : failures) {
        EXPECT_EQ(installer_template::RunSetup(f.arguments, package, true, host), 1);
        ASSERT_FALSE(host.printed.empty());
        EXPECT_NE(host.printed.back().find(f.says), std::string::npos) << host.printed.back();
        EXPECT_TRUE(host.printed.back().starts_with("No installation file was written: ")) << host.printed.back();
        EXPECT_EQ(host.printed.back().find('\n'), std::string::npos);
    }
#ifdef _WIN32
    // A folder name Windows would trim: refused before anything is made, for /D= as for /CAB=.
    for (const std::u16string way : {u"/CAB=", u"/D="}) {
        for (const char* name : {"tdots...", "blank "}) {
            EXPECT_EQ(
                installer_template::RunSetup({u"/S", way + U16(dir.Path() / name / "below")}, package, true, host), 1);
            ASSERT_FALSE(host.printed.empty());
            EXPECT_NE(host.printed.back().find("ends in a dot or a blank, which Windows drops from names"),
                      std::string::npos)
                << host.printed.back();
            EXPECT_FALSE(fs::exists(dir.Path() / name));
            EXPECT_FALSE(fs::exists(dir.Path() / "tdots") || fs::exists(dir.Path() / "blank"));
        }
    }
#endif
    // The folder chosen, and those above it, may be links, junctions or mounted volumes (Wine
    // shows a Unix link to a folder as such a reparse point): /CAB= takes them as /D= does.
    fs::create_directories(dir.Path() / "real");
    ASSERT_TRUE(PlantLink(dir.Path() / "real", dir.Path() / "linked", LinkKind::ToFolder));
    host.printed.clear();
    for (const fs::path& chosen : {dir.Path() / "linked", dir.Path() / "linked" / "below"}) {
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/CAB=" + U16(chosen)}, package, true, host), 0)
            << (host.printed.empty() ? "" : host.printed.back());
        EXPECT_TRUE(fs::is_regular_file(chosen / "Notes.ARM.CAB"));
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D=" + U16(chosen / "device")}, package, true, host), 0)
            << (host.printed.empty() ? "" : host.printed.back());
    }
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "real" / "below" / "Notes.ARM.CAB"));
    EXPECT_FALSE(FolderContents(dir.Path() / "real" / "device").empty());
    EXPECT_FALSE(fs::exists(dir.Path() / "intel"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "taken" / "Notes.ARM.CAB"));
    EXPECT_TRUE(FolderContents(dir.Path() / "taken").empty());

    Bytes refused = CraftPackage(u"C:\\App\\", {{u"C:\\App\\..\\evil.txt", BytesOf("x"), FLAG_ARM}});
    Package bad;
    ASSERT_TRUE(bad.OpenImage(refused.data(), static_cast<std::uint32_t>(refused.size())));
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/CAB=" + U16(dir.Path() / "refused")}, bad, true, host), 1);
    EXPECT_FALSE(fs::exists(dir.Path() / "refused"));
    EXPECT_TRUE(host.shown.empty());
    SetDateEpoch(nullptr);
}

// /? lists the options, one a line: in a window, or on standard output for a script that asked
// for silence. It wins over any mistake on the line and needs no package.
TEST_F(TemplateFlowTest, AskedForItsOptionsItListsThemAndSucceeds) {
    for (const char* option :
         {"/S", "/APPMGR[=FOLDER]", "/DEVICE", "/CAB=FOLDER", "/D=FOLDER", "/CPU=ARM|MIPS|SHX|INTEL", "/?"}) {
        EXPECT_NE(std::string(installer_template::kUsageText).find(std::string("\n") + option + "  "),
                  std::string::npos)
            << option;
    }
    Package empty;
    const struct {
        std::vector<std::u16string> arguments;
        bool silent;
        bool withPackage;
    } cases[] = {
        {{u"/?"}, false, true},
        {{u"/S", u"/?"}, true, true},
        {{u"/D=C:\\Device", u"/?", u"/CPU=MIPS"}, false, true},
        {{u"/s", u"/CPU=Z80", u"/?"}, true, true},
        {{u"/?"}, false, false},
        {{u"/?", u"/S"}, true, false},
    };
    for (const auto& c : cases) {
        FakeHost fake;
        EXPECT_EQ(installer_template::RunSetup(c.arguments, c.withPackage ? package : empty, c.withPackage, fake), 0);
        const std::vector<std::string> usage{installer_template::kUsageText};
        EXPECT_EQ(fake.output, c.silent ? usage : std::vector<std::string>{});
        EXPECT_EQ(fake.informed, c.silent ? std::vector<std::string>{} : usage);
        EXPECT_TRUE(fake.shown.empty() && fake.printed.empty() && fake.wizardOptions.empty());
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "Notes"));
}

TEST_F(TemplateFlowTest, WithoutSilenceTheWizardRunsWithThePresetChoices) {
    EXPECT_EQ(installer_template::RunSetup({u"/D=C:\\Device", u"/CPU=SHX"}, package, true, host), 7);
    ASSERT_EQ(host.wizardOptions.size(), 1u);
    EXPECT_EQ(host.wizardOptions[0].destination, u"C:\\Device");
    EXPECT_EQ(host.wizardOptions[0].cpuFlag, FLAG_SHX);

    EXPECT_EQ(installer_template::RunSetup({u"/bogus"}, package, true, host), 1);
    EXPECT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.wizardOptions.size(), 1u);
}

// Through the Application Manager: every family's cabinet that has files and the .ini in a folder
// that stays, the Application Manager started once on the .ini's whole path; without it nothing
// is written. Straight to the device: the device's family's cabinet copied and its installer
// started, or one line saying why not.
TEST_F(TemplateFlowTest, SilentlyTheApplicationGoesToTheApplicationManagerOrStraightToTheDevice) {
    SetDateEpoch("1700000000");
    FakeDesktop desktop;
    desktop.appManager = U16(dir.Path() / "ActiveSync" / "CEAppMgr.exe");
    desktop.appManagerHome = U16(dir.Path() / "ActiveSync");
    desktop.temporary = U16(dir.Path() / "tmp");
    fs::create_directories(dir.Path() / "tmp");
    host.desktop = &desktop;
    // What tarvelo-build cab writes, for comparison.
    std::map<std::u16string, Bytes> expected;
    for (std::uint32_t cpu : {FLAG_ARM, FLAG_MIPS}) {
        installer_template::CabinetJob job;
        Error error;
        ASSERT_TRUE(installer_template::PlanCabinet(package, {}, cpu, U16(dir.Path() / "expected"), {}, job, error));
        ASSERT_TRUE(installer_template::WriteCabinetJob(package, job, error)) << error.Line();
        expected[platform::FromFsPath(platform::FsPath(job.path).filename())] = ReadBytes(job.path);
    }
    const std::string ini = "[CEAppManager]\r\nVersion = 1.0\r\nComponent = Notes\r\n\r\n[Notes]\r\n"
                            "Description = Notes\r\nUninstall = Notes\r\nCabFiles = Notes.ARM.CAB,Notes.MIPS.CAB\r\n";
    const std::map<std::string, Bytes> handedOver{{"Notes.ARM.CAB", expected[u"Notes.ARM.CAB"]},
                                                  {"Notes.MIPS.CAB", expected[u"Notes.MIPS.CAB"]},
                                                  {"Notes.ini", BytesOf(ini)}};
    const struct {
        std::vector<std::u16string> arguments;
        fs::path folder;
    } ways[] = {
        {{u"/S", u"/APPMGR"}, dir.Path() / "ActiveSync" / "Notes"},
        {{u"/S", u"/APPMGR=" + U16(dir.Path() / "my"), u"apps"}, dir.Path() / "my apps"},
        {{u"/S"}, dir.Path() / "ActiveSync" / "Notes"}, // the first way, the Application Manager being there
    };
    for (const auto& w : ways) {
        desktop.handed.clear();
        EXPECT_EQ(installer_template::RunSetup(w.arguments, package, true, host), 0)
            << (host.printed.empty() ? "" : host.printed.back());
        EXPECT_EQ(desktop.handed, std::vector<std::u16string>{U16(w.folder / "Notes.ini")});
        EXPECT_EQ(desktop.folderWhenRun, handedOver);
        EXPECT_EQ(FolderContents(w.folder), handedOver);
    }
    EXPECT_EQ(desktop.link.connections, 0);
    EXPECT_TRUE(host.printed.empty());

    // The Application Manager refusing, and missing: one line; when missing, nothing written.
    desktop.appManagerExit = 3;
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/APPMGR"}, package, true, host), 1);
    ASSERT_EQ(host.printed.size(), 1u);
    EXPECT_NE(host.printed[0].find("ended with exit status 3"), std::string::npos) << host.printed[0];
    desktop.appManager.clear();
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/APPMGR=" + U16(dir.Path() / "none")}, package, true, host), 1);
    ASSERT_EQ(host.printed.size(), 2u);
    EXPECT_NE(host.printed[1].find("Application Manager"), std::string::npos);
    EXPECT_NE(host.printed[1].find("not installed"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.Path() / "none"));
    host.printed.clear();

    // Straight to the device, for each family the device may report; the cabinet is cab's.
    desktop.linked = true;
    Bytes each = WritePackage(dir.Path() / "each", {{u"arm.exe", Pattern(70000, 1), FLAG_ARM},
                                                   {u"mips.exe", Pattern(300, 2), FLAG_MIPS},
                                                   {u"shx.exe", Pattern(400, 3), FLAG_SHX},
                                                   {u"x86.exe", Pattern(500, 4), FLAG_INTEL}});
    Package all;
    ASSERT_TRUE(all.OpenImage(each.data(), static_cast<std::uint32_t>(each.size())));
    for (auto [architecture, family] : {std::pair{5, u"ARM"}, std::pair{1, u"MIPS"}, std::pair{4, u"SHX"},
                                        std::pair{0, u"INTEL"}}) {
        SCOPED_TRACE(platform::ToUtf8(family));
        desktop.link = {};
        desktop.link.architecture = static_cast<std::uint16_t>(architecture);
        // The link may take a block in pieces: ARM's cabinet spans several blocks.
        desktop.link.takes = architecture == 5 ? 5000 : 0;
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/DEVICE"}, all, true, host), 0)
            << (host.printed.empty() ? "" : host.printed.back());
        installer_template::CabinetJob job;
        Error error;
        ASSERT_TRUE(installer_template::PlanCabinet(all, {}, device::CpuFlagByName(family),
                                                    U16(dir.Path() / "expected"), {}, job, error));
        ASSERT_TRUE(installer_template::WriteCabinetJob(all, job, error));
        std::u16string onDevice = u"\\Temp\\Notes." + std::u16string(family) + u".CAB";
        ASSERT_EQ(desktop.link.files.count(onDevice), 1u);
        EXPECT_EQ(desktop.link.files[onDevice], ReadBytes(job.path));
        EXPECT_EQ(desktop.link.started, std::vector<std::u16string>{u"wceload.exe \"" + onDevice + u"\""});
        EXPECT_EQ(desktop.link.open, 0);
    }
    // Nothing left on this PC on the way.
    EXPECT_TRUE(FolderContents(dir.Path() / "tmp").empty());

    // No device, a broken link, an unknown processor, a family without files, a full device: one
    // line each, nothing started, the connection closed.
    const struct {
        installer_template::Connection answer;
        std::uint16_t architecture;
        const char* says;
    } failures[] = {
        {installer_template::Connection::NoDevice, 5, "no device answered within 5 seconds"},
        {installer_template::Connection::Failed, 5, "the link broke"},
        {installer_template::Connection::Connected, 6, "architecture 6"},
        {installer_template::Connection::Connected, 4, "has the SHX processor (type 10003), and this package holds "
                                                       "no file for devices with the SHX processor"},
    };
    for (const auto& f : failures) {
        desktop.link = {};
        desktop.link.answer = f.answer;
        desktop.link.architecture = f.architecture;
        desktop.link.type = f.architecture == 4 ? 10003 : 2577;
        host.printed.clear();
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/DEVICE"}, package, true, host), 1);
        ASSERT_EQ(host.printed.size(), 1u);
        EXPECT_TRUE(host.printed[0].starts_with("Nothing was installed on the device: ")) << host.printed[0];
        EXPECT_NE(host.printed[0].find(f.says), std::string::npos) << host.printed[0];
        EXPECT_TRUE(desktop.link.started.empty());
        EXPECT_EQ(desktop.link.open, 0);
    }
    // The copy failing on the way, or the device's installer not starting: one line, and no
    // cabinet left on the device nor on this PC.
    const struct {
        const char16_t* failWriteOf;
        std::size_t fullAt;
        bool failStart;
        const char* says;
    } broken[] = {
        {u"\\Temp\\Notes.ARM.CAB", 0, false, "the device is full"},
        {nullptr, 100, false, "\\Temp\\Notes.ARM.CAB: the device took none of the file's bytes after 100 of "},
        {nullptr, 0, true, "wceload.exe is not on the device"},
    };
    for (const auto& b : broken) {
        desktop.link = {};
        desktop.link.failWriteOf = b.failWriteOf ? b.failWriteOf : u"";
        desktop.link.fullAt = b.fullAt;
        desktop.link.failStart = b.failStart;
        host.printed.clear();
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/DEVICE"}, package, true, host), 1);
        ASSERT_EQ(host.printed.size(), 1u);
        EXPECT_NE(host.printed[0].find(b.says), std::string::npos) << host.printed[0];
        EXPECT_TRUE(desktop.link.files.empty());
        EXPECT_EQ(desktop.link.started.size(), 0u);
        EXPECT_EQ(desktop.link.open, 0);
        EXPECT_TRUE(FolderContents(dir.Path() / "tmp").empty());
    }

    // /S alone without the Application Manager: the device when one answers, else the file.
    host.printed.clear();
    desktop.link = {};
    EXPECT_EQ(installer_template::RunSetup({u"/S"}, package, true, host), 0);
    EXPECT_EQ(desktop.link.started.size(), 1u);
    desktop.link.answer = installer_template::Connection::NoDevice;
    EXPECT_EQ(installer_template::RunSetup({u"/S"}, package, true, host), 0);
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "Notes.ARM.CAB"));
    host.desktop = nullptr;
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/DEVICE"}, package, true, host), 1);
    EXPECT_EQ(installer_template::RunSetup({u"/S", u"/APPMGR"}, package, true, host), 1);
    SetDateEpoch(nullptr);
}

// Lines on the Finished page break after a blank or a path separator, never running past the page.
TEST(TemplateTextTest, LongLinesBreakAfterBlanksAndSeparators) {
    // One unit a character, ten to a line.
    auto measure = [](std::u16string_view line, void*) { return static_cast<int>(line.size()); };
    const struct {
        const char16_t* text;
        const char16_t* wrapped;
    } cases[] = {
        {u"short", u"short"},
        {u"C:\\Users\\Someone\\Documents\\Notes", u"C:\\Users\\\r\nSomeone\\\r\nDocuments\\\r\nNotes"},
        {u"the file is in here", u"the file\r\nis in here"},
        {u"in C:\\Program Files\\A", u"in C:\\\r\nProgram\r\nFiles\\A"},
        {u"abcdefghijklmnop", u"abcdefghij\r\nklmnop"},
        {u"one\r\n\r\nC:\\a\\bbbbbbbbbb", u"one\r\n\r\nC:\\a\\\r\nbbbbbbbbbb"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        std::u16string wrapped = installer_template::WrapLines(c.text, 10, +measure, nullptr);
        EXPECT_EQ(wrapped, c.wrapped) << platform::ToUtf8(wrapped);
    }
}

} // namespace
