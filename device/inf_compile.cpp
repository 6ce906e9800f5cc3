// Compiling a CAB-wizard INF for one label: [Version], [CEStrings], [CEDevice], [DefaultInstall],
// [DestinationDirs] and the copy lists here; sources, registry and shortcuts in their own files.
#include "device/inf_compile.h"

#include "device/cabinet.h"
#include "device/inf_compile_context.h"
#include "device/layout.h"
#include "platform/text.h"

#include <algorithm>
#include <unordered_set>

namespace device::inf {
namespace {

void ReadVersion(CompileContext& c) {
    const Section* version = c.Plain(u"Version");
    std::vector<Directive> keys = c.Directives(u"Version", {u"Signature", u"CESignature", u"Provider"}, {});
    const Directive* signature = FindDirective(keys, u"CESignature");
    if (signature == nullptr) {
        c.Problem(version ? version->number : 0,
                  version ? "[Version] has no CESignature = \"$Windows CE$\", which marks an INF for Windows CE"
                          : "no [Version] section with CESignature = \"$Windows CE$\", which marks an INF for Windows "
                            "CE");
    } else if (!SameName(signature->lines.front()->fields.front().text, u"$Windows CE$")) {
        c.Problem(signature->lines.front()->number,
                  "CESignature is \"" + Say(signature->lines.front()->fields.front().text) +
                      "\"; an INF for Windows CE has \"$Windows CE$\"");
    }
    if (const Directive* provider = FindDirective(keys, u"Provider")) {
        c.design.provider = c.Expand(provider->lines.front()->fields.front(), provider->lines.front()->number);
    } else {
        c.Warn(version ? version->number : 0, "no Provider in [Version]; the cabinet names none");
    }
}

// A version as MAJOR.MINOR, each a decimal number: "4.20" is 4, 20 and "4.2" is 4, 2.
bool ParseVersion(std::u16string_view text, std::uint32_t (&version)[2]) {
    auto decimal = [](std::u16string_view digits, std::uint32_t& value) {
        return std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }) &&
               ParseNumber(digits, value);
    };
    std::size_t dot = text.find(u'.');
    version[1] = 0;
    return decimal(text.substr(0, dot), version[0]) &&
           (dot == std::u16string_view::npos || decimal(text.substr(dot + 1), version[1]));
}

void ReadDevice(CompileContext& c) {
    std::vector<Directive> keys =
        c.Directives(u"CEDevice",
                     {u"ProcessorType", u"VersionMin", u"VersionMax", u"BuildMin", u"BuildMax", u"UnsupportedPlatforms"},
                     {u"UnsupportedPlatforms"}, {u"UnsupportedPlatforms"});
    for (const Directive& d : keys) {
        const Line& line = *d.lines.front();
        std::u16string value = c.Expand(line.fields.front(), line.number);
        if (SameName(d.name, u"UnsupportedPlatforms")) {
            for (const Line* each : d.lines) {
                for (const Field& field : each->fields) {
                    if (std::u16string name = c.Expand(field, each->number); !name.empty()) {
                        c.design.unsupported.push_back(std::move(name));
                    }
                }
            }
            continue;
        }
        bool ok = true;
        if (SameName(d.name, u"VersionMin") || SameName(d.name, u"VersionMax")) {
            auto& version = SameName(d.name, u"VersionMin") ? c.design.limits.versionMin : c.design.limits.versionMax;
            ok = value.empty() || ParseVersion(value, version);
            if (value.empty()) {
                version[0] = version[1] = 0;
            }
        } else {
            std::uint32_t number = 0;
            ok = value.empty() || ParseNumber(value, number);
            (SameName(d.name, u"ProcessorType") ? c.design.processorType
             : SameName(d.name, u"BuildMin")    ? c.design.limits.buildMin
                                                : c.design.limits.buildMax) = number;
        }
        if (!ok) {
            c.Problem(line.number, Say(d.name) + " is " + Say(value) + ", which is not " +
                                       (SameName(d.name, u"VersionMin") || SameName(d.name, u"VersionMax")
                                            ? "a version MAJOR.MINOR (\"4.20\")"
                                            : "a number (decimal, or hexadecimal after 0x) below 2^32"));
        }
    }
    if (!c.request.label.empty() && c.Labelled(u"CEDevice") == nullptr) {
        std::vector<std::u16string> labels = InfLabels(c.document);
        bool others = std::any_of(labels.begin(), labels.end(), [&](const std::u16string& label) {
            return c.document.Find(u"CEDevice." + label) != nullptr;
        });
        if (others) {
            c.Warn(0, "no [CEDevice." + Say(c.request.label) + "]: the cabinet for " + Say(c.request.label) +
                          (c.Plain(u"CEDevice") ? " takes [CEDevice] alone" : " installs on any processor"));
        }
    }
}

