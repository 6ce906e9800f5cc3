// The Application Manager's .ini: what a program name becomes in it, and which cabinet names its
// list refuses. A name the Application Manager would read as another (a section of its own, a
// second file, a character it reads in another code page) must never reach the file.
#include "device/app_manager_ini.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The lines that name the program, in Western bytes.
std::string Named(const std::string& component, const std::string& description) {
    return "[CEAppManager]\r\nVersion = 1.0\r\nComponent = " + component + "\r\n\r\n[" + component +
           "]\r\nDescription = " + description + "\r\nUninstall = " + component + "\r\nCabFiles = A.ARM.CAB\r\n";
}

TEST(AppManagerIni, TheProgramNameBecomesOneComponentThatFindsItsOwnSection) {
    const struct {
        std::u16string name;
        std::string component, description, file;
    } rows[] = {
        {u"Field Notes", "Field Notes", "Field Notes", "Field Notes.ini"},
        // Brackets would open a section of their own, '=' and ';' a key and a comment.
        {u"Notes [beta]", "Notes _beta_", "Notes _beta_", "Notes [beta].ini"},
        {u"a=b;c", "a_b_c", "a_b_c", "a=b;c.ini"},
        // Western characters stay, in Western bytes; others become '_', one per UTF-16 unit.
        {u"Caf\u00e9 \u20acuro", "Caf\xe9 \x80uro", "Caf\xe9 \x80uro", "Caf\xc3\xa9 \xe2\x82\xacuro.ini"},
        {u"\u65e5\u672c Notes \U0001F600", "__ Notes __", "__ Notes __",
         "\xe6\x97\xa5\xe6\x9c\xac Notes \xf0\x9f\x98\x80.ini"},
        // What Windows forbids in a file name is the stem's '_'; a reader trims blanks around a
        // value, not inside brackets.
        {u"  A/B: C. ", "A_B_ C", "  A/B: C. ", "  A_B_ C.ini"},
        {u"\u00a0Notes", "Notes", "\xa0Notes", "\xc2\xa0Notes.ini"},
        {u"Tab\there", "Tab_here", "Tab_here", "Tab_here.ini"},
        {u" ", "Setup", " ", "Setup.ini"},
    };
    const std::vector<std::u16string> cabinets{u"A.ARM.CAB"};
    for (const auto& row : rows) {
        SCOPED_TRACE(platform::ToUtf8(row.name));
        std::string bytes;
        Error error;
        ASSERT_TRUE(device::MakeAppManagerIni(row.name, cabinets, bytes, error)) << error.message;
        EXPECT_EQ(bytes, Named(row.component, row.description));
        EXPECT_EQ(platform::ToUtf8(device::AppManagerIniName(row.name)), row.file);
    }
}

TEST(AppManagerIni, TheListCarriesEveryNameAsItIsOrNothingIsMade) {
    const struct {
        std::vector<std::u16string> names;
        std::string list; // empty: refused
    } rows[] = {
        {{u"A.ARM.CAB", u"A.MIPS.CAB", u"A.SHX.CAB", u"A.INTEL.CAB"}, "A.ARM.CAB,A.MIPS.CAB,A.SHX.CAB,A.INTEL.CAB"},
        {{u"My App [2].ARM.CAB"}, "My App [2].ARM.CAB"},
        {{u"Caf\u00e9.ARM.CAB"}, "Caf\xe9.ARM.CAB"},
        {{}, ""},
        {{u"A.ARM.CAB", u""}, ""},
        {{u"A, B.ARM.CAB"}, ""},
        {{u"A.ARM.CAB", u" A.MIPS.CAB"}, ""},
        {{u"A.ARM.CAB "}, ""},
        {{u"\u65e5.ARM.CAB"}, ""},
        {{u"A\r\nB.ARM.CAB"}, ""},
        {{u"A\x7f.ARM.CAB"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.list.empty() && !row.names.empty() ? platform::ToUtf8(row.names.back()) : row.list);
        std::string bytes = "left over";
        Error error;
        const bool made = device::MakeAppManagerIni(u"A", row.names, bytes, error);
        EXPECT_EQ(made, !row.list.empty());
        if (!made) {
            EXPECT_EQ(bytes, "");
            EXPECT_FALSE(error.message.empty());
            continue;
        }
        const std::string line = "\r\nCabFiles = " + row.list + "\r\n";
        ASSERT_GE(bytes.size(), line.size());
        EXPECT_EQ(bytes.substr(bytes.size() - line.size()), line);
    }
}

} // namespace
