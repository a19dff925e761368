#include "commands/row_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/date_time.h"
#include "dataset/field.h"
#include "dataset/query.h"

namespace velquarn {

namespace {

constexpr int kSignificantDigits = 15;
constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr double kMilliSecondsPerDay = 86400000.0;

bool IsNumericType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return true;
    default:
      return false;
  }
}

// The date-time slot holds day number * 86400000 + milliseconds.
void SplitDateTimeSlot(double slot, int32_t& day_number, int32_t& milliseconds) {
  const double days = std::floor(slot / kMilliSecondsPerDay);
  day_number = static_cast<int32_t>(days);
  milliseconds = static_cast<int32_t>(slot - days * kMilliSecondsPerDay);
}

// Columns of dates repeat their values from row to row, so each thread keeps
// the text of the last day it rendered. The regional format is fixed for the
// life of the process.
void AppendDateText(TTextStream& stream, int32_t day_number) {
  struct TLastDate {
    int32_t day_number = 0;
    uint8_t length = 0;
    bool valid = false;
    char text[32];
  };
  thread_local TLastDate last;
  if (!last.valid || last.day_number != day_number) {
    const std::string text = DateToStr(static_cast<TDateTime>(day_number - kDateDelta));
    if (text.size() > sizeof last.text) {
      last.valid = false;
      stream.AppendText(text);
      return;
    }
    std::memcpy(last.text, text.data(), text.size());
    last.length = static_cast<uint8_t>(text.size());
    last.day_number = day_number;
    last.valid = true;
  }
  stream.Write(last.text, last.length);
}

void AppendTimeText(TTextStream& stream, int32_t milliseconds) {
  stream.AppendText(TimeToStr(milliseconds / kMilliSecondsPerDay));
}

}  // namespace

TDateTime SlotDateTime(TFieldType type, const char* data) {
  switch (type) {
    case ftDate:
      return static_cast<TDateTime>(LoadSlot<int32_t>(data) - kDateDelta);
    case ftTime:
      return LoadSlot<int32_t>(data) / kMilliSecondsPerDay;
    default: {
      int32_t day_number = 0;
      int32_t milliseconds = 0;
      SplitDateTimeSlot(LoadSlot<double>(data), day_number, milliseconds);
      TTimeStamp stamp;
      stamp.date = day_number;
      stamp.time = milliseconds;
      return TimeStampToDateTime(stamp);
    }
  }
}

bool AppendIntegerSlot(TTextStream& stream, TFieldType type, const char* data) {
  switch (type) {
    case ftSmallint:
      AppendInteger(stream, LoadSlot<int16_t>(data));
      return true;
    case ftWord:
      AppendInteger(stream, LoadSlot<uint16_t>(data));
      return true;
    case ftInteger:
    case ftAutoInc:
      AppendInteger(stream, LoadSlot<int32_t>(data));
      return true;
    case ftLargeint:
      AppendInteger(stream, LoadSlot<int64_t>(data));
      return true;
    default:
      return false;
  }
}

void WriteRowValue(TTextStream& stream, TcsQuery& query, TField& field) {
  const TFieldType type = field.DataType();
  if (type == ftBlob || type == ftMemo) {
    // A blob's slot holds only its store index; the value is viewed in place.
    if (query.GetFieldDataPtr(field) == nullptr) {
      stream.AppendChar('\xFF');
    } else {
      AppendHex(stream, query.BlobView(field));
    }
    return;
  }
  const char* data = query.GetFieldDataPtr(field);
  if (data == nullptr) {
    if (IsNumericType(type)) {
      stream.AppendChar('0');
    } else {
      stream.AppendChar('\xFF');
    }
    return;
  }
  if (AppendIntegerSlot(stream, type, data)) return;
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      // Wide columns are already cp1252 in the slot (converted at fetch).
      AppendQuoted(stream,
                   std::string_view(data, strnlen(data, static_cast<size_t>(field.DataSize()))));
      break;
    case ftFloat:
    case ftCurrency:
      AppendGeneralFloat(stream, LoadSlot<double>(data));
      break;
    case ftBoolean:
      stream.AppendText(LoadSlot<int16_t>(data) != 0 ? "True" : "False");
      break;
    case ftBCD:
      AppendDecimal4(stream, field.AsString());
      break;
    case ftDate:
      stream.AppendChar('"');
      AppendDateText(stream, LoadSlot<int32_t>(data));
      stream.AppendChar('"');
      break;
    case ftTime:
      stream.AppendChar('"');
      AppendTimeText(stream, LoadSlot<int32_t>(data));
      stream.AppendChar('"');
      break;
    case ftDateTime: {
      int32_t day_number = 0;
      int32_t milliseconds = 0;
      SplitDateTimeSlot(LoadSlot<double>(data), day_number, milliseconds);
      stream.AppendChar('"');
      AppendDateText(stream, day_number);
      // Midnight shows the date alone; milliseconds are not looked at.
      if (milliseconds >= 1000) {
        stream.AppendChar(' ');
        AppendTimeText(stream, milliseconds);
      }
      stream.AppendChar('"');
      break;
    }
    case ftBytes:
    case ftVarBytes:
      stream.Write(data, static_cast<size_t>(field.DataSize()));
      break;
    default:
      stream.AppendText(field.AsString());
  }
}

void WriteRow(TTextStream& stream, TcsQuery& query) {
  const int count = query.FieldCount();
  for (int i = 0; i < count; ++i) {
    if (i > 0) stream.AppendChar(',');
    WriteRowValue(stream, query, query.Fields(i));
  }
  stream.AppendChar('\0');
}

