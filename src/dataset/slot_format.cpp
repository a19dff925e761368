#include "dataset/slot_format.h"

#include <cmath>
#include <limits>

#include "dataset/variant.h"

namespace velquarn {

bool IsIntegerSlotType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
      return true;
    default:
      return false;
  }
}

int64_t DecodeIntegerSlot(TFieldType type, const char* data) {
  switch (type) {
    case ftSmallint:
      return LoadSlot<int16_t>(data);
    case ftWord:
      return LoadSlot<uint16_t>(data);
    case ftLargeint:
      return LoadSlot<int64_t>(data);
    default:
      return LoadSlot<int32_t>(data);
  }
}

void EncodeIntegerSlot(TFieldType type, int64_t value, char* data) {
  switch (type) {
    case ftSmallint:
    case ftWord:
      StoreSlot(data, static_cast<int16_t>(value));
      return;
    case ftLargeint:
      StoreSlot(data, value);
      return;
    default:
      StoreSlot(data, static_cast<int32_t>(value));
      return;
  }
}

void SplitDateTimeSlot(double slot, int32_t& day_number, int32_t& milliseconds) {
  // A slot beyond every day number, or not a number at all, must not reach
  // the conversion to int, which is undefined for it: it reads as the
  // nearest day number at midnight (not a number: day 0). Within the range
  // the remainder stays near [0, one day), well inside an int.
  const double days = std::floor(slot / kMSecsPerDay);
  if (!(days >= std::numeric_limits<int32_t>::min() &&
        days <= std::numeric_limits<int32_t>::max())) {
    day_number = std::isnan(days) ? 0
                 : days < 0       ? std::numeric_limits<int32_t>::min()
                                  : std::numeric_limits<int32_t>::max();
    milliseconds = 0;
    return;
  }
  day_number = static_cast<int32_t>(days);
  milliseconds = static_cast<int32_t>(slot - days * kMSecsPerDay);
}

TDateTime DecodeDateTimeSlot(TFieldType type, const char* data) {
  switch (type) {
    case ftDate:
      return static_cast<TDateTime>(LoadSlot<int32_t>(data)) - kDateDelta;
    case ftTime:
      return LoadSlot<int32_t>(data) / kMSecsPerDay;
    default: {
      TTimeStamp stamp;
      SplitDateTimeSlot(LoadSlot<double>(data), stamp.date, stamp.time);
      return TimeStampToDateTime(stamp);
    }
  }
}

void EncodeDateTimeSlot(TFieldType type, TDateTime value, char* data) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  switch (type) {
    case ftDate:
      StoreSlot(data, stamp.date);
      return;
    case ftTime:
      StoreSlot(data, stamp.time);
      return;
    default:
      StoreSlot(data, DateTimeSlotValue(stamp.date, stamp.time));
      return;
  }
}

int ScalarValueBytes(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return 8;
    default:
      return 0;
  }
}

bool EncodeScalarSlot(TFieldType type, const TVariant& value, char* data) {
  if (IsIntegerSlotType(type)) {
    EncodeIntegerSlot(type, value.AsInteger(), data);
    return true;
  }
  switch (type) {
    case ftBoolean:
      EncodeBooleanSlot(value.AsBoolean(), data);
      return true;
    case ftFloat:
    case ftCurrency:
      EncodeFloatSlot(value.AsFloat(), data);
      return true;
    case ftDate:
    case ftTime:
    case ftDateTime:
      EncodeDateTimeSlot(type, value.AsDateTime(), data);
      return true;
    default:
      return false;
  }
}

}  // namespace velquarn
