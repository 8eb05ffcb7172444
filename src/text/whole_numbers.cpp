// Integers and whole numbers as text, for the object, the console and the reasons.
#include "text/whole_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/digits.h"

namespace mc {

char* intToText(int64_t value, char* out) {
    if (value < 0) *out++ = '-';
    return writeDecimal(value < 0 ? 0 - uint64_t(value) : uint64_t(value), out);
}

std::string intToText(int64_t value) {
    char text[24];
    return std::string(text, intToText(value, text));
}

char* doubleToText(double value, char* out) {
    if (value == 0) {
        *out++ = '0';
        return out;
    }
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return intToText(int64_t(value), out);
    // 16 significant digits; fixed notation for decimal exponents -1 to 15, else exponential
    char text[64];
    std::snprintf(text, sizeof text, "%.15e", value);
    int exponent = std::atoi(std::strchr(text, 'e') + 1);
    if (std::isfinite(value) && exponent >= -1 && exponent <= 15) {
        std::snprintf(text, sizeof text, "%.*f", 15 - exponent, value);
    }
    char* e = std::strchr(text, 'e');
    std::string mantissa(text, e ? e : text + std::strlen(text));
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    if (e) mantissa += e;
    std::memcpy(out, mantissa.data(), mantissa.size());
    return out + mantissa.size();
}

std::string doubleToText(double value) {
    char text[64];
    return std::string(text, doubleToText(value, text));
}

std::string groupedNumber(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

std::string placeText(double lon, double lat) {
    char text[64];
    char* end = std::to_chars(text, text + 30, lon, std::chars_format::fixed, 6).ptr;
    *end++ = ' ';
    end = std::to_chars(end, text + sizeof text, lat, std::chars_format::fixed, 6).ptr;
    return std::string(text, end);
}

}  // namespace mc
