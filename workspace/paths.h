// The small text rules of the workspace: path components, the extension rule of every file
// chooser, and shortcut labels. They work on any character type, since the main window keeps its
// texts in the ANSI code page and the package in UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace workspace {

// The text after the last backslash; the whole text when it has none; empty when it ends in one.
template <typename Char> std::basic_string<Char> LastPathComponent(std::basic_string_view<Char> text) {
    auto at = text.rfind(Char('\\'));
    return std::basic_string<Char>(at == std::basic_string_view<Char>::npos ? text : text.substr(at + 1));
}

// The text before the last backslash; the whole text when it has none.
template <typename Char> std::basic_string<Char> ParentPath(std::basic_string_view<Char> text) {
    auto at = text.rfind(Char('\\'));
    return std::basic_string<Char>(at == std::basic_string_view<Char>::npos ? text : text.substr(0, at));
}

// Whether the fourth character from the end is a '.', the one test the program makes for "this
// name already has an extension".
template <typename Char> bool HasThreeLetterExtension(std::basic_string_view<Char> text) {
    return text.size() >= 4 && text[text.size() - 4] == Char('.');
}

// A chosen file name gets `extension` (".orb", ".DAT", ".exe") unless it already has one.
template <typename Char>
std::basic_string<Char> WithExtension(std::basic_string_view<Char> path, std::basic_string_view<Char> extension) {
    std::basic_string<Char> out(path);
    if (!HasThreeLetterExtension(path)) {
        out += extension;
    }
    return out;
}

// The shortcut file name stored for a typed label: ".lnk" appended unless the label already ends
// in a three-letter extension.
template <typename Char> std::basic_string<Char> ShortcutFileName(std::basic_string_view<Char> label) {
    static constexpr Char kLnk[] = {Char('.'), Char('l'), Char('n'), Char('k'), Char(0)};
    return WithExtension(label, std::basic_string_view<Char>(kLnk));
}

} // namespace workspace