size_t FormatGeneralFloat(double value, char* out) {
  char* p = out;
  if (std::isnan(value)) {
    std::memcpy(out, "NAN", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *p++ = '-';
    std::memcpy(p, "INF", 3);
    return static_cast<size_t>(p - out) + 3;
  }
  if (value == 0) {
    *out = '0';
    return 1;
  }
  // to_chars in scientific form rounds exactly and ignores the locale; the
  // exponent is read after rounding, so 999999999999999.5 becomes 1E15.
  // The shortest form that reads back as the value is tried first (it is
  // much the faster): when it needs at most 15 significant digits, rounding
  // to 15 digits gives the same digits, because the value lies within half
  // a unit in the last place of it, far less than half a unit of the 15th
  // digit (for normal values). Only longer forms are formatted again with
  // 15 digits.
  char sci[40];
  auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* mantissa_end = std::find(sci, result.ptr, 'e');
  const int mantissa_digits =
      static_cast<int>(mantissa_end - sci) - (sci[0] == '-') - (mantissa_end - sci > 2 ? 1 : 0);
  // Subnormal values carry fewer bits, so their shortest form can round
  // differently; they take the long way too.
  if (mantissa_digits > kSignificantDigits ||
      std::fabs(value) < std::numeric_limits<double>::min()) {
    result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific,
                           kSignificantDigits - 1);
  }
  const char* s = sci;
  if (*s == '-') {
    *p++ = '-';
    ++s;
  }
  char digits[kSignificantDigits];
  int count = 0;
  for (; s < result.ptr && *s != 'e'; ++s) {
    if (*s != '.') digits[count++] = *s;
  }
  ++s;  // 'e'
  const bool negative_exponent = *s == '-';
  ++s;  // the exponent's sign is always written
  int exponent = 0;
  std::from_chars(s, result.ptr, exponent);
  if (negative_exponent) exponent = -exponent;
  while (count > 1 && digits[count - 1] == '0') --count;

  if (exponent >= -4 && exponent < kSignificantDigits) {
    if (exponent < 0) {
      *p++ = '0';
      *p++ = '.';
      for (int i = -1; i > exponent; --i) *p++ = '0';
      std::memcpy(p, digits, static_cast<size_t>(count));
      p += count;
    } else if (count <= exponent + 1) {
      std::memcpy(p, digits, static_cast<size_t>(count));
      p += count;
      for (int i = count; i <= exponent; ++i) *p++ = '0';
    } else {
      std::memcpy(p, digits, static_cast<size_t>(exponent + 1));
      p += exponent + 1;
      *p++ = '.';
      std::memcpy(p, digits + exponent + 1, static_cast<size_t>(count - exponent - 1));
      p += count - exponent - 1;
    }
    return static_cast<size_t>(p - out);
  }
  *p++ = digits[0];
  if (count > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, static_cast<size_t>(count - 1));
    p += count - 1;
  }
  *p++ = 'E';
  if (exponent < 0) {
    *p++ = '-';
    exponent = -exponent;
  }
  p = std::to_chars(p, out + kGeneralFloatBufferSize, exponent).ptr;
  return static_cast<size_t>(p - out);
}

void AppendGeneralFloat(TTextStream& stream, double value) {
  char buffer[kGeneralFloatBufferSize];
  stream.Write(buffer, FormatGeneralFloat(value, buffer));
}

void AppendInteger(TTextStream& stream, int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  stream.Write(buffer, static_cast<size_t>(result.ptr - buffer));
}

void AppendDecimal4(TTextStream& stream, std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);

  // Digits of whole and four decimals, rounded on the fifth decimal.
  char digits[80];
  size_t count = 0;
  digits[count++] = '0';  // room for a carry
  for (char c : whole) {
    if (count < sizeof digits - 4) digits[count++] = c;
  }
  if (whole.empty()) digits[count++] = '0';
  for (size_t i = 0; i < 4; ++i) digits[count++] = i < fraction.size() ? fraction[i] : '0';
  if (fraction.size() > 4 && fraction[4] >= '5') {
    size_t i = count;
    while (i-- > 0) {
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
  }
  size_t first = 0;
  while (first + 5 < count && digits[first] == '0') ++first;
  size_t last = count;
  while (last > count - 4 && digits[last - 1] == '0') --last;
  bool zero = true;
  for (size_t i = first; i < last; ++i) zero = zero && digits[i] == '0';
  if (negative && !zero) stream.AppendChar('-');
  stream.Write(digits + first, count - 4 - first);
  if (last > count - 4) {
    stream.AppendChar('.');
    stream.Write(digits + count - 4, last - (count - 4));
  }
}

void AppendQuoted(TTextStream& stream, std::string_view text) {
  stream.AppendChar('"');
  size_t start = 0;
  for (size_t quote = text.find('"'); quote != std::string_view::npos;
       quote = text.find('"', quote + 1)) {
    stream.AppendText(text.substr(start, quote + 1 - start));
    stream.AppendChar('"');
    start = quote + 1;
  }
  stream.AppendText(text.substr(start));
  stream.AppendChar('"');
}

void AppendHex(TTextStream& stream, std::string_view bytes) {
  char chunk[256];
  size_t used = 0;
  for (unsigned char byte : bytes) {
    chunk[used++] = kHexDigits[byte >> 4];
    chunk[used++] = kHexDigits[byte & 0x0F];
    if (used == sizeof chunk) {
      stream.Write(chunk, used);
      used = 0;
    }
  }
  stream.Write(chunk, used);
}

}  // namespace velquarn
