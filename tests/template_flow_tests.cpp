// The installer from its command line to its exit status, with a fake host in place of message
// boxes, standard error and the wizard: what a script and a user see in each case.
#include "device/cabinet.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/text.h"
#include "template/options.h"
#include "template/setup_flow.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class FakeHost : public installer_template::SetupHost {
public:
    void ShowError(const std::string& text) override { shown.push_back(text); }
    void PrintError(const std::string& line) override { printed.push_back(line); }
    void ShowInformation(const std::string& text) override { informed.push_back(text); }
    void PrintOutput(const std::string& text) override { output.push_back(text); }
    std::u16string DefaultDestination() override { return defaultDestination; }
    int RunWizard(Package&, const installer_template::Options& options) override {
        wizardOptions.push_back(options);
        return 7;
    }

    std::u16string defaultDestination;
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

    ASSERT_TRUE(installer_template::ParseOptions({}, options, cause));
    EXPECT_FALSE(options.silent);
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
                                                  {u"/Q"},
                                                  {u"/SILENT"},
                                                  {u"C:\\x"}}) {
        cause.clear();
        EXPECT_FALSE(installer_template::ParseOptions(bad, options, cause));
        EXPECT_FALSE(cause.empty());
        EXPECT_EQ(cause.find('\n'), std::string::npos);
    }
}

class TemplateFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = WritePackage(dir.Path() / "src", files);
        ASSERT_TRUE(package.OpenImage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        host.defaultDestination = U16(dir.Path() / "Tarvelo Device");
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

    // No folder given: the default one, and ARM.
    EXPECT_EQ(installer_template::RunSetup({u"/S"}, package, true, host), 0);
    EXPECT_EQ(FolderContents(dir.Path() / "Tarvelo Device").count("Program Files/Notes/app.exe"), 1u);

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
    for (const char* option : {"/S", "/CAB=FOLDER", "/D=FOLDER", "/CPU=ARM|MIPS|SHX|INTEL", "/?"}) {
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
    EXPECT_FALSE(fs::exists(dir.Path() / "Tarvelo Device"));
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

} // namespace
