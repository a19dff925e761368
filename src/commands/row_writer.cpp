#include "commands/row_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "common/date_time.h"
#include "common/number_text.h"
#include "common/text.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "dataset/slot_format.h"

namespace velquarn {

namespace {

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
    const std::string text = DateToStr(static_cast<TDateTime>(day_number) - kDateDelta);
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
  stream.AppendText(TimeToStr(milliseconds / kMSecsPerDay));
}

}  // namespace

bool AppendNumberSlot(TTextStream& stream, const TField& field, const char* data) {
  const TFieldType type = field.DataType();
  if (IsIntegerSlotType(type)) {
    AppendInteger(stream, DecodeIntegerSlot(type, data));
    return true;
  }
  switch (type) {
    case ftFloat:
    case ftCurrency:
      AppendGeneralFloat(stream, DecodeFloatSlot(data));
      return true;
    case ftBCD:
      AppendDecimal4(stream, field.AsString());
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
  if (AppendNumberSlot(stream, field, data)) return;
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      // Wide columns are already cp1252 in the slot (converted at fetch).
      AppendQuoted(stream, DecodeTextSlot(data, field.DataSize()));
      break;
    case ftBoolean:
      stream.AppendText(DecodeBooleanSlot(data) ? "True" : "False");
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

void AppendGeneralFloat(TTextStream& stream, double value) {
  char buffer[kFloatTextBufferSize];
  stream.Write(buffer, FormatFloat(value, buffer));
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
