// Windows file-name rules.
#include "platform/names.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <optional>
#include <set>

namespace platform {
namespace {

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsAscii(std::u16string_view text, std::u16string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (AsciiUpper(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

// The digits Windows accepts after COM and LPT: 0 to 9, and the superscripts one to three.
bool DeviceDigit(char16_t c) { return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3'; }

// The units a short (8.3) name may hold, upper-cased: letters, digits and ! # $ % & ' ( ) - @ ^ _ `
// { } ~. A unit beyond ASCII may be one too, in the OEM code page of the volume's system.
bool ShortNameUnit(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c >= 0x80 ||
           std::u16string_view(u"!#$%&'()-@^_`{}~").find(c) != std::u16string_view::npos;
}

// Units beyond ASCII compare as '_': whether the OEM code page has one, and which, is the system's
// to say, and a short name may then hold either. Conservative: two names that may be one are.
char16_t ShortNameForm(char16_t c) { return c >= 0x80 ? u'_' : c; }

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); }

// An upper-cased, trimmed name split at its last dot.
struct NameParts {
    std::u16string_view base;
    std::u16string_view extension;
    bool dotted;
};
NameParts SplitAtLastDot(std::u16string_view name) {
    std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return {name, {}, false};
    }
    return {name.substr(0, dot), name.substr(dot + 1), true};
}

// Whether an upper-cased, trimmed name is a short name already (1-8 units, a dot and 1-3 more),
// which Windows keeps as it is and gives no other. One of several dots, a blank or a unit beyond
// ASCII is not.
bool IsShortName(std::u16string_view name) {
    NameParts parts = SplitAtLastDot(name);
    auto valid = [](std::u16string_view text, std::size_t most) {
        return !text.empty() && text.size() <= most &&
               std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80 && ShortNameUnit(c); });
    };
    return valid(parts.base, 8) && (!parts.dotted || valid(parts.extension, 3));
}

// A name of the form Windows gives short names: up to 8 units ending in '~' and digits, then at
// most 3 after a dot ("LONGFI~1.TXT", "LO1A2B~1.TXT").
struct ShortForm {
    std::u16string head; // before the '~', each unit as ShortNameForm makes it
    std::size_t digits;
    std::u16string extension;
};
std::optional<ShortForm> ShortFormOf(std::u16string_view name) {
    NameParts parts = SplitAtLastDot(name);
    std::size_t tilde = parts.base.rfind(u'~');
    if (parts.base.size() > 8 || parts.extension.size() > 3 || (parts.dotted && parts.extension.empty()) ||
        tilde == std::u16string_view::npos || tilde == 0 || tilde + 1 == parts.base.size()) {
        return std::nullopt;
    }
    std::u16string_view digits = parts.base.substr(tilde + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        return std::nullopt;
    }
    ShortForm form{{}, digits.size(), {}};
    for (char16_t c : parts.base.substr(0, tilde)) {
        if (!ShortNameUnit(c)) {
            return std::nullopt;
        }
        form.head += ShortNameForm(c);
    }
    for (char16_t c : parts.extension) {
        if (!ShortNameUnit(c)) {
            return std::nullopt;
        }
        form.extension += ShortNameForm(c);
    }
    return form;
}

// What Windows makes a short name of, for an upper-cased, trimmed name that is not one: the name
// before its last dot without blanks and dots, "+,;=[]" as '_', and the first 3 units of the
// extension made the same way; "EXTENSION|BASE", to be looked up by its beginning. A name that is
// all extension (".profile") gives its base from the extension.
std::u16string ShortBasis(std::u16string_view name) {
    auto clean = [](std::u16string_view text, std::size_t most) {
        std::u16string out;
        for (char16_t c : text) {
            if (out.size() == most) {
                break;
            }
            if (c == u' ' || c == u'.') {
                continue;
            }
            out += std::u16string_view(u"+,;=[]").find(c) != std::u16string_view::npos ? u'_' : ShortNameForm(c);
        }
        return out;
    };
    NameParts parts = SplitAtLastDot(name);
    std::u16string base = clean(parts.base, std::u16string::npos);
    if (base.empty()) {
        return u"|" + clean(parts.extension, std::u16string::npos);
    }
    return clean(parts.extension, 3) + u"|" + base;
}

// Calls `each(start, end)` for every component of a key (backslashes between, none empty).
template <typename Each> void ForEachComponent(std::u16string_view key, Each each) {
    for (std::size_t start = 0; start < key.size();) {
        std::size_t end = std::min(key.find(u'\\', start), key.size());
        each(start, end);
        start = end + 1;
    }
}

// The `depth`-th component of a path as NameKey counts them, trimmed, as the path spells it.
std::u16string ComponentAt(std::u16string_view path, std::size_t depth) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != u'\\' && path[i] != u'/') {
            continue;
        }
        std::u16string_view part = TrimmedComponent(path.substr(start, i - start));
        start = i + 1;
        if (!part.empty() && depth-- == 0) {
            return std::u16string(part);
        }
    }
    return {};
}

