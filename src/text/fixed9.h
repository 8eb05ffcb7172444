// Fixed-point renderings: nine decimals as the scenery text form prints decoded values, four for
// the Wavefront file.
#pragma once

#include <cstddef>

namespace mc {

/// Longest text fixed9ToText writes: sign, 309 integer digits, point, nine decimals.
constexpr size_t FIXED9_MAX_TEXT = 320;

/// Writes value as "%.9f" does: correctly rounded to nine decimals, ties to even, "-" kept on
/// negative values that round to zero. Returns the end.
char* fixed9ToText(double value, char* out);
/// The same with four decimals ("%.4f").
char* fixed4ToText(double value, char* out);

}  // namespace mc
