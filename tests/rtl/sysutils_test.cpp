#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include "rtl/exception.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

TEST(TrimTest, RemovesControlBytesAndBlanksAtBothEnds) {
  EXPECT_EQ(Trim(std::string("\x01 \t a b \r\n", 10)), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
}

TEST(StrToIntTest, StrictConversionRaisesTheGeneralConversionError) {
  EXPECT_EQ(StrToInt("8080"), 8080);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(RaisedMessage<EConvertError>([&] { StrToInt("abc"); }),
            "'abc' is not a valid integer value");
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt("12 "), EConvertError);
}

TEST(StrToIntTest, LenientConversionFallsBack) {
  EXPECT_EQ(StrToIntDef("g1", -1), -1);
  EXPECT_EQ(StrToInt64Def("4294967312", -1), 4294967312LL);
  EXPECT_EQ(StrToInt64Def("99999999999999999999", -1), -1);
}

TEST(SameTextTest, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameText("Keep-Alive", "KEEP-ALIVE"));
  EXPECT_FALSE(SameText("a", "ab"));
  EXPECT_FALSE(SameText("\xE4", "\xC4"));
}
