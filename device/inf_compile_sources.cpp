// The INF's sources: the disks of [SourceDisksNames], the files of [SourceDisksFiles] (the label's
// over the plain ones), each file found on this host once, however many copy lines name it.
#include "device/inf_compile_context.h"

#include "platform/host_paths.h"
#include "platform/text.h"

#include <algorithm>
#include <map>

namespace device::inf {
namespace {

std::u16string SectionNames(const CompileRequest& request, std::u16string_view base) {
    std::u16string names = u"[" + std::u16string(base) + u"]";
    if (!request.label.empty()) {
        names = u"[" + std::u16string(base) + u"." + request.label + u"] and " + names;
    }
    return names;
}

} // namespace

void CompileContext::ReadSources() {
    std::map<std::uint32_t, Disk> disks;
    for (const Section* section : {Plain(u"SourceDisksNames"), Labelled(u"SourceDisksNames")}) {
        if (section == nullptr) {
            continue;
        }
        std::map<std::uint32_t, const Line*> here;
        for (const Line& line : section->lines) {
            std::uint32_t id = 0;
            if (!line.key || !ParseNumber(line.key->text, id)) {
                Problem(line.number, "a line of [" + Say(section->name) +
                                         "] must be DISK = ,\"label\",,folder with DISK a number");
                continue;
            }
            // The folder is the fourth field: ,"label",,folder. None is the INF's own folder.
            std::u16string path = line.fields.size() > 3 ? Expand(line.fields[3], line.number) : u"";
            if (auto [place, added] = here.emplace(id, &line); !added) {
                Problem(line.number, "disk " + std::to_string(id) + " is given twice in [" + Say(section->name) +
                                         "] (first on line " + std::to_string(place->second->number) + ")");
                continue;
            }
            disks[id] = Disk{line.number, std::move(path), 0, {}};
        }
    }
    disks_.assign(disks.begin(), disks.end());

    ReadSourceFiles(Plain(u"SourceDisksFiles"));
    ReadSourceFiles(Labelled(u"SourceDisksFiles"));
    for (std::size_t i = 0; i < sourceFiles_.size(); ++i) {
        sourceFiles_[i].index = static_cast<std::uint32_t>(i + 1);
    }
}

void CompileContext::ReadSourceFiles(const Section* section) {
    if (section == nullptr) {
        return;
    }
    std::unordered_map<std::u16string, std::size_t> here;
    for (const Line& line : section->lines) {
        SourceFile file;
        if (!line.key || !ParseNumber(line.fields[0].text, file.disk)) {
            Problem(line.number, "a line of [" + Say(section->name) + "] must be FILE = DISK[,subfolder]");
            continue;
        }
        file.name = Expand(*line.key, line.number);
        file.line = line.number;
        if (line.fields.size() > 1) {
            file.subfolder = Expand(line.fields[1], line.number);
        }
        std::u16string folded = FileKey(file.name);
        if (auto [place, added] = here.emplace(folded, line.number); !added) {
            const SourceFile& first = sourceFiles_[sourceByName_[folded]];
            if (first.disk != file.disk || !SameName(first.subfolder, file.subfolder)) {
                Problem(line.number, Say(file.name) + " is given twice in [" + Say(section->name) +
                                         "] with different disks (first on line " + std::to_string(place->second) +
                                         ")");
            }
            continue;
        }
        // The label's line for a file takes the plain line's place, and its number.
        auto [known, isNew] = sourceByName_.try_emplace(folded, sourceFiles_.size());
        if (isNew) {
            sourceFiles_.push_back(std::move(file));
        } else {
            sourceFiles_[known->second] = std::move(file);
        }
    }
}

CompileContext::Disk* CompileContext::DiskOf(std::uint32_t id) {
    auto found = std::lower_bound(disks_.begin(), disks_.end(), id,
                                  [](const std::pair<std::uint32_t, Disk>& d, std::uint32_t v) { return d.first < v; });
    return found != disks_.end() && found->first == id ? &found->second : nullptr;
}

bool CompileContext::PlaceDisk(Disk& disk) {
    if (disk.placed == 0) {
        std::string problem;
        disk.placed = PlaceSourceFolder(disk.path, request.infFolder, request.sourceFolder, disk.place, problem) ? 1 : -1;
        if (disk.placed < 0) {
            Problem(disk.line, problem);
        }
    }
    return disk.placed > 0;
}

bool CompileContext::FindOnDisks(std::u16string_view name, std::size_t line, SourceFile& file) {
    std::u16string found, where;
    std::string ignored;
    for (auto& [id, disk] : disks_) {
        if (PlaceDisk(disk) &&
            finder.Find(disk.place.base, disk.place.relative + u"\\" + std::u16string(name), found, ignored)) {
            where = u"disk " + platform::ToUtf16(std::to_string(id));
            break;
        }
    }
    if (where.empty() && finder.Find(request.infFolder, name, found, ignored)) {
        where = u"the INF's folder";
    }
    if (where.empty()) {
        Problem(line, Say(name) + " is in no line of " + Say(SectionNames(request, u"SourceDisksFiles")) +
                          ", nor in any source folder");
        return false;
    }
    Warn(line, Say(name) + " is in no line of " + Say(SectionNames(request, u"SourceDisksFiles")) +
                   "; taken from " + Say(where) + ": " + Say(found));
    file.member = static_cast<std::int32_t>(compiled.sources.size());
    compiled.sources.push_back(std::move(found));
    return true;
}

bool CompileContext::Source(std::u16string_view name, std::size_t line, std::uint16_t& index, std::int32_t& member) {
    std::u16string folded = FileKey(name);
    auto known = sourceByName_.find(folded);
    if (known == sourceByName_.end()) {
        SourceFile file{std::u16string(name), line, 0, {}, static_cast<std::uint32_t>(sourceFiles_.size() + 1), -2};
        FindOnDisks(name, line, file);
        known = sourceByName_.emplace(folded, sourceFiles_.size()).first;
        sourceFiles_.push_back(std::move(file));
    }
    SourceFile& file = sourceFiles_[known->second];
    if (file.member == -1) {
        file.member = -2;
        Disk* disk = DiskOf(file.disk);
        if (disk == nullptr) {
            Problem(line, Say(file.name) + " is on disk " + std::to_string(file.disk) + ", which " +
                              Say(SectionNames(request, u"SourceDisksNames")) + " do not define");
        } else if (PlaceDisk(*disk)) {
            std::u16string relative = disk->place.relative + u"\\" + file.subfolder + u"\\" + file.name, found;
            std::string problem;
            if (!finder.Find(disk->place.base, relative, found, problem)) {
                Problem(line, Say(file.name) + ": " + problem);
            } else {
                file.member = static_cast<std::int32_t>(compiled.sources.size());
                compiled.sources.push_back(std::move(found));
            }
        }
    }
    if (file.member < 0) {
        return false;
    }
    if (file.index > 0xFFFF) {
        Problem(line, "a cabinet numbers at most 65,535 sources; " + Say(file.name) + " is number " +
                          std::to_string(file.index));
        return false;
    }
    index = static_cast<std::uint16_t>(file.index);
    member = file.member;
    return true;
}

} // namespace device::inf
