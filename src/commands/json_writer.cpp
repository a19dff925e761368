#include "commands/json_writer.h"

#include <cmath>
#include <cstring>

#include "commands/row_writer.h"
#include "common/cp1252.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "dataset/query.h"

namespace velquarn {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int64_t kMilliSecondsPerDay = 86400000;
// A date-time is moved back by this many calendar years before counting.
constexpr int kYearShift = 1969;

void AppendUtf8(TTextStream& stream, char32_t code_point) {
  char bytes[3];
  if (code_point < 0x80) {
    stream.AppendChar(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
    bytes[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    stream.Write(bytes, 2);
  } else {
    // cp1252 reaches no further than the Basic Multilingual Plane.
    bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
    bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    stream.Write(bytes, 3);
  }
}

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
  if (AppendIntegerSlot(stream, type, data)) return;
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      AppendJsonString(
          stream, std::string_view(data, strnlen(data, static_cast<size_t>(field.DataSize()))));
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
    case ftFloat:
    case ftCurrency: {
      // JSON has no NaN or infinity, yet a float column can hold them
      // (PostgreSQL's float8, SQLite's overflow to infinity): bare, "NAN"
      // would make the whole document unreadable, so they go as their text
      // in a JSON string.
      const double value = LoadSlot<double>(data);
      const bool finite = std::isfinite(value);
      if (!finite) stream.AppendChar('"');
      AppendGeneralFloat(stream, value);
      if (!finite) stream.AppendChar('"');
      break;
    }
    case ftBoolean:
      stream.AppendText(LoadSlot<int16_t>(data) != 0 ? "true" : "false");
      break;
    case ftBCD:
      AppendDecimal4(stream, field.AsString());
      break;
    case ftDate:
    case ftDateTime:
      AppendGeneralFloat(stream, JsonDateMilliseconds(SlotDateTime(type, data), zone));
      break;
    case ftTime:
      AppendGeneralFloat(stream, JsonTimeMilliseconds(SlotDateTime(type, data), zone));
      break;
    default:
      // Types the ODBC driver never produces: their text, as a JSON string
      // so the document stays valid.
      AppendJsonString(stream, field.AsString());
  }
}

}  // namespace

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

void WriteJsonRows(TTextStream& stream, TcsQuery& query, int32_t server_time_zone) {
  stream.AppendText("{ \"rows\": [ ");
  bool first_row = true;
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
  }
  stream.AppendText(" ] }");
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
          AppendUtf8(stream, Cp1252ToCodePoint(byte));
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
  const int64_t days = DateTimeToTimeStamp(moved).date;
  return static_cast<double>(days * kMilliSecondsPerDay + stamp.time);
}

double JsonTimeMilliseconds(TDateTime value, int32_t zone_hours) {
  const double time_of_day = value - std::trunc(value);
  return (time_of_day + zone_hours / 24.0) * 86400 * 1000;
}

}  // namespace velquarn
