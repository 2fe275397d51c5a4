#include "cli/decimal.hpp"

#include <gtest/gtest.h>

namespace {

TEST(DecimalValue, ReadsTheLeadingNumberAndIgnoresTheRest) {
  EXPECT_EQ(decimalValue("0"), 0);
  EXPECT_EQ(decimalValue("255"), 255);
  EXPECT_EQ(decimalValue("12abc"), 12);
  EXPECT_EQ(decimalValue("7 8"), 7);
  EXPECT_EQ(decimalValue("007"), 7);
  EXPECT_EQ(decimalValue("1.9"), 1);
}

TEST(DecimalValue, TextWithoutLeadingDigitsIsZero) {
  EXPECT_EQ(decimalValue(""), 0);
  EXPECT_EQ(decimalValue("abc"), 0);
  EXPECT_EQ(decimalValue("+"), 0);
  EXPECT_EQ(decimalValue("-"), 0);
  EXPECT_EQ(decimalValue("+-1"), 0);
  EXPECT_EQ(decimalValue("- 1"), 0);
  EXPECT_EQ(decimalValue("0x10"), 0);
}

TEST(DecimalValue, SkipsTheSixWhiteSpaceCharactersOnly) {
  EXPECT_EQ(decimalValue(" \t\n\v\f\r42"), 42);
  EXPECT_EQ(decimalValue("  -3"), -3);
  EXPECT_EQ(decimalValue("\xC2\xA0" "5"), 0) << "a no-break space is not white space";
  EXPECT_EQ(decimalValue("\x1C" "5"), 0);
}

TEST(DecimalValue, TakesOneSign) {
  EXPECT_EQ(decimalValue("+2"), 2);
  EXPECT_EQ(decimalValue("-1"), -1);
  EXPECT_EQ(decimalValue("-0"), 0);
}

TEST(DecimalValue, ClampsBeyondTheSigned32BitRange) {
  EXPECT_EQ(decimalValue("2147483647"), 2147483647);
  EXPECT_EQ(decimalValue("2147483648"), 2147483647);
  EXPECT_EQ(decimalValue("4294967296"), 2147483647) << "must not wrap to 0";
  EXPECT_EQ(decimalValue("4294967297"), 2147483647) << "must not wrap to 1";
  EXPECT_EQ(decimalValue("99999999999999999999999999999"), 2147483647);
  EXPECT_EQ(decimalValue("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(decimalValue("-2147483649"), -2147483647 - 1);
  EXPECT_EQ(decimalValue("-4294967296"), -2147483647 - 1);
  EXPECT_EQ(decimalValue("-99999999999999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(decimalValue("00000000000000000000000000042"), 42) << "leading zeros are no overflow";
}

}  // namespace
