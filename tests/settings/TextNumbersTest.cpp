#include "text/TextNumbers.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TextNumbers, NumbersFollowAtoiAndStrtodWithoutOverflowHexOrInfinity) {
    const std::pair<const char*, int32_t> ints[] = {{"  42abc", 42}, {"-17", -17}, {"+8", 8},
                                                    {"abc", 0},      {"", 0},      {"- 5", 0}};
    for (const auto& [text, value] : ints)
        EXPECT_EQ(ParseInt(text), value) << text;
    EXPECT_EQ(ParseInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseInt("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(ParseRaceTime("-1"), 0xFFFFFFFFu);
    // Decimals read a fraction and an exponent only; a comma ends the number.
    const std::pair<const char*, double> decimals[] = {
        {" 2.5ms", 2.5}, {"1e2", 100.0}, {"-.5", -0.5},  {"0x10", 0.0},
        {"inf", 0.0},    {"nan", 0.0},   {"1e999", 0.0}, {"14,985", 14.0}};
    for (const auto& [text, value] : decimals)
        EXPECT_DOUBLE_EQ(ParseDecimal(text), value) << text;
}

} // namespace
} // namespace quillon
