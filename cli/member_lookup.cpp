// Looking up a workspace's members below the folder --source-folder names.
#include "cli/member_lookup.h"

#include "cli/args.h"
#include "cli/console.h"
#include "device/member_paths.h"

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/host_paths.h"
#include "platform/text.h"

#include <vector>

namespace cli {
namespace {

bool SameButForCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (platform::UpperCaseUnit(a[i]) != platform::UpperCaseUnit(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool FindBelow(std::u16string_view folder, std::u16string_view relative, std::u16string& found, Error& error) {
    std::u16string here(folder);
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = relative.size();
        }
        std::u16string_view name = relative.substr(start, end - start);
        start = end + 1;
        if (name.empty()) {
            continue;
        }
        std::u16string exact = platform::JoinHostPath(here, name);
        if (platform::Examine(exact) != platform::PathKind::Missing) {
            here = exact;
            continue;
        }
        // On a host that tells case apart, the files copied from Windows may be spelt otherwise
        // than the workspace spells them; Windows saw one file there, so only one may match here.
        std::vector<platform::FolderItem> items;
        std::vector<std::u16string> matches;
        if (platform::ListFolder(here, items)) {
            for (const platform::FolderItem& item : items) {
                if (item.brokenName.empty() && SameButForCase(item.name, name)) {
                    matches.push_back(platform::JoinHostPath(here, item.name));
                }
            }
        }
        if (matches.empty()) {
            error = Refusal("no such file: " + Utf8(exact) + " (nor one whose name differs only in case)");
            return false;
        }
        if (matches.size() > 1) {
            error = Refusal(Utf8(matches[0]) + " and " + Utf8(matches[1]) +
                            " differ only in case, and either could be the file the workspace names");
            return false;
        }
        here = matches[0];
    }
    found = here;
    return true;
}

bool FindMember(std::u16string_view folder, std::u16string_view sourceFolder, std::u16string_view filename,
                std::u16string& found, Error& error) {
    std::u16string relative;
    return device::RelativeMemberPath(sourceFolder, filename, relative, error) &&
           FindBelow(folder, relative, found, error);
}

bool LocateMembers(Package& package, std::u16string_view folder, std::u16string_view workspace) {
    if (folder.empty()) {
        return true;
    }
    if (platform::Examine(folder) != platform::PathKind::Folder) {
        PrintError(Utf8(folder), "--source-folder must name a folder");
        return false;
    }
    std::u16string_view sourceFolder = FieldText(package.GetHeader().sourceFolder);
    PackageEntry entry;
    for (std::uint32_t i = 0; package.GetEntry(i, &entry); ++i) {
        std::u16string found;
        Error error;
        if (!FindMember(folder, sourceFolder, FieldText(entry.filename), found, error)) {
            PrintError(Utf8(workspace), "file " + Utf8(FieldText(entry.filename)) + ": " + error.message);
            return false;
        }
        package.SetMemberSource(i, found);
    }
    return true;
}

} // namespace cli
