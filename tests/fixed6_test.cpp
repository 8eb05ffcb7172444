#include "text/fixed6.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace mc {
namespace {

std::string fixed6Text(double value) {
    char text[FIXED6_MAX_TEXT];
    return std::string(text, fixed6ToText(value, text));
}

TEST(Fixed6ToText, RendersTheDocumentedValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, std::string> cases[] = {
        {0, "0.000000"},
        {-0.0, "0.000000"},
        {0.5, "0.500000"},
        {-1.25, "-1.250000"},
        {0.1, "0.100000"},
        {-0.1, "-0.100000"},
        {1234.5, "1234.500000"},
        {1234567.25, "1234567.250000"},
        {12.3456785, "12.345678"},
        {1234.0000005, "1234.000000"},
        {1.0000005, "1.000000"},
        {12.6467995, "12.646799"},
        {586.6171875, "586.617187"},
        {-586.6171875, "-586.617187"},
        {0.0000015, "0.000001"},
        {0.0000025, "0.000002"},
        {0.0000095, "0.000009"},
        {100.0000004, "100.000000"},
        {100.0000006, "100.000001"},
        {-100.0000006, "-100.000001"},
        {0.9999996, "1.000000"},
        {-2.9999996, "-3.000000"},
        {1.9999995, "1.999999"},
        {0.000001, "0.000001"},
        {-0.000001, "-0.000001"},
        {0.000000999, "0.000000"},
        {-0.0000004, "0.000000"},
        {1e-7, "0.000000"},
        {std::numeric_limits<double>::denorm_min(), "0.000000"},
        {std::nan(""), "0.000000"},
        {inf, "0.000000"},
        {-inf, "0.000000"},
        {123456789012.0, "123456789012.000000"},
        {9007199254740993.0, "9007199254740992.000000"},
        {9223372036854774784.0, "9223372036854774784.000000"},
        {9223372036854775808.0, "9223372036854775808.000000"},
        {-1e20, "-100000000000000000000.000000"},
        {8589934592.0078125, "8589934592.007812"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(fixed6Text(value), text) << value;
}

// Outside the band where the pre-rounding differs from plain rounding, the text must be the
// value to within one unit of the sixth decimal and must match the pattern.
TEST(Fixed6ToText, SeededValuesStayWithinOneMillionth) {
    std::mt19937_64 random(33);
    std::uniform_real_distribution<double> magnitude(-9, 9);
    for (int round = 0; round < 100000; ++round) {
        double value = std::pow(10.0, magnitude(random)) * ((random() % 2) ? 1 : -1);
        std::string text = fixed6Text(value);
        size_t point = text.find('.');
        ASSERT_NE(point, std::string::npos) << text;
        ASSERT_EQ(text.size() - point, 7u) << text;
        ASSERT_NE(text, "-0.000000");
        ASSERT_LE(std::fabs(std::strtod(text.c_str(), nullptr) - value),
                  1e-6 + std::fabs(value) * 1e-15)
            << value << " " << text;
    }
}

}  // namespace
}  // namespace mc
