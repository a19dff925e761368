#include "client/client_value.h"

#include <cstdio>

#include "common/number_text.h"
#include "common/text.h"

namespace velquarn {

TClientValue TClientValue::OfInteger(int64_t value) {
  TClientValue result;
  result.Kind = TValueKind::kInteger;
  result.Integer = value;
  return result;
}

TClientValue TClientValue::OfFloat(double value) {
  TClientValue result;
  result.Kind = TValueKind::kFloat;
  result.Float = value;
  return result;
}

TClientValue TClientValue::OfDecimal(std::string digits) {
  TClientValue result;
  result.Kind = TValueKind::kDecimal;
  result.Text = std::move(digits);
  return result;
}

TClientValue TClientValue::OfBoolean(bool value) {
  TClientValue result;
  result.Kind = TValueKind::kBoolean;
  result.Boolean = value;
  return result;
}

TClientValue TClientValue::OfText(std::string text) {
  TClientValue result;
  result.Kind = TValueKind::kText;
  result.Text = std::move(text);
  return result;
}

TClientValue TClientValue::OfBytes(std::string bytes) {
  TClientValue result;
  result.Kind = TValueKind::kBytes;
  result.Text = std::move(bytes);
  return result;
}

TClientValue TClientValue::OfTime(TValueKind kind, const TCivilTime& time) {
  TClientValue result;
  result.Kind = kind;
  result.Time = time;
  return result;
}

namespace {

std::string DateText(const TCivilTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.Year, t.Month, t.Day);
  return buffer;
}

std::string TimeText(const TCivilTime& t) {
  char buffer[32];
  if (t.Millisecond != 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", t.Hour, t.Minute, t.Second,
                  t.Millisecond);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
  }
  return buffer;
}

}  // namespace

std::string TClientValue::ToString(const std::string& null_text) const {
  switch (Kind) {
    case TValueKind::kNull:
      return null_text;
    case TValueKind::kInteger:
      return IntToStr(Integer);
    case TValueKind::kFloat:
      return FloatToStr(Float);
    case TValueKind::kDecimal:
    case TValueKind::kText:
      return Text;
    case TValueKind::kBoolean:
      return Boolean ? "true" : "false";
    case TValueKind::kDate:
      return DateText(Time);
    case TValueKind::kTime:
      return TimeText(Time);
    case TValueKind::kDateTime:
      return DateText(Time) + " " + TimeText(Time);
    case TValueKind::kBytes:
      return BytesToHex(Text);
  }
  return {};
}

}  // namespace velquarn
