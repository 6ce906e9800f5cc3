// Standard input and output of a program, in the wide sense: its arguments, its own folder, and
// standard output and error (and whether a person watches the latter). Windows gives arguments
// and console text as UTF-16, POSIX hosts as bytes that are UTF-8 here. Not to be confused with
// the command-line builder's cli/console.h, which words its messages on top of this.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments after the program's name. On Windows the wide command line is split as the C
// runtime would split it (argc and argv are not used), since the narrow one loses every character
// outside the ANSI code page; elsewhere argv is decoded as UTF-8. Fails with the argument that is
// not UTF-8.
bool ProgramArguments(int argc, char** argv, std::vector<std::u16string>& arguments, std::string& bad);

// The folder holding the running program, with a trailing separator; false where the host does
// not tell.
bool ProgramFolder(std::u16string& folder);

// Writes UTF-8 text to standard output or error. A Windows console is given it as UTF-16, as it
// would show the bytes in its own code page; text redirected to a file or pipe stays UTF-8.
void WriteStandard(bool error, std::string_view text);

// Whether standard error is a terminal (a console on Windows), where a progress bar may be drawn.
bool StandardErrorIsTerminal();

} // namespace platform
