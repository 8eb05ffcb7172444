// Nine-decimal rendering of decoded scenery values, as the scenery text form prints them.
#pragma once

#include <cstddef>

namespace mc {

/// Longest text fixed9ToText writes: sign, 309 integer digits, point, nine decimals.
constexpr size_t FIXED9_MAX_TEXT = 320;

/// Writes value as "%.9f" does: correctly rounded to nine decimals, ties to even, "-" kept on
/// negative values that round to zero. Returns the end.
char* fixed9ToText(double value, char* out);

}  // namespace mc
