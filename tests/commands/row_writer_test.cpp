#include "commands/row_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "common/number_text.h"

namespace velquarn {
namespace {

std::string Float(double value) {
  TTextStream stream;
  AppendGeneralFloat(stream, value);
  return std::string(stream.Bytes());
}

TEST(RowWriter, GeneralFloatExamples) {
  EXPECT_EQ(Float(0.5), "0.5");
  EXPECT_EQ(Float(1E20), "1E20");
  EXPECT_EQ(Float(0.00001), "1E-5");
  EXPECT_EQ(Float(0.0001), "0.0001");
  EXPECT_EQ(Float(-2.5), "-2.5");
  EXPECT_EQ(Float(0.0), "0");
  EXPECT_EQ(Float(-0.0), "0");
  EXPECT_EQ(Float(1.5E-5), "1.5E-5");
  EXPECT_EQ(Float(1E15), "1E15");
  EXPECT_EQ(Float(999999999999999.0), "999999999999999");
  EXPECT_EQ(Float(999999999999999.5), "1E15");
  EXPECT_EQ(Float(0.1 + 0.2), "0.3");
  EXPECT_EQ(Float(123456789012345678.0), "1.23456789012346E17");
  EXPECT_EQ(Float(-1.7976931348623157e308), "-1.79769313486232E308");
  EXPECT_EQ(Float(4.9406564584124654e-324), "4.94065645841247E-324");
  EXPECT_EQ(Float(100), "100");
}

// The row writer formats floats without building strings; it must agree with
// the shared FloatToStr on every value.
TEST(RowWriter, GeneralFloatAgreesWithFloatToStr) {
  std::mt19937_64 random(12345);
  for (int i = 0; i < 200000; ++i) {
    double value;
    const uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    ASSERT_EQ(Float(value), FloatToStr(value)) << bits;
  }
  // Values with short decimal forms, which take the shortest-form path.
  for (int i = -50000; i < 50000; ++i) {
    for (double value : {i * 0.01, i * 1.25, i / 3.0, i * 1e-7, i * 1e13}) {
      ASSERT_EQ(Float(value), FloatToStr(value)) << value;
    }
  }
  // Subnormal values, whose shortest form is shorter than their 15 digits.
  for (uint64_t bits :
       {uint64_t{1}, uint64_t{3}, uint64_t{0x000FFFFFFFFFFFFF}, uint64_t{123456789}}) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    ASSERT_EQ(Float(value), FloatToStr(value)) << bits;
  }
  for (int exponent = -30; exponent <= 30; ++exponent) {
    for (double mantissa : {1.0, 1.5, 9.99999999999999, 9.999999999999999, 1.23456789}) {
      const double value = mantissa * std::pow(10.0, exponent);
      ASSERT_EQ(Float(value), FloatToStr(value)) << value;
      ASSERT_EQ(Float(-value), FloatToStr(-value)) << value;
    }
  }
}

std::string Decimal(std::string_view text) {
  TTextStream stream;
  AppendDecimal4(stream, text);
  return std::string(stream.Bytes());
}

TEST(RowWriter, DecimalRoundsToFourPlaces) {
  EXPECT_EQ(Decimal("12.34567"), "12.3457");
  EXPECT_EQ(Decimal("12.34564"), "12.3456");
  EXPECT_EQ(Decimal("-0.00004"), "0");
  EXPECT_EQ(Decimal("-0.00005"), "-0.0001");
  EXPECT_EQ(Decimal("9.99995"), "10");
  EXPECT_EQ(Decimal("001.5000"), "1.5");
  EXPECT_EQ(Decimal("42"), "42");
  EXPECT_EQ(Decimal("0"), "0");
  EXPECT_EQ(Decimal(".5"), "0.5");
  EXPECT_EQ(Decimal("-99999999999999999999.99999"), "-100000000000000000000");
}

TEST(RowWriter, QuotedTextDoublesQuotes) {
  TTextStream stream;
  AppendQuoted(stream, "");
  AppendQuoted(stream, "a\"b\"\"");
  AppendQuoted(stream, std::string("x\0,\xFF", 4));
  EXPECT_EQ(stream.Bytes(), std::string("\"\"\"a\"\"b\"\"\"\"\"\"x\0,\xFF\"", 18));
}

TEST(RowWriter, HexIsUpperCaseForLongValues) {
  TTextStream stream;
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i);
  AppendHex(stream, bytes);
  ASSERT_EQ(stream.Position(), 600u);
  EXPECT_EQ(stream.Bytes().substr(0, 8), "00010203");
  EXPECT_EQ(stream.Bytes().substr(2 * 0xAB, 4), "ABAC");
  EXPECT_EQ(stream.Bytes().substr(2 * 255, 4), "FF00");
}

TEST(TextStream, CountedBlockCarriesBigEndianSize) {
  TTextStream stream;
  EXPECT_EQ(stream.CountedBlock(), std::string(4, '\0'));
  std::string payload(0x010203, 'x');
  stream.AppendText(payload);
  const std::string_view block = stream.CountedBlock();
  ASSERT_EQ(block.size(), payload.size() + 4);
  EXPECT_EQ(block.substr(0, 4), std::string("\x00\x01\x02\x03", 4));
  stream.Clear();
  stream.AppendText("ab");
  EXPECT_EQ(stream.CountedBlock(), std::string("\0\0\0\x02"
                                               "ab",
                                               6));
  EXPECT_EQ(stream.Bytes(), "ab");
}

}  // namespace
}  // namespace velquarn
