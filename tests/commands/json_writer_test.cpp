#include "commands/json_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "commands/row_writer.h"
#include "common/date_time.h"
#include "common/exceptions.h"

namespace velquarn {
namespace {

std::string JsonString(std::string_view text) {
  TTextStream stream;
  AppendJsonString(stream, text);
  return std::string(stream.Bytes());
}

std::string Millis(double value) {
  TTextStream stream;
  AppendGeneralFloat(stream, value);
  return std::string(stream.Bytes());
}

TEST(JsonWriter, StringsAreEscapedAndUtf8) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
  EXPECT_EQ(JsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1F\0x", 4)), "\"\\u0001\\u001F\\u0000x\"");
  // cp1252: a-ring, a-umlaut, o-umlaut, the euro sign and a curly quote.
  EXPECT_EQ(JsonString("\xE5\xE4\xF6"), "\"\xC3\xA5\xC3\xA4\xC3\xB6\"");
  EXPECT_EQ(JsonString("\x80\x93"), "\"\xE2\x82\xAC\xE2\x80\x9C\"");
  EXPECT_EQ(JsonString("\x7F"), "\"\x7F\"");
}

std::string JsonFloat(double value) {
  TTextStream stream;
  AppendJsonFloat(stream, value);
  return std::string(stream.Bytes());
}

// A float column can hold NaN and the infinities (PostgreSQL's float8,
// SQLite's overflow), and the largest doubles round beyond the double range
// at 15 digits; a strict JSON reader takes neither as a number.
TEST(JsonWriter, FloatsStayReadableJson) {
  EXPECT_EQ(JsonFloat(0.5), "0.5");
  EXPECT_EQ(JsonFloat(1E20), "1E20");
  EXPECT_EQ(JsonFloat(1.79769313486231E308), "1.79769313486231E308");
  EXPECT_EQ(JsonFloat(-1.7976931348623157E308), "-1.7976931348623157e+308");
  EXPECT_EQ(JsonFloat(1.797693134862315E308), "1.797693134862315e+308");
  EXPECT_EQ(JsonFloat(std::numeric_limits<double>::infinity()), "\"INF\"");
  EXPECT_EQ(JsonFloat(-std::numeric_limits<double>::infinity()), "\"-INF\"");
  EXPECT_EQ(JsonFloat(std::numeric_limits<double>::quiet_NaN()), "\"NAN\"");
}

TEST(JsonWriter, DateMillisecondsCountFromYearOneAfterShift) {
  EXPECT_EQ(Millis(JsonDateMilliseconds(EncodeDate(1970, 1, 1), 0)), "86400000");
  const TDateTime noon = EncodeDate(2000, 3, 1) + EncodeTime(12, 0, 0, 0);
  EXPECT_EQ(Millis(JsonDateMilliseconds(noon, 0)), "951912000000");
  EXPECT_EQ(Millis(JsonDateMilliseconds(EncodeDate(1970, 1, 1), 2)), "93600000");
  // A negative zone can carry the value across midnight into the day before.
  EXPECT_EQ(Millis(JsonDateMilliseconds(EncodeDate(1970, 1, 2), -1)), "169200000");
  EXPECT_EQ(Millis(JsonDateMilliseconds(EncodeDate(1970, 1, 1) + EncodeTime(0, 0, 0, 7), 0)),
            "86400007");
}

TEST(JsonWriter, LeapDayBecomesLastDayOfFebruary) {
  // 2000-02-29 moves to year 31, which has no 29 February: 31-02-28.
  const double leap = JsonDateMilliseconds(EncodeDate(2000, 2, 29), 0);
  const double day_before = JsonDateMilliseconds(EncodeDate(2000, 2, 28), 0);
  EXPECT_EQ(leap, day_before);
  // A leap year moved back 1969 years is never a leap year, so the next
  // day follows 28 February directly.
  EXPECT_EQ(JsonDateMilliseconds(EncodeDate(2000, 3, 1), 0) - day_before, 86400000.0);
}

TEST(JsonWriter, DatesBefore1970CannotBeEncoded) {
  try {
    JsonDateMilliseconds(EncodeDate(1969, 12, 31), 0);
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Invalid argument to date encode");
  }
  // The zone is added first: 1970-01-01 01:00 with -2 hours is in 1969.
  EXPECT_THROW(JsonDateMilliseconds(EncodeDate(1970, 1, 1) + EncodeTime(1, 0, 0, 0), -2),
               Exception);
}

TEST(JsonWriter, TimeMillisecondsAreNotWrapped) {
  EXPECT_EQ(Millis(JsonTimeMilliseconds(EncodeTime(12, 0, 0, 0), 0)), "43200000");
  EXPECT_EQ(Millis(JsonTimeMilliseconds(EncodeTime(23, 0, 0, 0), 2)), "90000000");
  EXPECT_EQ(Millis(JsonTimeMilliseconds(EncodeTime(1, 0, 0, 0), -2)), "-3600000");
  EXPECT_EQ(Millis(JsonTimeMilliseconds(EncodeTime(12, 34, 56, 789), 0)), "45296789");
}

}  // namespace
}  // namespace velquarn
