// Finding the nearest of several names by their edit distance.
#include "cli/nearest.h"

#include "platform/text.h"

#include <algorithm>
#include <vector>

namespace cli {
namespace {

std::u16string_view WithoutDashes(std::u16string_view text) {
    std::size_t dashes = text.find_first_not_of(u'-');
    return dashes == std::u16string_view::npos ? std::u16string_view() : text.substr(dashes);
}

} // namespace

std::size_t EditDistance(std::u16string_view a, std::u16string_view b, std::size_t limit) {
    // Every edit changes the length by one at most.
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) {
        return limit + 1;
    }
    // Three rows of the table: two before the current one, for the swap of neighbours.
    std::vector<std::size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        last[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        std::size_t least = row[0];
        char16_t x = platform::UpperCaseUnit(a[i - 1]);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            char16_t y = platform::UpperCaseUnit(b[j - 1]);
            row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (x == y ? 0 : 1)});
            if (i > 1 && j > 1 && x == platform::UpperCaseUnit(b[j - 2]) && platform::UpperCaseUnit(a[i - 2]) == y) {
                row[j] = std::min(row[j], before[j - 2] + 1);
            }
            least = std::min(least, row[j]);
        }
        // No later row is smaller than the smallest of this one.
        if (least > limit) {
            return limit + 1;
        }
        std::swap(before, last);
        std::swap(last, row);
    }
    return std::min(last[b.size()], limit + 1);
}

std::optional<std::size_t> Nearest(std::u16string_view typed, std::span<const std::u16string> candidates) {
    std::u16string_view core = WithoutDashes(typed);
    // A name of one or two letters is one slip from most others: only its case is forgiven.
    std::size_t allowed = core.size() < 3 ? 0 : std::min<std::size_t>(1 + core.size() / 6, 3);
    std::optional<std::size_t> best;
    std::size_t bestDistance = allowed + 1;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        std::size_t distance = EditDistance(core, WithoutDashes(candidates[i]), allowed);
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string_view> candidates) {
    std::vector<std::u16string> names;
    for (std::string_view candidate : candidates) {
        names.push_back(platform::ToUtf16(candidate));
    }
    std::optional<std::size_t> found = Nearest(platform::ToUtf16(typed), names);
    if (!found) {
        return std::nullopt;
    }
    return std::string(candidates[*found]);
}

} // namespace cli
