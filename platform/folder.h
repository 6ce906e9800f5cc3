// Folders: one level of a folder's listing, which the walk that gathers an application's files goes
// through, and open folders, below which files are made by name.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct FolderItem {
    std::u16string name; // without its folder
    bool isFolder = false;
    // Set only where the host's name is not text (on POSIX, bytes that are not UTF-8): `name` then
    // has U+FFFD where the bytes broke and opens nothing, and this is the name fit to show, the
    // bytes that broke written as \xNN.
    std::string brokenName;
    // A regular file this process may read, and its length, where the listing could learn both
    // without opening it (POSIX hosts: one look at it from the folder already open). Unknown (-1)
    // elsewhere; the file is then measured by its path.
    std::int64_t readableLength = -1;
};

// Lists the names in `folder`, "." and ".." included where the host reports them. Win32 gives the
// platform's own order; POSIX hosts, whose order is arbitrary, sort as NTFS lists (by the names
// upper-cased), so that a folder gathers in the same order on every host. False when the folder cannot be listed.
bool ListFolder(std::u16string_view folder, std::vector<FolderItem>& items);

// Whether the path names a folder. Like the platform's attribute test, a path that cannot be
// examined counts as a folder.
bool IsFolderOrUnknown(std::u16string_view path);

// An open folder, below which names are examined, made, renamed and removed. Once open, it stays
// the folder it was: a folder swapped for a link meanwhile is never followed (POSIX works relative
// to the open folder; Windows lets nobody move or delete a folder held open this way). So a chain of
// folders opened one below the other with Child leads nowhere but where it was checked to lead.
class FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle() { Close(); }
    FolderHandle(FolderHandle&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
        other.handle_ = kNone;
    }
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // The folder at `path`, links followed: where a user puts their files is theirs to say.
    static FolderHandle Open(std::u16string_view path);
    // The folder holding `path`, with the last component of `path` in `name`.
    static FolderHandle OpenParent(std::u16string_view path, std::u16string& name);

    bool IsOpen() const { return handle_ != kNone; }
    // The folder's path, for messages and for what is done by path (the clean-up on interrupt).
    const std::u16string& Path() const { return path_; }
    // The path of `name` below the folder.
    std::u16string PathOf(std::u16string_view name) const;

    // The subfolder `name`, made when missing and `make` is set, never through a link. Not open
    // when there is something else (`found` says what) or it cannot be opened or made.
    FolderHandle Child(std::u16string_view name, bool make, PathKind& found) const;
    // What `name` below the folder is, the name itself examined; for a file also its identity,
    // when `id` is given, from the same look.
    PathKind Examine(std::u16string_view name, FileId* id = nullptr) const;
    // The identity of the file `name`, links not followed.
    bool Identify(std::u16string_view name, FileId& id) const;
    // A new file `name`, as File::CreateNew makes one.
    File CreateNew(std::u16string_view name, bool* nameTaken) const;
    // Gives `file` (new, readable by its owner alone) the permissions it is to have in place of
    // `target` below this folder: the target's own where it is a file, less any set-user or
    // set-group bit and write permission for all, else the usual ones of a new file. Only where the
    // host keeps permissions per file (POSIX modes). `found`, when given, says what the target was
    // at that moment, so that the caller about to replace it need not look again.
    bool GivePermissions(File& file, std::u16string_view target, PathKind* found = nullptr) const;
    bool Rename(std::u16string_view from, std::u16string_view to) const;
    bool Remove(std::u16string_view name) const;
    void Close();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone; // a POSIX descriptor or a Win32 HANDLE
    std::u16string path_;
};

} // namespace platform
