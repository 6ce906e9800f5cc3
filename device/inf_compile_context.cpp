// The INF compiler's shared means: messages with their lines, sections merged over their labelled
// forms, %string% replacement, and the device's folders as an INF writes them.
#include "device/inf_compile_context.h"

#include "device/layout.h"
#include "platform/names.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace device::inf {
namespace {

// The number of a folder macro of the device named without its % signs ("CE2"): 0 for any other
// name.
std::uint16_t MacroNumberOf(std::u16string_view name) { return MacroNumber(u"%" + std::u16string(name) + u"%"); }

bool Contains(std::initializer_list<std::u16string_view> names, std::u16string_view name) {
    return std::any_of(names.begin(), names.end(), [&](std::u16string_view n) { return SameName(n, name); });
}

std::vector<std::u16string> Texts(const std::vector<Field>& fields) {
    std::vector<std::u16string> texts;
    for (const Field& f : fields) {
        texts.push_back(f.text);
    }
    return texts;
}

} // namespace

std::string Say(std::u16string_view text) { return platform::Printable(platform::ToUtf8(text)); }

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

bool ParseNumber(std::u16string_view text, std::uint32_t& value) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    std::uint64_t n = 0;
    for (char16_t c : text) {
        unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 99;
        if (digit >= base) {
            return false;
        }
        n = n * base + digit;
        if (n > 0xFFFFFFFFu) {
            return false;
        }
    }
    value = static_cast<std::uint32_t>(n);
    return true;
}

std::u16string FileKey(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key) {
        c = platform::UpperCaseUnit(c);
    }
    return key;
}

bool IsDeviceName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u".." || platform::NamesDevice(name) ||
        platform::TrimmedComponent(name).empty()) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), platform::ForbiddenInName);
}

const Directive* FindDirective(const std::vector<Directive>& directives, std::u16string_view name) {
    auto found =
        std::find_if(directives.begin(), directives.end(), [&](const Directive& d) { return SameName(d.name, name); });
    return found == directives.end() ? nullptr : &*found;
}

std::vector<ListName> ListNames(CompileContext& c, const std::vector<Directive>& install, std::u16string_view key) {
    std::vector<ListName> names;
    if (const Directive* d = FindDirective(install, key)) {
        for (const Line* line : d->lines) {
            for (const Field& field : line->fields) {
                if (!field.text.empty()) {
                    names.push_back({c.Expand(field, line->number), line->number});
                }
            }
        }
    }
    return names;
}

void CompileContext::Problem(std::size_t line, std::string text) { problems_.push_back({line, std::move(text)}); }

void CompileContext::Warn(std::size_t line, std::string text) { warnings_.push_back({line, std::move(text)}); }

std::vector<std::string> CompileContext::Problems() const {
    std::vector<Message> sorted = problems_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Message& a, const Message& b) { return a.line < b.line; });
    std::vector<std::string> lines;
    for (const Message& m : sorted) {
        lines.push_back(Say(request.infName) + (m.line ? ":" + std::to_string(m.line) : "") + ": " + m.text);
    }
    return lines;
}

std::vector<std::string> CompileContext::Warnings() const {
    std::vector<Message> sorted = warnings_;
    for (const Warning& w : document.warnings) {
        sorted.push_back({w.line, w.message});
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const Message& a, const Message& b) { return a.line < b.line; });
    std::vector<std::string> lines;
    for (const Message& m : sorted) {
        lines.push_back(Say(request.infName) + (m.line ? ":" + std::to_string(m.line) : "") + ": warning: " + m.text);
    }
    return lines;
}

bool IsLabelledKind(std::u16string_view base) {
    return std::any_of(std::begin(kLabelledKinds), std::end(kLabelledKinds),
                       [&](std::u16string_view kind) { return SameName(kind, base); });
}

const Section* CompileContext::Labelled(std::u16string_view base) const {
    return request.label.empty() || !IsLabelledKind(base) ? nullptr
                                                          : document.Find(std::u16string(base) + u"." + request.label);
}

