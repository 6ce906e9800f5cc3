// What info and verify do when they are given a Windows CE cabinet (.CAB) rather than a package:
// show its manifest, and check it reads whole and, with the sources, that it installs what the
// workspace it was made from plans for its processor family.
#pragma once

#include "cli/args.h"

#include <string>

namespace cli {

// Prints the cabinet's manifest, readable or as one JSON object. Answers the exit status; a
// cabinet the reader refuses is reported with its cause.
int ShowCabinet(const std::u16string& path, bool json, unsigned codePage);

// verify's checks of the cabinet that is the first positional argument, with --src, --workspace
// and --cpu. Answers the exit status.
int VerifyCabinet(const Args& args);

} // namespace cli
