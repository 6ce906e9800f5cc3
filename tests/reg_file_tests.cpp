// Registry editor exports read into a cabinet's registry values: what regedit writes (strings with
// their escapes, dword:, hex: wrapped over lines, hex(7) multi-strings) read as it imports them,
// and everything a device cabinet cannot do refused at its line, every problem at once.
#include "device/cabinet_manifest.h"
#include "device/reg_file.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace device {

// For GoogleTest's messages: a value on one line.
void PrintTo(const RegistryValue& v, std::ostream* os) {
    *os << static_cast<int>(v.root) << "\\" << platform::ToUtf8(v.key) << " [" << platform::ToUtf8(v.name) << "] type "
        << std::hex << v.type << " number " << v.number << std::dec << " texts";
    for (const std::u16string& t : v.texts) {
        *os << " \"" << platform::Printable(platform::ToUtf8(t)) << "\"";
    }
    *os << " bytes " << v.bytes.size();
}

} // namespace device

namespace {

using device::RegistryRoot;
using device::RegistryValue;
using testing_support::Bytes;
using namespace std::string_literals;

// A file as regedit writes a version 5.00 export: UTF-16LE after its byte order mark.
Bytes Utf16File(std::u16string_view text) {
    Bytes bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

Bytes Narrow(std::string_view text) { return Bytes(text.begin(), text.end()); }

RegistryValue Text(std::u16string key, std::u16string name, std::u16string text,
                   RegistryRoot root = RegistryRoot::LocalMachine) {
    return {root, std::move(key), std::move(name), device::kRegString, {std::move(text)}, {}, 0};
}
RegistryValue Multi(std::u16string key, std::u16string name, std::vector<std::u16string> texts) {
    return {
        RegistryRoot::LocalMachine, std::move(key), std::move(name), device::kRegMultiString, std::move(texts), {}, 0};
}
RegistryValue Binary(std::u16string key, std::u16string name, Bytes bytes) {
    return {RegistryRoot::LocalMachine, std::move(key), std::move(name), device::kRegBinary, {}, std::move(bytes), 0};
}
RegistryValue Dword(std::u16string key, std::u16string name, std::uint32_t number) {
    return {RegistryRoot::LocalMachine, std::move(key), std::move(name), device::kRegDword, {}, {}, number};
}

struct Read {
    bool ok = false;
    std::vector<RegistryValue> values;
    std::vector<std::string> problems;
};

Read ReadFile(const Bytes& bytes) {
    Read read;
    read.ok = device::ReadRegFile(bytes, "Notes.reg", read.values, read.problems);
    return read;
}

// The text after the header of a version 5.00 file: its first line is the file's line 2.
Read ReadBody(std::u16string_view body) {
    return ReadFile(Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n" + std::u16string(body)));
}

constexpr const char16_t* kKey = u"[HKEY_LOCAL_MACHINE\\Software\\Acme\\Notes]\r\n";
constexpr const char16_t* kAcme = u"Software\\Acme\\Notes";

TEST(RegFile, ValuesReadAsRegeditImportsThem) {
    const struct {
        const char* what;
        std::u16string body;
        std::vector<RegistryValue> values;
    } cases[] = {
        {"strings, the default value and the device's macros kept",
         std::u16string(kKey) + uR"("Path"="%InstallDir%\\Data"
@="Field Notes"
"Start"="%CE11%\\Notes.lnk"
)",
         {Text(kAcme, u"Path", u"%InstallDir%\\Data"), Text(kAcme, u"", u"Field Notes"),
          Text(kAcme, u"Start", u"%CE11%\\Notes.lnk")}},
        {"escapes in names and texts; an empty text",
         std::u16string(kKey) + uR"("Say \"hi\""="C:\\Temp\\ \"quoted\""
"a\\b"=""
)",
         {Text(kAcme, u"Say \"hi\"", u"C:\\Temp\\ \"quoted\""), Text(kAcme, u"a\\b", u"")}},
        {"DWORDs of one to eight digits, either case",
         std::u16string(kKey) + u"\"A\"=dword:0000001f\r\n\"B\"=dword:0\r\n\"C\"=dword:FFFFffff\r\n",
         {Dword(kAcme, u"A", 0x1f), Dword(kAcme, u"B", 0), Dword(kAcme, u"C", 0xFFFFFFFF)}},
        {"binary data wrapped over lines as regedit wraps it, one-digit bytes, none at all",
         std::u16string(kKey) + u"\"Bin\"=hex:00,01,ff,\\\r\n  0a,B,\\\r\n  7f\r\n\"None\"=hex:\r\n"
                                u"\"Three\"=hex(3):\\\r\n  01,02\r\n",
         {Binary(kAcme, u"Bin", {0x00, 0x01, 0xFF, 0x0A, 0x0B, 0x7F}), Binary(kAcme, u"None", {}),
          Binary(kAcme, u"Three", {1, 2})}},
        {"multi-strings as UTF-16, ended by an empty string or not, and empty",
         std::u16string(kKey) + u"\"Multi\"=hex(7):61,00,62,00,00,00,25,00,43,00,45,00,31,00,25,00,00,00,\\\r\n"
                                u"  00,00\r\n\"Unended\"=hex(7):78,00,00,00\r\n\"Empty\"=hex(7):00,00\r\n"
                                u"\"Nothing\"=hex(7):\r\n",
         {Multi(kAcme, u"Multi", {u"ab", u"%CE1%"}), Multi(kAcme, u"Unended", {u"x"}), Multi(kAcme, u"Empty", {}),
          Multi(kAcme, u"Nothing", {})}},
        {"a string and a DWORD given as bytes",
         std::u16string(kKey) + u"\"S\"=hex(1):4e,00,e9,00,00,00\r\n\"U\"=hex(1):4e,00\r\n"
                                u"\"D\"=hex(4):1f,00,00,01\r\n",
         {Text(kAcme, u"S", u"N\u00e9"), Text(kAcme, u"U", u"N"), Dword(kAcme, u"D", 0x0100001F)}},
        {"every root a cabinet writes, long and short, in any case",
         u"[HKEY_CURRENT_USER\\A]\n@=\"1\"\n[hkcr\\.note]\n@=\"2\"\n[HKU\\.Default\\B]\n@=\"3\"\n"
         u"[HKLM\\C]\n@=\"4\"\n",
         {Text(u"A", u"", u"1", RegistryRoot::CurrentUser), Text(u".note", u"", u"2", RegistryRoot::ClassesRoot),
          Text(u".Default\\B", u"", u"3", RegistryRoot::Users), Text(u"C", u"", u"4")}},
        {"comments, blanks and LF alone; a key without values gives nothing; keys in file order",
         uR"(; Notes' settings
[HKEY_LOCAL_MACHINE\Software\Empty]

  [HKEY_LOCAL_MACHINE\Software\Acme\Notes]   
  "A" = "1"   ; the first
"B"=dword:2;no blank
[HKEY_LOCAL_MACHINE\Software\Other]
"C"=hex:01 ; a byte
[HKEY_LOCAL_MACHINE\Software\Acme\Notes]
"D"="4")",
         {Text(kAcme, u"A", u"1"), Dword(kAcme, u"B", 2), Binary(u"Software\\Other", u"C", {1}),
          Text(kAcme, u"D", u"4")}},
        {"a key's names may hold ] and ;, quotes keep = and ; as text",
         u"[HKLM\\Software\\a]b;c]\r\n\"x=y;z\"=\"1;2=3\"\r\n",
         {Text(u"Software\\a]b;c", u"x=y;z", u"1;2=3")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Read read = ReadBody(c.body);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.problems, std::vector<std::string>{});
        EXPECT_EQ(read.values, c.values);
    }
}

// Each problem at its line (the header is line 1, a blank line 2, the first line below line 3);
// nothing is read from a file with one.
TEST(RegFile, WhatACabinetCannotSayIsRefusedAtItsLine) {
    const struct {
        std::u16string body;
        std::vector<std::string> problems;
    } cases[] = {
        {u"[-HKEY_LOCAL_MACHINE\\Software\\Acme]",
         {"Notes.reg:3: [-...] deletes a key, which a device cabinet cannot do: it only adds values"}},
        {std::u16string(kKey) + u"\"Old\"=-\r\n\"Old2\" = - ; gone",
         {"Notes.reg:4: =- deletes a value, which a device cabinet cannot do: it only adds values",
          "Notes.reg:5: =- deletes a value, which a device cabinet cannot do: it only adds values"}},
        {u"[HKEY_CURRENT_CONFIG\\Software]\r\n\"A\"=\"1\"\r\n[HKEY_NOWHERE\\X]\r\n\"B\"=\"2\"",
         {"Notes.reg:3: HKEY_CURRENT_CONFIG is a root a device cabinet cannot write to; it writes to "
          "HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and HKEY_USERS",
          "Notes.reg:5: not a registry root: HKEY_NOWHERE"}},
        {u"\"A\"=\"1\"\r\n[HKLM]\r\n\"B\"=\"2\"",
         {"Notes.reg:3: a value before any [key]",
          "Notes.reg:5: a value directly in HKEY_LOCAL_MACHINE: a device cabinet sets values in keys below a root"}},
        {u"[HKLM\\Software\\\\Acme]\r\n[HKLM\\Software\\]\r\n[HKLM\\Software\r\n[HKLM\\Software] ; c",
         {"Notes.reg:3: an empty name in the key (two backslashes together, or one at the end): "
          "HKLM\\Software\\\\Acme",
          "Notes.reg:4: an empty name in the key (two backslashes together, or one at the end): "
          "HKLM\\Software\\",
          "Notes.reg:5: a key's line ends with ]: [HKLM\\Software",
          "Notes.reg:6: a key's line ends with ]: [HKLM\\Software] ; c"}},
        {std::u16string(kKey) + u"\"E\"=hex(2):25,00,00,00\r\n\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                                u"\"N\"=hex(0):\r\n\"X\"=hex(1f):00",
         {"Notes.reg:4: hex(2) is REG_EXPAND_SZ, a type a device cabinet cannot carry: it takes strings (\"text\" "
          "or hex(1)), multi-strings (hex(7)), binary data (hex:) and DWORDs (dword: or hex(4))",
          "Notes.reg:5: hex(b) is REG_QWORD, a type a device cabinet cannot carry: it takes strings (\"text\" or "
          "hex(1)), multi-strings (hex(7)), binary data (hex:) and DWORDs (dword: or hex(4))",
          "Notes.reg:6: hex(0) is REG_NONE, a type a device cabinet cannot carry: it takes strings (\"text\" or "
          "hex(1)), multi-strings (hex(7)), binary data (hex:) and DWORDs (dword: or hex(4))",
          "Notes.reg:7: hex(1f) is a type a device cabinet cannot carry: it takes strings (\"text\" or hex(1)), "
          "multi-strings (hex(7)), binary data (hex:) and DWORDs (dword: or hex(4))"}},
        {std::u16string(kKey) + u"\"A\"=dword:123456789\r\n\"B\"=dword:\r\n\"C\"=dword:12g\r\n\"D\"=DWORD:1\r\n"
                                u"\"E\"=hex(7:00\r\n\"F\"=hex(4):01,02,03",
         {"Notes.reg:4: dword: takes one to eight hexadecimal digits: dword:123456789",
          "Notes.reg:5: dword: takes one to eight hexadecimal digits: dword:",
          "Notes.reg:6: dword: takes one to eight hexadecimal digits: dword:12g",
          "Notes.reg:7: a value's data is \"text\", dword:, hex: or hex(N): DWORD:1",
          "Notes.reg:8: hex( takes the type's number in hexadecimal, then \"):\": hex(7:00",
          "Notes.reg:9: hex(4) is a DWORD of four bytes, not 3"}},
        {std::u16string(kKey) + u"\"A\"=hex:01,,02\r\n\"B\"=hex:123\r\n\"C\"=hex:aa bb\r\n\"D\"=hex:zz\r\n"
                                u"\"E\"=hex:01,\\\r\n  02,x,\\\r\n  03\r\n\"F\"=hex:,01",
         {"Notes.reg:4: a comma where a byte was due: ,02", "Notes.reg:5: a byte is two hexadecimal digits: 123",
          "Notes.reg:6: bytes are separated by commas: bb", "Notes.reg:7: not a byte in hexadecimal: zz",
          "Notes.reg:9: not a byte in hexadecimal: x,", "Notes.reg:11: a comma where a byte was due: ,01"}},
        {std::u16string(kKey) + u"\"M\"=hex(7):61,00,62\r\n\"N\"=hex(7):61,00\r\n\"O\"=hex(7):00,00,61,00,00,00\r\n"
                                u"\"S\"=hex(1):61,00,00,00,62,00",
         {"Notes.reg:4: hex(7) of a version 5.00 file is UTF-16, two bytes a character, not 3 bytes",
          "Notes.reg:5: hex(7) does not end with a NUL character, as a multi-string does",
          "Notes.reg:6: hex(7) goes on after the empty string that ends a multi-string",
          "Notes.reg:7: hex(1) holds a NUL character before its end, which a string cannot carry"}},
        {std::u16string(kKey) + uR"("A"="open
"B"="new\nline"
"C"="x" y
"D" "x"
Stray=1
"E"=hex:01,\)",
         {"Notes.reg:4: a text without its closing quote: \"open",
          "Notes.reg:5: a backslash in quotes is written \\\\ and a quote \\\": \"new\\nline\"",
          "Notes.reg:6: text after the value's data: y", "Notes.reg:7: a value's name is followed by =: \"x\"",
          "Notes.reg:8: neither a [key], a value (\"name\"= or @=) nor a comment: Stray=1",
          "Notes.reg:9: the value's data goes on past the end of the file"}},
        // A refused key's values are not refused again; a NUL is no character of a registry text.
        {u"[HKCC\\A]\r\n\"A\"=\"1\"\r\n[HKLM\\B]\r\n\"B\"=\"x\0y\"\r\n\"C\"=\"\u0001\""s,
         {"Notes.reg:3: HKEY_CURRENT_CONFIG is a root a device cabinet cannot write to; it writes to "
          "HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and HKEY_USERS",
          "Notes.reg:6: a NUL character, which no text of the registry holds"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Printable(platform::ToUtf8(c.body)));
        Read read = ReadBody(c.body);
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.problems, c.problems);
        EXPECT_TRUE(read.values.empty());
    }
}

