// Fuzz target for the text of CAB-wizard INF files: any bytes decoded, split into sections and
// lines, and each field's %strings% replaced. Sections are one per name, their lines in the order
// and within the count of the text's own; blanks written outside quotes never reach a field; and a
// name the strings do not know is kept exactly as a lookup giving back its written form would keep it.
#include "device/inf_text.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void CheckField(const device::inf::Field& field) {
    if (!field.quoted && !field.text.empty()) {
        Require(!IsBlank(field.text.front()) && !IsBlank(field.text.back()));
    }
    // Names the strings do not know stay as written, marks and all: the same as a lookup that
    // answers each name with its written form.
    const std::u16string kept = device::inf::Substitute(
        field.text, [](std::u16string_view) -> std::optional<std::u16string> { return std::nullopt; });
    const std::u16string same =
        device::inf::Substitute(field.text, [](std::u16string_view name) -> std::optional<std::u16string> {
            return u"%" + std::u16string(name) + u"%";
        });
    Require(kept == same && kept.size() <= field.text.size());
    // A lookup answering one character for every name never makes the text longer than written.
    std::size_t unknown = 0;
    const std::u16string short_ = device::inf::Substitute(
        field.text, [](std::u16string_view) -> std::optional<std::u16string> { return u"x"; },
        [&](std::u16string_view) { ++unknown; });
    Require(short_.size() <= field.text.size() && unknown == 0);
}

} // namespace

int FuzzInfText(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * 1024 * 1024) {
        return 0;
    }
    std::u16string text;
    const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    if (!device::inf::DecodeInf({data, size}, text)) {
        Require(utf16 && size % 2 != 0);
        return 0;
    }
    // At most one line for each line break, CR or LF, and one after the last.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n') +
                                                       std::count(text.begin(), text.end(), u'\r')) +
                              1;
    const device::inf::Document document = device::inf::ReadInf(text);
    for (const device::inf::Warning& warning : document.warnings) {
        Require(warning.line >= 1 && warning.line <= lines && !warning.message.empty());
    }
    for (const device::inf::Section& section : document.sections) {
        Require(document.Find(section.name) == &section);
        Require(section.number >= 1 && section.number <= lines);
        std::size_t previous = section.number;
        for (const device::inf::Line& line : section.lines) {
            // A section written twice is one, its lines in the order of the text.
            Require(line.number > previous && line.number <= lines);
            previous = line.number;
            Require(!line.fields.empty());
            if (line.key) {
                CheckField(*line.key);
            }
            for (const device::inf::Field& field : line.fields) {
                CheckField(field);
            }
        }
    }
    return 0;
}
