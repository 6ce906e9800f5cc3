// The folder a user names for outputs (`cab -d`, `inf -d`, `extract -d`, the installer's folder
// and cabinet destinations), made where missing, and unmade when the run fails before anything was
// written into it.
//
// The folder and the folders above it may be reached through links, junctions or volumes mounted
// in a folder: where the user writes is theirs to say, and every front end must accept it alike.
// What lies below it, made from a package's names, is another matter (platform::TargetFolders).
#pragma once

#include "platform/error.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Destination {
public:
    Destination() = default;
    // Removes what Make made, unless Keep was called: a failed run leaves no empty folder behind.
    ~Destination() { Undo(); }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // Makes `path` and any folder missing above it. Fails for a path that is not a folder or
    // cannot be made (the error's subject the folder that could not be made, its reason the
    // system's), and refuses on Windows one with a folder name ending in a dot or a blank, which
    // Windows would silently drop: the folder made would not be the one asked for.
    bool Make(std::u16string_view path, Error& error);
    // The run has written into the folder: it stays.
    void Keep() { made_.clear(); }
    // Removes the folders Make made, the deepest first, as long as they are empty.
    void Undo();

private:
    std::vector<std::u16string> made_; // outermost first
};

// Why a folder name of `path` would not survive Windows' trimming (a trailing dot or blank), or an
// empty text. Every host answers alike; only Windows trims.
std::string TrimmedFolderProblem(std::u16string_view path);

} // namespace platform
