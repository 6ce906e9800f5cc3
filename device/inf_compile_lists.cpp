// The registry lists (AddReg) and shortcut lists (CEShortcuts) of an INF, read once its files are
// numbered, since a shortcut opens an installed file by its name.
#include "device/inf_compile_context.h"

#include "platform/text.h"

#include <algorithm>
#include <unordered_set>

namespace device::inf {
namespace {

bool ParseRoot(std::u16string_view text, RegistryRoot& root) {
    static const struct {
        std::u16string_view shortName, longName;
        RegistryRoot root;
    } kRoots[] = {
        {u"HKCR", u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {u"HKCU", u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
        {u"HKLM", u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {u"HKU", u"HKEY_USERS", RegistryRoot::Users},
    };
    for (const auto& r : kRoots) {
        if (SameName(text, r.shortName) || SameName(text, r.longName)) {
            root = r.root;
            return true;
        }
    }
    return false;
}

bool HoldsInstallDir(const std::vector<std::u16string>& texts) {
    return std::any_of(texts.begin(), texts.end(), [](const std::u16string& t) {
        return FoldName(t).find(u"%installdir%") != std::u16string::npos;
    });
}

// The data of a value after its flags, by its type. False with the problem reported.
bool ReadData(CompileContext& c, const Line& line, const std::vector<std::u16string>& values, RegistryValue& value) {
    switch (value.type & kRegTypeMask) {
    case kRegString:
        value.texts = {values.empty() ? u"" : values.front()};
        if (values.size() > 1) {
            c.Warn(line.number, "a string value takes one text; the fields after it are ignored");
        }
        return true;
    case kRegMultiString:
        for (const std::u16string& text : values) {
            if (text.empty()) {
                // An empty string would end the list on the device, dropping the rest.
                c.Warn(line.number, "an empty string in a multi-string value is left out");
            } else {
                value.texts.push_back(text);
            }
        }
        return true;
    case kRegBinary:
        for (const std::u16string& text : values) {
            std::u16string_view digits = text;
            if (digits.size() > 2 && digits[0] == u'0' && (digits[1] == u'x' || digits[1] == u'X')) {
                digits.remove_prefix(2);
            }
            std::uint32_t byte = 0;
            if (digits.empty() || digits.size() > 2 || !ParseNumber(u"0x" + std::u16string(digits), byte)) {
                c.Problem(line.number, "a binary value takes one hexadecimal byte a field; " + Say(text) + " is not one");
                return false;
            }
            value.bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        return true;
    default:
        if (values.size() != 1 || !ParseNumber(values.front(), value.number)) {
            c.Problem(line.number, "a DWORD value takes one number (decimal, or hexadecimal after 0x)");
            return false;
        }
        return true;
    }
}

void CompileRegistryLine(CompileContext& c, const Line& line) {
    std::vector<Field> fields = ListFields(line);
    if (fields.size() < 4) {
        c.Problem(line.number, "a registry line is ROOT, KEY, NAME, FLAGS[, VALUE...]");
        return;
    }
    std::vector<std::u16string> texts;
    for (const Field& field : fields) {
        texts.push_back(c.Expand(field, line.number));
    }
    RegistryValue value;
    if (!ParseRoot(texts[0], value.root)) {
        c.Problem(line.number, "the registry root " + Say(texts[0]) + " is not HKCR, HKCU, HKLM or HKU");
        return;
    }
    std::u16string& key = texts[1];
    if (!key.empty() && key.front() == u'\\') {
        c.Warn(line.number, "the key " + Say(key) + " starts with \\, which is dropped");
        key.erase(0, key.find_first_not_of(u'\\'));
    }
    while (!key.empty() && key.back() == u'\\') {
        key.pop_back();
    }
    if (key.empty() || key.find(u"\\\\") != std::u16string::npos) {
        c.Problem(line.number, key.empty() ? "a registry line needs a key below its root"
                                           : "the key " + Say(key) + " has an empty name between two backslashes");
        return;
    }
    value.key = std::move(key);
    value.name = std::move(texts[2]);
    std::uint32_t flags = 0;
    if (!texts[3].empty() && !ParseNumber(texts[3], flags)) {
        c.Problem(line.number, "the registry flags " + Say(texts[3]) + " are not a number");
        return;
    }
    std::uint32_t type = flags & ~kRegNoClobber;
    if (type != kRegString && type != kRegMultiString && type != kRegBinary && type != kRegDword) {
        c.Problem(line.number, "the registry flags " + Hex(flags) +
                                   " are not a type a cabinet holds: 0x00000000 string, 0x00010000 multi-string, "
                                   "0x00000001 binary or 0x00010001 DWORD, with or without 0x00000002 (no clobber)");
        return;
    }
    value.type = flags;
    std::vector<std::u16string> data(texts.begin() + 4, texts.end());
    if (!ReadData(c, line, data, value)) {
        return;
    }
    if (!c.installDir && HoldsInstallDir(value.texts)) {
        c.Problem(line.number, "%InstallDir% is used, but neither [CEStrings] nor [Strings] defines InstallDir");
        return;
    }
    c.design.registry.push_back(std::move(value));
}

bool EndsWithLnk(std::u16string_view name) { return name.size() >= 4 && SameName(name.substr(name.size() - 4), u".lnk"); }

} // namespace

void CompileRegistry(CompileContext& c, const std::vector<Directive>& install) {
    for (const ListName& list : ListNames(c, install, u"AddReg")) {
        const Section* section = c.document.Find(list.name);
        if (section == nullptr) {
            c.Warn(list.line, "AddReg names [" + Say(list.name) + "], which the INF does not have; no registry "
                                                                   "values come from it");
            continue;
        }
        for (const Line& line : section->lines) {
            CompileRegistryLine(c, line);
        }
    }
}

void CompileShortcuts(CompileContext& c, const std::vector<Directive>& install) {
    std::unordered_map<std::u16string, std::vector<std::size_t>> files;
    for (std::size_t i = 0; i < c.design.files.size(); ++i) {
        files[FileKey(c.design.files[i].name)].push_back(i);
    }
    std::unordered_map<std::u16string, std::size_t> made;
    for (const ListName& list : ListNames(c, install, u"CEShortcuts")) {
        const Section* section = c.document.Find(list.name);
        if (section == nullptr) {
            c.Warn(list.line, "CEShortcuts names [" + Say(list.name) + "], which the INF does not have; no shortcuts "
                                                                        "come from it");
            continue;
        }
        for (const Line& line : section->lines) {
            std::vector<Field> fields = ListFields(line);
            if (fields.size() < 3) {
                c.Problem(line.number, "a shortcut line is NAME, TYPE, TARGET[, FOLDER]");
                continue;
            }
            std::u16string name = c.Expand(fields[0], line.number);
            std::u16string target = c.Expand(fields[2], line.number);
            std::uint32_t type = 0;
            if (!fields[1].text.empty() && !ParseNumber(fields[1].text, type)) {
                c.Problem(line.number, "the shortcut type " + Say(fields[1].text) +
                                           " is not 0 (a file) or 1 (a folder)");
                continue;
            }
            DevicePath base;
            if (fields.size() > 3 && !fields[3].text.empty()) {
                if (!c.ParseDevicePath(c.Expand(fields[3], line.number), line.number, base)) {
                    continue;
                }
                if (base.kind != DevicePath::Kind::Root) {
                    c.FolderOf(base); // the wizard lists a shortcut's own folder among the folders
                }
            } else if (const Destination* d = c.DestinationOf(list.name)) {
                if (!d->valid) {
                    continue;
                }
                base = d->path;
            } else {
                c.Problem(line.number, "the shortcut names no folder, and [DestinationDirs] has no entry for " +
                                           Say(list.name) + ", nor a DefaultDestDir");
                continue;
            }
            if (base.kind == DevicePath::Kind::Root) {
                c.Problem(line.number, "a shortcut's folder must start with %CEn% or %InstallDir%: the device keeps "
                                       "a shortcut below one of its folders");
                continue;
            }
            std::u16string fileName = EndsWithLnk(name) ? name : name + u".lnk";
            if (name.empty() || !IsDeviceName(fileName)) {
                c.Problem(line.number, "\"" + Say(name) + "\" is not a shortcut name Windows CE can hold");
                continue;
            }
            DesignLink link;
            link.base = base.kind == DevicePath::Kind::InstallDir ? 0 : base.macro;
            link.parts = base.parts;
            link.parts.push_back(std::move(fileName));
            link.toFile = type == 0;
            if (link.toFile) {
                auto found = files.find(FileKey(target));
                if (found == files.end()) {
                    c.Problem(line.number, "the shortcut opens " + Say(target) + ", which no copy list installs");
                    continue;
                }
                if (found->second.size() > 1) {
                    c.Warn(line.number, Say(target) + " is installed into " + std::to_string(found->second.size()) +
                                            " folders; the shortcut opens the first one copied");
                }
                link.target = found->second.front();
            } else if (auto d = c.destinations.find(FoldName(target)); d != c.destinations.end()) {
                if (!d->second.valid) {
                    continue;
                }
                link.target = c.FolderOf(d->second.path);
            } else {
                DevicePath folder;
                if (!c.ParseDevicePath(target, line.number, folder)) {
                    continue;
                }
                // The install folder itself is the target every cabinet knows without a folder entry.
                link.target = folder.kind == DevicePath::Kind::InstallDir && folder.parts.empty() ? kInstallFolderTarget
                                                                                                   : c.FolderOf(folder);
            }
            std::u16string key = platform::ToUtf16(std::to_string(link.base));
            for (const std::u16string& part : link.parts) {
                key += u"\\" + FileKey(part);
            }
            if (auto [place, added] = made.try_emplace(key, line.number); !added) {
                c.Problem(line.number, "a shortcut " + Say(link.parts.back()) +
                                           " is made twice in one folder (also on line " +
                                           std::to_string(place->second) + ")");
                continue;
            }
            c.design.links.push_back(std::move(link));
        }
    }
}

} // namespace device::inf
