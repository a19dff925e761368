#include "dataset/slot_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "dataset/field.h"
#include "dataset/variant.h"

namespace velquarn {
namespace {

TEST(SlotFormat, IntegersKeepTheirWidthAndSign) {
  char slot[8] = {};
  EncodeIntegerSlot(ftSmallint, -2, slot);
  EXPECT_EQ(LoadSlot<int16_t>(slot), -2);
  EXPECT_EQ(DecodeIntegerSlot(ftSmallint, slot), -2);
  // A word shares the smallint's two bytes and reads them unsigned.
  EncodeIntegerSlot(ftWord, 65535, slot);
  EXPECT_EQ(DecodeIntegerSlot(ftWord, slot), 65535);
  EXPECT_EQ(DecodeIntegerSlot(ftSmallint, slot), -1);
  EncodeIntegerSlot(ftInteger, std::numeric_limits<int32_t>::min(), slot);
  EXPECT_EQ(DecodeIntegerSlot(ftAutoInc, slot), std::numeric_limits<int32_t>::min());
  EncodeIntegerSlot(ftLargeint, int64_t{1} << 40, slot);
  EXPECT_EQ(DecodeIntegerSlot(ftLargeint, slot), int64_t{1} << 40);
  EXPECT_TRUE(IsIntegerSlotType(ftAutoInc));
  EXPECT_FALSE(IsIntegerSlotType(ftBoolean));
  EXPECT_FALSE(IsIntegerSlotType(ftFloat));
}

// A date-time slot holds whatever bytes were stored (the row fuzzer met
// -7.66e+87); beyond every day number it reads as the nearest one at
// midnight, never through an undefined conversion.
TEST(SlotFormat, DateTimeSlotsBeyondEveryDayNumberReadAsTheNearestOne) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double slot;
    int32_t day;
  } cases[] = {{-7.65776e+87, std::numeric_limits<int32_t>::min()},
               {1e300, std::numeric_limits<int32_t>::max()},
               {-inf, std::numeric_limits<int32_t>::min()},
               {inf, std::numeric_limits<int32_t>::max()},
               {nan, 0}};
  for (const auto& c : cases) {
    int32_t day = 1;
    int32_t milliseconds = 1;
    SplitDateTimeSlot(c.slot, day, milliseconds);
    EXPECT_EQ(day, c.day) << c.slot;
    EXPECT_EQ(milliseconds, 0) << c.slot;
  }
}

TEST(SlotFormat, DateTimeIsDayNumberTimesMillisecondsPerDayPlusTime) {
  const TDateTime when = EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 30, 250);
  const TTimeStamp stamp = DateTimeToTimeStamp(when);
  char slot[8] = {};
  EncodeDateTimeSlot(ftDateTime, when, slot);
  EXPECT_EQ(LoadSlot<double>(slot), static_cast<double>(stamp.date) * 86400000.0 + stamp.time);
  int32_t day = 0;
  int32_t milliseconds = 0;
  SplitDateTimeSlot(LoadSlot<double>(slot), day, milliseconds);
  EXPECT_EQ(day, stamp.date);
  EXPECT_EQ(milliseconds, 49530250);
  EXPECT_NEAR(DecodeDateTimeSlot(ftDateTime, slot), when, 1e-9);

  EncodeDateTimeSlot(ftDate, when, slot);
  EXPECT_EQ(LoadSlot<int32_t>(slot), stamp.date);
  EXPECT_DOUBLE_EQ(DecodeDateTimeSlot(ftDate, slot), EncodeDate(2024, 2, 29));
  EncodeDateTimeSlot(ftTime, when, slot);
  EXPECT_EQ(LoadSlot<int32_t>(slot), 49530250);
  EXPECT_NEAR(DecodeDateTimeSlot(ftTime, slot), EncodeTime(13, 45, 30, 250), 1e-9);
}

TEST(SlotFormat, SplittingANegativeSlotRoundsTheDayDown) {
  int32_t day = 0;
  int32_t milliseconds = 0;
  SplitDateTimeSlot(DateTimeSlotValue(-1, 86399999), day, milliseconds);
  EXPECT_EQ(day, -1);
  EXPECT_EQ(milliseconds, 86399999);
}

TEST(SlotFormat, ScalarEncodingWritesOnlyTheValueBytes) {
  struct Case {
    TFieldType type;
    TVariant value;
  };
  const Case cases[] = {{ftSmallint, TVariant(int64_t{-7})},
                        {ftWord, TVariant(int64_t{7})},
                        {ftBoolean, TVariant(true)},
                        {ftInteger, TVariant(int64_t{9})},
                        {ftAutoInc, TVariant(int64_t{9})},
                        {ftDate, TVariant(int64_t{3})},
                        {ftTime, TVariant(0.5)},
                        {ftLargeint, TVariant(int64_t{-1})},
                        {ftFloat, TVariant(1.5)},
                        {ftCurrency, TVariant(2.25)},
                        {ftDateTime, TVariant(1.25)}};
  for (const Case& c : cases) {
    char slot[16];
    std::memset(slot, 0x5A, sizeof slot);
    ASSERT_TRUE(EncodeScalarSlot(c.type, c.value, slot)) << c.type;
    const int bytes = ScalarValueBytes(c.type);
    ASSERT_GT(bytes, 0) << c.type;
    EXPECT_LE(bytes, FieldValueSize(c.type, 0)) << c.type;
    for (int i = bytes; i < static_cast<int>(sizeof slot); ++i) {
      EXPECT_EQ(slot[i], 0x5A) << c.type << " wrote byte " << i;
    }
  }
  char slot[8] = {};
  EXPECT_FALSE(EncodeScalarSlot(ftString, TVariant(std::string("x")), slot));
  EXPECT_FALSE(EncodeScalarSlot(ftBCD, TVariant(1.0), slot));
  EXPECT_EQ(ScalarValueBytes(ftBlob), 0);
}

TEST(SlotFormat, TextStopsAtTheTerminatorOrTheSlotEnd) {
  const char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(DecodeTextSlot(full, 4), "abcd");
  EXPECT_EQ(DecodeTextSlot("ab\0cd", 5), "ab");
}

}  // namespace
}  // namespace velquarn
