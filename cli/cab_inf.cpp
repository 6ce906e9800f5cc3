// tarvelo-build cab FILE.inf: the CAB wizard's work on any host. The INF is read in the device's
// code page, compiled for each processor label it defines (or those --cpu names), every cabinet
// planned and checked before the first is written, and each written as NAME.CAB or
// NAME.LABEL.CAB beside the INF or in -d, as the wizard names them (with --appmgr, NAME.ini too).
#include "cli/cab_inf.h"

#include "cli/app_manager_output.h"
#include "cli/console.h"
#include "cli/device_options_args.h"
#include "cli/workspace_build.h"
#include "device/cabinet_file.h"
#include "device/inf_compile.h"
#include "device/inf_text.h"
#include "platform/code_page.h"
#include "platform/destination.h"
#include "platform/file.h"
#include "platform/host_paths.h"
#include "platform/text.h"

#include <algorithm>
#include <filesystem>

namespace cli {
namespace {

// An INF names its files, it does not hold them: real ones take a few KiB, one for 40,000 files a
// few MiB.
constexpr std::uint64_t kLongestInf = 64u << 20;

// The sources' bytes, read from their files as the writer asks for them.
class SourceFiles final : public device::MemberSource {
public:
    explicit SourceFiles(const std::vector<std::u16string>& paths) : paths_(paths) {}
    bool Open(std::int32_t index, std::uint32_t size, Error& error) override {
        file_ = platform::File::OpenRead(paths_[static_cast<std::size_t>(index)], platform::Share::Read);
        std::uint64_t now = 0;
        if (!file_.IsOpen() || !file_.Size(now)) {
            error = SystemError(ErrorCode::CannotRead, Utf8(paths_[static_cast<std::size_t>(index)]), "cannot be read");
            return false;
        }
        if (now != size) {
            error = Refusal(Utf8(paths_[static_cast<std::size_t>(index)]) + " changed while the cabinet was written");
            return false;
        }
        path_ = paths_[static_cast<std::size_t>(index)];
        return true;
    }
    bool Read(void* buffer, std::uint32_t size, Error& error) override {
        std::uint32_t got = 0;
        if (!file_.Read(buffer, size, got) || got != size) {
            error = SystemError(ErrorCode::CannotRead, Utf8(path_), "cannot be read");
            return false;
        }
        return true;
    }

private:
    const std::vector<std::u16string>& paths_;
    platform::File file_;
    std::u16string path_;
};

bool IdBefore(const platform::FileId& a, const platform::FileId& b) {
    return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

struct InfCabinet {
    std::u16string label; // as the INF spells it; empty for none
    device::inf::CompiledInf compiled;
    std::u16string path;
};

bool ReadInfFile(const std::u16string& path, std::vector<std::uint8_t>& bytes) {
    Error error;
    if (!ReadBoundedFile(path, kLongestInf, bytes, error)) {
        PrintError(Utf8(path), error);
        return false;
    }
    return true;
}

// The labels to build: those --cpu names, as the INF spells them, or every one the INF defines
// (one cabinet without a label when it defines none).
bool ChooseLabels(const Args& args, const std::vector<std::u16string>& defined, std::vector<std::u16string>& chosen,
                  std::string& problem) {
    if (!args.Has("--cpu")) {
        chosen = defined.empty() ? std::vector<std::u16string>{u""} : defined;
        return true;
    }
    std::u16string list = args.Value("--cpu");
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = std::min(list.find(u',', start), list.size());
        std::u16string name = list.substr(start, comma - start);
        auto found = std::find_if(defined.begin(), defined.end(),
                                  [&](const std::u16string& label) { return device::inf::SameName(label, name); });
        if (found == defined.end()) {
            std::string known;
            for (const std::u16string& label : defined) {
                known += (known.empty() ? "" : ", ") + Utf8(label);
            }
            problem = "--cpu: the INF defines no label \"" + Utf8(name) + "\" (" +
                      (known.empty() ? std::string("it defines none; leave --cpu out") : "it defines " + known) + ")";
            return false;
        }
        if (std::find(chosen.begin(), chosen.end(), *found) == chosen.end()) {
            chosen.push_back(*found);
        }
        start = comma + 1;
    }
    return true;
}

// Each source's size, which the cabinet's tables give before its bytes, and its identity, by which
// a cabinet about to be written is told from the sources. One look per file: an INF of thousands
// of files spent more in opening each one here, and in resolving every path for the comparison,
// than in copying them.
bool MeasureSources(InfCabinet& cabinet, std::vector<platform::FileId>& identities) {
    std::vector<std::uint32_t> sizes;
    for (const std::u16string& source : cabinet.compiled.sources) {
        platform::FileStamp stamp;
        if (!platform::MeasureFile(source, stamp)) {
            PrintError(Utf8(source), SystemError(ErrorCode::CannotRead, {}, "cannot be read"));
            return false;
        }
        identities.push_back(stamp.id);
        const std::uint64_t size = stamp.size;
        if (size > 0x7FFFFFFF) {
            PrintError(Utf8(source), "takes " + std::to_string(size) + " bytes; a device cabinet holds at most 2 GiB");
            return false;
        }
        sizes.push_back(static_cast<std::uint32_t>(size));
    }
    device::CabinetDesign& design = cabinet.compiled.design;
    for (device::DesignFile& file : design.files) {
        file.size = sizes[static_cast<std::size_t>(file.member)];
    }
    if (design.setupDll) {
        design.setupDll->size = sizes[static_cast<std::size_t>(design.setupDll->member)];
    }
    return true;
}

bool ReadDocument(const std::u16string& path, unsigned codePage, device::inf::Document& document) {
    std::vector<std::uint8_t> bytes;
    if (!ReadInfFile(path, bytes)) {
        return false;
    }
    std::u16string text;
    if (!device::inf::DecodeInf(bytes, text, codePage)) {
        PrintError(Utf8(path), "is UTF-16 text cut in the middle of a character");
        return false;
    }
    document = device::inf::ReadInf(text);
    return true;
}

device::inf::CompileRequest RequestFor(const std::u16string& path, const std::u16string& label,
                                      const std::u16string& sourceFolder) {
    const std::filesystem::path fsInf = platform::FsPath(path);
    device::inf::CompileRequest request{platform::FromFsPath(fsInf.filename()),
                                        platform::FromFsPath(fsInf.parent_path()), label, sourceFolder};
    if (request.infFolder.empty()) {
        request.infFolder = u".";
    }
    return request;
}

} // namespace

bool CompileInfFile(const std::u16string& path, const std::u16string& label, const std::u16string& sourceFolder,
                    unsigned codePage, device::inf::CompiledInf& compiled) {
    device::inf::Document document;
    if (!ReadDocument(path, codePage, document)) {
        return false;
    }
    device::inf::HostSourceFinder finder;
    std::vector<std::string> problems;
    if (!device::inf::CompileInf(document, RequestFor(path, label, sourceFolder), finder, compiled, problems)) {
        for (const std::string& line : problems) {
            PrintErrorLine(line);
        }
        return false;
    }
    compiled.design.codePage = codePage;
    InfCabinet cabinet{label, std::move(compiled), {}};
    std::vector<platform::FileId> identities;
    bool measured = MeasureSources(cabinet, identities);
    compiled = std::move(cabinet.compiled);
    return measured;
}

bool InfFileLabels(const std::u16string& path, unsigned codePage, std::vector<std::u16string>& labels) {
    device::inf::Document document;
    if (!ReadDocument(path, codePage, document)) {
        return false;
    }
    labels = device::inf::InfLabels(document);
    return true;
}

bool IsInfInput(std::u16string_view input) {
    return input.size() > 4 && device::inf::SameName(input.substr(input.size() - 4), u".inf");
}

int RunCabInf(const Args& args, const Command& command) {
    for (const char* option : {"--provider", "--source-prefix", "--os-version", "--build-min", "--build-max",
                               "--unsupported", "--setup-dll", "--registry"}) {
        if (args.Has(option)) {
            return UsageError(command, std::string(option) +
                                           " goes with a workspace, package or installer: an INF says it itself");
        }
    }
    device::DeviceOptions options;
    std::string problem;
    if (!ParseDeviceOptions(args, options, problem)) {
        return UsageError(command, problem);
    }
    const std::u16string infPath = args.Positional()[0];
    const std::filesystem::path fsInf = platform::FsPath(infPath);
    device::inf::Document document;
    if (!ReadDocument(infPath, options.codePage, document)) {
        return kExitFailure;
    }
    std::vector<std::u16string> labels;
    if (!ChooseLabels(args, device::inf::InfLabels(document), labels, problem)) {
        return UsageError(command, problem);
    }

    // Every label compiled and every cabinet checked before anything is written.
    const std::u16string infName = platform::FromFsPath(fsInf.filename());
    const std::u16string stem = platform::FromFsPath(fsInf.stem());
    std::u16string folder = args.Has("-d") ? args.Value("-d") : platform::FromFsPath(fsInf.parent_path());
    if (folder.empty()) {
        folder = u".";
    }
    device::inf::HostSourceFinder finder;
    std::vector<InfCabinet> cabinets;
    std::vector<std::u16string> good, bad;
    std::vector<std::string> problems, warnings;
    for (const std::u16string& label : labels) {
        InfCabinet cabinet{label, {}, {}};
        const device::inf::CompileRequest request = RequestFor(infPath, label, args.Value("--source-folder"));
        std::vector<std::string> found;
        if (!device::inf::CompileInf(document, request, finder, cabinet.compiled, found)) {
            problems.insert(problems.end(), found.begin(), found.end());
            bad.push_back(label);
            continue;
        }
        for (const std::string& warning : cabinet.compiled.warnings) {
            if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) {
                warnings.push_back(warning);
            }
        }
        cabinet.compiled.design.codePage = options.codePage;
        cabinet.path = platform::JoinHostPath(folder, stem + (label.empty() ? u"" : u"." + label) + u".CAB");
        cabinets.push_back(std::move(cabinet));
        good.push_back(label);
    }
    if (!args.Quiet() || !problems.empty()) {
        for (const std::string& warning : warnings) {
            PrintErrorLine(warning);
        }
    }
    if (!problems.empty()) {
        std::vector<std::string> seen;
        for (const std::string& line : problems) {
            if (std::find(seen.begin(), seen.end(), line) == seen.end()) {
                PrintErrorLine(line);
                seen.push_back(line);
            }
        }
        if (!args.Has("--cpu") && !good.empty()) {
            std::string list;
            for (const std::u16string& label : good) {
                list += (list.empty() ? "" : ",") + Utf8(label);
            }
            PrintErrorLine("tarvelo-build: " + Utf8(infPath) + ": nothing was written; the labels that compile: --cpu " +
                           list);
        }
        return kExitFailure;
    }
    std::vector<platform::FileId> sources;
    for (InfCabinet& cabinet : cabinets) {
        if (!MeasureSources(cabinet, sources)) {
            return kExitFailure;
        }
        Error error;
        if (!device::CheckCabinet(cabinet.compiled.design, error)) {
            PrintError(Utf8(infPath) + (cabinet.label.empty() ? "" : " (" + Utf8(cabinet.label) + ")"), error);
            return kExitFailure;
        }
    }
    std::sort(sources.begin(), sources.end(), IdBefore);
    // The Application Manager keeps the program under the INF's AppName, as the device does.
    AppManagerOutput ini;
    std::vector<std::u16string> checked;
    for (const InfCabinet& cabinet : cabinets) {
        checked.push_back(cabinet.path);
    }
    if (args.Has("--appmgr")) {
        std::vector<std::u16string> names;
        for (const InfCabinet& cabinet : cabinets) {
            names.push_back(platform::FromFsPath(platform::FsPath(cabinet.path).filename()));
        }
        if (!PlanAppManagerIni(folder, stem, cabinets.front().compiled.design.appName, names, Utf8(infPath), ini)) {
            return kExitFailure;
        }
        checked.push_back(ini.path);
    }

