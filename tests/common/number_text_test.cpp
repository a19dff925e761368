#include "common/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "common/exceptions.h"
#include "test_locale.h"

namespace velquarn {
namespace {

TEST(FloatToStr, FixedNotationFromOneTenThousandthBelowOneE15) {
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(0.5), "0.5");
  EXPECT_EQ(FloatToStr(-2.5), "-2.5");
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(-0.00012), "-0.00012");
  EXPECT_EQ(FloatToStr(42), "42");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(43200000), "43200000");
  EXPECT_EQ(FloatToStr(123456789012345), "123456789012345");
  EXPECT_EQ(FloatToStr(999999999999999), "999999999999999");
  EXPECT_EQ(FloatToStr(1234.5), "1234.5");
}

TEST(FloatToStr, ExponentFormOutsideTheFixedRange) {
  EXPECT_EQ(FloatToStr(0.00001), "1E-5");
  EXPECT_EQ(FloatToStr(1.5E-5), "1.5E-5");
  EXPECT_EQ(FloatToStr(-1.5E-5), "-1.5E-5");
  EXPECT_EQ(FloatToStr(1E15), "1E15");
  EXPECT_EQ(FloatToStr(1E20), "1E20");
  EXPECT_EQ(FloatToStr(-1E20), "-1E20");
  EXPECT_EQ(FloatToStr(1E100), "1E100");
  EXPECT_EQ(FloatToStr(1E-100), "1E-100");
  EXPECT_EQ(FloatToStr(123456789012345678.0), "1.23456789012346E17");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::max()), "1.79769313486232E308");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
}

TEST(FloatToStr, RoundsAtTheFifteenthDigit) {
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(FloatToStr(-2.0 / 3), "-0.666666666666667");
  EXPECT_EQ(FloatToStr(1234567.890123456789), "1234567.89012346");
  // The carry adds a digit and moves the value into the exponent form.
  EXPECT_EQ(FloatToStr(999999999999999.5), "1E15");
  EXPECT_EQ(FloatToStr(9.9999999999999999E-5), "0.0001");
  EXPECT_EQ(FloatToStr(0.99999999999999999), "1");
  EXPECT_EQ(FloatToStr(99.99999999999999), "100");
}

TEST(FloatToStr, SpecialValues) {
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FloatToStr, IgnoresACommaLocale) {
  testing::TScopedLocale comma(LC_NUMERIC, testing::GermanLocale());
  if (!comma.Ok()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(FloatToStr(-1.5E-5), "-1.5E-5");
  EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
  double value = 0;
  EXPECT_FALSE(TryStrToFloat("1,5", value));
  EXPECT_DOUBLE_EQ(StrToFloat("1E-400"), 0);
}

TEST(StrToFloat, ReadsPointDecimalsAndExponents) {
  EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloat("  -2.5 "), -2.5);
  EXPECT_DOUBLE_EQ(StrToFloat("+3"), 3);
  EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("1E20"), 1E20);
  EXPECT_DOUBLE_EQ(StrToFloat("1.5e-5"), 1.5E-5);
  EXPECT_EQ(StrToFloat("1E-400"), 0);
}

TEST(StrToFloat, RoundTripsEveryFormattedValue) {
  for (double value : {0.5, -2.5, 1E20, 1.5E-5, 123456789012345.0, 0.0001, 1.0 / 3}) {
    EXPECT_EQ(FloatToStr(StrToFloat(FloatToStr(value))), FloatToStr(value));
  }
}

TEST(StrToFloat, RefusesTextThatIsNotANumber) {
  double value = 7;
  for (const char* text : {"", " ", "abc", "1,5", "1.5x", "--1", "+-1", "inf", "NAN", "1E", ".",
                           "1E999", "-1E999", "0x10", "1 2"}) {
    EXPECT_FALSE(TryStrToFloat(text, value)) << text;
  }
  EXPECT_EQ(value, 7);
  try {
    StrToFloat("1,5");
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'1,5' is not a valid floating point value");
  }
}

}  // namespace
}  // namespace velquarn
