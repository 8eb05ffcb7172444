// Decimal digits of unsigned integers, two at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace mc {

inline constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

/// The digits of value without leading zeros; returns the end.
inline char* writeDecimal(uint64_t value, char* out) {
    char digits[20];
    char* p = digits + sizeof digits;
    while (value >= 100) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        p -= 2;
        std::memcpy(p, DIGIT_PAIRS + 2 * value, 2);
    } else {
        *--p = char('0' + value);
    }
    size_t count = size_t(digits + sizeof digits - p);
    std::memcpy(out, p, count);
    return out + count;
}

/// Exactly six digits, leading zeros kept (value below 10^6).
inline char* writeSixDigits(uint32_t value, char* out) {
    std::memcpy(out, DIGIT_PAIRS + 2 * (value / 10000), 2);
    std::memcpy(out + 2, DIGIT_PAIRS + 2 * (value / 100 % 100), 2);
    std::memcpy(out + 4, DIGIT_PAIRS + 2 * (value % 100), 2);
    return out + 6;
}

}  // namespace mc