    platform::Destination made;
    Error error;
    if (!made.Make(folder, error)) {
        if (error.code != ErrorCode::Refused) {
            error.message = "cannot make the output folder";
        }
        PrintError(Utf8(folder), error);
        return kExitFailure;
    }
    for (const std::u16string& output : checked) {
        // The same file by any name (a link, another spelling of its folder) is the same file.
        platform::FileId id;
        if (platform::IdentifyFile(output, id) && std::binary_search(sources.begin(), sources.end(), id, IdBefore)) {
            PrintError(Utf8(output), "is one of the INF's source files; it is not replaced");
            return kExitFailure;
        }
        if (!CheckOutput(output, args.Has("--force"), {{infPath, "the INF"}}, nullptr)) {
            return kExitFailure;
        }
    }
    for (const InfCabinet& cabinet : cabinets) {
        device::CabinetSettings settings;
        settings.compress = args.Has("--compress");
        settings.reserveSignature = args.Has("--reserve-signature");
        if (!device::CabinetTime(settings.time, error)) {
            PrintError("SOURCE_DATE_EPOCH", error);
            return kExitFailure;
        }
        SourceFiles members(cabinet.compiled.sources);
        if (!device::WriteCabinetFile(cabinet.compiled.design, settings, members, cabinet.path, error)) {
            PrintError(error.subject.empty() ? Utf8(cabinet.path) : error.subject, error);
            return kExitFailure;
        }
        if (!args.Quiet()) {
            Print(Utf8(cabinet.path) + "\n");
        }
    }
    if (args.Has("--appmgr") && !WriteAppManagerIni(ini, args.Quiet())) {
        return kExitFailure;
    }
    made.Keep();
    return kExitSuccess;
}

} // namespace cli
