#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace mc {
namespace {

struct NumberCase {
    std::string text;
    double value;
};

TEST(ParseNumber, ReadsTheLeadingDecimalOrRadixValue) {
    const double inf = std::numeric_limits<double>::infinity();
    const NumberCase cases[] = {
        {"  12.5", 12.5},
        {"-12.5xyz", -12.5},
        {"+5", 5},
        {"1e3", 1000},
        {"12,5", 12},
        {".5", 0.5},
        {"", 0},
        {"abc", 0},
        {"\t3", 3},
        {"&H1F", 31},
        {"&hff", 255},
        {"&O17", 15},
        {"&B101", 5},
        {"&HFFFFFFFF", -1},
        {"&H80000000", -2147483648.0},
        {" &H10", 16},
        {"&", 0},
        {"&X5", 0},
        {"\t&H10", 0},
        {"&H", 0},
        {"&HZZ", 0},
        {"&B102", 2},
        {"&H1G", 1},
        {"&H100000001", 1},
        {"5.", 5},
        {"-.25", -0.25},
        {"1e", 1},
        {"1e+", 1},
        {"2E-2", 0.02},
        {"-", 0},
        {".", 0},
        {"+-1", 0},
        {"0x1A", 0},
        {"inf", 0},
        {"nan", 0},
        {"1e400", inf},
        {"-1e400", -inf},
        {"1e-400", 0},
        {"47.123456789", 47.123456789},
        {"\n\v\f\r 7", 7},
        {"00012.50", 12.5},
        {"12.3.4", 12.3},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"123456789012345678901234567890", 123456789012345678901234567890.0},
        {"0.000000000000000000000000000001", 1e-30},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(parseNumber(c.text), c.value) << "'" << c.text << "'";
    }
    EXPECT_TRUE(std::signbit(parseNumber("-0")));
    EXPECT_TRUE(std::signbit(parseNumber("-0.0e5")));
}

TEST(ParseNumber, MatchesStrtodOnSeededRandomDecimals) {
    std::mt19937_64 random(7);
    const char digits[] = "0123456789";
    for (int round = 0; round < 200000; ++round) {
        std::string text;
        if (random() % 4 == 0) text += (random() % 2) ? '-' : '+';
        int integerDigits = int(random() % 22);
        for (int i = 0; i < integerDigits; ++i) text += digits[random() % 10];
        if (random() % 3 != 0) {
            text += '.';
            int fraction = int(random() % 22);
            for (int i = 0; i < fraction; ++i) text += digits[random() % 10];
        }
        if (random() % 4 == 0) text.append("e").append(std::to_string(int(random() % 700) - 350));
        double expected = std::strtod(text.c_str(), nullptr);
        bool hasDigit = text.find_first_of(digits) != std::string::npos &&
                        text.find_first_of(digits) < text.find('e');
        if (!hasDigit) expected = 0;
        ASSERT_EQ(parseNumber(text), expected) << "'" << text << "'";
    }
}

TEST(ParseInteger, FollowsAtoiWithSaturation) {
    const std::pair<std::string, int32_t> cases[] = {
        {"2 0", 2},
        {"0", 0},
        {"2.9", 2},
        {"-3x", -3},
        {"  +7", 7},
        {"", 0},
        {"BEGIN_PRIMITIVE 2", 0},
        {"&H10", 16},
        {"\t 4", 4},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483648},
        {"-99999999999999999999", -2147483648},
        {"&HFFFFFFFF", -1},
        {"1e5", 1},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(parseInteger(text), value) << "'" << text << "'";
}

TEST(RoundToInt32, RoundsHalvesToEvenAndSaturates) {
    const std::pair<double, int32_t> cases[] = {
        {10.5, 10},
        {11.5, 12},
        {2.5, 2},
        {3.5, 4},
        {-2.5, -2},
        {0.49999999999999994, 0},
        {1e10, 2147483647},
        {-1e10, -2147483648},
        {std::numeric_limits<double>::infinity(), 2147483647},
        {2147483646.5, 2147483646},
        {-0.5, 0},
    };
    for (const auto& [value, rounded] : cases) EXPECT_EQ(roundToInt32(value), rounded) << value;
}

}  // namespace
}  // namespace mc
