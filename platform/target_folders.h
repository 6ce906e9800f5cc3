// The folders on the way to each file written below a destination folder, opened one below the
// other and never through a link, so that a file of a package lands nowhere but below the
// destination. About the host's file system; which files go there is decided before (device/).
#pragma once

#include "platform/error.h"
#include "platform/file.h"
#include "platform/folder.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The place of one file after another below `root` (the destination, open): the folders on the
// way, made where missing and opened each below the one before, and the file's name in the last.
// Refuses, with the error.message, a link or junction anywhere below `root` (examined itself,
// never followed), a file or device where a folder belongs, and anything but a regular file at
// the file's own name, so that nothing can be written outside `root` or into something that is
// not a plain file. The folders the next file shares with the last stay open and are used again:
// a folder of many files is made and opened once, not once per file, and a folder held open is
// the one that was examined, so using it again follows no link.
class TargetFolders {
public:
    explicit TargetFolders(const FolderHandle& root) : root_(root) {}
    // The folder to write the file `name` in, or nullptr with the error.message; valid until the
    // next call. `found` says whether a file of that name is there already (Missing or File), with
    // its identity in `id` when asked for: what the caller would otherwise have to look up again.
    const FolderHandle* Prepare(std::u16string_view relative, std::u16string& name, Error& error,
                                PathKind* found = nullptr, FileId* id = nullptr);

private:
    const FolderHandle& root_;
    std::vector<FolderHandle> chain_;
    std::vector<std::u16string> names_; // the component each folder of chain_ was opened by
};

} // namespace platform