// regedit writes version 5.00 files in UTF-16LE; UTF-8 is taken too, and REGEDIT4 files are
// 8-bit, their hex(7) data included. Anything else is refused at its first line.
TEST(RegFile, HeadersAndEncodings) {
    const std::u16string body = u"[HKLM\\Software\\Caf\u00e9]\r\n\"Name\"=\"\u20ac 5\"\r\n";
    const std::vector<RegistryValue> expected{Text(u"Software\\Caf\u00e9", u"Name", u"\u20ac 5")};
    const std::u16string v5 = u"Windows Registry Editor Version 5.00\r\n" + body;
    const std::string utf8 = platform::ToUtf8(v5);
    const struct {
        const char* what;
        Bytes bytes;
    } files[] = {
        {"UTF-16LE", Utf16File(v5)},
        {"UTF-8 after its mark", Narrow("\xEF\xBB\xBF" + utf8)},
        {"UTF-8 without a mark", Narrow(utf8)},
        {"8-bit", Narrow("REGEDIT4\r\n[HKLM\\Software\\Caf\xE9]\r\n\"Name\"=\"\x80 5\"\r\n")},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        Read read = ReadFile(file.bytes);
        EXPECT_EQ(read.problems, std::vector<std::string>{});
        EXPECT_EQ(read.values, expected);
    }

    Read eight = ReadFile(Narrow("REGEDIT4\n[HKLM\\A]\n\"M\"=hex(7):61,e9,00,62,00,00\n\"S\"=hex(1):80,00\n"));
    EXPECT_EQ(eight.problems, std::vector<std::string>{});
    EXPECT_EQ(eight.values,
              (std::vector<RegistryValue>{Multi(u"A", u"M", {u"a\u00e9", u"b"}), Text(u"A", u"S", u"\u20ac")}));

    const struct {
        Bytes bytes;
        std::string problem;
    } refused[] = {
        {Narrow("REGEDIT\r\n[HKLM\\A]\r\n"),
         "Notes.reg:1: not a registry editor file: its first line must be \"Windows "
         "Registry Editor Version 5.00\" or \"REGEDIT4\": REGEDIT"},
        {Narrow(""), "Notes.reg:1: not a registry editor file: its first line must be \"Windows Registry Editor "
                     "Version 5.00\" or \"REGEDIT4\": "},
        {Narrow("[Version]\r\nSignature=\"$Windows NT$\"\r\n"),
         "Notes.reg:1: not a registry editor file: its first line must be \"Windows Registry Editor Version 5.00\" or "
         "\"REGEDIT4\": [Version]"},
        {[] {
             Bytes b = Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\A]");
             b.pop_back();
             return b;
         }(),
         "Notes.reg:3: the UTF-16 text ends in the middle of a character"},
        {Narrow("Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"A\"=\"Caf\xE9\"\n"),
         "Notes.reg:3: not UTF-8 text, which a file without a UTF-16 byte order mark must be"},
    };
    for (const auto& r : refused) {
        Read read = ReadFile(r.bytes);
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.problems, std::vector<std::string>{r.problem});
    }
}

