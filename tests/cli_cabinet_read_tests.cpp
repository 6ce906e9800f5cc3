// info and verify given the device cabinets tarvelo-build cab made: the manifest shown, good
// cabinets accepted with or without their sources, and each kind of fault named.
#include "platform/text.h"
#include "tests/cli_support.h"

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace testing_support;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Where the file table entry of the cabinet's file whose name contains `part` starts.
std::size_t EntryOf(const Bytes& b, const std::string& part) {
    std::size_t at = U32(b, 16);
    for (unsigned i = 0; i < U16(b, 28); ++i) {
        std::size_t end = at + 16;
        while (b[end] != 0) {
            ++end;
        }
        if (std::string(b.begin() + at + 16, b.begin() + end).find(part) != std::string::npos) {
            return at;
        }
        at = end + 1;
    }
    ADD_FAILURE() << "no file named *" << part << "*";
    return 0;
}
// The name's end, after its entry's 16 bytes.
std::size_t NameEnd(const Bytes& b, std::size_t entry) {
    std::size_t end = entry + 16;
    while (b[end] != 0) {
        ++end;
    }
    return end;
}

// The cabinet of one folder made by cab, framed again with `folders` in place of its one: each
// (where its first block lies in the data, how many blocks it claims).
Bytes WithFolders(const Bytes& b, const std::vector<std::pair<std::uint32_t, std::uint16_t>>& folders) {
    const std::size_t data = U32(b, 36), table = U32(b, 16);
    const std::uint32_t moved = static_cast<std::uint32_t>(8 * (folders.size() - 1));
    Bytes out(b.begin(), b.begin() + 36);
    Put32(out, 8, static_cast<std::uint32_t>(b.size()) + moved);
    Put32(out, 16, static_cast<std::uint32_t>(table) + moved);
    Put16(out, 26, static_cast<std::uint32_t>(folders.size()));
    for (const auto& [offset, blocks] : folders) {
        std::size_t at = out.size();
        out.resize(at + 8);
        Put32(out, at, static_cast<std::uint32_t>(data) + moved + offset);
        Put16(out, at + 4, blocks);
        Put16(out, at + 6, U16(b, 42));
    }
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(table), b.end());
    return out;
}

class CabinetReadBackTest : public CliTest {
protected:
    // The cabinet cab makes of `workspaceFile` for one family, alone in its own folder.
    std::u16string Cabinet(const std::u16string& family, bool compress = false,
                           const std::u16string& workspaceFile = u"") {
        std::u16string folder = dir.File(u"cab-" + family + (compress ? u"-z" : u"") + u"-" +
                                         std::u16string(1, static_cast<char16_t>(u'a' + made++)));
        std::vector<std::u16string> arguments{
            u"cab", workspaceFile.empty() ? workspacePath : workspaceFile, u"-d", folder, u"--cpu", family, u"-q"};
        if (compress) {
            arguments.push_back(u"--compress");
        }
        ToolResult r = Run(arguments);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(folder))) {
            return item.path().u16string();
        }
        return u"";
    }
    ToolResult Verify(const std::u16string& cab, std::vector<std::u16string> more = {}) {
        std::vector<std::u16string> arguments{u"verify", cab, u"--src", Source(u""), u"--workspace", workspacePath};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Run(arguments);
    }
    int made = 0;
};

TEST_F(CabinetReadBackTest, InfoShowsTheManifest) {
    ToolResult r = Run({u"info", Cabinet(u"arm")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"Application:    Notes \"Pro\"\n", "Processor:      2577 (ARM)\n",
                             "Compression:    none\n", "Files:          3\n", "  Program Files\\Notes\\sub\n",
                             "      2  0x40000000       9000  Program Files\\Notes\\data.bin\n",
                             "  Windows\\Start Menu\\Programs\\Notes.lnk -> Program Files\\Notes\\app.exe\n"}) {
        EXPECT_TRUE(Contains(r.out, line)) << line << "\n" << r.out;
    }
    EXPECT_FALSE(Contains(r.out, "eula.txt")); // the licence is flagged for no family

    // A cabinet from elsewhere may carry a terminal's escape in its names: shown escaped.
    std::u16string cab = Cabinet(u"arm");
    Bytes bytes = ReadBytes(cab);
    const std::string name = "Notes \"Pro\"";
    auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, bytes.end());
    at[5] = 0x1B;
    Put32(bytes, U32(bytes, 36), 0); // no checksum for the changed block
    std::u16string escaped = dir.File(u"escaped.CAB");
    WriteBytes(escaped, bytes);
    r = Run({u"info", escaped});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Application:    Notes\\x1B\"Pro\"\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "\x1B")) << r.out;

    r = Run({u"info", Cabinet(u"shx", true), u"--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"\"kind\": \"cabinet\"", "\"appName\": \"Notes \\\"Pro\\\"\"",
                             "\"processorType\": 0, "
                             "\"processorFamily\": \"\"",
                             "\"compression\": \"mszip\"",
                             "{\"number\": 1, \"path\": \"Program Files\\\\Notes\\\\app.exe\", \"size\": 5000",
                             "\"target\": \"Program Files\\\\Notes\\\\app.exe\", \"toFile\": true"}) {
        EXPECT_TRUE(Contains(r.out, part)) << part << "\n" << r.out;
    }
}

