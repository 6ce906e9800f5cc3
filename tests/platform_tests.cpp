// The OS layer: text conversions and the file share modes the package core relies on.
#include "package/package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

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

#ifdef _WIN32
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
