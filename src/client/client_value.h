// TClientValue: one typed value of a result row as a client reads it, and the
// column description it is read by. Values are plain data (copyable, no
// shared state); text and byte values hold code page 1252 bytes as the
// server sent them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velquarn {

// What a column holds, from the field-definition document's datatype (and,
// for "double", whether a precision is given).
enum class TColumnKind {
  kText,      // "string": quoted text; also raw bytes or digits (see row_decoder.h)
  kInteger,   // "int16", "int32", "int64"
  kFloat,     // "double" without precision, "currency"
  kDecimal,   // "double" with a precision: fixed-point decimal text
  kBoolean,   // "boolean"
  kDate,      // "date"
  kTime,      // "time"
  kDateTime,  // "datetime"
  kBytes,     // "bytes": raw bytes of exactly Size bytes
  kBlob,      // "blob": hexadecimal text of the bytes
  kMemo,      // "memo": hexadecimal text of the text's bytes
};

struct TColumnDef {
  std::string Name;
  std::string Origin;
  std::string DataType;  // the document's name: "int32", "string", ...
  int Size = 0;
  int Precision = -1;  // -1: none given
  bool Required = false;
  bool ReadOnly = false;
  TColumnKind Kind = TColumnKind::kText;
};

enum class TValueKind {
  kNull,
  kInteger,
  kFloat,
  kDecimal,
  kBoolean,
  kDate,
  kTime,
  kDateTime,
  kText,
  kBytes
};

// A calendar date and a time of day; a date alone has the time 0, a time
// alone the date 0-0-0.
struct TCivilTime {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  friend bool operator==(const TCivilTime&, const TCivilTime&) = default;
};

struct TClientValue {
  TValueKind Kind = TValueKind::kNull;
  int64_t Integer = 0;   // kInteger
  double Float = 0;      // kFloat
  bool Boolean = false;  // kBoolean
  TCivilTime Time;       // kDate, kTime, kDateTime
  std::string Text;      // kText, kBytes (raw bytes), kDecimal (the digits)

  bool IsNull() const { return Kind == TValueKind::kNull; }

  static TClientValue Null() { return {}; }
  static TClientValue OfInteger(int64_t value);
  static TClientValue OfFloat(double value);
  static TClientValue OfDecimal(std::string digits);
  static TClientValue OfBoolean(bool value);
  static TClientValue OfText(std::string text);
  static TClientValue OfBytes(std::string bytes);
  static TClientValue OfTime(TValueKind kind, const TCivilTime& time);

  // Display text: integers and decimals as digits, floats in the server's
  // general float format, booleans "true"/"false", dates "yyyy-mm-dd",
  // times "hh:mm:ss" (".zzz" when there are milliseconds), date-times both
  // with a blank between, text as it is, bytes as upper-case hexadecimal.
  // NULL gives null_text.
  std::string ToString(const std::string& null_text = "NULL") const;

  friend bool operator==(const TClientValue&, const TClientValue&) = default;
};

using TClientRow = std::vector<TClientValue>;

}  // namespace velquarn
