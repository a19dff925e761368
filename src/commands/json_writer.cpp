#include "commands/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "commands/row_writer.h"
#include "common/cp1252.h"
#include "common/exceptions.h"
#include "common/number_text.h"
#include "common/text.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "dataset/slot_format.h"

namespace velquarn {

namespace {

// A date-time is moved back by this many calendar years before counting.
constexpr int kYearShift = 1969;

void AppendLengthToken(TTextStream& stream, const TField& field) {
  switch (field.DataType()) {
    case ftString:
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
      if (field.Size() > 0) {
        AppendInteger(stream, field.Size());
        return;
      }
      break;
    default:
      break;
  }
  stream.AppendText("null");
}

void AppendScaleToken(TTextStream& stream, TFieldType type) {
  const bool two = type == ftFloat || type == ftCurrency || type == ftBCD;
  stream.AppendText(two ? "2" : "null");
}

void WriteJsonValue(TTextStream& stream, TcsQuery& query, TField& field, int32_t zone) {
  const TFieldType type = field.DataType();
  const char* data = query.GetFieldDataPtr(field);
  if (data == nullptr) {
    stream.AppendText("\"null\"");
    return;
  }
  if (type == ftFloat || type == ftCurrency) {
    AppendJsonFloat(stream, DecodeFloatSlot(data));
    return;
  }
  if (AppendNumberSlot(stream, field, data)) return;
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      AppendJsonString(stream, DecodeTextSlot(data, field.DataSize()));
      break;
    case ftMemo:
      AppendJsonString(stream, query.BlobView(field));
      break;
    case ftBlob:
      stream.AppendChar('"');
      AppendHex(stream, query.BlobView(field));
      stream.AppendChar('"');
      break;
    case ftBytes:
    case ftVarBytes:
      AppendJsonString(stream, std::string_view(data, static_cast<size_t>(field.DataSize())));
      break;
    case ftBoolean:
      stream.AppendText(DecodeBooleanSlot(data) ? "true" : "false");
      break;
    case ftDate:
    case ftDateTime:
      AppendGeneralFloat(stream, JsonDateMilliseconds(DecodeDateTimeSlot(type, data), zone));
      break;
    case ftTime:
      AppendGeneralFloat(stream, JsonTimeMilliseconds(DecodeDateTimeSlot(type, data), zone));
      break;
    default:
      // Types the ODBC driver never produces: their text, as a JSON string
      // so the document stays valid.
      AppendJsonString(stream, field.AsString());
  }
}

}  // namespace

void AppendJsonFloat(TTextStream& stream, double value) {
  constexpr double kLargestFifteenDigitValue = 1.79769313486231e308;
  if (!std::isfinite(value)) {
    stream.AppendChar('"');
    AppendGeneralFloat(stream, value);
    stream.AppendChar('"');
  } else if (std::fabs(value) > kLargestFifteenDigitValue) {
    char text[kFloatTextBufferSize];
    const auto result = std::to_chars(text, text + sizeof text, value);
    stream.AppendText(std::string_view(text, static_cast<size_t>(result.ptr - text)));
  } else {
    AppendGeneralFloat(stream, value);
  }
}

void WriteJsonColumns(TTextStream& stream, TcsQuery& query) {
  stream.AppendText("{ \"columns\": [ ");
  const int count = query.FieldCount();
  for (int i = 0; i < count; ++i) {
    const TField& field = query.Fields(i);
    if (i > 0) stream.AppendText(", ");
    stream.AppendText("{ \"name\": ");
    AppendJsonString(stream, field.FieldName());
    stream.AppendText(", \"type\": ");
    AppendInteger(stream, JsonTypeCode(field.DataType()));
    stream.AppendText(", \"length\": ");
    AppendLengthToken(stream, field);
    stream.AppendText(", \"scale\": ");
    AppendScaleToken(stream, field.DataType());
    stream.AppendText(" }");
  }
  stream.AppendText(" ] }");
}

size_t WriteJsonRows(TTextStream& stream, TcsQuery& query, int32_t server_time_zone) {
  stream.AppendText("{ \"rows\": [ ");
  bool first_row = true;
  size_t rows = 0;
  const int count = query.FieldCount();
  while (!query.Eof()) {
    stream.AppendText(first_row ? "{ " : ", { ");
    first_row = false;
    for (int i = 0; i < count; ++i) {
      TField& field = query.Fields(i);
      if (i > 0) stream.AppendText(", ");
      AppendJsonString(stream, field.FieldName());
      stream.AppendText(": ");
      WriteJsonValue(stream, query, field, server_time_zone);
    }
    stream.AppendText(" }");
    query.Next();
    ++rows;
  }
  stream.AppendText(" ] }");
  return rows;
}

int JsonTypeCode(TFieldType type) {
  switch (type) {
    case ftBoolean:
      return 2;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
      return 3;
    case ftFloat:
    case ftCurrency:
      return 4;
    case ftDate:
      return 5;
    case ftTime:
      return 6;
    case ftDateTime:
      return 7;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
      return 8;
    default:
      return 1;
  }
}

void AppendJsonString(TTextStream& stream, std::string_view cp1252_text) {
  stream.AppendChar('"');
  size_t plain_start = 0;
  for (size_t i = 0; i < cp1252_text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(cp1252_text[i]);
    // Printable ASCII other than quote and backslash passes as a run.
    if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') continue;
    stream.AppendText(cp1252_text.substr(plain_start, i - plain_start));
    plain_start = i + 1;
    switch (byte) {
      case '"':
        stream.AppendText("\\\"");
        break;
      case '\\':
        stream.AppendText("\\\\");
        break;
      case '\b':
        stream.AppendText("\\b");
        break;
      case '\f':
        stream.AppendText("\\f");
        break;
      case '\n':
        stream.AppendText("\\n");
        break;
      case '\r':
        stream.AppendText("\\r");
        break;
      case '\t':
        stream.AppendText("\\t");
        break;
      default:
        if (byte < 0x20) {
          const char escape[6] = {
              '\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
          stream.Write(escape, sizeof escape);
        } else {
          char bytes[kMaxUtf8Bytes];
          stream.Write(bytes, EncodeUtf8(Cp1252ToCodePoint(byte), bytes));
        }
    }
  }
  stream.AppendText(cp1252_text.substr(plain_start));
  stream.AppendChar('"');
}

double JsonDateMilliseconds(TDateTime value, int32_t zone_hours) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value + zone_hours / 24.0);
  int year = 0;
  int month = 0;
  int day = 0;
  DecodeDate(static_cast<TDateTime>(stamp.date - kDateDelta), year, month, day);
  year -= kYearShift;
  // 29 February of a leap year lands on a common year: take the month's last day.
  if (year >= 1 && month == 2 && day == 29 && !IsLeapYear(year)) day = 28;
  const TDateTime moved = EncodeDate(year, month, day);  // raises for year < 1
  return DateTimeSlotValue(DateTimeToTimeStamp(moved).date, stamp.time);
}

double JsonTimeMilliseconds(TDateTime value, int32_t zone_hours) {
  const double time_of_day = value - std::trunc(value);
  return (time_of_day + zone_hours / 24.0) * 86400 * 1000;
}

}  // namespace velquarn
