// An executable's version resource (VS_VERSIONINFO), which Explorer's Properties and the
// platform's version functions show: read for "info", and rewritten so that an installer names
// the application it installs instead of the template it was made from. The resource is kept as
// the template has it (its language, code page, other strings and blocks) but for what is changed.
#pragma once

#include "package/pe_resources.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

inline constexpr std::uint16_t kTypeVersion = 16;

// a.b.c.d, as the fixed part of the resource holds it.
using VersionNumber = std::array<std::uint16_t, 4>;

// Four decimal numbers, each below 65536, separated by dots.
bool ParseVersionNumber(std::u16string_view text, VersionNumber& number);
std::u16string VersionText(const VersionNumber& number);

struct VersionString {
    std::u16string key;
    std::u16string value;
};

// What a version resource says: the first string table, in the language and code page of its
// translation, and the file and product versions of its fixed part.
struct VersionInfo {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    std::vector<VersionString> strings;
    bool hasFixed = false;
    VersionNumber fileVersion{};
    VersionNumber productVersion{};
};

bool ParseVersionResource(std::span<const std::uint8_t> resource, VersionInfo& info, Error& error);

// The version resource of an executable, as the platform's version functions find it; `found`
// is false when the executable has none.
bool ReadVersionInfo(std::u16string_view exePath, VersionInfo& info, bool& found, Error& error);

// A version given also sets its string ("FileVersion", "ProductVersion"); a string is set in
// every string table, added where a table lacks it.
struct VersionChanges {
    std::vector<VersionString> strings;
    std::optional<VersionNumber> fileVersion;
    std::optional<VersionNumber> productVersion;
};

bool RewriteVersionResource(std::span<const std::uint8_t> resource, const VersionChanges& changes,
                            std::vector<std::uint8_t>& rewritten, Error& error);

// Rewrites every version resource of the executable, each in its own language; an executable
// without one gets one as resource 1 in U.S. English (code page 1200).
class VersionEdit final : public ResourceEdit {
public:
    explicit VersionEdit(VersionChanges changes) : changes_(std::move(changes)) {}
    bool Plan(std::u16string_view exePath, const std::vector<ResourceInfo>& resources,
              std::vector<ResourceUpdate>& updates, Error& error) const override;

private:
    VersionChanges changes_;
};

} // namespace pe
