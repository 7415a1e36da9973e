#include "shell/settings.h"
#include "shell/text_format.h"

#include <gtest/gtest.h>

namespace {

using namespace kt::shell;

TEST(TextFormat, FixedDigitsAndSignedNumbers) {
    EXPECT_EQ(formatDigits(7, 2), "07");
    EXPECT_EQ(formatDigits(123, 2), "123");
    EXPECT_EQ(formatDigits(1, 4), "0001");
    EXPECT_EQ(formatDigits(9999, 4), "9999");
    EXPECT_EQ(formatDigits(5, 0), "5");
    EXPECT_EQ(numberWithSign(3), " 3");
    EXPECT_EQ(numberWithSign(0), " 0");
    EXPECT_EQ(numberWithSign(-3), "-3");
}

TEST(TextFormat, ShortestDecimalReadsBackAsTheSameNumber) {
    const std::pair<float, const char*> cases[] = {
        {12.5f, "12.5"}, {10.f, "10"}, {1000.f, "1000"}, {0.1f, "0.1"}, {99.99f, "99.99"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(shortestDecimal(value), text);
        EXPECT_EQ(float(leadingNumber(text)), value);
    }
}

TEST(TextFormat, LeadingNumberOfATrimmedText) {
    const std::pair<const char*, double> cases[] = {
        {"12abc", 12}, {"12.5", 12.5}, {"abc", 0}, {"", 0},    {"  42  ", 42}, {"-3", -3},
        {".5", 0.5},   {"7.", 7},      {".", 0},   {"+8x", 8}, {"1e3", 1},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(leadingNumber(text), value) << text;
}

TEST(TextFormat, RoundingHalvesToEven) {
    EXPECT_EQ(roundToInt(2.5), 2);
    EXPECT_EQ(roundToInt(3.5), 4);
    EXPECT_EQ(roundToInt(1.6), 2);
    EXPECT_EQ(roundToInt(1e12), INT_MAX);
}

} // namespace
