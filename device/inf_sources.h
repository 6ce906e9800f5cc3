// Finding the source files a CAB-wizard INF names on this computer. The INF gives folders as
// Windows spells them: relative to the INF, or absolute ("C:\Work\bin"), names in any case. Here
// each folder is listed once and its names kept, so that an INF of 40,000 files costs one listing
// per folder and one look-up per file, whatever the host's file system makes of case.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace device::inf {

// Where a source's file lies. A seam for the compiler of INF files: the tests and the host both
// answer through it.
class SourceFinder {
public:
    virtual ~SourceFinder() = default;
    // The host path of `relative` (names separated by backslashes; "." and empty names skipped,
    // ".." going up) below the host folder `folder`. Each name is taken as written when the folder
    // holds it, else the one name there that differs from it only in case, as Windows would open
    // it. False with the cause in `problem` when nothing matches, when two names match, or when
    // the last name is a folder.
    virtual bool Find(std::u16string_view folder, std::u16string_view relative, std::u16string& found,
                      std::string& problem) = 0;
};

// The finder of this host: every folder listed the first time a name is looked for in it.
class HostSourceFinder final : public SourceFinder {
public:
    bool Find(std::u16string_view folder, std::u16string_view relative, std::u16string& found,
              std::string& problem) override;

private:
    struct Entry {
        std::u16string name;
        bool isFolder = false;
    };
    // A folder's names by their upper-cased form; null when the folder cannot be listed.
    using Listing = std::unordered_map<std::u16string, std::vector<Entry>>;
    const Listing* ListingOf(const std::u16string& folder);

    std::unordered_map<std::u16string, std::unique_ptr<Listing>> listings_;
};

// A folder of [SourceDisksNames] as it is to be looked for here.
struct SourceFolder {
    std::u16string base;     // a host folder
    std::u16string relative; // below it, in backslash form
};

// Where `path`, a source folder as the INF gives it, lies on this host: a relative path below the
// INF's folder; an absolute Windows path ("C:\x\y", "\x\y", "\\server\share\x\y") below
// `sourceFolder` with its drive or share dropped ("DIR/x/y"), or where it is when there is no
// `sourceFolder` and this host is Windows. False with the cause in `problem` for an absolute path
// on another host without `sourceFolder`.
bool PlaceSourceFolder(std::u16string_view path, std::u16string_view infFolder, std::u16string_view sourceFolder,
                       SourceFolder& place, std::string& problem);

} // namespace device::inf
