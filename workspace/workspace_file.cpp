#include "workspace/workspace_file.h"

#include "platform/file.h"

#include <vector>

namespace workspace {

bool SaveWorkspace(Package& package, const char16_t* path, std::u16string_view imageFile,
                   std::u16string_view buildCommand) {
    PackageHeader& header = package.GetHeader();
    header.count = package.GetCount();
    SetFieldText(header.imageFile, imageFile);
    SetFieldText(header.buildCommand, buildCommand);
    if (!path || !*path) {
        return false;
    }
    // The file is written beside the target and takes its place only when complete, so a save
    // that fails part way (a full disk, a lost share) never destroys the previous workspace file.
    // The temporary name is as long as the target's, so that it fits wherever the target does.
    std::u16string temporary(path);
    temporary.back() = temporary.back() == u'~' ? u'_' : u'~';
    platform::File out = platform::File::Create(temporary);
    if (!out.IsOpen()) {
        return false;
    }
    std::vector<PackageEntry> table(package.GetCount());
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        package.GetEntry(i, &table[i]);
    }
    const auto tableSize = static_cast<std::uint32_t>(table.size() * kEntrySize);
    std::uint32_t written = 0;
    bool ok = out.Write(&header, kHeaderSize, written) && written == kHeaderSize &&
              (table.empty() || (out.Write(table.data(), tableSize, written) && written == tableSize));
    out.Close();
    if (!ok || !platform::RenameFile(temporary, path)) {
        platform::RemoveFile(temporary);
        return false;
    }
    return true;
}

std::u16string RowForEntry(const PackageEntry& entry, std::u16string_view sourceFolder) {
    std::u16string_view name = FieldText(entry.filename);
    return std::u16string(name.size() < sourceFolder.size() ? name : name.substr(sourceFolder.size()));
}

} // namespace workspace
