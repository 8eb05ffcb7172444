// fixed6ToText invariants: the pattern -?digits.dddddd, never "-0.000000", and within one unit
// of the sixth decimal of the value below 2^33.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/fixed6.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(double)) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    char printed[mc::FIXED6_MAX_TEXT];
    std::string text(printed, mc::fixed6ToText(value, printed));
    size_t point = text.find('.');
    if (point == std::string::npos || text.size() - point != 7) std::abort();
    size_t digitsStart = text[0] == '-' ? 1 : 0;
    if (point == digitsStart) std::abort();
    for (size_t i = digitsStart; i < text.size(); ++i) {
        if (i != point && (text[i] < '0' || text[i] > '9')) std::abort();
    }
    if (text == "-0.000000") std::abort();
    if (std::isfinite(value) && std::fabs(value) < 8589934592.0) {
        double shown = std::strtod(text.c_str(), nullptr);
        if (std::fabs(shown - value) > 1e-6 + 1e-12) std::abort();
    }
    return 0;
}