void ReadInstallFolder(CompileContext& c) {
    const Section* ceStrings = c.Plain(u"CEStrings");
    std::size_t where = ceStrings ? ceStrings->number : 0;
    if (c.design.appName.empty()) {
        c.Problem(where, "no AppName in [CEStrings]: the device names the application by it");
    }
    if (!c.installDir) {
        c.design.installDir = u"%CE1%\\" + c.design.appName;
        c.Warn(where, "no InstallDir in [CEStrings] or [Strings]; the install folder is " + Say(c.design.installDir));
        return;
    }
    DevicePath path;
    std::size_t line = where;
    if (const Section* strings = ceStrings) {
        for (const Line& l : strings->lines) {
            if (l.key && SameName(l.key->text, u"InstallDir")) {
                line = l.number;
            }
        }
    }
    if (!c.ParseDevicePath(*c.installDir, line, path)) {
        return;
    }
    if (path.kind == DevicePath::Kind::InstallDir) {
        c.Problem(line, "InstallDir cannot be below %InstallDir%, itself");
        return;
    }
    std::u16string text = path.kind == DevicePath::Kind::Macro ? MacroText(path.macro) : u"";
    for (const std::u16string& part : path.parts) {
        text += u"\\" + part;
    }
    c.design.installDir = std::move(text);
}

void ReadDestinations(CompileContext& c) {
    const Section* section = c.Plain(u"DestinationDirs");
    if (section == nullptr) {
        return;
    }
    for (const Line& line : section->lines) {
        if (!line.key) {
            c.Warn(line.number, "a line without a key in [DestinationDirs] is ignored");
            continue;
        }
        std::u16string list = c.Expand(*line.key, line.number);
        auto [place, added] = c.destinations.try_emplace(FoldName(list));
        if (!added) {
            c.Problem(line.number, Say(list) + " is given twice in [DestinationDirs] (first on line " +
                                       std::to_string(place->second.line) + ")");
            continue;
        }
        Destination& d = place->second;
        d.line = line.number;
        c.destinationOrder.push_back(place->first);
        const std::u16string& dirid = line.fields[0].text;
        std::uint32_t number = 0;
        if (!dirid.empty() && !(ParseNumber(dirid, number) && number == 0)) {
            c.Problem(line.number, "the folder number " + Say(dirid) +
                                       " is not supported: write 0 followed by the device folder "
                                       "(%InstallDir%\\..., %CEn%\\... or \\...)");
            continue;
        }
        if (line.fields.size() < 2 || line.fields[1].text.empty()) {
            c.Problem(line.number, "the entry of " + Say(list) + " names no folder after its 0");
            continue;
        }
        for (std::size_t i = 2; i < line.fields.size(); ++i) {
            if (!line.fields[i].text.empty()) {
                c.Warn(line.number, "fields after the folder are ignored: " + Say(line.fields[i].text));
                break;
            }
        }
        d.valid = c.ParseDevicePath(c.Expand(line.fields[1], line.number), line.number, d.path);
    }
}

// Folders from 2 in [DestinationDirs] order, one per distinct path: every entry of a list the
// INF installs from or makes shortcuts with, whether or not anything lands there, as the wizard
// numbers them. Entries of lists nothing names get none.
void NumberFolders(CompileContext& c, const std::vector<ListName>& lists) {
    std::unordered_set<std::u16string> named;
    bool defaultUsed = false;
    for (const ListName& list : lists) {
        named.insert(FoldName(list.name));
        defaultUsed = defaultUsed || !c.destinations.count(FoldName(list.name));
    }
    for (const std::u16string& key : c.destinationOrder) {
        const Destination& d = c.destinations.at(key);
        if (d.valid && (named.count(key) || (defaultUsed && key == u"defaultdestdir"))) {
            c.FolderOf(d.path);
        }
    }
}