// What a cabinet's manifest cannot hold is refused at its line, and what the reader keeps stays
// bounded however a file repeats itself.
TEST(RegFile, LimitsOfACabinetsManifest) {
    const auto fits = [](std::size_t nameLength) {
        return ReadBody(std::u16string(kKey) + u"\"" + std::u16string(nameLength, u'n') + u"\"=\"\"\r\n");
    };
    EXPECT_TRUE(fits(65533).ok); // the name, the empty text and a zero after each: 65,535 bytes
    EXPECT_EQ(fits(65534).problems,
              std::vector<std::string>{"Notes.reg:4: the value's name and data come to 65536 bytes, more than a "
                                       "cabinet's manifest holds for one value (65535)"});

    std::u16string wrapped = std::u16string(kKey) + u"\"Big\"=hex:\\\r\n";
    for (int line = 0; line < 5462; ++line) { // 24 bytes a line: 131,088 in all
        wrapped += u"  00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n";
    }
    wrapped += u"  ff\r\n";
    EXPECT_EQ(ReadBody(wrapped).problems,
              std::vector<std::string>{"Notes.reg:4: the value's data is far longer than a cabinet's manifest "
                                       "holds for one value (65535 bytes)"});

    std::u16string key = u"[HKLM\\" + std::u16string(60000, u'k') + u"]\r\n";
    EXPECT_TRUE(ReadBody(u"[HKLM\\" + std::u16string(65531, u'k') + u"]\r\n@=\"\"").ok);
    EXPECT_EQ(ReadBody(u"[HKLM\\" + std::u16string(65532, u'k') + u"]").problems,
              std::vector<std::string>{"Notes.reg:3: a name in the key is longer than a cabinet's manifest holds "
                                       "(65535 bytes with its end)"});
    std::u16string names = u"[HKLM";
    for (int name = 0; name < 32766; ++name) {
        names += u"\\k";
    }
    EXPECT_TRUE(ReadBody(names + u"]\r\n@=\"\"").ok);
    EXPECT_EQ(ReadBody(names + u"\\k]").problems,
              std::vector<std::string>{"Notes.reg:3: the key has more names than a cabinet's manifest holds (32767)"});
    std::u16string many = key;
    for (int value = 0; value < 1000; ++value) {
        many += u"\"a\"=\"b\"\r\n";
    }
    // Each value counts 60,004 bytes with its key: the 35th passes 2 MiB.
    EXPECT_EQ(ReadBody(many).problems,
              std::vector<std::string>{"Notes.reg:38: the registry values up to here come to more than a cabinet's "
                                       "manifest holds (2097152 bytes)"});

    std::u16string stray;
    for (int line = 0; line < 150; ++line) {
        stray += u"x\r\n";
    }
    Read noise = ReadBody(stray);
    ASSERT_EQ(noise.problems.size(), 101u);
    EXPECT_EQ(noise.problems[99], "Notes.reg:102: neither a [key], a value (\"name\"= or @=) nor a comment: x");
    EXPECT_EQ(noise.problems[100], "Notes.reg: 50 more problems are not told");
}

