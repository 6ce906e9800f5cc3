// Loading the input of the device outputs and reading its members.
#include "cli/device_input.h"

#include "cli/console.h"
#include "cli/installable.h"
#include "cli/workspace_build.h"
#include "device/cabinet_file.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/names.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace cli {
namespace {

// A workspace's members are the files it names (or that were found for them below
// --source-folder), as they are now.
class SourceFiles : public device::MemberSource {
public:
    explicit SourceFiles(const Package& workspace) : workspace_(workspace) {}
    bool Open(std::int32_t index, std::uint32_t size, Error& error) override {
        std::u16string path(workspace_.MemberSource(static_cast<std::uint32_t>(index)));
        file_ = platform::File::OpenRead(path, platform::Share::Read);
        std::uint64_t now = 0;
        if (!file_.IsOpen() || !file_.Size(now)) {
            error = Refusal(platform::ToUtf8(path) + " " + platform::CannotOpenCause(path));
            return false;
        }
        if (now != size) {
            error = Refusal(platform::ToUtf8(path) + " changed while the cabinet was made");
            return false;
        }
        path_ = path;
        return true;
    }
    bool Read(void* buffer, std::uint32_t size, Error& error) override {
        if (!ReadFully(file_, buffer, size)) {
            std::string reason = platform::SystemReason();
            error = reason.empty()
                        ? Refusal(platform::ToUtf8(path_) + " cannot be read, or changed while the cabinet was made")
                        : Error{ErrorCode::CannotRead, {}, platform::ToUtf8(path_) + " cannot be read", reason};
            return false;
        }
        return true;
    }

private:
    const Package& workspace_;
    platform::File file_;
    std::u16string path_;
};

// A package data file's or installer's members are read from it.
class PackageMembers : public device::MemberSource {
public:
    PackageMembers(PackageInput& input, std::u16string_view path) : input_(input), path_(path) {}
    bool Open(std::int32_t index, std::uint32_t size, Error& error) override {
        position_ = input_.TableEnd() + input_.entries[index].offset;
        if (position_ + size > input_.length) {
            error = Refusal("file " + std::to_string(index) + "'s data lies beyond the end of the package");
            return false;
        }
        return true;
    }
    bool Read(void* buffer, std::uint32_t size, Error& error) override {
        if (!input_.ReadAt(position_, buffer, size)) {
            error = Error{ErrorCode::CannotRead,
                          {},
                          "the package " + platform::ToUtf8(path_) + " cannot be read",
                          platform::SystemReason()};
            return false;
        }
        position_ += size;
        return true;
    }

private:
    PackageInput& input_;
    std::u16string path_;
    std::uint64_t position_ = 0;
};

} // namespace

bool DeviceInput::Load(std::u16string_view given, std::u16string_view sourceFolder) {
    path = given;
    std::string cause;
    if (!LoadInput(path, input, cause)) {
        PrintError(Utf8(path), cause);
        return false;
    }
    // The package core opens the file for itself alone, which Windows refuses while this handle is
    // open; a package data file's members are read through a handle opened again after its checks.
    input.file.Close();
    if (input.kind == InputKind::Workspace) {
        if (!OpenWorkspace(path, package, sourceFolder)) {
            return false;
        }
        // Both read the same table, so that a member has one index in each.
        if (package.GetCount() != input.entries.size()) {
            PrintError(Utf8(path), "changed while it was read");
            return false;
        }
        // The cabinet holds the files as they are now, not as they were when the workspace was saved.
        for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
            PackageEntry& entry = input.entries[i];
            std::u16string member(package.MemberSource(i));
            std::uint64_t size = 0;
            if (!platform::MeasureFile(member, size)) {
                PrintError(Utf8(member), platform::CannotOpenCause(member));
                return false;
            }
            if (size >= kFormatLimit) {
                PrintError(Utf8(member), "is 2 GiB or larger, more than a package can hold");
                return false;
            }
            entry.size = static_cast<std::uint32_t>(size);
        }
    } else {
        // The package's own checks: a table whose offsets do not follow one another, or data
        // beyond its end, is refused here rather than read wrongly.
        bool opened = input.kind == InputKind::Installer
                          ? package.OpenPackageAt(path.c_str(), input.start, input.length)
                          : package.OpenPackageFile(path.c_str());
        package.Close();
        if (!opened) {
            PrintError(Utf8(path), "cannot be read: " + Utf8(package.LastError()));
            return false;
        }
        // Members are read from the file again in pieces; an installer's from its package resource.
        std::uint64_t length = 0;
        input.file = platform::File::OpenRead(path, platform::Share::Read);
        bool readable = input.file.IsOpen() && input.file.Size(length);
        if (!readable ||
            (input.kind == InputKind::PackageFile ? length != input.length : length < input.start + input.length)) {
            PrintError(Utf8(path), "cannot be read, or changed while it was read");
            return false;
        }
    }
    if (!ReportInstallProblems(package, path)) {
        return false;
    }
    Error error;
    if (!device::CabinetTime(time, error)) {
        PrintError("SOURCE_DATE_EPOCH", error);
        return false;
    }
    return true;
}

