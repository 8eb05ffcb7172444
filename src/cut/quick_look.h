// The text pass's quick look at a vertex's longitude: a plain decimal judged from its first four
// decimals before it is parsed, since most vertices of a tile miss the window there.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cut/window.h"

namespace mc {

// Longitudes in ten-thousandths of a degree, whole ones only, the window widened by one: a
// number printed with four decimals or more lies within one of its first four.
struct LongitudeUnits {
    int64_t low, high;
};

/// With `quickLook` false nothing is ever judged outside (the tests' plain pass).
inline LongitudeUnits unitsOf(const SelectionWindow& window, bool quickLook = true) {
    if (!quickLook) return {INT64_MIN, INT64_MAX};
    return {int64_t(std::floor(window.longMin * 1e4)) - 1,
            int64_t(std::ceil(window.longMax * 1e4)) + 1};
}

// Whether the bytes from q to the end of the field are all digits. With eight to twelve
// decimals (the scenery tools print nine) the last eight bytes, decimals all, are tested as one
// word; fewer or more are tested one by one.
inline bool digitsToEnd(const char* firstDecimal, const char* q, const char* end) {
    const char* lastEight = end - 8;
    if (lastEight >= firstDecimal && lastEight <= q) {
        uint64_t word;
        std::memcpy(&word, lastEight, 8);
        return ((word & 0xF0F0F0F0F0F0F0F0) |
                (((word + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) == 0x3333333333333333;
    }
    for (; q < end; ++q) {
        if (*q < '0' || *q > '9') return false;
    }
    return true;
}

// Whether a longitude written as a plain decimal, [-]D.DDDD... (one to three whole digits, four
// decimals or more, digits to the end of the field), lies surely outside the window from its
// first four decimals. Any other spelling the number reading takes (an exponent, a sign '+',
// white space, a radix prefix, bytes after the digits) is left to that reading: false.
inline bool isSurelyOutside(LongitudeUnits units, std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    bool negative = p < end && *p == '-';
    p += negative;
    int64_t whole = 0;
    int digits = 0;
    for (; p < end && *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits)
        whole = whole * 10 + (*p - '0');
    if (digits == 0 || digits > 3 || p >= end || *p != '.' || end - p < 5) return false;
    int64_t value = whole;
    for (int k = 1; k <= 4; ++k) {
        if (p[k] < '0' || p[k] > '9') return false;
        value = value * 10 + (p[k] - '0');
    }
    // the number lies in [value, value + 1] units, or in [-value - 1, -value]
    int64_t low = negative ? -value - 1 : value, high = negative ? -value : value + 1;
    return (high < units.low || units.high < low) && digitsToEnd(p + 1, p + 5, end);
}

}  // namespace mc
