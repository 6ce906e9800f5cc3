// The one way files are written: a new file is made under a fresh name beside its target and moved
// over the target only once it is complete. So a failed or interrupted write leaves the old file
// as it was, a write never lands in a file the target's name merely leads to (a link, or another
// name of the same file), and a temporary name never costs the user a file that already had it.
#pragma once

#include "platform/file.h"
#include "platform/folder.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class ReplaceProblem {
    None,
    TargetNotRegular, // the target exists and is a folder, a link, a device or a pipe
    CannotCreate,     // no new file could be made beside the target
    CannotMove,       // the new file could not take the target's place
};

class Replacement {
public:
    explicit Replacement(std::u16string_view target) : target_(target) {}
    // The file `name` below an open folder, which must stay open while the object lives.
    Replacement(const FolderHandle& folder, std::u16string_view name);
    ~Replacement() { Discard(); }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Makes the new file. False when the target may not be replaced or no file can be made.
    bool Open();
    // What the caller found at the target's name just before: the next Open takes it instead of
    // looking again (Commit still looks, as the name may change while the file is written).
    void TakeExamined(PathKind kind) { examined_ = kind; }
    File& Out() { return out_; }
    // Closes the new file and moves it over the target, checking the target once more first.
    // On failure the new file is removed.
    bool Commit();
    // Closes and removes the new file; the target stays as it was.
    void Discard();
    ReplaceProblem Problem() const { return problem_; }
    const std::u16string& Target() const { return target_; }

private:
    std::u16string target_;  // the whole path, for messages
    FolderHandle ownFolder_; // the target's folder, opened by Open, where none was given
    const FolderHandle* folder_ = &ownFolder_;
    std::u16string name_;      // the target's name below the folder
    std::u16string temporary_; // the new file's name below the folder, while there is one
    File out_;
    ReplaceProblem problem_ = ReplaceProblem::None;
    std::optional<PathKind> examined_;
};

// A whole small file (a text, an .ini) written through a Replacement in one step. False with the
// system's reason kept when it could not be.
bool ReplaceWith(std::u16string_view target, std::string_view bytes);

// An empty file made under a fresh name beside `near`, for a build's intermediate results;
// removed when the object goes unless MoveTo has given it its final name.
class ScratchFile {
public:
    explicit ScratchFile(std::u16string_view near);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool IsMade() const { return !name_.empty(); }
    std::u16string Path() const { return name_.empty() ? std::u16string() : folder_.PathOf(name_); }
    // Moves the file over `target`, which must be missing or a regular file.
    bool MoveTo(std::u16string_view target);

private:
    FolderHandle folder_;
    std::u16string name_; // below the folder; empty once moved
};

} // namespace platform