std::vector<Directive> CompileContext::Directives(std::u16string_view base,
                                                  std::initializer_list<std::u16string_view> known,
                                                  std::initializer_list<std::u16string_view> lists,
                                                  std::initializer_list<std::u16string_view> added) {
    std::vector<Directive> merged;
    std::unordered_map<std::u16string, std::size_t> places;
    for (const Section* section : {Plain(base), Labelled(base)}) {
        if (section == nullptr) {
            continue;
        }
        std::unordered_map<std::u16string, std::size_t> seenHere;
        for (const Line& line : section->lines) {
            if (!line.key) {
                Warn(line.number, "a line without a key in [" + Say(section->name) + "] is ignored");
                continue;
            }
            const std::u16string& name = line.key->text;
            if (!Contains(known, name)) {
                Warn(line.number, Say(name) + " in [" + Say(section->name) +
                                      "] is not a directive tarvelo-build supports; ignored");
                continue;
            }
            std::u16string folded = FoldName(name);
            auto here = seenHere.find(folded);
            if (here != seenHere.end()) {
                Directive& directive = merged[here->second];
                if (Contains(lists, name)) {
                    Warn(line.number, Say(name) + " is given twice in [" + Say(section->name) + "]; both are used");
                    directive.lines.push_back(&line);
                } else if (Texts(directive.lines.front()->fields) != Texts(line.fields)) {
                    Problem(line.number, Say(name) + " is given twice in [" + Say(section->name) +
                                             "] with different values (the first on line " +
                                             std::to_string(directive.lines.front()->number) + ")");
                }
                continue;
            }
            auto [place, isNew] = places.try_emplace(folded, merged.size());
            if (isNew) {
                merged.push_back({name, {&line}});
            } else if (Contains(added, name)) {
                merged[place->second].lines.push_back(&line);
            } else {
                merged[place->second].lines = {&line};
            }
            seenHere.emplace(folded, place->second);
        }
    }
    return merged;
}

void CompileContext::ReadStrings() {
    if (const Section* strings = Plain(u"Strings")) {
        std::unordered_map<std::u16string, const Line*> seen;
        for (const Line& line : strings->lines) {
            if (!line.key) {
                Warn(line.number, "a line without a key in [Strings] is ignored");
                continue;
            }
            // A value's commas are its own: [Strings] holds texts, not lists.
            std::u16string value;
            for (std::size_t i = 0; i < line.fields.size(); ++i) {
                value += (i ? u"," : u"") + line.fields[i].text;
            }
            auto [place, added] = seen.emplace(FoldName(line.key->text), &line);
            if (!added) {
                if (strings_[place->first] != value) {
                    Problem(line.number, Say(line.key->text) + " is given twice in [Strings] with different values "
                                                               "(the first on line " +
                                             std::to_string(place->second->number) + ")");
                }
                continue;
            }
            strings_[place->first] = std::move(value);
        }
    }
    std::vector<Directive> ce = Directives(u"CEStrings", {u"AppName", u"InstallDir"}, {});
    const Line* appName = nullptr;
    const Line* installLine = nullptr;
    for (const Directive& d : ce) {
        (SameName(d.name, u"AppName") ? appName : installLine) = d.lines.front();
    }
    if (appName != nullptr) {
        appName_ = Expand(appName->fields.front(), appName->number);
    } else if (auto s = strings_.find(u"appname"); s != strings_.end()) {
        appName_ = s->second;
    }
    if (installLine != nullptr) {
        installDir = Expand(installLine->fields.front(), installLine->number);
    } else if (auto s = strings_.find(u"installdir"); s != strings_.end()) {
        // Some INFs keep it in [Strings]; it is still the install folder, %AppName% and all.
        installDir = Substitute(s->second, [&](std::u16string_view n) -> std::optional<std::u16string> {
            return SameName(n, u"AppName") ? std::optional(appName_) : std::nullopt;
        });
    }
    if (installDir && installDir->empty()) {
        installDir.reset();
    }
    design.appName = appName_;
}

