#include "text/whole_numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace mc {
namespace {

TEST(IntToText, HasNoSignPosition) {
    const std::pair<int64_t, std::string> cases[] = {
        {0, "0"},
        {9, "9"},
        {30, "30"},
        {-12, "-12"},
        {-2147483648LL, "-2147483648"},
        {INT64_MIN, "-9223372036854775808"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(intToText(value), text);
    EXPECT_EQ("POINT_COUNTS " + intToText(5) + " 0 0 " + intToText(9), "POINT_COUNTS 5 0 0 9");
}

TEST(DoubleToText, WritesWholeNumbersAsDigits) {
    const std::pair<double, std::string> cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {17.0, "17"},
        {-3.0, "-3"},
        {999999999999999.0, "999999999999999"},
        {2147483647.0, "2147483647"},
        {0.5, "0.5"},
        {0.1, "0.1"},
        {1234.25, "1234.25"},
        {1e15, "1000000000000000"},
        {1e16, "1e+16"},
        {0.01, "1e-02"},
        {1.0 / 3, "0.3333333333333333"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(doubleToText(value), text) << value;
}

TEST(GroupedNumber, PutsACommaBetweenThousands) {
    const std::pair<uint64_t, std::string> cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {1234567, "1,234,567"},
        {UINT64_MAX, "18,446,744,073,709,551,615"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(groupedNumber(value), text);
}

}  // namespace
}  // namespace mc