TEST_F(CabinetReadBackTest, VerifyAcceptsGoodCabinetsAndTellsTheirFamily) {
    std::u16string dat = dir.File(u"out.DAT");
    ASSERT_EQ(Run({u"dat", workspacePath, u"-o", dat}).status, 0);
    struct Case {
        std::u16string family;
        bool compress;
        std::u16string made; // what the cabinet was made from, for --workspace
    };
    for (const Case& c : {Case{u"arm", false, workspacePath}, Case{u"mips", true, workspacePath},
                          Case{u"shx", false, dat}, Case{u"intel", true, dat}}) {
        SCOPED_TRACE(platform::ToUtf8(c.family));
        std::u16string cab = Cabinet(c.family, c.compress, c.made);
        ToolResult r = Run({u"verify", cab});
        EXPECT_EQ(r.status, 0) << r.err;
        r = Run({u"verify", cab, u"--src", Source(u""), u"--workspace", c.made});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string family = platform::ToUtf8(c.family);
        for (char& ch : family) {
            ch = static_cast<char>(ch - 32);
        }
        EXPECT_TRUE(Contains(r.out, ", " + family + ", files and shortcuts match")) << r.out;
    }

    // SHX and INTEL both declare any processor: without the family in the name, --cpu must say.
    std::u16string renamed = dir.File(u"notes.cab");
    WriteBytes(renamed, ReadBytes(Cabinet(u"intel")));
    ToolResult r = Verify(renamed);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "name it with --cpu")) << r.err;
    EXPECT_EQ(Verify(renamed, {u"--cpu", u"intel"}).status, 0);
    // The wrong family's plan differs: data.bin is for ARM only, and ARM declares its processor.
    r = Verify(renamed, {u"--cpu", u"arm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "it declares processor 0; a cabinet for ARM declares 2577")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Program Files\\Notes\\data.bin is missing")) << r.err;
    EXPECT_EQ(Run({u"verify", renamed, u"--src", Source(u"")}).status, 2);
}

// A member of nearly 2 GiB, as large as a cabinet holds: info and verify read it in pieces, in the
// 32-bit build too, and verify compares it with its source. The cabinet is cab's own of a small
// member of zeros with its last block repeated: from the third block on, 32 KiB of zeros after
// 32 KiB of zeros packs to the same bytes every time.
TEST_F(CabinetReadBackTest, AMemberOfNearly2GiBVerifiesAgainstItsSource) {
    const std::u16string folder = dir.File(u"big"), member = folder + u"/zeros.bin";
    std::filesystem::create_directories(std::filesystem::path(folder));
    auto cabinetOf = [&](std::size_t size) {
        WriteBytes(member, Bytes(size));
        EXPECT_EQ(Run({u"gather", folder, u"-o", dir.File(u"big.orb")}).status, 0);
        return Cabinet(u"arm", true, dir.File(u"big.orb"));
    };
    const std::uint32_t manifest = U32(ReadBytes(cabinetOf(1)), U32(ReadBytes(cabinetOf(1)), 16));
    const std::u16string cab = cabinetOf(4 * 32768 - manifest);
    Bytes b = ReadBytes(cab);
    std::size_t last = U32(b, 36);
    for (int block = 0; block < 3; ++block) {
        last += 8 + U16(b, last + 4);
    }
    ASSERT_EQ(U16(b, 40), 4);
    ASSERT_EQ(last + 8 + U16(b, last + 4), b.size());
    const Bytes repeated(b.begin() + static_cast<std::ptrdiff_t>(last), b.end());
    const std::uint32_t blocks = 0xFFFF, size = blocks * 32768 - manifest;
    for (std::uint32_t i = 4; i < blocks; ++i) {
        b.insert(b.end(), repeated.begin(), repeated.end());
    }
    Put16(b, 40, blocks);
    Put32(b, EntryOf(b, "zeros"), size);
    Put32(b, 8, static_cast<std::uint32_t>(b.size()));
    WriteBytes(cab, b);
    MakeSparseFile(member, size);
    ASSERT_EQ(Run({u"gather", folder, u"-o", dir.File(u"big.orb")}).status, 0);

    ToolResult r = Run({u"verify", cab, u"--src", folder, u"--workspace", dir.File(u"big.orb")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "files and shortcuts match the workspace and its sources")) << r.out;
    r = Run({u"info", cab});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, " " + std::to_string(size) + "  My Documents\\zeros.bin\n")) << r.out;
}

