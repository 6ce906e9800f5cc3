// The OS layer: text conversions and the file share modes the package core relies on.
#include "device/cabinet_file.h"
#include "package/package.h"
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
