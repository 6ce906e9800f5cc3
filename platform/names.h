// Windows' rules for file names, applied on every host: a package is made anywhere but installed
// on Windows (CE), where these rules decide which file a name really opens.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A path component as Windows opens it: with its trailing dots and blanks dropped, so "x." and
// "x" name one file and "COM5 " names the port COM5.
std::u16string_view TrimmedComponent(std::u16string_view component);

// Whether the component names a device in every folder, with or without an extension and
// whatever trailing dots or blanks it carries: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (and the
// superscript-digit forms), CONIN$, CONOUT$ ("nul.txt", "con .txt", "aux.", "COM5 ").
bool NamesDevice(std::u16string_view component);

// Whether Windows refuses the unit anywhere in a name: control characters and < > : " / \ | ? *.
bool ForbiddenInName(char16_t unit);

// Whether the text holds a control character: a unit below 0x20 (a line break, a tab), DEL, or one
// of the C1 controls U+0080-U+009F (U+0085 is a line break to some readers). None belongs in a
// name a person gives, and a line break in one would end the line of a text file that another
// program reads line by line (the CAB wizard's INF).
bool HasControlCharacter(std::u16string_view text);

// The key under which Windows finds a relative path (either separator): every component trimmed
// and upper-cased as NTFS compares names, joined by backslashes. Two paths with one key are one
// file there.
std::u16string NameKey(std::u16string_view path);

// Two members that Windows takes for one file: `file` has the name of `other` (its key under
// NameKey is the same), or, with `otherIsBelow`, the name of the folder `other` lies in. Or, with
// `shortName` set, a name in `file`'s path has the form of a short (8.3) name ("LONGFI~1.TXT")
// that Windows may give to `longName`, a name beside it in `other`'s path: where the volume
// makes short names, opening one opens the other.
struct NameClash {
    std::size_t file;
    std::size_t other;
    bool otherIsBelow;
    std::u16string shortName; // as the paths spell them
    std::u16string longName;
};

// Every clash among members' paths relative to one folder, in the order of `file`: of several
// members with one name, each after the first clashes with the first; a short name clashes with
// the first long name beside it that it may stand for, once. O(n log n), for workspaces of tens of
// thousands of files.
std::vector<NameClash> NameClashes(const std::vector<std::u16string>& relatives);

} // namespace platform