TEST_F(CabinetReadBackTest, VerifyNamesEachFault) {
    struct Fault {
        const char* what;
        std::function<std::u16string()> make; // the cabinet to verify
        std::string expected;
        bool malformed; // refused by the reader, so info refuses it too
    };
    auto changed = [this](std::u16string cab, const std::function<void(Bytes&)>& change) {
        Bytes bytes = ReadBytes(cab);
        change(bytes);
        std::u16string out = cab + u".changed.CAB";
        WriteBytes(out, bytes);
        return out;
    };
    const Fault faults[] = {
        {"a cabinet of another workspace",
         [&] {
             Package other;
             EXPECT_TRUE(other.Open(workspacePath.c_str(), 0));
             other.SetProgramName(u"Memo");
             other.SetInstallFolder(u"Memo");
             std::u16string otherPath = dir.File(u"other.orb");
             SaveWorkspace(other, otherPath);
             return Cabinet(u"arm", true, otherPath);
         },
         "its application name is \"Memo\", the workspace's is \"Notes \"Pro\"\"", false},
        {"a truncated cabinet", [&] { return changed(Cabinet(u"arm"), [](Bytes& b) { b.resize(b.size() - 100); }); },
         "is not a device cabinet we can read: its header gives a length of", true},
        {"a manifest whose strings lie outside it",
         [&] {
             return changed(Cabinet(u"arm"), [](Bytes& b) {
                 std::size_t block = U32(b, 36);
                 Put32(b, block, 0); // no checksum, so that the manifest is read as changed
                 Put32(b, block + 8 + 60, 0x7FFFFFF0);
             });
         },
         "its manifest's string 0 is not a terminated text within it", true},
        {"two files the device takes for one",
         [&] {
             return changed(Cabinet(u"arm"), [](Bytes& b) {
                 const std::string from = "data.bin", to = "APP.EXE.";
                 auto at = std::search(b.begin(), b.end(), from.begin(), from.end());
                 ASSERT_NE(at, b.end());
                 std::copy(to.begin(), to.end(), at);
                 Put32(b, U32(b, 36), 0);
             });
         },
         "two files would be one on the device: Program Files\\Notes\\APP.EXE. and Program Files\\Notes\\app.exe",
         false},
        {"a file table outside the cabinet",
         [&] { return changed(Cabinet(u"arm"), [](Bytes& b) { Put32(b, 16, static_cast<std::uint32_t>(b.size())); }); },
         "its file table ends early", true},
        // These last change the sources.
        {"a flipped data byte",
         [&] {
             // Three blocks, so that the manifest in the first still reads and the files are checked.
             WriteBytes(Source(u"data.bin"), Pattern(70000, 3));
             return changed(Cabinet(u"arm"), [](Bytes& b) { b.back() ^= 0x10; });
         },
         "Program Files\\Notes\\app.exe: file 00000app.001: data block 2 is damaged (its checksum does not match)",
         false},
        {"a changed source file",
         [&] {
             std::u16string cab = Cabinet(u"arm", true);
             Bytes data = ReadBytes(Source(u"data.bin"));
             data[8000] ^= 1;
             WriteBytes(Source(u"data.bin"), data);
             return cab;
         },
         "Program Files\\Notes\\data.bin: differs from its source", false},
        // Shapes that would make a reader set aside or unpack far more than the cabinet holds.
        {"a member that claims 2 GiB",
         [&] {
             return changed(Cabinet(u"arm", true), [](Bytes& b) { Put32(b, EntryOf(b, "data"), 0x7FFFFFFF); });
         },
         "file 0000data.002 claims 2147483647 bytes at ", true},
        {"a manifest larger than any a device reads",
         [&] {
             WriteBytes(Source(u"data.bin"), Bytes(5 << 20));
             return changed(Cabinet(u"arm", true), [](Bytes& b) {
                 // The 5 MiB of zeros become file 000, and the manifest file 003.
                 std::size_t data = NameEnd(b, EntryOf(b, "data")), manifest = NameEnd(b, EntryOf(b, ".000"));
                 std::swap_ranges(b.begin() + data - 3, b.begin() + data, b.begin() + manifest - 3);
             });
         },
         "its manifest (file 0000data.000) claims 5242880 bytes; a device cabinet's takes at most 2097152", true},
        {"2,000 folders naming one chain of blocks",
         [&] {
             Bytes b = ReadBytes(Cabinet(u"arm", true));
             std::u16string out = dir.File(u"shared.CAB");
             WriteBytes(out, WithFolders(b, std::vector<std::pair<std::uint32_t, std::uint16_t>>(
                                                2000, {0, U16(b, 40)})));
             return out;
         },
         "folder 0's data overlaps folder 1's", true},
        {"a folder beginning inside another's data",
         [&] {
             WriteBytes(Source(u"data.bin"), Pattern(70000, 3));
             Bytes b = ReadBytes(Cabinet(u"arm"));
             const std::uint32_t second = 8 + U16(b, U32(b, 36) + 4);
             std::u16string out = dir.File(u"overlapping.CAB");
             WriteBytes(out, WithFolders(b, {{0, U16(b, 40)}, {second, static_cast<std::uint16_t>(U16(b, 40) - 1)}}));
             return out;
         },
         "folder 0's data overlaps folder 1's", true},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        std::u16string cab = fault.make();
        ToolResult r = Verify(cab);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.err, fault.expected)) << r.err;
        EXPECT_EQ(r.out, "");
        if (fault.malformed) {
            r = Run({u"info", cab});
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(Contains(r.err, fault.expected)) << r.err;
        }
    }
}

} // namespace
