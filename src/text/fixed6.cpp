// Six-decimal rendering of object coordinates, with its own pre-rounding.
#include "text/fixed6.h"

#include <cstdlib>

#include "text/digits.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace mc {

namespace {

constexpr double TWO_POW_33 = 8589934592.0;

// Magnitudes whose log10, rounded to double, is below -6 render as zero; log10 is only worth
// calling near the bound (the double nearest 0.000001 still counts).
bool rendersAsZero(double magnitude) {
    if (magnitude >= 1.01e-6) return false;
    if (magnitude < 0.99e-6) return true;
    return std::floor(std::log10(magnitude)) + 1 <= -6;
}

}  // namespace

char* fixed6ToText(double value, char* out) {
    if (!std::isfinite(value) || (value != 0 && rendersAsZero(std::fabs(value)))) value = 0.0;
    double whole = std::trunc(value);
    double fraction = value - whole;  // exact
    double rounded = value;
    int64_t sixths = 0;  // H: the fraction in millionths after pre-rounding
    if (fraction != 0) {
        double scaled = double(static_cast<long double>(fraction) * 1e6L);
        double scaledWhole = std::trunc(scaled);
        double remainder = scaled - scaledWhole;  // exact
        long long billionths = static_cast<long long>(static_cast<long double>(remainder) * 1e9L);
        sixths = static_cast<long long>(scaledWhole);
        if (billionths > 500000000) {
            ++sixths;
        } else if (billionths < -500000000) {
            --sixths;
        }
        rounded = double(static_cast<long double>(whole) + static_cast<long double>(sixths) / 1e6L);
    }
    if (std::fabs(value) < TWO_POW_33) {
        // I + H / 10^6 exactly: H has the sign of I (or I is zero), so integers carry the digits
        uint64_t millionths = uint64_t(std::fabs(whole)) * 1000000u + uint64_t(std::llabs(sixths));
        if (millionths != 0 && (whole < 0 || sixths < 0)) *out++ = '-';
        out = writeDecimal(millionths / 1000000u, out);
        *out++ = '.';
        return writeSixDigits(uint32_t(millionths % 1000000u), out);
    }
    // no six decimals fit here: the stored double itself, to six decimals
    char text[FIXED6_MAX_TEXT];
    int length = std::snprintf(text, sizeof text, "%.6f", rounded);
    std::memcpy(out, text, size_t(length));
    return out + length;
}

}  // namespace mc
