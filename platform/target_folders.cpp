// Opening the folders on the way to a file below a destination, one below the other.
#include "platform/target_folders.h"

#include "platform/text.h"

namespace platform {
namespace {

std::vector<std::u16string_view> SplitComponents(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
            if (i > start) {
                parts.push_back(path.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return parts;
}

// Opens the folders parts[chain.size() .. parts.size() - 1) below the last of `chain` (or `root`),
// and examines the file's name in the last.
bool ExtendChain(const FolderHandle& root, const std::vector<std::u16string_view>& parts,
                 std::vector<FolderHandle>& chain, std::u16string& name, Error& error, PathKind* found, FileId* id) {
    // Each folder is opened below the one before it, never through a link, and held open while
    // the file is written: so it stays the folder that was examined, whatever is done by path.
    const FolderHandle* folder = chain.empty() ? &root : &chain.back();
    for (std::size_t i = chain.size(); i + 1 < parts.size(); ++i) {
        PathKind kind = PathKind::Other;
        FolderHandle child = folder->Child(parts[i], true, kind);
        if (!child.IsOpen()) {
            const std::string shown = ToUtf8(folder->PathOf(parts[i]));
            switch (kind) {
            case PathKind::Link:
                error = Refusal(shown + " is a link (a symbolic link or junction); nothing is written through links");
                break;
            case PathKind::File:
                error = Refusal(shown + " is a file where a folder belongs");
                break;
            case PathKind::Missing:
            case PathKind::Folder:
                error = Refusal("cannot make the folder " + shown);
                break;
            case PathKind::Other:
                error =
                    Refusal(shown + " is not a regular file or folder (a device, a pipe, or it cannot be examined)");
                break;
            }
            chain.clear();
            return false;
        }
        chain.push_back(std::move(child));
        folder = &chain.back();
    }
    name = std::u16string(parts.back());
    PathKind kind = folder->Examine(name, id);
    if (found) {
        *found = kind;
    }
    switch (kind) {
    case PathKind::Missing:
    case PathKind::File:
        return true;
    case PathKind::Folder:
        error = Refusal("a folder of that name is in the way");
        break;
    case PathKind::Link:
        error = Refusal("a link of that name is in the way");
        break;
    case PathKind::Other:
        error =
            Refusal("something that is not a regular file (a device, a pipe, or it cannot be examined) has that name");
        break;
    }
    chain.clear();
    return false;
}

} // namespace

const FolderHandle* TargetFolders::Prepare(std::u16string_view relative, std::u16string& name, Error& error,
                                           PathKind* found, FileId* id) {
    std::vector<std::u16string_view> parts = SplitComponents(relative);
    if (parts.empty()) {
        error = Refusal("it has no name below the destination folder");
        return nullptr;
    }
    // Keep the folders this file shares with the last one, compared as written: a name that differs
    // only in case is opened again, which costs a call and nothing else.
    std::size_t kept = 0;
    while (kept < names_.size() && kept + 1 < parts.size() && names_[kept] == parts[kept]) {
        ++kept;
    }
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(kept), chain_.end());
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(kept), names_.end());
    if (!ExtendChain(root_, parts, chain_, name, error, found, id)) {
        names_.clear();
        return nullptr;
    }
    for (std::size_t i = kept; i < chain_.size(); ++i) {
        names_.emplace_back(parts[i]);
    }
    return chain_.empty() ? &root_ : &chain_.back();
}

} // namespace platform
