#include "text/TextNumbers.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TextNumbers, NumbersFollowAtoiAndStrtodWithoutOverflowHexOrInfinity) {
    EXPECT_EQ(ParseInt("  42abc"), 42);
    EXPECT_EQ(ParseInt("-17"), -17);
    EXPECT_EQ(ParseInt("+8"), 8);
    EXPECT_EQ(ParseInt("abc"), 0);
    EXPECT_EQ(ParseInt(""), 0);
    EXPECT_EQ(ParseInt("- 5"), 0);
    EXPECT_EQ(ParseInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseInt("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseRaceTime("-1"), 0xFFFFFFFFu);
    // Decimals read a fraction and an exponent only.
    EXPECT_DOUBLE_EQ(ParseDecimal(" 2.5ms"), 2.5);
    EXPECT_DOUBLE_EQ(ParseDecimal("1e2"), 100.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("-.5"), -0.5);
    EXPECT_DOUBLE_EQ(ParseDecimal("0x10"), 0.0); // no hex
    EXPECT_DOUBLE_EQ(ParseDecimal("inf"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("nan"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("1e999"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("14,985"), 14.0); // a comma ends the number
}

} // namespace
} // namespace quillon