// The longest name, key name and key the reader takes make a manifest; one more character or name,
// which the reader refuses, the cabinet's manifest cannot hold either.
TEST(RegFile, TheLimitsAreTheManifests) {
    std::u16string names = u"[HKLM";
    for (int name = 0; name < 32766; ++name) {
        names += u"\\k";
    }
    const std::u16string longest[] = {
        std::u16string(kKey) + u"\"" + std::u16string(65533, u'n') + u"\"=\"\"",
        std::u16string(kKey) + u"\"" + std::u16string(65531, u'n') + u"\"=hex(7):78,00,00,00,00,00",
        u"[HKLM\\" + std::u16string(65531, u'k') + u"]\r\n@=\"\"",
        names + u"]\r\n@=\"\"",
    };
    for (const std::u16string& body : longest) {
        Read read = ReadBody(body);
        ASSERT_EQ(read.problems, std::vector<std::string>{});
        ASSERT_EQ(read.values.size(), 1u);
        device::CabinetDesign design;
        design.appName = u"Notes";
        design.installDir = u"%CE1%\\Notes";
        design.registry = read.values;
        std::string manifest;
        Error error;
        EXPECT_TRUE(device::MakeManifest(design, manifest, error)) << error.message;
        RegistryValue& past = design.registry[0];
        if (past.key.size() > 65000 && past.key.find(u'\\') != std::u16string::npos) {
            past.key += u"\\k";
        } else if (past.key.size() > 65000) {
            past.key += u'k';
        } else {
            past.name += u'n';
        }
        EXPECT_FALSE(device::MakeManifest(design, manifest, error));
    }
}

} // namespace
