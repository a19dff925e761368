#include "common/date_time.h"

#include <gtest/gtest.h>

#include <clocale>

#include "common/exceptions.h"
#include "test_locale.h"

namespace velquarn {
namespace {

TEST(DateTime, EncodesFromTheEpochOf18991230) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
}

TEST(DateTime, EncodeRefusesImpossibleValues) {
  EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
  try {
    EncodeDate(2023, 2, 29);
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Invalid argument to date encode");
  }
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 4, 31), EConvertError);
  try {
    EncodeTime(24, 0, 0, 0);
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Invalid argument to time encode");
  }
  TDateTime value = 0;
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, value));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, value));
}

TEST(DateTime, DecodeInvertsEncodeOverTheWholeRange) {
  for (int year : {1, 4, 99, 100, 400, 1600, 1899, 1900, 2000, 2024, 2100, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 28, 29, 30, 31}) {
        TDateTime value = 0;
        if (!TryEncodeDate(year, month, day, value)) continue;
        int y = 0, m = 0, d = 0;
        // Before 1899-12-30 a time of day makes the value more negative.
        DecodeDate(value >= 0 ? value + 0.75 : value - 0.75, y, m, d);
        ASSERT_EQ(y, year);
        ASSERT_EQ(m, month);
        ASSERT_EQ(d, day);
      }
    }
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
}

TEST(DateTime, DecodeTimeRoundsToTheMillisecond) {
  int h = 0, n = 0, s = 0, ms = 0;
  DecodeTime(EncodeDate(2024, 3, 1) + EncodeTime(23, 59, 59, 999), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
  // One third of a millisecond short of a full hour reads as the full hour.
  DecodeTime(1.0 / 24 - 1.0 / (3 * kMSecsPerDay), h, n, s, ms);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ms, 0);
}

TEST(DateTime, NegativeValuesCountTheFractionForward) {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(y, 1899);
  EXPECT_EQ(m, 12);
  EXPECT_EQ(d, 29);
  EXPECT_EQ(h, 6);
  const TTimeStamp stamp = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(stamp.date, kDateDelta - 1);
  EXPECT_EQ(stamp.time, 6 * 3600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), -1.25);
}

TEST(DateTime, TimeStampsUseDayNumbersFromYearOne) {
  TTimeStamp stamp = DateTimeToTimeStamp(0);
  EXPECT_EQ(stamp.date, 693594);
  EXPECT_EQ(stamp.time, 0);
  stamp = DateTimeToTimeStamp(EncodeDate(1, 1, 1));
  EXPECT_EQ(stamp.date, 1);
  stamp = DateTimeToTimeStamp(EncodeDate(2024, 3, 1) + 0.5);
  EXPECT_EQ(stamp.time, 43200000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), EncodeDate(2024, 3, 1) + 0.5);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime({1000, 693595}), 1 + 1000 / kMSecsPerDay);
  int y = 0, m = 0, d = 0;
  DecodeDate(EncodeDate(1, 1, 1) - 1, y, m, d);
  EXPECT_EQ(y + m + d, 0);
  // Values beyond any day number give an empty stamp instead of a wrapped one.
  for (double huge : {1E300, -1E300, 2147483647.0}) {
    stamp = DateTimeToTimeStamp(huge);
    EXPECT_EQ(stamp.date, 0) << huge;
    EXPECT_EQ(stamp.time, 0) << huge;
  }
}

TEST(DateTime, CLocaleFormatsAreIso) {
  // The test program runs under the C locale; the formats are fixed at the
  // first use for the rest of the process.
  const TDateTime value = EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 500);
  EXPECT_EQ(DateToStr(value), "2024-03-05");
  EXPECT_EQ(TimeToStr(value), "07:08:09");
  EXPECT_EQ(DateTimeToStr(value), "2024-03-05 07:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5)), "2024-03-05");
  // Milliseconds alone do not make a time worth showing.
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 400)), "2024-03-05");
  EXPECT_EQ(TimeToStr(0.5), "12:00:00");
  EXPECT_EQ(DateToStr(EncodeDate(1, 1, 1)), "0001-01-01");
}

TEST(DateTime, RegionalFormatCodesAreRendered) {
  const TDateTime value = EncodeDate(2024, 3, 5) + EncodeTime(17, 8, 9, 0);
  EXPECT_EQ(FormatDateTime("%d.%m.%Y", value), "05.03.2024");
  EXPECT_EQ(FormatDateTime("%m/%d/%y", value), "03/05/24");
  EXPECT_EQ(FormatDateTime("%D|%T|%R|%F", value), "03/05/24|17:08:09|17:08|2024-03-05");
  EXPECT_EQ(FormatDateTime("%e %H%%", value), " 5 17%");
  // Codes without a field of their own go to strftime (C locale names).
  EXPECT_EQ(FormatDateTime("%I %p %a", value), "05 PM Tue");
  EXPECT_EQ(FormatDateTime("%Ey", value), "24");
  EXPECT_EQ(FormatDateTime("100%", value), "100%");
}

TEST(DateTime, RegionalFormatsFollowTheTimeLocale) {
  std::string date_format;
  std::string time_format;
  {
    testing::TScopedLocale plain(LC_TIME, "C.UTF-8");
    CurrentRegionalFormats(date_format, time_format);
    EXPECT_EQ(date_format, "%Y-%m-%d");
    EXPECT_EQ(time_format, "%H:%M:%S");
  }
  testing::TScopedLocale german(LC_TIME, testing::GermanLocale());
  if (!german.Ok()) GTEST_SKIP() << "no regional locale could be made";
  CurrentRegionalFormats(date_format, time_format);
  const TDateTime value = EncodeDate(2024, 3, 5) + EncodeTime(17, 8, 9, 0);
  EXPECT_EQ(FormatDateTime(date_format, value), "05.03.2024");
  EXPECT_EQ(FormatDateTime(time_format, value), "17:08:09");
}

}  // namespace
}  // namespace velquarn

namespace velquarn {
namespace {

TEST(DateTime, DayNumbersInIntegersMatchTheTimeStampOfTheDate) {
  int32_t day = 0;
  ASSERT_TRUE(TryEncodeDayNumber(1, 1, 1, day));
  EXPECT_EQ(day, 1);
  ASSERT_TRUE(TryEncodeDayNumber(1899, 12, 30, day));
  EXPECT_EQ(day, kDateDelta);
  ASSERT_TRUE(TryEncodeDayNumber(2000, 2, 29, day));
  EXPECT_EQ(day, DateTimeToTimeStamp(EncodeDate(2000, 2, 29)).date);
  EXPECT_FALSE(TryEncodeDayNumber(1900, 2, 29, day));
  EXPECT_FALSE(TryEncodeDayNumber(2024, 13, 1, day));
}

}  // namespace
}  // namespace velquarn
