#include "text/fields.h"

#include <gtest/gtest.h>

#include <string>

namespace mc {
namespace {

struct SplitCase {
    std::string text, first, rest;
};

TEST(Fields, SplitFirstFieldKeepsTheWholeLineWithoutASpace) {
    const SplitCase cases[] = {
        {"BEGIN_PRIMITIVE 2 0", "BEGIN_PRIMITIVE", "2 0"},
        {"END_PRIMITIVE", "END_PRIMITIVE", ""},
        {" x", "", "x"},
        {"A  B", "A", " B"},
        {"A\tB C", "A\tB", "C"},
        {"", "", ""},
    };
    for (const SplitCase& c : cases) {
        SplitText split = splitFirstField(c.text);
        EXPECT_EQ(split.first, c.first) << "'" << c.text << "'";
        EXPECT_EQ(split.rest, c.rest) << "'" << c.text << "'";
    }
}

TEST(Fields, TakeFieldNeedsASpaceAfterTheField) {
    const SplitCase cases[] = {
        {"1.5 2.5", "1.5", "2.5"},
        {"2.5", "", "2.5"},
        {" 2", "", "2"},
        {"", "", ""},
    };
    for (const SplitCase& c : cases) {
        SplitText split = splitBeforeSpace(c.text);
        EXPECT_EQ(split.first, c.first) << "'" << c.text << "'";
        EXPECT_EQ(split.rest, c.rest) << "'" << c.text << "'";
    }
}

}  // namespace
}  // namespace mc
