// The in-memory row format: how a value of each field type is stored in a
// record slot and read back. Every writer of slot bytes (fields, parameters,
// the record search, the drivers' fetch) and every reader (fields, the row
// and JSON writers) goes through this unit.
//
// Slot value formats (the null byte before them is the dataset's):
//   ftString, ftFixedChar, ftWideString  size + 1 bytes, cp1252 text,
//                                        zero-terminated (wide columns are
//                                        converted to cp1252 when fetched)
//   ftSmallint, ftWord, ftBoolean        2 bytes;  ftInteger, ftAutoInc 4
//   ftFloat, ftCurrency                  double;   ftLargeint int64
//   ftDate                               int32 day number (0001-01-01 is 1)
//   ftTime                               int32 milliseconds since midnight
//   ftDateTime                           double: day number * kMSecsPerDay
//                                        + milliseconds
//   ftBCD                                34-byte packed decimal (TBcdRecord)
//   ftBytes, ftVarBytes                  size raw bytes
//   blob types                           int32 index into the blob store
//
// Slots need not be aligned for the type they hold. All functions are pure
// and safe from any thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/date_time.h"
#include "dataset/db_types.h"

namespace velquarn {

class TVariant;

// The T stored at a slot.
template <typename T>
T LoadSlot(const char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}
template <typename T>
void StoreSlot(char* data, T value) {
  std::memcpy(data, &value, sizeof value);
}

// Text slots: the text up to its terminator, at most data_size bytes.
inline std::string_view DecodeTextSlot(const char* data, int data_size) {
  return std::string_view(data, strnlen(data, static_cast<size_t>(data_size)));
}

// ftSmallint (int16), ftWord (uint16), ftInteger and ftAutoInc (int32),
// ftLargeint (int64).
bool IsIntegerSlotType(TFieldType type);
// REQUIRES: IsIntegerSlotType(type).
int64_t DecodeIntegerSlot(TFieldType type, const char* data);
// Stores value cut to the type's width (the caller checks the range);
// ftWord is stored as the int16 of the same bits.
void EncodeIntegerSlot(TFieldType type, int64_t value, char* data);

// ftBoolean: int16 1 or 0.
inline bool DecodeBooleanSlot(const char* data) { return LoadSlot<int16_t>(data) != 0; }
inline void EncodeBooleanSlot(bool value, char* data) { StoreSlot<int16_t>(data, value ? 1 : 0); }

// ftFloat and ftCurrency: a double.
inline double DecodeFloatSlot(const char* data) { return LoadSlot<double>(data); }
inline void EncodeFloatSlot(double value, char* data) { StoreSlot(data, value); }

// The ftDateTime slot value of a day number and the milliseconds of the day,
// and back.
inline double DateTimeSlotValue(int32_t day_number, int32_t milliseconds) {
  return static_cast<double>(day_number) * kMSecsPerDay + milliseconds;
}
void SplitDateTimeSlot(double slot, int32_t& day_number, int32_t& milliseconds);
// The TDateTime of an ftDate, ftTime or ftDateTime slot.
TDateTime DecodeDateTimeSlot(TFieldType type, const char* data);
// Stores the part of value that the ftDate, ftTime or ftDateTime slot keeps.
void EncodeDateTimeSlot(TFieldType type, TDateTime value, char* data);

// Blob types: the index of the value in the dataset's blob store (0: none).
inline int32_t DecodeBlobSlot(const char* data) { return LoadSlot<int32_t>(data); }
inline void EncodeBlobSlot(char* data, int32_t index) { StoreSlot(data, index); }

// The number of bytes EncodeScalarSlot writes for the type: 2 for ftSmallint,
// ftWord and ftBoolean, 4 for ftInteger, ftAutoInc, ftDate and ftTime, 8 for
// ftLargeint, ftFloat, ftCurrency and ftDateTime; 0 for any other type.
int ScalarValueBytes(TFieldType type);

// The fixed-width scalar types: the integer types, ftBoolean, ftFloat,
// ftCurrency, ftDate, ftTime and ftDateTime. Writes the value's slot bytes
// and returns true, or returns false (writing nothing) for any other type.
// Raises what the variant's conversion raises.
bool EncodeScalarSlot(TFieldType type, const TVariant& value, char* data);

}  // namespace velquarn
