// Writing files beside their targets and moving them into place.
#include "platform/replacement.h"

#include "platform/error.h"
#include "platform/names.h"

#include <utility>

namespace platform {
namespace {

constexpr unsigned kAttempts = 2000;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Whether a path may be replaced by a new file: it names nothing yet, or a regular file.
bool MayReplace(std::u16string_view target) {
    PathKind kind = Examine(target);
    return kind == PathKind::Missing || kind == PathKind::File;
}

} // namespace

std::u16string TemporaryName(std::u16string_view target, unsigned attempt) {
    std::size_t nameStart = 0;
    for (std::size_t i = target.size(); i > 0; --i) {
        if (IsSeparator(target[i - 1])) {
            nameStart = i;
            break;
        }
    }
    std::u16string mark = u"~";
    if (attempt > 0) {
        std::u16string digits;
        for (unsigned n = attempt; n > 0; n /= 36) {
            digits.insert(digits.begin(), u"0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
        }
        mark += digits;
    }
    std::u16string path(target);
    std::size_t nameLength = path.size() - nameStart;
    if (attempt == 0 && nameLength > 0 && path.back() == u'~') {
        mark = u"_"; // the target's own name must not come back
    }
    std::size_t cut = std::min(mark.size(), nameLength);
    // Half a surrogate pair would leave a name no file system can hold.
    if (cut < nameLength && path[path.size() - cut - 1] >= 0xD800 && path[path.size() - cut - 1] <= 0xDBFF) {
        ++cut;
    }
    path.replace(path.size() - cut, cut, mark);
    return path;
}

File CreateBeside(const FolderHandle& folder, std::u16string_view target, std::u16string& name) {
    for (unsigned attempt = 0; folder.IsOpen() && attempt < kAttempts; ++attempt) {
        std::u16string candidate = TemporaryName(target, attempt);
        if (NamesDevice(candidate)) {
            continue;
        }
        bool taken = false;
        File file = File::CreateTemporary(folder, candidate, &taken);
        if (file.IsOpen()) {
            name = std::move(candidate);
            return file;
        }
        if (!taken) {
            break;
        }
    }
    name.clear();
    return File();
}

Replacement::Replacement(const FolderHandle& folder, std::u16string_view name)
    : target_(folder.PathOf(name)), folder_(&folder), name_(name) {}

bool Replacement::Open() {
    std::optional<PathKind> examined = std::exchange(examined_, std::nullopt);
    Discard();
    problem_ = ReplaceProblem::None;
    if (folder_ == &ownFolder_ && !ownFolder_.IsOpen()) {
        ownFolder_ = FolderHandle::OpenParent(target_, name_);
    }
    PathKind kind = examined && folder_->IsOpen() ? *examined : folder_->Examine(name_);
    if (kind != PathKind::Missing && kind != PathKind::File) {
        problem_ = folder_->IsOpen() ? ReplaceProblem::TargetNotRegular : ReplaceProblem::CannotCreate;
        return false;
    }
#ifdef _WIN32
    // Windows opens a device for such a name in any folder.
    if (NamesDevice(name_)) {
        problem_ = ReplaceProblem::TargetNotRegular;
        return false;
    }
#endif
    out_ = CreateBeside(*folder_, name_, temporary_);
    if (!out_.IsOpen()) {
        problem_ = ReplaceProblem::CannotCreate;
        return false;
    }
    return true;
}

bool Replacement::Commit() {
    if (temporary_.empty()) {
        return false;
    }
    // What was checked when the file was opened may have changed while it was written.
    PathKind kind = PathKind::Other;
    folder_->GivePermissions(out_, name_, &kind);
    out_.Close();
    if (kind != PathKind::Missing && kind != PathKind::File) {
        problem_ = ReplaceProblem::TargetNotRegular;
        Discard();
        return false;
    }
    if (!folder_->Rename(temporary_, name_)) {
        problem_ = ReplaceProblem::CannotMove;
        Discard();
        return false;
    }
    ForgetOnInterrupt(folder_->PathOf(temporary_));
    temporary_.clear();
    return true;
}

bool ReplaceWith(std::u16string_view target, std::string_view bytes) {
    Replacement file(target);
    std::uint32_t written = 0;
    ForgetSystemReason();
    return file.Open() && file.Out().Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
           written == bytes.size() && file.Commit();
}

void Replacement::Discard() {
    KeepSystemReason keep;
    out_.Close();
    if (!temporary_.empty()) {
        folder_->Remove(temporary_);
        ForgetOnInterrupt(folder_->PathOf(temporary_));
        temporary_.clear();
    }
}

ScratchFile::ScratchFile(std::u16string_view near) {
    std::u16string target;
    folder_ = FolderHandle::OpenParent(near, target);
    CreateBeside(folder_, target, name_);
}

ScratchFile::~ScratchFile() {
    if (!name_.empty()) {
        folder_.Remove(name_);
        ForgetOnInterrupt(folder_.PathOf(name_));
    }
}

bool ScratchFile::MoveTo(std::u16string_view target) {
    std::u16string targetName;
    FolderHandle targetFolder = FolderHandle::OpenParent(target, targetName);
    if (name_.empty() || !MayReplace(target)) {
        return false;
    }
    // Given its permissions through a handle of its own: the file's name is only ours to use.
    File file = File::OpenRead(folder_.PathOf(name_), Share::Read);
    targetFolder.GivePermissions(file, targetName);
    file.Close();
    if (!RenameFile(folder_.PathOf(name_), target)) {
        return false;
    }
    ForgetOnInterrupt(folder_.PathOf(name_));
    name_.clear();
    return true;
}

} // namespace platform
