// Device cabinets from tarvelo-build cab, judged by readers that are not ours: cabextract on this
// host, Wine's cabinet.dll under Wine, and a decoder of the container and its manifest written here
// from the formats' public descriptions alone. Every host writes the same bytes, and the cabinet,
// the installer's folder install and extract --cpu put the same tree on the device.
#include "device/cabinet.h"
#include "device/device_options.h"
#include "device/layout.h"
#include "package/installer_write.h"
#include "package/pe_resources.h"
#include "package/package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "template/setup_flow.h"
#include "tests/cli_support.h"
#include "tests/template_support.h"

#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The Microsoft cabinet around the files.

std::uint16_t Le16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
std::uint32_t Le32(const Bytes& b, std::size_t at) { return Le16(b, at) | std::uint32_t{Le16(b, at + 2)} << 16; }
bool Holds(const Bytes& b, std::size_t at, std::size_t n) { return at <= b.size() && n <= b.size() - at; }

// A data block's checksum: its little-endian words XORed, a last partial word read with its first
// byte highest.
std::uint32_t Checksum(const std::uint8_t* p, std::size_t n, std::uint32_t sum) {
    for (; n >= 4; n -= 4, p += 4) {
        sum ^= p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
    }
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        last = last << 8 | p[i];
    }
    return sum ^ last;
}

// One MSZIP block: "CK", then a whole deflate stream that may refer back into the block before.
bool InflateBlock(const std::uint8_t* data, std::size_t size, const Bytes& history, Bytes& out) {
    if (size < 2 || data[0] != 'C' || data[1] != 'K') {
        return false;
    }
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        return false;
    }
    int status = history.empty() ? Z_OK : inflateSetDictionary(&z, history.data(), static_cast<uInt>(history.size()));
    z.next_in = const_cast<Bytef*>(data + 2);
    z.avail_in = static_cast<uInt>(size - 2);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (status == Z_OK) {
        status = inflate(&z, Z_FINISH);
    }
    bool whole = status == Z_STREAM_END && z.avail_in == 0 && z.avail_out == 0;
    inflateEnd(&z);
    return whole;
}

struct CabMember {
    std::string name;
    Bytes bytes;
    std::uint16_t date = 0, time = 0;
};

// The files of a single cabinet in its own order, every block's checksum checked and every byte
// of its folders owned by exactly one file, in order. Answers the first problem ("" for none).
std::string ReadContainer(const Bytes& cab, std::vector<CabMember>& members, std::uint16_t& compression) {
    if (!Holds(cab, 0, 36) || std::memcmp(cab.data(), "MSCF", 4) != 0) {
        return "no cabinet header";
    }
    const std::uint16_t folderCount = Le16(cab, 26), fileCount = Le16(cab, 28), flags = Le16(cab, 30);
    // A signing tool puts its signature after the cabinet and says where in the header's reserve,
    // the cabinet's length leaving it out.
    const bool signature = (flags & 4) && Holds(cab, 0, 60) && Le16(cab, 36) >= 20 && Le32(cab, 40) == 0x00100000 &&
                           Le32(cab, 44) == Le32(cab, 8) && std::size_t{Le32(cab, 44)} + Le32(cab, 48) == cab.size();
    if ((Le32(cab, 8) != cab.size() && !signature) || cab[24] != 3 || cab[25] != 1) {
        return "wrong length or version";
    }
    if (flags & 3) {
        return "part of a cabinet set";
    }
    std::size_t at = 36, folderReserve = 0, blockReserve = 0;
    if (flags & 4) {
        if (!Holds(cab, 0, 40)) {
            return "no reserve sizes";
        }
        folderReserve = cab[38];
        blockReserve = cab[39];
        at = 40 + Le16(cab, 36);
    }
    std::vector<Bytes> folders(folderCount);
    for (std::size_t f = 0; f < folderCount; ++f, at += 8 + folderReserve) {
        if (!Holds(cab, at, 8)) {
            return "folder table beyond the end";
        }
        std::size_t block = Le32(cab, at);
        const std::uint16_t blocks = Le16(cab, at + 4), type = Le16(cab, at + 6);
        compression = f == 0 ? type : compression;
        if (type > 1) {
            return "compression " + std::to_string(type);
        }
        Bytes history;
        for (std::size_t b = 0; b < blocks; ++b) {
            if (!Holds(cab, block, 8 + blockReserve) || !Holds(cab, block + 8 + blockReserve, Le16(cab, block + 4))) {
                return "data block beyond the end";
            }
            const std::uint16_t packed = Le16(cab, block + 4), plain = Le16(cab, block + 6);
            const std::uint8_t* data = cab.data() + block + 8 + blockReserve;
            const std::uint32_t sum = Le32(cab, block);
            if (sum != 0 && sum != Checksum(cab.data() + block + 4, 4, Checksum(data, packed, 0))) {
                return "checksum of block " + std::to_string(b);
            }
            if (plain == 0 || plain > 32768) {
                return "block " + std::to_string(b) + " unpacks to " + std::to_string(plain) + " bytes";
            }
            Bytes unpacked(plain);
            if (type == 0 ? packed != plain : !InflateBlock(data, packed, history, unpacked)) {
                return "block " + std::to_string(b) + " does not unpack to its size";
            }
            if (type == 0) {
                unpacked.assign(data, data + packed);
            }
            folders[f].insert(folders[f].end(), unpacked.begin(), unpacked.end());
            history = std::move(unpacked);
            block += 8 + blockReserve + packed;
        }
    }
    std::vector<std::size_t> next(folderCount);
    at = Le32(cab, 16);
    for (std::size_t i = 0; i < fileCount; ++i) {
        if (!Holds(cab, at, 17)) {
            return "file table beyond the end";
        }
        const std::uint32_t size = Le32(cab, at), offset = Le32(cab, at + 4);
        const std::uint16_t folder = Le16(cab, at + 8);
        auto end = std::find(cab.begin() + static_cast<std::ptrdiff_t>(at + 16), cab.end(), 0);
        if (end == cab.end() || folder >= folderCount || offset != next[folder] ||
            !Holds(folders[folder], offset, size)) {
            return "file " + std::to_string(i) + " does not follow the one before in its folder";
        }
        const auto* data = folders[folder].data() + offset;
        members.push_back({std::string(cab.begin() + static_cast<std::ptrdiff_t>(at + 16), end),
                           Bytes(data, data + size), Le16(cab, at + 10), Le16(cab, at + 12)});
        next[folder] = offset + size;
        at = static_cast<std::size_t>(end - cab.begin()) + 1;
    }
    for (std::size_t f = 0; f < folderCount; ++f) {
        if (next[f] != folders[f].size()) {
            return "folder " + std::to_string(f) + " holds bytes of no file";
        }
    }
    return "";
}

// The manifest (".000").

struct ManifestFile {
    std::uint16_t number = 0, dir = 0, again = 0;
    std::uint32_t flags = 0;
    std::string name;
};

struct ManifestLink {
    std::uint16_t base = 0, target = 0, kind = 0;
    std::vector<std::uint16_t> spec;
};

struct Manifest {
    std::uint32_t processor = 0;
    std::uint32_t versions[6] = {};
    std::string appName, provider;
    std::map<std::uint16_t, std::string> strings;
    std::map<std::uint16_t, std::vector<std::uint16_t>> dirs;
    std::vector<ManifestFile> files;
    std::vector<ManifestLink> links;
};

// A text of `length` bytes: the text, its NUL, and NULs up to a multiple of four bytes, as the CAB
// wizard pads every text of a manifest.
bool TextAt(const Bytes& m, std::size_t at, std::size_t length, std::string& text) {
    if (length == 0 || length % 4 != 0 || !Holds(m, at, length) || m[at + length - 1] != 0) {
        return false;
    }
    text.assign(m.begin() + static_cast<std::ptrdiff_t>(at), m.begin() + static_cast<std::ptrdiff_t>(at + length));
    std::size_t nul = text.find('\0');
    bool padded = text.find_first_not_of('\0', nul) == std::string::npos && length - nul <= 4;
    text.resize(nul);
    return padded;
}

// A list of string ids `length` bytes long, every id a known string: folders' lists end in their
// only 0, shortcuts' have none, as the wizard writes them.
bool IdsAt(const Bytes& m, std::size_t at, std::size_t length, const Manifest& manifest,
           std::vector<std::uint16_t>& ids, bool closed = true) {
    if (length < (closed ? 4u : 2u) || length % 2 != 0 || !Holds(m, at, length) ||
        (closed && Le16(m, at + length - 2) != 0)) {
        return false;
    }
    for (std::size_t i = at; i < at + length - (closed ? 2 : 0); i += 2) {
        ids.push_back(Le16(m, i));
        if (!manifest.strings.contains(ids.back())) {
            return false;
        }
    }
    return true;
}

