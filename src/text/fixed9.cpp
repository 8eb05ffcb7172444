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

// Exactly nine digits, leading zeros kept (value below 10^9).
char* writeNineDigits(uint32_t value, char* out) {
    out[0] = char('0' + value / 100000000);
    value %= 100000000;
    std::memcpy(out + 1, DIGIT_PAIRS + 2 * (value / 1000000), 2);
    std::memcpy(out + 3, DIGIT_PAIRS + 2 * (value / 10000 % 100), 2);
    std::memcpy(out + 5, DIGIT_PAIRS + 2 * (value / 100 % 100), 2);
    std::memcpy(out + 7, DIGIT_PAIRS + 2 * (value % 100), 2);
    return out + 9;
}

}  // namespace

char* fixed9ToText(double value, char* out) {
    if (!(std::fabs(value) < 1e9)) {
        // rare magnitudes (and non-numbers) take the library's exact path
        return std::to_chars(out, out + FIXED9_MAX_TEXT, value, std::chars_format::fixed, 9).ptr;
    }
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (bits >> 63) *out++ = '-';
    int biased = int((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int shift = biased == 0 ? 1074 : 1075 - biased;  // value = mantissa * 2^-shift
    if (biased != 0) mantissa |= uint64_t(1) << 52;
    // below 1e9 the shift is always positive; the product of at most 83 bits is exact
    uint64_t scaled = 0;
    if (shift < 84) {
        Wide product = (Wide)mantissa * NANO;
        scaled = uint64_t(product >> shift);
        Wide rest = product - ((Wide)scaled << shift);
        Wide half = (Wide)1 << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1))) ++scaled;
    }
    out = writeDecimal(scaled / NANO, out);
    *out++ = '.';
    return writeNineDigits(uint32_t(scaled % NANO), out);
}

}  // namespace mc
