// tarvelo-build verify: checks every rule of the package layout in a workspace file, package
// data file or installer, and with --src every member's bytes against the files it was made from;
// a device cabinet is checked by its own rules (cabinet_verify.cpp).
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/installable.h"
#include "cli/member_lookup.h"
#include "cli/package_input.h"

#include "platform/host_paths.h"
#include "platform/text.h"

#include <algorithm>
#include <array>

namespace cli {
namespace {

// --source-folder is the name the building commands give the same folder.
constexpr std::array<OptionSpec, 5> kOptions{{{"--src", "--source-folder", true},
                                              {"--workspace", "", true},
                                              {"--cpu", "", true},
                                              {"--inf", "", true},
                                              {"--codepage", "", true}}};

constexpr std::string_view kHelp =
    "Usage: tarvelo-build verify FILE [--src FOLDER | --source-folder FOLDER] [--quiet]\n"
    "       tarvelo-build verify FILE.CAB [--src FOLDER --workspace FILE] [--cpu NAME] [--quiet]\n"
    "       tarvelo-build verify FILE.CAB --inf FILE.inf [--cpu LABEL] [--source-folder DIR]\n"
    "                                     [--codepage N] [--quiet]\n\n"
    "Checks a workspace file, package data file or installer against the package layout: at least\n"
    "one file, the data offset, the total size, offsets that follow one another, the length of the\n"
    "package, terminated texts and known flags; and that the installer would install it for every\n"
    "processor family it has files for: every path, the program's folder and the shortcut names\n"
    "must be plain names below their folder that Windows accepts (no \"..\", drive, device name\n"
    "such as CON or \"COM5 \", or character Windows refuses), and no two files may be one file on\n"
    "Windows (\"a.txt\" and \"A.TXT\", \"x\" and \"x.\"). With --src, every member's bytes are\n"
    "compared with the file at its path below FOLDER (relative to the package's source folder;\n"
    "a name that is missing is taken in another case when only one such name is there); for a\n"
    "workspace, every file must be found there, as the building commands' --source-folder finds it.\n"
    "A Windows CE cabinet (.CAB) is read whole: its manifest, every file's data and the data\n"
    "blocks' checksums. With --src and --workspace (the workspace, package data file or installer\n"
    "it was made from) it is compared with that workspace's install plan for its processor family:\n"
    "the application name, every file at its place on the device with the bytes of its source below\n"
    "FOLDER, no other file, and the shortcuts and their targets. The family is --cpu; else the one\n"
    "whose processor the cabinet declares (2577 ARM, 4000 MIPS); else the one its name carries\n"
    "(\"PROGRAM.SHX.CAB\").\n"
    "With --inf, the cabinet is compared with what the CAB wizard's INF says it holds, as \"cab\n"
    "FILE.inf\" compiles it: the application, provider, processor, version and build limits and\n"
    "unsupported platforms, the install folder, every file at its place with its flags and the bytes\n"
    "of its source, every registry value, every shortcut and its target, and the setup DLL; nothing\n"
    "more. The label is --cpu's, else the one the cabinet's name carries (NAME.LABEL.CAB), else the\n"
    "INF's only one; absolute Windows source folders are found below --source-folder, and an 8-bit\n"
    "INF is read in --codepage (default 1252).\n"
    "Prints each failed check; exit status 0 only when all hold.\n\n"
    "  --src FOLDER       compare members with the files under FOLDER (also --source-folder,\n"
    "                     as the building commands name it)\n"
    "  --workspace FILE   (a cabinet) the workspace, package or installer it was made from\n"
    "  --cpu NAME         (a cabinet) its processor family: arm, mips, shx or intel; with --inf,\n"
    "                     the INF's processor label\n"
    "  --inf FILE.inf     (a cabinet) the CAB wizard's INF it was made from\n"
    "  --codepage N       (a cabinet) the device's code page, in which its names are read (and,\n"
    "                     with --inf, an 8-bit INF); default 1252\n"
    "  --quiet            print nothing when all checks hold\n";

constexpr std::uint32_t kKnownFlags = FLAG_SHORTCUT | FLAG_ALL_PLATFORMS | FLAG_EULA;
constexpr std::uint32_t kChunk = 65536;

bool Terminated(const TextField& field) { return FieldText(field).size() < kTextUnits; }

std::string Entry(std::size_t i) { return "file " + std::to_string(i) + ": "; }

void CheckHeader(const PackageInput& in, Findings& f) {
    const PackageHeader& h = in.header;
    if (h.count < 1) {
        f.Fail("count is 0; a package holds at least one file");
    }
    const std::array<std::pair<const TextField*, std::string_view>, 5> texts{{{&h.sourceFolder, "sourceFolder"},
                                                                              {&h.installFolder, "installFolder"},
                                                                              {&h.programName, "programName"},
                                                                              {&h.imageFile, "imageFile"},
                                                                              {&h.buildCommand, "buildCommand"}}};
    for (const auto& [field, name] : texts) {
        if (!Terminated(*field)) {
            f.Fail("header text " + std::string(name) + " has no terminator");
        }
    }
}

// Returns the sum of the members' sizes.
std::uint64_t CheckTable(const PackageInput& in, Findings& f) {
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        const PackageEntry& e = in.entries[i];
        if (!Terminated(e.filename)) {
            f.Fail(Entry(i) + "filename has no terminator");
        }
        if (!Terminated(e.shortcutName)) {
            f.Fail(Entry(i) + "shortcutName has no terminator");
        }
        if (e.offset != next) {
            f.Fail(Entry(i) + "offset is " + std::to_string(e.offset) + ", expected " + std::to_string(next) +
                   " (offsets must follow one another)");
        }
        if (e.flags & ~kKnownFlags) {
            f.Fail(Entry(i) + "flags " + std::to_string(e.flags) + " hold bits other than 1, 2, 4, 8, 16 and 64");
        }
        next += e.size;
    }
    return next;
}

// A workspace file describes no data, so its data offset, total size and length are not checked.
void CheckData(const PackageInput& in, std::uint64_t sizes, Findings& f) {
    const PackageHeader& h = in.header;
    if (h.dataOffset != in.TableEnd()) {
        f.Fail("dataOffset is " + std::to_string(h.dataOffset) +
               ", expected 2620 + count x 1052 = " + std::to_string(in.TableEnd()));
    }
    if (h.totalSize != sizes) {
        f.Fail("totalSize is " + std::to_string(h.totalSize) + ", the files' sizes add up to " + std::to_string(sizes));
    }
    if (in.TableEnd() + sizes >= kFormatLimit) {
        f.Fail("the package (header, table and files) is 2 GB or more, beyond what the format can address");
    }
    std::uint64_t expected = std::uint64_t{h.dataOffset} + h.totalSize;
    if (in.length != expected) {
        f.Fail(std::string(in.kind == InputKind::Installer ? "the resource" : "the file") + " is " +
               std::to_string(in.length) +
               " bytes long, expected dataOffset + totalSize = " + std::to_string(expected));
    }
}

// Compares one member with its source file chunk by chunk.
void CompareMember(PackageInput& in, std::size_t i, std::u16string_view folder, Findings& f) {
    const PackageEntry& e = in.entries[i];
    std::u16string sourcePath;
    Error error;
    if (!FindMember(folder, FieldText(in.header.sourceFolder), FieldText(e.filename), sourcePath, error)) {
        f.Fail(Entry(i) + platform::ToUtf8(FieldText(e.filename)) + ": " + error.message);
        return;
    }
    platform::File source = platform::File::OpenRead(sourcePath, platform::Share::Read);
    std::uint64_t size = 0;
    if (!source.IsOpen() || !source.Size(size)) {
        f.Fail(Entry(i) + platform::ToUtf8(sourcePath) + " " + platform::CannotOpenCause(sourcePath));
        return;
    }
    if (size != e.size) {
        f.Fail(Entry(i) + platform::ToUtf8(sourcePath) + " is " + std::to_string(size) + " bytes, the package holds " +
               std::to_string(e.size));
        return;
    }
    std::vector<std::uint8_t> stored(kChunk), original(kChunk);
    std::uint64_t position = in.TableEnd() + e.offset;
    for (std::uint32_t done = 0; done < e.size;) {
        std::uint32_t n = std::min(kChunk, e.size - done);
        if (!in.ReadAt(position + done, stored.data(), n)) {
            f.Fail(Entry(i) + ReadStopCause("its data lies beyond the end of the package"));
            return;
        }
        if (!ReadFully(source, original.data(), n)) {
            std::string reason = platform::SystemReason();
            if (!reason.empty()) {
                f.Fail(Entry(i) + platform::ToUtf8(sourcePath) + " cannot be read (" + reason + ")");
                return;
            }
        }
        if (!std::equal(stored.begin(), stored.begin() + n, original.begin())) {
            f.Fail(Entry(i) + "differs from " + platform::ToUtf8(sourcePath) + " within bytes " + std::to_string(done) +
                   " to " + std::to_string(done + n - 1));
            return;
        }
        done += n;
    }
}

// A workspace holds no data to compare; its files must be where a build with --source-folder
// looks for them.
void FindSources(const PackageInput& in, std::u16string_view folder, Findings& f) {
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        std::u16string sourcePath;
        Error error;
        if (!FindMember(folder, FieldText(in.header.sourceFolder), FieldText(in.entries[i].filename), sourcePath,
                        error)) {
            f.Fail(Entry(i) + platform::ToUtf8(FieldText(in.entries[i].filename)) + ": " + error.message);
        } else if (!platform::File::OpenRead(sourcePath, platform::Share::Read).IsOpen()) {
            f.Fail(Entry(i) + platform::ToUtf8(sourcePath) + " " + platform::CannotOpenCause(sourcePath));
        }
    }
}

