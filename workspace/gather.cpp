// The recursive walk behind a drop and behind Add Files.
#include "workspace/gather.h"

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/names.h"
#include "platform/text.h"
#include "workspace/paths.h"

#include <algorithm>
#include <map>

namespace workspace {
namespace {

constexpr std::string_view kCannotAdd =
    "cannot be added (it cannot be opened, is 2 GB or more, or its path is longer than 259 characters)";

struct ById {
    bool operator()(const platform::FileId& a, const platform::FileId& b) const {
        return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
    }
};

// Folders are told apart by identity, not by path: links (junctions on Windows) give one folder
// many paths, and following each of them would walk it again, or forever where a link leads back.
// Entering each folder once keeps the walk linear however the links are laid.
class Walker {
public:
    Walker(Package& package, GatherSink& sink) : package_(package), sink_(sink) {}

    // `subfolder` is relative to `root` and either empty or ends in a backslash, as rows show it.
    void Walk(const std::u16string& root, const std::u16string& subfolder);

private:
    struct Entered {
        std::u16string shown;
        bool inside; // the walk is in it, so reaching it again goes round in a loop
    };

    using EnteredFolders = std::map<platform::FileId, Entered, ById>;

    bool Enter(const std::u16string& folder, const std::u16string& shown, EnteredFolders::iterator& at);
    void Visit(const std::u16string& root, const std::u16string& subfolder, const platform::FolderItem& item);

    Package& package_;
    GatherSink& sink_;
    EnteredFolders entered_;
};

// A folder's path (stored form, ending in a backslash) as messages show it.
std::u16string Shown(std::u16string_view folder) {
    std::u16string shown = platform::NativePath(folder);
    if (shown.size() > 1 && shown[shown.size() - 2] != u':') {
        shown.pop_back();
    }
    return shown;
}

bool Walker::Enter(const std::u16string& folder, const std::u16string& shown, EnteredFolders::iterator& at) {
    platform::FileId id;
    if (!platform::IdentifyFile(folder, id)) {
        sink_.FolderRefused(shown, "cannot be read as a folder");
        return false;
    }
    auto [found, fresh] = entered_.try_emplace(id, Entered{shown, true});
    if (fresh) {
        at = found;
        return true;
    }
    if (found->second.inside) {
        sink_.FolderRefused(shown, "leads back to " + platform::ToUtf8(found->second.shown) +
                                       ", a folder it lies in (a loop of links)");
    } else {
        sink_.FolderRefused(shown, "leads to a folder already gathered as " + platform::ToUtf8(found->second.shown));
    }
    return false;
}

void Walker::Walk(const std::u16string& root, const std::u16string& subfolder) {
    std::u16string folder = root + subfolder;
    std::u16string shown = Shown(folder);
    EnteredFolders::iterator at;
    if (!Enter(folder, shown, at)) {
        return;
    }
    std::vector<platform::FolderItem> items;
    if (!platform::ListFolder(folder, items)) {
        sink_.FolderRefused(shown, "cannot be read as a folder");
    }
    for (const platform::FolderItem& item : items) {
        if (!item.isFolder || (item.name != u"." && item.name != u"..")) {
            Visit(root, subfolder, item);
        }
        sink_.ItemDone();
    }
    at->second.inside = false; // map iterators outlive the insertions made below this folder
}

void Walker::Visit(const std::u16string& root, const std::u16string& subfolder, const platform::FolderItem& item) {
    std::u16string folder = root + subfolder;
    std::u16string row = subfolder + item.name;
    auto refuse = [&](std::u16string_view shown, std::string_view reason) {
        if (item.isFolder) {
            sink_.FolderRefused(shown, reason);
        } else {
            sink_.FileRefused(row, shown, reason);
        }
    };
    std::u16string shown = platform::NativePath(folder);
    if (!item.brokenName.empty()) {
        refuse(shown + platform::ToUtf16(item.brokenName),
               "its name is not UTF-8 text (the bytes that are not are shown as \\xNN), so it has no name on Windows");
        return;
    }
    shown += item.name;
    // Where a backslash is part of a name, the package (whose separator it is) would split the name
    // in two: "a\b.txt" would be installed as b.txt in a folder a, over a real a/b.txt.
    if (platform::NativeSeparator() != u'\\' && item.name.find(u'\\') != std::u16string::npos) {
        refuse(shown, "its name holds a backslash, which Windows takes for a folder separator");
        return;
    }
    std::string cause;
    if (!sink_.NameAllowed(item.name, cause)) {
        refuse(shown, cause);
        return;
    }
    if (item.isFolder) {
        sink_.InFolder(row + u'\\');
        Walk(root, row + u'\\');
        sink_.InFolder(subfolder);
    } else if (package_.AddListedFile(platform::NativePath(folder + item.name).c_str(), FLAG_ALL_PLATFORMS,
                                      item.readableLength)) {
        sink_.FileAdded(row);
    } else {
        sink_.FileRefused(row, shown, kCannotAdd);
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
    WalkBelow(package, WithoutTrailingSeparators(folder) + u'\\', sink);
}

void WalkBelow(Package& package, std::u16string_view root, GatherSink& sink) {
    Walker(package, sink).Walk(std::u16string(root), u"");
}

void DropItems(Package& package, const std::vector<std::u16string>& items, GatherSink& sink) {
    package.Clear();
    Walker walker(package, sink);
    for (const std::u16string& item : items) {
        // Stored, the backslash would become a separator and the path another one.
        if (platform::NativeSeparator() != u'\\' && item.find(u'\\') != std::u16string::npos) {
            sink.Refused(item, "its path holds a backslash, which Windows takes for a folder separator");
            continue;
        }
        if (platform::IsFolderOrUnknown(item)) {
            std::u16string root = WithoutTrailingSeparators(item) + u'\\';
            walker.Walk(root, u"");
            package.SetSourceFolder(root.c_str());
            continue;
        }
        std::u16string stored = StoredPath(item);
        std::u16string name = LastPathComponent<char16_t>(stored);
        package.SetSourceFolder(ParentPath<char16_t>(stored).c_str());
        std::string cause;
        if (!sink.NameAllowed(name, cause)) {
            sink.Refused(item, cause);
        } else if (package.AddFile(item.c_str(), FLAG_ALL_PLATFORMS)) {
            sink.FileAdded(name);
        } else {
            sink.Refused(item, kCannotAdd);
        }
    }
}

} // namespace workspace
