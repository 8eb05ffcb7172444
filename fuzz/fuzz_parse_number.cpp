// parseNumber against strtod in the C locale, on strings of its grammar built from the input.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // arbitrary bytes must never crash, whatever they hold
    std::string raw(reinterpret_cast<const char*>(data), size);
    (void)mc::parseNumber(raw);
    (void)mc::parseInteger(raw);

    // a decimal of the grammar: sign, digits with at most one point, optional exponent
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        char c = char(data[i]);
        if (c >= '0' && c <= '9')
            text += c;
        else if (c == '.' && text.find('.') == std::string::npos)
            text += c;
        else if (c == '-' && text.empty())
            text += c;
    }
    if (size > 0 && data[0] % 3 == 0) text += "e" + std::to_string(int(data[size - 1]) - 128);
    double expected = std::strtod(text.c_str(), nullptr);
    double actual = mc::parseNumber(text);
    if (std::memcmp(&expected, &actual, sizeof expected) != 0 && !(expected == 0 && actual == 0)) {
        std::abort();
    }
    return 0;
}