std::string ReadManifest(const Bytes& m, Manifest& out) {
    if (!Holds(m, 0, 100) || std::memcmp(m.data(), "MSCE", 4) != 0 || Le32(m, 8) != m.size()) {
        return "no manifest header, or the wrong length";
    }
    if (Le32(m, 4) != 0 || Le32(m, 12) != 0 || Le32(m, 16) != 1 || Le32(m, 96) != 0) {
        return "fixed header words";
    }
    out.processor = Le32(m, 20);
    for (std::size_t i = 0; i < 6; ++i) {
        out.versions[i] = Le32(m, 24 + 4 * i);
    }
    if (!TextAt(m, Le16(m, 84), Le16(m, 86), out.appName) || !TextAt(m, Le16(m, 88), Le16(m, 90), out.provider)) {
        return "APPNAME or PROVIDER";
    }
    // No platform refused: an empty list where the strings begin.
    if (Le16(m, 92) != Le32(m, 60) || Le16(m, 94) != 0) {
        return "unsupported platforms named";
    }
    if (Le16(m, 54) != 0 || Le16(m, 56) != 0) {
        return "registry entries";
    }
    std::size_t at = Le32(m, 60);
    for (std::size_t i = Le16(m, 48); i > 0; --i) {
        std::string text;
        if (!Holds(m, at, 4) || !TextAt(m, at + 4, Le16(m, at + 2), text) ||
            !out.strings.emplace(Le16(m, at), text).second) {
            return "STRINGS entry at " + std::to_string(at);
        }
        at += 4 + Le16(m, at + 2);
    }
    at = Le32(m, 64);
    for (std::size_t i = Le16(m, 50); i > 0; --i) {
        std::vector<std::uint16_t> ids;
        if (!Holds(m, at, 4) || !IdsAt(m, at + 4, Le16(m, at + 2), out, ids) ||
            !out.dirs.emplace(Le16(m, at), ids).second) {
            return "DIRS entry at " + std::to_string(at);
        }
        at += 4 + Le16(m, at + 2);
    }
    at = Le32(m, 68);
    for (std::size_t i = Le16(m, 52); i > 0; --i) {
        ManifestFile file;
        if (!Holds(m, at, 12) || !TextAt(m, at + 12, Le16(m, at + 10), file.name)) {
            return "FILES entry at " + std::to_string(at);
        }
        file.number = Le16(m, at);
        file.dir = Le16(m, at + 2);
        file.again = Le16(m, at + 4);
        file.flags = Le32(m, at + 6);
        out.files.push_back(file);
        at += 12 + Le16(m, at + 10);
    }
    at = Le32(m, 80);
    for (std::size_t i = Le16(m, 58); i > 0; --i) {
        ManifestLink link;
        if (!Holds(m, at, 12) || Le16(m, at + 2) != 0 ||
            !IdsAt(m, at + 12, Le16(m, at + 10), out, link.spec, false)) {
            return "LINKS entry at " + std::to_string(at);
        }
        link.base = Le16(m, at + 4);
        link.target = Le16(m, at + 6);
        link.kind = Le16(m, at + 8);
        out.links.push_back(link);
        at += 12 + Le16(m, at + 10);
    }
    return "";
}

// A manifest's 8-bit text as UTF-8; only the Latin-1 part of code page 1252 (the tests' names use
// no character from 0x80 to 0x9F).
std::string FromWestern(const std::string& text) {
    std::u16string wide;
    for (unsigned char c : text) {
        wide += c;
    }
    return platform::ToUtf8(wide);
}

// The Pocket PC's folders behind the macros a manifest may start a path with.
std::string MacroFolder(std::uint16_t n) {
    static const std::map<std::uint16_t, std::string> kFolders{{1, "Program Files"},
                                                               {2, "Windows"},
                                                               {4, "Windows\\StartUp"},
                                                               {5, "My Documents"},
                                                               {11, "Windows\\Start Menu\\Programs"},
                                                               {17, "Windows\\Start Menu"}};
    auto found = kFolders.find(n);
    return found == kFolders.end() ? "?" : found->second;
}

