// Finding an INF's source files on this host: its folders re-rooted, its names matched without
// case through one cached listing per folder.
#include "device/inf_sources.h"

#include "platform/folder.h"
#include "platform/host_paths.h"
#include "platform/text.h"

#include <algorithm>

namespace device::inf {
namespace {

std::u16string Upper(std::u16string_view name) {
    std::u16string upper(name);
    for (char16_t& c : upper) {
        c = platform::UpperCaseUnit(c);
    }
    return upper;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

} // namespace

const HostSourceFinder::Listing* HostSourceFinder::ListingOf(const std::u16string& folder) {
    auto [place, added] = listings_.try_emplace(folder);
    if (added) {
        std::vector<platform::FolderItem> items;
        if (platform::ListFolder(folder, items)) {
            auto listing = std::make_unique<Listing>();
            for (platform::FolderItem& item : items) {
                // A name that is not text on this host opens nothing by its UTF-16 form.
                if (item.brokenName.empty() && item.name != u"." && item.name != u"..") {
                    (*listing)[Upper(item.name)].push_back({std::move(item.name), item.isFolder});
                }
            }
            place->second = std::move(listing);
        }
    }
    return place->second.get();
}

bool HostSourceFinder::Find(std::u16string_view folder, std::u16string_view relative, std::u16string& found,
                            std::string& problem) {
    std::u16string here(folder);
    bool isFolder = true;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos) {
            end = relative.size();
        }
        std::u16string_view name = relative.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == u".") {
            continue;
        }
        if (name == u"..") {
            here = platform::JoinHostPath(here, name);
            continue;
        }
        const Listing* listing = ListingOf(here);
        if (listing == nullptr) {
            problem = "cannot list the folder " + platform::ToUtf8(here);
            return false;
        }
        auto match = listing->find(Upper(name));
        const Entry* chosen = nullptr;
        if (match != listing->end()) {
            for (const Entry& entry : match->second) {
                if (entry.name == name) {
                    chosen = &entry;
                }
            }
            if (chosen == nullptr && match->second.size() == 1) {
                chosen = &match->second.front();
            }
        }
        if (chosen == nullptr) {
            std::u16string tried = platform::JoinHostPath(here, name);
            // A name before the last is a folder: say which is missing.
            const bool last = relative.find_first_not_of(u"\\/.", start > relative.size() ? relative.size() : start) ==
                              std::u16string_view::npos;
            problem = match == listing->end()
                          ? std::string(last ? "no such file: " : "no such folder: ") + platform::ToUtf8(tried) +
                                " (nor one whose name differs only in case)"
                          : platform::ToUtf8(platform::JoinHostPath(here, match->second[0].name)) + " and " +
                                platform::ToUtf8(platform::JoinHostPath(here, match->second[1].name)) +
                                " differ only in case, and either could be the file the INF names";
            return false;
        }
        here = platform::JoinHostPath(here, chosen->name);
        isFolder = chosen->isFolder;
    }
    if (isFolder) {
        problem = platform::ToUtf8(here) + " is a folder, not a file";
        return false;
    }
    found = std::move(here);
    return true;
}

bool PlaceSourceFolder(std::u16string_view path, std::u16string_view infFolder, std::u16string_view sourceFolder,
                       SourceFolder& place, std::string& problem) {
    std::u16string_view root, rest = path;
    if (rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == u':') {
        root = rest.substr(0, 2);
        rest.remove_prefix(2);
        if (rest.empty() || !IsSeparator(rest.front())) {
            // "C:bin" is relative to the current folder of drive C, which no other computer knows.
            problem = "the folder " + platform::ToUtf8(path) + " is relative to a drive's current folder; write it " +
                      platform::ToUtf8(root) + "\\" + platform::ToUtf8(rest);
            return false;
        }
    } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
        // \\server\share\...: the share is the root.
        std::size_t server = rest.find_first_of(u"\\/", 2);
        std::size_t share = server == std::u16string_view::npos ? server : rest.find_first_of(u"\\/", server + 1);
        std::size_t cut = share == std::u16string_view::npos ? rest.size() : share;
        root = rest.substr(0, cut);
        rest.remove_prefix(cut);
    } else if (!rest.empty() && IsSeparator(rest.front())) {
        root = rest.substr(0, 1);
    } else {
        place = {std::u16string(infFolder), std::u16string(path)};
        return true;
    }
    if (!sourceFolder.empty()) {
        place = {std::u16string(sourceFolder), std::u16string(rest)};
        return true;
    }
#ifdef _WIN32
    place = {std::u16string(root) + (root.size() == 2 && root[1] == u':' ? u"\\" : u""), std::u16string(rest)};
    return true;
#else
    std::u16string shown(rest.substr(std::min(rest.find_first_not_of(u"\\/"), rest.size())));
    for (char16_t& c : shown) {
        c = IsSeparator(c) ? u'/' : c;
    }
    problem = "the folder " + platform::ToUtf8(path) +
              " is a Windows path; give --source-folder DIR for where its files lie here (it is then looked for as "
              "DIR/" +
              platform::ToUtf8(shown) + ")";
    return false;
#endif
}

} // namespace device::inf
