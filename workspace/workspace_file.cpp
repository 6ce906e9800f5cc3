// The workspace file: saving the header and the entry table, telling a member's file, and a row's
// text for an opened entry.
#include "workspace/workspace_file.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/replacement.h"

#include <vector>

namespace workspace {

bool SaveWorkspace(Package& package, const char16_t* path, std::u16string_view imageFile,
                   std::u16string_view buildCommand, std::string* reason) {
    PackageHeader& header = package.GetHeader();
    header.count = package.GetCount();
    SetFieldText(header.imageFile, imageFile);
    SetFieldText(header.buildCommand, buildCommand);
    if (!path || !*path) {
        return false;
    }
    // The file is written beside the target and takes its place only when complete, so a save
    // that fails part way (a full disk, a lost share) never destroys the previous workspace file,
    // and nothing is written through a link or a second name of another file. The new file's
    // name is no longer than the target's, so that it fits wherever the target does.
    if (IsMemberFile(package, path)) {
        return false;
    }
    platform::Replacement out(path);
    const std::vector<PackageEntry>& table = package.Entries();
    const auto tableSize = static_cast<std::uint32_t>(table.size() * kEntrySize);
    std::uint32_t written = 0;
    platform::ForgetSystemReason();
    if (out.Open() && out.Out().Write(&header, kHeaderSize, written) && written == kHeaderSize &&
        (table.empty() || (out.Out().Write(table.data(), tableSize, written) && written == tableSize)) &&
        out.Commit()) {
        return true;
    }
    // A target that is no file to replace failed no call: whatever reason is left is not this one's.
    if (reason && out.Problem() != platform::ReplaceProblem::TargetNotRegular) {
        *reason = platform::SystemReason();
    }
    return false;
}

bool IsMemberFile(const Package& package, std::u16string_view path) {
    platform::FileId target;
    if (!platform::IdentifyFile(path, target)) {
        return false;
    }
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        platform::FileId member;
        if (platform::IdentifyFile(package.MemberSource(i), member) && member == target) {
            return true;
        }
    }
    return false;
}

std::u16string RowForEntry(const PackageEntry& entry, std::u16string_view sourceFolder) {
    std::u16string_view name = FieldText(entry.filename);
    return std::u16string(name.size() < sourceFolder.size() ? name : name.substr(sourceFolder.size()));
}

} // namespace workspace