std::u16string CompileContext::Expand(const Field& field, std::size_t line, bool warn) {
    auto lookup = [&](std::u16string_view name) -> std::optional<std::u16string> {
        if (SameName(name, u"InstallDir") || MacroNumberOf(name) != 0) {
            return std::nullopt; // the device's own, expanded where it installs
        }
        if (SameName(name, u"AppName") && !appName_.empty()) {
            return appName_;
        }
        auto found = strings_.find(FoldName(name));
        return found == strings_.end() ? std::nullopt : std::optional(found->second);
    };
    auto unknown = [&](std::u16string_view name) {
        if (warn && !SameName(name, u"InstallDir") && MacroNumberOf(name) == 0) {
            Warn(line, "%" + Say(name) + "% is not defined in [Strings]; kept as text");
        }
    };
    return Substitute(field.text, lookup, unknown);
}

bool CompileContext::ParseDevicePath(std::u16string_view text, std::size_t line, DevicePath& path) {
    path = {};
    std::vector<std::u16string_view> names;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = std::min(text.find(u'\\', start), text.size());
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::size_t first = 0;
    std::u16string_view head = names.front();
    if (head.empty()) {
        path.kind = DevicePath::Kind::Root;
    } else if (head.size() > 2 && head.front() == u'%' && head.back() == u'%') {
        std::u16string_view name = head.substr(1, head.size() - 2);
        if (SameName(name, u"InstallDir")) {
            if (!installDir) {
                Problem(line, "%InstallDir% is used, but neither [CEStrings] nor [Strings] defines InstallDir");
                return false;
            }
            path.kind = DevicePath::Kind::InstallDir;
        } else if ((path.macro = MacroNumberOf(name)) != 0) {
            path.kind = DevicePath::Kind::Macro;
        } else {
            Problem(line, "the folder " + Say(text) + " starts with " + Say(head) +
                              ", which is neither %InstallDir% nor a folder macro %CE1% to %CE17%");
            return false;
        }
        first = 1;
    } else {
        Problem(line, "the folder " + Say(text) +
                          " is not a device folder: it must start with %InstallDir%, a folder macro %CE1% to "
                          "%CE17%, or \\");
        return false;
    }
    for (std::size_t i = first; i < names.size(); ++i) {
        std::u16string_view name = names[i];
        if (name.empty()) {
            continue; // a doubled or trailing backslash
        }
        bool macro = name.size() > 2 && name.front() == u'%' && name.back() == u'%' &&
                     (SameName(name.substr(1, name.size() - 2), u"InstallDir") ||
                      MacroNumberOf(name.substr(1, name.size() - 2)) != 0);
        if (macro || !IsDeviceName(name)) {
            Problem(line, "the folder " + Say(text) + " holds " + Say(name) +
                              (macro ? ", but a folder macro may only begin a folder"
                                     : ", which is not a folder name Windows CE can hold"));
            return false;
        }
        path.parts.emplace_back(name);
    }
    if (path.kind == DevicePath::Kind::Root && path.parts.empty()) {
        Problem(line, "the device's root folder \\ cannot be a destination");
        return false;
    }
    return true;
}

std::size_t CompileContext::FolderOf(const DevicePath& path) {
    DesignFolder folder;
    folder.inInstallDir = path.kind == DevicePath::Kind::InstallDir;
    if (path.kind == DevicePath::Kind::Macro) {
        folder.parts.push_back(MacroText(path.macro));
    }
    for (std::size_t i = 0; i < path.parts.size(); ++i) {
        folder.parts.push_back((path.kind == DevicePath::Kind::Root && i == 0 ? u"\\" : u"") + path.parts[i]);
    }
    std::u16string key = folder.inInstallDir ? u"*" : u"";
    for (const std::u16string& part : folder.parts) {
        key += u'\\' + FileKey(part);
    }
    auto [place, added] = folders_.try_emplace(key, design.folders.size());
    if (added) {
        design.folders.push_back(std::move(folder));
    }
    return place->second;
}

const Destination* CompileContext::DestinationOf(std::u16string_view list) const {
    auto found = destinations.find(FoldName(list));
    if (found == destinations.end()) {
        found = destinations.find(u"defaultdestdir");
    }
    return found == destinations.end() ? nullptr : &found->second;
}

} // namespace device::inf
