// The OS layer: text conversions and the file share modes the package core relies on.
#include "device/cabinet_file.h"
#include "package/package.h"
#include "platform/code_page.h"
#include "platform/code_page_table.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/names.h"
#include "platform/replacement.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#ifdef _WIN32
#include <windows.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testing_support;

namespace {

TEST(WindowsNames, DevicesAndKeysAsWindowsOpensThem) {
    for (std::u16string_view device : {u"CON", u"nul", u"Aux.txt", u"COM5 ", u"con .txt", u"aux.", u"LPT9.log", u"com0",
                                       u"COM\u00B9", u"conin$", u"CONOUT$.x", u"NUL . ."}) {
        EXPECT_TRUE(platform::NamesDevice(device)) << platform::ToUtf8(device);
    }
    for (std::u16string_view name : {u"CONS", u"COM10", u"xnul", u"LPT", u"com", u".nul", u"a.con", u"COM\u2074"}) {
        EXPECT_FALSE(platform::NamesDevice(name)) << platform::ToUtf8(name);
    }
    // An output named after the program never opens a device: the mark goes before the first dot.
    const std::pair<std::u16string_view, std::u16string_view> outputs[] = {
        {u"NUL.x", u"NUL_.x.ARM.CAB"},
        {u"CON.Tools", u"CON_.Tools.ARM.CAB"},
        {u"aux . Player", u"aux_ . Player.ARM.CAB"},
        {u"COM\u00B9.a.b", u"COM\u00B9_.a.b.ARM.CAB"},
        {u"Lpt9", u"Lpt9_.ARM.CAB"},
        {u"prn...", u"prn_.ARM.CAB"},
        {u"a:b?", u"a_b_.ARM.CAB"},
        {u"Notes.NUL", u"Notes.NUL.ARM.CAB"},
    };
    for (auto [name, file] : outputs) {
        std::u16string made = device::FamilyOutputName(name, device::kCpuChoices[0], u".CAB");
        EXPECT_EQ(made, file) << platform::ToUtf8(name);
        EXPECT_FALSE(platform::NamesDevice(made)) << platform::ToUtf8(made);
    }
    EXPECT_EQ(platform::NameKey(u"a\\Sub. \\File.TXT. "), u"A\\SUB\\FILE.TXT");
    EXPECT_EQ(platform::NameKey(u"\u00e9t\u00e9/x"), platform::NameKey(u"\u00c9T\u00c9\\X"));
    EXPECT_NE(platform::NameKey(u"a b"), platform::NameKey(u"ab"));
    // Case beyond Latin, Greek and Cyrillic: Vietnamese, full-width, Roman numerals, Armenian, circled.
    for (auto [small, capital] : std::vector<std::pair<std::u16string, std::u16string>>{{u"\u1EA1", u"\u1EA0"},
                                                                                        {u"\uFF41", u"\uFF21"},
                                                                                        {u"\u2170", u"\u2160"},
                                                                                        {u"\u0561", u"\u0531"},
                                                                                        {u"\u24D0", u"\u24B6"},
                                                                                        {u"\u01CE", u"\u01CD"},
                                                                                        {u"\u03AC", u"\u0386"}}) {
        EXPECT_EQ(platform::NameKey(small), platform::NameKey(capital)) << platform::ToUtf8(small);
    }
}

// Files are written beside their targets under fresh names as long as the target's, and moved
// over them only when complete; nothing but a missing name or a regular file is ever replaced.
TEST(Replacement, WritesBesideTheTargetAndMovesIntoPlace) {
    namespace fs = std::filesystem;
    TempDir dir;
    std::u16string target = dir.File(u"work.orb");
    for (unsigned attempt = 0; attempt < 200; ++attempt) {
        std::u16string name = platform::TemporaryName(target, attempt);
        EXPECT_EQ(name.size(), target.size()) << attempt;
        EXPECT_NE(name, target);
        EXPECT_EQ(name.substr(0, dir.File(u"").size()), dir.File(u""));
    }
    EXPECT_NE(platform::TemporaryName(dir.File(u"x~"), 0), dir.File(u"x~"));
    // A name ending in a character outside the Basic Multilingual Plane keeps it whole or not at all.
    std::u16string smile = dir.File(u"out\U0001F600");
    for (unsigned attempt = 0; attempt < 40; ++attempt) {
        std::string utf8;
        EXPECT_TRUE(platform::Utf16ToUtf8(platform::TemporaryName(smile, attempt), utf8)) << attempt;
    }

    WriteBytes(target, Pattern(10));
    WriteBytes(platform::TemporaryName(target, 0), Pattern(4)); // a user's file with the first name
#ifndef _WIN32
    fs::permissions(fs::path(target), fs::perms::owner_read | fs::perms::owner_write);
#endif
    {
        platform::Replacement discarded(target);
        ASSERT_TRUE(discarded.Open());
        std::uint32_t written = 0;
        ASSERT_TRUE(discarded.Out().Write("new", 3, written));
    }
    EXPECT_EQ(ReadBytes(target), Pattern(10));
    platform::Replacement replacement(target);
    ASSERT_TRUE(replacement.Open());
    std::uint32_t written = 0;
    ASSERT_TRUE(replacement.Out().Write("new", 3, written));
    ASSERT_TRUE(replacement.Commit());
    EXPECT_EQ(ReadBytes(target), Bytes({'n', 'e', 'w'}));
    EXPECT_EQ(ReadBytes(platform::TemporaryName(target, 0)), Pattern(4));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
#ifndef _WIN32
    EXPECT_EQ(fs::status(fs::path(target)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif

    std::vector<std::u16string> refused{U16(dir.Path())};
#ifdef _WIN32
    refused.push_back(u"NUL");
    refused.push_back(u"CON:");
    refused.push_back(dir.File(u"com1.txt"));
#else
    refused.push_back(u"/dev/null");
    ASSERT_EQ(mkfifo(fs::path(dir.File(u"pipe")).c_str(), 0600), 0);
    refused.push_back(dir.File(u"pipe"));
    ASSERT_TRUE(PlantLink(fs::path(target), fs::path(dir.File(u"link")), LinkKind::ToFile));
    refused.push_back(dir.File(u"link"));
#endif
    for (const std::u16string& path : refused) {
        platform::Replacement r(path);
        EXPECT_FALSE(r.Open()) << platform::ToUtf8(path);
        EXPECT_EQ(r.Problem(), platform::ReplaceProblem::TargetNotRegular) << platform::ToUtf8(path);
    }
}

// A folder opened below another stays the folder that was examined: swapped for a link while a
// file is written in it, the file still lands in it (POSIX), or the swap is refused while the
// folder is held (Windows).
TEST(FolderHandle, AFolderSwappedForALinkAfterItWasOpenedIsNotFollowed) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_directories(dir.Path() / "elsewhere");
    platform::FolderHandle root = platform::FolderHandle::Open(U16(dir.Path()));
    platform::PathKind found = platform::PathKind::Other;
    platform::FolderHandle made = root.Child(u"a", true, found);
    ASSERT_TRUE(made.IsOpen());
    EXPECT_EQ(found, platform::PathKind::Folder);

    std::error_code ec;
    fs::rename(dir.Path() / "a", dir.Path() / "moved", ec);
    bool swapped = !ec && PlantLink(dir.Path() / "elsewhere", dir.Path() / "a", LinkKind::ToFolder);
    platform::Replacement file(made, u"f.txt");
    ASSERT_TRUE(file.Open());
    std::uint32_t written = 0;
    ASSERT_TRUE(file.Out().Write("data", 4, written));
    EXPECT_TRUE(file.Commit());
    EXPECT_TRUE(fs::is_empty(dir.Path() / "elsewhere"));
    EXPECT_EQ(ReadBytes(U16(dir.Path() / (swapped ? "moved" : "a") / "f.txt")), Bytes({'d', 'a', 't', 'a'}));

    // Opened anew, the link is found and not followed.
    platform::FolderHandle again = root.Child(u"a", true, found);
    EXPECT_EQ(again.IsOpen(), !swapped);
    EXPECT_EQ(found, swapped ? platform::PathKind::Link : platform::PathKind::Folder);
}

TEST(TextConversion, RoundTripsEveryPlaneAndRefusesBrokenInput) {
    std::u16string text = u"a\u00e9\u20ac\U0001F600z";
    std::string utf8;
    ASSERT_TRUE(platform::Utf16ToUtf8(text, utf8));
    EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    std::u16string back;
    ASSERT_TRUE(platform::Utf8ToUtf16(utf8, back));
    EXPECT_EQ(back, text);

    std::u16string lone = u"x";
    lone += static_cast<char16_t>(0xD800);
    EXPECT_FALSE(platform::Utf16ToUtf8(lone, utf8));
    EXPECT_FALSE(platform::Utf8ToUtf16("\xC3", back));         // cut short
    EXPECT_FALSE(platform::Utf8ToUtf16("\xC0\xAF", back));     // overlong '/'
    EXPECT_FALSE(platform::Utf8ToUtf16("\xED\xA0\x80", back)); // encoded surrogate
    EXPECT_EQ(platform::ToUtf16("\xFF"), u"\uFFFD");

    // Printable keeps text and shows what is not text, or would act on a terminal, byte by byte.
    EXPECT_EQ(platform::Printable("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(platform::Printable("a\\b \xFFz"), "a\\b \\xFFz");
    EXPECT_EQ(platform::Printable("\xC0\xAF\xE2\x82"), "\\xC0\\xAF\\xE2\\x82"); // overlong, cut short
    EXPECT_EQ(platform::Printable("1\n2\x1B[31m\x7F"), "1\\x0A2\\x1B[31m\\x7F");
    EXPECT_EQ(platform::Printable("\xC2\x9B[0m"), "\\xC2\\x9B[0m"); // the one-unit CSI
}

// A device's code page: names in each script with their bytes, and per code page one character
// it cannot hold (a best fit on Windows, or no form at all) that must be refused, not turned
// into another character or into '?'.
TEST(CodePages, NamesInEachScriptAndACharacterEachCannotHold) {
    struct Case {
        unsigned codePage;
        std::u16string text;
        std::string bytes;
        std::u16string refused;
    };
    const Case cases[] = {
        {932, u"日本語のソフト ｱ", "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x5C\x83\x74\x83\x67 \xB1", u"한"},
        {936, u"简体中文", "\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4", u"한"},
        {949, u"한국어 프로그램", "\xC7\xD1\xB1\xB9\xBE\xEE \xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5", u"ไ"},
        {950, u"繁體中文", "\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5", u"한"},
        {1253, u"Ελληνικά", "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC", u"Ä"},
        {874, u"ภาษาไทย", "\xC0\xD2\xC9\xD2\xE4\xB7\xC2", u"é"},
        {1252, u"Café €", "Caf\xE9 \x80", u"Ł"},
        {1251, u"Программа", "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0", u"é"},
        {1250, u"Łódź", "\xA3\xF3\x64\x9F", u"Ё"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        ASSERT_TRUE(platform::KnownCodePage(c.codePage));
        std::string bytes;
        ASSERT_TRUE(platform::ToCodePage(c.codePage, c.text, bytes));
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_EQ(platform::FromCodePage(c.codePage, bytes), c.text);
        EXPECT_FALSE(platform::ToCodePage(c.codePage, u"a" + c.refused + u"b", bytes));
        EXPECT_EQ(bytes, "");
        // No code page here holds a character beyond the first plane, a lone surrogate, or a
        // PC's own end-user-defined characters, which Windows keeps in the private use area.
        EXPECT_FALSE(platform::ToCodePage(c.codePage, u"\U0001F600", bytes));
        EXPECT_FALSE(platform::ToCodePage(c.codePage, std::u16string(1, char16_t{0xD800}), bytes));
        EXPECT_FALSE(platform::ToCodePage(c.codePage, u"\uE000", bytes));
    }
    std::string bytes = "x";
    EXPECT_TRUE(platform::ToCodePage(932, u"", bytes));
    EXPECT_EQ(bytes, "");
    // A cabinet's text is in the device's code page, without a NUL, which would end it there.
    const std::u16string withNul(u"a\0b", 3);
    EXPECT_TRUE(platform::ToCodePage(932, withNul, bytes));
    EXPECT_FALSE(device::ToCabinetText(withNul, bytes, 932));
    ASSERT_TRUE(device::ToCabinetText(u"日本", bytes, 932));
    EXPECT_EQ(bytes, "\x93\xFA\x96\x7B");
    EXPECT_EQ(device::FromCabinetText(bytes, 932), u"日本");
    EXPECT_EQ(platform::KnownCodePages().size(), 14u);
    for (unsigned codePage : platform::KnownCodePages()) {
        EXPECT_TRUE(platform::ToCodePage(codePage, u"Setup.exe", bytes) && bytes == "Setup.exe") << codePage;
    }
    EXPECT_FALSE(platform::KnownCodePage(65001));
    EXPECT_FALSE(platform::ToCodePage(437, u"a", bytes));
    EXPECT_EQ(platform::FromCodePage(437, "a\x80"), u"a\uFFFD");
}

// Bytes the code page gives no character read as U+FFFD, each costing only itself: a lead byte
// without its pair leaves the byte after it (here a '"' or a '\\' of an INF line) to be read.
TEST(CodePages, BytesWithoutACharacter) {
    EXPECT_EQ(platform::FromCodePage(932, "\x83\x5C\x83"), u"ソ\uFFFD");               // the pair cut short
    EXPECT_EQ(platform::FromCodePage(932, "\x81\x22x\x85\x5C"), u"\uFFFD\"x\uFFFD\\"); // no such pairs
    EXPECT_EQ(platform::FromCodePage(932, "\xA0\xFD"), u"\uFFFD\uFFFD");               // private use on Windows
    EXPECT_EQ(platform::FromCodePage(1253, "\xAA\xC1"), u"\uFFFDΑ");                   // undefined in Greek
    EXPECT_EQ(platform::FromCodePage(1252, "\x81"), u"\u0081");                        // Windows' own control
    // Two codes for one character (NEC's and IBM's copies of the same kanji): both read, the one
    // Windows writes written.
    EXPECT_EQ(platform::FromCodePage(932, "\xED\x40\xFA\x5C"), u"纊纊");
    std::string bytes;
    ASSERT_TRUE(platform::ToCodePage(932, u"纊", bytes));
    EXPECT_EQ(bytes, "\xFA\x5C");
}

#ifdef _WIN32
// Windows' conversions and our tables, which other hosts use, agree on every UTF-16 unit and on
// every byte and pair of every known code page: the evidence that a cabinet's bytes do not depend
// on the host that wrote it.
TEST(CodePages, WindowsAndTheTablesAgreeOnEveryUnitAndEveryPair) {
    for (unsigned codePage : platform::KnownCodePages()) {
        SCOPED_TRACE(codePage);
        ASSERT_TRUE(IsValidCodePage(codePage)); // else both sides would be the tables
        int held = 0;
        int differ = 0;
        for (unsigned u = 0; u < 0x10000; ++u) {
            std::u16string one(1, static_cast<char16_t>(u));
            std::string windows;
            std::string tables;
            bool ok = platform::ToCodePage(codePage, one, windows);
            if (ok != platform::code_page_table::Encode(codePage, one, tables) || windows != tables) {
                if (++differ <= 5) {
                    ADD_FAILURE() << "U+" << std::hex << u << ": " << ok << " " << platform::Printable(windows)
                                  << " and " << platform::Printable(tables);
                }
            }
            held += ok ? 1 : 0;
        }
        int read = 0;
        for (unsigned lead = 0; lead < 256; ++lead) {
            for (unsigned trail = 0; trail < 257; ++trail) { // 256: the byte alone
                std::string in(1, static_cast<char>(lead));
                if (trail < 256) {
                    in += static_cast<char>(trail);
                }
                std::u16string windows = platform::FromCodePage(codePage, in);
                if (windows != platform::code_page_table::Decode(codePage, in)) {
                    if (++differ <= 10) {
                        ADD_FAILURE() << "read " << platform::Printable(in);
                    }
                }
                read += windows.size() == 1 && windows[0] != u'\uFFFD' ? 1 : 0;
            }
        }
        std::cout << "code page " << codePage << ": " << held << " characters written, " << read
                  << " byte sequences read, " << differ << " differences\n";
        EXPECT_EQ(differ, 0);
    }
}
#endif

TEST(PlatformFile, ForwardAndBackSlashesBothSeparateFolders) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path() / "sub");
    WriteBytes(dir.File(u"sub/f.bin"), Pattern(3));
    std::u16string mixed = StoredForm(U16(dir.Path())) + u"\\sub\\f.bin";
    EXPECT_EQ(Package::GetFileLength(mixed.c_str()), 3);
}

TEST(PlatformFile, ReadsAndWritesWhatWasAsked) {
    TempDir dir;
    std::u16string path = dir.File(u"f.bin");
    {
        platform::File out = platform::File::CreateNew(path);
        ASSERT_TRUE(out.IsOpen());
        std::uint32_t written = 0;
        Bytes data = Pattern(5000);
        ASSERT_TRUE(out.Write(data.data(), 5000, written));
        EXPECT_EQ(written, 5000u);
    }
    platform::File in = platform::File::OpenRead(path, platform::Share::None);
    ASSERT_TRUE(in.IsOpen());
    std::uint64_t size = 0;
    ASSERT_TRUE(in.Size(size));
    EXPECT_EQ(size, 5000u);
    Bytes buffer(8000);
    std::uint32_t got = 0, total = 0;
    while (in.Read(buffer.data() + total, 8000 - total, got) && got > 0) {
        total += got;
    }
    EXPECT_EQ(total, 5000u);
    buffer.resize(total);
    EXPECT_EQ(buffer, Pattern(5000));

    platform::File moved = std::move(in);
    EXPECT_FALSE(in.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_TRUE(platform::RemoveFile(path));
    EXPECT_FALSE(platform::RemoveFile(path));
}

// A file that ends early is no failing disk: the one has no system reason (not even one left by an
// earlier call), the other keeps the system's.
TEST(PlatformFile, AShortFileIsToldFromAReadThatFails) {
    TempDir dir;
    std::u16string path = dir.File(u"f.bin");
    WriteBytes(path, Pattern(100));
    platform::File in = platform::File::OpenRead(path, platform::Share::None);
    Bytes buffer(200);
    ASSERT_TRUE(platform::ReadExactly(in, buffer.data(), 60));
    EXPECT_FALSE(platform::File::OpenRead(dir.File(u"missing"), platform::Share::None).IsOpen());
    EXPECT_FALSE(platform::ReadExactly(in, buffer.data(), 60));
    EXPECT_EQ(platform::SystemReason(), "");

    platform::File writeOnly = platform::File::CreateNew(dir.File(u"w.bin"));
    EXPECT_FALSE(platform::ReadExactly(writeOnly, buffer.data(), 1));
    EXPECT_NE(platform::SystemReason(), "");
}

#ifdef _WIN32
// Wine turns a full disk into these; the person must read that the disk is full.
TEST(PlatformFile, AFullDiskReadsAsOne) {
    for (DWORD code : {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL}) {
        SetLastError(code);
        std::string reason = platform::SystemReason();
        std::transform(reason.begin(), reason.end(), reason.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        EXPECT_NE(reason.find("disk"), std::string::npos) << code << ": " << reason;
        EXPECT_NE(reason.find("full"), std::string::npos) << code << ": " << reason;
    }
}

TEST(PlatformFile, ShareModesAreThoseTheCoreAsksFor) {
    TempDir dir;
    std::u16string path = dir.File(u"held.bin");
    WriteBytes(path, Pattern(10));
    Bytes buffer(10);

    // While another reader allows reading, the length can still be taken...
    platform::File reader = platform::File::OpenRead(path, platform::Share::Read);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(Package::GetFileLength(path.c_str()), 10);
    // ...but a read that allows no sharing is refused.
    EXPECT_FALSE(Package::ReadWholeFile(path.c_str(), buffer.data(), 10));
    reader.Close();
    EXPECT_TRUE(Package::ReadWholeFile(path.c_str(), buffer.data(), 10));

    // A package being written cannot be opened by anyone else.
    std::u16string out = dir.File(u"out.DAT");
    platform::File writer = platform::File::CreateNew(out);
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_EQ(Package::GetFileLength(out.c_str()), -1);
}
#endif

} // namespace
