// Text to numbers, independent of the locale.
#include "text/numbers.h"

#include "platform/platform.h"

#include <cmath>
#include <cstring>
#include <string>

namespace mc {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// strtod's white space, skipped after the leading spaces
bool isCWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

const char* skipSpaces(const char* p, const char* last) {
    while (p < last && *p == ' ') ++p;
    return p;
}

bool hasRadixPrefix(const char* p, const char* last) {
    if (last - p < 2 || p[0] != '&') return false;
    switch (p[1]) {
        case 'H':
        case 'h':
        case 'O':
        case 'o':
        case 'B':
        case 'b':
            return true;
        default:
            return false;
    }
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Digits run to the first byte that is not a digit of the base; the value wraps modulo 2^32.
int32_t radixValue(const char* p, const char* last) {
    char kind = p[1];
    unsigned base = (kind == 'H' || kind == 'h') ? 16 : (kind == 'O' || kind == 'o') ? 8 : 2;
    uint32_t value = 0;
    for (p += 2; p < last; ++p) {
        unsigned digit = unsigned(digitValue(*p));
        if (digit >= base) break;
        value = value * base + digit;
    }
    return int32_t(value);
}

// Eight ASCII digits at once, as one little-endian 64-bit word.
uint64_t loadEight(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

bool areEightDigits(uint64_t word) {
    return ((word & 0xF0F0F0F0F0F0F0F0) |
            (((word + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) == 0x3333333333333333;
}

uint64_t valueOfEightDigits(uint64_t word) {
    word -= 0x3030303030303030;
    word = (word * 10) + (word >> 8);
    return (((word & 0x000000FF000000FF) * 0x000F424000000064) +
            (((word >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
           32;
}

// Appends the run of digits at p to the mantissa (wrapping past 19 digits: the caller checks).
[[gnu::always_inline]] inline const char* accumulateDigits(const char* p, const char* last,
                                                           uint64_t& mantissa) {
    while (last - p >= 8 && areEightDigits(loadEight(p))) {
        mantissa = mantissa * 100000000 + valueOfEightDigits(loadEight(p));
        p += 8;
    }
    while (p < last && isDigit(*p)) mantissa = mantissa * 10 + unsigned(*p++ - '0');
    return p;
}

// Powers of ten that a double holds exactly.
constexpr double EXACT_POWERS[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double slowDecimal(const char* first, const char* last) {
    std::string copy(first, last);
    return decimalInCLocale(copy.c_str());
}

}  // namespace

double parseNumber(const char* first, const char* last) {
    const char* p = skipSpaces(first, last);
    if (hasRadixPrefix(p, last)) return radixValue(p, last);
    while (p < last && isCWhiteSpace(*p)) ++p;
    const char* start = p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // Up to 19 digits fit an unsigned 64-bit mantissa exactly; longer numbers go to strtod.
    const char* integerStart = p;
    uint64_t mantissa = 0;
    p = accumulateDigits(p, last, mantissa);
    size_t digitCount = size_t(p - integerStart);
    size_t fractionDigits = 0;
    if (p < last && *p == '.') {
        const char* fractionStart = ++p;
        p = accumulateDigits(p, last, mantissa);
        fractionDigits = size_t(p - fractionStart);
        digitCount += fractionDigits;
    }
    if (digitCount == 0) return 0.0;
    int64_t exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool negativeExponent = false;
        if (q < last && (*q == '+' || *q == '-')) negativeExponent = *q++ == '-';
        if (q < last && isDigit(*q)) {
            for (; q < last && isDigit(*q); ++q) {
                if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
            }
            if (negativeExponent) exponent = -exponent;
            p = q;
        }
    }
    if (digitCount <= 19) {
        if (mantissa == 0) return negative ? -0.0 : 0.0;
        // Clinger's fast path: both operands exact, so one IEEE operation rounds correctly
        int64_t scale = exponent - int64_t(fractionDigits);
        if (mantissa <= (uint64_t(1) << 53) && scale >= -22 && scale <= 22) {
            double m = double(mantissa);
            double value = scale < 0 ? m / EXACT_POWERS[-scale] : m * EXACT_POWERS[scale];
            return negative ? -value : value;
        }
    }
    return slowDecimal(start, p);
}

int32_t parseInteger(const char* first, const char* last) {
    const char* p = skipSpaces(first, last);
    if (hasRadixPrefix(p, last)) return radixValue(p, last);
    while (p < last && isCWhiteSpace(*p)) ++p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t magnitude = 0;
    for (; p < last && isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) magnitude = int64_t(INT32_MAX) + 1;
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return INT32_MAX;
    return int32_t(value);
}

int32_t roundToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return int32_t(std::nearbyint(value));  // the default rounding mode: halves to even
}

}  // namespace mc
