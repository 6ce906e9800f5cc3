// The name a person most likely meant when they typed one that does not exist: a command, an
// option, a target folder or a file of the workspace. Suggesting it saves a trip to --help for
// the usual slip of one or two letters, and says nothing when nothing is that close.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// The distance between two texts in edits of one unit (insert, delete, replace, or swap two
// neighbours), letters compared as Windows compares names, whatever their case. Counting stops
// past `limit`, which then stands for any greater distance: a workspace of many long paths is
// searched in a moment.
std::size_t EditDistance(std::u16string_view a, std::u16string_view b, std::size_t limit = SIZE_MAX - 1);

// The candidate nearest to `typed`, the first of several equally near; none when even that one
// is further than a slip: one edit for short names, one more for every six units, at most three.
// Leading dashes are not counted, so that "-force" and "--force" are one slip from "--force".
std::optional<std::size_t> Nearest(std::u16string_view typed, std::span<const std::u16string> candidates);

// The same for names given as UTF-8 (commands, options, target folders): the nearest name itself.
std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string_view> candidates);

} // namespace cli
