// Nine- and four-decimal renderings of decoded values.
#include "text/fixed9.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "text/digits.h"

namespace mc {

namespace {

constexpr uint64_t NANO = 1000000000;
__extension__ typedef unsigned __int128 Wide;

// Exactly nine digits, leading zeros kept (value below 10^9): value / 10^8 as a fixed-point
// number with 57 fraction bits (the multiplier rounded up errs by less than 10^-8), then each
// further pair of digits by multiplying its fraction by 100.
char* writeNineDigits(uint32_t value, char* out) {
    constexpr uint64_t FRACTION = (uint64_t(1) << 57) - 1;
    uint64_t y = value * uint64_t(1441151881);  // ceil(2^57 / 10^8)
    out[0] = char('0' + (y >> 57));
    for (int k = 0; k < 4; ++k) {
        y = (y & FRACTION) * 100;
        std::memcpy(out + 1 + 2 * k, DIGIT_PAIRS + 2 * (y >> 57), 2);
    }
    return out + 9;
}

// The whole part: mostly one to three digits.
char* writeWholePart(uint64_t value, char* out) {
    if (value < 10) {
        *out = char('0' + value);
        return out + 1;
    }
    if (value < 100) {
        std::memcpy(out, DIGIT_PAIRS + 2 * value, 2);
        return out + 2;
    }
    return writeDecimal(value, out);
}

// Exact: the value's binary digits times 10^decimals, rounded half to even.
uint64_t scaledExactly(double value, uint64_t power) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int biased = int((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int shift = biased == 0 ? 1074 : 1075 - biased;  // |value| = mantissa * 2^-shift
    if (biased != 0) mantissa |= uint64_t(1) << 52;
    // below 1e9 the shift is always positive; the product of at most 83 bits is exact
    if (shift >= 84) return 0;
    Wide product = (Wide)mantissa * power;
    uint64_t scaled = uint64_t(product >> shift);
    Wide rest = product - ((Wide)scaled << shift);
    Wide half = (Wide)1 << (shift - 1);
    if (rest > half || (rest == half && (scaled & 1))) ++scaled;
    return scaled;
}

// "%.*f" for 4 or 9 decimals; below 2^44 the rounded product is off by at most 2^-9, so it
// decides unless it lies within 2^-8 of a half, and then the exact product does.
template <int DECIMALS>
char* fixedToText(double value, char* out) {
    constexpr uint64_t POWER = DECIMALS == 9 ? NANO : 10000;
    if (!(std::fabs(value) < 1e9)) {
        // rare magnitudes (and non-numbers) take the library's exact path
        return std::to_chars(out, out + FIXED9_MAX_TEXT, value, std::chars_format::fixed, DECIMALS)
            .ptr;
    }
    if (std::signbit(value)) *out++ = '-';
    double magnitude = std::fabs(value);
    double product = magnitude * double(POWER);
    double nearest = (product + 0x1p52) - 0x1p52;  // round to nearest, without a library call
    uint64_t scaled = product < 0x1p44 && std::fabs(std::fabs(product - nearest) - 0.5) > 0x1p-8
                          ? uint64_t(nearest)
                          : scaledExactly(magnitude, POWER);
    out = writeWholePart(scaled / POWER, out);
    *out++ = '.';
    uint32_t fraction = uint32_t(scaled % POWER);
    if constexpr (DECIMALS == 9) return writeNineDigits(fraction, out);
    std::memcpy(out, DIGIT_PAIRS + 2 * (fraction / 100), 2);
    std::memcpy(out + 2, DIGIT_PAIRS + 2 * (fraction % 100), 2);
    return out + 4;
}

}  // namespace

char* fixed9ToText(double value, char* out) {
    return fixedToText<9>(value, out);
}

char* fixed4ToText(double value, char* out) {
    return fixedToText<4>(value, out);
}

}  // namespace mc