int RunVerify(const Args& args) {
    if (args.Positional().size() != 1) {
        return UsageError(kVerifyCommand, args.Positional().empty() ? "missing FILE" : "more than one FILE");
    }
    const std::u16string& path = args.Positional()[0];
    if (LooksLikeCabinet(path)) {
        return VerifyCabinet(args);
    }
    if (args.Has("--workspace") || args.Has("--cpu")) {
        return UsageError(kVerifyCommand, "--workspace and --cpu are for a device cabinet (.CAB)");
    }
    PackageInput input;
    if (!LoadInputOrReport(path, input)) {
        return kExitFailure;
    }
    Findings findings(platform::ToUtf8(path));
    CheckHeader(input, findings);
    std::uint64_t sizes = CheckTable(input, findings);
    if (findings.Count() == 0) {
        for (const std::string& problem : InstallProblems(input.header, input.entries)) {
            findings.Fail(problem);
        }
    }
    if (input.kind != InputKind::Workspace) {
        CheckData(input, sizes, findings);
    }
    if (args.Has("--src") && findings.Count() == 0) {
        if (input.kind == InputKind::Workspace) {
            FindSources(input, args.Value("--src"), findings);
        } else {
            for (std::size_t i = 0; i < input.entries.size(); ++i) {
                CompareMember(input, i, args.Value("--src"), findings);
            }
        }
    }
    findings.Summarise();
    if (findings.Count() > 0) {
        return kExitFailure;
    }
    if (!args.Quiet()) {
        Print(platform::ToUtf8(path) + ": ok (" + std::string(KindName(input.kind)) + ", " +
              std::to_string(input.entries.size()) + " files" +
              (!args.Has("--src") ? ""
               : input.kind == InputKind::Workspace
                   ? ", every file found below " + platform::ToUtf8(args.Value("--src"))
                   : ", members match the sources") +
              ")\n");
    }
    return kExitSuccess;
}

} // namespace

const Command kVerifyCommand{"verify", "check a workspace, package, installer or device cabinet", kHelp, kOptions,
                             RunVerify};

} // namespace cli
