// Reading an INF file's text into sections and lines of fields.
#include "device/inf_text.h"

#include "device/cabinet.h"
#include "platform/text.h"

#include <algorithm>

namespace device::inf {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// A field being read: its characters, and which of them were inside quotes, so that only the
// blanks written outside them are trimmed.
class FieldBuilder {
public:
    void Add(char16_t c, bool inQuotes) {
        text_ += c;
        quotedAt_.push_back(inQuotes);
        quoted_ = quoted_ || inQuotes;
    }
    void MarkQuoted() { quoted_ = true; } // for "", which adds no character
    bool Empty() const { return text_.empty() && !quoted_; }
    Field Take() {
        std::size_t begin = 0, end = text_.size();
        while (begin < end && !quotedAt_[begin] && IsBlank(text_[begin])) {
            ++begin;
        }
        while (end > begin && !quotedAt_[end - 1] && IsBlank(text_[end - 1])) {
            --end;
        }
        Field field{text_.substr(begin, end - begin), quoted_};
        *this = FieldBuilder{};
        return field;
    }

private:
    std::u16string text_;
    std::vector<bool> quotedAt_;
    bool quoted_ = false;
};

// One line of a section: key, fields and whether a quote was left open. The comment, if any,
// has not been cut off yet: a ; inside quotes is text.
Line ReadLine(std::u16string_view text, std::size_t number) {
    Line line;
    line.number = number;
    FieldBuilder field;
    bool inQuotes = false, sawComma = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'"') {
            // "" inside quotes is one quote character; elsewhere a quote opens or closes.
            if (inQuotes && i + 1 < text.size() && text[i + 1] == u'"') {
                field.Add(u'"', true);
                ++i;
            } else {
                inQuotes = !inQuotes;
                field.MarkQuoted();
            }
        } else if (inQuotes) {
            field.Add(c, true);
        } else if (c == u';') {
            break;
        } else if (c == u',') {
            line.fields.push_back(field.Take());
            sawComma = true;
        } else if (c == u'=' && !line.key && !sawComma) {
            line.key = field.Take();
        } else {
            field.Add(c, false);
        }
    }
    line.openQuote = inQuotes;
    line.fields.push_back(field.Take());
    return line;
}

// Whether the line holds nothing but blanks and perhaps a comment.
bool IsEmptyLine(std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u';') {
            return true;
        }
        if (!IsBlank(c)) {
            return false;
        }
    }
    return true;
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

} // namespace

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

std::u16string FoldName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        c = Lower(c);
    }
    return folded;
}

const Section* Document::Find(std::u16string_view name) const {
    auto found = places.find(FoldName(name));
    return found == places.end() ? nullptr : &sections[found->second];
}

std::vector<Field> ListFields(const Line& line) {
    std::vector<Field> fields = line.fields;
    if (line.key) {
        fields.front().text = line.key->text + u"=" + fields.front().text;
        fields.front().quoted = fields.front().quoted || line.key->quoted;
    }
    return fields;
}

bool DecodeInf(std::span<const std::uint8_t> bytes, std::u16string& text, unsigned codePage) {
    text.clear();
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (bytes.size() % 2 != 0) {
            return false;
        }
        text.reserve(bytes.size() / 2 - 1);
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        }
        return true;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        // A byte that starts no character becomes U+FFFD, as the platform's conversion gives it.
        text = platform::ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 3, bytes.size() - 3));
        return true;
    }
    text = FromCabinetText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), codePage);
    return true;
}

Document ReadInf(std::u16string_view text) {
    Document document;
    Section* current = nullptr;
    std::size_t number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = std::min(text.find_first_of(u"\r\n", start), text.size());
        std::u16string_view raw = text.substr(start, end - start);
        ++number;
        start = end + (text.substr(end, 2) == u"\r\n" ? 2 : 1);
        if (end == text.size() && raw.empty()) {
            break;
        }
        std::size_t first = 0;
        while (first < raw.size() && IsBlank(raw[first])) {
            ++first;
        }
        if (IsEmptyLine(raw)) {
            continue;
        }
        if (raw[first] == u'[') {
            std::size_t close = raw.find(u']', first);
            if (close == std::u16string_view::npos) {
                document.warnings.push_back({number, "a section name without its closing ]"});
                close = raw.size();
            } else if (!IsEmptyLine(raw.substr(close + 1))) {
                document.warnings.push_back({number, "text after the section name is ignored"});
            }
            std::u16string_view name = raw.substr(first + 1, close - first - 1);
            while (!name.empty() && IsBlank(name.front())) {
                name.remove_prefix(1);
            }
            while (!name.empty() && IsBlank(name.back())) {
                name.remove_suffix(1);
            }
            auto [place, added] = document.places.emplace(FoldName(name), document.sections.size());
            if (added) {
                document.sections.push_back(Section{std::u16string(name), number, {}});
            }
            current = &document.sections[place->second];
            continue;
        }
        if (current == nullptr) {
            document.warnings.push_back({number, "a line before the first section is ignored"});
            continue;
        }
        Line line = ReadLine(raw, number);
        if (line.openQuote) {
            document.warnings.push_back(
                {number, "a quote is not closed; the rest of the line is taken as quoted (in [" +
                             Narrow(current->name) + "])"});
        }
        current->lines.push_back(std::move(line));
    }
    return document;
}

std::u16string Substitute(std::u16string_view text,
                          const std::function<std::optional<std::u16string>(std::u16string_view)>& lookup,
                          const std::function<void(std::u16string_view)>& unknown) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t open = text.find(u'%', i);
        if (open == std::u16string_view::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        std::size_t close = text.find(u'%', open + 1);
        if (close == std::u16string_view::npos) {
            out += text.substr(open);
            break;
        }
        std::u16string_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out += u'%';
        } else if (std::optional<std::u16string> value = lookup(name)) {
            out += *value;
        } else {
            if (unknown) {
                unknown(name);
            }
            out += text.substr(open, close - open + 1);
        }
        i = close + 1;
    }
    return out;
}

} // namespace device::inf
