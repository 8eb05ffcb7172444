#include "text/fixed9.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace mc {
namespace {

std::string fixed9(double value) {
    char text[FIXED9_MAX_TEXT];
    return std::string(text, fixed9ToText(value, text));
}

TEST(Fixed9ToText, PrintsAsPrintfDoesWithNineOrFourDecimals) {
    const std::pair<double, std::string> cases[] = {
        {0, "0.000000000"},
        {-0.0, "-0.000000000"},
        {-1e-12, "-0.000000000"},
        {1.0 / 1024, "0.000976562"},  // a tie goes to the even digit
        {3.0 / 1024, "0.002929688"},
        {7.579999237060547, "7.579999237"},
        {-32768.0, "-32768.000000000"},
        {999999999.9999999, "999999999.999999881"},
        {1e9, "1000000000.000000000"},
        {std::numeric_limits<double>::denorm_min(), "0.000000000"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(fixed9(value), text) << value;
    // every magnitude a pool value can take, and beyond: the C library is the reference
    std::mt19937_64 random(9);
    char expected[400];
    for (int k = 0; k < 400000; ++k) {
        double value = std::ldexp(double(random() >> 11), int(random() % 100) - 120);
        if (k % 3 == 0) value = std::nearbyint(value * 1e9) / 1e9 + (k % 2 ? 5e-10 : -5e-10);
        if (k % 5 == 0) value = -value;
        std::snprintf(expected, sizeof expected, "%.9f", value);
        ASSERT_EQ(fixed9(value), expected) << k;
        char four[FIXED9_MAX_TEXT];
        std::snprintf(expected, sizeof expected, "%.4f", value);
        ASSERT_EQ(std::string(four, fixed4ToText(value, four)), expected) << k;
    }
}

}  // namespace
}  // namespace mc
