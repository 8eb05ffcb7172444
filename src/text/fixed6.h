// Six-decimal rendering of object coordinates ("0.000000"), with its own pre-rounding.
#pragma once

#include <cstddef>

namespace mc {

/// Longest text fixed6ToText writes: sign, 309 integer digits, point, six decimals.
constexpr size_t FIXED6_MAX_TEXT = 320;

/// Writes "-"?digits"."dddddd into out and returns the end. The fraction is first cut to six
/// decimals, moving away from zero only for remainders of at least 0.500000001 of the last unit;
/// magnitudes below 0.000001, NaN and infinities give 0.000000, and zero never gets a sign.
char* fixed6ToText(double value, char* out);

}  // namespace mc