// The clashes of short-form names with the long names beside them that Windows may give them.
// Nothing is done for the usual package, which has no name of the short form.
void AddShortNameClashes(const std::vector<std::u16string>& relatives, const std::vector<std::u16string>& keys,
                         std::vector<NameClash>& clashes) {
    struct Named {
        std::u16string_view folder; // the key of the folder it lies in
        std::u16string_view path;   // its own key, to be told once
        std::size_t member;
        std::size_t depth;
    };
    std::vector<Named> shortForms;
    std::set<std::u16string_view> told, folders;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::size_t depth = 0;
        ForEachComponent(keys[i], [&](std::size_t start, std::size_t end) {
            std::u16string_view key(keys[i]);
            if (ShortFormOf(key.substr(start, end - start)) && told.insert(key.substr(0, end)).second) {
                shortForms.push_back({key.substr(0, start == 0 ? 0 : start - 1), key.substr(0, end), i, depth});
                folders.insert(shortForms.back().folder);
            }
            ++depth;
        });
    }
    if (shortForms.empty()) {
        return;
    }
    // The long names in those folders, by folder and basis.
    struct Basis {
        std::u16string_view folder;
        std::u16string basis;
        std::u16string_view path;
        std::size_t member;
        std::size_t depth;
    };
    std::vector<Basis> bases;
    told.clear();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::size_t depth = 0;
        ForEachComponent(keys[i], [&](std::size_t start, std::size_t end) {
            std::u16string_view key(keys[i]);
            std::u16string_view folder = key.substr(0, start == 0 ? 0 : start - 1);
            std::u16string_view name = key.substr(start, end - start);
            if (folders.count(folder) && !IsShortName(name) && told.insert(key.substr(0, end)).second) {
                bases.push_back({folder, ShortBasis(name), key.substr(0, end), i, depth});
            }
            ++depth;
        });
    }
    auto before = [](const Basis& a, const Basis& b) {
        return a.folder != b.folder ? a.folder < b.folder : a.basis < b.basis;
    };
    std::sort(bases.begin(), bases.end(), before);
    for (const Named& named : shortForms) {
        std::u16string_view name = named.path.substr(named.folder.empty() ? 0 : named.folder.size() + 1);
        ShortForm form = *ShortFormOf(name);
        // The first up-to-6 units, or fewer where "~N" takes more room; after a few of those,
        // Windows makes the rest from 2 units and 4 hexadecimal digits of a hash of the name.
        std::u16string_view head = form.head;
        const bool full = head.size() == 6 || head.size() + 1 + form.digits == 8;
        std::optional<std::u16string_view> hashed;
        if (head.size() >= 5 && std::all_of(head.end() - 4, head.end(), IsHex)) {
            hashed = head.substr(0, head.size() - 4);
        }
        std::optional<std::size_t> found;
        // The bases that begin with the prefix sort together, the prefix itself first; a name beyond
        // ASCII, which is no short name, may be among them as itself.
        auto look = [&](std::u16string_view prefix, bool anyLonger) {
            std::u16string wanted = form.extension + u"|" + std::u16string(prefix);
            auto at = std::lower_bound(bases.begin(), bases.end(), Basis{named.folder, wanted, {}, 0, 0}, before);
            for (; at != bases.end() && at->folder == named.folder && at->basis.starts_with(wanted); ++at) {
                if (!anyLonger && at->basis.size() != wanted.size()) {
                    break;
                }
                if (at->path != named.path) {
                    found = static_cast<std::size_t>(at - bases.begin());
                    break;
                }
            }
        };
        look(head, full);
        if (!found && hashed) {
            look(*hashed, true);
        }
        if (found) {
            const Basis& basis = bases[*found];
            clashes.push_back({named.member, basis.member, false, ComponentAt(relatives[named.member], named.depth),
                               ComponentAt(relatives[basis.member], basis.depth)});
        }
    }
}

} // namespace

