// Writing an install plan below a folder.
#include "device/install_write.h"

#include "package/package.h"
#include "platform/destination.h"
#include "platform/folder.h"
#include "platform/host_paths.h"
#include "platform/replacement.h"
#include "platform/target_folders.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace device {
namespace {

// The destination made where missing and opened, links followed: where the user installs is
// theirs to say. Below it, nothing is.
bool OpenDestination(std::u16string_view destination, platform::Destination& made, platform::FolderHandle& root,
                     Error& error) {
    namespace fs = std::filesystem;
    if (destination.empty()) {
        error = Refusal("no destination folder was given");
        return false;
    }
    Error why;
    std::error_code ec;
    const fs::path canonical =
        made.Make(destination, why) ? fs::canonical(platform::FsPath(destination), ec) : fs::path();
    if (!why && !ec) {
        platform::ForgetSystemReason();
        root = platform::FolderHandle::Open(platform::FromFsPath(canonical));
        why.reason = root.IsOpen() ? std::string() : platform::SystemReason();
    } else if (ec) {
        why.reason = ec.message();
    }
    if (!root.IsOpen()) {
        bool refused = why.code == ErrorCode::Refused;
        error = {refused ? ErrorCode::Refused : ErrorCode::CannotCreate, platform::ToUtf8(destination),
                 refused ? why.message : "cannot make the destination folder", why.reason};
        return false;
    }
    return true;
}

bool WriteText(platform::Replacement& file, const std::string& text) {
    std::uint32_t written = 0;
    return file.Open() && file.Out().Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size() && file.Commit();
}

// The error of a file that could not be written, with the system's reason. Where the target had
// turned out not to be a regular file no call failed, and the last error would be an old one.
Error WriteError(const platform::Replacement& out, const std::u16string& relative, std::string message) {
    Error error = SystemError(ErrorCode::CannotWrite, platform::ToUtf8(relative), std::move(message));
    if (out.Problem() == platform::ReplaceProblem::TargetNotRegular) {
        error.reason.clear();
    }
    return error;
}

} // namespace

InstallOutcome WriteInstall(Package& package, const InstallPlan& plan, std::u16string_view destination,
                            InstallObserver* observer, const platform::FileId* source) {
    InstallOutcome outcome;
    outcome.filesPlanned = plan.files.size() + plan.shortcuts.size();
    platform::FolderHandle root;
    platform::Destination made;
    if (!OpenDestination(destination, made, root, outcome.error)) {
        return outcome;
    }
    // A run that fails before its first file leaves no folder it made behind.
    struct KeepWhenWritten {
        platform::Destination& made;
        const InstallOutcome& outcome;
        ~KeepWhenWritten() {
            if (outcome.filesWritten > 0) {
                made.Keep();
            }
        }
    } keepWhenWritten{made, outcome};
    // Files of one folder follow one another in a plan, so each folder on the way is made, opened
    // and examined once, not once for every file in it.
    platform::TargetFolders folders(root);
    std::uint64_t bytesDone = 0;
    for (std::size_t i = 0; i < outcome.filesPlanned; ++i) {
        const bool member = i < plan.files.size();
        const std::u16string& relative =
            member ? plan.files[i].relative : plan.shortcuts[i - plan.files.size()].relative;
        if (observer) {
            observer->FileStarting(relative, bytesDone, plan.totalBytes);
        }
        std::u16string name;
        Error why;
        platform::PathKind found = platform::PathKind::Other;
        platform::FileId id;
        const platform::FolderHandle* folder = folders.Prepare(relative, name, why, &found, source ? &id : nullptr);
        if (folder != nullptr && source != nullptr && found == platform::PathKind::File && id == *source) {
            why = Refusal("is the file being extracted");
            folder = nullptr;
        }
        if (folder == nullptr) {
            outcome.file = platform::JoinHostPath(root.Path(), relative);
            outcome.error = {why.code, platform::ToUtf8(relative), why.message, why.reason};
            return outcome;
        }
        platform::Replacement out(*folder, name);
        out.TakeExamined(found);
        // A member may also fail for the package's sake, with no call failing.
        platform::ForgetSystemReason();
        if (member ? !package.ExtractToFile(plan.files[i].index, out)
                   : !WriteText(out, plan.shortcuts[i - plan.files.size()].text)) {
            outcome.file = folder->PathOf(name);
            outcome.error =
                WriteError(out, relative, member ? platform::ToUtf8(package.LastError()) : "cannot be written");
            return outcome;
        }
        if (member) {
            bytesDone += plan.files[i].size;
        }
        ++outcome.filesWritten;
    }
    return outcome;
}

} // namespace device
