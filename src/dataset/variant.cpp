#include "dataset/variant.h"

#include <cmath>
#include <cstdio>

#include "common/exceptions.h"
#include "common/number_text.h"
#include "common/text.h"

namespace velquarn {

TVariant TVariant::FromDateTime(TDateTime value) {
  TVariant result;
  result.value_ = DateTimeValue{value};
  return result;
}

std::string TVariant::AsString() const {
  switch (VarType()) {
    case vkNull:
      return {};
    case vkBoolean:
      return std::get<bool>(value_) ? "True" : "False";
    case vkInteger:
      return IntToStr(std::get<int64_t>(value_));
    case vkFloat:
      return FloatToStr(std::get<double>(value_));
    case vkDateTime:
      return DateTimeToStr(std::get<DateTimeValue>(value_).value);
    case vkString:
      return std::get<std::string>(value_);
  }
  return {};
}

int64_t TVariant::AsInteger() const {
  switch (VarType()) {
    case vkNull:
      return 0;
    case vkBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case vkInteger:
      return std::get<int64_t>(value_);
    case vkFloat:
      return static_cast<int64_t>(std::llround(std::get<double>(value_)));
    case vkDateTime:
      return static_cast<int64_t>(std::llround(std::get<DateTimeValue>(value_).value));
    case vkString:
      return StrToInt(Trim(std::get<std::string>(value_)));
  }
  return 0;
}

double TVariant::AsFloat() const {
  switch (VarType()) {
    case vkNull:
      return 0;
    case vkBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case vkInteger:
      return static_cast<double>(std::get<int64_t>(value_));
    case vkFloat:
      return std::get<double>(value_);
    case vkDateTime:
      return std::get<DateTimeValue>(value_).value;
    case vkString:
      return StrToFloat(Trim(std::get<std::string>(value_)));
  }
  return 0;
}

TDateTime TVariant::AsDateTime() const {
  if (VarType() == vkDateTime) return std::get<DateTimeValue>(value_).value;
  if (VarType() == vkString) {
    const std::string& text = std::get<std::string>(value_);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    // The ISO forms that DateToStr and DateTimeToStr write under the C locale.
    if (std::sscanf(text.c_str(), "%d-%d-%d%n", &year, &month, &day, &consumed) == 3) {
      TDateTime date = EncodeDate(year, month, day);
      if (std::sscanf(text.c_str() + consumed, " %d:%d:%d", &hour, &minute, &second) == 3) {
        date += EncodeTime(hour, minute, second, 0);
      }
      return date;
    }
    if (std::sscanf(text.c_str(), "%d:%d:%d", &hour, &minute, &second) == 3) {
      return EncodeTime(hour, minute, second, 0);
    }
    throw EConvertError(Format("'%s' is not a valid date and time", text.c_str()));
  }
  return AsFloat();
}

bool TVariant::AsBoolean() const {
  switch (VarType()) {
    case vkNull:
      return false;
    case vkBoolean:
      return std::get<bool>(value_);
    case vkString: {
      const std::string text = Trim(std::get<std::string>(value_));
      if (SameText(text, "True")) return true;
      if (SameText(text, "False")) return false;
      double number = 0;
      if (TryStrToFloat(text, number)) return number != 0;
      throw EConvertError(Format("'%s' is not a valid boolean value", text.c_str()));
    }
    default:
      return AsFloat() != 0;
  }
}

}  // namespace velquarn