void CompileCopyList(CompileContext& c, const ListName& list,
                     std::unordered_map<std::u16string, std::size_t>& installed) {
    const Section* section = c.document.Find(list.name);
    if (section == nullptr) {
        c.Problem(list.line, "CopyFiles names [" + Say(list.name) + "], which the INF does not have");
        return;
    }
    const Destination* destination = c.DestinationOf(list.name);
    if (destination == nullptr) {
        c.Problem(list.line, "[DestinationDirs] has no entry for " + Say(list.name) + ", nor a DefaultDestDir");
        return;
    }
    if (!destination->valid) {
        return;
    }
    std::size_t folder = c.FolderOf(destination->path);
    for (const Line& line : section->lines) {
        std::vector<Field> fields = ListFields(line);
        std::u16string name = c.Expand(fields[0], line.number);
        std::u16string source = fields.size() > 1 && !fields[1].text.empty() ? c.Expand(fields[1], line.number) : name;
        if (fields.size() > 2 && !fields[2].text.empty()) {
            c.Warn(line.number, "the third field is unused (flags go in the fourth): " + Say(fields[2].text) +
                                    " ignored");
        }
        std::uint32_t flags = 0;
        if (fields.size() > 3 && !fields[3].text.empty() && !ParseNumber(fields[3].text, flags)) {
            c.Problem(line.number, "the copy flags " + Say(fields[3].text) + " are not a number");
            continue;
        }
        if (fields.size() > 4 && std::any_of(fields.begin() + 4, fields.end(), [](const Field& f) {
                return !f.text.empty();
            })) {
            c.Warn(line.number, "fields after the fourth (the flags) are ignored");
        }
        if (!IsDeviceName(name)) {
            c.Problem(line.number, "\"" + Say(name) + "\" is not a file name Windows CE can hold");
            continue;
        }
        if ((flags & ~kCopyKnownFlags) != 0) {
            c.Problem(line.number, "the copy flags " + Hex(flags) + " hold bits the CAB wizard does not know (" +
                                       Hex(flags & ~kCopyKnownFlags) + ")");
            continue;
        }
        if ((flags & kCopyNoOverwrite) && (flags & kCopyReplaceOnly)) {
            c.Warn(line.number, "the copy flags 0x00000010 (never overwrite) and 0x00000400 (only replace) exclude "
                                "each other");
        }
        if ((flags & kCopyNoDateDialog) && (flags & kCopyNoDateCheck)) {
            c.Warn(line.number, "the copy flags 0x20000000 (no date dialog) and 0x40000000 (no date check) exclude "
                                "each other");
        }
        std::u16string key = platform::ToUtf16(std::to_string(folder)) + u"\\" + FileKey(name);
        if (auto [place, added] = installed.try_emplace(key, line.number); !added) {
            c.Problem(line.number, Say(name) + " is copied twice into one folder (also on line " +
                                       std::to_string(place->second) + ")");
            continue;
        }
        DesignFile file;
        file.name = std::move(name);
        file.folder = folder;
        file.flags = flags;
        // A file whose source is missing still counts as installed, so that its shortcuts and
        // CESelfRegister do not add a second message for the one mistake.
        c.Source(source, line.number, file.source, file.member);
        c.design.files.push_back(std::move(file));
    }
}

void CompileSetup(CompileContext& c, const std::vector<Directive>& install) {
    if (const Directive* setup = FindDirective(install, u"CESetupDLL")) {
        const Line& line = *setup->lines.front();
        std::u16string name = c.Expand(line.fields.front(), line.number);
        if (name.empty()) {
            return; // CESetupDLL = "" says there is none
        }
        DesignFile file;
        if (!IsDeviceName(name)) {
            c.Problem(line.number, "the setup DLL \"" + Say(name) + "\" is not a file name Windows CE can hold");
        } else if (c.Source(name, line.number, file.source, file.member)) {
            file.name = std::move(name);
            c.design.setupDll = std::move(file);
        }
    }
}

void CompileSelfRegister(CompileContext& c, const std::vector<Directive>& install) {
    std::unordered_map<std::u16string, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < c.design.files.size(); ++i) {
        byName[FileKey(c.design.files[i].name)].push_back(i);
    }
    for (const ListName& dll : ListNames(c, install, u"CESelfRegister")) {
        auto found = byName.find(FileKey(dll.name));
        if (found == byName.end()) {
            c.Problem(dll.line, "CESelfRegister names " + Say(dll.name) + ", which no copy list installs");
            continue;
        }
        for (std::size_t i : found->second) {
            c.design.files[i].flags |= kCopySelfRegister;
        }
    }
}

