#include "platform/BoxNumber.h"

#include <gtest/gtest.h>

#include <cstdint>

// Every dialog reads its boxes through this one reader; the table is its rule.
TEST(BoxNumber, OneRuleForEveryBox) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        // empty, blanks only, a sign alone
        {"", 0},
        {"   ", 0},
        {"-", 0},
        // numbers, blanks around them, a sign
        {"1920", 1920},
        {" 64 ", 64},
        {"1080\t", 1080},
        {"-2", -2},
        {"+7", 7},
        {"007", 7},
        // pasted text that is not wholly a number
        {"12abc", 0},
        {"abc", 0},
        {"6O", 0},
        {"1 2", 0},
        {"--3", 0},
        {"0x10", 0},
        // the edges of 32 bits, and beyond: the nearest end
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"999999999999", 2147483647},
        {"-999999999999", -2147483647 - 1},
        {"99999999999999999999999999999", 2147483647},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::BoxNumber(c.text), c.value) << '"' << c.text << '"';
    }
}