std::u16string_view TrimmedComponent(std::u16string_view component) {
    std::size_t end = component.find_last_not_of(u". ");
    return end == std::u16string_view::npos ? std::u16string_view() : component.substr(0, end + 1);
}

bool NamesDevice(std::u16string_view component) {
    std::u16string_view base = TrimmedComponent(component);
    base = base.substr(0, base.find(u'.'));
    // "con .txt": the blanks before the extension are dropped as well.
    base = TrimmedComponent(base);
    static constexpr std::array<std::u16string_view, 6> kPlain{u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (std::u16string_view name : kPlain) {
        if (EqualsAscii(base, name)) {
            return true;
        }
    }
    return base.size() == 4 && (EqualsAscii(base.substr(0, 3), u"COM") || EqualsAscii(base.substr(0, 3), u"LPT")) &&
           DeviceDigit(base[3]);
}

bool ForbiddenInName(char16_t unit) {
    // Asked of every unit of every name a gather meets: one look in a table of the ASCII units.
    static constexpr auto kForbidden = [] {
        std::array<bool, 0x80> table{};
        for (char16_t c = 0; c < 0x20; ++c) {
            table[c] = true;
        }
        for (char c : std::string_view("<>:\"/\\|?*")) {
            table[static_cast<unsigned char>(c)] = true;
        }
        return table;
    }();
    return unit < 0x80 && kForbidden[unit];
}

bool HasControlCharacter(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); });
}

std::u16string NameKey(std::u16string_view path) {
    std::u16string key;
    key.reserve(path.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != u'\\' && path[i] != u'/') {
            continue;
        }
        std::u16string_view part = TrimmedComponent(path.substr(start, i - start));
        start = i + 1;
        if (part.empty()) {
            continue;
        }
        if (!key.empty()) {
            key += u'\\';
        }
        for (char16_t c : part) {
            key += UpperCaseUnit(c);
        }
    }
    return key;
}

std::vector<NameClash> NameClashes(const std::vector<std::u16string>& relatives) {
    std::vector<std::u16string> keys;
    keys.reserve(relatives.size());
    for (const std::u16string& relative : relatives) {
        keys.push_back(NameKey(relative));
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Stable, so that the first of several members with one key is the one gathered first.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    std::vector<NameClash> clashes;
    std::size_t first = 0; // of the members sharing the key at hand
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::u16string& key = keys[order[i]];
        if (i > 0 && keys[order[i - 1]] == key) {
            clashes.push_back({order[i], order[first], false, {}, {}});
            continue;
        }
        first = i;
        // Every key below this one as a folder sorts together, right where the folder's own
        // name followed by a separator would.
        std::u16string folder = key + u'\\';
        auto below = std::lower_bound(order.begin() + static_cast<std::ptrdiff_t>(i), order.end(), folder,
                                      [&](std::size_t k, const std::u16string& text) { return keys[k] < text; });
        if (below != order.end() && keys[*below].starts_with(folder)) {
            clashes.push_back({order[i], *below, true, {}, {}});
        }
    }
    AddShortNameClashes(relatives, keys, clashes);
    std::sort(clashes.begin(), clashes.end(), [](const NameClash& a, const NameClash& b) { return a.file < b.file; });
    return clashes;
}

} // namespace platform