// Sections the compiler never reads are named, so that nothing an INF says is dropped unseen.
void NameUnusedSections(CompileContext& c) {
    std::unordered_set<std::u16string> used{u"version", u"cestrings", u"strings", u"destinationdirs"};
    for (const Section& section : c.document.sections) {
        std::u16string folded = FoldName(section.name);
        if (folded.rfind(u"defaultinstall", 0) != 0) {
            continue;
        }
        for (const Line& line : section.lines) {
            if (line.key && (SameName(line.key->text, u"CopyFiles") || SameName(line.key->text, u"AddReg") ||
                             SameName(line.key->text, u"CEShortcuts"))) {
                for (const Field& field : line.fields) {
                    used.insert(FoldName(c.Expand(field, 0, false)));
                }
            }
        }
    }
    for (const Section& section : c.document.sections) {
        std::u16string folded = FoldName(section.name);
        if (used.count(folded)) {
            continue;
        }
        std::size_t dot = folded.find(u'.');
        if (dot != std::u16string::npos && IsLabelledKind(std::u16string_view(folded).substr(0, dot))) {
            continue;
        }
        if (IsLabelledKind(folded)) {
            continue;
        }
        if (folded.rfind(u"platform.", 0) == 0) {
            c.Warn(section.number, "[" + Say(section.name) +
                                       "] is for the CAB wizard's /platform option, which tarvelo-build does not "
                                       "support; ignored");
        } else {
            c.Warn(section.number, "[" + Say(section.name) + "] is named by no directive; ignored");
        }
    }
}

} // namespace

std::vector<std::u16string> InfLabels(const Document& document) {
    std::vector<std::u16string> labels;
    std::unordered_set<std::u16string> seen;
    for (const Section& section : document.sections) {
        std::size_t dot = section.name.find(u'.');
        if (dot == std::u16string::npos || dot + 1 == section.name.size() ||
            !IsLabelledKind(std::u16string_view(section.name).substr(0, dot))) {
            continue;
        }
        std::u16string label = section.name.substr(dot + 1);
        if (seen.insert(FoldName(label)).second) {
            labels.push_back(std::move(label));
        }
    }
    return labels;
}

bool CompileInf(const Document& document, const CompileRequest& given, SourceFinder& finder, CompiledInf& compiled,
                std::vector<std::string>& problems) {
    compiled = {};
    problems.clear();
    CompileRequest request = given;
    CompileContext c(document, request, finder, compiled);
    if (!request.label.empty()) {
        std::vector<std::u16string> labels = InfLabels(document);
        auto known = std::find_if(labels.begin(), labels.end(),
                                  [&](const std::u16string& l) { return SameName(l, request.label); });
        if (known != labels.end()) {
            request.label = *known; // messages name the INF's own sections
        } else {
            std::string names;
            for (const std::u16string& l : labels) {
                names += (names.empty() ? "" : ", ") + Say(l);
            }
            c.Problem(0, "no section is for the processor label " + Say(request.label) +
                             (names.empty() ? "; the INF has no labels" : "; its labels are " + names));
            problems = c.Problems();
            return false;
        }
    }
    c.ReadStrings();
    ReadVersion(c);
    ReadInstallFolder(c);
    ReadDevice(c);
    std::vector<Directive> install = c.Directives(
        u"DefaultInstall", {u"CopyFiles", u"AddReg", u"CEShortcuts", u"CESetupDLL", u"CESelfRegister"},
        {u"CopyFiles", u"AddReg", u"CEShortcuts", u"CESelfRegister"});
    if (c.Plain(u"DefaultInstall") == nullptr && c.Labelled(u"DefaultInstall") == nullptr) {
        c.Problem(0, "no [DefaultInstall] section: nothing says what to install");
    }
    ReadDestinations(c);
    c.ReadSources();

    std::vector<ListName> copyLists = ListNames(c, install, u"CopyFiles");
    std::vector<ListName> foldersNamed = copyLists;
    for (const ListName& list : ListNames(c, install, u"CEShortcuts")) {
        foldersNamed.push_back(list);
    }
    NumberFolders(c, foldersNamed);
    std::unordered_map<std::u16string, std::size_t> installed;
    for (const ListName& list : copyLists) {
        CompileCopyList(c, list, installed);
    }
    CompileSetup(c, install);
    CompileSelfRegister(c, install);
    CompileRegistry(c, install);
    CompileShortcuts(c, install);
    NameUnusedSections(c);

    // File numbers run 1 to 65,535 past 999, the setup DLL's, and the manifest is a file too.
    std::size_t files = compiled.design.files.size() + (compiled.design.setupDll ? 1 : 0) + 1;
    if (files > kMostCabinetFiles) {
        c.Problem(0, "the INF installs " + std::to_string(compiled.design.files.size()) +
                         " files; a cabinet holds at most " + std::to_string(kMostCabinetFiles - files +
                                                                            compiled.design.files.size()));
    }
    compiled.warnings = c.Warnings();
    if (c.Failed()) {
        problems = c.Problems();
        return false;
    }
    return true;
}

} // namespace device::inf
