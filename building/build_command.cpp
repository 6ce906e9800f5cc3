// Expanding the build command: the installer's path in place of its "<filename>" tag.
#include "building/build_command.h"

namespace building {

bool IsBlankCommand(std::string_view command) {
    return command.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

namespace {

// Where the command's tag is: the first '<', when "<filename>" starts there; npos otherwise.
std::size_t TagAt(std::string_view command) {
    std::size_t open = command.find('<');
    if (open == std::string_view::npos) {
        return open;
    }
    std::size_t close = command.find('>', open + 1);
    return close != std::string_view::npos && command.substr(open + 1, close - open - 1) == "filename"
               ? open
               : std::string_view::npos;
}

// The command with the tag replaced by `replacement`, or, without a tag, the replacement alone so
// that the new installer itself is started.
std::string Replace(std::string_view command, std::size_t tag, std::string_view replacement) {
    if (tag == std::string_view::npos) {
        return std::string(replacement);
    }
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about chained operator+.
    std::string line(command.substr(0, tag));
    line.append(replacement).append(command.substr(command.find('>', tag) + 1));
    return line;
}

enum class Quoting { None, Single, Double };

// The shell's quoting where the text ends.
Quoting QuotingAt(std::string_view text) {
    Quoting state = Quoting::None;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (state == Quoting::Single) {
            state = c == '\'' ? Quoting::None : state;
        } else if (c == '\\') {
            ++i; // the next character is taken as it is
        } else if (c == '"') {
            state = state == Quoting::Double ? Quoting::None : Quoting::Double;
        } else if (c == '\'' && state == Quoting::None) {
            state = Quoting::Single;
        }
    }
    return state;
}

// The text with each character of `special` behind a backslash, a single quote written as `quoteAs`.
std::string Escaped(std::string_view text, std::string_view special, std::string_view quoteAs) {
    std::string out;
    for (char c : text) {
        if (special.find(c) == std::string_view::npos) {
            out += c;
        } else if (c == '\'') {
            out += quoteAs;
        } else {
            out.append(1, '\\').append(1, c);
        }
    }
    return out;
}

} // namespace

std::string ExpandBuildCommand(std::string_view command, std::string_view installerPath) {
    std::string quoted;
    quoted.reserve(installerPath.size() + 2);
    quoted.append(1, '"').append(installerPath).append(1, '"');
    return Replace(command, TagAt(command), quoted);
}

std::string ExpandBuildCommandForShell(std::string_view command, std::string_view installerPath) {
    // One single-quoted word, each quote within written '\'', is what the last shell must see.
    std::string word(1, '\'');
    word += Escaped(installerPath, "'", "'\\''");
    word += '\'';
    std::size_t tag = TagAt(command);
    switch (tag == std::string_view::npos ? Quoting::None : QuotingAt(command.substr(0, tag))) {
    case Quoting::None:
        break;
    case Quoting::Single:
        // Inside single quotes nothing is special but the quote that would end them.
        word = Escaped(word, "'", "'\\''");
        break;
    case Quoting::Double:
        // Inside double quotes the shell still acts on these.
        word = Escaped(word, "$`\"\\", "");
        break;
    }
    return Replace(command, tag, word);
}

} // namespace building
