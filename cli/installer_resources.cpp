// installer's --icon and --version-info.
#include "cli/installer_resources.h"

#include "cli/console.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace cli {
namespace {

// The strings Explorer's Properties show, which are the ones a user would want to set.
constexpr std::array<std::u16string_view, 7> kVersionKeys{u"ProductName",     u"ProductVersion",  u"FileVersion",
                                                          u"CompanyName",     u"FileDescription", u"LegalCopyright",
                                                          u"OriginalFilename"};

bool SameAscii(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

void Set(std::vector<pe::VersionString>& strings, std::u16string_view key, std::u16string value) {
    auto found = std::find_if(strings.begin(), strings.end(), [&](const pe::VersionString& s) { return s.key == key; });
    if (found != strings.end()) {
        found->value = std::move(value);
    } else {
        strings.push_back({std::u16string(key), std::move(value)});
    }
}

bool Has(const std::vector<pe::VersionString>& strings, std::u16string_view key) {
    return std::any_of(strings.begin(), strings.end(), [&](const pe::VersionString& s) { return s.key == key; });
}

} // namespace

bool ParseVersionSettings(const std::vector<std::u16string>& settings, pe::VersionChanges& changes,
                          std::string& problem) {
    std::vector<std::u16string_view> seen;
    for (const std::u16string& setting : settings) {
        std::size_t equals = setting.find(u'=');
        if (equals == std::u16string::npos) {
            problem = "--version-info " + Utf8(setting) + " is not KEY=VALUE";
            return false;
        }
        std::u16string_view given = std::u16string_view(setting).substr(0, equals);
        std::u16string value = setting.substr(equals + 1);
        auto key = std::find_if(kVersionKeys.begin(), kVersionKeys.end(),
                                [&](std::u16string_view k) { return SameAscii(k, given); });
        if (key == kVersionKeys.end()) {
            problem = "--version-info: unknown key \"" + Utf8(given) +
                      "\" (ProductName, ProductVersion, FileVersion, CompanyName, FileDescription, LegalCopyright "
                      "or OriginalFilename)";
            return false;
        }
        // Keys are matched without case, so "productname" and "ProductName" are one key given twice.
        if (std::find(seen.begin(), seen.end(), *key) != seen.end()) {
            problem = "--version-info: " + Utf8(*key) + " is given twice; give it once";
            return false;
        }
        seen.push_back(*key);
        if (*key == u"ProductVersion" || *key == u"FileVersion") {
            pe::VersionNumber number{};
            if (!pe::ParseVersionNumber(value, number)) {
                problem = "--version-info: " + Utf8(*key) + " \"" + Utf8(value) +
                          "\" is not four numbers below 65536 (a.b.c.d)";
                return false;
            }
            (*key == u"FileVersion" ? changes.fileVersion : changes.productVersion) = number;
        } else {
            Set(changes.strings, *key, std::move(value));
        }
    }
    return true;
}

bool InstallerResources::Prepare(const Args& args, const pe::VersionChanges& given, const Package& package,
                                 std::u16string_view output) {
    iconPath_ = args.Value("--icon");
    if (args.Has("--icon")) {
        Error error;
        if (!icon_.emplace().Load(iconPath_, error)) {
            PrintError(Utf8(iconPath_), "not a usable icon file: " + error.Text());
            return false;
        }
    }
    if (args.Has("--version-info")) {
        pe::VersionChanges changes = given;
        std::u16string name(FieldText(package.GetHeader().programName));
        if (!name.empty() && !Has(changes.strings, u"ProductName")) {
            Set(changes.strings, u"ProductName", name);
        }
        if (!name.empty() && !Has(changes.strings, u"FileDescription")) {
            Set(changes.strings, u"FileDescription", name.append(u" Setup"));
        }
        // The template's own version would pass for the application's: a version given once stands
        // for both.
        if (!changes.productVersion) {
            changes.productVersion = changes.fileVersion;
        }
        if (!changes.fileVersion) {
            changes.fileVersion = changes.productVersion;
        }
        if (!Has(changes.strings, u"OriginalFilename")) {
            Set(changes.strings, u"OriginalFilename", std::filesystem::path(output).filename().u16string());
        }
        version_.emplace(std::move(changes));
    }
    return true;
}

std::vector<const pe::ResourceEdit*> InstallerResources::Edits() const {
    std::vector<const pe::ResourceEdit*> edits;
    if (icon_) {
        edits.push_back(&*icon_);
    }
    if (version_) {
        edits.push_back(&*version_);
    }
    return edits;
}

} // namespace cli
