#include "common/text.h"

#include <gtest/gtest.h>

#include <limits>

#include "common/exceptions.h"

namespace velquarn {
namespace {

TEST(Format, FormatsTextsLongerThanAnyFixedBuffer) {
  EXPECT_EQ(Format("%d-%s", 42, "x"), "42-x");
  const std::string long_text(5000, 'a');
  EXPECT_EQ(Format("[%s]", long_text.c_str()), "[" + long_text + "]");
  EXPECT_EQ(Format("%s", ""), "");
}

TEST(LetterCase, CoversAsciiAndLatinLettersButNotSigns) {
  EXPECT_EQ(UpperCase("abc\xE5\xE4\xF6\xFE"), "ABC\xC5\xC4\xD6\xDE");
  EXPECT_EQ(LowerCase("ABC\xC5\xC4\xD6\xC0"), "abc\xE5\xE4\xF6\xE0");
  // Multiplication and division signs, the German sharp s and y-diaeresis
  // have no partner in the letter range.
  EXPECT_EQ(UpperCase("\xF7\xDF\xFF"), "\xF7\xDF\xFF");
  EXPECT_EQ(LowerCase("\xD7"), "\xD7");
  EXPECT_TRUE(SameText("Sales\xC5", "sALES\xE5"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_FALSE(SameText("\xD7", "\xF7"));
}

TEST(LetterCase, CompareTextOrdersWithoutCase) {
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("abc", "AB"), 0);
  // Bytes compare unsigned: a Latin letter sorts after the ASCII ones.
  EXPECT_GT(CompareText("\xE5", "z"), 0);
}

TEST(Trim, RemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \x1F"), "  a");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(StrToInt, ReadsDecimalAndHexadecimal) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-17"), -17);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("  7"), 7);
  EXPECT_EQ(StrToInt("$ff"), 255);
  EXPECT_EQ(StrToInt("0x0A"), 10);
  EXPECT_EQ(StrToInt("0X1f"), 31);
  EXPECT_EQ(StrToInt("x10"), 16);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(StrToInt("-9223372036854775808"), std::numeric_limits<int64_t>::min());
}

TEST(StrToInt, RefusesTrailingTextEmptyDigitsAndOverflow) {
  int64_t value = 3;
  for (const char* text : {"", " ", "-", "$", "0x", "12 ", "1.5", "abc", "9223372036854775808",
                           "-9223372036854775809", "$10000000000000000", "--1", "0x-1"}) {
    EXPECT_FALSE(TryStrToInt(text, value)) << text;
  }
  EXPECT_EQ(value, 3);
  EXPECT_EQ(StrToIntDef("true", 9), 9);
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
  }
}

TEST(StrToInt, ThirtyTwoBitFormChecksItsRange) {
  EXPECT_EQ(StrToInt32("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt32("-2147483648"), -2147483647 - 1);
  int32_t value = 0;
  EXPECT_FALSE(TryStrToInt32("2147483648", value));
  EXPECT_THROW(StrToInt32("-2147483649"), EConvertError);
}

TEST(IntToStr, WritesBothExtremes) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(BytesToHex, UsesTwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(BytesToHex("AB"), "4142");
  EXPECT_EQ(BytesToHex(std::string("\x00\x0A\xFF", 3)), "000AFF");
  EXPECT_EQ(BytesToHex(""), "");
}

}  // namespace
}  // namespace velquarn
