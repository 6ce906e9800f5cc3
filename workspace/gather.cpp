// The recursive walk behind a drop and behind Add Files.
#include "workspace/gather.h"

#include "platform/file.h"
#include "platform/folder.h"
#include "workspace/paths.h"

#include <algorithm>

namespace workspace {
namespace {

// `subfolder` is relative to `root` and either empty or ends in a backslash, as rows show it.
void Walk(Package& package, const std::u16string& root, const std::u16string& subfolder, GatherSink& sink) {
    std::vector<platform::FolderItem> items;
    // A folder that cannot be listed (gone, no access, path too long) adds nothing.
    if (!platform::ListFolder(root + subfolder, items)) {
        return;
    }
    for (const platform::FolderItem& item : items) {
        if (item.isFolder) {
            if (item.name != u"." && item.name != u"..") {
                Walk(package, root, subfolder + item.name + u'\\', sink);
            }
            continue;
        }
        std::u16string full = root + subfolder + item.name;
        if (package.AddFile(platform::NativePath(full).c_str(), FLAG_ALL_PLATFORMS)) {
            sink.FileAdded(subfolder + item.name);
        } else {
            sink.FileRefused(full);
        }
    }
}

std::u16string WithoutTrailingSeparators(std::u16string_view path) {
    std::u16string out = StoredPath(path);
    while (out.size() > 1 && out.back() == u'\\') {
        out.pop_back();
    }
    return out;
}

} // namespace

std::u16string StoredPath(std::u16string_view path) {
    std::u16string out(path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

void WalkAndAdd(Package& package, std::u16string_view folder, GatherSink& sink) {
    Walk(package, WithoutTrailingSeparators(folder) + u'\\', u"", sink);
}

void DropItems(Package& package, const std::vector<std::u16string>& items, GatherSink& sink) {
    package.Clear();
    for (const std::u16string& item : items) {
        if (platform::IsFolderOrUnknown(item)) {
            std::u16string root = WithoutTrailingSeparators(item) + u'\\';
            Walk(package, root, u"", sink);
            package.SetSourceFolder(root.c_str());
            continue;
        }
        bool added = package.AddFile(item.c_str(), FLAG_ALL_PLATFORMS);
        std::u16string stored = StoredPath(item);
        package.SetSourceFolder(ParentPath<char16_t>(stored).c_str());
        if (added) {
            sink.FileAdded(LastPathComponent<char16_t>(stored));
        }
    }
}

} // namespace workspace
