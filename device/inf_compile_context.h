// What the parts of the INF compiler share while one INF is compiled for one label: the request,
// the strings, the device folders met so far, the messages. Not for use outside device/inf_*.
#pragma once

#include "device/inf_compile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace device::inf {

// A folder on the device as an INF writes it: below the install folder (%InstallDir%), below a
// folder macro of the device (%CE2%), or from the device's root (\Temp).
struct DevicePath {
    enum class Kind { InstallDir, Macro, Root } kind = Kind::InstallDir;
    std::uint16_t macro = 0;         // n of %CEn%
    std::vector<std::u16string> parts; // the names below it; for Root the first is the one below the root
};

// A [DestinationDirs] entry.
struct Destination {
    std::size_t line = 0;
    bool valid = false;
    DevicePath path;
};

// Keys of a section ([Version], [CEDevice], [DefaultInstall]...), the labelled section's keys
// merged over the plain one's.
struct Directive {
    std::u16string name;
    std::vector<const Line*> lines; // more than one only for a list-valued key given twice
};

class CompileContext {
public:
    CompileContext(const Document& document, const CompileRequest& request, SourceFinder& finder,
                   CompiledInf& compiled)
        : document(document), request(request), finder(finder), compiled(compiled), design(compiled.design) {}

    const Document& document;
    const CompileRequest& request;
    SourceFinder& finder;
    CompiledInf& compiled;
    CabinetDesign& design;

    void Problem(std::size_t line, std::string text);
    void Warn(std::size_t line, std::string text);
    bool Failed() const { return !problems_.empty(); }
    // Every message, "NAME.inf:LINE: ...", in line order.
    std::vector<std::string> Problems() const;
    std::vector<std::string> Warnings() const;

    // The section `base` and, for the label, `base.LABEL` (null for a section no label follows).
    const Section* Plain(std::u16string_view base) const { return document.Find(base); }
    const Section* Labelled(std::u16string_view base) const;
    // The keys of `base` with those of `base.LABEL` over them. `lists` are the keys whose values add
    // up when a section gives them twice; `added` those whose labelled value is added to the plain
    // one instead of replacing it. `known` are the keys the compiler reads; others are named.
    std::vector<Directive> Directives(std::u16string_view base, std::initializer_list<std::u16string_view> known,
                                      std::initializer_list<std::u16string_view> lists,
                                      std::initializer_list<std::u16string_view> added = {});

    // [Strings] and [CEStrings] read, the install folder known.
    void ReadStrings();
    // The field with every %name% replaced, the device's macros kept; names defined nowhere are
    // warned of and kept.
    std::u16string Expand(const Field& field, std::size_t line, bool warn = true);
    std::optional<std::u16string> installDir; // as written, strings replaced

    // A device folder as the INF writes it. False with the problem reported.
    bool ParseDevicePath(std::u16string_view text, std::size_t line, DevicePath& path);
    // The folder's place in design.folders, added when new.
    std::size_t FolderOf(const DevicePath& path);

    // The list's [DestinationDirs] entry, or DefaultDestDir's; null when neither is there.
    const Destination* DestinationOf(std::u16string_view list) const;
    std::unordered_map<std::u16string, Destination> destinations; // by folded list name
    std::vector<std::u16string> destinationOrder;                 // their keys, in line order

    // The source `name` as the copy line `line` names it: its place in the list of sources (from 1)
    // and in compiled.sources. False with the problem reported.
    bool Source(std::u16string_view name, std::size_t line, std::uint16_t& index, std::int32_t& member);
    void ReadSources();

private:
    struct Message {
        std::size_t line;
        std::string text;
    };
    std::vector<Message> problems_, warnings_;
    std::unordered_map<std::u16string, std::u16string> strings_; // [Strings], by folded name
    std::u16string appName_;
    std::unordered_map<std::u16string, std::size_t> folders_; // by folded path

    struct Disk {
        std::size_t line = 0;
        std::u16string path;
        int placed = 0; // 0 not yet, 1 placed, -1 failed
        SourceFolder place;
    };
    struct SourceFile {
        std::u16string name;
        std::size_t line = 0;
        std::uint32_t disk = 0;
        std::u16string subfolder;
        std::uint32_t index = 0;
        std::int32_t member = -1; // -2 when it was looked for and not found
    };
    std::vector<std::pair<std::uint32_t, Disk>> disks_; // by id, ascending
    std::vector<SourceFile> sourceFiles_;
    std::unordered_map<std::u16string, std::size_t> sourceByName_; // folded name -> sourceFiles_
    Disk* DiskOf(std::uint32_t id);
    bool PlaceDisk(Disk& disk);
    bool FindOnDisks(std::u16string_view name, std::size_t line, SourceFile& file);
    void ReadSourceFiles(const Section* section);
};

// The sections a processor label may follow: [CEDevice.ARMV4I] and so on.
inline constexpr std::u16string_view kLabelledKinds[] = {u"CEDevice", u"DefaultInstall", u"SourceDisksNames",
                                                         u"SourceDisksFiles"};
bool IsLabelledKind(std::u16string_view base);

// A list a directive names ("CopyFiles = Files.A, Files.B"), with the line naming it.
struct ListName {
    std::u16string name;
    std::size_t line = 0;
};
class CompileContext;
const Directive* FindDirective(const std::vector<Directive>& directives, std::u16string_view name);
std::vector<ListName> ListNames(CompileContext& c, const std::vector<Directive>& install, std::u16string_view key);

// Text for messages.
std::string Say(std::u16string_view text);
// A number as INF files write them: decimal, or hexadecimal after 0x.
bool ParseNumber(std::u16string_view text, std::uint32_t& value);
// A file or folder name as Windows compares it: upper-cased, every letter, not only ASCII's.
std::u16string FileKey(std::u16string_view name);
// Whether the name may be a file's or a shortcut's name on the device.
bool IsDeviceName(std::u16string_view name);
std::string Hex(std::uint32_t value);

// The registry and shortcut lists, read once the files are numbered.
void CompileRegistry(CompileContext& context, const std::vector<Directive>& install);
void CompileShortcuts(CompileContext& context, const std::vector<Directive>& install);

} // namespace device::inf
