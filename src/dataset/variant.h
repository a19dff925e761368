// TVariant: the value of a field or parameter when it is read or written as a
// whole: null, a Boolean, an integer, a float, a date-time or a string of
// cp1252 bytes (also used for byte strings). Conversions between the kinds
// raise EConvertError with the system's fixed texts.
// Values are plain data; share them between threads as any std::string.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "common/date_time.h"

namespace velquarn {

class TVariant {
 public:
  enum Kind { vkNull, vkBoolean, vkInteger, vkFloat, vkDateTime, vkString };

  TVariant() = default;  // null
  TVariant(bool value) : value_(value) {}
  TVariant(int value) : value_(static_cast<int64_t>(value)) {}
  TVariant(int64_t value) : value_(value) {}
  TVariant(double value) : value_(value) {}
  TVariant(std::string value) : value_(std::move(value)) {}
  TVariant(const char* value) : value_(std::string(value)) {}
  static TVariant FromDateTime(TDateTime value);
  static TVariant Null() { return TVariant(); }

  Kind VarType() const { return static_cast<Kind>(value_.index()); }
  bool IsNull() const { return VarType() == vkNull; }

  // Null reads as "", 0, 0.0, False; a string converts as text ("True",
  // "False" for Booleans; the general float format; the regional date and
  // time formats for date-times).
  std::string AsString() const;
  int64_t AsInteger() const;  // a float is rounded; EConvertError for bad text
  double AsFloat() const;
  TDateTime AsDateTime() const;  // a number is taken as days
  bool AsBoolean() const;        // "True"/"False" in any case; a number is non-zero

  bool operator==(const TVariant& other) const { return value_ == other.value_; }

 private:
  struct DateTimeValue {
    TDateTime value;
    bool operator==(const DateTimeValue&) const = default;
  };
  std::variant<std::monostate, bool, int64_t, double, DateTimeValue, std::string> value_;
};

}  // namespace velquarn
