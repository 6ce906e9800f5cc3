// Writing files beside their targets and moving them into place.
#include "platform/replacement.h"

#include "platform/names.h"

namespace platform {
namespace {

constexpr unsigned kAttempts = 2000;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

} // namespace

bool MayReplace(std::u16string_view target) {
    PathKind kind = Examine(target);
    return kind == PathKind::Missing || kind == PathKind::File;
}

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

File CreateBeside(std::u16string_view target, std::u16string& path) {
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        std::u16string candidate = TemporaryName(target, attempt);
        std::u16string_view name(candidate);
        for (std::size_t i = name.size(); i > 0; --i) {
            if (IsSeparator(name[i - 1])) {
                name.remove_prefix(i);
                break;
            }
        }
        if (NamesDevice(name)) {
            continue;
        }
        bool taken = false;
        File file = File::CreateTemporary(candidate, &taken);
        if (file.IsOpen()) {
            path = std::move(candidate);
            return file;
        }
        if (!taken) {
            break;
        }
    }
    path.clear();
    return File();
}

bool Replacement::Open() {
    Discard();
    problem_ = ReplaceProblem::None;
    if (!MayReplace(target_)) {
        problem_ = ReplaceProblem::TargetNotRegular;
        return false;
    }
    out_ = CreateBeside(target_, temporary_);
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
    out_.TakePermissionsFor(target_);
    out_.Close();
    // What was checked when the file was opened may have changed while it was written.
    if (!MayReplace(target_)) {
        problem_ = ReplaceProblem::TargetNotRegular;
        Discard();
        return false;
    }
    if (!RenameFile(temporary_, target_)) {
        problem_ = ReplaceProblem::CannotMove;
        Discard();
        return false;
    }
    ForgetOnInterrupt(temporary_);
    temporary_.clear();
    return true;
}

void Replacement::Discard() {
    out_.Close();
    if (!temporary_.empty()) {
        RemoveFile(temporary_);
        ForgetOnInterrupt(temporary_);
        temporary_.clear();
    }
}

ScratchFile::ScratchFile(std::u16string_view near) { CreateBeside(near, path_); }

ScratchFile::~ScratchFile() {
    if (!path_.empty()) {
        RemoveFile(path_);
        ForgetOnInterrupt(path_);
    }
}

bool ScratchFile::MoveTo(std::u16string_view target) {
    if (path_.empty() || !MayReplace(target) || !GivePermissionsFor(path_, target) || !RenameFile(path_, target)) {
        return false;
    }
    ForgetOnInterrupt(path_);
    path_.clear();
    return true;
}

} // namespace platform
