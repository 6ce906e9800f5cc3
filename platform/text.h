// Text conversions at the edges of the program. Inside the package core every text is UTF-16
// (char16_t), as the package format stores it; POSIX file names are UTF-8. Converting in this one
// place keeps the rest of the code free of encoding questions.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Answers false for text that is not well-formed (a lone surrogate, a broken UTF-8 sequence),
// so that a file name never silently turns into a different one.
bool Utf16ToUtf8(std::u16string_view in, std::string& out);
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// Convenience forms for tests and messages: ill-formed input gives U+FFFD where it was broken.
std::string ToUtf8(std::u16string_view in);
std::u16string ToUtf16(std::string_view in);

// Bytes fit for a message line: well-formed UTF-8 as it is, but every byte of a broken sequence or
// of a control character as \xNN, so that a file name that is not text, or that holds a line
// break or a terminal's escape, shows what it is on one line.
std::string Printable(std::string_view bytes);

} // namespace platform

namespace platform {

// The system's 8-bit code page, in which the main window's controls work: the ANSI code page on
// Windows (characters it lacks become '?'), UTF-8 elsewhere.
std::string ToAnsi(std::u16string_view in);
std::u16string FromAnsi(std::string_view in);

// One UTF-16 unit upper-cased as Windows does when it compares names (file names on NTFS,
// resource names): every letter of the Basic Multilingual Plane with a one-unit capital.
char16_t UpperCaseUnit(char16_t c);

} // namespace platform
