// The steps dat and installer share: opening the workspace file, writing its package with a
// progress bar, and temporary files beside the output that go away however the build ends.
#pragma once

#include "package/package.h"

#include <string>
#include <string_view>

namespace cli {

// Opens WORKSPACE.orb into `package`; on failure prints the one error line and answers false.
bool OpenWorkspace(std::u16string_view path, Package& package);

// Writes the package to `destination`; on failure prints the error line, naming the workspace for
// a member that cannot be read and `output` (what the user asked for) for a file that cannot be made.
bool WritePackage(Package& package, std::u16string_view workspace, std::u16string_view destination,
                  std::u16string_view output, bool quiet);

// A file beside the output that is removed when the build ends, kept only when it is renamed
// into place.
class TemporaryFile {
public:
    TemporaryFile(std::u16string_view output, std::u16string_view suffix);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::u16string& Path() const { return path_; }
    // Moves the file over `destination`; afterwards there is nothing to remove.
    bool RenameTo(std::u16string_view destination);

private:
    std::u16string path_;
    bool owned_ = true;
};

} // namespace cli
