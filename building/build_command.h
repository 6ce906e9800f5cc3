// The build command run after an installer is built: its "<filename>" tag becomes the installer's
// path in double quotes. Used by the main window and by the command-line builder alike, so that
// both run the same command line.
#pragma once

#include <string>
#include <string_view>

namespace building {

inline constexpr std::string_view kDefaultBuildCommand = "Cexe.exe <filename>";

// Whether a build command holds nothing but blanks (spaces, tabs, line breaks): such a command
// names no program, and runs nothing.
bool IsBlankCommand(std::string_view command);

// Only the first '<' counts. When the first tag is exactly "filename" it is replaced by the quoted
// path and the rest of the command kept; in every other case the command line is just the quoted
// path, so that the new installer itself is started. The path goes in unescaped.
std::string ExpandBuildCommand(std::string_view command, std::string_view installerPath);

// The same for a POSIX shell, which would act on whatever the path holds. The shell that finally
// runs the text sees the path as one single-quoted word, wherever the tag stands: outside quotes,
// or inside the single or double quotes of a text handed to a further shell ("sh -c '... <filename>'").
std::string ExpandBuildCommandForShell(std::string_view command, std::string_view installerPath);

} // namespace building
