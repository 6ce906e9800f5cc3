// The text of CAB-wizard INF files as the wizard reads it: encodings, sections merged without case,
// keys and fields with quotes and comments, line numbers for messages, and %string% replacement
// that leaves the device's own macros. Where the real INF files of CE applications lie beside
// the checkout, every one of them reads.
#include "device/inf_text.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

using device::inf::Field;

std::vector<std::u16string> Texts(const std::vector<Field>& fields) {
    std::vector<std::u16string> texts;
    for (const Field& f : fields) {
        texts.push_back(f.text);
    }
    return texts;
}

TEST(InfText, LinesSplitAsTheWizardSplitsThem) {
    const struct {
        const char16_t* line;
        std::optional<std::u16string> key;
        std::vector<std::u16string> fields;
        bool openQuote = false;
    } cases[] = {
        {u"AppName=\"Field Notes\"", u"AppName", {u"Field Notes"}},
        {u"  Provider = Acme Tools  ", u"Provider", {u"Acme Tools"}},
        {u"\"Ushahidi.exe\"=12", u"Ushahidi.exe", {u"12"}},
        {u"Files.Common=0,\"%InstallDir%\"\\de", u"Files.Common", {u"0", u"%InstallDir%\\de"}},
        {u"1=,\"Common\",,\"\"", u"1", {u"", u"Common", u"", u""}},
        {u"HKLM,Software\\Acme,\"a=b\",0x00010001,1",
         std::nullopt,
         {u"HKLM", u"Software\\Acme", u"a=b", u"0x00010001", u"1"}},
        {u"app.exe ; the program", std::nullopt, {u"app.exe"}},
        {u"Name=\"a;b,c\" ; comment, with a comma", u"Name", {u"a;b,c"}},
        {u"Say=\"He said \"\"hi\"\"\"", u"Say", {u"He said \"hi\""}},
        {u"\tTabbed\t=\t\" kept \"\t", u"Tabbed", {u" kept "}},
        {u"Empty=", u"Empty", {u""}},
        {u"a,b=c", std::nullopt, {u"a", u"b=c"}},
        {u"Open=\"no end, here", u"Open", {u"no end, here"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.line));
        device::inf::Document d = device::inf::ReadInf(u"[S]\r\n" + std::u16string(c.line) + u"\r\n");
        ASSERT_EQ(d.sections.size(), 1u);
        ASSERT_EQ(d.sections[0].lines.size(), 1u);
        const device::inf::Line& line = d.sections[0].lines[0];
        EXPECT_EQ(line.number, 2u);
        EXPECT_EQ(line.key.has_value(), c.key.has_value());
        if (line.key && c.key) {
            EXPECT_EQ(line.key->text, *c.key);
        }
        EXPECT_EQ(Texts(line.fields), c.fields);
        EXPECT_EQ(line.openQuote, c.openQuote);
        EXPECT_EQ(d.warnings.size(), c.openQuote ? 1u : 0u);
    }
}

// Sections are found without case and one written twice is one; comments, blank lines and
// lines before the first section are left out, and line numbers count every line, LF, CRLF or CR.
TEST(InfText, SectionsMergedAndLinesNumbered) {
    device::inf::Document d = device::inf::ReadInf(u"; header comment\n"
                                                   u"stray=1\n"
                                                   u"[Version]\r\n"
                                                   u"Signature=\"$Windows NT$\"\r\n"
                                                   u"\r\n"
                                                   u"[Files.Common] ; the files\n"
                                                   u"a.dll\r"
                                                   u"  [ version ]  \n"
                                                   u"CESignature=\"$Windows CE$\"\n"
                                                   u"[files.COMMON]\n"
                                                   u"b.dll\n"
                                                   u"a=b.txt, c");
    ASSERT_EQ(d.sections.size(), 2u);
    const device::inf::Section* version = d.Find(u"VERSION");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->name, u"Version");
    ASSERT_EQ(version->lines.size(), 2u);
    EXPECT_EQ(version->lines[0].number, 4u);
    EXPECT_EQ(version->lines[1].number, 9u);
    const device::inf::Section* files = d.Find(u"Files.Common");
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(files->lines.size(), 3u);
    EXPECT_EQ(files->lines[1].fields[0].text, u"b.dll");
    EXPECT_EQ(files->lines[1].number, 11u);
    // A file named with an = in a list is one name again.
    EXPECT_EQ(Texts(device::inf::ListFields(files->lines[2])), (std::vector<std::u16string>{u"a=b.txt", u"c"}));
    EXPECT_EQ(d.Find(u"Files"), nullptr);
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_EQ(d.warnings[0].line, 2u);
}

