// Integers and whole numbers as text: the object's counts and indices, the console's counts;
// places for messages.
#pragma once

#include <cstdint>
#include <string>

namespace mc {

/// Plain integer form: "-" for negatives, then the digits. Writes into out, returns the end.
char* intToText(int64_t value, char* out);
std::string intToText(int64_t value);
/// Whole-number form: whole numbers below 10^15 as their digits; other values with 16
/// significant digits, trailing fraction zeros and point dropped.
char* doubleToText(double value, char* out);
std::string doubleToText(double value);

/// "1,234,567": a count as people read it.
std::string groupedNumber(uint64_t value);

/// "7.512345 45.523456": a longitude and latitude for a message, six decimals each.
std::string placeText(double lon, double lat);

}  // namespace mc
