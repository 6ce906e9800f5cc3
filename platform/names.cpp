// Windows file-name rules.
#include "platform/names.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <numeric>

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
            clashes.push_back({order[i], order[first], false});
            continue;
        }
        first = i;
        // Every key below this one as a folder sorts together, right where the folder's own
        // name followed by a separator would.
        std::u16string folder = key + u'\\';
        auto below = std::lower_bound(order.begin() + static_cast<std::ptrdiff_t>(i), order.end(), folder,
                                      [&](std::size_t k, const std::u16string& text) { return keys[k] < text; });
        if (below != order.end() && keys[*below].starts_with(folder)) {
            clashes.push_back({order[i], *below, true});
        }
    }
    std::sort(clashes.begin(), clashes.end(), [](const NameClash& a, const NameClash& b) { return a.file < b.file; });
    return clashes;
}

} // namespace platform