std::unique_ptr<device::MemberSource> DeviceInput::Members() {
    if (input.kind == InputKind::Workspace) {
        return std::make_unique<SourceFiles>(package);
    }
    return std::make_unique<PackageMembers>(input, path);
}

std::u16string DeviceInput::AppName() const { return device::OutputAppName(input.header, path); }

bool ParseCpuList(const Args& args, std::vector<const device::CpuChoice*>& families, std::string& problem) {
    families.clear();
    if (!args.Has("--cpu")) {
        for (const device::CpuChoice& choice : device::kCpuChoices) {
            families.push_back(&choice);
        }
        return true;
    }
    std::u16string list = args.Value("--cpu");
    std::uint32_t chosen = 0;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = std::min(list.find(u',', start), list.size());
        std::u16string_view name = std::u16string_view(list).substr(start, comma - start);
        std::uint32_t flag = device::CpuFlagByName(name);
        if (flag == 0) {
            problem =
                "--cpu: unknown processor family \"" + Utf8(name) + "\" (arm, mips, shx, intel, separated by commas)";
            return false;
        }
        chosen |= flag;
        start = comma + 1;
    }
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        if (chosen & choice.flag) {
            families.push_back(&choice);
        }
    }
    return true;
}

bool CheckProvider(const Args& args, std::string& problem) {
    std::string text;
    if (platform::HasControlCharacter(args.Value("--provider"))) {
        problem = "--provider \"" + Utf8(args.Value("--provider")) +
                  "\" holds a control character (a line break, a tab), which no name may hold";
        return false;
    }
    if (args.Has("--provider") && !device::ToCabinetText(args.Value("--provider"), text)) {
        problem = "--provider \"" + Utf8(args.Value("--provider")) +
                  "\" has a character that cabinets and INF files cannot hold (they take Western Windows text, "
                  "code page 1252)";
        return false;
    }
    return true;
}

bool PlanFamilies(const Args& args, const DeviceInput& in, const std::vector<const device::CpuChoice*>& families,
                  std::string_view kind, std::u16string_view extension, std::vector<FamilyOutput>& outputs) {
    for (const device::CpuChoice* family : families) {
        FamilyOutput out{family, {}, {}};
        Error error;
        if (!device::PlanInstall(in.input.header, in.input.entries, family->flag, out.plan, error)) {
            PrintError(Utf8(in.path), error);
            return false;
        }
        std::string name = Utf8(family->name);
        if (out.plan.files.empty()) {
            if (args.Has("--cpu")) {
                PrintError(Utf8(in.path),
                           "has no files for " + name + "; no " + std::string(kind) + " can be made for it");
                return false;
            }
            if (!args.Quiet()) {
                PrintErrorLine("note: " + Utf8(in.path) + " has no files for " + name + "; no " + name + " " +
                               std::string(kind) + " made");
            }
            continue;
        }
        out.path = platform::JoinHostPath(args.Value("-d"), device::FamilyOutputName(in.AppName(), *family, extension));
        outputs.push_back(std::move(out));
    }
    return true;
}

bool PrepareOutputs(const Args& args, DeviceInput& in, const std::vector<FamilyOutput>& outputs,
                    platform::Destination& made) {
    const std::u16string folder = args.Value("-d");
    Error error;
    if (!made.Make(folder, error)) {
        if (error.code != ErrorCode::Refused) {
            error.message = "cannot make the output folder";
        }
        PrintError(Utf8(folder), error);
        return false;
    }
    for (const FamilyOutput& out : outputs) {
        if (!CheckOutput(out.path, args.Has("--force"), {{in.path, "the input"}}, &in.package)) {
            return false;
        }
    }
    return true;
}

} // namespace cli