TEST(InfText, EncodingsOfTheFile) {
    using testing_support::Bytes;
    const std::u16string expected = u"[S]\r\nName=Caf\u00e9 \u20ac\r\n";
    Bytes utf16{0xFF, 0xFE};
    for (char16_t c : expected) {
        utf16.push_back(static_cast<std::uint8_t>(c));
        utf16.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    std::string utf8 = "\xEF\xBB\xBF" + platform::ToUtf8(expected);
    std::string cp1252 = "[S]\r\nName=Caf\xE9 \x80\r\n";
    for (const Bytes& bytes : {utf16, Bytes(utf8.begin(), utf8.end()), Bytes(cp1252.begin(), cp1252.end())}) {
        std::u16string text;
        ASSERT_TRUE(device::inf::DecodeInf(bytes, text));
        EXPECT_EQ(text, expected);
    }
    Bytes cut = utf16;
    cut.pop_back();
    std::u16string text;
    EXPECT_FALSE(device::inf::DecodeInf(cut, text));
    // An East Asian device's 8-bit file: the second byte of ソ is a backslash, which stays inside it.
    std::string cp932 = "[S]\r\nName=\x83\x5C\x83\x74\x83\x67\r\n";
    ASSERT_TRUE(device::inf::DecodeInf(Bytes(cp932.begin(), cp932.end()), text, 932));
    EXPECT_EQ(text, u"[S]\r\nName=ソフト\r\n");
}

TEST(InfText, StringsReplacedAndTheDevicesMacrosKept) {
    const std::map<std::u16string, std::u16string> strings{{u"appname", u"Notes"}, {u"Manufacturer", u"Acme"}};
    auto lookup = [&](std::u16string_view name) -> std::optional<std::u16string> {
        for (const auto& [key, value] : strings) {
            if (device::inf::SameName(key, name)) {
                return value;
            }
        }
        return std::nullopt;
    };
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"%AppName%.exe", u"Notes.exe"},
        {u"%CE1%\\%AppName%", u"%CE1%\\Notes"},
        {u"%InstallDir%\\%manufacturer%", u"%InstallDir%\\Acme"},
        {u"100%% %AppName%", u"100% Notes"},
        {u"50% off", u"50% off"},
        {u"%", u"%"},
        {u"", u""},
    };
    for (const auto& [given, expected] : cases) {
        std::vector<std::u16string> unknown;
        EXPECT_EQ(device::inf::Substitute(given, lookup, [&](std::u16string_view n) { unknown.emplace_back(n); }),
                  expected)
            << platform::ToUtf8(given);
    }
    std::vector<std::u16string> unknown;
    device::inf::Substitute(u"%CE1%\\%Missing%", lookup, [&](std::u16string_view n) { unknown.emplace_back(n); });
    EXPECT_EQ(unknown, (std::vector<std::u16string>{u"CE1", u"Missing"}));
}

// Every real INF file of a CE application that lies beside the checkout reads: the sections a
// cabinet needs are there, and each line of a copy list names a file.
TEST(InfText, TheRealFilesRead) {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(testing_support::SourceFile(u"")) / ".." / "shared" / "cabwiz" / "infs";
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no real INF files beside the checkout";
    }
    int read = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".inf") {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        std::u16string text;
        ASSERT_TRUE(device::inf::DecodeInf(testing_support::ReadBytes(entry.path().u16string()), text));
        device::inf::Document d = device::inf::ReadInf(text);
        EXPECT_NE(d.Find(u"CEStrings"), nullptr);
        EXPECT_NE(d.Find(u"DefaultInstall"), nullptr);
        EXPECT_NE(d.Find(u"DestinationDirs"), nullptr);
        ++read;
    }
    EXPECT_EQ(read, 22);
}

} // namespace
