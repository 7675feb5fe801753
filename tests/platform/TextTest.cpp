#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace tarvex {
namespace {

TEST(ParseDecimal, SkipsLeadingBlanksAndStopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(ParseDecimal("42"), 42);
    EXPECT_EQ(ParseDecimal("   42"), 42);
    EXPECT_EQ(ParseDecimal("\t\r\n 7"), 7);
    EXPECT_EQ(ParseDecimal(" 128abc"), 128);
    EXPECT_EQ(ParseDecimal("12 34"), 12);
    EXPECT_EQ(ParseDecimal("3.9"), 3);
    EXPECT_EQ(ParseDecimal("007"), 7);
}

TEST(ParseDecimal, TextWithoutANumberGivesZero) {
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("    "), 0);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal("x12"), 0);
    EXPECT_EQ(ParseDecimal("-"), 0);
    EXPECT_EQ(ParseDecimal("+"), 0);
    EXPECT_EQ(ParseDecimal("- 5"), 0);  // no blank between sign and digits
    EXPECT_EQ(ParseDecimal("--5"), 0);
}

TEST(ParseDecimal, TakesOneOptionalSign) {
    EXPECT_EQ(ParseDecimal("+5"), 5);
    EXPECT_EQ(ParseDecimal("-1"), -1);
    EXPECT_EQ(ParseDecimal("  -17x"), -17);
    EXPECT_EQ(ParseDecimal("-0"), 0);
    // The catalogue stores numbers as unsigned 32-bit: -1 becomes the largest value.
    EXPECT_EQ(static_cast<std::uint32_t>(ParseDecimal("-1")), 0xFFFFFFFFU);
}

TEST(ParseDecimal, SaturatesAtTheInt32Range) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(ParseDecimal("2147483647"), kMax);
    EXPECT_EQ(ParseDecimal("2147483648"), kMax);
    EXPECT_EQ(ParseDecimal("4294967295"), kMax);
    EXPECT_EQ(ParseDecimal("-2147483648"), kMin);
    EXPECT_EQ(ParseDecimal("-2147483649"), kMin);
    const std::string longDigits(400, '9');
    EXPECT_EQ(ParseDecimal(longDigits), kMax);
    EXPECT_EQ(ParseDecimal("-" + longDigits), kMin);
    EXPECT_EQ(ParseDecimal(std::string(300, '0') + "12"), 12);
}

TEST(EqualsIgnoringCase, ComparesAsciiLettersOnly) {
    EXPECT_TRUE(EqualsIgnoringCase("VERSION#1", "version#1"));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_FALSE(EqualsIgnoringCase("VERSION#1", "VERSION#10"));
    EXPECT_FALSE(EqualsIgnoringCase("[", "{"));  // 0x5B and 0x7B differ by the case bit only
    EXPECT_FALSE(EqualsIgnoringCase("\xC4", "\xE4"));
}

TEST(ToUpperAscii, LeavesOtherBytesAlone) {
    EXPECT_EQ(ToUpperAscii("fw1.5-a\xE4z"), "FW1.5-A\xE4Z");
}

TEST(TrimWhitespace, RemovesBlanksAtBothEndsOnly) {
    EXPECT_EQ(TrimWhitespace(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimWhitespace("   "), "");
    EXPECT_EQ(TrimWhitespace(""), "");
}

TEST(SplitLabelValue, SplitsAtTheFirstColon) {
    using Parts = std::pair<std::string_view, std::string_view>;
    const auto split = [](std::string_view line) {
        const LabelValue lv = SplitLabelValue(line);
        return Parts(lv.label, lv.value);
    };
    EXPECT_EQ(split("VERSION#1 VERSIONNAME:BL:1.2 "), Parts("VERSION#1 VERSIONNAME", "BL:1.2 "));
    EXPECT_EQ(split("no colon here"), Parts("", "no colon here"));
    EXPECT_EQ(split(":value"), Parts("", "value"));
    EXPECT_EQ(split("label:"), Parts("label", ""));
}

}  // namespace
}  // namespace tarvex