// A DIRS path from the device's root, backslashed. Its first string may be the install folder
// whole (string 1: "%CE1%\Notes", "\Notes", or "\" for the root), the others are one name each.
std::string DirPath(const Manifest& m, std::uint16_t dir) {
    auto found = m.dirs.find(dir);
    if (found == m.dirs.end()) {
        return "?";
    }
    std::string path;
    bool first = true;
    for (std::uint16_t id : found->second) {
        std::string part = FromWestern(m.strings.at(id));
        if (std::exchange(first, false)) {
            unsigned macro = 0;
            int used = 0;
            if (std::sscanf(part.c_str(), "%%CE%u%%%n", &macro, &used) == 1 && used > 0) {
                part = MacroFolder(static_cast<std::uint16_t>(macro)) + part.substr(static_cast<std::size_t>(used));
            } else if (part.starts_with('\\')) {
                part = part.substr(1);
            } else {
                return "?" + part;
            }
            path = part;
            continue;
        }
        path += (path.empty() ? "" : "\\") + part;
    }
    return path;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The shortcut file a device makes: the count of characters after the '#', then the target's
// absolute path quoted (names here are ASCII).
std::string ShortcutTo(const std::string& target) {
    std::string quoted = "\"\\" + target + "\"";
    return std::to_string(quoted.size()) + "#" + quoted;
}

// A device's files, by path from its root with '/', as FolderContents gives a folder's.
using Tree = std::map<std::string, Bytes>;

// What a device holds after installing: the numbered files (as any reader extracted them, by
// their names in the cabinet) where the manifest puts them, and its shortcuts.
Tree Install(const Manifest& m, const std::map<std::string, Bytes>& numbered) {
    std::map<std::uint16_t, const Bytes*> byNumber;
    for (const auto& [name, bytes] : numbered) {
        std::size_t dot = name.rfind('.');
        byNumber[static_cast<std::uint16_t>(std::stoi(name.substr(dot + 1)))] = &bytes;
    }
    Tree tree;
    std::map<std::uint16_t, std::string> paths;
    for (const ManifestFile& file : m.files) {
        paths[file.number] = Join(DirPath(m, file.dir), FromWestern(file.name));
        EXPECT_TRUE(byNumber.contains(file.number)) << file.number;
        tree[Slashed(paths[file.number])] = byNumber.contains(file.number) ? *byNumber[file.number] : Bytes{};
    }
    for (const ManifestLink& link : m.links) {
        std::string path = link.base == 0 ? "?" : MacroFolder(link.base);
        for (std::uint16_t id : link.spec) {
            path = Join(path, FromWestern(m.strings.at(id)));
        }
        EXPECT_EQ(link.kind, 1u) << path;
        tree[Slashed(path)] = BytesOf(ShortcutTo(paths.contains(link.target) ? paths[link.target] : "?"));
    }
    return tree;
}

struct Decoded {
    std::uint16_t compression = 0;
    std::vector<CabMember> members;
    std::map<std::string, Bytes> numbered;
    Manifest manifest;
    Tree tree;
};

Decoded Decode(const std::u16string& cabinet) {
    Decoded d;
    std::string problem = ReadContainer(ReadBytes(cabinet), d.members, d.compression);
    EXPECT_EQ(problem, "") << platform::ToUtf8(cabinet);
    for (const CabMember& member : d.members) {
        d.numbered[member.name] = member.bytes;
        if (member.name.ends_with(".000")) {
            problem = ReadManifest(member.bytes, d.manifest);
            EXPECT_EQ(problem, "") << platform::ToUtf8(cabinet);
        }
    }
    d.tree = Install(d.manifest, d.numbered);
    return d;
}

// The application: nested folders, shortcuts (one named, one after its file), a licence installed
// for ARM only, an empty file, a name outside ASCII, members for every family and for one alone,
// data that deflate shrinks and data it cannot, several blocks' worth for each family.
struct Member {
    std::u16string relative;
    Bytes bytes;
    std::uint32_t flags;
    std::u16string shortcut = {};
};

Bytes Noise(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (std::uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

const std::vector<Member>& Members() {
    static const std::vector<Member> kMembers{
        {u"Notes.exe", Pattern(70000, 1), FLAG_ALL_PLATFORMS | FLAG_SHORTCUT, u"Field Notes.lnk"},
        {u"lib/arm/native.dll", Pattern(5000, 2), FLAG_ARM},
        {u"lib/mips/native.dll", Pattern(6000, 3), FLAG_MIPS},
        {u"lib/sh/native.dll", Pattern(7000, 4), FLAG_SHX},
        {u"lib/x86/native.dll", Noise(33000, 5), FLAG_INTEL},
        {u"data/noise.bin", Noise(40000, 6), FLAG_ARM | FLAG_MIPS},
        {u"help/deep/Guide.htm", BytesOf("<html><body>Guide</body></html>\r\n"),
         FLAG_ARM | FLAG_MIPS | FLAG_INTEL | FLAG_SHORTCUT},
        {u"empty.dat", {}, FLAG_ALL_PLATFORMS},
        {u"help/Caf\u00e9.txt", BytesOf("menu"), FLAG_ALL_PLATFORMS},
        {u"eula.txt", BytesOf("Terms.\r\n"), FLAG_EULA | FLAG_ARM},
    };
    return kMembers;
}

constexpr const char* kDeviceFolder = "Program Files/Acme/Notes/";

// The tree a device of `family` should hold, from the members alone.
Tree Expected(std::uint32_t family) {
    Tree tree;
    for (const Member& m : Members()) {
        if (!(m.flags & family)) {
            continue;
        }
        std::string relative = kDeviceFolder + platform::ToUtf8(m.relative);
        tree[relative] = m.bytes;
        if (m.flags & FLAG_SHORTCUT) {
            std::string name = platform::ToUtf8(m.shortcut);
            if (name.empty()) {
                std::string file = relative.substr(relative.rfind('/') + 1);
                name = file.substr(0, file.rfind('.')) + ".lnk";
            }
            std::string target = relative;
            std::replace(target.begin(), target.end(), '/', '\\');
            tree["Windows/Start Menu/Programs/" + name] = BytesOf(ShortcutTo(target));
        }
    }
    return tree;
}

std::u16string Family(const device::CpuChoice& family) { return std::u16string(family.name); }

// The installer's host in silent mode: whatever it would print fails the test.
class SilentHost : public installer_template::SetupHost {
public:
    void ShowError(const std::string& text) override { ADD_FAILURE() << text; }
    void PrintError(const std::string& line) override { ADD_FAILURE() << line; }
    void ShowInformation(const std::string& text) override { ADD_FAILURE() << text; }
    void PrintOutput(const std::string& text) override { ADD_FAILURE() << text; }
    std::u16string DocumentsFolder() override { return {}; }
    int RunWizard(Package&, const installer_template::Options&) override { return -1; }
};

// The members below app/ saved as a workspace, the target folder Program Files, the program's
// folder two deep; the file dates fixed by SOURCE_DATE_EPOCH (2023-11-14 22:13:20).
class CabinetTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        SetDateEpoch("1700000000");
    }
    void TearDown() override { SetDateEpoch(nullptr); }

    // The workspace `name` of the members for any family but those in `without`.
    std::u16string MakeWorkspace(const std::u16string& name, std::uint32_t without = 0,
                                 const PackageFields& fields = {u"Field Notes", kTargetProgramFiles, u"Acme\\Notes"}) {
        Package package;
        for (const Member& m : Members()) {
            std::u16string path = dir.File(u"app/" + m.relative);
            fs::create_directories(fs::path(path).parent_path());
            WriteBytes(path, m.bytes);
            if (m.flags & ~without & FLAG_ALL_PLATFORMS) {
                EXPECT_TRUE(package.AddFile(path.c_str(), m.flags & ~without));
                if (!m.shortcut.empty()) {
                    package.SetShortcutName(package.GetCount() - 1, m.shortcut.c_str());
                }
            }
        }
        package.SetSourceFolder(StoredForm(dir.File(u"app/")).c_str());
        package.SetProgramName(fields.programName.c_str());
        package.SetTargetFolder(fields.targetFolder);
        package.SetInstallFolder(fields.installFolder.c_str());
        std::u16string path = dir.File(name);
        SaveWorkspace(package, path);
        return path;
    }
    ToolResult Cab(const std::u16string& input, const std::u16string& folder, std::vector<std::u16string> more = {}) {
        std::vector<std::u16string> arguments{u"cab", input, u"-d", folder};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Run(arguments);
    }
    // `more` with --compress added when asked.
    static std::vector<std::u16string> Compressed(bool compress, std::vector<std::u16string> more = {}) {
        if (compress) {
            more.push_back(u"--compress");
        }
        return more;
    }
    static std::u16string CabOf(const std::u16string& folder, const device::CpuChoice& family) {
        return folder + u"/Field Notes." + Family(family) + u".CAB";
    }
};

TEST_F(CabinetTest, OneCabinetPerFamilyWithFilesAndNoneReplacedUnlessForced) {
    std::u16string ws = MakeWorkspace(u"no-shx.orb", FLAG_SHX);
    std::u16string out = dir.File(u"cabs");
    ToolResult r = Cab(ws, out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "note: " + platform::ToUtf8(ws) + " has no files for SHX; no SHX cabinet made\n");
    const std::set<std::string> made{"Field Notes.ARM.CAB", "Field Notes.INTEL.CAB", "Field Notes.MIPS.CAB"};
    Tree first = FolderContents(fs::path(out));
    std::set<std::string> names;
    for (const auto& [name, bytes] : first) {
        names.insert(name);
        EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
    }
    EXPECT_EQ(names, made);

    // A family named with --cpu must have files: nothing is written, not even the folder.
    std::u16string none = dir.File(u"none");
    r = Cab(ws, none, {u"--cpu", u"arm,shx"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("has no files for SHX"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(none));

    // An existing cabinet is refused before any is written, and replaced with --force.
    WriteBytes(CabOf(out, device::kCpuChoices[3]), BytesOf("older"));
    WriteBytes(CabOf(out, device::kCpuChoices[0]), BytesOf("older"));
    fs::remove(fs::path(CabOf(out, device::kCpuChoices[1])));
    r = Cab(ws, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ARM.CAB"), std::string::npos) << r.err;
    Tree kept = first;
    kept.erase("Field Notes.MIPS.CAB");
    kept["Field Notes.ARM.CAB"] = kept["Field Notes.INTEL.CAB"] = BytesOf("older");
    EXPECT_EQ(FolderContents(fs::path(out)), kept);
    r = Cab(ws, out, {u"--force", u"--quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(FolderContents(fs::path(out)), first);

    // The date build systems give for "no date" is the first a cabinet holds; what is no number
    // of seconds, blanks and signs included, is refused before anything is written, naming the
    // variable once.
    const std::uint16_t last = (127 << 9) | (12 << 5) | 31;
    const std::pair<const char*, std::uint16_t> epochs[] = {{"1", 0x21},
                                                            {"0", 0x21},
                                                            {"99999999999", last},
                                                            {"123456789012345678901234", last},
                                                            {"soon", 0},
                                                            {"-5", 0},
                                                            {" 5", 0},
                                                            {"5 ", 0},
                                                            {"+5", 0},
                                                            {"0x10", 0},
                                                            {"1e9", 0}};
    for (const auto& [epoch, date] : epochs) {
        SetDateEpoch(epoch);
        std::u16string dated = dir.File(u"dated-" + platform::ToUtf16(epoch));
        r = Cab(ws, dated, {u"--cpu", u"arm"});
        EXPECT_EQ(r.status, date == 0 ? 1 : 0) << epoch << r.err;
        if (date == 0) {
            EXPECT_NE(r.err.find("SOURCE_DATE_EPOCH: \"" + std::string(epoch) +
                                 "\" is not a number of seconds since 1970 (digits only)\n"),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(r.err.find("SOURCE_DATE_EPOCH"), r.err.rfind("SOURCE_DATE_EPOCH")) << r.err;
            EXPECT_FALSE(Exists(dated));
            continue;
        }
        for (const CabMember& member : Decode(CabOf(dated, device::kCpuChoices[0])).members) {
            EXPECT_EQ(member.date, date) << epoch;
        }
    }
}

TEST_F(CabinetTest, TheManifestSaysWhereEachFileGoesForWhichProcessorAndOurReaderAgrees) {
    std::u16string ws = MakeWorkspace(u"ws.orb");
    const std::uint32_t processors[] = {2577, 4000, 0, 0};
    for (bool compress : {false, true}) {
        std::u16string out = dir.File(compress ? u"mszip" : u"stored");
        ASSERT_EQ(Cab(ws, out, Compressed(compress, {u"--provider", u"Acme Tools"})).status, 0);
        for (std::size_t f = 0; f < 4; ++f) {
            const device::CpuChoice& family = device::kCpuChoices[f];
            SCOPED_TRACE(platform::ToUtf8(Family(family)) + (compress ? " MSZIP" : " stored"));
            Decoded d = Decode(CabOf(out, family));
            EXPECT_EQ(d.compression, compress ? 1 : 0);
            EXPECT_EQ(d.tree, Expected(family.flag));
            const Manifest& m = d.manifest;
            EXPECT_EQ(m.processor, processors[f]);
            EXPECT_EQ(m.appName, "Field Notes");
            EXPECT_EQ(m.provider, "Acme Tools");
            for (std::uint32_t version : m.versions) {
                EXPECT_EQ(version, 0u);
            }

            // The manifest first, then the files in descending number, each name eight characters
            // from the real name (padded with '0'), a dot and its number; each file once in the
            // manifest, always overwriting.
            std::vector<int> order;
            std::map<int, std::string> stems;
            for (const CabMember& member : d.members) {
                const std::string& n = member.name;
                auto alnum = [](unsigned char c) { return std::isalnum(c) != 0; };
                auto digit = [](unsigned char c) { return std::isdigit(c) != 0; };
                EXPECT_TRUE(n.size() == 12 && n[8] == '.' && std::all_of(n.begin(), n.begin() + 8, alnum) &&
                            std::all_of(n.begin() + 9, n.end(), digit))
                    << n;
                order.push_back(std::stoi(n.substr(9)));
                stems[order.back()] = n.substr(n.find_first_not_of('0'), 8 - n.find_first_not_of('0'));
                EXPECT_EQ(member.date, 22382); // 2023-11-14
                EXPECT_EQ(member.time, 45482); // 22:13:20
            }
            ASSERT_EQ(order.size(), m.files.size() + 1);
            EXPECT_EQ(order[0], 0);
            EXPECT_TRUE(std::is_sorted(order.begin() + 1, order.end(), std::greater<>()));
            EXPECT_EQ(std::adjacent_find(order.begin(), order.end()), order.end());
            EXPECT_EQ(std::count(order.begin(), order.end(), 999), 0);
            // Each file's source is its own line of the [SourceDisksFiles] inf -d writes: one of 1 to n.
            std::set<std::uint16_t> sources;
            for (const ManifestFile& file : m.files) {
                EXPECT_TRUE(sources.insert(file.again).second) << file.again;
                EXPECT_TRUE(file.again >= 1 && file.again <= m.files.size()) << file.again;
                EXPECT_EQ(file.flags, 0x40000000u) << file.name;
                EXPECT_EQ(std::count(order.begin(), order.end(), file.number), 1) << file.number;
                EXPECT_TRUE(file.name.starts_with(stems[file.number])) << file.name;
            }

            // Each shortcut in the start menu's programs (%CE11%), naming the file it opens.
            ASSERT_EQ(m.links.size(), family.flag == FLAG_SHX ? 1u : 2u);
            std::map<std::string, std::string> links;
            for (const ManifestLink& link : m.links) {
                EXPECT_EQ(link.base, 11);
                ASSERT_EQ(link.spec.size(), 1u);
                auto file = std::find_if(m.files.begin(), m.files.end(),
                                         [&](const ManifestFile& f) { return f.number == link.target; });
                ASSERT_NE(file, m.files.end());
                links[m.strings.at(link.spec[0])] = DirPath(m, file->dir) + "\\" + file->name;
            }
            EXPECT_EQ(links["Field Notes.lnk"], "Program Files\\Acme\\Notes\\Notes.exe");
            if (family.flag != FLAG_SHX) {
                EXPECT_EQ(links["Guide.lnk"], "Program Files\\Acme\\Notes\\help\\deep\\Guide.htm");
            }

            // The project's own reader sees the same.
            device::CabinetReader reader;
            Error error;
            ASSERT_TRUE(reader.Open(CabOf(out, family), error)) << error.message;
            const device::Cabinet& c = reader.Contents();
            EXPECT_EQ(c.appName, u"Field Notes");
            EXPECT_EQ(c.provider, u"Acme Tools");
            EXPECT_EQ(c.processorType, m.processor);
            EXPECT_EQ(c.compression, d.compression);
            Tree read;
            ASSERT_EQ(c.files.size(), m.files.size());
            for (std::size_t i = 0; i < c.files.size(); ++i) {
                EXPECT_EQ(c.files[i].number, m.files[i].number);
                EXPECT_EQ(c.files[i].flags, m.files[i].flags);
                Bytes bytes;
                EXPECT_TRUE(reader.ReadFile(i, bytes, error)) << error.message;
                read[Slashed(platform::ToUtf8(c.files[i].relative))] = bytes;
            }
            ASSERT_EQ(c.links.size(), m.links.size());
            for (std::size_t i = 0; i < c.links.size(); ++i) {
                EXPECT_EQ(c.links[i].target, m.links[i].target);
                EXPECT_TRUE(c.links[i].toFile);
                read[Slashed(platform::ToUtf8(c.links[i].relative))] =
                    BytesOf(ShortcutTo(platform::ToUtf8(c.links[i].targetPath)));
            }
            EXPECT_EQ(read, d.tree);
        }
    }
}

// Each target folder starts the cabinet's folders with its macro (the root with none), and the
// device gets the tree extract gives for it.
TEST_F(CabinetTest, EveryTargetFolderPutsTheFilesWhereExtractDoes) {
    struct Case {
        std::int32_t target;
        std::u16string installFolder;
        const char* program;
    };
    const Case cases[] = {
        {kTargetPersonal, u"Notes", "My Documents/Notes/Notes.exe"},
        {kTargetProgramFiles, u"Notes", "Program Files/Notes/Notes.exe"},
        {kTargetPrograms, u"Notes", "Windows/Start Menu/Programs/Notes/Notes.exe"},
        {kTargetRoot, u"Acme\\Notes", "Acme/Notes/Notes.exe"},
        {kTargetRoot, u"", "Notes.exe"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        std::u16string number = platform::ToUtf16(std::to_string(n++));
        std::u16string ws = MakeWorkspace(u"ws" + number + u".orb", 0, {u"Field Notes", c.target, c.installFolder});
        std::u16string dat = dir.File(u"ws" + number + u".DAT"), out = dir.File(u"out" + number);
        ASSERT_EQ(Run({u"dat", ws, u"-o", dat}).status, 0);
        ASSERT_EQ(Cab(dat, out, {u"--cpu", u"mips"}).status, 0);
        ToolResult r = Run({u"extract", dat, u"-d", dir.File(u"extract" + number), u"--cpu", u"mips", u"-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        Tree tree = Decode(CabOf(out, device::kCpuChoices[1])).tree;
        EXPECT_TRUE(tree.contains(c.program));
        EXPECT_EQ(tree, FolderContents(fs::path(dir.File(u"extract" + number))));
    }
}

// A file's number is the digits ending its name in the cabinet, 999 being a setup DLL's: 998 files
// are numbered in three digits, and further ones go on in four, passing over 999.
TEST_F(CabinetTest, FilesAreNumberedInThreeDigitsUpTo998AndNeverAs999) {
    class Empty : public device::MemberSource {
        bool Open(std::int32_t, std::uint32_t, Error&) override { return true; }
        bool Read(void*, std::uint32_t, Error&) override { return true; }
    } empty;
    device::InstallPlan plan;
    plan.targetFolder = kTargetProgramFiles;
    plan.installFolder = u"Notes";
    plan.deviceFolder = u"Program Files\\Notes";
    plan.folders = {plan.deviceFolder};
    for (int i = 0; i < 1000; ++i) {
        std::u16string name = u"f" + platform::ToUtf16(std::to_string(i)) + u".txt";
        plan.files.push_back({i, name, plan.deviceFolder + u"\\" + name, 0});
    }
    const device::CabinetSettings settings{u"Notes", u"Notes"};
    Error error;
    std::u16string path = dir.File(u"many.CAB");
    {
        platform::File file = platform::File::CreateNew(path);
        ASSERT_TRUE(device::WriteCabinet(plan, settings, empty, file, error)) << error.message;
    }
    Decoded d = Decode(path);
    ASSERT_EQ(d.members.size(), 1001u);
    EXPECT_EQ(d.members[1].name, "0000f999.1001");
    EXPECT_EQ(d.members[2].name, "0000f998.1000");
    EXPECT_EQ(d.members[3].name, "0000f997.998");
    EXPECT_EQ(d.members[1000].name, "000000f0.001");
    EXPECT_EQ(d.tree.size(), 1000u);
}

// Every limit our reader holds a cabinet to, the writer keeps to before it writes a byte: a plan
// at a limit makes a cabinet the reader takes whole, one past it is refused with the field named
// and leaves the output empty. The 16-bit fields of the manifest would otherwise wrap.
TEST_F(CabinetTest, WhatTheReaderWouldRefuseIsNeverWritten) {
    class Empty : public device::MemberSource {
        bool Open(std::int32_t, std::uint32_t, Error&) override { return true; }
        bool Read(void*, std::uint32_t, Error&) override { return true; }
    } empty;
    // `files` empty files in `folders` folders (two names each), named `nameLength` characters,
    // below Program Files or, with folders 0, in the device's root.
    auto planOf = [](std::size_t files, std::size_t folders, std::size_t nameLength) {
        device::InstallPlan plan;
        plan.targetFolder = folders == 0 ? kTargetRoot : kTargetProgramFiles;
        plan.installFolder = folders == 0 ? u"" : u"Notes";
        plan.deviceFolder = folders == 0 ? u"" : u"Program Files\\Notes";
        for (std::size_t i = 0; i < files; ++i) {
            std::u16string n = platform::ToUtf16(std::to_string(i));
            std::u16string folder = plan.deviceFolder;
            if (folders > 1) {
                std::u16string k = platform::ToUtf16(std::to_string(i % folders));
                folder += u"\\d" + k + u"\\e" + k;
            }
            std::u16string name = n + std::u16string(nameLength > n.size() ? nameLength - n.size() : 0, u'x');
            plan.files.push_back(
                {static_cast<std::int32_t>(i), name, folder.empty() ? name : folder + u"\\" + name, 0});
        }
        return plan;
    };
    // Texts are stored padded to four bytes, and the 16-bit offset of what follows the provider
    // must reach past it: after the header and "Notes" (108 bytes), 65423 characters and their NUL
    // take 65424 and end at byte 65532.
    const std::u16string longest(65423, u'p');
    struct Case {
        const char* what;
        device::InstallPlan plan;
        device::CabinetSettings settings;
        std::string refused; // "" for a cabinet that must read back
    };
    const Case cases[] = {
        {"the longest provider", planOf(1, 1, 4), {u"Notes", longest}, ""},
        {"a provider one longer", planOf(1, 1, 4), {u"Notes", longest + u"p"},
         "the program name and provider are too long for a device cabinet: the unsupported platforms would begin "
         "at byte (65536); a device cabinet's manifest holds at most 65535"},
        {"a program name that puts the provider past 64 KiB", planOf(1, 1, 4), {std::u16string(65500, u'n'), u"P"},
         "the program name is too long for a device cabinet: the provider would begin at byte (65604); a device "
         "cabinet's manifest holds at most 65535"},
        {"the most files", planOf(device::kMostCabinetFiles, 0, 8), {u"Notes", u"Notes"}, ""},
        {"a file more", planOf(device::kMostCabinetFiles + 1, 0, 8), {u"Notes", u"Notes"},
         "a device cabinet holds at most 65533 files, the plan has 65534"},
        {"paths filling more than a listing", planOf(device::kMostCabinetFiles, 1, 60), {u"Notes", u"Notes"},
         "the listing of 65533 files, 0 registry values and 0 shortcuts with their device paths would take 14679494 bytes; a device "
         "cabinet's takes at most 6291456 (use fewer files or shorter paths)"},
        {"more folder names than 16-bit ids", planOf(40000, 40000, 4), {u"Notes", u"Notes"},
         "the files' folders, registry keys and shortcuts use too many different names (80001); a device cabinet's "
         "manifest holds "
         "at most 65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Error error;
        std::u16string path = dir.File(u"limits.CAB");
        fs::remove(fs::path(path));
        {
            platform::File file = platform::File::CreateNew(path);
            EXPECT_EQ(device::WriteCabinet(c.plan, c.settings, empty, file, error), c.refused.empty());
        }
        if (!c.refused.empty()) {
            EXPECT_EQ(error.message, c.refused);
            EXPECT_TRUE(ReadBytes(path).empty());
            continue;
        }
        device::CabinetReader reader;
        ASSERT_TRUE(reader.Open(path, error)) << error.message;
        EXPECT_EQ(reader.Contents().provider, c.settings.provider);
        EXPECT_EQ(reader.Contents().files.size(), c.plan.files.size());
    }
}

// FNV-1a, 64 bits: enough to tell cabinets apart, and the same on every host.
std::uint64_t Digest(const Bytes& bytes) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (std::uint8_t b : bytes) {
        h = (h ^ b) * 0x100000001b3u;
    }
    return h;
}

std::string Hex(std::uint64_t v) {
    char text[19];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(v));
    return text;
}

// The native and the Windows test programs hold the same digests: both passing means that both
// hosts write these bytes.
// The device's options reach the cabinet whichever way it is made: tarvelo-build cab, and the
// installation file the installer's end user makes, which is cab's byte for byte. What the options
// name that the code page cannot hold is refused before the installer is built.
TEST_F(CabinetTest, TheDevicesOptionsGoIntoEveryCabinetOfTheWorkspace) {
    std::u16string ws = MakeWorkspace(u"ws.orb");
    const std::string reg = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme\\Notes]\r\n"
                            "\"Path\"=\"%InstallDir%\\\\data\"\r\n\"Size\"=dword:00000010\r\n"
                            "@=hex:01,02,ff\r\n";
    WriteBytes(dir.File(u"notes.reg"), Bytes(reg.begin(), reg.end()));
    WriteBytes(dir.File(u"setup.dll"), Pattern(700, 3));
    const std::vector<std::u16string> options{
        u"--os-version", u"4.20-6.99", u"--build-max", u"0xE0000000", u"--unsupported", u"Smartphone, HPC",
        u"--setup-dll", dir.File(u"setup.dll"), u"--registry", dir.File(u"notes.reg")};
    std::vector<std::u16string> arm{u"--cpu", u"arm"};
    arm.insert(arm.end(), options.begin(), options.end());
    ToolResult r = Cab(ws, dir.File(u"cab"), arm);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::u16string cab = CabOf(dir.File(u"cab"), device::kCpuChoices[0]);
    device::CabinetReader reader;
    Error error;
    ASSERT_TRUE(reader.Open(cab, error)) << error.message;
    const device::Cabinet& c = reader.Contents();
    const std::uint32_t versions[6] = {4, 20, 6, 99, 0, 0xE0000000};
    EXPECT_TRUE(std::equal(versions, versions + 6, c.versions));
    EXPECT_EQ(c.unsupported, (std::vector<std::u16string>{u"Smartphone", u"HPC"}));
    ASSERT_EQ(c.registry.size(), 3u);
    EXPECT_EQ(device::RegistryLine(c.registry[0].value), "HKLM\\Software\\Acme\\Notes\\\"Path\" = \"%InstallDir%\\\\data\"");
    EXPECT_TRUE(c.registry[0].substitute);
    EXPECT_EQ(device::RegistryLine(c.registry[1].value), "HKLM\\Software\\Acme\\Notes\\\"Size\" = dword:0x00000010");
    EXPECT_EQ(device::RegistryLine(c.registry[2].value), "HKLM\\Software\\Acme\\Notes\\@ = hex:01,02,ff");
    ASSERT_TRUE(c.setupDll.has_value());
    Bytes setup;
    ASSERT_TRUE(reader.ReadSetupDll([&](const std::uint8_t* p, std::size_t n) { setup.insert(setup.end(), p, p + n); },
                                    error));
    EXPECT_EQ(setup, Pattern(700, 3));

    // The installer keeps them; info shows them; its cabinet way writes cab's cabinet.
    std::vector<std::u16string> build{u"installer", ws, u"-o", dir.File(u"Setup.exe"), u"--template", Template()};
    build.insert(build.end(), options.begin(), options.end());
    r = Run(build);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({u"info", dir.File(u"Setup.exe")});
    for (const char* line : {"Device options: 7\n", "  CE versions: 4.20 to 6.99\n", "  CE builds: 0x00000000 to 0xE0000000\n", "  Unsupported: Smartphone, HPC\n",
                             "  Setup DLL: setup.dll (700 bytes)\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    }
    Bytes stored;
    ASSERT_TRUE(pe::ReadResource(dir.File(u"Setup.exe"), pe::ResourceKey::Name(u"RT_RCDATA"),
                                 pe::ResourceKey::Name(kDeviceOptionsName), std::nullopt, stored, error))
        << error.message;
    class OptionsHost : public SilentHost {
    public:
        explicit OptionsHost(const Bytes& bytes) : bytes_(bytes) {}
        bool LoadDeviceOptions(device::DeviceOptions& options, Error& error) override {
            return device::LoadOptions(bytes_, options, error);
        }

    private:
        const Bytes& bytes_;
    } host(stored);
    std::u16string dat = dir.File(u"Notes.DAT");
    ASSERT_EQ(Run({u"dat", ws, u"-o", dat}).status, 0);
    Bytes image = ReadBytes(dat);
    Package package;
    ASSERT_TRUE(package.OpenImage(image.data(), static_cast<std::uint32_t>(image.size())));
    ASSERT_EQ(installer_template::RunSetup({u"/S", u"/CAB=" + dir.File(u"setup-cab"), u"/CPU=ARM"}, package, true, host),
              0);
    EXPECT_EQ(ReadBytes(CabOf(dir.File(u"setup-cab"), device::kCpuChoices[0])), ReadBytes(cab));
    // An installer built without options leaves none from its template.
    r = Run({u"installer", ws, u"-o", dir.File(u"Plain.exe"), u"--template", dir.File(u"Setup.exe")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Run({u"info", dir.File(u"Plain.exe")}).out.find("Device options"), std::string::npos);

    // A name the device's code page cannot hold: refused by cab and installer before writing.
    for (const std::vector<std::u16string>& bad :
         {std::vector<std::u16string>{u"cab", ws, u"-d", dir.File(u"greek"), u"--codepage", u"1253",
                                      u"--unsupported", u"\u65e5\u672c"},
          std::vector<std::u16string>{u"installer", ws, u"-o", dir.File(u"Greek.exe"), u"--template", Template(),
                                      u"--codepage", u"932"}}) {
        r = Run(bad);
        EXPECT_NE(r.status, 0) << platform::ToUtf8(bad[0]);
        EXPECT_FALSE(Exists(dir.File(u"greek")) || Exists(dir.File(u"Greek.exe"))) << r.err;
    }
}

// The INF inf -d writes compiles into the cabinet cab makes of the workspace, byte for byte, for
// every family and with every device option: one design, whichever way it came.
TEST_F(CabinetTest, TheInfOfAWorkspaceCompilesToTheWorkspacesCabinet) {
    std::u16string ws = MakeWorkspace(u"ws.orb");
    const std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Acme]\r\n"
                            "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\"Dir\"=\"%CE2%\\\\x, \\\"y\\\"\"\r\n";
    std::u16string regText = platform::ToUtf16(reg);
    Bytes regBytes{0xFF, 0xFE};
    for (char16_t c : regText) {
        regBytes.push_back(static_cast<std::uint8_t>(c));
        regBytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    WriteBytes(dir.File(u"acme.reg"), regBytes);
    WriteBytes(dir.File(u"setup.dll"), Pattern(300, 5));
    const std::vector<std::vector<std::u16string>> optionSets{
        {},
        {u"--os-version", u"5.0", u"--build-min", u"1000", u"--unsupported", u"HPC,Jupiter", u"--setup-dll",
         dir.File(u"setup.dll"), u"--registry", dir.File(u"acme.reg")}};
    int n = 0;
    for (const std::vector<std::u16string>& options : optionSets) {
        const std::u16string k = platform::ToUtf16(std::to_string(n++));
        std::vector<std::u16string> inf{u"inf", ws, u"-d", dir.File(u"inf" + k), u"-q"};
        inf.insert(inf.end(), options.begin(), options.end());
        ToolResult r = Run(inf);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::u16string> cab = options;
        cab.push_back(u"-q");
        r = Cab(ws, dir.File(u"ws" + k), cab);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const device::CpuChoice& family : device::kCpuChoices) {
            SCOPED_TRACE(platform::ToUtf8(Family(family)) + " options " + platform::ToUtf8(k));
            std::u16string file = dir.File(u"inf" + k + u"/Field Notes." + Family(family) + u".inf");
            std::vector<std::u16string> compile{u"cab", file, u"-d", dir.File(u"compiled" + k), u"-q"};
#ifndef _WIN32
            // The INF names the sources as Windows would, below the root.
            compile.insert(compile.end(), {u"--source-folder", u"/"});
#endif
            r = Run(compile);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(ReadBytes(CabOf(dir.File(u"compiled" + k), family)), ReadBytes(CabOf(dir.File(u"ws" + k), family)));
            std::vector<std::u16string> verify{u"verify", CabOf(dir.File(u"ws" + k), family), u"--inf", file};
#ifndef _WIN32
            verify.insert(verify.end(), {u"--source-folder", u"/"});
#endif
            r = Run(verify);
            EXPECT_EQ(r.status, 0) << r.out << r.err;
        }
    }

    // verify --inf names what differs between a cabinet and the INF: each row changes the INF.
    const std::u16string inf = dir.File(u"inf1/Field Notes.ARM.inf");
    const std::string text = [&] {
        Bytes b = ReadBytes(inf);
        return std::string(b.begin(), b.end());
    }();
    const struct {
        std::string from, to, complaint;
    } rows[] = {
        {"VersionMin = 5.0", "VersionMin = 5.1", "its minimum version's minor number is 0, the INF's is 1"},
        {"BuildMin = 0x000003E8", "BuildMin = 0x000003E9", "its minimum build is 1000, the INF's is 1001"},
        {"\"Dir\",0x00000000,\"", "\"Dir\",0x00000002,\"", "registry value HKCU\\Software\\Acme\\\"Dir\" = "},
        {"\"Notes.exe\",\"Notes.exe\",,0x40000000", "\"Notes.exe\",\"Notes.exe\",,0x00000000",
         "Program Files\\Acme\\Notes\\Notes.exe: its flags are 1073741824, the INF's 0"},
        {"AppName = \"Field Notes\"", "AppName = \"Field Note\"",
         "its application name is \"Field Notes\", the INF's is \"Field Note\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.from);
        std::size_t at = text.find(row.from);
        ASSERT_NE(at, std::string::npos) << text;
        std::string changed = text;
        changed.replace(at, row.from.size(), row.to);
        std::u16string edited = dir.File(u"inf1/Edited.ARM.inf");
        WriteBytes(edited, Bytes(changed.begin(), changed.end()));
        std::vector<std::u16string> verify{u"verify", CabOf(dir.File(u"ws1"), device::kCpuChoices[0]), u"--inf",
                                           edited};
#ifndef _WIN32
        verify.insert(verify.end(), {u"--source-folder", u"/"});
#endif
        ToolResult r = Run(verify);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(row.complaint), std::string::npos) << r.err;
    }
}

// A device with another code page: names it holds are written in it, by cab, inf -d and cab of
// that INF alike, and read back in it; names the code page lacks are refused before anything is
// written, by the installer too.
TEST_F(CabinetTest, NamesAreWrittenInTheDevicesCodePage) {
    fs::create_directories(fs::path(dir.File(u"jp")));
    WriteBytes(dir.File(u"jp/\u65e5\u672c\u8a9e.txt"), Pattern(10, 1));
    WriteBytes(dir.File(u"jp/Notes.exe"), Pattern(20, 2));
    std::u16string ws = dir.File(u"jp.orb");
    ToolResult r = Run({u"gather", dir.File(u"jp"), u"-o", ws, u"--name", u"Notes", u"--path", u"Notes"});
    ASSERT_EQ(r.status, 0) << r.err;

    r = Cab(ws, dir.File(u"western"), {u"--cpu", u"arm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("code page 1252"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"western")));
    r = Run({u"installer", ws, u"-o", dir.File(u"Setup.exe"), u"--template", Template()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the installation file for the device cannot be made: "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File(u"Setup.exe")));

    r = Cab(ws, dir.File(u"japanese"), {u"--cpu", u"arm", u"--codepage", u"932"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::u16string cab = dir.File(u"japanese/Notes.ARM.CAB");
    // In Shift-JIS, as the device reads it.
    const Bytes bytes = ReadBytes(cab);
    const Bytes sjis{0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, '.', 't', 'x', 't'};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), sjis.begin(), sjis.end()), bytes.end());
    r = Run({u"info", cab, u"--codepage", u"932"});
    EXPECT_NE(r.out.find("My Documents\\Notes\\\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt"), std::string::npos) << r.out;

    r = Run({u"inf", ws, u"-d", dir.File(u"inf"), u"--cpu", u"arm", u"--codepage", u"932", u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::u16string> compile{u"cab", dir.File(u"inf/Notes.ARM.inf"), u"-d", dir.File(u"compiled"),
                                        u"--codepage", u"932", u"-q"};
    std::vector<std::u16string> verify{u"verify", cab, u"--inf", dir.File(u"inf/Notes.ARM.inf"), u"--codepage",
                                       u"932"};
#ifndef _WIN32
    compile.insert(compile.end(), {u"--source-folder", u"/"});
    verify.insert(verify.end(), {u"--source-folder", u"/"});
#endif
    r = Run(compile);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.File(u"compiled/Notes.ARM.CAB")), bytes);
    r = Run(verify);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// --appmgr: the desktop Application Manager's .ini beside the cabinets, listing those of the run;
// an INF's named after the INF, as its cabinets are. An .ini that could not be written, or could
// not list a cabinet, is refused with the cabinets before any is written; --force replaces it.
TEST_F(CabinetTest, TheApplicationManagersIniListsTheCabinetsOfTheRun) {
    const std::u16string ws = MakeWorkspace(u"two.orb", FLAG_SHX | FLAG_INTEL);
    const auto ini = [](const std::string& list) {
        return BytesOf("[CEAppManager]\r\nVersion = 1.0\r\nComponent = Field Notes\r\n\r\n[Field Notes]\r\n"
                       "Description = Field Notes\r\nUninstall = Field Notes\r\nCabFiles = " +
                       list + "\r\n");
    };
    const std::u16string two = dir.File(u"two");
    ToolResult r = Cab(ws, two, {u"--appmgr"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(two + u"/Field Notes.ini"), ini("Field Notes.ARM.CAB,Field Notes.MIPS.CAB"));
    EXPECT_NE(r.out.find("Field Notes.ini\n"), std::string::npos) << r.out;
    EXPECT_EQ(FolderContents(fs::path(two)).size(), 3u);

    r = Run({u"inf", ws, u"-d", dir.File(u"inf"), u"--cpu", u"mips", u"-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::u16string> compile{
        u"cab", dir.File(u"inf/Field Notes.MIPS.inf"), u"-d", dir.File(u"compiled"), u"--appmgr", u"-q"};
#ifndef _WIN32
    compile.insert(compile.end(), {u"--source-folder", u"/"});
#endif
    r = Run(compile);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.File(u"compiled/Field Notes.MIPS.ini")), ini("Field Notes.MIPS.CAB"));

    const struct {
        const char* what;
        std::function<std::u16string(const std::u16string& out)> prepare; // answers the input
        bool force;
        std::string complaint;
    } refusals[] = {
        {"an .ini already there",
         [&](const std::u16string& out) {
             WriteBytes(out + u"/Field Notes.ini", BytesOf("old"));
             return ws;
         },
         false, "Field Notes.ini: already exists; use --force to replace it"},
        {"a folder by its name",
         [&](const std::u16string& out) {
             fs::create_directories(fs::path(out + u"/Field Notes.ini"));
             return ws;
         },
         true, "Field Notes.ini: is a folder"},
        {"the input by its name",
         [&](const std::u16string& out) {
             fs::copy_file(fs::path(ws), fs::path(out + u"/Field Notes.ini"));
             return out + u"/Field Notes.ini";
         },
         true, "Field Notes.ini: is the input this build reads"},
        {"a cabinet the list cannot carry",
         [&](const std::u16string&) {
             return MakeWorkspace(u"comma.orb", 0, {u"Field Notes, Pro", kTargetProgramFiles, u"Acme\\Notes"});
         },
         true, "\"Field Notes, Pro.ARM.CAB\" cannot be listed for the Application Manager"},
    };
    int n = 0;
    for (const auto& row : refusals) {
        SCOPED_TRACE(row.what);
        const std::u16string out = dir.File(u"refused" + platform::ToUtf16(std::to_string(n++)));
        fs::create_directories(fs::path(out));
        const std::u16string input = row.prepare(out);
        const Tree before = FolderContents(fs::path(out));
        std::vector<std::u16string> more{u"--appmgr"};
        if (row.force) {
            more.push_back(u"--force");
        }
        r = Cab(input, out, more);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(row.complaint), std::string::npos) << r.err;
        EXPECT_EQ(FolderContents(fs::path(out)), before);
        if (!row.force) {
            r = Cab(input, out, {u"--appmgr", u"--force", u"-q"});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(FolderContents(fs::path(out)), FolderContents(fs::path(two)));
        }
    }
}

// A cabinet an INF would write over one of its own sources, by the same name or through another
// name of the same file (a hard link), is refused before anything is written, even with --force;
// so is the Application Manager's .ini.
TEST_F(CabinetTest, AnInfsCabinetNeverReplacesOneOfItsSources) {
    const std::string inf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=\"P\"\r\n"
                            "CESignature=\"$Windows CE$\"\r\n[CEStrings]\r\nAppName=\"A\"\r\nInstallDir=%CE1%\\A\r\n"
                            "[DefaultInstall]\r\nCopyFiles=Files\r\n[SourceDisksNames]\r\n1=,\"D\",,\"\"\r\n"
                            "[SourceDisksFiles]\r\n\"SRC\"=1\r\n[DestinationDirs]\r\nFiles=0,%InstallDir%\r\n"
                            "[Files]\r\n\"a.bin\",\"SRC\",,0\r\n";
    const Bytes source = Pattern(200, 3);
    for (const char* name : {"out.CAB", "linked.bin", "plain.bin", "out.ini"}) {
        SCOPED_TRACE(name);
        const std::u16string folder = dir.File(platform::ToUtf16(name) + u".d");
        fs::create_directories(fs::path(folder));
        std::string text = inf;
        text.replace(text.find("SRC"), 3, name);
        text.replace(text.find("SRC"), 3, name);
        WriteBytes(folder + u"/out.inf", Bytes(text.begin(), text.end()));
        WriteBytes(folder + u"/" + platform::ToUtf16(name), source);
        const bool linked = std::string(name) == "linked.bin";
        if (linked) {
            fs::create_hard_link(fs::path(folder + u"/linked.bin"), fs::path(folder + u"/out.CAB"));
        }
        ToolResult r = Run({u"cab", folder + u"/out.inf", u"--force", u"-q", u"--appmgr"});
        if (std::string(name) == "plain.bin") {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(ReadBytes(folder + u"/out.ini"),
                      BytesOf("[CEAppManager]\r\nVersion = 1.0\r\nComponent = A\r\n\r\n[A]\r\nDescription = A\r\n"
                              "Uninstall = A\r\nCabFiles = out.CAB\r\n"));
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("is one of the INF's source files; it is not replaced"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(folder + u"/" + platform::ToUtf16(name)), source);
        if (std::string(name) == "out.ini") {
            EXPECT_FALSE(Exists(folder + u"/out.CAB"));
        }
    }
}

TEST_F(CabinetTest, EveryHostEveryRunAndEveryKindOfInputMakeTheSameBytes) {
    std::u16string ws = MakeWorkspace(u"ws.orb");
    std::u16string dat = dir.File(u"Notes.DAT"), exe = dir.File(u"Setup.exe");
    ASSERT_EQ(Run({u"dat", ws, u"-o", dat}).status, 0);
    ASSERT_EQ(Run({u"installer", ws, u"-o", exe, u"--template", Template()}).status, 0);
    // ARM, MIPS, SHX, INTEL; stored, then MSZIP.
    const std::uint64_t digests[2][4] = {
        {0x8aecddcef2da07f2, 0xd1cf211600573224, 0x51ef435c3638bca1, 0xb5af0aaf442c18df},
        {0xd3e0ac37f8f09c42, 0x3c36f44686678e74, 0xdcd46d52bd64d633, 0x57aeda77c4ee77b5},
    };
    for (bool compress : {false, true}) {
        // From the workspace, its package data file, its installer, and the workspace once more.
        const std::u16string inputs[] = {ws, dat, exe, ws};
        std::u16string folders[4];
        for (std::size_t i = 0; i < 4; ++i) {
            folders[i] = dir.File(u"out" + platform::ToUtf16(std::to_string(compress * 4 + i)));
            ASSERT_EQ(Cab(inputs[i], folders[i], Compressed(compress, {u"--appmgr"})).status, 0);
            EXPECT_EQ(ReadBytes(folders[i] + u"/Field Notes.ini"), ReadBytes(folders[0] + u"/Field Notes.ini"));
        }
        for (std::size_t f = 0; f < 4; ++f) {
            const device::CpuChoice& family = device::kCpuChoices[f];
            SCOPED_TRACE(platform::ToUtf8(Family(family)) + (compress ? " MSZIP" : " stored"));
            Bytes first = ReadBytes(CabOf(folders[0], family));
            for (std::size_t i = 1; i < 4; ++i) {
                EXPECT_EQ(ReadBytes(CabOf(folders[i], family)), first) << "input " << i;
            }
            EXPECT_EQ(Hex(Digest(first)), Hex(digests[compress][f]));
        }
    }
}

// The workspace's cabinets for every family, stored and compressed, for the readers below.
class CabinetReadersTest : public CabinetTest {
protected:
    void SetUp() override {
        CabinetTest::SetUp();
        std::u16string ws = MakeWorkspace(u"ws.orb");
        for (bool compress : {false, true}) {
            std::u16string out = dir.File(compress ? u"mszip" : u"stored");
            ASSERT_EQ(Cab(ws, out, Compressed(compress)).status, 0);
            for (const device::CpuChoice& family : device::kCpuChoices) {
                cabinets.push_back({CabOf(out, family), &family});
            }
        }
        // The installer's own installation file for each family, from the same package, read
        // by the same readers.
        std::u16string dat = dir.File(u"Notes.DAT");
        ASSERT_EQ(Run({u"dat", ws, u"-o", dat}).status, 0);
        image = ReadBytes(dat);
        ASSERT_TRUE(package.OpenImage(image.data(), static_cast<std::uint32_t>(image.size())));
        for (const device::CpuChoice& family : device::kCpuChoices) {
            SilentHost host;
            std::u16string out = dir.File(u"installer");
            ASSERT_EQ(
                installer_template::RunSetup({u"/S", u"/CAB=" + out, u"/CPU=" + Family(family)}, package, true, host),
                0);
            cabinets.push_back({CabOf(out, family), &family});
        }
        // Made ready for signtool, and signed by osslsigncode, which makes its own room.
        std::u16string reserved = dir.File(u"reserved");
        ASSERT_EQ(Run({u"cab", ws, u"-d", reserved, u"--cpu", u"arm", u"--reserve-signature", u"-q"}).status, 0);
        cabinets.push_back({CabOf(reserved, device::kCpuChoices[0]), &device::kCpuChoices[0]});
#ifndef _WIN32
        std::u16string openssl = u"/usr/bin/openssl", osslsigncode = u"/usr/bin/osslsigncode";
        ASSERT_TRUE(Exists(osslsigncode)) << "cmake/ensure-deps.sh installs it";
        std::u16string key = dir.File(u"key.pem"), cert = dir.File(u"cert.pem"), pfx = dir.File(u"cert.pfx");
        ToolResult r = RunProgram(openssl,
                                  {u"req", u"-x509", u"-newkey", u"rsa:2048", u"-nodes", u"-keyout", key, u"-out", cert,
                                   u"-days", u"30", u"-subj", u"/CN=Notes Test Publisher"},
                                  dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunProgram(openssl, {u"pkcs12", u"-export", u"-inkey", key, u"-in", cert, u"-out", pfx, u"-passout", u"pass:x"},
                       dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.err;
        fs::create_directories(fs::path(dir.File(u"signed")));
        signedCabinet = CabOf(dir.File(u"signed"), device::kCpuChoices[0]);
        r = RunProgram(osslsigncode,
                       {u"sign", u"-pkcs12", pfx, u"-pass", u"x", u"-h", u"sha256", u"-in",
                        CabOf(dir.File(u"stored"), device::kCpuChoices[0]), u"-out", signedCabinet},
                       dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        r = RunProgram(osslsigncode, {u"verify", u"-CAfile", cert, u"-in", signedCabinet}, dir.File(u""));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        cabinets.push_back({signedCabinet, &device::kCpuChoices[0]});
#endif
    }
    std::u16string signedCabinet;
    struct Made {
        std::u16string path;
        const device::CpuChoice* family;
    };
    std::vector<Made> cabinets; // stored, MSZIP, the installer's
    Bytes image;
    Package package; // the workspace's package, as an installer carries it
};

#ifndef _WIN32
TEST_F(CabinetReadersTest, CabextractListsTestsAndExtractsEveryCabinetWithoutAWord) {
    const std::u16string cabextract = u"/usr/bin/cabextract";
    ASSERT_TRUE(Exists(cabextract)) << "cmake/ensure-deps.sh installs it";
    int n = 0;
    // cabextract's one word on a signed cabinet: the signature after it.
    auto quiet = [&](const Made& cab, const std::string& err) {
        return err.empty() || (cab.path == signedCabinet && err.find(": WARNING; possible ") != std::string::npos &&
                               err.ends_with(" extra bytes at end of file.\n"));
    };
    for (const Made& cab : cabinets) {
        SCOPED_TRACE(platform::ToUtf8(cab.path));
        Decoded d = Decode(cab.path);
        ToolResult r = RunProgram(cabextract, {u"-l", cab.path}, dir.File(u""));
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(quiet(cab, r.err)) << r.err;
        for (const CabMember& member : d.members) {
            EXPECT_NE(r.out.find(" | " + member.name + "\n"), std::string::npos) << r.out;
        }
        r = RunProgram(cabextract, {u"-t", cab.path}, dir.File(u""));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(quiet(cab, r.err)) << r.err;
        std::u16string out = dir.File(u"cabextract" + platform::ToUtf16(std::to_string(n++)));
        r = RunProgram(cabextract, {u"-q", u"-d", out, cab.path}, dir.File(u""));
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(quiet(cab, r.err)) << r.err;
        std::map<std::string, Bytes> extracted = FolderContents(fs::path(out));
        EXPECT_EQ(extracted, d.numbered);
        EXPECT_EQ(Install(d.manifest, extracted), Expected(cab.family->flag));
    }
}

// A signed cabinet stays what it was: info tells it is signed and verify reads every file.
TEST_F(CabinetReadersTest, ASignedCabinetReadsAsItWasMade) {
    ToolResult r = Run({u"info", signedCabinet});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Signed:         yes (Authenticode, "), std::string::npos) << r.out;
    r = Run({u"info", CabOf(dir.File(u"reserved"), device::kCpuChoices[0])});
    EXPECT_NE(r.out.find("Signed:         no (6144 bytes reserved for a signature)\n"), std::string::npos) << r.out;
    for (const std::u16string& cab : {signedCabinet, CabOf(dir.File(u"reserved"), device::kCpuChoices[0])}) {
        r = Run({u"verify", cab});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    // A signature that does not end the file is refused, not read past.
    Bytes bytes = ReadBytes(signedCabinet);
    bytes.push_back(0);
    std::u16string longer = dir.File(u"longer.CAB");
    WriteBytes(longer, bytes);
    r = Run({u"info", longer});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not from the cabinet's end to the file's"), std::string::npos) << r.err;
}
#endif

#ifdef _WIN32
// extrac32 splits the cabinet's path at its last backslash.
std::u16string Backslashed(std::u16string path) {
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

TEST_F(CabinetReadersTest, WinesCabinetDllExtractsTheSameFiles) {
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::u16string extrac32 = U16(fs::path(system) / "extrac32.exe");
    int n = 0;
    for (const Made& cab : cabinets) {
        SCOPED_TRACE(platform::ToUtf8(cab.path));
        Decoded d = Decode(cab.path);
        std::u16string out = dir.File(u"extrac32-" + platform::ToUtf16(std::to_string(n++)));
        ToolResult r =
            RunProgram(extrac32, {u"/Y", u"/L", Backslashed(out), u"/E", Backslashed(cab.path)}, dir.File(u""));
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<std::string, Bytes> extracted = FolderContents(fs::path(out));
        EXPECT_EQ(extracted, d.numbered);
        EXPECT_EQ(Install(d.manifest, extracted), Expected(cab.family->flag));
    }
}
#endif

// The installer's silent folder install, extract --cpu and the cabinet put one tree on the device;
// the installer's installation file is the stored cabinet of tarvelo-build, byte for byte.
TEST_F(CabinetReadersTest, InstallerExtractAndCabinetAgreeOnTheDeviceTree) {
    for (const Made& cab : cabinets) {
        EXPECT_EQ(Decode(cab.path).tree, Expected(cab.family->flag)) << platform::ToUtf8(cab.path);
    }
    for (const device::CpuChoice& family : device::kCpuChoices) {
        EXPECT_EQ(ReadBytes(CabOf(dir.File(u"installer"), family)), ReadBytes(CabOf(dir.File(u"stored"), family)))
            << platform::ToUtf8(Family(family));
    }
    std::u16string dat = dir.File(u"Notes.DAT");
    for (const device::CpuChoice& family : device::kCpuChoices) {
        const std::u16string name = Family(family);
        SCOPED_TRACE(platform::ToUtf8(name));
        std::u16string installed = dir.File(u"setup-" + name), extracted = dir.File(u"extract-" + name);
        SilentHost host;
        EXPECT_EQ(installer_template::RunSetup({u"/S", u"/D=" + installed, u"/CPU=" + name}, package, true, host), 0);
        EXPECT_EQ(FolderContents(fs::path(installed)), Expected(family.flag));
        ToolResult r = Run({u"extract", dat, u"-d", extracted, u"--cpu", name, u"-q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(FolderContents(fs::path(extracted)), Expected(family.flag));
    }
}

} // namespace
