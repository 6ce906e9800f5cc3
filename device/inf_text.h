// Reading the text of a CAB-wizard INF file: its encoding, its sections, and the key and the
// comma-separated fields of each line, each line keeping its number so that every later message
// can name it ("Notes.inf:12: ..."). What the lines mean (copy lists, registry lists, the device's
// limits) is read from this form by the compiler of INF files; nothing here knows a directive.
#pragma once

#include "platform/code_page.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace device::inf {

// One comma-separated field as written: quotes taken away and "" inside them made one ", blanks
// around it dropped (those inside quotes kept). %name% is still as written: strings are replaced
// later, when the field is used, since the macros of the device (%CE1%, %InstallDir%) stay.
struct Field {
    std::u16string text;
    bool quoted = false; // some or all of it was inside quotes
};

struct Line {
    std::size_t number = 0; // from 1, as an editor counts them
    // The text before the first = outside quotes; no key for a line without one ("file.exe" in a
    // copy list, a registry line).
    std::optional<Field> key;
    std::vector<Field> fields; // the value after =, or the whole line; one empty field for none
    bool openQuote = false;    // a quote the line did not close: the rest of the line was taken
};

struct Section {
    std::u16string name; // as first written
    std::size_t number = 0;
    std::vector<Line> lines;
};

// Something the text holds that the wizard takes without a word but a user should hear of.
struct Warning {
    std::size_t line = 0;
    std::string message;
};

struct Document {
    // In the order they first appear; a section written twice is one, its lines in order, as
    // Windows' INF reader merges them.
    std::vector<Section> sections;
    std::vector<Warning> warnings;
    // Each section's place in `sections`, by its name folded to lower case: an INF with a copy list
    // per folder has thousands of sections, and each is looked up by name.
    std::unordered_map<std::u16string, std::size_t> places;

    // The section of that name, compared without case; null when there is none.
    const Section* Find(std::u16string_view name) const;
};

// The fields of a line of a list section (a copy, registry or shortcut list), whose lines have no
// key: a line the reader split at an = outside quotes ("a=b.txt") is joined again.
std::vector<Field> ListFields(const Line& line);

// The name folded as SameName compares it, for maps.
std::u16string FoldName(std::u16string_view name);

// The file's characters: UTF-16LE after its byte order mark, UTF-8 after its mark, otherwise
// 8-bit text in the device's code page (Western, 1252, unless told otherwise), which the wizard's
// 8-bit files are. False for UTF-16 cut in the middle of a character.
bool DecodeInf(std::span<const std::uint8_t> bytes, std::u16string& text,
               unsigned codePage = platform::kWesternCodePage);

// Splits the text into sections and lines. Lines before the first section, blank lines and
// comments (from ; outside quotes to the end of the line) are left out; CRLF, LF and a lone CR
// each end a line.
Document ReadInf(std::u16string_view text);

// Replaces each %name% in `text` by what `lookup` answers for the name, and %% by one %. A name
// `lookup` does not know is kept as written, marks and all, and reported through `unknown` when
// given; a % left without its pair is kept.
std::u16string Substitute(std::u16string_view text,
                          const std::function<std::optional<std::u16string>(std::u16string_view)>& lookup,
                          const std::function<void(std::u16string_view)>& unknown = {});

// Whether two section or key names are one, as the INF reader compares them (ASCII letters
// without case).
bool SameName(std::u16string_view a, std::u16string_view b);

} // namespace device::inf
