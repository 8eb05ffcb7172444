// Text to numbers, independent of the locale: "." is always the decimal point.
#pragma once

#include <cstdint>
#include <string_view>

namespace mc {

/// The value of a decimal number at the start of the text (after spaces, then any white space),
/// correctly rounded as strtod does; "&H", "&O" and "&B" prefixes give a 32-bit radix value.
/// Text without a number gives 0; overflow gives +-infinity. Hexadecimal floats, inf and nan
/// are not numbers here.
double parseNumber(const char* first, const char* last);
inline double parseNumber(std::string_view text) {
    return parseNumber(text.data(), text.data() + text.size());
}

/// The leading decimal integer (atoi's rule: a decimal point ends it), saturated to 32 bits;
/// radix prefixes as for parseNumber.
int32_t parseInteger(const char* first, const char* last);
inline int32_t parseInteger(std::string_view text) {
    return parseInteger(text.data(), text.data() + text.size());
}

/// Nearest 32-bit integer, halves to even, saturated at the ends of the range.
int32_t roundToInt32(double value);

}  // namespace mc
